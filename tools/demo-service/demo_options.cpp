#include "tools/demo-service/demo_options.h"

#include <cctype>
#include <charconv>
#include <limits>
#include <stdexcept>
#include <string_view>

namespace tarvik::demo {
namespace {

uint64_t ParseCount(std::string_view option, std::string_view text) {
    uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty())
        throw std::invalid_argument(std::string(option) + " needs a whole number, got '" +
                                    std::string(text) + "'");
    return value;
}

} // namespace

uint64_t ParseByteCount(const std::string& option, const std::string& text) {
    std::string_view digits = text;
    unsigned shift = 0;
    if (!digits.empty()) {
        switch (std::toupper(static_cast<unsigned char>(digits.back()))) {
        case 'K':
            shift = 10;
            break;
        case 'M':
            shift = 20;
            break;
        case 'G':
            shift = 30;
            break;
        default:
            break;
        }
        if (shift != 0)
            digits.remove_suffix(1);
    }
    const uint64_t value = ParseCount(option, digits);
    if (value > (std::numeric_limits<uint64_t>::max() >> shift))
        throw std::invalid_argument(option + " is too large: '" + text + "'");
    return value << shift;
}

const char* DemoUsage() {
    return "usage: tarvik-demo-service --page-dir DIR [options]\n"
           "  --port N                 port on 127.0.0.1 (default 47810, 0 = any free port)\n"
           "  --page-dir DIR           folder served under /page/\n"
           "  --downloader-id ID       the product id that /downloader.php/index/info knows "
           "(default 1001)\n"
           "  --product-name NAME      the product name it answers (default \"Tarvik Demo\")\n"
           "  --events-file FILE       also append each reported event to FILE as a JSON line\n"
           "The installer (/files/NAME, the address the page downloads):\n"
           "  --installer-size BYTES   its size (default 4M)\n"
           "  --rate BYTES             speed of each download connection per second (default "
           "512K, 0 = unlimited)\n"
           "  --drop-after BYTES       cut every download off after BYTES of its body, as a "
           "dropped\n"
           "                           connection does (a resumed download gets BYTES more)\n"
           "  --drop-once              with --drop-after: only the first download that gets that "
           "far\n"
           "  --no-length              send it chunked, without a length: no progress figures, "
           "no ranges\n"
           "  --sign KEYFILE           sign it with this minisign secret key and serve the "
           "signature\n"
           "                           at /files/NAME.minisig (404 without --sign)\n"
           "Without --no-length, a range request (Range, If-Range) is answered with 206 and "
           "Content-Range.\n"
           "The service:\n"
           "  --delay-ms N             wait N ms before answering the info and event requests\n"
           "BYTES take K, M or G for binary multiples: 512K, 4M.\n";
}

DemoOptions ParseDemoOptions(int argc, const char* const argv[]) {
    DemoOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            options.showHelp = true;
            continue;
        }
        if (option == "--drop-once") {
            options.dropOnce = true;
            continue;
        }
        if (option == "--no-length") {
            options.noLength = true;
            continue;
        }
        if (i + 1 >= argc)
            throw std::invalid_argument("unknown option or missing value: " + option);
        const std::string value = argv[++i];
        if (option == "--port") {
            const uint64_t port = ParseCount(option, value);
            if (port > 65535)
                throw std::invalid_argument("--port must be at most 65535");
            options.port = static_cast<int>(port);
        } else if (option == "--page-dir") {
            options.pageDir = value;
        } else if (option == "--rate") {
            options.rateBytesPerSecond = ParseByteCount(option, value);
        } else if (option == "--installer-size") {
            options.installerSize = ParseByteCount(option, value);
        } else if (option == "--drop-after") {
            options.dropAfterBytes = ParseByteCount(option, value);
            if (options.dropAfterBytes == 0)
                throw std::invalid_argument("--drop-after needs at least one byte");
        } else if (option == "--delay-ms") {
            options.delayMs = ParseCount(option, value);
        } else if (option == "--downloader-id") {
            options.downloaderId = value;
        } else if (option == "--product-name") {
            options.productName = value;
        } else if (option == "--sign") {
            options.signKeyFile = value;
        } else if (option == "--events-file") {
            options.eventsFile = value;
        } else {
            throw std::invalid_argument("unknown option: " + option);
        }
    }
    if (options.showHelp)
        return options;
    if (options.pageDir.empty())
        throw std::invalid_argument("--page-dir is required");
    if (options.dropOnce && options.dropAfterBytes == 0)
        throw std::invalid_argument("--drop-once needs --drop-after");
    return options;
}

} // namespace tarvik::demo
