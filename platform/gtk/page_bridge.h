#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarvik::platform::gtk {

// The script message channel the bridge script posts to.
inline constexpr char kBridgeHandlerName[] = "tarvikBridge";
// The page-world function through which the host hands a JSON text to the page's listeners.
inline constexpr char kBridgeDeliverFunction[] = "__tarvikDeliver";

// A fresh random token for this run: 32 hexadecimal digits.
std::string MakeBridgeToken();

// The script injected at document start into the top frame: it defines window.chrome.webview and
// sends each message to the host prefixed with `token`, which stays in the script's closure.
std::string PageBridgeScript(const std::string& token);

// What the bridge script sent: the message text when `payload` carries `token`, nothing otherwise.
std::optional<std::string> UnwrapBridgeMessage(std::string_view payload, std::string_view token);

} // namespace tarvik::platform::gtk
