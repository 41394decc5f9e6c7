// Feeds arbitrary text to the page-message decoder alone. Whatever the page sends, reading it must
// neither crash, overflow nor let an exception escape, and a message read as a command must read
// as the same command again: the decoder keeps no state and depends on nothing but its input.
#include "bridge/page_commands.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const tarvik::bridge::DecodedMessage first = tarvik::bridge::DecodePageMessage(text);
    const tarvik::bridge::DecodedMessage again = tarvik::bridge::DecodePageMessage(text);
    // A command and only a command carries a typed value; any other outcome carries none.
    const bool isCommand = first.outcome == tarvik::bridge::DecodedMessage::Outcome::Command;
    if (isCommand != first.command.has_value() || (isCommand && !first.type))
        std::abort();
    if (again.outcome != first.outcome || again.type != first.type ||
        again.command != first.command)
        std::abort();
    return 0;
}
