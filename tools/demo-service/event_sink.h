#pragma once

#include <filesystem>
#include <mutex>
#include <string>

namespace tarvik::demo {

// Where reported events go: one readable line on standard output, and, when a file is named, one
// JSON line appended to it for tests and benchmarks. Safe to call from the server's threads.
class EventSink {
public:
    explicit EventSink(std::filesystem::path eventsFile) : eventsFile_(std::move(eventsFile)) {}

    void Record(const std::string& downloaderId, const std::string& event, const std::string& uuid);

private:
    std::filesystem::path eventsFile_;
    std::mutex mutex_;
};

} // namespace tarvik::demo
