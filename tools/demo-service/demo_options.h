#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace tarvik::demo {

// Command-line settings of the demo service. The defaults make a download take a few seconds,
// long enough to watch the progress bar; the others make the service misbehave on purpose, so
// the assistant's and the page's answers to it can be watched.
struct DemoOptions {
    int port = 47810; // 0: any free port (the chosen one is printed)
    std::filesystem::path pageDir;
    uint64_t rateBytesPerSecond = 512 * 1024; // per connection; 0: as fast as possible
    uint64_t installerSize = 4 * 1024 * 1024;
    std::string downloaderId = "1001";
    std::string productName = "Tarvik Demo";
    std::filesystem::path eventsFile; // empty: events go to standard output only
    // Each installer response is cut off after this many bytes of its body (0: never); with
    // dropOnce, only the first response that gets that far.
    uint64_t dropAfterBytes = 0;
    bool dropOnce = false;
    bool noLength = false; // installer responses chunked, without a length (nor ranges)
    uint64_t delayMs = 0;  // before answering the info and event requests
    // A minisign secret key: the installer's signature is served beside it, at NAME.minisig.
    std::string signKeyFile;
    bool showHelp = false;
};

// Throws std::invalid_argument with a message for the user on an unknown option or a bad value.
DemoOptions ParseDemoOptions(int argc, const char* const argv[]);

// A byte count as the options take it: digits with an optional K, M or G (binary multiples, so
// "4M" is 4 MiB). Throws std::invalid_argument naming `option` when the text is not one.
uint64_t ParseByteCount(const std::string& option, const std::string& text);

const char* DemoUsage();

} // namespace tarvik::demo
