#include "platform/gtk/sandbox_probe.h"

#include "platform/gtk/gobject_ptr.h"

#include <glib.h>

#include <cerrno>
#include <optional>
#include <sys/wait.h>

namespace tarvik::platform::gtk {

namespace {

struct Probe {
    bool started = false;
    GPid pid = 0;
    // Set once the child has been reaped or could not start.
    std::optional<bool> answer;
    std::string why;
};

Probe& TheProbe() {
    static Probe probe;
    return probe;
}

} // namespace

void StartSandboxProbe() {
    Probe& probe = TheProbe();
    if (probe.started)
        return;
    probe.started = true;
    GCharPtr bwrap(g_find_program_in_path("bwrap"));
    if (!bwrap) {
        probe.answer = false;
        probe.why = "bubblewrap (bwrap) is not installed";
        return;
    }
    GCharPtr truePath(g_find_program_in_path("true"));
    const gchar* argv[] = {bwrap.get(),
                           "--ro-bind",
                           "/",
                           "/",
                           "--unshare-all",
                           "--die-with-parent",
                           truePath ? truePath.get() : "/bin/true",
                           nullptr};
    GError* rawError = nullptr;
    // Not reaped by GLib: the answer is read with waitpid, without a main loop, and the
    // process is reaped there however early or late that is.
    const bool spawned =
        g_spawn_async(nullptr, const_cast<gchar**>(argv), nullptr,
                      GSpawnFlags(G_SPAWN_DO_NOT_REAP_CHILD | G_SPAWN_STDOUT_TO_DEV_NULL |
                                  G_SPAWN_STDERR_TO_DEV_NULL),
                      nullptr, nullptr, &probe.pid, &rawError);
    GErrorPtr error(rawError);
    if (!spawned) {
        probe.answer = false;
        probe.why = std::string("bubblewrap cannot be started: ") +
                    (error ? error->message : "unknown error");
    }
}

bool SandboxProbeAnswer(std::string& why) {
    StartSandboxProbe();
    Probe& probe = TheProbe();
    if (!probe.answer) {
        int status = 0;
        pid_t reaped = 0;
        do {
            reaped = waitpid(probe.pid, &status, 0);
        } while (reaped < 0 && errno == EINTR);
        g_spawn_close_pid(probe.pid);
        probe.answer = reaped == probe.pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
        if (!*probe.answer)
            probe.why = "bubblewrap cannot create namespaces here";
    }
    why = probe.why;
    return *probe.answer;
}

} // namespace tarvik::platform::gtk
