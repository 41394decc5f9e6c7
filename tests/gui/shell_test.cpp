#include "gui/gui_test_support.h"

#include "platform/gtk/gobject_ptr.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

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
    platform->shell.RunElevated(installer.string(), [&] { ++failures; });
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
    platform->shell.RunElevated(installer.string(), [&] { ++failures; });
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
    platform->shell.RunElevated(MakeInstaller().string(), [&] { ++failures; });
    platform->window.Destroy();
    const auto until = std::chrono::steady_clock::now() + 2s;
    while (std::chrono::steady_clock::now() < until)
        g_main_context_iteration(nullptr, FALSE);
    EXPECT_EQ(failures, 0);
}

TEST_F(ShellTest, SaveDialogOffersTheFiltersAndCompletesTheExtension) {
    constexpr uint32_t kOpenDialog = WM_USER + 0x200;
    constexpr uint32_t kAnswer = WM_USER + 0x201;
    std::optional<std::string> chosen;
    std::vector<std::string> filterNames;
    bool done = false;
    host.onMessage = [&](const HostMessage& message) {
        if (message.id == kOpenDialog) {
            platform->window.Post(HostMessage{kAnswer, 0, 0});
            chosen = platform->shell.ShowSaveDialog(platform::SaveDialogRequest{
                "proposed-setup.run",
                "run",
                {{"安装程序(*.run)", "*.run"}, {"所有文件(*.*)", "*.*"}}});
            done = true;
        } else if (message.id == kAnswer) {
            // Answered from inside the dialog's own loop, as the user would.
            GList* toplevels = gtk_window_list_toplevels();
            for (GList* item = toplevels; item; item = item->next) {
                if (!GTK_IS_FILE_CHOOSER_DIALOG(item->data))
                    continue;
                GtkFileChooser* chooser = GTK_FILE_CHOOSER(item->data);
                GSList* filters = gtk_file_chooser_list_filters(chooser);
                for (GSList* f = filters; f; f = f->next)
                    filterNames.push_back(gtk_file_filter_get_name(GTK_FILE_FILTER(f->data)));
                g_slist_free(filters);
                gtk_file_chooser_set_current_folder(chooser, folder.c_str());
                gtk_file_chooser_set_current_name(chooser, "chosen");
                gtk_dialog_response(GTK_DIALOG(item->data), GTK_RESPONSE_ACCEPT);
            }
            g_list_free(toplevels);
        }
    };
    platform->window.Post(HostMessage{kOpenDialog, 0, 0});
    ASSERT_TRUE(RunUntil(*platform, [&] { return done; }));
    EXPECT_EQ(filterNames, (std::vector<std::string>{"安装程序(*.run)", "所有文件(*.*)"}));
    ASSERT_TRUE(chosen);
    EXPECT_EQ(*chosen, (folder / "chosen.run").string());
}

} // namespace
} // namespace tarvik::testing
