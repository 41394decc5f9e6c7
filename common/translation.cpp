#include "common/translation.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace tarvik {

struct TranslationEntry {
    const char* english;
    const char* translated;
};

struct TranslationTable {
    const char* language;            // the .po file's name: "de", "zh_CN"
    const TranslationEntry* entries; // sorted by `english`, byte-wise
    size_t count;
};

namespace {

// Generated from po/*.po at build time (po/CMakeLists.txt).
#include "translation_table.inc"

// "de_DE.UTF-8@euro" -> "de_DE"; "zh_CN" stays.
std::string_view LanguageAndTerritory(std::string_view name) {
    return name.substr(0, name.find_first_of(".@"));
}

std::string_view LanguageOnly(std::string_view name) {
    return name.substr(0, name.find_first_of("_.@"));
}

const TranslationTable* FindTable(std::string_view wanted, bool byLanguage) {
    for (const TranslationTable* table = kTranslationTables; table->language; ++table) {
        const std::string_view language = table->language;
        if (byLanguage ? LanguageOnly(language) == wanted : language == wanted)
            return table;
    }
    return nullptr;
}

} // namespace

Catalogue::Catalogue(const std::vector<std::string>& languages) {
    for (const std::string& name : languages) {
        const std::string_view full = LanguageAndTerritory(name);
        const std::string_view language = LanguageOnly(name);
        if (language.empty())
            continue;
        if (language == "en" || language == "C" || language == "POSIX")
            return;
        const TranslationTable* table = FindTable(full, false);
        if (!table)
            table = FindTable(language, false);
        if (!table)
            table = FindTable(language, true);
        if (table) {
            language_ = table->language;
            table_ = table;
            return;
        }
    }
}

const char* Catalogue::Translate(const char* english) const {
    if (!table_ || !english)
        return english;
    const TranslationTable* table = table_;
    const TranslationEntry* end = table->entries + table->count;
    const TranslationEntry* found = std::lower_bound(
        table->entries, end, english, [](const TranslationEntry& entry, const char* text) {
            return std::strcmp(entry.english, text) < 0;
        });
    return found != end && std::strcmp(found->english, english) == 0 ? found->translated : english;
}

} // namespace tarvik
