#include "platform/gtk/colour_scheme.h"

#include <gtest/gtest.h>

namespace tarvik::platform::gtk {
namespace {

// One decision for both views, whichever place says dark: the two combinations that split the
// views apart (a dark GTK_THEME, and the desktop's prefer-dark) come out dark for both.
TEST(ColourSchemeTest, DarkOrLightIsDecidedFromEveryPlaceThatSaysIt) {
    struct Case {
        const char* label = "";
        ColourSchemeInputs inputs;
        bool dark = false;
    };
    const Case cases[] = {
        {"nothing said", {std::nullopt, "", false, "Adwaita"}, false},
        {"desktop's default", {std::nullopt, "default", false, "Adwaita"}, false},
        {"desktop prefers dark", {std::nullopt, "prefer-dark", false, "Adwaita"}, true},
        {"desktop prefers light", {std::nullopt, "prefer-light", false, "Adwaita"}, false},
        {"GTK_THEME dark variant", {"Adwaita:dark", "default", false, "Adwaita"}, true},
        {"GTK_THEME light beats the desktop's dark",
         {"Adwaita", "prefer-dark", true, "Adwaita"},
         false},
        {"GTK_THEME empty is not set", {"", "prefer-dark", false, "Adwaita"}, true},
        {"GTK's dark preference", {std::nullopt, "", true, "Adwaita"}, true},
        {"a dark theme by name", {std::nullopt, "", false, "Adwaita-dark"}, true},
        {"a dark theme above prefer-light",
         {std::nullopt, "prefer-light", false, "Yaru-dark"},
         true},
        {"a theme merely containing dark", {std::nullopt, "", false, "Darkish"}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(DecideDark(c.inputs), c.dark);
    }
}

} // namespace
} // namespace tarvik::platform::gtk
