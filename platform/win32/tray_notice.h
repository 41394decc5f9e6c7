#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace tarvik::platform::win32 {

class HostWindow;

// `text` cut to fit a buffer of `capacity` UTF-16 units with its terminating zero, never between
// the two halves of a surrogate pair.
std::wstring FitToBuffer(std::wstring_view text, size_t capacity);

// A desktop notification on Windows: the program's icon in the notification area with a
// notification balloon (which Windows 10 and 11 show as a notification of the program). Clicking
// it raises the host window; once it is clicked, dismissed or has timed out, the icon goes again.
// The icon's messages go to a message-only window of its own.
//
// Threads: user-interface thread only. Lifetime: the icon goes with the host window or with this
// object, whichever goes first.
class TrayNotice {
public:
    explicit TrayNotice(HostWindow& window);
    ~TrayNotice();
    TrayNotice(const TrayNotice&) = delete;
    TrayNotice& operator=(const TrayNotice&) = delete;

    // Shows `title` and `body`, replacing a notice still shown. False when the desktop took none.
    bool Show(const std::string& title, const std::string& body);
    // Whether the icon is in the notification area.
    bool Shown() const { return shown_; }
    // The message the icon sends, and the window it goes to: for tests, which play the user.
    static constexpr UINT kIconMessage = WM_APP + 1;
    HWND MessageWindow() const { return messages_; }

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void Remove();
    // Removes the icon and destroys the message window.
    void Close();
    void RaiseHostWindow();

    HostWindow& window_;
    HWND messages_ = nullptr;
    bool shown_ = false;
    bool hooked_ = false;
};

} // namespace tarvik::platform::win32
