#pragma once

#include "common/host_message.h"
#include "platform/geometry.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace tarvik::platform {

enum class ShowCommand { Minimized, Maximized, Normal };

// WM_SIZE's wParam: how the window was sized. Its lParam packs the new client size like a point.
inline constexpr uint64_t kSizeRestored = 0;
inline constexpr uint64_t kSizeMinimized = 1;
inline constexpr uint64_t kSizeMaximized = 2;

// What the host handles. The window calls it on the user-interface thread only.
class WindowEvents {
public:
    virtual ~WindowEvents() = default;
    // Every message for the host: those posted through Window::Post, and the system's own:
    // WM_CREATE while the window is made, WM_TIMER when a timer of StartTimer runs out, WM_SIZE
    // after its client size or its state (minimised, maximised, normal) changed (queued, as the
    // window system reports it later), WM_CLOSE for a close request from the desktop
    // (wParam kCloseAtOnce for a stop signal or the end of the session), and
    // WM_MOUSEMOVE / WM_LBUTTONUP while the pointer is captured.
    virtual void OnHostMessage(const HostMessage& message) = 0;
};

// The host's frameless top-level window and its message loop.
//
// Threads: Post may be called from any thread; everything else only on the user-interface
// thread, which runs the loop.
//
// Lifetime: Create, then RunModalLoop until EndDialog, then Destroy; the window stays hidden until
// the host has something to show and calls Present. Destroy also ends what lives in the window
// (the web view, pending desktop callbacks): nothing is delivered to the host afterwards.
class Window {
public:
    virtual ~Window() = default;

    // Queues a message for the host. Messages are handled on the user-interface thread in the
    // order they were posted, also while a modal dialog runs its own loop.
    virtual void Post(const HostMessage& message) = 0;

    // Makes the window (frameless, with a taskbar entry, kInitialWindowWidth x
    // kInitialWindowHeight) and delivers WM_CREATE to `events` before it returns. `events`
    // receives every message until the window is destroyed, and must outlive it.
    virtual void Create(WindowEvents& events) = 0;
    // Runs the message loop until EndDialog; returns the code given to EndDialog. An EndDialog
    // made before the loop runs ends it at once. The window is not shown by it (see Present).
    virtual int RunModalLoop() = 0;
    virtual void EndDialog(int result) = 0;
    virtual void Destroy() = 0;

    // The title in UTF-8, every character kept; it ends at its first zero character.
    virtual void SetTitle(const std::string& utf8Title) = 0;
    virtual void SetIcon() = 0;
    // Moves the window without changing its size (screen coordinates of its top-left corner).
    virtual void MoveTo(Point topLeft) = 0;
    // Changes the size in device pixels, clamped to what the display can show (at least 1 x 1),
    // keeping the position; raises and activates the window once it has been presented.
    virtual void SetSize(uint32_t width, uint32_t height) = 0;
    // Moves and sizes in one step, without activating; at least 1 x 1.
    virtual void SetBounds(const Rect& rect) = 0;
    // Centres the window in the work area of the monitor that holds it (the primary monitor when
    // it lies on none), clamped into that work area.
    virtual void Center() = 0;
    // Shows the window, where and as large as the host has placed it and with the title it has
    // been given, raised and activated. Until the first call the window is not on any screen and
    // has no taskbar entry, so the user never sees an empty window or one that jumps into place;
    // later calls only raise and activate it.
    virtual void Present() = 0;
    virtual Rect Bounds() = 0;
    virtual Point ClientToScreen(Point client) = 0;
    virtual void Show(ShowCommand command) = 0;
    virtual Dpi ScreenDpi() = 0;
    // Whether the window has the desktop's keyboard focus, the one the user is looking at.
    virtual bool IsActive() = 0;
    // While captured, real pointer motion and the button release over the whole window (the web
    // view included) reach the host as WM_MOUSEMOVE and WM_LBUTTONUP in client coordinates.
    virtual void CapturePointer() = 0;
    virtual void ReleasePointer() = 0;
    // While captured, where the pointer really is on the screen; nothing otherwise. The page's
    // client coordinates lag behind a window that the window system moves asynchronously, so a
    // drag follows the real pointer whenever the window knows it.
    virtual std::optional<Point> CapturedPointerPosition() = 0;

    // Starts (or restarts) the one-shot timer `id`: after `delay`, WM_TIMER with wParam `id`
    // comes through the queue, once. Timers end with the window.
    virtual void StartTimer(uint32_t id, std::chrono::milliseconds delay) = 0;
    // Stops timer `id`; its WM_TIMER does not come (one already queued may still arrive, so the
    // host checks its own state when it handles one).
    virtual void StopTimer(uint32_t id) = 0;
};

} // namespace tarvik::platform
