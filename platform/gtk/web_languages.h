#pragma once

#include <string>
#include <vector>

namespace tarvik::platform::gtk {

// The user's languages as the web asks for them (Accept-Language, navigator.languages), from
// the locale names the desktop lists, most preferred first: "de_DE.UTF-8" -> "de-DE",
// "sr@latin" -> "sr". "C" and "POSIX" name no language and are left out, as are repeats.
std::vector<std::string> WebLanguages(const std::vector<std::string>& localeNames);

} // namespace tarvik::platform::gtk
