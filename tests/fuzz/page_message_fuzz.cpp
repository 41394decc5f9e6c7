// Feeds arbitrary page messages to a host window on the headless platform. Whatever the page
// sends, the host must neither crash nor let an exception escape.
#include "app/tarvik_dlg.h"
#include "common/curl/curl_handle.h"
#include "common/text_conversion.h"
#include "platform/headless/headless_platform.h"
#include "platform/headless/headless_system.h"

#include <cstddef>
#include <cstdint>
#include <string>

// The transfer library's global state for the whole run, as the program's main holds it.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static const tarvik::CurlGlobal curl;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tarvik::platform::headless::HeadlessPlatform platform;
    // Nothing is listening on port 1, so reports and downloads fail at once; the downloads
    // folder does not exist, so no file is ever written.
    platform.desktop.downloadsFolder = "/nonexistent/tarvik-fuzz";
    tarvik::HostOptions options;
    options.configPath = "/nonexistent/tarvik-fuzz/config.ini";
    options.infoEndpoint = "http://127.0.0.1:1/info";
    options.logEndpoint = "http://127.0.0.1:1/log";
    options.makeInstallId = [] { return std::wstring(L"FUZZ"); };
    tarvik::CTarvikDlg host(platform.Roles(), options);
    platform.window.Create(host);
    platform.webView.CompleteCreation();
    host.OnWebMessage(std::string(reinterpret_cast<const char*>(data), size));
    platform.window.Pump();
    return 0;
}
