#pragma once

#include "platform/gtk/gobject_ptr.h"

#include <gio/gio.h>

#include <string>

namespace tarvik::platform::gtk {

// The desktop shell: default handlers, the Downloads folder, the file manager. User-interface
// thread only.
class Shell {
public:
    Shell();
    // Abandons a file-manager request still under way.
    ~Shell();
    Shell(const Shell&) = delete;
    Shell& operator=(const Shell&) = delete;

    void OpenUri(const std::string& uri);
    // Empty when the desktop does not know one.
    static std::string DownloadsFolder();
    // Asks the file manager to show the file selected; when no file manager answers, opens the
    // folder that holds it instead.
    void RevealInFileManager(const std::string& path);

private:
    GObjectPtr<GCancellable> m_cancellable;
};

} // namespace tarvik::platform::gtk
