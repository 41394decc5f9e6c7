#include "platform/headless/headless_window.h"

#include <algorithm>

namespace tarvik::platform::headless {

bool HeadlessWindow::HandleOne() {
    HostMessage message;
    {
        std::lock_guard lock(queueMutex_);
        if (queue_.empty())
            return false;
        message = queue_.front();
        queue_.pop_front();
    }
    if (events_ && !destroyed)
        events_->OnHostMessage(message);
    return true;
}

size_t HeadlessWindow::Pump() {
    size_t handled = 0;
    while (HandleOne())
        ++handled;
    return handled;
}

bool HeadlessWindow::PumpUntil(const std::function<bool()>& done,
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

void HeadlessWindow::SendSystemMessage(const HostMessage& message) {
    if (events_ && !destroyed)
        events_->OnHostMessage(message);
}

void HeadlessWindow::RequestClose() {
    SendSystemMessage({WM_CLOSE, 0, 0});
}

std::vector<HostMessage> HeadlessWindow::PostedMessages() {
    std::lock_guard lock(queueMutex_);
    return posted_;
}

void HeadlessWindow::Post(const HostMessage& message) {
    {
        std::lock_guard lock(queueMutex_);
        queue_.push_back(message);
        posted_.push_back(message);
    }
    queueChanged_.notify_all();
}

void HeadlessWindow::Create(WindowEvents& events) {
    events_ = &events;
    created = true;
    rect = {0, 0, kInitialWindowWidth, kInitialWindowHeight};
    events.OnHostMessage({WM_CREATE, 0, 0});
}

int HeadlessWindow::RunModalLoop() {
    // Tests drive the queue themselves; a modal run just handles what is queued.
    Pump();
    return endDialogResult.value_or(0);
}

void HeadlessWindow::EndDialog(int result) {
    endDialogResult = result;
}

void HeadlessWindow::Destroy() {
    destroyed = true;
    events_ = nullptr;
    timers.clear();
    if (whenDestroyed)
        whenDestroyed();
}

void HeadlessWindow::SetTitle(const std::string& utf8Title) {
    // As a window system takes it: up to the first zero.
    title = utf8Title.substr(0, utf8Title.find('\0'));
}

void HeadlessWindow::SetIcon() {
    iconSet = true;
}

void HeadlessWindow::Place(const Rect& bounds) {
    const bool resized = bounds.Width() != rect.Width() || bounds.Height() != rect.Height();
    rect = bounds;
    if (resized)
        Post({WM_SIZE, sizeKind_, MakePointParam(rect.Width(), rect.Height())});
}

void HeadlessWindow::MoveTo(Point topLeft) {
    Place({topLeft.x, topLeft.y, topLeft.x + rect.Width(), topLeft.y + rect.Height()});
}

void HeadlessWindow::SetSize(uint32_t width, uint32_t height) {
    requestedSize = {width, height};
    // Like a real display, the window cannot be larger than the screen nor smaller than 1 x 1.
    const auto clamp = [](uint32_t value, int32_t limit) {
        return static_cast<int32_t>(std::clamp<uint32_t>(value, 1, static_cast<uint32_t>(limit)));
    };
    Place({rect.left, rect.top, rect.left + clamp(width, workArea.Width()),
           rect.top + clamp(height, workArea.Height())});
    if (shown)
        activated = true;
}

void HeadlessWindow::Present() {
    if (!shown)
        firstShown = FirstShown{rect, title};
    shown = true;
    activated = true;
}

void HeadlessWindow::SetBounds(const Rect& bounds) {
    Place({bounds.left, bounds.top, std::max(bounds.right, bounds.left + 1),
           std::max(bounds.bottom, bounds.top + 1)});
}

void HeadlessWindow::Center() {
    const int32_t width = rect.Width(), height = rect.Height();
    int32_t left = workArea.left + (workArea.Width() - width) / 2;
    int32_t top = workArea.top + (workArea.Height() - height) / 2;
    left = std::max(workArea.left, std::min(left, workArea.right - width));
    top = std::max(workArea.top, std::min(top, workArea.bottom - height));
    Place({left, top, left + width, top + height});
}

Rect HeadlessWindow::Bounds() {
    return rect;
}

Point HeadlessWindow::ClientToScreen(Point client) {
    return {client.x + rect.left, client.y + rect.top};
}

void HeadlessWindow::Show(ShowCommand command) {
    lastShowCommand = command;
    const uint64_t kind = command == ShowCommand::Minimized   ? kSizeMinimized
                          : command == ShowCommand::Maximized ? kSizeMaximized
                                                              : kSizeRestored;
    // Like a window system, a state change is reported as WM_SIZE of that kind.
    if (kind != sizeKind_) {
        sizeKind_ = kind;
        Post({WM_SIZE, kind, MakePointParam(rect.Width(), rect.Height())});
    }
}

Dpi HeadlessWindow::ScreenDpi() {
    return dpi;
}

void HeadlessWindow::CapturePointer() {
    pointerCaptured = true;
}

void HeadlessWindow::ReleasePointer() {
    pointerCaptured = false;
}

bool HeadlessWindow::FireTimer(uint32_t id) {
    if (timers.erase(id) == 0)
        return false;
    Post({WM_TIMER, id, 0});
    return true;
}

void HeadlessWindow::StartTimer(uint32_t id, std::chrono::milliseconds delay) {
    if (!destroyed)
        timers[id] = delay;
}

void HeadlessWindow::StopTimer(uint32_t id) {
    timers.erase(id);
}

std::optional<Point> HeadlessWindow::CapturedPointerPosition() {
    return pointerCaptured ? pointerPosition : std::nullopt;
}

} // namespace tarvik::platform::headless
