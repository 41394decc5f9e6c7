// The program itself without the system web view (as under Wine, which has no WebView2 runtime):
// it says so in a real message box and ends with status 1 once the box is closed.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

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
        wchar_t text[1024] = {};
        ::GetWindowTextW(child, text, 1024);
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

TEST(Startup, WithoutTheWebViewRuntimeAMessageBoxSaysSoAndTheStatusIs1) {
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring program = self;
    program = program.substr(0, program.find_last_of(L'\\') + 1) + TARVIK_EXECUTABLE_FROM_TEST;
    std::wstring command = L"\"" + program + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                 nullptr, &startup, &process));
    FoundBox found;
    found.process = process.dwProcessId;
    for (int attempt = 0; attempt < 300 && !found.box; ++attempt) {
        if (::WaitForSingleObject(process.hProcess, 100) == WAIT_OBJECT_0)
            break;
        ::EnumWindows(&FindBox, reinterpret_cast<LPARAM>(&found));
    }
    ASSERT_NE(found.box, nullptr) << "no message box appeared";
    EXPECT_EQ(found.caption, L"Tarvik");
    EXPECT_NE(found.text.find(L"WebView2"), std::wstring::npos);
    ::PostMessageW(found.box, WM_COMMAND, IDOK, 0);
    ASSERT_EQ(::WaitForSingleObject(process.hProcess, 20000), WAIT_OBJECT_0);
    DWORD status = 0;
    ::GetExitCodeProcess(process.hProcess, &status);
    EXPECT_EQ(status, 1u);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
}

} // namespace
