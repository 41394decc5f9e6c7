#include "platform/win32/host_window.h"

#include "common/text_conversion.h"
#include "platform/win32/window_instance.h"

#include <windowsx.h>

#include <algorithm>
#include <exception>

namespace tarvik::platform::win32 {
namespace {

constexpr wchar_t kClassName[] = L"TarvikHostWindow";
// A size change, queued again so that the host hears of it from the loop (WM_APP and above are
// the window class's own).
constexpr UINT kQueuedSize = WM_APP + 1;
// One action of RunFromLoop is due.
constexpr UINT kQueuedAction = WM_APP + 2;
// The system's move loop for the page's drag has ended.
constexpr UINT kMoveLoopEnded = WM_APP + 3;

// The host's own messages: WM_USER up to the class's private range.
bool IsHostMessage(UINT message) {
    return message >= WM_USER && message < WM_APP;
}

} // namespace

HostWindow::HostWindow() = default;

HostWindow::~HostWindow() {
    Destroy();
}

void HostWindow::WhenDestroyed(std::function<void()> teardown) {
    teardowns_.push_back(std::move(teardown));
}

void HostWindow::WhenResized(std::function<void()> action) {
    resized_.push_back(std::move(action));
}

void HostWindow::WhenMoved(std::function<void()> action) {
    moved_.push_back(std::move(action));
}

void HostWindow::WhenFocused(std::function<void()> action) {
    focused_.push_back(std::move(action));
}

void HostWindow::RunFromLoop(std::function<void()> action) {
    if (!hwnd_ || !action)
        return;
    // One message for each action, so that actions keep their place among the other messages
    // posted to the window.
    queued_.push_back(std::move(action));
    if (!::PostMessageW(hwnd_, kQueuedAction, 0, 0))
        queued_.pop_back();
}

void HostWindow::Post(const HostMessage& message) {
    const HWND target = postTarget_.load();
    if (target)
        ::PostMessageW(target, message.id, static_cast<WPARAM>(message.wParam),
                       static_cast<LPARAM>(message.lParam));
}

void HostWindow::Create(WindowEvents& events) {
    events_ = &events;
    static const bool registered = RegisterWindowClass(kClassName, &HostWindow::WindowProc);
    (void)registered;
    // Hidden until the loop shows it; WS_EX_APPWINDOW gives the frameless window its taskbar
    // entry.
    ::CreateWindowExW(WS_EX_APPWINDOW, kClassName, L"", WS_POPUP | WS_CLIPCHILDREN, 0, 0,
                      kInitialWindowWidth, kInitialWindowHeight, nullptr, nullptr,
                      ::GetModuleHandleW(nullptr), this);
}

LRESULT CALLBACK HostWindow::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = WindowInstance<HostWindow>(hwnd, message, lParam);
    if (self && message == WM_NCCREATE) {
        self->hwnd_ = hwnd;
        self->postTarget_ = hwnd;
    }
    if (!self)
        return ::DefWindowProcW(hwnd, message, wParam, lParam);
    // No C++ exception may cross the system's frames: a failure there ends the program plainly.
    try {
        return self->Handle(hwnd, message, wParam, lParam);
    } catch (...) {
        std::terminate();
    }
}

void HostWindow::Deliver(uint32_t id, uint64_t wParam, int64_t lParam) {
    if (events_)
        events_->OnHostMessage(HostMessage{id, wParam, lParam});
}

LRESULT HostWindow::Handle(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        Deliver(WM_CREATE, 0, 0);
        return 0;
    case WM_SIZE:
        ::PostMessageW(hwnd_, kQueuedSize, wParam, lParam);
        return 0;
    case kQueuedSize:
        for (const auto& action : resized_)
            action();
        Deliver(WM_SIZE, wParam, lParam);
        return 0;
    case WM_CLOSE:
        Deliver(WM_CLOSE, 0, 0);
        return 0;
    case WM_MOVE:
        for (const auto& action : moved_)
            action();
        return 0;
    case WM_SETFOCUS:
        for (const auto& action : focused_)
            action();
        return 0;
    case kQueuedAction:
        if (!queued_.empty()) {
            std::function<void()> action = std::move(queued_.front());
            queued_.pop_front();
            action();
        }
        return 0;
    case kMoveLoopEnded:
        Deliver(WM_LBUTTONUP, 0, 0);
        return 0;
    case WM_TIMER:
        // The system's timers repeat; the seam's run out once.
        ::KillTimer(hwnd_, wParam);
        Deliver(WM_TIMER, static_cast<uint64_t>(wParam), 0);
        return 0;
    case WM_MOUSEMOVE:
    case WM_LBUTTONUP:
        if (::GetCapture() == hwnd_)
            Deliver(message, wParam, MakePointParam(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)));
        return 0;
    case WM_DPICHANGED: {
        const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
        ::SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top,
                       suggested->right - suggested->left, suggested->bottom - suggested->top,
                       SWP_NOZORDER | SWP_NOACTIVATE);
        return 0;
    }
    case WM_NCDESTROY:
        postTarget_ = nullptr;
        hwnd_ = nullptr;
        queued_.clear();
        break;
    default:
        if (IsHostMessage(message)) {
            Deliver(message, static_cast<uint64_t>(wParam), static_cast<int64_t>(lParam));
            return 0;
        }
        break;
    }
    return ::DefWindowProcW(hwnd, message, wParam, lParam);
}

int HostWindow::RunModalLoop() {
    MSG msg{};
    while (!ended_) {
        const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            // WM_QUIT ends the program's loops: pass it on to whoever runs the next one.
            ::PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        if (got < 0)
            break;
        // Tab, Enter and Esc among the built-in page's buttons, as in a dialog.
        if (dialogKeys_ && ::IsWindowVisible(dialogKeys_) && ::IsDialogMessageW(dialogKeys_, &msg))
            continue;
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    ended_ = false;
    return result_;
}

void HostWindow::EndDialog(int result) {
    result_ = result;
    ended_ = true;
    // Wakes a loop that waits in GetMessageW.
    if (hwnd_)
        ::PostMessageW(hwnd_, WM_NULL, 0, 0);
}

void HostWindow::Destroy() {
    if (!hwnd_)
        return;
    postTarget_ = nullptr;
    for (auto teardown = teardowns_.rbegin(); teardown != teardowns_.rend(); ++teardown)
        (*teardown)();
    teardowns_.clear();
    resized_.clear();
    moved_.clear();
    focused_.clear();
    queued_.clear();
    dialogKeys_ = nullptr;
    events_ = nullptr;
    ::DestroyWindow(hwnd_);
    hwnd_ = nullptr;
}

void HostWindow::SetTitle(const std::string& title) {
    if (!hwnd_)
        return;
    // UTF-16 for the window system's wide call, so that every character of the name shows,
    // whatever the ANSI code page lacks.
    const std::wstring wide = WideFromNarrow(title);
    ::SetWindowTextW(hwnd_, wide.c_str());
}

HICON ProgramIcon(int size) {
    // The resource id of the program's icon in res/tarvik.rc.
    constexpr int kIconResource = 1;
    return reinterpret_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr),
                                                MAKEINTRESOURCEW(kIconResource), IMAGE_ICON, size,
                                                size, LR_DEFAULTCOLOR | LR_SHARED));
}

void HostWindow::SetIcon() {
    if (!hwnd_)
        return;
    if (const HICON big = ProgramIcon(::GetSystemMetrics(SM_CXICON)))
        ::SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
    if (const HICON small = ProgramIcon(::GetSystemMetrics(SM_CXSMICON)))
        ::SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
}

void HostWindow::MoveTo(Point topLeft) {
    if (hwnd_)
        ::SetWindowPos(hwnd_, nullptr, topLeft.x, topLeft.y, 0, 0,
                       SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

RECT HostWindow::WorkArea() const {
    HMONITOR monitor = hwnd_ ? ::MonitorFromWindow(hwnd_, MONITOR_DEFAULTTONULL) : nullptr;
    if (!monitor)
        monitor = ::MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (!::GetMonitorInfoW(monitor, &info))
        ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &info.rcWork, 0);
    return info.rcWork;
}

void HostWindow::SetSize(uint32_t width, uint32_t height) {
    if (!hwnd_)
        return;
    const RECT work = WorkArea();
    const int32_t cx = std::clamp<int64_t>(width, 1, std::max<LONG>(1, work.right - work.left));
    const int32_t cy = std::clamp<int64_t>(height, 1, std::max<LONG>(1, work.bottom - work.top));
    ::SetWindowPos(hwnd_, HWND_TOP, 0, 0, cx, cy, SWP_NOMOVE);
    ::SetForegroundWindow(hwnd_);
}

void HostWindow::SetBounds(const Rect& rect) {
    if (hwnd_)
        ::SetWindowPos(hwnd_, nullptr, rect.left, rect.top, std::max(1, rect.Width()),
                       std::max(1, rect.Height()), SWP_NOZORDER | SWP_NOACTIVATE);
}

void HostWindow::Center() {
    if (!hwnd_)
        return;
    const RECT work = WorkArea();
    const Rect now = Bounds();
    const int32_t workWidth = work.right - work.left;
    const int32_t workHeight = work.bottom - work.top;
    const int32_t cx = std::min(now.Width(), workWidth);
    const int32_t cy = std::min(now.Height(), workHeight);
    ::SetWindowPos(hwnd_, nullptr, work.left + (workWidth - cx) / 2,
                   work.top + (workHeight - cy) / 2, cx, cy, SWP_NOZORDER | SWP_NOACTIVATE);
}

void HostWindow::Present() {
    if (!hwnd_)
        return;
    // Activated, so that the keyboard reaches the page from the start: the user has just
    // started the program.
    if (!::IsWindowVisible(hwnd_))
        ::ShowWindow(hwnd_, SW_SHOW);
    ::SetForegroundWindow(hwnd_);
}

Rect HostWindow::Bounds() {
    RECT rect{};
    if (hwnd_)
        ::GetWindowRect(hwnd_, &rect);
    return Rect{rect.left, rect.top, rect.right, rect.bottom};
}

Point HostWindow::ClientToScreen(Point client) {
    POINT point{client.x, client.y};
    if (hwnd_)
        ::ClientToScreen(hwnd_, &point);
    return Point{point.x, point.y};
}

void HostWindow::Show(ShowCommand command) {
    if (!hwnd_)
        return;
    switch (command) {
    case ShowCommand::Minimized:
        ::ShowWindow(hwnd_, SW_MINIMIZE);
        break;
    case ShowCommand::Maximized:
        ::ShowWindow(hwnd_, SW_MAXIMIZE);
        break;
    case ShowCommand::Normal:
        ::ShowWindow(hwnd_, SW_SHOWNORMAL);
        break;
    }
}

Dpi HostWindow::ScreenDpi() {
    const UINT dpi = hwnd_ ? ::GetDpiForWindow(hwnd_) : 0;
    if (dpi == 0)
        return Dpi{};
    return Dpi{dpi, dpi};
}

bool HostWindow::IsActive() {
    return hwnd_ && ::GetForegroundWindow() == hwnd_;
}

void HostWindow::CapturePointer() {
    if (!hwnd_)
        return;
    // The button went down in the web view, whose window belongs to the runtime's own process:
    // SetCapture there takes nothing, and the window would not follow the pointer. The system's
    // move loop follows the pointer wherever it went down, and returns once the button is up.
    // It starts from the pointer's position, which it takes from the message.
    POINT pointer{};
    ::GetCursorPos(&pointer);
    ::ReleaseCapture();
    ::SendMessageW(hwnd_, WM_NCLBUTTONDOWN, HTCAPTION, MAKELPARAM(pointer.x, pointer.y));
    if (hwnd_)
        ::PostMessageW(hwnd_, kMoveLoopEnded, 0, 0);
}

void HostWindow::ReleasePointer() {
    if (hwnd_ && ::GetCapture() == hwnd_)
        ::ReleaseCapture();
}

std::optional<Point> HostWindow::CapturedPointerPosition() {
    POINT point{};
    if (!hwnd_ || ::GetCapture() != hwnd_ || !::GetCursorPos(&point))
        return std::nullopt;
    return Point{point.x, point.y};
}

void HostWindow::StartTimer(uint32_t id, std::chrono::milliseconds delay) {
    // SetTimer with the same window and id replaces the running timer; the window's destruction
    // ends its timers.
    if (hwnd_)
        ::SetTimer(hwnd_, id,
                   static_cast<UINT>(std::clamp<std::chrono::milliseconds::rep>(
                       delay.count(), USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM)),
                   nullptr);
}

void HostWindow::StopTimer(uint32_t id) {
    if (hwnd_)
        ::KillTimer(hwnd_, id);
}

} // namespace tarvik::platform::win32
