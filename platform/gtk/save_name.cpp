#include "platform/gtk/save_name.h"

#include <filesystem>

namespace tarvik::platform::gtk {

std::string WithDefaultExtension(const std::string& path, const std::string& defaultExtension) {
    std::string extension = defaultExtension;
    while (!extension.empty() && extension.front() == '.')
        extension.erase(0, 1);
    const std::filesystem::path name = std::filesystem::path(path).filename();
    if (extension.empty() || name.has_extension())
        return path;
    // A name that the extension would make too long for the file system is kept as typed: the
    // chooser accepted it, and the completed one could not even be created.
    if (name.native().size() + 1 + extension.size() > kMaxFileNameBytes)
        return path;
    return path + "." + extension;
}

} // namespace tarvik::platform::gtk
