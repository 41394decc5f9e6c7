#include "platform/gtk/page_bridge.h"

#include "page_bridge_js.h"

#include <array>
#include <cstdio>
#include <random>

namespace tarvik::platform::gtk {

namespace {

void ReplaceAll(std::string& text, std::string_view placeholder, std::string_view value) {
    for (size_t at = text.find(placeholder); at != std::string::npos;
         at = text.find(placeholder, at + value.size()))
        text.replace(at, placeholder.size(), value);
}

} // namespace

std::string MakeBridgeToken() {
    std::random_device source;
    std::string token;
    for (int i = 0; i < 4; ++i) {
        std::array<char, 9> digits{};
        std::snprintf(digits.data(), digits.size(), "%08x", static_cast<unsigned>(source()));
        token += digits.data();
    }
    return token;
}

std::string PageBridgeScript(const std::string& token) {
    std::string script(reinterpret_cast<const char*>(kPageBridgeJs), kPageBridgeJsSize);
    // Only fixed names and the hexadecimal token are put into the script, never page data.
    ReplaceAll(script, "@BRIDGE_TOKEN@", token);
    ReplaceAll(script, "@BRIDGE_HANDLER@", kBridgeHandlerName);
    ReplaceAll(script, "@BRIDGE_DELIVER@", kBridgeDeliverFunction);
    return script;
}

std::optional<std::string> UnwrapBridgeMessage(std::string_view payload, std::string_view token) {
    if (token.empty() || payload.size() <= token.size() ||
        payload.substr(0, token.size()) != token || payload[token.size()] != ':')
        return std::nullopt;
    return std::string(payload.substr(token.size() + 1));
}

} // namespace tarvik::platform::gtk
