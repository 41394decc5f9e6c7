#pragma once

#include "common/installer_start.h"
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

    // `onOutcome` runs once: before Run returns when that is known at once (a start as the user
    // or by a default handler, no pkexec, no handler for the file, a program that cannot be
    // started), or later from the main loop: Started when the elevated installer has begun to
    // run, or why pkexec did not start it. A package is Started when it is handed to the
    // desktop's package installer, which answers only when the user is done with it; a failure
    // it reports then follows as a second call.
    void Run(const std::string& path, std::function<void(InstallerStart)> onOutcome);

private:
    void RunWithPkexec(const std::string& path, std::function<void(InstallerStart)> onOutcome);
    void InstallPackage(const std::string& path, std::function<void(InstallerStart)> onOutcome);

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
