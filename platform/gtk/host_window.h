#pragma once

#include "common/host_message.h"
#include "platform/host_platform.h"

#include <gtk/gtk.h>

#include <functional>
#include <optional>

namespace tarvik::platform::gtk {

// The frameless top-level window: geometry, showing, the icon and the pointer capture. System
// messages (WM_SIZE, WM_CLOSE, and pointer motion and release while captured) go synchronously to
// the function given at construction. User-interface thread only.
//
// Geometry: the window manager (or the X server when there is none) applies a move or resize
// later, so GetRect answers with the last requested geometry until the server has caught up; after
// that, changes made by someone else (a window manager maximising the window) are taken over.
class HostWindow {
public:
    using Deliver = std::function<void(const HostMessage&)>;

    explicit HostWindow(Deliver deliver);
    ~HostWindow();
    HostWindow(const HostWindow&) = delete;
    HostWindow& operator=(const HostWindow&) = delete;

    GtkWindow* Widget() const { return m_window; }
    // Maps the window at its current requested geometry (a no-op when it is already shown).
    void Show();

    void SetTitle(const std::string& utf8Title);
    void SetIcon();
    void MoveTo(Point topLeft);
    void SetSize(uint32_t width, uint32_t height);
    void MoveResize(const Rect& rect);
    void Center();
    Rect GetRect() const { return m_rect; }
    // Shown and at least partly on a monitor.
    bool IsOnScreen() const;
    Point ClientToScreen(Point client) const;
    void ShowCommand(platform::ShowCommand command);
    void CapturePointer();
    void ReleasePointer();
    std::optional<Point> CapturedPointerPosition() const;

private:
    static gboolean OnDeleteEvent(GtkWidget*, GdkEvent*, gpointer self);
    static gboolean OnConfigureEvent(GtkWidget*, GdkEventConfigure* event, gpointer self);
    static void OnSizeAllocate(GtkWidget*, GdkRectangle* allocation, gpointer self);
    static gboolean OnWindowStateEvent(GtkWidget*, GdkEventWindowState* event, gpointer self);
    static gboolean OnMotionNotify(GtkWidget*, GdkEventMotion* event, gpointer self);
    static gboolean OnButtonRelease(GtkWidget*, GdkEventButton* event, gpointer self);
    static gboolean OnGrabBroken(GtkWidget*, GdkEvent*, gpointer self);

    void Request(const Rect& rect);
    GdkMonitor* MonitorHoldingWindow() const;
    int64_t ClientPointParam(double rootX, double rootY) const;

    Deliver m_deliver;
    // Owned by GTK's list of toplevels; destroyed in the destructor.
    GtkWindow* m_window = nullptr;
    Rect m_rect;
    // The server has not yet reported the geometry last requested.
    bool m_requestPending = false;
    GdkWindowState m_state = GdkWindowState(0);
    int m_lastWidth = -1;
    int m_lastHeight = -1;
    bool m_captured = false;
};

} // namespace tarvik::platform::gtk
