#include "bridge/built_in_page_texts.h"

#include <nlohmann/json.hpp>

namespace tarvik::bridge {

nlohmann::json BuiltInPageTexts() {
    // Plain words for someone who only wanted to install a program: what is happening, what
    // went wrong, and the two things they can do about it.
    return {
        {"connecting_title", "Connecting…"},
        {"connecting_body", "Getting the installer ready. This needs an internet connection."},
        {"service_title", "Cannot reach the download service"},
        {"service_body", "Check your internet connection, then try again."},
        {"page_title", "The page could not be loaded"},
        {"page_body", "The download page did not open. Check your internet connection, then try "
                      "again."},
        {"retry", "Try again"},
        {"close", "Close"},
    };
}

} // namespace tarvik::bridge
