#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace tarvik::po {

// The translations of one gettext catalogue (a .po file): English text -> translated text, both
// UTF-8 with escapes resolved. What msgfmt would leave out is left out here too: the header
// (empty msgid), entries marked "fuzzy", entries with an empty msgstr, and obsolete entries
// ("#~"). Plural forms and contexts are not used by the program and are refused.
using Translations = std::map<std::string, std::string>;

// Reads the text of a .po file; nothing, with `error` set to "line N: why", when it is not one
// this reader understands.
std::optional<Translations> ReadPo(std::string_view text, std::string& error);

} // namespace tarvik::po
