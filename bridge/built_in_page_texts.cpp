#include "bridge/built_in_page_texts.h"

#include "common/translation.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <string>

namespace tarvik::bridge {

nlohmann::json BuiltInPageTexts(const Catalogue& texts) {
    // Plain words for someone who only wanted to install a program: what is happening, what
    // went wrong, and the two things they can do about it.
    // The language tag of the texts ("zh-CN", "de"; "en" for the English ones), so that a screen
    // reader reads them with the right voice.
    std::string lang = texts.Language().empty() ? "en" : texts.Language();
    std::replace(lang.begin(), lang.end(), '_', '-');
    return {
        {"lang", lang},
        {"connecting_title", texts.Translate("Connecting…")},
        {"connecting_body",
         texts.Translate("Getting the installer ready. This needs an internet connection.")},
        {"service_title", texts.Translate("Cannot reach the download service")},
        {"service_body", texts.Translate("Check your internet connection, then try again.")},
        {"page_title", texts.Translate("The page could not be loaded")},
        {"page_body",
         texts.Translate("The download page did not open. Check your internet connection, then try "
                         "again.")},
        {"retry", texts.Translate("Try again")},
        {"close", texts.Translate("Close")},
    };
}

} // namespace tarvik::bridge
