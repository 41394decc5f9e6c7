#pragma once

#include <concepts>
#include <functional>
#include <string>
#include <string_view>

// The step log a vendor turns on with TARVIK_LOG=1 or --verbose: one line per step on stderr,
// "tarvik: [<ms> ms] <area>: <what happened>", where <ms> counts milliseconds on the monotonic
// clock since the program started (since this library was loaded, which is before main), so that
// the log shows where the time of a slow start or a slow step went. Off by default.
//
// Each step logs with one line, so that changes to the code around it stay easy to merge. The
// pieces of the line are given one by one (text or integers) and joined:
//     TARVIK_LOG("service: info request ", LoggedUrl(url), ", attempt ", attempt);
// The arguments are only evaluated when the log is on. Never log what the page sends (only the
// command's type), nor a URL as it came (LoggedUrl in common/curl/web_url.h drops user names
// and passwords).
//
// Threads: any; each line is written whole. Enable is meant for start-up, before other threads.
#define TARVIK_LOG(...)                                                                            \
    do {                                                                                           \
        if (::tarvik::log::Enabled())                                                              \
            ::tarvik::log::Write(::tarvik::log::Join(__VA_ARGS__));                                \
    } while (false)

namespace tarvik::log {

inline void Append(std::string& line, std::string_view piece) {
    line.append(piece);
}
template <std::integral Number> void Append(std::string& line, Number number) {
    line.append(std::to_string(number));
}
template <typename... Pieces> std::string Join(const Pieces&... pieces) {
    std::string line;
    (Append(line, pieces), ...);
    return line;
}

// Turning the log on writes its first line, which names the monotonic clock's reading at the
// program's start, so that a tool watching the program (the start-up benchmark) can put the steps
// on its own clock.
void Enable(bool on);
bool Enabled();
// Writes "tarvik: [<ms> ms] " + line + "\n" in one piece, with control characters in `line` shown
// as '?'.
void Write(std::string_view line);
// Text the log shows in part: at most `limit` bytes of `text` (cut at a UTF-8 character
// boundary), with "..." when cut. For what the page chose, such as a command's type.
std::string Clipped(std::string_view text, size_t limit = 32);
// An identifier that must not be logged whole, such as the installation's uuid: its first four
// characters and its length, e.g. "7E90... (32 characters)"; "(none)" when empty.
std::string Shortened(std::string_view id);
// Tests take the lines (without "tarvik: ", the time and the line break) instead of stderr while a
// sink is set; an empty function restores stderr.
void SetSink(std::function<void(std::string_view line)> sink);

} // namespace tarvik::log
