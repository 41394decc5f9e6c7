#include "platform/headless/headless_platform.h"

#include <algorithm>

namespace tarvik::platform::headless {

void HeadlessPlatform::CompleteWebViewCreation() {
    if (onWebViewReady_) {
        auto ready = std::move(onWebViewReady_);
        onWebViewReady_ = nullptr;
        ready();
    }
}

void HeadlessPlatform::DeliverPageMessage(const std::wstring& text) {
    if (onPageMessage_ && !windowDestroyed)
        onPageMessage_(text);
}

bool HeadlessPlatform::HandleOne() {
    HostMessage message;
    {
        std::lock_guard lock(queueMutex_);
        if (queue_.empty())
            return false;
        message = queue_.front();
        queue_.pop_front();
    }
    if (events_ && !windowDestroyed)
        events_->OnHostMessage(message);
    return true;
}

size_t HeadlessPlatform::Pump() {
    size_t handled = 0;
    while (HandleOne())
        ++handled;
    return handled;
}

bool HeadlessPlatform::PumpUntil(const std::function<bool()>& done,
                                 std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        Pump();
        if (done())
            return true;
        std::unique_lock lock(queueMutex_);
        if (!queueChanged_.wait_until(lock, deadline, [this] { return !queue_.empty(); }))
            return done();
    }
}

void HeadlessPlatform::SendSystemMessage(const HostMessage& message) {
    if (events_ && !windowDestroyed)
        events_->OnHostMessage(message);
}

std::vector<HostMessage> HeadlessPlatform::PostedMessages() {
    std::lock_guard lock(queueMutex_);
    return posted_;
}

void HeadlessPlatform::PostHostMessage(const HostMessage& message) {
    {
        std::lock_guard lock(queueMutex_);
        queue_.push_back(message);
        posted_.push_back(message);
    }
    queueChanged_.notify_all();
}

void HeadlessPlatform::CreateHostWindow(HostWindowEvents& events) {
    events_ = &events;
    windowCreated = true;
    windowRect = {0, 0, 480, 325}; // a small dialog's default size
    events.OnHostMessage({WM_CREATE, 0, 0});
}

int HeadlessPlatform::RunModalLoop() {
    // Tests drive the queue themselves; a modal run just handles what is queued.
    Pump();
    return endDialogResult.value_or(0);
}

void HeadlessPlatform::EndDialog(int result) {
    endDialogResult = result;
}

void HeadlessPlatform::DestroyHostWindow() {
    windowDestroyed = true;
    events_ = nullptr;
    onPageMessage_ = nullptr;
    onWebViewReady_ = nullptr;
}

void HeadlessPlatform::SetWindowTitle(const std::string& utf8Title) {
    title = utf8Title;
}

void HeadlessPlatform::SetWindowIcon() {
    iconSet = true;
}

void HeadlessPlatform::MoveWindowTo(Point topLeft) {
    const int32_t width = windowRect.Width(), height = windowRect.Height();
    windowRect = {topLeft.x, topLeft.y, topLeft.x + width, topLeft.y + height};
}

void HeadlessPlatform::SetWindowSize(uint32_t width, uint32_t height) {
    requestedSize = {width, height};
    // Like a real display, the window cannot be larger than the screen nor smaller than 1 x 1.
    const auto clamp = [](uint32_t value, int32_t limit) {
        return static_cast<int32_t>(std::clamp<uint32_t>(value, 1, static_cast<uint32_t>(limit)));
    };
    windowRect.right = windowRect.left + clamp(width, workArea.Width());
    windowRect.bottom = windowRect.top + clamp(height, workArea.Height());
    activated = true;
}

void HeadlessPlatform::MoveWindow(const Rect& rect) {
    windowRect = rect;
}

void HeadlessPlatform::CenterWindow() {
    const int32_t width = windowRect.Width(), height = windowRect.Height();
    int32_t left = workArea.left + (workArea.Width() - width) / 2;
    int32_t top = workArea.top + (workArea.Height() - height) / 2;
    left = std::max(workArea.left, std::min(left, workArea.right - width));
    top = std::max(workArea.top, std::min(top, workArea.bottom - height));
    windowRect = {left, top, left + width, top + height};
}

Rect HeadlessPlatform::GetWindowRect() {
    return windowRect;
}

Point HeadlessPlatform::ClientToScreen(Point client) {
    return {client.x + windowRect.left, client.y + windowRect.top};
}

void HeadlessPlatform::ShowWindow(ShowCommand command) {
    lastShowCommand = command;
}

Dpi HeadlessPlatform::ScreenDpi() {
    return dpi;
}

void HeadlessPlatform::CapturePointer() {
    pointerCaptured = true;
}

void HeadlessPlatform::ReleasePointer() {
    pointerCaptured = false;
}

std::optional<Point> HeadlessPlatform::CapturedPointerPosition() {
    return pointerCaptured ? pointerPosition : std::nullopt;
}

void HeadlessPlatform::CreateWebView(std::function<void()> onReady) {
    webViewCreated = true;
    onWebViewReady_ = std::move(onReady);
}

void HeadlessPlatform::FitWebViewToWindow() {}

void HeadlessPlatform::Navigate(const std::wstring& url) {
    navigations.push_back(url);
}

void HeadlessPlatform::SetPageMessageHandler(
    std::function<void(const std::wstring& text)> onMessage) {
    onPageMessage_ = std::move(onMessage);
}

void HeadlessPlatform::PostWebMessageAsJson(const std::wstring& json) {
    pageNotices.push_back(json);
}

void HeadlessPlatform::OpenUri(const std::string& uri) {
    openedUris.push_back(uri);
}

std::wstring HeadlessPlatform::DownloadsFolder() {
    return downloadsFolder;
}

std::optional<std::wstring> HeadlessPlatform::ShowSaveDialog(const SaveDialogRequest& request) {
    saveDialogs.push_back(request);
    if (whileSaveDialogOpen)
        whileSaveDialogOpen();
    return saveDialogAnswer;
}

void HeadlessPlatform::RunElevated(const std::wstring& path, std::function<void()> onFailure) {
    elevatedRuns.push_back(path);
    if (!elevationSucceeds && onFailure)
        onFailure();
}

void HeadlessPlatform::ShowMessageBox(const std::wstring& text, const std::wstring& caption) {
    messageBoxes.push_back({text, caption});
}

void HeadlessPlatform::RevealInFileManager(const std::wstring& path) {
    revealedPaths.push_back(path);
}

} // namespace tarvik::platform::headless
