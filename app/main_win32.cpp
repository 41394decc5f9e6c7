// The program on Windows: the same host behind the win32 platform.
#include "app/command_line.h"
#include "app/tarvik_app.h"
#include "common/curl/curl_handle.h"
#include "common/log.h"
#include "common/text_conversion.h"
#include "common/translation.h"
#include "platform/win32/win32_platform.h"

#include <windows.h>

#include <shellapi.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

// The command line as the system splits it, in UTF-8.
std::vector<std::string> Arguments() {
    std::vector<std::string> arguments;
    int count = 0;
    if (LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count)) {
        for (int i = 0; i < count; ++i)
            arguments.push_back(tarvik::NarrowFromWide(wide[i]));
        ::LocalFree(wide);
    }
    return arguments;
}

// The answer to --help or --version: into the output the caller redirected (a script, a build
// step) or else, as the program has no console of its own, in a message box.
void Answer(const std::string& text) {
    const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (out && out != INVALID_HANDLE_VALUE && ::GetFileType(out) != FILE_TYPE_UNKNOWN) {
        DWORD written = 0;
        ::WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    ::MessageBoxW(nullptr, tarvik::WideFromNarrow(text).c_str(), L"Tarvik",
                  MB_OK | MB_ICONINFORMATION | MB_SETFOREGROUND);
}

} // namespace

int main() {
    // DLLs loaded from now on come from the system's folder only, or from the folder of the one
    // being loaded where that is asked for (the web view runtime's): never from the program's own
    // folder, usually Downloads, where a planted DLL would otherwise be taken.
    ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    // The same options as on Linux; --help and --version answer before anything else starts.
    std::vector<std::string> arguments = Arguments();
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    int argc = static_cast<int>(arguments.size());
    const tarvik::CommandLine options = tarvik::TakeOwnOptions(argc, argv.data());
    if (options.help || options.version) {
        Answer(options.help ? tarvik::HelpText() : tarvik::VersionText());
        return 0;
    }
    // The step log goes to the error output the caller redirected (tarvik.exe --verbose 2>log).
    tarvik::log::Enable(options.verbose || tarvik::SwitchIsOn(std::getenv("TARVIK_LOG")));
    // Anything else changes nothing and is never answered in a box: an autostart entry or a
    // vendor's shortcut may pass arguments of its own, and the page must still be shown.
    tarvik::LogIgnoredArguments(argc, argv.data());
    // The transfer library's global state, for the whole run and before any other thread.
    const tarvik::CurlGlobal curl;
    tarvik::platform::win32::Win32Platform platform;
    // The page is the whole user interface: without the system web view there is nothing to
    // show, so the user is told what is missing instead of seeing an empty window.
    if (const std::optional<std::string> missing = tarvik::platform::win32::WebViewUnavailable()) {
        const tarvik::Catalogue texts(platform.desktop.PreferredLanguages());
        const std::wstring text = tarvik::WideFromNarrow(
            std::string(texts.Translate(
                "This program needs the Microsoft Edge WebView2 Runtime to show its window.")) +
            "\n\n" + texts.Translate(missing->c_str()));
        ::MessageBoxW(nullptr, text.c_str(), L"Tarvik", MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
        return 1;
    }
    platform.webView.ShowInspector(options.inspect ||
                                   tarvik::SwitchIsOn(std::getenv("TARVIK_INSPECTOR")));
    tarvik::CTarvikApp app(platform.Roles());
    return app.InitInstance();
}
