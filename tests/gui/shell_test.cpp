#include "gui/gui_test_support.h"

#include "platform/gtk/gobject_ptr.h"
#include "platform/gtk/launch_plan.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

namespace tarvik::testing {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

bool HasPkexec() {
    return platform::gtk::GCharPtr(g_find_program_in_path("pkexec")) != nullptr;
}

class ShellTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder =
            fs::temp_directory_path() /
            ("tarvik-gui-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "-" + std::to_string(getpid()));
        fs::create_directories(folder);
        platform = MakeGtkPlatform();
        ASSERT_TRUE(platform);
        platform->window.Create(host);
    }
    void TearDown() override { fs::remove_all(folder); }

    // An installer that only leaves a mark, in case this machine really lets it run.
    fs::path MakeInstaller() {
        const fs::path installer = folder / "setup.run";
        std::ofstream(installer) << "#!/bin/sh\ntouch '" << (folder / "ran").string() << "'\n";
        return installer;
    }

    fs::path folder;
    std::unique_ptr<platform::gtk::GtkPlatform> platform;
    RecordingHost host;
};

TEST_F(ShellTest, ElevatedRunWithoutPkexecFailsAtOnce) {
    const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", folder.c_str(), 1);
    int failures = 0;
    const fs::path installer = MakeInstaller();
    platform->shell.StartInstaller(installer.string(), [&] { ++failures; });
    setenv("PATH", path.c_str(), 1);
    EXPECT_EQ(failures, 1);
    // The file was still made executable for its owner first.
    EXPECT_NE(fs::status(installer).permissions() & fs::perms::owner_exec, fs::perms::none);
}

TEST_F(ShellTest, ElevatedRunEitherStartsOrReportsTheRefusalLater) {
    if (!HasPkexec())
        GTEST_SKIP() << "pkexec is not installed";
    int failures = 0;
    const fs::path installer = MakeInstaller();
    platform->shell.StartInstaller(installer.string(), [&] { ++failures; });
    EXPECT_EQ(failures, 0) << "a refusal is only known once pkexec has finished";
    // Without a polkit agent pkexec refuses; with one (a root session) the program runs.
    ASSERT_TRUE(RunUntil(*platform, [&] { return failures > 0 || fs::exists(folder / "ran"); }));
    RunFor(*platform, 200ms);
    EXPECT_EQ(failures + int(fs::exists(folder / "ran")), 1);
}

TEST_F(ShellTest, NoLaunchFailureArrivesAfterTheWindowIsGone) {
    if (!HasPkexec())
        GTEST_SKIP() << "pkexec is not installed";
    int failures = 0;
    platform->shell.StartInstaller(MakeInstaller().string(), [&] { ++failures; });
    platform->window.Destroy();
    const auto until = std::chrono::steady_clock::now() + 2s;
    while (std::chrono::steady_clock::now() < until)
        g_main_context_iteration(nullptr, FALSE);
    EXPECT_EQ(failures, 0);
}

// pkexec's refusals and the installer's own exit statuses look alike (126, 127); only the
// refusals are launch failures. pkexec is stood in for by a script on PATH that refuses like it,
// or clears the environment and runs the program like it. An AppImage never goes through it.
TEST_F(ShellTest, InstallersGetTheDisplayAndOnlyRefusalsFail) {
    struct Observed {
        int failures = 0;
        bool ran = false;
        std::vector<std::string> environment; // the display variables the installer saw
        bool operator==(const Observed&) const = default;
    };
    struct Case {
        const char* name;
        const char* fileName;
        const char* pkexec; // what the stand-in does
        int exitStatus;     // the installer's own
        bool expectRun;
    };
    const Case cases[] = {
        {"authorisation refused or dismissed", "setup.run", "refuse", 0, false},
        {"no authentication possible", "setup.run", "no-agent", 0, false},
        {"installer succeeds", "setup.run", "run", 0, true},
        {"installer exits 126", "setup.run", "run", 126, true},
        {"installer exits 127", "setup.run", "run", 127, true},
        {"an AppImage runs as the user", "Tool-x86_64.AppImage", "refuse", 0, true},
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
        platform->shell.StartInstaller(installer.string(), [&] { ++observed.failures; });
        ASSERT_TRUE(RunUntil(*platform, [&] { return observed.failures > 0 || fs::exists(seen); }));
        // Whatever is still to come from the ended run (a failure reported late) arrives here.
        RunFor(*platform, 300ms);
        observed.ran = fs::exists(seen);
        std::ifstream lines(seen);
        for (std::string line; std::getline(lines, line);)
            observed.environment.push_back(line);

        Observed expected;
        expected.failures = c.expectRun ? 0 : 1;
        expected.ran = c.expectRun;
        if (c.expectRun)
            expected.environment = displayEnvironment;
        EXPECT_EQ(observed, expected);
    }
    setenv("PATH", path.c_str(), 1);
    unsetenv("FAKE_PKEXEC");
    unsetenv("WAYLAND_DISPLAY");
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
TEST_F(ShellTest, SaveDialogOffersTheFiltersAndCompletesTheExtension) {
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
                filterNames.clear();
                GSList* filters = gtk_file_chooser_list_filters(chooser);
                for (GSList* f = filters; f; f = f->next)
                    filterNames.push_back(gtk_file_filter_get_name(GTK_FILE_FILTER(f->data)));
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
            chosen = platform->shell.ShowSaveDialog(platform::SaveDialogRequest{
                "proposed-setup.run",
                "run",
                {{"安装程序(*.run)", "*.run"}, {"所有文件(*.*)", "*.*"}}});
            g_source_remove(answering);
            done = true;
        };
        platform->window.Post(HostMessage{kOpenDialog, 0, 0});
        ASSERT_TRUE(RunUntil(*platform, [&] { return done; }));
        EXPECT_EQ(filterNames, (std::vector<std::string>{"安装程序(*.run)", "所有文件(*.*)"}));
        ASSERT_TRUE(chosen);
        EXPECT_EQ(*chosen, (folder / c.expected).string());
    }
}

} // namespace
} // namespace tarvik::testing
