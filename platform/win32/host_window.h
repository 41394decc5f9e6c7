#pragma once

#include "platform/window.h"

#include <windows.h>

#include <atomic>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

namespace tarvik::platform::win32 {

// The program's icon (resource 1 of res/tarvik.rc) at a system size (SM_CXICON, SM_CXSMICON).
// Loaded shared: the system keeps one copy per size, and it is never destroyed by us. Null when
// the executable has no icon.
HICON ProgramIcon(int size);

// The frameless top-level window (WS_POPUP with a taskbar entry), its message queue and the
// dialog's own modal loop.
//
// Threads: Post may be called from any thread; it is PostMessageW to the window, so messages from
// one thread arrive in the order they were posted, also while a modal dialog (a message box, the
// save dialog) runs its own loop, which dispatches them to this window. Everything else only on
// the thread that called Create, which runs the loop. A Post before Create or after Destroy is
// dropped: there is no window to deliver it to.
//
// System messages: WM_CREATE reaches the host from CreateWindowExW; WM_SIZE, which Windows sends
// synchronously from inside SetWindowPos, is queued again and reaches the host from the loop, as
// the seam promises; WM_CLOSE (Alt+F4, the taskbar) goes to the host and leaves the window; mouse
// moves and the button release reach the host while the pointer is captured. WM_DPICHANGED takes
// the size Windows suggests for the new monitor.
//
// Pointer capture is the system's own move loop (see CapturePointer): the page's drag starts with
// the button pressed inside the web view, whose window belongs to the runtime's process, where
// SetCapture cannot take it.
class HostWindow final : public Window {
public:
    HostWindow();
    // Destroys the window if the host did not.
    ~HostWindow() override;
    HostWindow(const HostWindow&) = delete;
    HostWindow& operator=(const HostWindow&) = delete;

    // The native window; null before Create and after Destroy.
    HWND Handle() const { return hwnd_; }
    // `teardown` runs when the window is destroyed, before the window itself goes, in the reverse
    // order of registration, so that what lives in it stops calling the host.
    void WhenDestroyed(std::function<void()> teardown);
    // Runs `action` once the window has been resized, from the loop (the web view fits itself).
    void WhenResized(std::function<void()> action);
    // Runs `action` after the window moved (WM_MOVE), so that a child that places popups of its
    // own (the web view's dropdowns, input method and accessibility positions) follows.
    void WhenMoved(std::function<void()> action);
    // Runs `action` when the window receives the keyboard focus (WM_SETFOCUS, also on activation),
    // so that the child shown in it takes the focus on.
    void WhenFocused(std::function<void()> action);
    // Runs `action` from the loop, after what is queued already, in the order of the calls; never
    // inside the caller's frame. What the web view runtime reports from its event handlers is
    // acted on this way, since the runtime does not support being called again from inside them.
    // Dropped when the window goes first.
    void RunFromLoop(std::function<void()> action);
    // The child window whose controls take the dialog keys in the loop (Tab, Enter, Esc), as in a
    // dialog; null for none.
    void SetDialogKeysWindow(HWND page) { dialogKeys_ = page; }

    void Post(const HostMessage& message) override;
    void Create(WindowEvents& events) override;
    int RunModalLoop() override;
    void EndDialog(int result) override;
    void Destroy() override;
    // The title arrives in the process code page (the ANSI code page on Windows), as the host's
    // title conversion makes it.
    void SetTitle(const std::string& title) override;
    void SetIcon() override;
    void MoveTo(Point topLeft) override;
    void SetSize(uint32_t width, uint32_t height) override;
    void SetBounds(const Rect& rect) override;
    void Center() override;
    void Present() override;
    Rect Bounds() override;
    Point ClientToScreen(Point client) override;
    void Show(ShowCommand command) override;
    Dpi ScreenDpi() override;
    bool IsActive() override;
    // The system's move loop (WM_NCLBUTTONDOWN on the caption) moves the window with the pointer
    // until the button is released, then the host hears WM_LBUTTONUP from the loop, as after a
    // capture of its own, and the drag ends there.
    void CapturePointer() override;
    void ReleasePointer() override;
    std::optional<Point> CapturedPointerPosition() override;
    // SetTimer on the window, stopped by its first WM_TIMER.
    void StartTimer(uint32_t id, std::chrono::milliseconds delay) override;
    void StopTimer(uint32_t id) override;

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void Deliver(uint32_t id, uint64_t wParam, int64_t lParam);
    // The work area of the monitor that holds the window, or of the primary monitor.
    RECT WorkArea() const;

    HWND hwnd_ = nullptr;
    // Read by Post on other threads.
    std::atomic<HWND> postTarget_{nullptr};
    WindowEvents* events_ = nullptr;
    std::vector<std::function<void()>> teardowns_;
    std::vector<std::function<void()>> resized_;
    std::vector<std::function<void()>> moved_;
    std::vector<std::function<void()>> focused_;
    std::deque<std::function<void()>> queued_;
    HWND dialogKeys_ = nullptr;
    bool ended_ = false;
    int result_ = 0;
};

} // namespace tarvik::platform::win32
