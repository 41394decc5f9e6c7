#pragma once

#include "common/host_message.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tarvik::platform {

struct Point {
    int32_t x = 0;
    int32_t y = 0;
};

struct Rect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
    int32_t Width() const { return right - left; }
    int32_t Height() const { return bottom - top; }
};

struct Dpi {
    uint32_t x = 96;
    uint32_t y = 96;
};

enum class ShowCommand { Minimized, Maximized, Normal };

struct FileFilter {
    std::wstring label;   // shown to the user, e.g. L"所有文件(*.*)"
    std::wstring pattern; // a glob, e.g. L"*.exe" or L"*.*"
};

struct SaveDialogRequest {
    std::wstring proposedName;     // file name offered in the name field
    std::wstring defaultExtension; // appended when the user types a name without one
    std::vector<FileFilter> filters;
};

// What the host handles. The window layer calls it on the user-interface thread only.
class HostWindowEvents {
public:
    virtual ~HostWindowEvents() = default;
    // Every message for the host window: those posted through PostHostMessage, and the system's
    // own (WM_CREATE while the window is made, WM_SIZE, WM_CLOSE for a close request from the
    // desktop, and pointer motion and button release while the pointer is captured).
    virtual void OnHostMessage(const HostMessage& message) = 0;
};

// The one narrow layer through which the host reaches the window system, the embedded web view,
// the desktop shell and dialogs. The real implementation is GTK + WebKitGTK; the headless one
// records what was asked and returns scripted answers for tests.
//
// Threads: PostHostMessage may be called from any thread; everything else only on the
// user-interface thread.
class HostPlatform {
public:
    virtual ~HostPlatform() = default;

    // --- Message queue -------------------------------------------------------------------------
    // Queues a message for the host. Messages are handled on the user-interface thread in the
    // order they were posted, also while a modal dialog of the platform runs its own loop.
    virtual void PostHostMessage(const HostMessage& message) = 0;

    // --- Host window ---------------------------------------------------------------------------
    // Makes the frameless top-level window (shown, with a taskbar entry) and delivers WM_CREATE
    // to `events` before it returns. `events` receives every message until the window is
    // destroyed, and must outlive it.
    virtual void CreateHostWindow(HostWindowEvents& events) = 0;
    // Runs the message loop until EndDialog; returns the code given to EndDialog.
    virtual int RunModalLoop() = 0;
    virtual void EndDialog(int result) = 0;
    // Destroys the window and the web view; no message is delivered afterwards.
    virtual void DestroyHostWindow() = 0;

    virtual void SetWindowTitle(const std::string& utf8Title) = 0;
    virtual void SetWindowIcon() = 0;
    // Moves the window without changing its size (screen coordinates of its top-left corner).
    virtual void MoveWindowTo(Point topLeft) = 0;
    // Changes the size in device pixels, clamped to what the display can show (at least 1 x 1),
    // keeping the position; raises and activates the window.
    virtual void SetWindowSize(uint32_t width, uint32_t height) = 0;
    // Moves and sizes in one step, without activating.
    virtual void MoveWindow(const Rect& rect) = 0;
    // Centres the window in the work area of the monitor that holds it (the primary monitor when
    // it lies on none), clamped into that work area.
    virtual void CenterWindow() = 0;
    virtual Rect GetWindowRect() = 0;
    virtual Point ClientToScreen(Point client) = 0;
    virtual void ShowWindow(ShowCommand command) = 0;
    virtual Dpi ScreenDpi() = 0;
    // While captured, real pointer motion and the button release over the whole window (the web
    // view included) reach the host as WM_MOUSEMOVE and WM_LBUTTONUP in client coordinates.
    virtual void CapturePointer() = 0;
    virtual void ReleasePointer() = 0;
    // While captured, where the pointer really is on the screen; nothing otherwise. The page's
    // client coordinates lag behind a window that the window system moves asynchronously, so a
    // drag follows the real pointer whenever the window layer knows it.
    virtual std::optional<Point> CapturedPointerPosition() = 0;

    // --- Web view ------------------------------------------------------------------------------
    // Starts making the web view that fills the window's client area. It completes later, from
    // the message loop, by calling `onReady` on the user-interface thread.
    virtual void CreateWebView(std::function<void()> onReady) = 0;
    // Keeps the web view the size of the client area (after WM_SIZE).
    virtual void FitWebViewToWindow() = 0;
    // Loads `url`; an empty or invalid URL loads nothing. Page messages are accepted only from the
    // top-level document while it shows the origin this navigation ended at (after redirects).
    virtual void Navigate(const std::wstring& url) = 0;
    // Connects page messages: `onMessage` gets each accepted message's text (empty text for a
    // message that was not a string).
    virtual void SetPageMessageHandler(std::function<void(const std::wstring& text)> onMessage) = 0;
    // Delivers a JSON text to the page's message listeners as a parsed object.
    virtual void PostWebMessageAsJson(const std::wstring& json) = 0;

    // --- Shell and dialogs -----------------------------------------------------------------------
    // Opens a URL with the desktop's default handler.
    virtual void OpenUri(const std::string& uri) = 0;
    // The user's Downloads folder; empty when unknown.
    virtual std::wstring DownloadsFolder() = 0;
    // A modal save dialog that asks before replacing a file; the chosen full path, or nothing when
    // cancelled. Page messages keep arriving while it is open.
    virtual std::optional<std::wstring> ShowSaveDialog(const SaveDialogRequest& request) = 0;
    // Makes the file executable for its owner and runs it with administrator rights, without
    // waiting for it. `onFailure` is called on the user-interface thread, at most once, when the
    // program could not be started: no way to elevate, the authorisation was refused or failed,
    // or the start failed. That may be known at once (then it is called before this returns) or
    // only once the user has answered the authorisation prompt. It is never called after the
    // host window is destroyed.
    virtual void RunElevated(const std::wstring& path, std::function<void()> onFailure) = 0;
    // A modal message box with one OK button.
    virtual void ShowMessageBox(const std::wstring& text, const std::wstring& caption) = 0;
    // Shows the file selected in the file manager (or at least its folder).
    virtual void RevealInFileManager(const std::wstring& path) = 0;
};

} // namespace tarvik::platform
