#include "host_fixture.h"

#include <algorithm>
#include <ostream>
#include <string>

namespace tarvik::testing {
namespace {

using namespace std::string_literals;

using platform::ShowCommand;

// Everything a page message can do that the page, the desktop or the service could notice.
struct Observed {
    std::optional<ShowCommand> show;
    std::vector<std::pair<uint32_t, int64_t>> posted; // message id and lParam
    std::vector<std::string> notices;
    std::optional<int> ended;
    bool dragging = false;
    std::vector<std::string> events;
    std::vector<std::string> opened;
    std::optional<std::pair<uint32_t, uint32_t>> size;
    std::string title;
    size_t messageBoxes = 0;
    std::vector<std::string> revealed;
    std::vector<std::string> folders; // opened in the file manager
    std::vector<std::string> installers;
    int webViewFits = 0; // the web view was fitted to the window's client area
    bool operator==(const Observed&) const = default;
};

void PrintTo(const Observed& o, std::ostream* out) {
    *out << "{show=" << (o.show ? static_cast<int>(*o.show) : -1) << " posted=[";
    for (const auto& [id, lParam] : o.posted)
        *out << std::hex << "0x" << id << std::dec << ":" << lParam << " ";
    *out << "] notices=[";
    for (const auto& n : o.notices)
        *out << n << " ";
    *out << "] ended=" << (o.ended ? *o.ended : -1) << " dragging=" << o.dragging << " events=[";
    for (const auto& e : o.events)
        *out << e << " ";
    *out << "] opened=[";
    for (const auto& u : o.opened)
        *out << u << " ";
    *out << "] size=";
    if (o.size)
        *out << o.size->first << "x" << o.size->second;
    *out << " title=" << o.title << " boxes=" << o.messageBoxes << " revealed=[";
    for (const auto& r : o.revealed)
        *out << r << " ";
    *out << "] folders=[";
    for (const auto& f : o.folders)
        *out << f << " ";
    *out << "] installers=[";
    for (const auto& i : o.installers)
        *out << i << " ";
    *out << "] fits=" << o.webViewFits << "}";
}

const std::string kStart = R"({"msg_type":"dnld","status":1,"status_text":"dnld_start"})";
const std::string kFinished = R"({"msg_type":"dnld","status":2,"status_text":"dnld_finished"})";
const std::string kCloseNotice = R"({"msg_type":"close","status":1,"status_text":"dnld_running"})";

// Stands for the fixture's Downloads folder in the table's paths.
const std::string kDownloads = "<Downloads>";
// Where a finished download of the fixture lies.
const std::string kSaved = kDownloads + "/Setup.exe";

struct Case {
    std::string message;
    // The download state when the message arrives, reached by the page's own road: Running is
    // the fixture's stalling download, Finished its completed one.
    DownloadState state;
    Observed expected;
};

Observed Ended(int code) {
    Observed o;
    o.ended = code;
    return o;
}
// The window reports a change of state as WM_SIZE of that kind (the 480 x 325 client size
// stays in the double), the host fits the web view and tells the page the new state. Restoring a
// window that is already normal changes nothing.
Observed Shown(ShowCommand command) {
    Observed o;
    o.show = command;
    if (command == ShowCommand::Normal)
        return o;
    const bool minimized = command == ShowCommand::Minimized;
    o.posted = {{WM_SIZE, MakePointParam(480, 325)}};
    o.notices = {std::string(R"({"msg_type":"window","state":")") +
                 (minimized ? "minimized" : "maximized") + R"("})"};
    o.webViewFits = 1;
    return o;
}
Observed Opened(const std::string& url) {
    Observed o;
    o.opened = {url};
    o.events = {"4"};
    return o;
}
Observed Reported(const std::string& event) {
    Observed o;
    o.events = {event};
    return o;
}
// The window takes the size clamped to the screen's 1920 x 1040 work area (at least 1 x 1),
// reports its new client size with WM_SIZE, and the host fits the web view to it.
Observed Resized(uint32_t width, uint32_t height, const std::string& title = "") {
    Observed o;
    o.size = {{width, height}};
    o.title = title;
    o.events = {"5"};
    o.posted = {{WM_SIZE, MakePointParam(static_cast<int32_t>(std::clamp(width, 1u, 1920u)),
                                         static_cast<int32_t>(std::clamp(height, 1u, 1040u)))}};
    o.webViewFits = 1;
    return o;
}
Observed Posted(uint32_t id, int64_t lParam, bool dragging = false) {
    Observed o;
    o.posted = {{id, lParam}};
    o.dragging = dragging;
    return o;
}
// The repeated start goes through the queue, behind what the worker has posted, tagged with the
// run's first transfer.
Observed Repeated(uint32_t id, const std::string& notice) {
    Observed o;
    o.posted = {{id, 1}};
    o.notices = {notice};
    return o;
}
Observed Notice(const std::string& notice) {
    Observed o;
    o.notices = {notice};
    return o;
}
// With no file of this run to show, the file manager opens the Downloads folder.
Observed FolderOpened(const std::string& folder) {
    Observed o;
    o.folders = {folder};
    return o;
}
// The page hears why, then the failure box, then where to find the installer.
Observed LaunchFailed(const std::string& folder) {
    Observed o = FolderOpened(folder);
    o.notices = {R"({"msg_type":"install","reason":"no_file","status_text":"install_failed"})"};
    o.messageBoxes = 1;
    return o;
}
Observed Launched(const std::string& path) {
    Observed o;
    o.installers = {path};
    o.notices = {R"({"msg_type":"install","status_text":"install_started"})"};
    return o;
}
Observed Revealed(const std::string& path) {
    Observed o;
    o.revealed = {path};
    return o;
}
const std::string kCancelled =
    R"({"msg_type":"dnld","reason":"cancelled","status":0,"status_text":"dnld_failed"})";

const Observed kNothing;
constexpr auto kIdle = DownloadState::Idle;
constexpr auto kRunning = DownloadState::Running;
constexpr auto kFinished_ = DownloadState::Finished;

const Case kCases[] = {
    // Window commands; they need no arguments.
    // Only a running download is cancelled.
    {R"({"msg_type":"dnld_cancel"})", kIdle, {}},
    {R"({"msg_type":"dnld_cancel","msg_data":{"x":1}})", kRunning, Notice(kCancelled)},
    {R"({"msg_type":"dnld_cancel"})", kFinished_, {}},
    {R"({"msg_type":"minimize"})", kIdle, Shown(ShowCommand::Minimized)},
    {R"({"msg_type":"maximize","msg_data":null})", kIdle, Shown(ShowCommand::Maximized)},
    {R"({"msg_type":"restore","msg_data":[1]})", kIdle, Shown(ShowCommand::Normal)},

    // Messages that are not commands are ignored.
    {R"({"msg_data":{}})", kIdle, kNothing},
    {R"([1,2])", kIdle, kNothing},
    {R"("minimize")", kIdle, kNothing},
    {R"({"msg_type":"Minimize"})", kIdle, kNothing},
    {R"({"msg_type":"Open_URL","msg_data":{"url":"https://example.test/"}})", kIdle, kNothing},
    {R"({"msg_type":"launch_rockets"})", kIdle, kNothing},
    {R"({"msg_type":5})", kIdle, kNothing},
    {R"({"msg_type":"minimize"} // comment)", kIdle, kNothing},
    {R"({"msg_type":"minimize"}{})", kIdle, kNothing},
    {R"({"msg_type":)", kIdle, kNothing},
    {"", kIdle, kNothing},
    // The page's text arrives whole; a zero byte does not end it, and what follows makes it
    // invalid JSON.
    {R"({"msg_type":"minimize"})"
     "\0garbage"s,
     kIdle, kNothing},
    {R"({"msg_type":"minimize"})"
     "\0"s,
     kIdle, kNothing},

    // Links: only absolute web URLs and mail links with an address reach the desktop, each
    // followed by event "4"; nothing else is opened, and no event tells of it.
    {R"({"msg_type":"open_url","msg_data":{"url":"https://example.test/help?a=1"}})", kIdle,
     Opened("https://example.test/help?a=1")},
    {R"({"msg_type":"open_url","msg_data":{"url":"HTTP://example.test"}})", kIdle,
     Opened("HTTP://example.test")},
    {R"({"msg_type":"open_url","msg_data":{"url":"file:///etc/passwd"}})", kIdle, kNothing},
    {R"({"msg_type":"open_url","msg_data":{"url":"/usr/bin/xterm"}})", kIdle, kNothing},
    {R"j({"msg_type":"open_url","msg_data":{"url":"javascript:alert(1)"}})j", kIdle, kNothing},
    {R"({"msg_type":"open_url","msg_data":{"url":"https://"}})", kIdle, kNothing},
    {R"({"msg_type":"open_url","msg_data":{"url":"https://a.test/ --new-window"}})", kIdle,
     kNothing},
    {R"({"msg_type":"open_url","msg_data":{"url":"https://a.test/\u0000 --new-window"}})", kIdle,
     kNothing},
    {R"({"msg_type":"open_url","msg_data":{"url":"https://user@a.test:8443/p?q#f"}})", kIdle,
     Opened("https://user@a.test:8443/p?q#f")},
    // Forms a lenient reader would repair into "http://x/" are no links.
    {R"({"msg_type":"open_url","msg_data":{"url":"http:/x"}})", kIdle, kNothing},
    {R"({"msg_type":"open_url","msg_data":{"url":"http:///x"}})", kIdle, kNothing},
    {R"({"msg_type":"open_url","msg_data":{"url":"http:x"}})", kIdle, kNothing},
    {R"({"msg_type":"open_url","msg_data":{"url":"http:\\\\x"}})", kIdle, kNothing},
    {R"({"msg_type":"open_url","msg_data":{"url":"https://user@/x"}})", kIdle, kNothing},
    {R"({"msg_type":"open_url","msg_data":{"url":"https://a.test:99999/"}})", kIdle, kNothing},
    {R"({"msg_type":"open_url","msg_data":{"url":5}})", kIdle, kNothing},
    {R"({"msg_type":"open_url"})", kIdle, kNothing},
    {R"({"msg_type":"open_url","msg_data":{"url":"smb://server/share/setup.exe"}})", kIdle,
     kNothing},
    {R"({"msg_type":"open_url","msg_data":{"url":"tel:+15550100"}})", kIdle, kNothing},
    {R"({"msg_type":"open_url","msg_data":{"url":"mailto:support@vendor.example"}})", kIdle,
     Opened("mailto:support@vendor.example")},
    {R"({"msg_type":"open_url","msg_data":{"url":"MailTo:a@v.example,b@v.example?subject=Setup%20help&body=Hi%0D%0A"}})",
     kIdle, Opened("MailTo:a@v.example,b@v.example?subject=Setup%20help&body=Hi%0D%0A")},
    // A mail link names someone, and holds nothing a mail program's command line could split.
    {R"({"msg_type":"open_url","msg_data":{"url":"mailto:"}})", kIdle, kNothing},
    {R"({"msg_type":"open_url","msg_data":{"url":"mailto:?subject=Hi"}})", kIdle, kNothing},
    {R"({"msg_type":"open_url","msg_data":{"url":"mailto:support"}})", kIdle, kNothing},
    {R"({"msg_type":"open_url","msg_data":{"url":"mailto:@vendor.example"}})", kIdle, kNothing},
    {R"({"msg_type":"open_url","msg_data":{"url":"mailto:support@"}})", kIdle, kNothing},
    {R"({"msg_type":"open_url","msg_data":{"url":"mailto:a@v.example,"}})", kIdle, kNothing},
    {R"({"msg_type":"open_url","msg_data":{"url":"mailto:a@v.example?subject=a b"}})", kIdle,
     kNothing},
    {R"({"msg_type":"open_url","msg_data":{"url":"mailto:a@v.example
--compose"}})",
     kIdle, kNothing},
    {R"({"msg_type":"open_url","msg_data":{"url":"mailto:"a"@v.example"}})", kIdle, kNothing},
    {R"({"msg_type":"open_url","msg_data":{"url":"mailto:a@v.example\x"}})", kIdle, kNothing},
    {R"({"msg_type":"open_url","msg_data":{"url":"mailto:a@v.example?body=100%"}})", kIdle,
     kNothing},
    {R"({"msg_type":"open_url","msg_data":{"url":"mailto:a@v.example?body=%zz"}})", kIdle,
     kNothing},
    {R"({"msg_type":"open_url","msg_data":{"url":"mailto:a@v.example#x"}})", kIdle, kNothing},
    {R"({"msg_type":"open_url","msg_data":{"url":"mailtox:a@v.example"}})", kIdle, kNothing},

    // Events from the page are reported unchanged.
    {R"({"msg_type":"post_data","msg_data":{"event_id":"abc"}})", kIdle, Reported("abc")},
    {"{\"msg_type\":\"post_data\",\"msg_data\":{\"event_id\":\"\xE4\xB8\x8B\xE8\xBD\xBD\"}}", kIdle,
     Reported("\xE4\xB8\x8B\xE8\xBD\xBD")},
    {R"({"msg_type":"post_data","msg_data":{"event_id":7}})", kIdle, kNothing},
    {R"({"msg_type":"post_data","msg_data":"abc"})", kIdle, kNothing},

    // Close: force_close must be a boolean; during a download without it the page is asked.
    {R"({"msg_type":"close","msg_data":{"force_close":false}})", kIdle, Ended(1)},
    {R"({"msg_type":"close","msg_data":{"force_close":true}})", kIdle, Ended(1)},
    {R"({"msg_type":"close"})", kIdle, kNothing},
    {R"({"msg_type":"close","msg_data":{"force_close":"true"}})", kIdle, kNothing},
    {R"({"msg_type":"close","msg_data":{"force_close":1}})", kIdle, kNothing},
    {R"({"msg_type":"close","msg_data":{"force_close":false}})", kRunning, Notice(kCloseNotice)},
    {R"({"msg_type":"close","msg_data":{"force_close":true}})", kRunning, Ended(1)},
    {R"({"msg_type":"close","msg_data":{"force_close":false}})", kFinished_, Ended(1)},

    // Window size: numbers may be fractions, booleans or wider integers; a missing size is 0.
    {R"({"msg_type":"resize_window","msg_data":{"width":800,"height":600,"window_text":"Demo"}})",
     kIdle, Resized(800, 600, "Demo")},
    {R"({"msg_type":"resize_window","msg_data":{"width":800}})", kIdle, Resized(800, 0)},
    {R"({"msg_type":"resize_window"})", kIdle, Resized(0, 0)},
    {R"({"msg_type":"resize_window","msg_data":"big"})", kIdle, Resized(0, 0)},
    {R"({"msg_type":"resize_window","msg_data":{"width":800.9,"height":-0.5}})", kIdle,
     Resized(800, 0)},
    {R"({"msg_type":"resize_window","msg_data":{"width":true,"height":false}})", kIdle,
     Resized(1, 0)},
    {R"({"msg_type":"resize_window","msg_data":{"width":4294967396,"height":-4294967196}})", kIdle,
     Resized(100, 100)},
    {R"({"msg_type":"resize_window","msg_data":{"width":"800"}})", kIdle, kNothing},
    {R"({"msg_type":"resize_window","msg_data":{"width":null}})", kIdle, kNothing},
    {R"({"msg_type":"resize_window","msg_data":{"window_text":5}})", kIdle, kNothing},

    // Mouse commands post their button messages with the low 16 bits of each coordinate.
    {R"({"msg_type":"mousedown","msg_data":{"x":10,"y":20}})", kIdle,
     Posted(WM_LBUTTONDOWN, MakePointParam(10, 20), true)},
    {R"({"msg_type":"mousedown","msg_data":{"x":70000,"y":-1}})", kIdle,
     Posted(WM_LBUTTONDOWN, 4464 | (0xFFFFll << 16), true)},
    {R"({"msg_type":"mousedown","msg_data":{"x":10.9,"y":true}})", kIdle,
     Posted(WM_LBUTTONDOWN, MakePointParam(10, 1), true)},
    {R"({"msg_type":"mousedown","msg_data":{"x":10}})", kIdle, kNothing},
    {R"({"msg_type":"mousedown"})", kIdle, kNothing},
    {R"({"msg_type":"mouseup","msg_data":{"x":1,"y":2}})", kIdle,
     Posted(WM_LBUTTONUP, MakePointParam(1, 2))},
    {R"({"msg_type":"mousemove","msg_data":{"x":40000,"y":3}})", kIdle,
     Posted(WM_MOUSEMOVE, MakePointParam(40000, 3))},

    // A download that runs or has finished only repeats its notice, whatever the arguments; the
    // finished one directly, as there is nothing left to wait for.
    {R"({"msg_type":"dnld"})", kRunning, Repeated(WM_DNLD_START, kStart)},
    {R"({"msg_type":"dnld","msg_data":{"url":"http://127.0.0.1:1/x.exe","silent":true}})", kRunning,
     Repeated(WM_DNLD_START, kStart)},
    {R"({"msg_type":"dnld","msg_data":{"url":"http://127.0.0.1:1/x.exe","silent":true}})",
     kFinished_, Notice(kFinished)},
    {R"({"msg_type":"dnld"})", kFinished_, Notice(kFinished)},
    {R"({"msg_type":"dnld","msg_data":{"url":"http://127.0.0.1:1/x.exe"}})", kIdle, kNothing},
    {R"({"msg_type":"dnld","msg_data":{"url":5,"silent":true}})", kIdle, kNothing},

    // Only a file this run completed is launched or shown; before its end the launch fails and
    // the folder opens.
    {R"({"msg_type":"install"})", kIdle, LaunchFailed(kDownloads)},
    {R"({"msg_type":"install"})", kRunning, LaunchFailed(kDownloads)},
    {R"({"msg_type":"install"})", kFinished_, Launched(kSaved)},
    {R"({"msg_type":"open_dnld_dir"})", kIdle, FolderOpened(kDownloads)},
    {R"({"msg_type":"open_dnld_dir"})", kRunning, FolderOpened(kDownloads)},
    {R"({"msg_type":"open_dnld_dir"})", kFinished_, Revealed(kSaved)},
};

class PageCommandsTest : public HostFixture {};
class PageMessageTable : public HostFixture, public ::testing::WithParamInterface<Case> {};

void PrintTo(const Case& c, std::ostream* out) {
    *out << c.message << " in state " << static_cast<int>(c.state);
}

TEST_P(PageMessageTable, HasExactlyItsEffect) {
    const Case& c = GetParam();
    {
        StartHost();
        ReachDownloadState(c.state);
        platform.window.Pump();
        const size_t postedBefore = platform.window.PostedMessages().size();
        const size_t eventsBefore = Events().size();
        platform.webView.notices.clear();
        platform.window.requestedSize.reset();
        platform.window.title.clear();
        platform.webView.fits = 0;

        Send(c.message);

        Observed observed;
        observed.show = platform.window.lastShowCommand;
        const auto posted = platform.window.PostedMessages();
        for (size_t i = postedBefore; i < posted.size(); ++i)
            observed.posted.emplace_back(posted[i].id, posted[i].lParam);
        observed.notices = Notices();
        observed.ended = platform.window.endDialogResult;
        observed.dragging = host->dragging();
        const auto events = Events();
        observed.events.assign(events.begin() + static_cast<std::ptrdiff_t>(eventsBefore),
                               events.end());
        observed.opened = platform.desktop.openedUris;
        observed.size = platform.window.requestedSize;
        observed.title = platform.window.title;
        observed.messageBoxes = platform.desktop.messageBoxes.size();
        // The fixture's folder is a new one each run; the table names it by its placeholder.
        const auto masked = [&](std::vector<std::string> paths) {
            for (std::string& path : paths) {
                const std::string& downloads = platform.desktop.downloadsFolder;
                if (!path.starts_with(downloads))
                    continue;
                std::string rest = path.substr(downloads.size());
                std::replace(rest.begin(), rest.end(), '\\', '/');
                path = kDownloads + rest;
            }
            return paths;
        };
        observed.revealed = masked(platform.desktop.revealedPaths);
        observed.folders = masked(platform.desktop.openedFolders);
        observed.installers = masked(platform.desktop.startedInstallers);
        observed.webViewFits = platform.webView.fits;
        EXPECT_EQ(observed, c.expected);
    }
}

INSTANTIATE_TEST_SUITE_P(Commands, PageMessageTable, ::testing::ValuesIn(kCases));

TEST_F(PageCommandsTest, MouseCoordinatesAreReadBackAsSigned16Bit) {
    EXPECT_EQ(PointParamX(MakePointParam(70000, 0)), 4464);
    EXPECT_EQ(PointParamX(MakePointParam(40000, 0)), -25536);
    EXPECT_EQ(PointParamY(MakePointParam(0, -1)), -1);
}

TEST_F(PageCommandsTest, InstallBeforeAnyDownloadShowsTheBoxThenTheDownloadsFolder) {
    StartHost();
    Send(R"({"msg_type":"install"})");
    ASSERT_EQ(platform.desktop.messageBoxes.size(), 1u);
    EXPECT_EQ(platform.desktop.messageBoxes[0].text,
              "Could not run the installer. Please run it yourself...\n\n"
              "No download of the installer has finished.");
    EXPECT_EQ(platform.desktop.messageBoxes[0].caption, "Run failed");
    EXPECT_EQ(platform.desktop.openedFolders,
              std::vector<std::string>{platform.desktop.downloadsFolder})
        << "the box promises the installer can be run by hand; the folder is shown next";
    EXPECT_TRUE(platform.desktop.revealedPaths.empty());
    EXPECT_TRUE(platform.desktop.startedInstallers.empty()) << "no file, nothing to elevate";
}

TEST_F(PageCommandsTest, WithoutAnyDownloadsFolderNothingIsShown) {
    platform.desktop.downloadsFolder.clear();
    StartHost();
    Send(R"({"msg_type":"open_dnld_dir"})");
    Send(R"({"msg_type":"install"})");
    EXPECT_EQ(platform.desktop.messageBoxes.size(), 1u);
    EXPECT_TRUE(platform.desktop.openedFolders.empty());
    EXPECT_TRUE(platform.desktop.revealedPaths.empty());
}

TEST_F(PageCommandsTest, ThePageIsToldEachChangeOfTheWindowsState) {
    StartHost();
    platform.webView.notices.clear();
    for (const char* command : {"minimize", "restore", "maximize", "maximize", "restore"})
        Send(std::string(R"({"msg_type":")") + command + R"("})");
    EXPECT_EQ(Notices(), (std::vector<std::string>{R"({"msg_type":"window","state":"minimized"})",
                                                   R"({"msg_type":"window","state":"normal"})",
                                                   R"({"msg_type":"window","state":"maximized"})",
                                                   R"({"msg_type":"window","state":"normal"})"}));
}

// A link that would take the window away from the page goes to the default browser (or the mail
// program) under the same rule as "open_url", but the page did not ask for it, so no event is
// reported.
TEST_F(PageCommandsTest, LeavingThePageOpensOnlyWebAndMailLinksAndReportsNothing) {
    StartHost();
    const size_t eventsBefore = Events().size();
    const char* leaving[] = {"https://vendor.example/terms",
                             "http://other.example/",
                             "file:///etc/passwd",
                             "javascript:alert(1)",
                             "about:blank",
                             "https://bad.example/a b",
                             "mailto:support@vendor.example",
                             "mailto:",
                             "smb://server/share"};
    for (const char* url : leaving)
        platform.webView.LeavePage(url);
    platform.window.Pump();
    EXPECT_EQ(platform.desktop.openedUris,
              (std::vector<std::string>{"https://vendor.example/terms", "http://other.example/",
                                        "mailto:support@vendor.example"}));
    EXPECT_EQ(Events().size(), eventsBefore);
}

} // namespace
} // namespace tarvik::testing
