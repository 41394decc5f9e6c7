#include "gui/gui_test_support.h"

#include "platform/gtk/gobject_ptr.h"
#include "platform/gtk/launch_plan.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>

namespace tarvik::testing {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

bool HasPkexec() {
    return platform::gtk::GCharPtr(g_find_program_in_path("pkexec")) != nullptr;
}

class DesktopTest : public ::testing::Test {
protected:
    void SetUp() override {
        BeforeGtk();
        platform = MakeGtkPlatform();
        ASSERT_TRUE(platform);
        platform->window.Create(host);
    }
    // GLib reads its user folders once, when GTK starts: what a test sets for them goes here.
    virtual void BeforeGtk() {}

    // An installer that only leaves a mark, in case this machine really lets it run.
    fs::path MakeInstaller() {
        fs::path installer = folder / "setup.run";
        std::ofstream(installer) << "#!/bin/sh\ntouch '" << (folder / "ran").string() << "'\n";
        return installer;
    }

    TempFolder temp;
    const fs::path& folder = temp.path();
    std::unique_ptr<platform::gtk::GtkPlatform> platform;
    RecordingHost host;
};

TEST_F(DesktopTest, ElevatedRunWithoutPkexecFailsAtOnce) {
    const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", folder.c_str(), 1);
    int failures = 0;
    const fs::path installer = MakeInstaller();
    platform->desktop.StartInstaller(installer.string(), [&](InstallerStart outcome) {
        failures += outcome != InstallerStart::Started;
    });
    setenv("PATH", path.c_str(), 1);
    EXPECT_EQ(failures, 1);
    // The file was still made executable for its owner first.
    EXPECT_NE(fs::status(installer).permissions() & fs::perms::owner_exec, fs::perms::none);
}

TEST_F(DesktopTest, ElevatedRunEitherStartsOrReportsTheRefusalLater) {
    if (!HasPkexec())
        GTEST_SKIP() << "pkexec is not installed";
    int failures = 0;
    const fs::path installer = MakeInstaller();
    platform->desktop.StartInstaller(installer.string(), [&](InstallerStart outcome) {
        failures += outcome != InstallerStart::Started;
    });
    EXPECT_EQ(failures, 0) << "a refusal is only known once pkexec has finished";
    // Without a polkit agent pkexec refuses; with one (a root session) the program runs.
    ASSERT_TRUE(RunUntil(*platform, [&] { return failures > 0 || fs::exists(folder / "ran"); }));
    RunFor(*platform, 200ms);
    EXPECT_EQ(failures + int(fs::exists(folder / "ran")), 1);
}

TEST_F(DesktopTest, NoLaunchFailureArrivesAfterTheWindowIsGone) {
    if (!HasPkexec())
        GTEST_SKIP() << "pkexec is not installed";
    int failures = 0;
    platform->desktop.StartInstaller(MakeInstaller().string(), [&](InstallerStart outcome) {
        failures += outcome != InstallerStart::Started;
    });
    platform->window.Destroy();
    const auto until = std::chrono::steady_clock::now() + 2s;
    while (std::chrono::steady_clock::now() < until)
        g_main_context_iteration(nullptr, FALSE);
    EXPECT_EQ(failures, 0);
}

// pkexec's refusals and the installer's own exit statuses look alike (126, 127); only the
// refusals are launch failures. pkexec is stood in for by a script on PATH that refuses like it,
// or clears the environment and runs the program like it. An AppImage never goes through it.
TEST_F(DesktopTest, InstallersGetTheDisplayAndOnlyRefusalsFail) {
    struct Observed {
        std::vector<InstallerStart> outcomes;
        bool ran = false;
        std::vector<std::string> environment; // the display variables the installer saw
        bool operator==(const Observed&) const = default;
    };
    struct Case {
        const char* name;
        const char* fileName;
        const char* pkexec; // what the stand-in does
        int exitStatus;     // the installer's own
        InstallerStart outcome;
    };
    constexpr InstallerStart kStarted = InstallerStart::Started;
    const Case cases[] = {
        {"authorisation refused or dismissed", "setup.run", "refuse", 0, InstallerStart::Dismissed},
        {"no authentication possible", "setup.run", "no-agent", 0, InstallerStart::NotAuthorized},
        {"installer succeeds", "setup.run", "run", 0, kStarted},
        {"installer exits 126", "setup.run", "run", 126, kStarted},
        {"installer exits 127", "setup.run", "run", 127, kStarted},
        {"an AppImage runs as the user", "Tool-x86_64.AppImage", "refuse", 0, kStarted},
    };

    const fs::path bin = folder / "bin";
    fs::create_directories(bin);
    std::ofstream(bin / "pkexec") << "#!/bin/sh\n"
                                     "case \"$FAKE_PKEXEC\" in\n"
                                     "refuse) exit 126 ;;\n"
                                     "no-agent) exit 127 ;;\n"
                                     "esac\n"
                                     "exec env -i \"$@\"\n";
    fs::permissions(bin / "pkexec", fs::perms::owner_all);
    const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
    const char* display = std::getenv("DISPLAY");
    ASSERT_TRUE(display);
    setenv("PATH", (bin.string() + ":" + path).c_str(), 1);
    setenv("XAUTHORITY", (folder / "xauthority").c_str(), 1);
    setenv("WAYLAND_DISPLAY", "wayland-test", 1);
    unsetenv("XDG_RUNTIME_DIR");
    const std::vector<std::string> displayEnvironment = {
        std::string("DISPLAY=") + display, "WAYLAND_DISPLAY=wayland-test",
        "XAUTHORITY=" + (folder / "xauthority").string()};

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        setenv("FAKE_PKEXEC", c.pkexec, 1);
        const fs::path installer = folder / c.fileName;
        const fs::path seen = folder / "environment";
        fs::remove(seen);
        std::ofstream(installer) << "#!/bin/sh\n"
                                    "env | grep -E '^(DISPLAY|XAUTHORITY|WAYLAND_DISPLAY|"
                                    "XDG_RUNTIME_DIR)=' | sort > '"
                                 << seen.string() << ".tmp'\nmv '" << seen.string() << ".tmp' '"
                                 << seen.string() << "'\nexit " << c.exitStatus << "\n";
        Observed observed;
        platform->desktop.StartInstaller(installer.string(), [&](InstallerStart outcome) {
            observed.outcomes.push_back(outcome);
        });
        ASSERT_TRUE(RunUntil(*platform, [&] {
            return (!observed.outcomes.empty() && observed.outcomes[0] != kStarted) ||
                   fs::exists(seen);
        }));
        // Whatever is still to come from the ended run (a failure reported late) arrives here.
        RunFor(*platform, 300ms);
        observed.ran = fs::exists(seen);
        std::ifstream lines(seen);
        for (std::string line; std::getline(lines, line);)
            observed.environment.push_back(line);

        Observed expected;
        expected.outcomes = {c.outcome};
        expected.ran = c.outcome == kStarted;
        if (expected.ran)
            expected.environment = displayEnvironment;
        EXPECT_EQ(observed, expected);
    }
    setenv("PATH", path.c_str(), 1);
    unsetenv("FAKE_PKEXEC");
    unsetenv("WAYLAND_DISPLAY");
}

// The desktop's package installer as a session service: it records the files it is asked to
// install and answers as configured. GDBus checks each call against the interface below, so a
// call with other arguments fails as it would with the real service.
class FakePackageInstaller {
public:
    explicit FakePackageInstaller(GDBusConnection* bus) : bus_(bus) {
        static constexpr char kInterface[] =
            "<node><interface name='org.freedesktop.PackageKit.Modify2'>"
            "<method name='InstallPackageFiles'><arg type='as' direction='in'/>"
            "<arg type='s' direction='in'/><arg type='s' direction='in'/>"
            "<arg type='a{sv}' direction='in'/></method></interface></node>";
        info_ = g_dbus_node_info_new_for_xml(kInterface, nullptr);
        static const GDBusInterfaceVTable vtable = {Call, nullptr, nullptr, {}};
        object_ = g_dbus_connection_register_object(bus_, "/org/freedesktop/PackageKit",
                                                    info_->interfaces[0], &vtable, this, nullptr,
                                                    nullptr);
        name_ = g_bus_own_name_on_connection(bus_, "org.freedesktop.PackageKit",
                                             G_BUS_NAME_OWNER_FLAGS_NONE, OnNameAcquired, nullptr,
                                             this, nullptr);
    }
    ~FakePackageInstaller() {
        g_bus_unown_name(name_);
        g_dbus_connection_unregister_object(bus_, object_);
        g_dbus_node_info_unref(info_);
    }

    bool named = false;
    bool cancelledByUser = false;
    std::vector<std::string> files;

private:
    static void OnNameAcquired(GDBusConnection*, const gchar*, gpointer self) {
        static_cast<FakePackageInstaller*>(self)->named = true;
    }
    static void Call(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                     GVariant* parameters, GDBusMethodInvocation* invocation, gpointer data) {
        auto* self = static_cast<FakePackageInstaller*>(data);
        const gchar** asked = nullptr;
        g_variant_get(parameters, "(^a&s&s&s@a{sv})", &asked, nullptr, nullptr, nullptr);
        for (const gchar** file = asked; file && *file; ++file)
            self->files.emplace_back(*file);
        g_free(asked);
        if (self->cancelledByUser)
            g_dbus_method_invocation_return_dbus_error(
                invocation, "org.freedesktop.PackageKit.Modify2.Cancelled", "cancelled");
        else
            g_dbus_method_invocation_return_value(invocation, nullptr);
    }

    GDBusConnection* bus_;
    GDBusNodeInfo* info_ = nullptr;
    guint object_ = 0;
    guint name_ = 0;
};

// A package goes to the desktop's package installer; without one, to the default handler for its
// type; a package installer that fails or is cancelled is a launch failure. On a session bus of
// the test's own, with a default handler for .deb files that leaves a mark.
class PackageInstallTest : public DesktopTest {
protected:
    void BeforeGtk() override {
        gchar* argv[] = {const_cast<gchar*>("dbus-daemon"), const_cast<gchar*>("--session"),
                         const_cast<gchar*>("--nofork"), const_cast<gchar*>("--print-address"),
                         nullptr};
        gint output = -1;
        ASSERT_TRUE(g_spawn_async_with_pipes(nullptr, argv, nullptr, G_SPAWN_SEARCH_PATH, nullptr,
                                             nullptr, &busPid, nullptr, &output, nullptr, nullptr));
        std::string address;
        for (char c = 0; read(output, &c, 1) == 1 && c != '\n';)
            address += c;
        close(output);
        ASSERT_FALSE(address.empty());
        setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);

        const fs::path handler = folder / "handler.sh";
        std::ofstream(handler) << "#!/bin/sh\ntouch \"$1.opened\"\n";
        fs::permissions(handler, fs::perms::owner_all);
        fs::create_directories(folder / "data" / "applications");
        std::ofstream(folder / "data" / "applications" / "fake-installer.desktop")
            << "[Desktop Entry]\nType=Application\nName=Fake installer\nExec=" << handler.string()
            << " %f\nMimeType=application/vnd.debian.binary-package;\n";
        fs::create_directories(folder / "config");
        std::ofstream(folder / "config" / "mimeapps.list")
            << "[Default Applications]\n"
               "application/vnd.debian.binary-package=fake-installer.desktop\n";
        setenv("XDG_DATA_HOME", (folder / "data").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (folder / "config").c_str(), 1);
    }
    void TearDown() override {
        if (busPid > 0) {
            // GLib's shared connection to the session bus ends the process with SIGTERM when its
            // bus goes away; other parts of the program (the colour-scheme settings) may hold it
            // past the test, so it is told not to before this test's own bus is stopped.
            if (GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr)) {
                g_dbus_connection_set_exit_on_close(bus, FALSE);
                g_object_unref(bus);
            }
            kill(busPid, SIGTERM);
            waitpid(busPid, nullptr, 0);
        }
        DesktopTest::TearDown();
    }

    GPid busPid = 0;
};

TEST_F(PackageInstallTest, PackagesGoToThePackageInstallerOrTheirDefaultHandler) {
    if (g_get_user_data_dir() != (folder / "data").string())
        GTEST_SKIP() << "GLib had read its folders before this test: run it in a process of its "
                        "own, as CTest does";
    GError* rawError = nullptr;
    platform::gtk::GObjectPtr<GDBusConnection> bus(
        g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &rawError));
    platform::gtk::GErrorPtr error(rawError);
    ASSERT_TRUE(bus) << (error ? error->message : "");

    struct Observed {
        std::vector<InstallerStart> outcomes;
        std::vector<std::string> installed; // files the package installer was asked for
        bool opened = false;                // the default handler got the file
        bool operator==(const Observed&) const = default;
    };
    struct Case {
        const char* name = nullptr;
        bool service = false;
        bool cancelledByUser = false;
        Observed expected;
    };
    const fs::path package = folder / "tool_1.0_amd64.deb";
    std::ofstream(package) << "!<arch>\n";
    constexpr InstallerStart kStarted = InstallerStart::Started;
    const Case cases[] = {
        // Started when handed over; the service's refusal follows when the user is done.
        {"installed by the service", true, false, {{kStarted}, {package.string()}, false}},
        {"cancelled in the service",
         true,
         true,
         {{kStarted, InstallerStart::Failed}, {package.string()}, false}},
        {"no service", false, false, {{kStarted}, {}, true}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(package.string() + ".opened");
        std::optional<FakePackageInstaller> service;
        if (c.service) {
            service.emplace(bus.get());
            service->cancelledByUser = c.cancelledByUser;
            ASSERT_TRUE(RunUntil(*platform, [&] { return service->named; }));
        }
        Observed observed;
        bool answered = false;
        platform->desktop.StartInstaller(package.string(), [&](InstallerStart outcome) {
            observed.outcomes.push_back(outcome);
        });
        ASSERT_TRUE(RunUntil(*platform, [&] {
            answered = observed.outcomes.size() > 1 || (service && !service->files.empty()) ||
                       fs::exists(package.string() + ".opened");
            return answered;
        }));
        RunFor(*platform, 300ms);
        observed.installed = service ? service->files : std::vector<std::string>{};
        observed.opened = fs::exists(package.string() + ".opened");
        EXPECT_EQ(observed, c.expected);
    }
}

// What is done with a downloaded file: by its name for packages and self-contained applications,
// by its first bytes for what would run with administrator rights.
TEST(LaunchWayOfAFile, FollowsItsKindAndOnlyElevatesProgramsAndScripts) {
    using platform::gtk::LaunchWay;
    struct Case {
        const char* name;
        std::string head;
        LaunchWay expected;
    };
    const std::string elf = "\x7F"
                            "ELF";
    const Case cases[] = {
        {"setup.run", "#!/b", LaunchWay::Elevated},
        {"setup", elf, LaunchWay::Elevated},
        {"setup.bin", elf, LaunchWay::Elevated},
        {"tool.deb", "#!/b", LaunchWay::PackageInstaller},
        {"tool.deb", "!<ar", LaunchWay::PackageInstaller},
        {"Tool-1.0.x86_64.RPM", "\xED\xAB\xEE\xDB", LaunchWay::PackageInstaller},
        {"app.flatpakref", "[Fla", LaunchWay::DefaultHandler},
        {"app.flatpak", "\x89PNG", LaunchWay::DefaultHandler},
        {"Tool-x86_64.AppImage", elf, LaunchWay::AsUser},
        {"tool.appimage", elf, LaunchWay::AsUser},
        // Neither a program nor a script: a shell would run it as a script; the desktop decides.
        {"Setup.exe", std::string("MZ\x90\0", 4), LaunchWay::DefaultHandler},
        {"setup.run", "echo", LaunchWay::DefaultHandler},
        {"setup.run", "", LaunchWay::DefaultHandler},
        {"setup.run", "#", LaunchWay::DefaultHandler},
        {"setup.run",
         "\x7F"
         "EL",
         LaunchWay::DefaultHandler},
        // Only the last extension counts.
        {"tool.deb.run", "#!/b", LaunchWay::Elevated},
        {"deb", "#!/b", LaunchWay::Elevated},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(platform::gtk::ChooseLaunchWay(c.name, c.head), c.expected);
    }
}

// The dialog completes a name typed without an extension, unless that would make it longer
// than a file name can be; a name the file system refuses must not end the program.
TEST_F(DesktopTest, SaveDialogOffersTheFiltersAndCompletesTheExtension) {
    struct Case {
        std::string typed;
        std::string expected;
    };
    const Case cases[] = {
        {"chosen", "chosen.run"},
        {"chosen.exe", "chosen.exe"},
        {std::string(251, 'a'), std::string(251, 'a') + ".run"},
        {std::string(252, 'a'), std::string(252, 'a')},
    };
    constexpr uint32_t kOpenDialog = WM_USER + 0x200;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed.size());
        std::optional<std::string> chosen;
        std::vector<std::string> filterNames;
        std::string title;
        int width = 0;
        int height = 0;
        bool done = false;
        // Answers from inside the dialog's own loop, as the user would; again a little later
        // should the chooser not have taken an answer yet (on a busy machine it may still be
        // setting up), until the dialog has returned.
        std::function<void()> answer = [&] {
            GList* toplevels = gtk_window_list_toplevels();
            for (GList* item = toplevels; item; item = item->next) {
                if (!GTK_IS_FILE_CHOOSER_DIALOG(item->data) ||
                    !gtk_widget_get_visible(GTK_WIDGET(item->data)))
                    continue;
                GtkFileChooser* chooser = GTK_FILE_CHOOSER(item->data);
                title = gtk_window_get_title(GTK_WINDOW(item->data));
                gtk_window_get_default_size(GTK_WINDOW(item->data), &width, &height);
                filterNames.clear();
                GSList* filters = gtk_file_chooser_list_filters(chooser);
                for (GSList* f = filters; f; f = f->next)
                    filterNames.emplace_back(gtk_file_filter_get_name(GTK_FILE_FILTER(f->data)));
                g_slist_free(filters);
                gtk_file_chooser_set_current_folder(chooser, folder.c_str());
                gtk_file_chooser_set_current_name(chooser, c.typed.c_str());
                gtk_dialog_response(GTK_DIALOG(item->data), GTK_RESPONSE_ACCEPT);
            }
            g_list_free(toplevels);
        };
        host.onMessage = [&](const HostMessage& message) {
            if (message.id != kOpenDialog)
                return;
            const guint answering = g_timeout_add(
                200,
                [](gpointer data) -> gboolean {
                    (*static_cast<std::function<void()>*>(data))();
                    return G_SOURCE_CONTINUE;
                },
                &answer);
            chosen = platform->desktop.ShowSaveDialog(platform::SaveDialogRequest{
                "proposed-setup.run",
                "run",
                {{"安装程序(*.run)", "*.run"}, {"所有文件(*.*)", "*.*"}},
                "Save the installer"});
            g_source_remove(answering);
            done = true;
        };
        platform->window.Post(HostMessage{kOpenDialog, 0, 0});
        ASSERT_TRUE(RunUntil(*platform, [&] { return done; }));
        EXPECT_EQ(filterNames, (std::vector<std::string>{"安装程序(*.run)", "所有文件(*.*)"}));
        EXPECT_EQ(title, "Save the installer");
        // A share of the screen, within the bounds a file list reads well in.
        GdkRectangle area{};
        gdk_monitor_get_workarea(gdk_display_get_monitor(gdk_display_get_default(), 0), &area);
        EXPECT_EQ(width, std::clamp(area.width * 55 / 100, std::min(area.width, 640), 1100));
        EXPECT_EQ(height, std::clamp(area.height * 60 / 100, std::min(area.height, 420), 800));
        ASSERT_TRUE(chosen);
        EXPECT_EQ(*chosen, (folder / c.expected).string());
    }
}

} // namespace
} // namespace tarvik::testing

namespace tarvik::testing {
namespace {

// The desktop's notification service on the session bus: it records what it is asked to show.
class FakeNotificationService {
public:
    explicit FakeNotificationService(GDBusConnection* bus) : bus_(bus) {
        static constexpr char kInterface[] =
            "<node><interface name='org.freedesktop.Notifications'>"
            "<method name='Notify'><arg type='s' direction='in'/><arg type='u' direction='in'/>"
            "<arg type='s' direction='in'/><arg type='s' direction='in'/>"
            "<arg type='s' direction='in'/><arg type='as' direction='in'/>"
            "<arg type='a{sv}' direction='in'/><arg type='i' direction='in'/>"
            "<arg type='u' direction='out'/></method></interface></node>";
        info_ = g_dbus_node_info_new_for_xml(kInterface, nullptr);
        static const GDBusInterfaceVTable vtable = {Call, nullptr, nullptr, {}};
        object_ = g_dbus_connection_register_object(bus_, "/org/freedesktop/Notifications",
                                                    info_->interfaces[0], &vtable, this, nullptr,
                                                    nullptr);
        name_ = g_bus_own_name_on_connection(bus_, "org.freedesktop.Notifications",
                                             G_BUS_NAME_OWNER_FLAGS_NONE, OnNameAcquired, nullptr,
                                             this, nullptr);
    }
    ~FakeNotificationService() {
        g_bus_unown_name(name_);
        g_dbus_connection_unregister_object(bus_, object_);
        g_dbus_node_info_unref(info_);
    }

    bool named = false;
    std::vector<std::string> shown; // "summary / body / actions"

private:
    static void OnNameAcquired(GDBusConnection*, const gchar*, gpointer self) {
        static_cast<FakeNotificationService*>(self)->named = true;
    }
    static void Call(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                     GVariant* parameters, GDBusMethodInvocation* invocation, gpointer data) {
        auto* self = static_cast<FakeNotificationService*>(data);
        const gchar* summary = nullptr;
        const gchar* body = nullptr;
        const gchar** actions = nullptr;
        g_variant_get(parameters, "(&su&s&s&s^a&s@a{sv}i)", nullptr, nullptr, nullptr, &summary,
                      &body, &actions, nullptr, nullptr);
        std::string record = std::string(summary) + " / " + body + " /";
        for (const gchar** action = actions; action && *action; ++action)
            record += std::string(" ") + *action;
        g_free(actions);
        self->shown.push_back(record);
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(u)", 42u));
    }

    GDBusConnection* bus_;
    GDBusNodeInfo* info_ = nullptr;
    guint object_ = 0;
    guint name_ = 0;
};

// A notification reaches the desktop's service with the title, the text and a default action
// that brings the window back; without the service, asking for one does no harm.
TEST_F(PackageInstallTest, NotificationsGoToTheDesktopsNotificationService) {
    GError* rawError = nullptr;
    platform::gtk::GObjectPtr<GDBusConnection> bus(
        g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &rawError));
    platform::gtk::GErrorPtr error(rawError);
    ASSERT_TRUE(bus) << (error ? error->message : "");

    platform->desktop.Notify("Nobody", "listens");
    RunFor(*platform, 300ms);

    FakeNotificationService service(bus.get());
    ASSERT_TRUE(RunUntil(*platform, [&] { return service.named; }));
    platform->desktop.Notify("Demo App", "The download has finished.");
    ASSERT_TRUE(RunUntil(*platform, [&] { return !service.shown.empty(); }));
    RunFor(*platform, 200ms);
    EXPECT_EQ(service.shown,
              std::vector<std::string>{"Demo App / The download has finished. / default Show"});

    // Activating it is answered by raising the window; the window must simply take it.
    g_dbus_connection_emit_signal(bus.get(), nullptr, "/org/freedesktop/Notifications",
                                  "org.freedesktop.Notifications", "ActionInvoked",
                                  g_variant_new("(us)", 42u, "default"), nullptr);
    RunFor(*platform, 300ms);
    EXPECT_TRUE(gtk_widget_get_visible(GTK_WIDGET(platform->window.Widget())));
}

} // namespace
} // namespace tarvik::testing
