#include "host_fixture.h"

#include "common/text_conversion.h"

#include <cctype>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace tarvik::testing {
namespace {

using platform::Rect;

class WindowPlacementTest : public HostFixture {
protected:
    void SetUp() override { StartHost(); }
};

TEST_F(WindowPlacementTest, StartsHiddenWithItsIcon) {
    EXPECT_FALSE(platform.window.shown);
    EXPECT_TRUE(platform.window.iconSet);
    EXPECT_TRUE(platform.webView.created);
}

// Page sizes are logical pixels at 96 dpi; the host asks for device pixels with 32-bit unsigned
// arithmetic, the division truncating.
TEST_F(WindowPlacementTest, SizeFollowsTheScreenResolution) {
    struct Case {
        uint32_t dpi;
        int32_t width;
        int32_t height;
        uint32_t expectedWidth;
        uint32_t expectedHeight;
    };
    const Case cases[] = {
        {96, 800, 600, 800, 600},
        {144, 800, 600, 1200, 900},
        {120, 800, 600, 1000, 750},
        {120, 801, 601, 1001, 751}, // 1001.25 and 751.25 are cut
        {96, 0, 0, 0, 0},
        {96, -1, 1, (4294967296u - 96u) / 96u, 1}, // -1 wraps around
        {144, -1, 1, static_cast<uint32_t>(4294967296ull - 144u) / 96u, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.dpi << " dpi " << c.width << "x" << c.height);
        platform.window.dpi = {c.dpi, c.dpi};
        host->ResizeWindow(c.width, c.height, std::nullopt);
        ASSERT_TRUE(platform.window.requestedSize.has_value());
        EXPECT_EQ(platform.window.requestedSize->first, c.expectedWidth);
        EXPECT_EQ(platform.window.requestedSize->second, c.expectedHeight);
    }
}

TEST_F(WindowPlacementTest, ResizeTitlesAndCentresTheWindow) {
    platform.window.workArea = {0, 0, 1920, 1040};
    host->ResizeWindow(800, 600, std::string("Setup \xE2\x9C\x93"));
    // UTF-8 on every platform, whatever the system's code page.
    EXPECT_EQ(platform.window.title, "Setup \xE2\x9C\x93");
    const Rect expected{560, 220, 1360, 820};
    EXPECT_EQ(platform.window.rect, expected);
    EXPECT_TRUE(platform.window.activated);
    // Shown first where it ends up, at its size and with its title: never at another place or
    // size, never untitled.
    using Shown = platform::headless::HeadlessWindow::FirstShown;
    EXPECT_EQ(platform.window.firstShown, (Shown{expected, "Setup \xE2\x9C\x93"}));

    // A later size keeps the first showing as it was.
    host->ResizeWindow(400, 300, std::nullopt);
    EXPECT_EQ(platform.window.firstShown, (Shown{expected, "Setup \xE2\x9C\x93"}));
    EXPECT_EQ(platform.window.rect, (Rect{760, 370, 1160, 670}));
}

TEST_F(WindowPlacementTest, TitleEndsAtAnEmbeddedZero) {
    host->ResizeWindow(10, 10, std::string("Setup\0hidden", 12));
    EXPECT_EQ(platform.window.title, "Setup");
}

TEST_F(WindowPlacementTest, DragMovesTheWindowByTheCursorDelta) {
    platform.window.SetBounds({100, 50, 500, 350});
    Send(R"({"msg_type":"mousedown","msg_data":{"x":10,"y":20}})");
    EXPECT_TRUE(host->dragging());
    EXPECT_TRUE(platform.window.pointerCaptured);

    Send(R"({"msg_type":"mousemove","msg_data":{"x":40,"y":5}})");
    EXPECT_EQ(platform.window.rect.left, 130);
    EXPECT_EQ(platform.window.rect.top, 35);
    EXPECT_EQ(platform.window.rect.Width(), 400);
    EXPECT_EQ(platform.window.rect.Height(), 300);

    // Pointer events the window system delivers while captured take part in the same drag.
    // The pointer moved 5 pixels right on screen; in client coordinates of the moved window
    // that is (15, 20).
    platform.window.SendSystemMessage({WM_MOUSEMOVE, 0, MakePointParam(15, 20)});
    EXPECT_EQ(platform.window.rect.left, 135);

    Send(R"({"msg_type":"mouseup","msg_data":{"x":45,"y":5}})");
    EXPECT_FALSE(host->dragging());
    EXPECT_FALSE(platform.window.pointerCaptured);

    Send(R"({"msg_type":"mousemove","msg_data":{"x":300,"y":300}})");
    EXPECT_EQ(platform.window.rect.left, 135) << "no move after the drag ended";
}

// The page's client coordinates are relative to where the window was when the page saw the
// pointer; with moves still on their way to the window system they overshoot. The real pointer
// position, when the window layer has it, is what the drag follows.
TEST_F(WindowPlacementTest, DragFollowsTheRealPointerWhenTheWindowLayerKnowsIt) {
    platform.window.SetBounds({100, 50, 500, 350});
    platform.window.pointerPosition = platform::Point{110, 70};
    Send(R"({"msg_type":"mousedown","msg_data":{"x":10,"y":20}})");

    platform.window.pointerPosition = platform::Point{160, 95};
    Send(R"({"msg_type":"mousemove","msg_data":{"x":60,"y":45}})");
    EXPECT_EQ(platform.window.rect.left, 150);
    EXPECT_EQ(platform.window.rect.top, 75);

    // A late page message with coordinates from before the move changes nothing more.
    Send(R"({"msg_type":"mousemove","msg_data":{"x":60,"y":45}})");
    EXPECT_EQ(platform.window.rect.left, 150);
    EXPECT_EQ(platform.window.rect.top, 75);
}

// The page repeats a coordinate while the window has already moved by the last step, so every
// move adds the whole 16-bit range to the window's position. However long that goes on, the
// window must stay where a window system can place it (and the arithmetic must not overflow).
TEST_F(WindowPlacementTest, ADragThatRepeatsACoordinateKeepsTheWindowInRange) {
    struct Case {
        int32_t down;
        int32_t move;
        int32_t expectedLeft;
    };
    for (const Case& c : {Case{-32768, 32767, 32767}, Case{32767, -32768, -32767}}) {
        SCOPED_TRACE(c.down);
        platform.window.SetBounds({100, 50, 500, 350});
        Send(R"({"msg_type":"mousedown","msg_data":{"x":)" + std::to_string(c.down) +
             R"(,"y":0}})");
        const std::string move =
            R"({"msg_type":"mousemove","msg_data":{"x":)" + std::to_string(c.move) + R"(,"y":0}})";
        for (int i = 0; i < 16'386; ++i)
            Send(move);
        Send(R"({"msg_type":"mouseup","msg_data":{"x":0,"y":0}})");
        EXPECT_EQ(platform.window.rect, (Rect{c.expectedLeft, 50, c.expectedLeft + 400, 350}));
    }
}

TEST_F(WindowPlacementTest, PressesFromTheWindowSystemNeverStartADrag) {
    platform.window.SetBounds({100, 50, 500, 350});
    platform.window.SendSystemMessage({WM_LBUTTONDOWN, 0, MakePointParam(10, 10)});
    platform.window.SendSystemMessage({WM_MOUSEMOVE, 0, MakePointParam(90, 90)});
    platform.window.SendSystemMessage({WM_LBUTTONUP, 0, MakePointParam(90, 90)});
    EXPECT_EQ(platform.window.rect.left, 100);
    EXPECT_FALSE(platform.window.pointerCaptured);
}

// A close request from the desktop (its close button, Alt+F4, the taskbar) goes the way of the
// page's own close: while a download runs the window stays and the page is asked to put its
// question; a stop signal or the session's end does not wait.
struct CloseCase {
    const char* name;
    DownloadState state;
    uint64_t closeParam;
    // What the user sees: whether the run ended (and how), and what the page was told.
    std::optional<int> ended;
    std::vector<std::string> notices;
};

void PrintTo(const CloseCase& c, std::ostream* out) {
    *out << c.name;
}

const std::string kCloseQuestion =
    R"({"msg_type":"close","status":1,"status_text":"dnld_running"})";

class CloseRequestTest : public HostFixture, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(CloseRequestTest, EndsTheRunOrLetsThePageAsk) {
    const CloseCase& c = GetParam();
    StartHost();
    ReachDownloadState(c.state);
    const size_t before = Notices().size();
    platform.window.SendSystemMessage({WM_CLOSE, c.closeParam, 0});
    platform.window.Pump();
    const std::vector<std::string> all = Notices();
    const std::vector<std::string> told(all.begin() + static_cast<std::ptrdiff_t>(before),
                                        all.end());
    EXPECT_EQ(platform.window.endDialogResult, c.ended);
    EXPECT_EQ(told, c.notices);
    if (!c.ended) {
        // The user's answer in the page ends the run as the page's close always did.
        Send(R"({"msg_type":"close","msg_data":{"force_close":true}})");
        EXPECT_EQ(platform.window.endDialogResult, kEndedByPage);
    }
}

INSTANTIATE_TEST_SUITE_P(
    FromTheDesktop, CloseRequestTest,
    ::testing::Values(
        CloseCase{"nothing running", DownloadState::Idle, 0, kEndedByCloseRequest, {}},
        CloseCase{"download running", DownloadState::Running, 0, std::nullopt, {kCloseQuestion}},
        CloseCase{"download finished", DownloadState::Finished, 0, kEndedByCloseRequest, {}},
        CloseCase{"stop signal while running",
                  DownloadState::Running,
                  kCloseAtOnce,
                  kEndedByCloseRequest,
                  {}},
        CloseCase{
            "stop signal while idle", DownloadState::Idle, kCloseAtOnce, kEndedByCloseRequest, {}}),
    [](const ::testing::TestParamInfo<CloseCase>& info) {
        std::string name = info.param.name;
        for (char& ch : name)
            if (!std::isalnum(static_cast<unsigned char>(ch)))
                ch = '_';
        return name;
    });

} // namespace
} // namespace tarvik::testing
