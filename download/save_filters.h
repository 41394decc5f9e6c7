#pragma once

#include "common/translation.h"
#include "platform/desktop.h"

#include <string_view>
#include <vector>

namespace tarvik::download {

// The save dialog's filters for an installer with `extension` (without the dot, any case): its
// own kind first when it is one the assistant knows (.exe, .deb, .rpm, .AppImage, .run, .sh),
// then "All files (*.*)"; only the latter for any other file. Labels in the user's language.
std::vector<platform::FileFilter> SaveDialogFilters(std::string_view extension,
                                                    const Catalogue& texts);

} // namespace tarvik::download
