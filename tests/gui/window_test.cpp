#include "gui/gui_test_support.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <csignal>
#include <cstring>

namespace tarvik::testing {
namespace {

using platform::Point;
using platform::Rect;

// Xvfb's screen in these tests, with no window manager and so no reserved work area.
constexpr int kScreenWidth = 1280;
constexpr int kScreenHeight = 1024;

class HostWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform = MakeGtkPlatform();
        ASSERT_TRUE(platform);
        platform->window.Create(host);
    }

    // Runs the loop until the X server has the window where the window layer says it is.
    bool Settles() {
        return RunUntil(
            *platform, [&] { return XServerGeometry(*platform) == platform->window.Bounds(); },
            std::chrono::seconds(15));
    }

    std::unique_ptr<platform::gtk::GtkPlatform> platform;
    RecordingHost host;
};

TEST_F(HostWindowTest, IsCreatedWithWmCreateAndStaysHiddenUntilPresented) {
    ASSERT_FALSE(host.messages.empty());
    EXPECT_EQ(host.messages.front().id, WM_CREATE);

    // Placed and sized, with its loop running: still nothing on the screen.
    platform->window.SetBounds(Rect{100, 50, 500, 350});
    platform->window.SetSize(600, 400);
    RunFor(*platform, std::chrono::milliseconds(200));
    EXPECT_FALSE(gtk_widget_get_mapped(GTK_WIDGET(platform->window.Widget())));
    EXPECT_FALSE(platform->window.IsOnScreen());

    platform->window.Present();
    EXPECT_EQ(platform->window.Bounds(), (Rect{100, 50, 700, 450}));
    ASSERT_TRUE(Settles()) << XServerGeometry(*platform);
    EXPECT_TRUE(gtk_widget_get_mapped(GTK_WIDGET(platform->window.Widget())));
    EXPECT_FALSE(gtk_window_get_decorated(platform->window.Widget()));
    EXPECT_FALSE(gtk_window_get_skip_taskbar_hint(platform->window.Widget()));
    EXPECT_EQ(platform->window.ScreenDpi().x, 96u);
}

TEST_F(HostWindowTest, SetSizeThenCentrePutsTheWindowInTheMiddleOfTheScreen) {
    platform->window.Present();
    struct Case {
        uint32_t width = 0;
        uint32_t height = 0;
        Rect expected;
    };
    const Case cases[] = {
        {800, 600, {240, 212, 1040, 812}},
        {kScreenWidth, kScreenHeight, {0, 0, kScreenWidth, kScreenHeight}},
        // Larger than the display: clamped to it.
        {5000, 4000, {0, 0, kScreenWidth, kScreenHeight}},
        // Nothing at all: still a window of one pixel.
        {0, 0, {639, 511, 640, 512}},
        {301, 201, {489, 411, 790, 612}},
    };
    platform->window.MoveTo(Point{-10000, 0});
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        platform->window.SetSize(c.width, c.height);
        platform->window.Center();
        EXPECT_EQ(platform->window.Bounds(), c.expected);
        ASSERT_TRUE(Settles()) << XServerGeometry(*platform);
    }
    // The host learns the new client size, as it needs for the web view's bounds.
    EXPECT_TRUE(RunUntil(*platform, [&] {
        const auto sizes = host.WithId(WM_SIZE);
        return !sizes.empty() && PointParamX(sizes.back().lParam) == 301 &&
               PointParamY(sizes.back().lParam) == 201;
    })) << "no WM_SIZE for the last size";
}

TEST_F(HostWindowTest, MoveWindowPlacesItAndClientPointsFollow) {
    platform->window.Present();
    platform->window.SetBounds(Rect{100, 50, 500, 350});
    EXPECT_EQ(platform->window.Bounds(), (Rect{100, 50, 500, 350}));
    ASSERT_TRUE(Settles()) << XServerGeometry(*platform);
    const Point screen = platform->window.ClientToScreen(Point{10, 20});
    EXPECT_EQ(screen.x, 110);
    EXPECT_EQ(screen.y, 70);

    // A drag moves in many small steps; each must land, the last one where it was asked.
    for (int step = 1; step <= 20; ++step)
        platform->window.SetBounds(
            Rect{100 + step * 7, 50 + step * 3, 500 + step * 7, 350 + step * 3});
    EXPECT_EQ(platform->window.Bounds(), (Rect{240, 110, 640, 410}));
    ASSERT_TRUE(Settles()) << XServerGeometry(*platform);
}

TEST_F(HostWindowTest, CloseRequestGoesToTheHostAndLeavesTheWindow) {
    platform->window.Present();
    ASSERT_TRUE(Settles());
    gtk_window_close(platform->window.Widget());
    ASSERT_TRUE(RunUntil(*platform, [&] { return !host.WithId(WM_CLOSE).empty(); }));
    EXPECT_TRUE(gtk_widget_get_visible(GTK_WIDGET(platform->window.Widget())));
}

// A stop signal (log-out, Ctrl+C, a closed terminal) reaches the host as one close request, even
// while a modal dialog runs its own loop, and ends that dialog; the signal has its default action
// again afterwards, so a second one ends the process at once.
TEST_F(HostWindowTest, StopSignalsBecomeOneCloseRequestAndASecondOneEndsAtOnce) {
    struct Observed {
        size_t closeRequests = 0;
        bool boxEnded = false;
        bool defaultActionAgain = false;
        bool operator==(const Observed&) const = default;
    };
    constexpr uint32_t kShowBox = WM_USER + 0x300;
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(strsignal(signal));
        platform.reset();
        host.messages.clear();
        platform = MakeGtkPlatform();
        ASSERT_TRUE(platform);
        platform->window.Create(host);
        Observed observed;
        host.onMessage = [&](const HostMessage& message) {
            if (message.id != kShowBox)
                return;
            // Handled by the box's own loop.
            raise(signal);
            platform->desktop.ShowMessageBox("text", "caption");
            observed.boxEnded = true;
        };
        platform->window.Post(HostMessage{kShowBox, 0, 0});
        ASSERT_TRUE(RunUntil(*platform, [&] { return observed.boxEnded; }));
        // The close request, then a while for a second one that must not come.
        RunUntil(*platform, [&] { return !host.WithId(WM_CLOSE).empty(); });
        RunFor(*platform, std::chrono::milliseconds(200));
        observed.closeRequests = host.WithId(WM_CLOSE).size();
        struct sigaction action {};
        sigaction(signal, nullptr, &action);
        observed.defaultActionAgain = action.sa_handler == SIG_DFL;
        EXPECT_EQ(observed, (Observed{1, true, true}));
    }
    host.onMessage = nullptr;
}

TEST_F(HostWindowTest, EndDialogEndsTheLoopWithItsCode) {
    host.onMessage = [&](const HostMessage& message) {
        if (message.id == WM_USER + 7)
            platform->window.EndDialog(int(message.wParam));
    };
    platform->window.Post(HostMessage{WM_USER + 7, 42, 0});
    EXPECT_EQ(platform->window.RunModalLoop(), 42);
}

TEST_F(HostWindowTest, CapturedPointerReachesTheHostOverTheWebViewAndBeyond) {
    platform->window.Present();
    bool ready = false;
    platform->webView.Create([&] { ready = true; });
    platform->window.SetBounds(Rect{100, 100, 500, 400});
    ASSERT_TRUE(Settles());
    ASSERT_TRUE(RunUntil(*platform, [&] { return ready; }));
    WebKitWebView* view = platform->webView.Widget();
    platform->webView.Navigate("about:blank");
    ASSERT_TRUE(RunUntil(*platform, [&] {
        const char* uri = webkit_web_view_get_uri(view);
        return uri && std::strcmp(uri, "about:blank") == 0 && !webkit_web_view_is_loading(view);
    }));

    // The button goes down over the web view, as when the page's title area is grabbed; the
    // capture is taken once the view has had the press.
    bool pressed = false;
    const gulong onPress =
        g_signal_connect(view, "button-press-event",
                         G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer flag) -> gboolean {
                             *static_cast<bool*>(flag) = true;
                             return FALSE;
                         }),
                         &pressed);
    ASSERT_TRUE(RunCommand("xdotool mousemove 150 150 mousedown 1"));
    const bool pressArrived = RunUntil(*platform, [&] { return pressed; });
    g_signal_handler_disconnect(view, onPress);
    ASSERT_TRUE(pressArrived);
    platform->window.CapturePointer();
    host.messages.clear();
    // Outside the window: only a capture brings these to the host.
    ASSERT_TRUE(RunCommand("xdotool mousemove 700 600"));
    ASSERT_TRUE(RunUntil(*platform, [&] {
        const auto moves = host.WithId(WM_MOUSEMOVE);
        return !moves.empty() && PointParamX(moves.back().lParam) == 600;
    })) << "no motion while captured";
    const auto moves = host.WithId(WM_MOUSEMOVE);
    EXPECT_EQ(PointParamY(moves.back().lParam), 500);

    ASSERT_TRUE(RunCommand("xdotool mouseup 1"));
    ASSERT_TRUE(RunUntil(*platform, [&] { return !host.WithId(WM_LBUTTONUP).empty(); }));
    const auto up = host.WithId(WM_LBUTTONUP).front();
    EXPECT_EQ(PointParamX(up.lParam), 600);
    EXPECT_EQ(PointParamY(up.lParam), 500);

    // Released: motion elsewhere no longer reaches the host.
    platform->window.ReleasePointer();
    host.messages.clear();
    ASSERT_TRUE(RunCommand("xdotool mousemove 900 700"));
    RunFor(*platform, std::chrono::milliseconds(200));
    EXPECT_TRUE(host.WithId(WM_MOUSEMOVE).empty());
}

} // namespace
} // namespace tarvik::testing
