// The program on Windows: the same host behind the win32 platform.
#include "app/command_line.h"
#include "app/tarvik_app.h"
#include "common/curl/curl_handle.h"
#include "common/log.h"
#include "common/text_conversion.h"
#include "platform/win32/win32_platform.h"

#include <windows.h>

#include <cstdlib>

int main() {
    // The step log as on Linux; the command line's own options are not taken here yet (a
    // program without a console has nowhere to print --help to).
    tarvik::log::Enable(tarvik::SwitchIsOn(std::getenv("TARVIK_LOG")));
    // The transfer library's global state, for the whole run and before any other thread.
    const tarvik::CurlGlobal curl;
    tarvik::platform::win32::Win32Platform platform;
    // The page is the whole user interface: without the system web view there is nothing to
    // show, so the user is told what is missing instead of seeing an empty window.
    if (const std::optional<std::string> missing = tarvik::platform::win32::WebViewUnavailable()) {
        const std::wstring text = tarvik::WideFromNarrow(
            "此程序需要 Microsoft Edge WebView2 运行时才能显示界面。\n\n" + *missing);
        ::MessageBoxW(nullptr, text.c_str(), L"Tarvik", MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
        return 1;
    }
    tarvik::CTarvikApp app(platform.Roles());
    return app.InitInstance();
}
