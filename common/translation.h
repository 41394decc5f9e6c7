#pragma once

#include <string>
#include <string_view>
#include <vector>

// Marks an English text that is looked up later (it stands in a table), so that xgettext finds
// it (`--keyword=N_`); it is the text itself, as gettext's N_().
#define N_(text) text

namespace tarvik {

struct TranslationTable;

// The host's own texts in the user's language. The texts are written in English in the code and
// looked up in the translations compiled in from po/*.po (see po/README.md); a language without
// a translation of a text, or without a catalogue at all, shows the English text.
//
// Threads: immutable once made, so any thread may use it.
class Catalogue {
public:
    // `languages`: the user's preferred languages, most preferred first, as locale names
    // ("de_DE.UTF-8", "de_DE", "de", "C"). The first one that is English ("en...", "C", "POSIX") or
    // has a catalogue decides: by its full language_TERRITORY, then by its language alone, then by
    // any catalogue of that language (zh_TW is shown zh_CN's texts). Codeset and modifier are
    // ignored. None of them: English.
    explicit Catalogue(const std::vector<std::string>& languages = {});

    // The catalogue chosen ("zh_CN", "de"); empty for English.
    const std::string& Language() const { return language_; }

    // `english` in the chosen language, or `english` itself. The result lives as long as the
    // program (or as `english`, when that is what is returned).
    const char* Translate(const char* english) const;

private:
    std::string language_;
    const TranslationTable* table_ = nullptr;
};

} // namespace tarvik
