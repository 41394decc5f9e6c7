#include "platform/win32/runtime_search.h"

#include <windows.h>

#include <array>
#include <cwchar>
#include <cwctype>

namespace tarvik::platform::win32 {
namespace {

// The runtime's release channels, most stable first.
constexpr std::array<const wchar_t*, 4> kChannels = {
    L"{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}", // stable
    L"{2CD8A007-E189-409D-A2C8-9AF4EF3C72AA}", // Beta
    L"{0D50BFEC-CD6A-4F9A-964C-C7416E3ACB10}", // Dev
    L"{65C35B14-6C1D-4122-AC46-7148CC9D6497}", // Canary
};
constexpr wchar_t kClientState[] = L"Software\\Microsoft\\EdgeUpdate\\ClientState\\";
constexpr wchar_t kFolderValue[] = L"EBWebView";
constexpr wchar_t kFixedFolderVariable[] = L"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER";

#if defined(__aarch64__) || defined(_M_ARM64)
constexpr wchar_t kArchitecture[] = L"arm64";
#elif defined(__x86_64__) || defined(_M_X64)
constexpr wchar_t kArchitecture[] = L"x64";
#else
constexpr wchar_t kArchitecture[] = L"x86";
#endif

// The oldest runtime with the interfaces the host uses.
constexpr std::array<unsigned long, 4> kOldest = {86, 0, 616, 0};

std::wstring WithoutTrailingSeparators(std::wstring path) {
    while (!path.empty() && (path.back() == L'\\' || path.back() == L'/'))
        path.pop_back();
    return path;
}

std::wstring LibraryIn(const std::wstring& folder) {
    return WithoutTrailingSeparators(folder) + L"\\EBWebView\\" + kArchitecture +
           L"\\EmbeddedBrowserWebView.dll";
}

// The four numbers of a folder named like "120.0.2210.91"; nothing for any other name.
std::optional<std::array<unsigned long, 4>> VersionOf(const std::wstring& folder) {
    const std::wstring path = WithoutTrailingSeparators(folder);
    const size_t slash = path.find_last_of(L"\\/");
    const std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    std::array<unsigned long, 4> version{};
    size_t at = 0;
    for (size_t part = 0; part < version.size(); ++part) {
        if (part > 0) {
            if (at >= name.size() || name[at] != L'.')
                return std::nullopt;
            ++at;
        }
        const size_t start = at;
        unsigned long value = 0;
        while (at < name.size() && std::iswdigit(name[at]) && at - start < 9)
            value = value * 10 + static_cast<unsigned long>(name[at++] - L'0');
        if (at == start || (at < name.size() && std::iswdigit(name[at])))
            return std::nullopt;
        version[part] = value;
    }
    if (at != name.size())
        return std::nullopt;
    return version;
}

class SystemSources final : public RuntimeSources {
public:
    std::optional<std::wstring> RegistryText(Root root, const std::wstring& key,
                                             const std::wstring& value) const override {
        HKEY opened = nullptr;
        if (::RegOpenKeyExW(root == Root::Machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER,
                            key.c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY,
                            &opened) != ERROR_SUCCESS)
            return std::nullopt;
        std::optional<std::wstring> text;
        DWORD bytes = 0;
        if (::RegGetValueW(opened, nullptr, value.c_str(), RRF_RT_REG_SZ, nullptr, nullptr,
                           &bytes) == ERROR_SUCCESS &&
            bytes >= sizeof(wchar_t)) {
            std::wstring read(bytes / sizeof(wchar_t), L'\0');
            if (::RegGetValueW(opened, nullptr, value.c_str(), RRF_RT_REG_SZ, nullptr, read.data(),
                               &bytes) == ERROR_SUCCESS) {
                read.resize(std::wcslen(read.c_str()));
                text = std::move(read);
            }
        }
        ::RegCloseKey(opened);
        return text;
    }
    bool FileExists(const std::wstring& path) const override {
        const DWORD attributes = ::GetFileAttributesW(path.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
    }
    std::optional<std::wstring> Variable(const std::wstring& name) const override {
        const DWORD size = ::GetEnvironmentVariableW(name.c_str(), nullptr, 0);
        if (size == 0)
            return std::nullopt;
        std::wstring text(size, L'\0');
        text.resize(::GetEnvironmentVariableW(name.c_str(), text.data(), size));
        return text;
    }
};

} // namespace

std::optional<FoundRuntime> FindRuntime(const RuntimeSources& sources) {
    if (const std::optional<std::wstring> fixed = sources.Variable(kFixedFolderVariable);
        fixed && !fixed->empty()) {
        const std::wstring library = LibraryIn(*fixed);
        if (sources.FileExists(library))
            return FoundRuntime{library, 1};
        return std::nullopt;
    }
    for (const wchar_t* channel : kChannels) {
        for (const RuntimeSources::Root root :
             {RuntimeSources::Root::Machine, RuntimeSources::Root::User}) {
            const std::optional<std::wstring> folder =
                sources.RegistryText(root, std::wstring(kClientState) + channel, kFolderValue);
            if (!folder || folder->empty())
                continue;
            const auto version = VersionOf(*folder);
            if (!version || *version < kOldest)
                continue;
            const std::wstring library = LibraryIn(*folder);
            if (sources.FileExists(library))
                return FoundRuntime{library, 0};
        }
    }
    return std::nullopt;
}

const RuntimeSources& SystemRuntimeSources() {
    static const SystemSources sources;
    return sources;
}

} // namespace tarvik::platform::win32
