#include "platform/gtk/launch_plan.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace tarvik::platform::gtk {

namespace {

bool EndsWithNoCase(std::string_view text, std::string_view suffix) {
    if (text.size() < suffix.size())
        return false;
    return std::equal(suffix.begin(), suffix.end(), text.end() - suffix.size(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) ==
               std::tolower(static_cast<unsigned char>(b));
    });
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

} // namespace

LaunchWay ChooseLaunchWay(std::string_view fileName, std::string_view head) {
    if (EndsWithNoCase(fileName, ".deb") || EndsWithNoCase(fileName, ".rpm"))
        return LaunchWay::PackageInstaller;
    if (EndsWithNoCase(fileName, ".flatpakref") || EndsWithNoCase(fileName, ".flatpak"))
        return LaunchWay::DefaultHandler;
    if (EndsWithNoCase(fileName, ".appimage"))
        return LaunchWay::AsUser;
    if (StartsWith(head, "\x7F"
                         "ELF") ||
        StartsWith(head, "#!"))
        return LaunchWay::Elevated;
    return LaunchWay::DefaultHandler;
}

} // namespace tarvik::platform::gtk
