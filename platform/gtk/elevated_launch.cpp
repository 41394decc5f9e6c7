#include "platform/gtk/elevated_launch.h"

#include "platform/gtk/guarded_callback.h"
#include "platform/gtk/launch_plan.h"

#include <fcntl.h>
#include <glib-unix.h>
#include <glib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <utility>

namespace tarvik::platform::gtk {

namespace {

// Runs as root between pkexec and the installer, with the write end of the host's marker pipe as
// its standard input (pkexec passes on descriptors 0 to 2 only). It moves the pipe to descriptor
// 3, gives the installer an empty standard input, writes the marker, and replaces itself with the
// installer, closing the pipe on the way.
//
// Why a marker: pkexec exits 126 when the authorisation was dismissed or refused and 127 when it
// could not authenticate at all, but once it has started the program, its exit status is the
// program's, and an installer may exit 126 or 127 just as well. The marker tells the two apart:
// without it the installer was never started. Its limit: the marker is written just before the
// shell replaces itself, so when that last step fails (the interpreter a script names is missing,
// the file was changed meanwhile), the shell's own 126 or 127 reads as the installer's and no
// failure is reported.
constexpr char kStartScript[] = "exec 3>&0 </dev/null; printf started >&3; exec \"$0\" 3>&-";
// Fixed paths: pkexec would otherwise look the programs up in the caller's PATH.
constexpr char kEnvProgram[] = "/usr/bin/env";
constexpr char kShell[] = "/bin/sh";

class OwnedFd {
public:
    explicit OwnedFd(int fd = -1) : fd_(fd) {}
    ~OwnedFd() { reset(); }
    OwnedFd(OwnedFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    OwnedFd& operator=(OwnedFd&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    int get() const { return fd_; }
    void reset() {
        if (fd_ >= 0)
            close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

using OnOutcome = std::function<void(InstallerStart)>;

struct PendingElevation {
    PendingElevation() = default;
    PendingElevation(const PendingElevation&) = delete;
    PendingElevation& operator=(const PendingElevation&) = delete;
    // The marker's watch points at this object, so it goes first.
    ~PendingElevation() {
        if (markerWatch != 0)
            g_source_remove(markerWatch);
    }
    std::weak_ptr<int> launcherAlive;
    OnOutcome onOutcome; // emptied once the outcome is told
    OwnedFd marker;      // the read end of the marker pipe, non-blocking
    guint markerWatch = 0;
};

struct PendingPackage {
    std::weak_ptr<int> launcherAlive;
    std::string path;
    OnOutcome onOutcome;
};

// Tells the outcome once; the callback is emptied first, so that nothing tells it twice.
void Tell(OnOutcome& onOutcome, InstallerStart outcome) {
    OnOutcome told = std::move(onOutcome);
    onOutcome = nullptr;
    if (told)
        told(outcome);
}

// A file that cannot be run even after it was made executable: a file system mounted without
// the right to run programs, or a file of another owner.
bool CannotRun(const std::string& path) {
    return access(path.c_str(), X_OK) != 0;
}

std::string ReadHead(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    char head[4] = {};
    file.read(head, sizeof head);
    return std::string(head, static_cast<size_t>(std::max<std::streamsize>(file.gcount(), 0)));
}

void MakeExecutable(const std::string& path) {
    std::error_code ignored;
    std::filesystem::permissions(path, std::filesystem::perms::owner_exec,
                                 std::filesystem::perm_options::add, ignored);
}

void OpenWithDefaultHandler(const std::string& path, OnOutcome& onOutcome) {
    GCharPtr uri(g_filename_to_uri(path.c_str(), nullptr, nullptr));
    GError* rawError = nullptr;
    const bool opened = uri && g_app_info_launch_default_for_uri(uri.get(), nullptr, &rawError);
    GErrorPtr error(rawError);
    // Nothing on the desktop takes a file of its kind.
    Tell(onOutcome, opened ? InstallerStart::Started : InstallerStart::NotExecutable);
}

void RunAsUser(const std::string& path, OnOutcome& onOutcome) {
    MakeExecutable(path);
    if (CannotRun(path)) {
        Tell(onOutcome, InstallerStart::NotExecutable);
        return;
    }
    gchar* argv[] = {const_cast<gchar*>(path.c_str()), nullptr};
    GError* rawError = nullptr;
    // Without G_SPAWN_DO_NOT_REAP_CHILD GLib reaps the program itself.
    const bool started = g_spawn_async(nullptr, argv, nullptr, G_SPAWN_DEFAULT, nullptr, nullptr,
                                       nullptr, &rawError);
    GErrorPtr error(rawError);
    if (started)
        Tell(onOutcome, InstallerStart::Started);
    else if (g_error_matches(error.get(), G_SPAWN_ERROR, G_SPAWN_ERROR_NOEXEC) ||
             g_error_matches(error.get(), G_SPAWN_ERROR, G_SPAWN_ERROR_ACCES))
        Tell(onOutcome, InstallerStart::NotExecutable);
    else
        Tell(onOutcome, InstallerStart::Failed);
}

// The marker came (or the pipe closed): the installer runs once the marker is there.
gboolean OnMarker(gint fd, GIOCondition /*condition*/, gpointer data) {
    auto* launch = static_cast<PendingElevation*>(data);
    return RunGuarded("elevated run marker", gboolean{G_SOURCE_REMOVE}, [&]() -> gboolean {
        char marker[16];
        const ssize_t got = read(fd, marker, sizeof marker);
        if (got < 0 && errno == EAGAIN)
            return G_SOURCE_CONTINUE;
        launch->markerWatch = 0;
        if (got > 0 && !launch->launcherAlive.expired())
            Tell(launch->onOutcome, InstallerStart::Started);
        // At the end of the pipe without a marker, pkexec's exit status says why.
        return G_SOURCE_REMOVE;
    });
}

void OnElevatedExited(GPid pid, gint waitStatus, gpointer data) {
    auto* launch = static_cast<PendingElevation*>(data);
    g_spawn_close_pid(pid);
    RunGuarded("elevated run ended", [&] {
        if (launch->launcherAlive.expired() || !launch->onOutcome)
            return;
        // Everything that could write has exited or closed the pipe by now.
        char marker[16];
        if (read(launch->marker.get(), marker, sizeof marker) > 0) {
            // Started: whatever its exit status, it is the installer's own.
            Tell(launch->onOutcome, InstallerStart::Started);
            return;
        }
        // The installer never ran. pkexec exits 126 when the prompt was dismissed or refused and
        // 127 when no authorisation could be had (no authentication agent, a wrong password).
        const int status = WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : -1;
        Tell(launch->onOutcome, status == 126   ? InstallerStart::Dismissed
                                : status == 127 ? InstallerStart::NotAuthorized
                                                : InstallerStart::Failed);
    });
}

// The package installer's session service is not there (or cannot be started).
bool ServiceIsAbsent(const GError* error) {
    for (const GDBusError code :
         {G_DBUS_ERROR_SERVICE_UNKNOWN, G_DBUS_ERROR_NAME_HAS_NO_OWNER, G_DBUS_ERROR_UNKNOWN_METHOD,
          G_DBUS_ERROR_UNKNOWN_INTERFACE, G_DBUS_ERROR_UNKNOWN_OBJECT,
          G_DBUS_ERROR_SPAWN_SERVICE_NOT_FOUND, G_DBUS_ERROR_SPAWN_EXEC_FAILED,
          G_DBUS_ERROR_SPAWN_FAILED, G_DBUS_ERROR_SPAWN_CHILD_EXITED}) {
        if (g_error_matches(error, G_DBUS_ERROR, code))
            return true;
    }
    return false;
}

void OnPackageInstallerAnswered(GObject* connection, GAsyncResult* result, gpointer data) {
    std::unique_ptr<PendingPackage> pending(static_cast<PendingPackage*>(data));
    GError* rawError = nullptr;
    GVariantPtr reply(
        g_dbus_connection_call_finish(G_DBUS_CONNECTION(connection), result, &rawError));
    GErrorPtr error(rawError);
    if (!error || g_error_matches(error.get(), G_IO_ERROR, G_IO_ERROR_CANCELLED) ||
        pending->launcherAlive.expired())
        return;
    RunGuarded("package installer answer", [&] {
        if (ServiceIsAbsent(error.get())) {
            // Started was told when the package was handed over; only a failure is news now.
            OnOutcome onFailure = [told = std::move(pending->onOutcome)](InstallerStart outcome) {
                if (outcome != InstallerStart::Started && told)
                    told(outcome);
            };
            OpenWithDefaultHandler(pending->path, onFailure);
        } else { // refused, cancelled by the user, or the installation failed
            Tell(pending->onOutcome, InstallerStart::Failed);
        }
    });
}

} // namespace

std::vector<std::string> DisplayEnvironment() {
    std::vector<std::string> assignments;
    for (const char* name : {"DISPLAY", "XAUTHORITY", "WAYLAND_DISPLAY", "XDG_RUNTIME_DIR"}) {
        const char* value = g_getenv(name);
        std::string chosen = value ? value : "";
        if (chosen.empty() && std::string_view(name) == "XAUTHORITY") {
            const std::filesystem::path own =
                std::filesystem::path(g_get_home_dir()) / ".Xauthority";
            std::error_code error;
            if (std::filesystem::is_regular_file(own, error))
                chosen = own.string();
        }
        if (!chosen.empty())
            assignments.push_back(std::string(name) + "=" + chosen);
    }
    return assignments;
}

ElevatedLauncher::ElevatedLauncher()
    : alive_(std::make_shared<int>(0)), cancellable_(g_cancellable_new()) {}

ElevatedLauncher::~ElevatedLauncher() {
    g_cancellable_cancel(cancellable_.get());
}

void ElevatedLauncher::Run(const std::string& path, OnOutcome onOutcome) {
    std::error_code error;
    const std::string absolute = std::filesystem::absolute(path, error).string();
    if (error || !std::filesystem::is_regular_file(absolute, error)) {
        Tell(onOutcome, InstallerStart::NoFile);
        return;
    }
    const std::string fileName = std::filesystem::path(absolute).filename().string();
    switch (ChooseLaunchWay(fileName, ReadHead(absolute))) {
    case LaunchWay::Elevated:
        RunWithPkexec(absolute, std::move(onOutcome));
        break;
    case LaunchWay::PackageInstaller:
        InstallPackage(absolute, std::move(onOutcome));
        break;
    case LaunchWay::DefaultHandler:
        OpenWithDefaultHandler(absolute, onOutcome);
        break;
    case LaunchWay::AsUser:
        RunAsUser(absolute, onOutcome);
        break;
    }
}

void ElevatedLauncher::RunWithPkexec(const std::string& path, OnOutcome onOutcome) {
    MakeExecutable(path);
    if (CannotRun(path)) {
        Tell(onOutcome, InstallerStart::NotExecutable);
        return;
    }
    GCharPtr pkexec(g_find_program_in_path("pkexec"));
    if (!pkexec) {
        Tell(onOutcome, InstallerStart::Failed);
        return;
    }
    // pkexec env NAME=value... /bin/sh -c SCRIPT installer
    std::vector<std::string> args = {pkexec.get(), kEnvProgram};
    for (std::string& assignment : DisplayEnvironment())
        args.push_back(std::move(assignment));
    args.insert(args.end(), {kShell, "-c", kStartScript, path});
    std::vector<gchar*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        Tell(onOutcome, InstallerStart::Failed);
        return;
    }
    OwnedFd marker(ends[0]);
    OwnedFd markerWriter(ends[1]);
    fcntl(marker.get(), F_SETFL, O_NONBLOCK);

    GPid pid = 0;
    GError* rawError = nullptr;
    const bool started =
        g_spawn_async_with_pipes_and_fds(nullptr, argv.data(), nullptr, G_SPAWN_DO_NOT_REAP_CHILD,
                                         nullptr, nullptr, markerWriter.get(), -1, -1, nullptr,
                                         nullptr, 0, &pid, nullptr, nullptr, nullptr, &rawError);
    GErrorPtr error(rawError);
    // From here only the child holds the write end, so the pipe ends with it.
    markerWriter.reset();
    if (!started) {
        Tell(onOutcome, InstallerStart::Failed);
        return;
    }
    auto pending = std::make_unique<PendingElevation>();
    pending->launcherAlive = alive_;
    pending->onOutcome = std::move(onOutcome);
    pending->marker = std::move(marker);
    // The marker tells that the installer runs as soon as it does, while pkexec waits for it.
    pending->markerWatch =
        g_unix_fd_add(pending->marker.get(), static_cast<GIOCondition>(G_IO_IN | G_IO_HUP),
                      OnMarker, pending.get());
    g_child_watch_add_full(G_PRIORITY_DEFAULT, pid, OnElevatedExited,
                           ReleaseToGLib(std::move(pending)), DestroyFromGLib<PendingElevation>);
}

void ElevatedLauncher::InstallPackage(const std::string& path, OnOutcome onOutcome) {
    GError* rawError = nullptr;
    GObjectPtr<GDBusConnection> bus(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &rawError));
    GErrorPtr error(rawError);
    if (!bus) {
        OpenWithDefaultHandler(path, onOutcome);
        return;
    }
    // InstallPackageFiles(as files, s interaction, s desktop_id, a{sv} platform_data); empty
    // texts ask for the service's default interaction and name no application.
    const char* files[] = {path.c_str(), nullptr};
    GVariantBuilder platformData;
    g_variant_builder_init(&platformData, G_VARIANT_TYPE_VARDICT);
    g_dbus_connection_call(
        bus.get(), "org.freedesktop.PackageKit", "/org/freedesktop/PackageKit",
        "org.freedesktop.PackageKit.Modify2", "InstallPackageFiles",
        g_variant_new("(^asssa{sv})", files, "", "", &platformData), nullptr,
        G_DBUS_CALL_FLAGS_NONE,
        // The answer comes when the user has finished with the installer.
        G_MAXINT, cancellable_.get(), OnPackageInstallerAnswered,
        ReleaseToGLib(std::make_unique<PendingPackage>(PendingPackage{alive_, path, onOutcome})));
    // The package installer shows itself now; its answer comes only when the user is done.
    Tell(onOutcome, InstallerStart::Started);
}

} // namespace tarvik::platform::gtk
