#pragma once

#include "platform/host_platform.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tarvik::platform::headless {

// The window layer without a window system, for tests. It keeps the window's geometry and state
// as plain fields, records what the host asked of the shell and the web view, returns scripted
// answers, and lets a test deliver page messages and pump the message queue.
//
// Threads: PostHostMessage may be called from any thread (the download worker does); every other
// member, the scripted answers included, belongs to the test's thread, which plays the
// user-interface thread.
class HeadlessPlatform final : public HostPlatform {
public:
    // --- Scripted answers ----------------------------------------------------------------------
    Dpi dpi;
    Rect workArea{0, 0, 1920, 1040};
    std::wstring downloadsFolder = L"/home/user/Downloads";
    // What the save dialog returns; nothing means the user cancelled.
    std::optional<std::wstring> saveDialogAnswer;
    // Runs while the save dialog is "open", as a nested message loop would.
    std::function<void()> whileSaveDialogOpen;
    bool elevationSucceeds = true;
    // Where the pointer is on the screen, reported while it is captured.
    std::optional<Point> pointerPosition;

    // --- What the host asked for -------------------------------------------------------------
    bool windowCreated = false;
    bool windowDestroyed = false;
    std::optional<int> endDialogResult;
    Rect windowRect;
    // The size last asked for, before the display's limits were applied.
    std::optional<std::pair<uint32_t, uint32_t>> requestedSize;
    std::string title;
    bool iconSet = false;
    std::optional<ShowCommand> lastShowCommand;
    bool activated = false;
    bool pointerCaptured = false;
    bool webViewCreated = false;
    std::vector<std::wstring> navigations;
    std::vector<std::wstring> pageNotices; // JSON texts sent to the page, in order
    std::vector<std::string> openedUris;
    std::vector<SaveDialogRequest> saveDialogs;
    std::vector<std::wstring> elevatedRuns;
    struct MessageBoxShown {
        std::wstring text;
        std::wstring caption;
    };
    std::vector<MessageBoxShown> messageBoxes;
    std::vector<std::wstring> revealedPaths;

    // --- Test controls -------------------------------------------------------------------------
    // Completes the web view's creation, as the runtime would from the message loop.
    void CompleteWebViewCreation();
    // Delivers a page message to the host's handler, as an accepted message from the page.
    void DeliverPageMessage(const std::wstring& text);
    // Handles queued messages until the queue is empty; returns how many were handled.
    size_t Pump();
    // Handles messages as they arrive until `done` returns true or `timeout` passes; returns
    // whether `done` became true.
    bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
    // Sends a message straight to the host, as the window system does with its own messages.
    void SendSystemMessage(const HostMessage& message);
    // Every message posted through the queue so far, in order, whether handled yet or not.
    std::vector<HostMessage> PostedMessages();

    // --- HostPlatform --------------------------------------------------------------------------
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
    bool HandleOne();

    HostWindowEvents* events_ = nullptr;
    std::function<void()> onWebViewReady_;
    std::function<void(const std::wstring&)> onPageMessage_;

    std::mutex queueMutex_;
    std::condition_variable queueChanged_;
    std::deque<HostMessage> queue_;
    std::vector<HostMessage> posted_;
};

} // namespace tarvik::platform::headless
