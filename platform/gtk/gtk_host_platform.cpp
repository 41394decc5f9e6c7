#include "platform/gtk/gtk_host_platform.h"

#include "common/text_conversion.h"
#include "platform/gtk/dialogs.h"
#include "platform/gtk/elevated_launch.h"
#include "platform/gtk/host_window.h"
#include "platform/gtk/message_queue.h"
#include "platform/gtk/shell.h"
#include "platform/gtk/web_view.h"

#include <gtk/gtk.h>

#include <cmath>
#include <cstdlib>

namespace tarvik::platform::gtk {

namespace {

// What the desktop assumes when the X server does not say.
constexpr uint32_t kDefaultDpi = 96;

struct GMainLoopUnref {
    void operator()(GMainLoop* loop) const { g_main_loop_unref(loop); }
};

} // namespace

struct GtkHostPlatform::Loop {
    std::unique_ptr<GMainLoop, GMainLoopUnref> loop{g_main_loop_new(nullptr, FALSE)};
    int result = 0;
    bool ended = false;
};

GtkHostPlatform::GtkHostPlatform()
    : m_queue(std::make_unique<MessageQueue>()), m_shell(std::make_unique<Shell>()),
      m_launcher(std::make_unique<ElevatedLauncher>()), m_loop(std::make_unique<Loop>()) {}

GtkHostPlatform::~GtkHostPlatform() {
    DestroyHostWindow();
}

GtkWindow* GtkHostPlatform::NativeWindow() const {
    return m_window ? m_window->Widget() : nullptr;
}

WebKitWebView* GtkHostPlatform::NativeWebView() const {
    return m_webView ? m_webView->Widget() : nullptr;
}

void GtkHostPlatform::PostHostMessage(const HostMessage& message) {
    m_queue->Post(message);
}

void GtkHostPlatform::Deliver(const HostMessage& message) {
    if (m_events && !m_destroyed)
        m_events->OnHostMessage(message);
}

void GtkHostPlatform::CreateHostWindow(HostWindowEvents& events) {
    if (m_window || m_destroyed)
        return;
    m_events = &events;
    m_window =
        std::make_unique<HostWindow>([this](const HostMessage& message) { Deliver(message); });
    m_queue->Open([this](const HostMessage& message) { Deliver(message); });
    Deliver(HostMessage{WM_CREATE, 0, 0});
}

int GtkHostPlatform::RunModalLoop() {
    if (!m_window)
        return m_loop->result;
    // A dialog with WS_VISIBLE is shown once its initialisation is done, where the host put it.
    m_window->Show();
    // An EndDialog made before the loop started (during initialisation) ends it at once.
    if (!m_loop->ended)
        g_main_loop_run(m_loop->loop.get());
    m_loop->ended = false;
    return m_loop->result;
}

void GtkHostPlatform::EndDialog(int result) {
    m_loop->result = result;
    m_loop->ended = true;
    g_main_loop_quit(m_loop->loop.get());
}

void GtkHostPlatform::DestroyHostWindow() {
    if (m_destroyed)
        return;
    m_destroyed = true;
    m_queue->Close();
    // Dropped first so that no page message, launch failure or file-manager answer comes in
    // while the window goes.
    m_onPageMessage = nullptr;
    m_launcher.reset();
    m_shell.reset();
    m_webView.reset();
    m_window.reset();
    m_events = nullptr;
}

void GtkHostPlatform::SetWindowTitle(const std::string& utf8Title) {
    if (m_window)
        m_window->SetTitle(utf8Title);
}

void GtkHostPlatform::SetWindowIcon() {
    if (m_window)
        m_window->SetIcon();
}

void GtkHostPlatform::MoveWindowTo(Point topLeft) {
    if (m_window)
        m_window->MoveTo(topLeft);
}

void GtkHostPlatform::SetWindowSize(uint32_t width, uint32_t height) {
    if (m_window)
        m_window->SetSize(width, height);
}

void GtkHostPlatform::MoveWindow(const Rect& rect) {
    if (m_window)
        m_window->MoveResize(rect);
}

void GtkHostPlatform::CenterWindow() {
    if (m_window)
        m_window->Center();
}

Rect GtkHostPlatform::GetWindowRect() {
    return m_window ? m_window->GetRect() : Rect{};
}

Point GtkHostPlatform::ClientToScreen(Point client) {
    return m_window ? m_window->ClientToScreen(client) : client;
}

void GtkHostPlatform::ShowWindow(ShowCommand command) {
    if (m_window)
        m_window->ShowCommand(command);
}

Dpi GtkHostPlatform::ScreenDpi() {
    const double resolution = gdk_screen_get_resolution(gdk_screen_get_default());
    if (!(resolution > 0))
        return Dpi{kDefaultDpi, kDefaultDpi};
    const auto dpi = static_cast<uint32_t>(std::lround(resolution));
    return Dpi{dpi, dpi};
}

void GtkHostPlatform::CapturePointer() {
    if (m_window)
        m_window->CapturePointer();
}

void GtkHostPlatform::ReleasePointer() {
    if (m_window)
        m_window->ReleasePointer();
}

std::optional<Point> GtkHostPlatform::CapturedPointerPosition() {
    return m_window ? m_window->CapturedPointerPosition() : std::nullopt;
}

void GtkHostPlatform::CreateWebView(std::function<void()> onReady) {
    if (!m_window || m_webView)
        return;
    m_webView = std::make_unique<WebView>(GTK_CONTAINER(m_window->Widget()), std::move(onReady),
                                          [this](const std::string& text) {
                                              if (m_onPageMessage && !m_destroyed)
                                                  m_onPageMessage(WideFromNarrow(text));
                                          });
}

void GtkHostPlatform::FitWebViewToWindow() {
    // The window is a container of one child: GTK already gives the web view the whole client
    // area on every size change.
    if (m_webView)
        gtk_widget_queue_resize(GTK_WIDGET(m_webView->Widget()));
}

void GtkHostPlatform::Navigate(const std::wstring& url) {
    if (m_webView)
        m_webView->Navigate(NarrowFromWide(url));
}

void GtkHostPlatform::SetPageMessageHandler(
    std::function<void(const std::wstring& text)> onMessage) {
    if (!m_destroyed)
        m_onPageMessage = std::move(onMessage);
}

void GtkHostPlatform::PostWebMessageAsJson(const std::wstring& json) {
    if (m_webView)
        m_webView->PostJson(NarrowFromWide(json));
}

void GtkHostPlatform::OpenUri(const std::string& uri) {
    if (m_shell)
        m_shell->OpenUri(uri);
}

std::wstring GtkHostPlatform::DownloadsFolder() {
    return WideFromNarrow(Shell::DownloadsFolder());
}

std::optional<std::wstring> GtkHostPlatform::ShowSaveDialog(const SaveDialogRequest& request) {
    const DialogParent parent{NativeWindow(), m_window && m_window->IsOnScreen()};
    std::optional<std::string> chosen = RunSaveDialog(parent, request);
    if (!chosen)
        return std::nullopt;
    return WideFromNarrow(*chosen);
}

void GtkHostPlatform::RunElevated(const std::wstring& path, std::function<void()> onFailure) {
    if (m_launcher)
        m_launcher->Run(NarrowFromWide(path), std::move(onFailure));
}

void GtkHostPlatform::ShowMessageBox(const std::wstring& text, const std::wstring& caption) {
    const DialogParent parent{NativeWindow(), m_window && m_window->IsOnScreen()};
    RunMessageBox(parent, NarrowFromWide(text), NarrowFromWide(caption));
}

void GtkHostPlatform::RevealInFileManager(const std::wstring& path) {
    if (m_shell)
        m_shell->RevealInFileManager(NarrowFromWide(path));
}

std::unique_ptr<GtkHostPlatform> CreateGtkHostPlatform(int* argc, char*** argv,
                                                       std::string& error) {
    // Placing the window (off-screen start, centring, dragging) needs a window system that lets
    // a program place its windows; the user may still choose a backend explicitly.
    const char* backend = std::getenv("GDK_BACKEND");
    if (!backend || !*backend)
        gdk_set_allowed_backends("x11");
    if (!gtk_init_check(argc, argv)) {
        const char* display = std::getenv("DISPLAY");
        error =
            std::string("cannot open the X display") +
            (display && *display ? std::string(" \"") + display + "\"" : " (DISPLAY is not set)");
        return nullptr;
    }
    return std::make_unique<GtkHostPlatform>();
}

} // namespace tarvik::platform::gtk
