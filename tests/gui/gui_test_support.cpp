#include "gui/gui_test_support.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>

// Last: Xlib's macros (None, Bool) clash with names in the headers above.
#include <gdk/gdkx.h>

#include <cstdio>
#include <cstdlib>
#include <regex>

namespace tarvik::testing {

namespace {

struct LoopCheck {
    platform::gtk::GtkPlatform* platform = nullptr;
    const std::function<bool()>* done = nullptr;
    std::chrono::steady_clock::time_point deadline;
    bool met = false;
};

gboolean CheckLoop(gpointer data) {
    auto* check = static_cast<LoopCheck*>(data);
    if ((*check->done)()) {
        check->met = true;
        check->platform->window.EndDialog(1);
        return G_SOURCE_REMOVE;
    }
    if (std::chrono::steady_clock::now() >= check->deadline) {
        check->platform->window.EndDialog(0);
        return G_SOURCE_REMOVE;
    }
    return G_SOURCE_CONTINUE;
}

struct PipeClose {
    void operator()(FILE* pipe) const { pclose(pipe); }
};

} // namespace

std::vector<HostMessage> RecordingHost::WithId(uint32_t id) const {
    std::vector<HostMessage> matching;
    for (const HostMessage& message : messages) {
        if (message.id == id)
            matching.push_back(message);
    }
    return matching;
}

std::unique_ptr<platform::gtk::GtkPlatform> TryMakeGtkPlatform(std::string& error) {
    int argc = 1;
    char name[] = "gui_tests";
    char* args[] = {name, nullptr};
    char** argv = args;
    return platform::gtk::CreateGtkPlatform(&argc, &argv, error);
}

std::unique_ptr<platform::gtk::GtkPlatform> MakeGtkPlatform() {
    std::string error;
    auto platform = TryMakeGtkPlatform(error);
    EXPECT_TRUE(platform) << error;
    return platform;
}

bool RunUntil(platform::gtk::GtkPlatform& platform, const std::function<bool()>& done,
              std::chrono::milliseconds timeout) {
    LoopCheck check{&platform, &done, std::chrono::steady_clock::now() + timeout};
    const guint source = g_timeout_add(5, CheckLoop, &check);
    platform.window.RunModalLoop();
    // The source removes itself when it ends the loop; a loop ended by the host leaves it.
    GSource* left = g_main_context_find_source_by_id(nullptr, source);
    if (left && !g_source_is_destroyed(left))
        g_source_remove(source);
    return check.met;
}

void RunFor(platform::gtk::GtkPlatform& platform, std::chrono::milliseconds duration) {
    const auto until = std::chrono::steady_clock::now() + duration;
    RunUntil(
        platform, [&] { return std::chrono::steady_clock::now() >= until; }, duration * 2);
}

platform::Rect XServerGeometry(platform::gtk::GtkPlatform& platform) {
    GdkWindow* window = gtk_widget_get_window(GTK_WIDGET(platform.window.Widget()));
    if (!window)
        return {};
    const auto id = static_cast<unsigned long>(gdk_x11_window_get_xid(window));
    const std::string command = "xwininfo -id " + std::to_string(id);
    std::unique_ptr<FILE, PipeClose> pipe(popen(command.c_str(), "r"));
    if (!pipe)
        return {};
    std::string output;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe.get()))
        output += buffer;
    auto field = [&](const char* name) {
        std::smatch match;
        const std::regex pattern(std::string(name) + ":\\s*(-?\\d+)");
        return std::regex_search(output, match, pattern) ? std::stoi(match[1]) : 0;
    };
    const int left = field("Absolute upper-left X");
    const int top = field("Absolute upper-left Y");
    return platform::Rect{left, top, left + field("Width"), top + field("Height")};
}

bool RunCommand(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

} // namespace tarvik::testing
