// Feeds arbitrary sequences of page messages to one host window on the headless platform.
// Whatever the page sends, in whatever order, the host must neither crash, overflow nor let an
// exception escape.
//
// The input is split at newlines; each line is one page message, and the queue is handled after
// each, as the message loop would. A line "#N rest" sends `rest` N times (N at most
// kMaxRepeats), so that long runs such as a drag with thousands of moves stay within the
// fuzzer's input sizes. A page message that itself holds a newline cannot be expressed; for
// JSON that only matters as white space, where a space does the same.
#include "app/tarvik_dlg.h"
#include "common/curl/curl_handle.h"
#include "common/text_conversion.h"
#include "platform/headless/headless_platform.h"
#include "platform/headless/headless_system.h"

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace {

// Enough for every coordinate step of a drag to overflow 32 bits twice over.
constexpr size_t kMaxRepeats = 1 << 16;

// The message of one line and how often to send it.
std::pair<std::string_view, size_t> ReadLine(std::string_view line) {
    if (line.size() < 2 || line[0] != '#')
        return {line, 1};
    size_t count = 0;
    const auto [end, error] = std::from_chars(line.data() + 1, line.data() + line.size(), count);
    if (error != std::errc() || end == line.data() + line.size() || *end != ' ')
        return {line, 1};
    return {line.substr(static_cast<size_t>(end - line.data()) + 1), std::min(count, kMaxRepeats)};
}

} // namespace

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

    std::string_view input(reinterpret_cast<const char*>(data), size);
    while (true) {
        const size_t newline = input.find('\n');
        const auto [message, count] = ReadLine(input.substr(0, newline));
        for (size_t i = 0; i < count; ++i) {
            host.OnWebMessage(std::string(message));
            platform.window.Pump();
        }
        if (newline == std::string_view::npos)
            break;
        input.remove_prefix(newline + 1);
    }
    return 0;
}
