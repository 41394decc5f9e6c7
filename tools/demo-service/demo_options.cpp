#include "tools/demo-service/demo_options.h"

#include <charconv>
#include <stdexcept>
#include <string_view>

namespace tarvik::demo {
namespace {

uint64_t ParseCount(std::string_view option, std::string_view text) {
    uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        throw std::invalid_argument(std::string(option) + " needs a whole number, got '" +
                                    std::string(text) + "'");
    return value;
}

} // namespace

const char* DemoUsage() {
    return "usage: tarvik-demo-service --page-dir DIR [options]\n"
           "  --port N                 port on 127.0.0.1 (default 47810, 0 = any free port)\n"
           "  --page-dir DIR           folder served under /page/\n"
           "  --rate BYTES_PER_SEC     speed of /files/ downloads (default 524288, 0 = unlimited)\n"
           "  --installer-size BYTES   size of the demo installer (default 4194304)\n"
           "  --downloader-id ID       the product id that /downloader.php/index/info knows "
           "(default 1001)\n"
           "  --product-name NAME      the product name it answers (default \"Tarvik Demo\")\n"
           "  --events-file FILE       also append each reported event to FILE as a JSON line\n";
}

DemoOptions ParseDemoOptions(int argc, const char* const argv[]) {
    DemoOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        if (option == "--help" || option == "-h") {
            options.showHelp = true;
            continue;
        }
        if (i + 1 >= argc)
            throw std::invalid_argument("unknown option or missing value: " + std::string(option));
        const std::string_view value = argv[++i];
        if (option == "--port") {
            const uint64_t port = ParseCount(option, value);
            if (port > 65535)
                throw std::invalid_argument("--port must be at most 65535");
            options.port = static_cast<int>(port);
        } else if (option == "--page-dir") {
            options.pageDir = value;
        } else if (option == "--rate") {
            options.rateBytesPerSecond = ParseCount(option, value);
        } else if (option == "--installer-size") {
            options.installerSize = ParseCount(option, value);
        } else if (option == "--downloader-id") {
            options.downloaderId = value;
        } else if (option == "--product-name") {
            options.productName = value;
        } else if (option == "--events-file") {
            options.eventsFile = value;
        } else {
            throw std::invalid_argument("unknown option: " + std::string(option));
        }
    }
    if (!options.showHelp && options.pageDir.empty())
        throw std::invalid_argument("--page-dir is required");
    return options;
}

} // namespace tarvik::demo
