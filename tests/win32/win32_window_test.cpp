// The win32 window and desktop under a virtual X server (Wine in CI): placement, the message
// queue between threads, and the save dialog.
#include "common/text_conversion.h"
#include "platform/win32/tray_notice.h"
#include "platform/win32/win32_platform.h"

#include <gtest/gtest.h>

#include <shellapi.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <random>
#include <thread>
#include <utility>
#include <vector>

namespace tarvik::platform::win32 {
namespace {

using platform::Point;
using platform::Rect;

// Records what the window delivers, and runs a chosen action for one message id.
class RecordingHost final : public WindowEvents {
public:
    void OnHostMessage(const HostMessage& message) override {
        messages.push_back(message);
        if (onMessage)
            onMessage(message);
    }
    std::vector<HostMessage> WithId(uint32_t id) const {
        std::vector<HostMessage> found;
        for (const HostMessage& m : messages)
            if (m.id == id)
                found.push_back(m);
        return found;
    }
    std::vector<HostMessage> messages;
    std::function<void(const HostMessage&)> onMessage;
};

RECT PrimaryWorkArea() {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    ::GetMonitorInfoW(::MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY), &info);
    return info.rcWork;
}

// Handles what is queued, for at most `timeout` (a bound for a run that went wrong, far beyond
// what a busy machine under Wine takes), until `done` holds.
bool PumpUntil(const std::function<bool()>& done, DWORD timeout = 20000) {
    const ULONGLONG end = ::GetTickCount64() + timeout;
    while (!done()) {
        if (::GetTickCount64() > end)
            return false;
        MSG msg{};
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
    return true;
}

class Win32WindowTest : public ::testing::Test {
protected:
    void SetUp() override { platform.window.Create(host); }
    Win32Platform platform;
    RecordingHost host;
};

TEST_F(Win32WindowTest, StartsFramelessOffScreenThenIsSizedAndCentred) {
    ASSERT_FALSE(host.messages.empty());
    EXPECT_EQ(host.messages.front().id, static_cast<uint32_t>(WM_CREATE));
    const HWND hwnd = platform.window.Handle();
    const LONG_PTR style = ::GetWindowLongPtrW(hwnd, GWL_STYLE);
    EXPECT_TRUE(style & WS_POPUP);
    EXPECT_FALSE(style & WS_CAPTION);
    EXPECT_TRUE(::GetWindowLongPtrW(hwnd, GWL_EXSTYLE) & WS_EX_APPWINDOW);

    // Off-screen, where the host keeps it until its page has sized it.
    const Rect initial = platform.window.Bounds();
    EXPECT_EQ(initial.Width(), kInitialWindowWidth);
    EXPECT_EQ(initial.Height(), kInitialWindowHeight);
    platform.window.MoveTo(Point{-10000, 0});
    platform.window.Show(ShowCommand::Normal);
    EXPECT_EQ(platform.window.Bounds(),
              (Rect{-10000, 0, -10000 + kInitialWindowWidth, kInitialWindowHeight}));
    EXPECT_TRUE(::IsWindowVisible(hwnd));

    const RECT work = PrimaryWorkArea();
    const int32_t workWidth = work.right - work.left;
    const int32_t workHeight = work.bottom - work.top;
    const auto centred = [&](int32_t cx, int32_t cy) {
        const int32_t left = work.left + (workWidth - cx) / 2;
        const int32_t top = work.top + (workHeight - cy) / 2;
        return Rect{left, top, left + cx, top + cy};
    };
    struct Case {
        uint32_t width;
        uint32_t height;
        Rect expected;
    };
    const Case cases[] = {
        {800, 600, centred(800, 600)},
        {301, 201, centred(301, 201)},
        // Larger than the work area: clamped to it.
        {50000, 40000, centred(workWidth, workHeight)},
        // Nothing at all: still a window of one pixel.
        {0, 0, centred(1, 1)},
        {640, 480, centred(640, 480)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        platform.window.SetSize(c.width, c.height);
        platform.window.Center();
        EXPECT_EQ(platform.window.Bounds(), c.expected);
    }
    // The host hears of the last size from the loop, as the window system reports it.
    EXPECT_TRUE(PumpUntil([&] {
        const auto sizes = host.WithId(WM_SIZE);
        return !sizes.empty() && PointParamX(sizes.back().lParam) == 640 &&
               PointParamY(sizes.back().lParam) == 480;
    }));
}

// The title comes in UTF-8 and reaches the window as UTF-16: a product name outside the ANSI code
// page keeps every character instead of showing "?" in their place.
TEST_F(Win32WindowTest, TheTitleKeepsEveryCharacter) {
    const std::string titles[] = {
        "Demo App",
        "D\xC3\xA9mo",                                                   // in the Western code page
        "\xE5\xAE\x89\xE8\xA3\x85\xE7\xA8\x8B\xE5\xBA\x8F \xE2\x9C\x93", // outside it
        "\xF0\x9F\x93\xA6 Box",                                          // beyond U+FFFF
    };
    for (const std::string& title : titles) {
        SCOPED_TRACE(title);
        platform.window.SetTitle(title);
        wchar_t shown[64] = {};
        ::GetWindowTextW(platform.window.Handle(), shown, 64);
        EXPECT_EQ(NarrowFromWide(shown), title);
    }
}

TEST_F(Win32WindowTest, CloseRequestGoesToTheHostAndLeavesTheWindow) {
    ::PostMessageW(platform.window.Handle(), WM_CLOSE, 0, 0);
    EXPECT_TRUE(PumpUntil([&] { return !host.WithId(WM_CLOSE).empty(); }));
    EXPECT_TRUE(::IsWindow(platform.window.Handle()));
}

// A worker posts while the dialog's own loop runs: every message arrives, in order, on the
// user-interface thread, and the last one ends the loop.
TEST_F(Win32WindowTest, WorkerMessagesArriveInOrderInTheModalLoop) {
    constexpr uint32_t kProbe = WM_USER + 0x100;
    constexpr uint64_t kCount = 2000;
    const DWORD uiThread = ::GetCurrentThreadId();
    std::vector<uint64_t> order;
    bool allOnUiThread = true;
    host.onMessage = [&](const HostMessage& message) {
        if (message.id != kProbe)
            return;
        order.push_back(message.wParam);
        allOnUiThread = allOnUiThread && ::GetCurrentThreadId() == uiThread;
        if (message.wParam + 1 == kCount)
            platform.window.EndDialog(7);
    };
    platform.window.MoveTo(Point{-10000, 0});
    std::thread worker([&] {
        for (uint64_t i = 0; i < kCount; ++i)
            platform.window.Post(HostMessage{kProbe, i, -static_cast<int64_t>(i)});
    });
    EXPECT_EQ(platform.window.RunModalLoop(), 7);
    worker.join();
    std::vector<uint64_t> expected(kCount);
    for (uint64_t i = 0; i < kCount; ++i)
        expected[i] = i;
    EXPECT_EQ(order, expected);
    EXPECT_TRUE(allOnUiThread);
}

// Finds the dialog the process shows (the common dialog class) and cancels it, from a timer on
// the user-interface thread, which the dialog's own loop keeps running.
struct DialogCloser {
    static inline HWND found = nullptr;
    static inline std::wstring title;
    static BOOL CALLBACK FindDialog(HWND hwnd, LPARAM) {
        wchar_t className[64] = {};
        ::GetClassNameW(hwnd, className, 64);
        DWORD process = 0;
        ::GetWindowThreadProcessId(hwnd, &process);
        if (process == ::GetCurrentProcessId() && std::wstring(className) == L"#32770" &&
            ::IsWindowVisible(hwnd)) {
            found = hwnd;
            return FALSE;
        }
        return TRUE;
    }
    static void CALLBACK OnTimer(HWND, UINT, UINT_PTR timer, DWORD) {
        found = nullptr;
        ::EnumWindows(&FindDialog, 0);
        if (!found)
            return;
        wchar_t text[256] = {};
        ::GetWindowTextW(found, text, 256);
        title = text;
        ::KillTimer(nullptr, timer);
        ::PostMessageW(found, WM_COMMAND, IDCANCEL, 0);
    }
};

TEST_F(Win32WindowTest, SaveDialogOpensAndCancelReturnsNothing) {
    platform.window.Show(ShowCommand::Normal);
    constexpr uint32_t kDuringDialog = WM_USER + 0x200;
    bool deliveredDuringDialog = false;
    host.onMessage = [&](const HostMessage& message) {
        if (message.id == kDuringDialog)
            deliveredDuringDialog = true;
    };
    const UINT_PTR timer = ::SetTimer(nullptr, 0, 200, &DialogCloser::OnTimer);
    platform.window.Post(HostMessage{kDuringDialog, 0, 0});
    const SaveDialogRequest request{"C:\\users\\setup.exe",
                                    "exe",
                                    {{"应用程序(*.exe)", "*.exe"}, {"所有文件(*.*)", "*.*"}},
                                    "保存安装程序"};
    const std::optional<std::string> chosen = platform.desktop.ShowSaveDialog(request);
    ::KillTimer(nullptr, timer);
    EXPECT_FALSE(chosen.has_value()) << *chosen;
    EXPECT_NE(DialogCloser::title, L"") << "no dialog was seen";
    EXPECT_TRUE(deliveredDuringDialog) << "the host's queue stood still while the dialog was open";
}

TEST_F(Win32WindowTest, DownloadsFolderIsKnown) {
    const std::string folder = platform.desktop.DownloadsFolder();
    EXPECT_FALSE(folder.empty());
    EXPECT_TRUE(::GetFileAttributesW(WideFromNarrow(folder).c_str()) != INVALID_FILE_ATTRIBUTES ||
                folder.find("Downloads") != std::string::npos)
        << folder;
}

// One-shot timers: each runs out once, through the queue; a stopped one does not come, and
// starting one again moves its time.
TEST_F(Win32WindowTest, TimersRunOutOnceAndAStoppedOneStaysQuiet) {
    platform.window.StartTimer(7, std::chrono::milliseconds(30));
    platform.window.StartTimer(8, std::chrono::milliseconds(30));
    platform.window.StopTimer(8);
    platform.window.StartTimer(9, std::chrono::milliseconds(10));
    platform.window.StartTimer(9, std::chrono::milliseconds(60));
    ASSERT_TRUE(PumpUntil([&] { return host.WithId(WM_TIMER).size() >= 2; }));
    // Long enough for a repeating timer to have come again.
    PumpUntil([] { return false; }, 300);
    std::vector<uint64_t> fired;
    for (const HostMessage& m : host.WithId(WM_TIMER))
        fired.push_back(m.wParam);
    EXPECT_EQ(fired, (std::vector<uint64_t>{7, 9}));
}

// The built-in page: the host's texts for the state it names, the retry offered only after a
// failure, the two commands, and the web view's place given back on Hide.
TEST_F(Win32WindowTest, BuiltInPageShowsTheTextsOfItsStateAndSendsItsTwoCommands) {
    BuiltInPage& page = platform.builtInPage;
    std::vector<std::string> commands;
    page.SetCommandHandler([&](const std::string& command) { commands.push_back(command); });
    const std::string texts = R"("connecting_title":"Verbinden…","connecting_body":"Bitte warten",)"
                              R"("service_title":"Kein Dienst","service_body":"Später",)"
                              R"("retry":"Nochmal","close":"Schließen")";
    page.Show("{" + texts + R"(,"state":"connecting"})");
    EXPECT_TRUE(page.IsShown());
    // The host window itself is not shown yet, so the page's own visibility is asked.
    const auto visible = [&] {
        return (::GetWindowLongW(page.Handle(), GWL_STYLE) & WS_VISIBLE) != 0;
    };
    EXPECT_TRUE(visible());
    EXPECT_EQ(page.ControlText("title"), "Verbinden…");
    EXPECT_EQ(page.ControlText("body"), "Bitte warten");
    EXPECT_FALSE(page.RetryOffered());
    EXPECT_TRUE(page.ProgressShown());

    page.Show("{" + texts + R"(,"state":"service"})");
    EXPECT_EQ(page.ControlText("title"), "Kein Dienst");
    EXPECT_EQ(page.ControlText("retry"), "Nochmal");
    EXPECT_EQ(page.ControlText("close"), "Schließen");
    EXPECT_TRUE(page.RetryOffered());
    EXPECT_FALSE(page.ProgressShown()) << "a failure is no longer connecting";
    RECT pageArea{};
    RECT client{};
    ::GetClientRect(page.Handle(), &pageArea);
    ::GetClientRect(platform.window.Handle(), &client);
    EXPECT_EQ(pageArea.right, client.right);
    EXPECT_EQ(pageArea.bottom, client.bottom);

    for (const char* name : {"retry", "close"}) {
        const HWND button = ::FindWindowExW(page.Handle(), nullptr, L"BUTTON",
                                            WideFromNarrow(page.ControlText(name)).c_str());
        ASSERT_NE(button, nullptr) << name;
        ::SendMessageW(button, BM_CLICK, 0, 0);
    }
    EXPECT_EQ(commands, (std::vector<std::string>{"retry", "close"}));

    page.Show("not json");
    EXPECT_EQ(page.ControlText("title"), "") << "unreadable data shows no stale texts";
    page.Hide();
    EXPECT_FALSE(page.IsShown());
    EXPECT_FALSE(visible());
    platform.window.Destroy();
    EXPECT_EQ(page.Handle(), nullptr);
}

// The page's drag runs the system's move loop, which takes the pointer wherever the button went
// down (also in the runtime's window); once the button is up the host hears the release from the
// loop, which ends its drag, and nothing keeps the pointer.
TEST_F(Win32WindowTest, PageDragRunsTheSystemsMoveLoopAndEndsWithTheRelease) {
    const HWND hwnd = platform.window.Handle();
    platform.window.SetBounds({100, 100, 500, 400});
    platform.window.Show(ShowCommand::Normal);
    ::SetForegroundWindow(hwnd);
    const DWORD thread = ::GetCurrentThreadId();
    // The user lets go of the button once the move loop holds the pointer.
    std::thread user([hwnd, thread] {
        const ULONGLONG end = ::GetTickCount64() + 5000;
        GUITHREADINFO info{};
        info.cbSize = sizeof info;
        while (::GetTickCount64() < end &&
               !(::GetGUIThreadInfo(thread, &info) && info.hwndCapture == hwnd))
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ::PostMessageW(hwnd, WM_LBUTTONUP, 0, 0);
    });
    platform.window.CapturePointer();
    user.join();
    EXPECT_TRUE(host.WithId(WM_LBUTTONUP).empty()) << "heard from the loop, not from inside";
    EXPECT_TRUE(PumpUntil([&] { return !host.WithId(WM_LBUTTONUP).empty(); }));
    EXPECT_EQ(host.WithId(WM_LBUTTONUP).size(), 1u);
    EXPECT_EQ(::GetCapture(), nullptr);
    EXPECT_FALSE(platform.window.CapturedPointerPosition().has_value());
}

// The built-in page's buttons take the keys as a dialog's do, in the window's own loop: Tab moves
// between them, Enter presses the focused one, Esc closes. The keys are posted as the keyboard
// would post them, to the control that has the focus.
TEST_F(Win32WindowTest, BuiltInPageTakesTheDialogKeys) {
    BuiltInPage& page = platform.builtInPage;
    std::vector<std::string> commands;
    page.SetCommandHandler([&](const std::string& command) {
        commands.push_back(command);
        platform.window.EndDialog(0);
    });
    platform.window.Show(ShowCommand::Normal);
    ::SetForegroundWindow(platform.window.Handle());
    struct Case {
        const char* state;
        std::vector<WPARAM> keys;
        const char* pressed;
    };
    const std::vector<Case> cases = {
        {"service", {VK_RETURN}, "retry"},
        {"service", {VK_TAB, VK_RETURN}, "close"},
        {"service", {VK_TAB, VK_TAB, VK_RETURN}, "retry"},
        {"service", {VK_ESCAPE}, "close"},
        // While connecting only "close" is offered: Enter cannot ask to try again.
        {"connecting", {VK_RETURN}, "close"},
        {"connecting", {VK_TAB, VK_RETURN}, "close"},
    };
    for (const Case& c : cases) {
        commands.clear();
        page.Show(std::string(R"({"retry":"Retry","close":"Close","state":")") + c.state + "\"}");
        ::SetFocus(platform.window.Handle());
        // To the focused button; which button a key acts on is the focus when the loop takes it.
        const HWND focus = ::GetFocus();
        ASSERT_EQ(::GetParent(focus), page.Handle()) << c.state;
        for (const WPARAM key : c.keys) {
            ::PostMessageW(focus, WM_KEYDOWN, key, 1);
            ::PostMessageW(focus, WM_KEYUP, key, 0xC0000001);
        }
        platform.window.RunModalLoop();
        EXPECT_EQ(commands, std::vector<std::string>{c.pressed}) << c.state << " " << c.keys.size();
    }
}

// A notice while the window is not the active one: the icon goes up with its balloon, a click
// raises the window and takes the icon away, and the window's end takes away a notice left.
TEST_F(Win32WindowTest, NoticeWhileInactiveAndAClickRaisesTheWindow) {
    const HWND hwnd = platform.window.Handle();
    const TrayNotice& notice = platform.desktop.Notice();
    platform.window.Show(ShowCommand::Normal);
    ::SetForegroundWindow(hwnd);
    ASSERT_TRUE(platform.window.IsActive());
    platform.desktop.Notify("Tarvik D\xC3\xA9mo", "Ready");
    EXPECT_FALSE(notice.Shown()) << "no notice over the window the user is looking at";

    // Another program's window in front.
    const HWND other = ::CreateWindowExW(0, L"STATIC", L"other", WS_POPUP | WS_VISIBLE, 0, 0, 100,
                                         100, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(other, nullptr);
    const auto toFront = [](HWND window) {
        ::SetForegroundWindow(window);
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            ::DispatchMessageW(&message);
    };
    toFront(other);
    ASSERT_FALSE(platform.window.IsActive());
    platform.desktop.Notify("Tarvik D\xC3\xA9mo", "Ready");
    ASSERT_TRUE(notice.Shown());
    platform.desktop.Notify("Tarvik D\xC3\xA9mo", "Ready again"); // replaces it
    EXPECT_TRUE(notice.Shown());
    ::SendMessageW(notice.MessageWindow(), TrayNotice::kIconMessage, 0,
                   MAKELPARAM(NIN_BALLOONUSERCLICK, 1));
    EXPECT_FALSE(notice.Shown());
    EXPECT_TRUE(platform.window.IsActive()) << "the click brings the window to the front";

    toFront(other);
    platform.desktop.Notify("Tarvik D\xC3\xA9mo", "Ready");
    ASSERT_TRUE(notice.Shown());
    ::SendMessageW(notice.MessageWindow(), TrayNotice::kIconMessage, 0,
                   MAKELPARAM(NIN_BALLOONTIMEOUT, 1));
    EXPECT_FALSE(notice.Shown()) << "a notice that timed out leaves no icon behind";
    EXPECT_FALSE(platform.window.IsActive());

    platform.desktop.Notify("Tarvik D\xC3\xA9mo", "Ready");
    ASSERT_TRUE(notice.Shown());
    platform.window.Destroy();
    EXPECT_FALSE(notice.Shown());
    EXPECT_EQ(notice.MessageWindow(), nullptr);
    ::DestroyWindow(other);
}

TEST(NoticeTexts, AreCutToTheirBufferButNeverInsideACharacter) {
    const std::wstring smiley = L"\xD83D\xDE00"; // U+1F600, two UTF-16 units
    const struct {
        std::wstring text;
        size_t capacity;
        std::wstring expected;
    } cases[] = {
        {L"abc", 10, L"abc"},
        {L"abcdef", 4, L"abc"},
        {L"ab" + smiley, 4, L"ab"},
        {L"ab" + smiley, 5, L"ab" + smiley},
        {L"ab" + smiley + L"c", 5, L"ab" + smiley},
        {L"", 1, L""},
        {L"abc", 0, L""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FitToBuffer(c.text, c.capacity), c.expected)
            << NarrowFromWide(c.text) << " in " << c.capacity;
}

TEST(LanguageTags, BecomeTheCataloguesLocaleNames) {
    const std::pair<const char*, const char*> cases[] = {
        {"de-DE", "de_DE"},   {"zh-Hans-CN", "zh_CN"},      {"fr", "fr"},
        {"es-419", "es_419"}, {"en-US-x-private", "en_US"}, {"", ""},
    };
    for (const auto& [tag, locale] : cases)
        EXPECT_EQ(LocaleNameFromLanguageTag(tag), locale) << tag;
}

// With a publisher, the desktop starts only an installer whose code signature the system accepts
// as that publisher's (the programs signed for the tests, see signed/sign_fixtures.sh); the
// others are not started and the host hears of a failed start at once. The started one leaves
// its mark beside itself.
TEST_F(Win32WindowTest, InstallerStartsOnlyWithThePublishersSignature) {
    namespace fs = std::filesystem;
    const fs::path folder = fs::absolute(
        fs::temp_directory_path() / ("tarvik-start-" + std::to_string(std::random_device()())));
    fs::create_directories(folder);
    // The desktop holds the started installer's file until it goes.
    auto desktop = std::make_unique<Desktop>(platform.window, "Tarvik Test Vendor");
    struct Observed {
        bool failed = false;
        bool ran = false;
        bool operator==(const Observed&) const = default;
    };
    struct Case {
        const char* file = "";
        Observed expected;
    };
    for (const Case& c : {Case{"unsigned.exe", {true, false}}, Case{"other.exe", {true, false}},
                          Case{"tampered.exe", {true, false}}, Case{"vendor.exe", {false, true}}}) {
        SCOPED_TRACE(c.file);
        const fs::path installer = folder / (std::string("setup-") + c.file);
        fs::copy_file(fs::path(TARVIK_SIGNED_FROM_TEST) / c.file, installer);
        const fs::path mark = installer.string() + ".ran";
        Observed observed;
        desktop->StartInstaller(NarrowFromWide(installer.wstring()), [&](InstallerStart outcome) {
            observed.failed = outcome != InstallerStart::Started;
        });
        if (!observed.failed)
            PumpUntil([&] { return fs::exists(mark); });
        observed.ran = fs::exists(mark);
        EXPECT_EQ(observed, c.expected) << "failed " << observed.failed << ", ran " << observed.ran;
    }
    desktop.reset();
    std::error_code ignored;
    fs::remove_all(folder, ignored);
}

} // namespace
} // namespace tarvik::platform::win32
