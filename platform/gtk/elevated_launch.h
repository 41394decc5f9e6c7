#pragma once

#include "platform/gtk/gobject_ptr.h"

#include <gio/gio.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tarvik::platform::gtk {

// Starts a downloaded installer the way its kind needs (see LaunchWay): programs and scripts with
// administrator rights through pkexec, packages through the desktop's package installer, the
// rest through default handlers or as the user. Never waits for the installer. User-interface
// thread only.
class ElevatedLauncher {
public:
    ElevatedLauncher();
    // Abandons what is under way: failures still outstanding are never reported afterwards
    // (pkexec is still reaped).
    ~ElevatedLauncher();
    ElevatedLauncher(const ElevatedLauncher&) = delete;
    ElevatedLauncher& operator=(const ElevatedLauncher&) = delete;

    // `onFailure` runs at most once: before Run returns when the start failed at once (no pkexec,
    // no handler for the file, a program that cannot be started), or later from the main loop
    // when pkexec refused, or the package installer failed or was cancelled.
    void Run(const std::string& path, std::function<void()> onFailure);

private:
    void RunWithPkexec(const std::string& path, std::function<void()> onFailure);
    void InstallPackage(const std::string& path, std::function<void()> onFailure);

    // Watched through weak references by the pending child watches and calls.
    std::shared_ptr<int> alive_;
    GObjectPtr<GCancellable> cancellable_;
};

// NAME=value for each variable an elevated program needs to show a window on the user's display:
// DISPLAY, XAUTHORITY, WAYLAND_DISPLAY and XDG_RUNTIME_DIR, those that are set (and not empty).
// pkexec clears them all. Without XAUTHORITY, X clients read ~/.Xauthority, which for root is
// another file, so the user's own is named when it exists.
std::vector<std::string> DisplayEnvironment();

} // namespace tarvik::platform::gtk
