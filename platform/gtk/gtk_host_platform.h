#pragma once

#include "platform/host_platform.h"

#include <memory>
#include <string>

// Only the opaque type: users of this header need no GTK header.
typedef struct _GtkWindow GtkWindow;
typedef struct _WebKitWebView WebKitWebView;

namespace tarvik::platform::gtk {

class ElevatedLauncher;
class HostWindow;
class MessageQueue;
class Shell;
class WebView;

// The real window layer: a GTK 3 window, a WebKitGTK web view and the GLib main loop of the
// process's main context.
//
// Threads: PostHostMessage may be called from any thread; everything else only on the thread that
// made this object (the user-interface thread, which runs the main loop).
//
// Order of use: CreateHostWindow (WM_CREATE arrives inside it), placement and icon, then
// RunModalLoop, which shows the window if nothing has shown it yet and returns the code given to
// EndDialog. CreateWebView may come any time after CreateHostWindow; its `onReady` runs from the
// loop. DestroyHostWindow ends everything: pending messages, page messages and launch failures are
// dropped. The destructor destroys the window if the host did not.
class GtkHostPlatform final : public HostPlatform {
public:
    GtkHostPlatform();
    ~GtkHostPlatform() override;
    GtkHostPlatform(const GtkHostPlatform&) = delete;
    GtkHostPlatform& operator=(const GtkHostPlatform&) = delete;

    // For tests and diagnostics: the native window and web view, null when there is none.
    GtkWindow* NativeWindow() const;
    WebKitWebView* NativeWebView() const;

    void PostHostMessage(const HostMessage& message) override;
    void CreateHostWindow(HostWindowEvents& events) override;
    int RunModalLoop() override;
    void EndDialog(int result) override;
    void DestroyHostWindow() override;

    void SetWindowTitle(const std::string& utf8Title) override;
    void SetWindowIcon() override;
    void MoveWindowTo(Point topLeft) override;
    void SetWindowSize(uint32_t width, uint32_t height) override;
    void MoveWindow(const Rect& rect) override;
    void CenterWindow() override;
    Rect GetWindowRect() override;
    Point ClientToScreen(Point client) override;
    void ShowWindow(ShowCommand command) override;
    Dpi ScreenDpi() override;
    void CapturePointer() override;
    void ReleasePointer() override;
    std::optional<Point> CapturedPointerPosition() override;

    void CreateWebView(std::function<void()> onReady) override;
    void FitWebViewToWindow() override;
    void Navigate(const std::wstring& url) override;
    void SetPageMessageHandler(std::function<void(const std::wstring& text)> onMessage) override;
    void PostWebMessageAsJson(const std::wstring& json) override;

    void OpenUri(const std::string& uri) override;
    std::wstring DownloadsFolder() override;
    std::optional<std::wstring> ShowSaveDialog(const SaveDialogRequest& request) override;
    void RunElevated(const std::wstring& path, std::function<void()> onFailure) override;
    void ShowMessageBox(const std::wstring& text, const std::wstring& caption) override;
    void RevealInFileManager(const std::wstring& path) override;

private:
    struct Loop;

    void Deliver(const HostMessage& message);

    std::unique_ptr<MessageQueue> m_queue;
    HostWindowEvents* m_events = nullptr;
    std::unique_ptr<HostWindow> m_window;
    std::unique_ptr<WebView> m_webView;
    std::unique_ptr<Shell> m_shell;
    std::unique_ptr<ElevatedLauncher> m_launcher;
    std::unique_ptr<Loop> m_loop;
    std::function<void(const std::wstring&)> m_onPageMessage;
    bool m_destroyed = false;
};

// Starts GTK and makes the window layer. On a Wayland session GDK's X11 backend is used (unless
// GDK_BACKEND says otherwise), because the host places its own window, which Wayland does not
// allow. Null, with `error` set, when no display can be opened.
std::unique_ptr<GtkHostPlatform> CreateGtkHostPlatform(int* argc, char*** argv, std::string& error);

} // namespace tarvik::platform::gtk
