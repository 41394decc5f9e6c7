#include "platform/gtk/elevated_launch.h"

#include "platform/gtk/gobject_ptr.h"

#include <glib.h>
#include <sys/wait.h>

#include <filesystem>

namespace tarvik::platform::gtk {

namespace {

// pkexec's own exit statuses: the user dismissed or refused the authorisation, or no
// authentication agent could ask.
constexpr int kNotAuthorised = 126;
constexpr int kNoAuthorisation = 127;

struct PendingLaunch {
    std::weak_ptr<int> launcherAlive;
    std::function<void()> onFailure;
};

void OnPkexecExited(GPid pid, gint waitStatus, gpointer data) {
    auto* launch = static_cast<PendingLaunch*>(data);
    g_spawn_close_pid(pid);
    if (launch->launcherAlive.expired() || !WIFEXITED(waitStatus))
        return;
    const int status = WEXITSTATUS(waitStatus);
    if (status == kNotAuthorised || status == kNoAuthorisation) {
        std::function<void()> onFailure = std::move(launch->onFailure);
        if (onFailure)
            onFailure();
    }
}

} // namespace

ElevatedLauncher::ElevatedLauncher() : m_alive(std::make_shared<int>(0)) {}

ElevatedLauncher::~ElevatedLauncher() = default;

void ElevatedLauncher::Run(const std::string& path, std::function<void()> onFailure) {
    std::error_code ignored;
    std::filesystem::permissions(path, std::filesystem::perms::owner_exec,
                                 std::filesystem::perm_options::add, ignored);

    GCharPtr pkexec(g_find_program_in_path("pkexec"));
    if (!pkexec) {
        onFailure();
        return;
    }
    gchar* argv[] = {pkexec.get(), const_cast<gchar*>(path.c_str()), nullptr};
    GPid pid = 0;
    GError* rawError = nullptr;
    const bool started = g_spawn_async(nullptr, argv, nullptr, G_SPAWN_DO_NOT_REAP_CHILD, nullptr,
                                       nullptr, &pid, &rawError);
    GErrorPtr error(rawError);
    if (!started) {
        onFailure();
        return;
    }
    g_child_watch_add_full(G_PRIORITY_DEFAULT, pid, OnPkexecExited,
                           ReleaseToGLib(std::make_unique<PendingLaunch>(
                               PendingLaunch{m_alive, std::move(onFailure)})),
                           DestroyFromGLib<PendingLaunch>);
}

} // namespace tarvik::platform::gtk
