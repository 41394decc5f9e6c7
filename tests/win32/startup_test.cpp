// The program itself without the system web view (as under Wine, which has no WebView2 runtime):
// it says so in a real message box and ends with status 1 once the box is closed. Its own
// options are answered before that: in a message box, or into the output a caller redirected;
// any other argument changes nothing and is only named on the step log.
#include <gtest/gtest.h>

#include <windows.h>

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
         "tarvik: command line: \"--b\xC3\xB6gus\" ignored (see tarvik --help)", "", 1},
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

} // namespace
