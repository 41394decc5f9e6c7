#pragma once

#include "platform/window.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tarvik::platform::headless {

// The window without a window system. It keeps the geometry and state as plain fields, and sends
// the host the same system messages as the real window: WM_CREATE from Create, WM_SIZE (queued)
// whenever the size changes, WM_CLOSE from RequestClose. A test pumps the queue itself.
//
// Threads: Post may be called from any thread (the download worker does); every other member,
// the scripted answers included, belongs to the test's thread, which plays the user-interface
// thread.
class HeadlessWindow final : public Window {
public:
    // --- Scripted answers ----------------------------------------------------------------------
    Dpi dpi;
    Rect workArea{0, 0, 1920, 1040};
    // Where the pointer is on the screen, reported while it is captured.
    std::optional<Point> pointerPosition;
    // Whether the window has the keyboard focus.
    bool active = true;

    // --- What the host asked for ---------------------------------------------------------------
    bool created = false;
    bool destroyed = false;
    std::optional<int> endDialogResult;
    Rect rect;
    // The size last asked for, before the display's limits were applied.
    std::optional<std::pair<uint32_t, uint32_t>> requestedSize;
    std::string title;
    bool iconSet = false;
    std::optional<ShowCommand> lastShowCommand;
    bool activated = false;
    // Presented (shown on the screen), and how the window looked the first time it was: where,
    // how large and with which title.
    bool shown = false;
    struct FirstShown {
        Rect rect;
        std::string title;
        bool operator==(const FirstShown&) const = default;
    };
    std::optional<FirstShown> firstShown;
    bool pointerCaptured = false;
    // The timers running, by id, with the delay they were started with.
    std::map<uint32_t, std::chrono::milliseconds> timers;

    // What else goes with the window when it is destroyed (the web view living in it).
    std::function<void()> whenDestroyed;

    // --- Test controls -------------------------------------------------------------------------
    // Handles queued messages until the queue is empty; returns how many were handled.
    size_t Pump();
    // Handles messages as they arrive until `done` returns true or `timeout` passes; returns
    // whether `done` became true.
    bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
    // Sends a message straight to the host, as the window system does with its own messages.
    void SendSystemMessage(const HostMessage& message);
    // A close request from the desktop (the window manager's close button, Alt+F4).
    void RequestClose();
    // Lets timer `id` run out, if it runs: queues its WM_TIMER, as the clock would. Returns
    // whether it was running.
    bool FireTimer(uint32_t id);
    // Every message posted through the queue so far, in order, whether handled yet or not.
    std::vector<HostMessage> PostedMessages();

    // --- Window --------------------------------------------------------------------------------
    void Post(const HostMessage& message) override;
    void Create(WindowEvents& events) override;
    int RunModalLoop() override;
    void EndDialog(int result) override;
    void Destroy() override;
    void SetTitle(const std::string& utf8Title) override;
    void SetIcon() override;
    void MoveTo(Point topLeft) override;
    void SetSize(uint32_t width, uint32_t height) override;
    void SetBounds(const Rect& bounds) override;
    void Center() override;
    void Present() override;
    Rect Bounds() override;
    Point ClientToScreen(Point client) override;
    void Show(ShowCommand command) override;
    Dpi ScreenDpi() override;
    bool IsActive() override { return active; }
    void CapturePointer() override;
    void ReleasePointer() override;
    std::optional<Point> CapturedPointerPosition() override;
    void StartTimer(uint32_t id, std::chrono::milliseconds delay) override;
    void StopTimer(uint32_t id) override;

private:
    bool HandleOne();
    // Takes the new geometry and, like a window system reporting a resize, queues WM_SIZE when
    // the size changed.
    void Place(const Rect& bounds);

    WindowEvents* events_ = nullptr;
    uint64_t sizeKind_ = kSizeRestored;
    std::mutex queueMutex_;
    std::condition_variable queueChanged_;
    std::deque<HostMessage> queue_;
    std::vector<HostMessage> posted_;
};

} // namespace tarvik::platform::headless
