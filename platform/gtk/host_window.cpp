#include "platform/gtk/host_window.h"

#include "platform/gtk/gobject_ptr.h"
#include "platform/gtk/guarded_callback.h"
#include "platform/gtk/message_queue.h"
#include "window_icon_png.h"

#include <glib-unix.h>

#include <algorithm>
#include <cmath>
#include <csignal>

namespace tarvik::platform::gtk {

namespace {

// What the desktop assumes when the X server does not say.
constexpr uint32_t kDefaultDpi = 96;

struct GMainLoopUnref {
    void operator()(GMainLoop* loop) const { g_main_loop_unref(loop); }
};

// Key state carried by WM_MOUSEMOVE while the left button is down.
constexpr uint64_t kLeftButtonDown = 0x0001;

int64_t IntersectionArea(const Rect& rect, const GdkRectangle& area) {
    const int64_t width = std::min<int64_t>(rect.right, int64_t{area.x} + area.width) -
                          std::max<int64_t>(rect.left, area.x);
    const int64_t height = std::min<int64_t>(rect.bottom, int64_t{area.y} + area.height) -
                           std::max<int64_t>(rect.top, area.y);
    return (width > 0 && height > 0) ? width * height : 0;
}

GObjectPtr<GdkPixbuf> LoadWindowIcon() {
    GObjectPtr<GdkPixbufLoader> loader(gdk_pixbuf_loader_new_with_type("png", nullptr));
    if (!loader)
        return nullptr;
    GError* rawError = nullptr;
    const bool written =
        gdk_pixbuf_loader_write(loader.get(), kWindowIconPng, kWindowIconPngSize, &rawError) &&
        gdk_pixbuf_loader_close(loader.get(), &rawError);
    GErrorPtr error(rawError);
    if (!written)
        return nullptr;
    return RefObject(gdk_pixbuf_loader_get_pixbuf(loader.get()));
}

} // namespace

struct HostWindow::Loop {
    std::unique_ptr<GMainLoop, GMainLoopUnref> loop{g_main_loop_new(nullptr, FALSE)};
    int result = 0;
    bool ended = false;
};

HostWindow::HostWindow()
    : queue_(std::make_unique<MessageQueue>()), loop_(std::make_unique<Loop>()) {}

HostWindow::~HostWindow() {
    Destroy();
}

void HostWindow::WhenDestroyed(std::function<void()> teardown) {
    teardowns_.push_back(std::move(teardown));
}

void HostWindow::Deliver(const HostMessage& message) {
    if (events_ && !destroyed_)
        events_->OnHostMessage(message);
}

void HostWindow::Post(const HostMessage& message) {
    queue_->Post(message);
}

void HostWindow::Create(WindowEvents& events) {
    if (window_ || destroyed_)
        return;
    events_ = &events;
    window_ = GTK_WINDOW(gtk_window_new(GTK_WINDOW_TOPLEVEL));
    gtk_window_set_decorated(window_, FALSE);
    gtk_window_set_skip_taskbar_hint(window_, FALSE);
    gtk_window_set_default_size(window_, kInitialWindowWidth, kInitialWindowHeight);
    // Pointer motion and release reach the window while it holds the pointer grab.
    gtk_widget_add_events(GTK_WIDGET(window_), GDK_POINTER_MOTION_MASK | GDK_BUTTON_PRESS_MASK |
                                                   GDK_BUTTON_RELEASE_MASK | GDK_STRUCTURE_MASK);
    g_signal_connect(window_, "delete-event", G_CALLBACK(OnDeleteEvent), this);
    g_signal_connect(window_, "configure-event", G_CALLBACK(OnConfigureEvent), this);
    g_signal_connect(window_, "size-allocate", G_CALLBACK(OnSizeAllocate), this);
    g_signal_connect(window_, "window-state-event", G_CALLBACK(OnWindowStateEvent), this);
    g_signal_connect(window_, "motion-notify-event", G_CALLBACK(OnMotionNotify), this);
    g_signal_connect(window_, "button-release-event", G_CALLBACK(OnButtonRelease), this);
    g_signal_connect(window_, "grab-broken-event", G_CALLBACK(OnGrabBroken), this);

    // The vendor's web view and the built-in page take turns in the one client area.
    content_ = GTK_STACK(gtk_stack_new());
    gtk_container_add(GTK_CONTAINER(window_), GTK_WIDGET(content_));
    gtk_widget_show(GTK_WIDGET(content_));

    // Like a dialog with DS_CENTER, the window starts centred until the host places it.
    rect_ = Rect{0, 0, kInitialWindowWidth, kInitialWindowHeight};
    Center();

    WatchStopSignals();
    queue_->Open([this](const HostMessage& message) { Deliver(message); });
    Deliver(HostMessage{WM_CREATE, 0, 0});
}

void HostWindow::WatchStopSignals() {
    const int signals[] = {SIGTERM, SIGINT, SIGHUP};
    for (size_t i = 0; i < stopSignals_.size(); ++i) {
        StopSignalWatch& watch = stopSignals_[i];
        watch = StopSignalWatch{this, signals[i], 0};
        watch.source = g_unix_signal_add(watch.signal, OnStopSignal, &watch);
    }
}

void HostWindow::UnwatchStopSignals() {
    // GLib gives a signal its default action back when its last watch goes.
    for (StopSignalWatch& watch : stopSignals_) {
        if (watch.source != 0)
            g_source_remove(watch.source);
        watch.source = 0;
    }
}

gboolean HostWindow::OnStopSignal(gpointer data) {
    auto* watch = static_cast<StopSignalWatch*>(data);
    // Returning G_SOURCE_REMOVE removes this watch; the id must not be removed twice.
    watch->source = 0;
    RunGuarded("stop signal", [&] { watch->window->StopRequested(); });
    return G_SOURCE_REMOVE;
}

void HostWindow::StopRequested() {
    UnwatchStopSignals();
    if (dismissSource_ == 0)
        dismissSource_ = g_timeout_add(100, OnDismissDialogs, this);
    OnDismissDialogs(this);
    Deliver(HostMessage{WM_CLOSE, kCloseAtOnce, 0});
}

gboolean HostWindow::OnDismissDialogs(gpointer self) {
    auto* window = static_cast<HostWindow*>(self);
    RunGuarded("dialog dismissal", [&] {
        // Every other top-level window of this program is one of its modal dialogs; a dialog run
        // by gtk_dialog_run returns when it gets a response.
        GList* toplevels = gtk_window_list_toplevels();
        for (GList* item = toplevels; item; item = item->next) {
            if (item->data != window->window_ && GTK_IS_DIALOG(item->data) &&
                gtk_widget_get_visible(GTK_WIDGET(item->data)))
                gtk_dialog_response(GTK_DIALOG(item->data), GTK_RESPONSE_DELETE_EVENT);
        }
        g_list_free(toplevels);
    });
    return G_SOURCE_CONTINUE;
}

void HostWindow::StartTimer(uint32_t id, std::chrono::milliseconds delay) {
    if (destroyed_)
        return;
    StopTimer(id);
    TimerWatch& watch = timers_[id];
    watch = TimerWatch{this, id, 0};
    const auto ms = static_cast<guint>(std::max<std::chrono::milliseconds::rep>(delay.count(), 0));
    watch.source = g_timeout_add(ms, OnTimer, &watch);
}

void HostWindow::StopTimer(uint32_t id) {
    const auto found = timers_.find(id);
    if (found == timers_.end())
        return;
    if (found->second.source != 0)
        g_source_remove(found->second.source);
    timers_.erase(found);
}

void HostWindow::StopAllTimers() {
    for (auto& [id, watch] : timers_) {
        if (watch.source != 0)
            g_source_remove(watch.source);
    }
    timers_.clear();
}

gboolean HostWindow::OnTimer(gpointer data) {
    auto* watch = static_cast<TimerWatch*>(data);
    HostWindow* window = watch->window;
    const uint32_t id = watch->id;
    // Returning G_SOURCE_REMOVE removes the source; the entry goes first, so that the host may
    // start the same timer again from its handler.
    watch->source = 0;
    window->timers_.erase(id);
    window->Post(HostMessage{WM_TIMER, id, 0});
    return G_SOURCE_REMOVE;
}

int HostWindow::RunModalLoop() {
    if (!window_)
        return loop_->result;
    // An EndDialog made before the loop started (during initialisation) ends it at once.
    if (!loop_->ended)
        g_main_loop_run(loop_->loop.get());
    loop_->ended = false;
    if (dismissSource_ != 0)
        g_source_remove(dismissSource_);
    dismissSource_ = 0;
    return loop_->result;
}

void HostWindow::EndDialog(int result) {
    loop_->result = result;
    loop_->ended = true;
    g_main_loop_quit(loop_->loop.get());
}

void HostWindow::Destroy() {
    if (destroyed_)
        return;
    destroyed_ = true;
    queue_->Close();
    events_ = nullptr;
    UnwatchStopSignals();
    if (dismissSource_ != 0)
        g_source_remove(dismissSource_);
    dismissSource_ = 0;
    StopAllTimers();
    // What lives in the window goes first, so that no page message, launch failure or
    // file-manager answer comes in while the window goes.
    // Last registered, first run. (An index, not a reversed range: clang 14's tidy cannot read
    // libstdc++ 12's ranges.)
    for (size_t i = teardowns_.size(); i > 0; --i)
        teardowns_[i - 1]();
    teardowns_.clear();
    if (!window_)
        return;
    ReleasePointer();
    // Disconnected first so that no handler runs into a half-destroyed host during destruction.
    g_signal_handlers_disconnect_by_data(window_, this);
    gtk_widget_destroy(GTK_WIDGET(window_));
    window_ = nullptr;
    content_ = nullptr;
}

Dpi HostWindow::ScreenDpi() {
    const double resolution = gdk_screen_get_resolution(gdk_screen_get_default());
    if (!(resolution > 0))
        return Dpi{kDefaultDpi, kDefaultDpi};
    const auto dpi = static_cast<uint32_t>(std::lround(resolution));
    return Dpi{dpi, dpi};
}

void HostWindow::Map() {
    if (!window_)
        return;
    if (gtk_widget_get_visible(GTK_WIDGET(window_)))
        return;
    // The X window gets its final geometry before it is mapped: otherwise GTK maps it at the
    // size and place it was realised with and corrects both afterwards, and a window manager
    // shows each step (a frame at the default size, then one at the old place).
    gtk_window_set_default_size(window_, rect_.Width(), rect_.Height());
    gtk_window_move(window_, rect_.left, rect_.top);
    gtk_window_resize(window_, rect_.Width(), rect_.Height());
    gtk_widget_realize(GTK_WIDGET(window_));
    if (GdkWindow* window = gtk_widget_get_window(GTK_WIDGET(window_)))
        gdk_window_move_resize(window, rect_.left, rect_.top, rect_.Width(), rect_.Height());
    gtk_widget_show_all(GTK_WIDGET(window_));
}

void HostWindow::SetTitle(const std::string& utf8Title) {
    if (!window_)
        return;
    gtk_window_set_title(window_, utf8Title.c_str());
}

void HostWindow::SetIcon() {
    if (!window_)
        return;
    GObjectPtr<GdkPixbuf> icon = LoadWindowIcon();
    if (icon)
        gtk_window_set_icon(window_, icon.get());
}

void HostWindow::MoveTo(Point topLeft) {
    if (!window_)
        return;
    Request(Rect{topLeft.x, topLeft.y, topLeft.x + rect_.Width(), topLeft.y + rect_.Height()});
}

void HostWindow::SetSize(uint32_t width, uint32_t height) {
    if (!window_)
        return;
    GdkRectangle display{0, 0, 1, 1};
    if (GdkMonitor* monitor = MonitorHoldingWindow())
        gdk_monitor_get_geometry(monitor, &display);
    const int32_t clampedWidth =
        static_cast<int32_t>(std::clamp<uint32_t>(width, 1, std::max(display.width, 1)));
    const int32_t clampedHeight =
        static_cast<int32_t>(std::clamp<uint32_t>(height, 1, std::max(display.height, 1)));
    // Left to GTK's own layout pass rather than sent to the server at once: a centring nearly
    // always follows (the page's size, the built-in page's), and the two then reach the screen
    // as one step instead of a grown window at the old place first.
    Request(Rect{rect_.left, rect_.top, rect_.left + clampedWidth, rect_.top + clampedHeight},
            /*sendNow=*/false);
    if (gtk_widget_get_visible(GTK_WIDGET(window_)))
        gtk_window_present(window_);
}

void HostWindow::SetBounds(const Rect& rect) {
    if (!window_)
        return;
    Rect requested = rect;
    requested.right = std::max(rect.right, rect.left + 1);
    requested.bottom = std::max(rect.bottom, rect.top + 1);
    Request(requested);
}

void HostWindow::Center() {
    if (!window_)
        return;
    GdkMonitor* monitor = MonitorHoldingWindow();
    if (!monitor)
        return;
    GdkRectangle work;
    gdk_monitor_get_workarea(monitor, &work);
    const int32_t width = rect_.Width();
    const int32_t height = rect_.Height();
    int32_t left = work.x + (work.width - width) / 2;
    int32_t top = work.y + (work.height - height) / 2;
    // A window larger than the work area keeps its top-left corner visible.
    left = std::max(std::min(left, work.x + work.width - width), work.x);
    top = std::max(std::min(top, work.y + work.height - height), work.y);
    Request(Rect{left, top, left + width, top + height});
}

void HostWindow::Present() {
    if (!window_)
        return;
    // Mapped once, at the requested geometry: a window manager then places it there (the
    // position goes out as the program's own request) instead of where it would put a new window,
    // so no frame shows it elsewhere or at another size.
    Map();
    gtk_window_present(window_);
}

bool HostWindow::IsOnScreen() const {
    if (!window_)
        return false;
    if (!gtk_widget_get_visible(GTK_WIDGET(window_)))
        return false;
    GdkMonitor* monitor = MonitorHoldingWindow();
    if (!monitor)
        return false;
    GdkRectangle geometry;
    gdk_monitor_get_geometry(monitor, &geometry);
    return IntersectionArea(rect_, geometry) > 0;
}

Point HostWindow::ClientToScreen(Point client) {
    return Point{rect_.left + client.x, rect_.top + client.y};
}

void HostWindow::Show(ShowCommand command) {
    if (!window_)
        return;
    switch (command) {
    case ShowCommand::Minimized:
        gtk_window_iconify(window_);
        break;
    case ShowCommand::Maximized:
        gtk_window_maximize(window_);
        break;
    case ShowCommand::Normal:
        gtk_window_deiconify(window_);
        gtk_window_unmaximize(window_);
        gtk_window_present(window_);
        break;
    }
}

void HostWindow::CapturePointer() {
    if (!window_)
        return;
    GdkWindow* window = gtk_widget_get_window(GTK_WIDGET(window_));
    if (!window)
        return;
    GdkSeat* seat = gdk_display_get_default_seat(gdk_window_get_display(window));
    if (!seat)
        return;
    // Not owner events: everything the pointer does, over the web view too, is reported to the
    // top-level window, where the handlers below turn it into the host's mouse messages.
    const GdkGrabStatus status = gdk_seat_grab(seat, window, GDK_SEAT_CAPABILITY_ALL_POINTING,
                                               FALSE, nullptr, nullptr, nullptr, nullptr);
    captured_ = status == GDK_GRAB_SUCCESS;
}

void HostWindow::ReleasePointer() {
    if (!captured_ || !window_)
        return;
    captured_ = false;
    GdkWindow* window = gtk_widget_get_window(GTK_WIDGET(window_));
    if (!window)
        return;
    if (GdkSeat* seat = gdk_display_get_default_seat(gdk_window_get_display(window)))
        gdk_seat_ungrab(seat);
}

std::optional<Point> HostWindow::CapturedPointerPosition() {
    if (!captured_ || !window_)
        return std::nullopt;
    GdkWindow* window = gtk_widget_get_window(GTK_WIDGET(window_));
    GdkSeat* seat = window ? gdk_display_get_default_seat(gdk_window_get_display(window)) : nullptr;
    GdkDevice* pointer = seat ? gdk_seat_get_pointer(seat) : nullptr;
    if (!pointer)
        return std::nullopt;
    int x = 0, y = 0;
    gdk_device_get_position(pointer, nullptr, &x, &y);
    return Point{x, y};
}

void HostWindow::Request(const Rect& rect, bool sendNow) {
    rect_ = rect;
    requestPending_ = true;
    gtk_window_move(window_, rect.left, rect.top);
    gtk_window_resize(window_, rect.Width(), rect.Height());
    if (!sendNow)
        return;
    // GTK sends its own request from its next layout pass, and may drop it when the server's
    // report of an earlier one crosses it; asking the server directly as well makes sure every
    // request lands, in order. GTK then takes the reported size as the window's allocation.
    if (gtk_widget_get_mapped(GTK_WIDGET(window_))) {
        if (GdkWindow* window = gtk_widget_get_window(GTK_WIDGET(window_)))
            gdk_window_move_resize(window, rect.left, rect.top, rect.Width(), rect.Height());
    }
}

GdkMonitor* HostWindow::MonitorHoldingWindow() const {
    GdkDisplay* display = gtk_widget_get_display(GTK_WIDGET(window_));
    GdkMonitor* best = nullptr;
    int64_t bestArea = 0;
    for (int i = 0; i < gdk_display_get_n_monitors(display); ++i) {
        GdkMonitor* monitor = gdk_display_get_monitor(display, i);
        GdkRectangle geometry;
        gdk_monitor_get_geometry(monitor, &geometry);
        const int64_t area = IntersectionArea(rect_, geometry);
        if (area > bestArea) {
            best = monitor;
            bestArea = area;
        }
    }
    if (best)
        return best;
    if (GdkMonitor* primary = gdk_display_get_primary_monitor(display))
        return primary;
    return gdk_display_get_n_monitors(display) > 0 ? gdk_display_get_monitor(display, 0) : nullptr;
}

int64_t HostWindow::ClientPointParam(double rootX, double rootY) const {
    return MakePointParam(static_cast<int32_t>(std::lround(rootX)) - rect_.left,
                          static_cast<int32_t>(std::lround(rootY)) - rect_.top);
}

gboolean HostWindow::OnDeleteEvent(GtkWidget*, GdkEvent*, gpointer self) {
    // The host decides whether and how the dialog ends.
    RunGuarded("window close request", [&] {
        static_cast<HostWindow*>(self)->Deliver(HostMessage{WM_CLOSE, 0, 0});
    });
    return TRUE;
}

gboolean HostWindow::OnConfigureEvent(GtkWidget*, GdkEventConfigure* event, gpointer self) {
    auto* window = static_cast<HostWindow*>(self);
    const Rect actual{event->x, event->y, event->x + event->width, event->y + event->height};
    if (window->requestPending_) {
        // Reports that predate the last request are stale; wait for the one that matches.
        if (actual == window->rect_)
            window->requestPending_ = false;
    } else {
        window->rect_ = actual;
    }
    return FALSE;
}

void HostWindow::OnSizeAllocate(GtkWidget*, GdkRectangle* allocation, gpointer self) {
    auto* window = static_cast<HostWindow*>(self);
    if (allocation->width == window->lastWidth_ && allocation->height == window->lastHeight_)
        return;
    window->lastWidth_ = allocation->width;
    window->lastHeight_ = allocation->height;
    window->ReportSize();
}

uint64_t HostWindow::SizeKind() const {
    if (state_ & GDK_WINDOW_STATE_ICONIFIED)
        return kSizeMinimized;
    if (state_ & GDK_WINDOW_STATE_MAXIMIZED)
        return kSizeMaximized;
    return kSizeRestored;
}

void HostWindow::ReportSize() {
    reportedKind_ = SizeKind();
    RunGuarded("window size change", [&] {
        Deliver(HostMessage{WM_SIZE, reportedKind_, MakePointParam(lastWidth_, lastHeight_)});
    });
}

gboolean HostWindow::OnWindowStateEvent(GtkWidget*, GdkEventWindowState* event, gpointer self) {
    auto* window = static_cast<HostWindow*>(self);
    window->state_ = event->new_window_state;
    // Minimising, maximising and restoring are reported as a size change of that kind even when
    // the size stays (a minimised window keeps its allocation), as the desktop convention has it.
    if (window->SizeKind() != window->reportedKind_ && window->lastWidth_ >= 0)
        window->ReportSize();
    constexpr int kPlacedByOthers =
        GDK_WINDOW_STATE_MAXIMIZED | GDK_WINDOW_STATE_FULLSCREEN | GDK_WINDOW_STATE_TILED;
    // The window manager now decides the geometry; take over what it reports next.
    if (event->changed_mask & kPlacedByOthers)
        window->requestPending_ = false;
    return FALSE;
}

gboolean HostWindow::OnMotionNotify(GtkWidget*, GdkEventMotion* event, gpointer self) {
    auto* window = static_cast<HostWindow*>(self);
    if (!window->captured_)
        return FALSE;
    const uint64_t keys = (event->state & GDK_BUTTON1_MASK) ? kLeftButtonDown : 0;
    RunGuarded("pointer motion", [&] {
        window->Deliver(HostMessage{WM_MOUSEMOVE, keys,
                                    window->ClientPointParam(event->x_root, event->y_root)});
    });
    return TRUE;
}

gboolean HostWindow::OnButtonRelease(GtkWidget*, GdkEventButton* event, gpointer self) {
    auto* window = static_cast<HostWindow*>(self);
    if (!window->captured_ || event->button != GDK_BUTTON_PRIMARY)
        return FALSE;
    RunGuarded("pointer release", [&] {
        window->Deliver(
            HostMessage{WM_LBUTTONUP, 0, window->ClientPointParam(event->x_root, event->y_root)});
    });
    return TRUE;
}

gboolean HostWindow::OnGrabBroken(GtkWidget*, GdkEvent*, gpointer self) {
    static_cast<HostWindow*>(self)->captured_ = false;
    return FALSE;
}

} // namespace tarvik::platform::gtk
