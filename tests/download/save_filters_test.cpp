#include "download/save_filters.h"

#include <gtest/gtest.h>

namespace tarvik::download {
namespace {

// The save dialog's first filter is the installer's own kind, whatever the case of its
// extension; an unknown kind gets "All files" alone.
TEST(SaveDialogFilters, FirstTheInstallersKindThenAllFiles) {
    using Filters = std::vector<platform::FileFilter>;
    const platform::FileFilter all{"All files (*.*)", "*.*"};
    struct Case {
        const char* extension;
        Filters expected;
    };
    const Case cases[] = {
        {"exe", {{"Applications (*.exe)", "*.exe"}, all}},
        {"EXE", {{"Applications (*.exe)", "*.exe"}, all}},
        {"deb", {{"Debian packages (*.deb)", "*.deb"}, all}},
        {"rpm", {{"RPM packages (*.rpm)", "*.rpm"}, all}},
        {"AppImage", {{"AppImage programs (*.AppImage)", "*.AppImage"}, all}},
        {"appimage", {{"AppImage programs (*.AppImage)", "*.AppImage"}, all}},
        {"run", {{"Installer programs (*.run)", "*.run"}, all}},
        {"sh", {{"Shell scripts (*.sh)", "*.sh"}, all}},
        {"msi", {all}},
        {"ex", {all}},
        {"", {all}},
    };
    const Catalogue english;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.extension);
        EXPECT_EQ(SaveDialogFilters(c.extension, english), c.expected);
    }
}

TEST(SaveDialogFilters, LabelsAreTranslated) {
    using Filters = std::vector<platform::FileFilter>;
    EXPECT_EQ(SaveDialogFilters("deb", Catalogue({"zh_CN"})),
              (Filters{{"Debian 软件包(*.deb)", "*.deb"}, {"所有文件(*.*)", "*.*"}}));
}

} // namespace
} // namespace tarvik::download
