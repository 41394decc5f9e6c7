#pragma once

#include <optional>
#include <string>

namespace tarvik::platform::win32 {

// Where the system web view's runtime lives, found as its own redistributed loader finds it, so
// that the program needs no loader DLL beside it (one file to ship, and no DLL taken from the
// folder the program was downloaded to).
//
// A fixed-version runtime that the vendor ships, named by the WEBVIEW2_BROWSER_EXECUTABLE_FOLDER
// variable, is the only one looked at when the variable is set: the vendor chose that runtime,
// and silently taking another would hide a packaging mistake. Otherwise each release channel in
// turn (stable, Beta, Dev, Canary), machine-wide before per user: the runtime's updater records
// the versioned folder of each installed channel as the value "EBWebView" of
// Software\Microsoft\EdgeUpdate\ClientState\{channel} in the registry's 32-bit view. A version
// below 86.0.616.0 (older runtimes lack the interfaces this program uses), an unreadable version
// or a registration whose DLL is missing goes on to the next candidate.
//
// The library found is <folder>\EBWebView\<architecture>\EmbeddedBrowserWebView.dll.

// What the search reads, so that its order can be tested without a registry.
class RuntimeSources {
public:
    enum class Root { Machine, User };
    virtual ~RuntimeSources() = default;
    // A text value in the registry's 32-bit view; nothing when the key or value is missing or
    // not a text.
    virtual std::optional<std::wstring> RegistryText(Root root, const std::wstring& key,
                                                     const std::wstring& value) const = 0;
    virtual bool FileExists(const std::wstring& path) const = 0;
    // An environment variable; nothing when unset.
    virtual std::optional<std::wstring> Variable(const std::wstring& name) const = 0;
};

struct FoundRuntime {
    std::wstring library;
    // What the runtime's entry point is told: 0 an installed runtime, 1 a fixed version.
    int runtimeType = 0;

    bool operator==(const FoundRuntime&) const = default;
};

std::optional<FoundRuntime> FindRuntime(const RuntimeSources& sources);

// The registry, the file system and the environment of this process.
const RuntimeSources& SystemRuntimeSources();

} // namespace tarvik::platform::win32
