#pragma once

#include "platform/desktop.h"

#include <gtk/gtk.h>

#include <cstddef>
#include <optional>
#include <string>

namespace tarvik::platform::gtk {

// Modal dialogs over the host window. Each runs a nested main loop, so the host's queued messages
// and page messages keep being handled while it is open. User-interface thread only.

struct DialogParent {
    GtkWindow* window = nullptr;
    // The host window waits off-screen until its page sets its size; a dialog then goes to the
    // middle of the screen instead of over it.
    bool onScreen = false;
};

// The chosen full path (UTF-8 file name), or nothing when the user cancelled.
std::optional<std::string> RunSaveDialog(const DialogParent& parent,
                                         const SaveDialogRequest& request);

void RunMessageBox(const DialogParent& parent, const std::string& utf8Text,
                   const std::string& utf8Caption);

} // namespace tarvik::platform::gtk
