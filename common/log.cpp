#include "common/log.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>

namespace tarvik::log {

namespace {

std::atomic<bool> g_enabled{false};

using Clock = std::chrono::steady_clock;
// The program's start as the log counts it: set while the program is being loaded, before main.
const Clock::time_point g_start = Clock::now();

double Milliseconds(Clock::duration span) {
    return std::chrono::duration<double, std::milli>(span).count();
}

// The sink and the writing share one lock, so lines from the transfer worker and the
// user-interface thread never interleave.
std::mutex& SinkMutex() {
    static std::mutex mutex;
    return mutex;
}

std::function<void(std::string_view)>& Sink() {
    static std::function<void(std::string_view)> sink;
    return sink;
}

} // namespace

void Enable(bool on) {
    g_enabled.store(on, std::memory_order_relaxed);
    if (on) {
        char line[96];
        std::snprintf(line, sizeof line,
                      "log: started at %.1f ms of the monotonic clock; times since then",
                      Milliseconds(g_start.time_since_epoch()));
        Write(line);
    }
}

bool Enabled() {
    return g_enabled.load(std::memory_order_relaxed);
}

void Write(std::string_view line) {
    // Pieces come from outside (a page command's type, a product name, a file name): a line
    // break or a terminal escape among them must not make a line of its own or move the cursor.
    std::string text;
    text.reserve(line.size());
    for (const char c : line) {
        const auto byte = static_cast<unsigned char>(c);
        text.push_back(byte < 0x20 || byte == 0x7F ? '?' : c);
    }
    const std::lock_guard lock(SinkMutex());
    if (Sink()) {
        Sink()(text);
        return;
    }
    // Read under the lock, so that the lines of several threads come out in the order of their
    // times.
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "tarvik: [%8.1f ms] ", Milliseconds(Clock::now() - g_start));
    const std::string whole = stamp + text + "\n";
    std::fwrite(whole.data(), 1, whole.size(), stderr);
}

std::string Clipped(std::string_view text, size_t limit) {
    if (text.size() <= limit)
        return std::string(text);
    size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    return std::string(text.substr(0, cut)) + "...";
}

std::string Shortened(std::string_view id) {
    if (id.empty())
        return "(none)";
    return std::string(id.substr(0, 4)) + "... (" + std::to_string(id.size()) + " characters)";
}

void SetSink(std::function<void(std::string_view line)> sink) {
    const std::lock_guard lock(SinkMutex());
    Sink() = std::move(sink);
}

} // namespace tarvik::log
