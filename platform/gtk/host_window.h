#pragma once

#include "common/host_message.h"
#include "platform/window.h"

#include <gtk/gtk.h>

#include <array>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace tarvik::platform::gtk {

class MessageQueue;

// The frameless top-level window, its message queue and the GLib main loop that runs the modal
// dialog.
//
// Threads: Post may be called from any thread; everything else only on the thread that made this
// object (the user-interface thread, which runs the main loop). System messages (WM_SIZE,
// WM_CLOSE, and pointer motion and release while captured) reach the host synchronously from GTK's
// signal handlers, which run from the loop.
//
// Stop signals: from Create until Destroy, SIGTERM, SIGINT and SIGHUP (log-out, Ctrl+C, a closed
// terminal) reach the host as a close request that cannot wait (WM_CLOSE with kCloseAtOnce)
// from the main loop, and modal dialogs
// still open are dismissed, so the run ends the usual way: the host stops its transfer and
// removes its unfinished file. From the first such signal on, the three have their default
// action again, so a second one ends the process at once, even while the user-interface thread
// is busy.
//
// Geometry: the window manager (or the X server when there is none) applies a move or resize
// later, so Bounds answers with the last requested geometry until the server has caught up; after
// that, changes made by someone else (a window manager maximising the window) are taken over.
class HostWindow final : public Window {
public:
    HostWindow();
    // Destroys the window if the host did not.
    ~HostWindow() override;
    HostWindow(const HostWindow&) = delete;
    HostWindow& operator=(const HostWindow&) = delete;

    // The native window; null before Create and after Destroy.
    GtkWindow* Widget() const { return window_; }
    // The window's one child, which holds the vendor's web view and the built-in page and shows
    // one of them at a time; null before Create and after Destroy.
    GtkStack* Content() const { return content_; }
    // Shown and at least partly on a monitor.
    bool IsOnScreen() const;
    // `teardown` runs when the window is destroyed, before the window itself goes, so what lives
    // in it (the web view, desktop requests still under way) stops calling the host. Teardowns
    // run in the reverse order of registration.
    void WhenDestroyed(std::function<void()> teardown);

    void Post(const HostMessage& message) override;
    void Create(WindowEvents& events) override;
    int RunModalLoop() override;
    void EndDialog(int result) override;
    void Destroy() override;
    void SetTitle(const std::string& utf8Title) override;
    void SetIcon() override;
    void MoveTo(Point topLeft) override;
    void SetSize(uint32_t width, uint32_t height) override;
    void SetBounds(const Rect& rect) override;
    void Center() override;
    void Present() override;
    Rect Bounds() override { return rect_; }
    Point ClientToScreen(Point client) override;
    void Show(ShowCommand command) override;
    Dpi ScreenDpi() override;
    bool IsActive() override { return window_ && gtk_window_is_active(window_); }
    void CapturePointer() override;
    void ReleasePointer() override;
    std::optional<Point> CapturedPointerPosition() override;
    void StartTimer(uint32_t id, std::chrono::milliseconds delay) override;
    void StopTimer(uint32_t id) override;

private:
    struct Loop;

    // GTK's signal handlers. Those that reach the host run it through RunGuarded; the others only
    // keep plain fields up to date and cannot throw.

    static gboolean OnDeleteEvent(GtkWidget*, GdkEvent*, gpointer self);
    static gboolean OnConfigureEvent(GtkWidget*, GdkEventConfigure* event, gpointer self);
    static void OnSizeAllocate(GtkWidget*, GdkRectangle* allocation, gpointer self);
    static gboolean OnWindowStateEvent(GtkWidget*, GdkEventWindowState* event, gpointer self);
    static gboolean OnMotionNotify(GtkWidget*, GdkEventMotion* event, gpointer self);
    static gboolean OnButtonRelease(GtkWidget*, GdkEventButton* event, gpointer self);
    static gboolean OnGrabBroken(GtkWidget*, GdkEvent*, gpointer self);

    // One running timer; the map's nodes keep their addresses for GLib.
    struct TimerWatch {
        HostWindow* window = nullptr;
        uint32_t id = 0;
        guint source = 0;
    };
    static gboolean OnTimer(gpointer data);
    void StopAllTimers();

    // One watched stop signal; the array member keeps its address stable for GLib.
    struct StopSignalWatch {
        HostWindow* window = nullptr;
        int signal = 0;
        guint source = 0;
    };
    static gboolean OnStopSignal(gpointer data);
    static gboolean OnDismissDialogs(gpointer self);
    void WatchStopSignals();
    void UnwatchStopSignals();
    void StopRequested();

    void Deliver(const HostMessage& message);
    // WM_SIZE's kind for the current window state.
    uint64_t SizeKind() const;
    // Sends WM_SIZE with the current kind and the last allocated client size.
    void ReportSize();
    // Maps the window at its current requested geometry (a no-op when it is already shown).
    void Map();
    // Asks for `rect`; `sendNow` also sends it to the server at once when the window is mapped.
    void Request(const Rect& rect, bool sendNow = true);
    GdkMonitor* MonitorHoldingWindow() const;
    int64_t ClientPointParam(double rootX, double rootY) const;

    std::unique_ptr<MessageQueue> queue_;
    std::unique_ptr<Loop> loop_;
    WindowEvents* events_ = nullptr;
    std::vector<std::function<void()>> teardowns_;
    bool destroyed_ = false;
    // Owned by GTK's list of toplevels; destroyed by Destroy.
    GtkWindow* window_ = nullptr;
    GtkStack* content_ = nullptr;
    std::map<uint32_t, TimerWatch> timers_;
    Rect rect_;
    // The server has not yet reported the geometry last requested.
    bool requestPending_ = false;
    GdkWindowState state_ = GdkWindowState(0);
    int lastWidth_ = -1;
    int lastHeight_ = -1;
    uint64_t reportedKind_ = kSizeRestored;
    bool captured_ = false;
    std::array<StopSignalWatch, 3> stopSignals_;
    // Dismisses modal dialogs again and again after a stop signal until the loop has ended: a
    // dialog may open another (the question before replacing a file) or come back after it.
    guint dismissSource_ = 0;
};

} // namespace tarvik::platform::gtk
