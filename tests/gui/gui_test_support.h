#pragma once

#include "common/host_message.h"
#include "platform/gtk/gtk_platform.h"

#include <chrono>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace tarvik::platform {

// For comparing and printing geometry in test expectations.
inline std::ostream& operator<<(std::ostream& out, const Rect& r) {
    return out << "(" << r.left << "," << r.top << ")-(" << r.right << "," << r.bottom << ")";
}

} // namespace tarvik::platform

namespace tarvik::testing {

// A host window that records every message the window layer hands it, and can react to them.
class RecordingHost : public platform::WindowEvents {
public:
    std::vector<HostMessage> messages;
    std::function<void(const HostMessage&)> onMessage;

    void OnHostMessage(const HostMessage& message) override {
        messages.push_back(message);
        if (onMessage)
            onMessage(message);
    }
    std::vector<HostMessage> WithId(uint32_t id) const;
};

// Starts GTK on the test's display and makes the real window layer as the program does; null,
// with the reason, when there is no display.
std::unique_ptr<platform::gtk::GtkPlatform> TryMakeGtkPlatform(std::string& error);
// The same, failing the test when there is no display.
std::unique_ptr<platform::gtk::GtkPlatform> MakeGtkPlatform();

// Runs the platform's modal loop until `done` holds (checked every few milliseconds) or `timeout`
// passes; true when `done` held.
bool RunUntil(platform::gtk::GtkPlatform& platform, const std::function<bool()>& done,
              std::chrono::milliseconds timeout = std::chrono::seconds(10));
// Runs the modal loop for a while, for checks that something does NOT happen.
void RunFor(platform::gtk::GtkPlatform& platform, std::chrono::milliseconds duration);

// Where the X server has the host window, read with xwininfo, independent of GTK's bookkeeping.
platform::Rect XServerGeometry(platform::gtk::GtkPlatform& platform);

// Runs a shell command (xdotool and friends); true when it exits with status 0.
bool RunCommand(const std::string& command);

} // namespace tarvik::testing
