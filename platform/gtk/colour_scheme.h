#pragma once

#include <optional>
#include <string>

namespace tarvik::platform::gtk {

// What the desktop says about light and dark, from each place that can say it.
struct ColourSchemeInputs {
    // GTK_THEME from the environment ("Adwaita:dark"), when set: a theme chosen for this process.
    std::optional<std::string> gtkThemeVariable;
    // The desktop's colour scheme (the settings portal's, which is GNOME's color-scheme setting):
    // "prefer-dark", "prefer-light", or "default" / empty when it has none.
    std::string colorScheme;
    // GTK's own settings: gtk-application-prefer-dark-theme and gtk-theme-name.
    bool gtkPrefersDark = false;
    std::string gtkThemeName;
};

// Dark or light, decided once for the whole window, both views alike. A GTK_THEME set for this
// process decides alone (its ":dark" variant or not); otherwise any of the desktop's colour
// scheme, GTK's dark preference or a dark theme asks for dark, as WebKit itself reads them, so
// that no view can end up otherwise. (Its reading of "prefer-light" above a dark theme would be
// a dark vendor's page beside a light built-in page.)
bool DecideDark(const ColourSchemeInputs& inputs);

} // namespace tarvik::platform::gtk
