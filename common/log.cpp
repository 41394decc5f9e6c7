#include "common/log.h"

#include <atomic>
#include <cstdio>
#include <mutex>

namespace tarvik::log {

namespace {

std::atomic<bool> g_enabled{false};

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
}

bool Enabled() {
    return g_enabled.load(std::memory_order_relaxed);
}

void Write(std::string_view line) {
    // Pieces come from outside (a page command's type, a product name, a file name): a line
    // break or a terminal escape among them must not make a line of its own or move the cursor.
    std::string whole = "tarvik: ";
    for (const char c : line) {
        const auto byte = static_cast<unsigned char>(c);
        whole.push_back(byte < 0x20 || byte == 0x7F ? '?' : c);
    }
    const std::lock_guard lock(SinkMutex());
    if (Sink()) {
        Sink()(std::string_view(whole).substr(8));
        return;
    }
    whole.push_back('\n');
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
