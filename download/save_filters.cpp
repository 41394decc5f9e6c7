#include "download/save_filters.h"

#include <algorithm>
#include <cctype>

namespace tarvik::download {

namespace {

struct InstallerKind {
    std::string_view extension; // as the pattern spells it
    const char* label;          // English; translated in po/*.po
};

// The labels are kept whole, pattern included, so that each language can place the pattern as
// it writes (the Chinese labels have no space before it).
constexpr InstallerKind kKinds[] = {
    {"exe", N_("Applications (*.exe)")},       {"deb", N_("Debian packages (*.deb)")},
    {"rpm", N_("RPM packages (*.rpm)")},       {"AppImage", N_("AppImage programs (*.AppImage)")},
    {"run", N_("Installer programs (*.run)")}, {"sh", N_("Shell scripts (*.sh)")},
};

bool SameIgnoringCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

} // namespace

std::vector<platform::FileFilter> SaveDialogFilters(std::string_view extension,
                                                    const Catalogue& texts) {
    std::vector<platform::FileFilter> filters;
    for (const InstallerKind& kind : kKinds) {
        if (SameIgnoringCase(kind.extension, extension)) {
            filters.push_back({texts.Translate(kind.label), "*." + std::string(kind.extension)});
            break;
        }
    }
    filters.push_back({texts.Translate("All files (*.*)"), "*.*"});
    return filters;
}

} // namespace tarvik::download
