// The program itself without the system web view (as under Wine, which has no WebView2 runtime):
// it says so in a real message box and ends with status 1 once the box is closed. Its own
// options are answered before that: in a message box, or into the output a caller redirected;
// any other argument changes nothing and is only named on the step log. And with the stand-in
// runtime registered in the prefix as an installed runtime is: the program finds it by itself,
// with no DLL beside it, and opens its window.
#include <gtest/gtest.h>

#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct FoundBox {
    DWORD process = 0;
    HWND box = nullptr;
    std::wstring caption;
    std::wstring text;
};

BOOL CALLBACK ReadStatic(HWND child, LPARAM found) {
    wchar_t className[32] = {};
    ::GetClassNameW(child, className, 32);
    if (std::wstring(className) == L"Static") {
        wchar_t text[2048] = {};
        ::GetWindowTextW(child, text, 2048);
        reinterpret_cast<FoundBox*>(found)->text += text;
    }
    return TRUE;
}

BOOL CALLBACK FindBox(HWND hwnd, LPARAM found) {
    auto* box = reinterpret_cast<FoundBox*>(found);
    DWORD process = 0;
    ::GetWindowThreadProcessId(hwnd, &process);
    wchar_t className[32] = {};
    ::GetClassNameW(hwnd, className, 32);
    if (process != box->process || std::wstring(className) != L"#32770" || !::IsWindowVisible(hwnd))
        return TRUE;
    box->box = hwnd;
    wchar_t caption[256] = {};
    ::GetWindowTextW(hwnd, caption, 256);
    box->caption = caption;
    ::EnumChildWindows(hwnd, &ReadStatic, found);
    return FALSE;
}

struct Outcome {
    bool boxShown = false;
    std::wstring caption;
    std::wstring text;  // of the box
    std::string output; // what went into the redirected output
    DWORD status = 0;
};

std::wstring Beside(const std::wstring& name) {
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::wstring path = self;
    return path.substr(0, path.find_last_of(L'\\') + 1) + name;
}

// Runs the program with `arguments`, closing the first message box it shows. Its standard
// output and error go to a file when `redirect` is set, and nowhere otherwise.
Outcome RunProgram(const std::wstring& arguments, bool redirect) {
    Outcome run;
    std::wstring command = L"\"" + Beside(TARVIK_EXECUTABLE_FROM_TEST) + L"\" " + arguments;
    const std::wstring outputPath = Beside(L"startup_test_output.txt");
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE output = redirect
                        ? ::CreateFileW(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                        &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)
                        : nullptr;
    EXPECT_NE(output, INVALID_HANDLE_VALUE);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output;
    startup.hStdError = output;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, redirect, 0, nullptr, nullptr,
                          &startup, &process)) {
        ADD_FAILURE() << "the program did not start";
        return run;
    }
    FoundBox found;
    found.process = process.dwProcessId;
    for (int attempt = 0; attempt < 300 && !found.box; ++attempt) {
        if (::WaitForSingleObject(process.hProcess, 100) == WAIT_OBJECT_0)
            break;
        ::EnumWindows(&FindBox, reinterpret_cast<LPARAM>(&found));
    }
    if (found.box) {
        run.boxShown = true;
        run.caption = found.caption;
        run.text = found.text;
        ::PostMessageW(found.box, WM_COMMAND, IDOK, 0);
    }
    EXPECT_EQ(::WaitForSingleObject(process.hProcess, 20000), WAIT_OBJECT_0) << "still running";
    ::GetExitCodeProcess(process.hProcess, &run.status);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    if (output) {
        ::CloseHandle(output);
        std::ifstream in(std::filesystem::path(outputPath), std::ios::binary);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        run.output = bytes.str();
        ::DeleteFileW(outputPath.c_str());
    }
    return run;
}

TEST(Startup, AnswersItsCommandLineAndWithoutTheWebViewRuntimeSaysSo) {
    struct Case {
        const char* name;
        const wchar_t* arguments;
        bool redirect;
        bool boxShown;
        const wchar_t* inBox;  // a piece of the box's text
        const char* inOutput;  // a piece of the redirected output
        const char* notOutput; // what the redirected output must not hold ("" for nothing)
        DWORD status;
    };
    const std::vector<Case> cases = {
        {"no arguments", L"", false, true, L"WebView2", "", "", 1},
        {"--verbose --inspect", L"--verbose --inspect", false, true, L"WebView2", "", "", 1},
        {"--version", L"--version", false, true, L"service origin: http", "", "", 0},
        {"--help", L"--help", false, true, L"Usage: tarvik [--verbose] [--inspect]", "", "", 0},
        {"--version, redirected", L"--version", true, false, L"", "tarvik ", "", 0},
        {"--help, redirected", L"--help", true, false, L"", "(such as /autostart) is ignored", "",
         0},
        {"--version and more, redirected", L"--version extra", true, false, L"", "tarvik ", "", 0},
        // Arguments the program has no use for change nothing: it goes on to start (here, to
        // say that the web view runtime is missing) and never answers them in a box.
        {"autostart", L"/autostart", false, true, L"WebView2", "", "", 1},
        {"autostart in capitals, logged", L"--verbose /AUTOSTART", true, true, L"WebView2", "",
         "AUTOSTART", 1},
        // Not plain ASCII: the argument travels as UTF-16, UTF-8 and back into the log.
        {"an unknown option", L"--b\u00f6gus", false, true, L"WebView2", "", "", 1},
        {"an unknown option, logged", L"--verbose --b\u00f6gus", true, true, L"WebView2",
         "ms] command line: \"--b\xC3\xB6gus\" ignored (see tarvik --help)", "", 1},
        {"an unknown argument, redirected without the log", L"extra", true, true, L"WebView2", "",
         "extra", 1},
    };
    for (const Case& c : cases) {
        const Outcome run = RunProgram(c.arguments, c.redirect);
        const std::string name = c.name;
        EXPECT_EQ(run.boxShown, c.boxShown) << name;
        if (c.boxShown) {
            EXPECT_EQ(run.caption, L"Tarvik") << name;
            EXPECT_NE(run.text.find(c.inBox), std::wstring::npos) << name;
        }
        EXPECT_NE(run.output.find(c.inOutput), std::string::npos) << name << ": " << run.output;
        if (*c.notOutput) {
            EXPECT_EQ(run.output.find(c.notOutput), std::string::npos)
                << name << ": " << run.output;
        }
        if (!c.redirect) {
            EXPECT_EQ(run.output, "") << name;
        }
        EXPECT_EQ(run.status, c.status) << name;
    }
}

struct ProcessWindow {
    DWORD process = 0;
    HWND window = nullptr;
    bool box = false;
};

BOOL CALLBACK FindProcessWindow(HWND hwnd, LPARAM found) {
    auto* search = reinterpret_cast<ProcessWindow*>(found);
    DWORD process = 0;
    ::GetWindowThreadProcessId(hwnd, &process);
    if (process != search->process)
        return TRUE;
    wchar_t className[64] = {};
    ::GetClassNameW(hwnd, className, 64);
    if (std::wstring(className) == L"#32770" && ::IsWindowVisible(hwnd))
        search->box = true;
    if (std::wstring(className) == L"TarvikHostWindow")
        search->window = hwnd;
    return TRUE;
}

std::wstring ReadRecords(const std::wstring& path) {
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    const std::string raw = bytes.str();
    std::wstring text(raw.size() / sizeof(wchar_t), L'\0');
    std::memcpy(text.data(), raw.data(), text.size() * sizeof(wchar_t));
    return text;
}

TEST(Startup, FindsTheRegisteredRuntimeWithNoDllBesideIt) {
    const std::filesystem::path program = Beside(TARVIK_EXECUTABLE_FROM_TEST);
    for (const auto& entry : std::filesystem::directory_iterator(program.parent_path()))
        EXPECT_NE(entry.path().extension(), ".dll") << entry.path().string();
    const std::wstring folder =
        std::filesystem::weakly_canonical(Beside(TARVIK_STAND_IN_FROM_TEST)).wstring();
    // Where the runtime's updater registers an installed runtime, per user, in the 32-bit view.
    const std::wstring key =
        L"Software\\Microsoft\\EdgeUpdate\\ClientState\\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}";
    HKEY opened = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0,
                                KEY_SET_VALUE | KEY_WOW64_32KEY, nullptr, &opened, nullptr),
              ERROR_SUCCESS);
    ::RegSetValueExW(opened, L"EBWebView", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                     static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
    ::RegCloseKey(opened);
    const std::wstring records = Beside(L"stand_in_records.txt");
    ::DeleteFileW(records.c_str());
    ::SetEnvironmentVariableW(L"TARVIK_STAND_IN_RECORDS", records.c_str());

    std::wstring command = L"\"" + program.wstring() + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                 nullptr, &startup, &process));
    ProcessWindow found;
    found.process = process.dwProcessId;
    // Until the web view's controller was asked for, in the program's window.
    for (int attempt = 0; attempt < 300; ++attempt) {
        found.window = nullptr;
        ::EnumWindows(&FindProcessWindow, reinterpret_cast<LPARAM>(&found));
        if (found.box ||
            (found.window && ReadRecords(records).find(L"controller\n") != std::wstring::npos))
            break;
        if (::WaitForSingleObject(process.hProcess, 100) == WAIT_OBJECT_0)
            break;
    }
    EXPECT_FALSE(found.box) << "the program said the runtime is missing";
    ASSERT_NE(found.window, nullptr) << "no window";
    ::PostMessageW(found.window, WM_CLOSE, 0, 0);
    EXPECT_EQ(::WaitForSingleObject(process.hProcess, 20000), WAIT_OBJECT_0) << "still running";
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    ::SetEnvironmentVariableW(L"TARVIK_STAND_IN_RECORDS", nullptr);
    ::RegDeleteKeyExW(HKEY_CURRENT_USER, key.c_str(), KEY_WOW64_32KEY, 0);

    PWSTR local = nullptr;
    ::SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_DEFAULT, nullptr, &local);
    const std::wstring userData = std::wstring(local ? local : L"") + L"\\Tarvik\\WebView2";
    ::CoTaskMemFree(local);
    const std::wstring seen = ReadRecords(records);
    // An installed runtime (type 0), joined if already running, the user's data in its place.
    EXPECT_EQ(seen.substr(0, seen.find(L'\n')), L"environment 1 0 " + userData);
    EXPECT_NE(seen.find(L"\ncontroller\n"), std::wstring::npos);
    ::DeleteFileW(records.c_str());
}

} // namespace
