#include "tools/demo-service/event_sink.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdio>
#include <fstream>

namespace tarvik::demo {

void EventSink::Record(const std::string& downloaderId, const std::string& event,
                       const std::string& uuid) {
    const auto now = std::chrono::system_clock::now();
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
    // Dumped through the JSON library so odd bytes in a report cannot break the line format.
    const nlohmann::json line = {
        {"downloader_id", downloaderId}, {"event", event}, {"uuid", uuid}, {"time_ms", millis}};
    const auto text = [](const std::string& value) {
        return nlohmann::json(value).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    };

    std::scoped_lock lock(mutex_);
    std::printf("event %s  (downloader %s, install id %s)\n", text(event).c_str(),
                text(downloaderId).c_str(), text(uuid).c_str());
    std::fflush(stdout);
    if (!eventsFile_.empty()) {
        std::ofstream file(eventsFile_, std::ios::app);
        file << line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
        if (!file)
            std::fprintf(stderr, "demo service: cannot append to %s\n", eventsFile_.c_str());
    }
}

} // namespace tarvik::demo
