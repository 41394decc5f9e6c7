#include "platform/gtk/colour_scheme.h"

namespace tarvik::platform::gtk {

namespace {

bool EndsWith(const std::string& text, const char* end) {
    const std::string suffix(end);
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

} // namespace

bool DecideDark(const ColourSchemeInputs& inputs) {
    if (inputs.gtkThemeVariable && !inputs.gtkThemeVariable->empty())
        return EndsWith(*inputs.gtkThemeVariable, ":dark");
    return inputs.colorScheme == "prefer-dark" || inputs.gtkPrefersDark ||
           EndsWith(inputs.gtkThemeName, "-dark") || EndsWith(inputs.gtkThemeName, ":dark");
}

} // namespace tarvik::platform::gtk
