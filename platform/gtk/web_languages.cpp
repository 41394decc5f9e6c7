#include "platform/gtk/web_languages.h"

#include <algorithm>

namespace tarvik::platform::gtk {

std::vector<std::string> WebLanguages(const std::vector<std::string>& localeNames) {
    std::vector<std::string> tags;
    for (const std::string& name : localeNames) {
        std::string tag = name.substr(0, name.find_first_of(".@"));
        if (tag.empty() || tag == "C" || tag == "POSIX")
            continue;
        std::replace(tag.begin(), tag.end(), '_', '-');
        if (std::find(tags.begin(), tags.end(), tag) == tags.end())
            tags.push_back(tag);
    }
    return tags;
}

} // namespace tarvik::platform::gtk
