// Where the program finds the web view runtime: the order of the search over a scripted registry,
// and the real search in the Wine prefix's registry with the stand-in runtime registered there.
#include "platform/win32/runtime_search.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace tarvik::platform::win32 {
namespace {

using Root = RuntimeSources::Root;

const std::wstring kStable = L"{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}";
const std::wstring kBeta = L"{2CD8A007-E189-409D-A2C8-9AF4EF3C72AA}";
const std::wstring kCanary = L"{65C35B14-6C1D-4122-AC46-7148CC9D6497}";
const std::wstring kClientState = L"Software\\Microsoft\\EdgeUpdate\\ClientState\\";

class ScriptedSources final : public RuntimeSources {
public:
    std::map<std::tuple<Root, std::wstring, std::wstring>, std::wstring> registry;
    std::set<std::wstring> files;
    std::map<std::wstring, std::wstring> variables;

    std::optional<std::wstring> RegistryText(Root root, const std::wstring& key,
                                             const std::wstring& value) const override {
        const auto found = registry.find({root, key, value});
        if (found == registry.end())
            return std::nullopt;
        return found->second;
    }
    bool FileExists(const std::wstring& path) const override { return files.count(path) > 0; }
    std::optional<std::wstring> Variable(const std::wstring& name) const override {
        const auto found = variables.find(name);
        if (found == variables.end())
            return std::nullopt;
        return found->second;
    }
};

std::wstring Library(const std::wstring& folder) {
    return folder + L"\\EBWebView\\x64\\EmbeddedBrowserWebView.dll";
}

TEST(RuntimeSearch, FollowsTheChannelsAndRootsAndSkipsWhatCannotRun) {
    const std::wstring machine = L"C:\\Program Files (x86)\\Microsoft\\EdgeWebView\\Application";
    const std::wstring user =
        L"C:\\Users\\ana\\AppData\\Local\\Microsoft\\EdgeWebView\\Application";
    struct Registered {
        Root root;
        std::wstring channel;
        std::wstring folder;
        bool dllThere;
    };
    struct Case {
        const char* name;
        std::vector<Registered> registered;
        std::map<std::wstring, std::wstring> variables;
        std::vector<std::wstring> moreFiles;
        std::optional<FoundRuntime> expected;
    };
    const std::wstring fixed = L"D:\\Vendor\\Runtime";
    const std::vector<Case> cases = {
        {"nothing installed", {}, {}, {}, std::nullopt},
        {"per user only",
         {{Root::User, kStable, user + L"\\120.0.2210.91", true}},
         {},
         {},
         FoundRuntime{Library(user + L"\\120.0.2210.91"), 0}},
        {"machine-wide wins over per user",
         {{Root::User, kStable, user + L"\\121.0.1.0", true},
          {Root::Machine, kStable, machine + L"\\120.0.2210.91", true}},
         {},
         {},
         FoundRuntime{Library(machine + L"\\120.0.2210.91"), 0}},
        {"a missing DLL goes on to the next registration",
         {{Root::Machine, kStable, machine + L"\\120.0.2210.91", false},
          {Root::User, kStable, user + L"\\119.0.2151.58", true}},
         {},
         {},
         FoundRuntime{Library(user + L"\\119.0.2151.58"), 0}},
        {"stable before Beta before Canary",
         {{Root::Machine, kCanary, machine + L"\\123.0.1.0", true},
          {Root::User, kBeta, user + L"\\122.0.1.0", true},
          {Root::User, kStable, user + L"\\120.0.2210.91", true}},
         {},
         {},
         FoundRuntime{Library(user + L"\\120.0.2210.91"), 0}},
        {"a preview channel when stable is missing",
         {{Root::Machine, kStable, machine + L"\\120.0.2210.91", false},
          {Root::User, kBeta, user + L"\\122.0.1.0", true}},
         {},
         {},
         FoundRuntime{Library(user + L"\\122.0.1.0"), 0}},
        {"too old a version is skipped",
         {{Root::Machine, kStable, machine + L"\\86.0.615.99", true},
          {Root::User, kStable, user + L"\\86.0.616.0", true}},
         {},
         {},
         FoundRuntime{Library(user + L"\\86.0.616.0"), 0}},
        {"only a too old version",
         {{Root::Machine, kStable, machine + L"\\85.0.564.70", true}},
         {},
         {},
         std::nullopt},
        {"a folder that names no version",
         {{Root::Machine, kStable, machine + L"\\current", true},
          {Root::Machine, kStable + L"x", machine + L"\\120.0.1.0", true}},
         {},
         {},
         std::nullopt},
        {"a version of three parts or with a letter",
         {{Root::Machine, kStable, machine + L"\\120.0.2210", true},
          {Root::User, kStable, user + L"\\120.0.2210.9a", true}},
         {},
         {},
         std::nullopt},
        {"a trailing backslash",
         {{Root::Machine, kStable, machine + L"\\120.0.2210.91\\", true}},
         {},
         {},
         FoundRuntime{Library(machine + L"\\120.0.2210.91"), 0}},
        {"an empty registration",
         {{Root::Machine, kStable, L"", true}, {Root::User, kStable, user + L"\\120.0.1.0", true}},
         {},
         {},
         FoundRuntime{Library(user + L"\\120.0.1.0"), 0}},
        {"the vendor's fixed runtime comes first",
         {{Root::Machine, kStable, machine + L"\\120.0.2210.91", true}},
         {{L"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER", fixed + L"\\"}},
         {Library(fixed)},
         FoundRuntime{Library(fixed), 1}},
        {"a fixed runtime that is not there is not replaced by another",
         {{Root::Machine, kStable, machine + L"\\120.0.2210.91", true}},
         {{L"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER", fixed}},
         {},
         std::nullopt},
        {"an empty variable names nothing",
         {{Root::Machine, kStable, machine + L"\\120.0.2210.91", true}},
         {{L"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER", L""}},
         {},
         FoundRuntime{Library(machine + L"\\120.0.2210.91"), 0}},
    };
    for (const Case& c : cases) {
        ScriptedSources sources;
        for (const Registered& registered : c.registered) {
            sources.registry[{registered.root, kClientState + registered.channel, L"EBWebView"}] =
                registered.folder;
            std::wstring folder = registered.folder;
            while (!folder.empty() && folder.back() == L'\\')
                folder.pop_back();
            if (registered.dllThere)
                sources.files.insert(Library(folder));
        }
        sources.variables = c.variables;
        for (const std::wstring& file : c.moreFiles)
            sources.files.insert(file);
        const std::optional<FoundRuntime> found = FindRuntime(sources);
        EXPECT_EQ(found.has_value(), c.expected.has_value()) << c.name;
        if (found && c.expected) {
            EXPECT_EQ(found->library, c.expected->library) << c.name;
            EXPECT_EQ(found->runtimeType, c.expected->runtimeType) << c.name;
        }
    }
}

// The stand-in runtime's versioned folder, beside the tests.
std::wstring StandInFolder() {
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::filesystem::path folder =
        std::filesystem::path(self).parent_path() / TARVIK_STAND_IN_FROM_TEST;
    return std::filesystem::weakly_canonical(folder).wstring();
}

// Registers `folder` for the stable channel under `root` in the registry's 32-bit view, as the
// runtime's updater does (`reg add ... /reg:32`), and removes the registration when it goes.
class Registration {
public:
    Registration(HKEY root, const std::wstring& folder) : root_(root) {
        HKEY key = nullptr;
        EXPECT_EQ(::RegCreateKeyExW(root_, (kClientState + kStable).c_str(), 0, nullptr, 0,
                                    KEY_SET_VALUE | KEY_WOW64_32KEY, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        if (key) {
            ::RegSetValueExW(key, L"EBWebView", 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(folder.c_str()),
                             static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
            ::RegCloseKey(key);
        }
    }
    ~Registration() {
        ::RegDeleteKeyExW(root_, (kClientState + kStable).c_str(), KEY_WOW64_32KEY, 0);
    }
    Registration(const Registration&) = delete;
    Registration& operator=(const Registration&) = delete;

private:
    HKEY root_;
};

TEST(RuntimeSearch, FindsTheStandInRegisteredInThisPrefixsRegistry) {
    ::SetEnvironmentVariableW(L"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER", nullptr);
    const std::wstring folder = StandInFolder();
    ASSERT_TRUE(std::filesystem::exists(Library(folder))) << std::filesystem::path(folder);
    EXPECT_EQ(FindRuntime(SystemRuntimeSources()), std::nullopt);
    {
        const Registration user(HKEY_CURRENT_USER, folder);
        EXPECT_EQ(FindRuntime(SystemRuntimeSources()), (FoundRuntime{Library(folder), 0}));
        // A machine-wide registration whose DLL is missing is passed over for the user's.
        const Registration machine(HKEY_LOCAL_MACHINE, folder + L"x\\122.0.1.0");
        EXPECT_EQ(FindRuntime(SystemRuntimeSources()), (FoundRuntime{Library(folder), 0}));
    }
    // Machine-wide, the 64-bit view is not where the updater writes: nothing is found there.
    // (Per user the two views are one.)
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, (kClientState + kStable).c_str(), 0, nullptr, 0,
                                KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ::RegSetValueExW(key, L"EBWebView", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                     static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
    ::RegCloseKey(key);
    EXPECT_EQ(FindRuntime(SystemRuntimeSources()), std::nullopt);
    ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, (kClientState + kStable).c_str(), KEY_WOW64_64KEY, 0);
    // The vendor's fixed runtime, named by the variable.
    ::SetEnvironmentVariableW(L"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER", folder.c_str());
    EXPECT_EQ(FindRuntime(SystemRuntimeSources()), (FoundRuntime{Library(folder), 1}));
    ::SetEnvironmentVariableW(L"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER", nullptr);
}

} // namespace
} // namespace tarvik::platform::win32
