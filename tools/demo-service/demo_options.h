#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace tarvik::demo {

// Command-line settings of the demo service. The defaults make a download take a few seconds,
// long enough to watch the progress bar.
struct DemoOptions {
    int port = 47810; // 0: any free port (the chosen one is printed)
    std::filesystem::path pageDir;
    uint64_t rateBytesPerSecond = 512 * 1024; // 0: as fast as possible
    uint64_t installerSize = 4 * 1024 * 1024;
    std::string downloaderId = "1001";
    std::string productName = "Tarvik Demo";
    std::filesystem::path eventsFile; // empty: events go to standard output only
    bool showHelp = false;
};

// Throws std::invalid_argument with a message for the user on an unknown option or a bad value.
DemoOptions ParseDemoOptions(int argc, const char* const argv[]);

const char* DemoUsage();

} // namespace tarvik::demo
