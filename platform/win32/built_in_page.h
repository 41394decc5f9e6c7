#pragma once

#include "platform/built_in_page.h"

#include <windows.h>

#include <functional>
#include <string>

namespace tarvik::platform::win32 {

class HostWindow;
class WebView;

// The program's own page on Windows: a plain child window over the whole client area of the host
// window, with the title and body as static text and the two buttons as push buttons. It needs no
// web view at all, so it also shows where the web view runtime itself fails, and nothing the
// vendor's page does can reach it. While it is shown the web view is hidden.
//
// The data is the JSON object the host hands over (its texts, its "state": "connecting",
// "service" or "page"); it goes into the controls as text. In the "connecting" state only the
// close button is offered, beside a progress bar that runs without an end, as on the other
// platforms' page.
//
// Keyboard: the host window's loop gives the page the dialog keys, so Tab moves between the
// buttons, Enter presses the focused one (else "try again" where offered, else "close") and Esc
// presses "close". The page takes the focus whenever the host window gets it while it is shown.
//
// Threads: user-interface thread only; the command handler runs there. Lifetime: made on the
// first Show, destroyed with the host window; no command reaches the host after that.
class BuiltInPage final : public platform::BuiltInPage {
public:
    BuiltInPage(HostWindow& window, WebView& webView);
    ~BuiltInPage() override;
    BuiltInPage(const BuiltInPage&) = delete;
    BuiltInPage& operator=(const BuiltInPage&) = delete;

    void Show(const std::string& json) override;
    void Hide() override;
    bool IsShown() const override;
    void SetCommandHandler(std::function<void(const std::string& command)> onCommand) override;

    // The page's own window; null before the first Show and after the host window went.
    HWND Handle() const { return page_; }
    // The text a control shows, for tests: "title", "body", "retry", "close"; whether the retry
    // button is offered.
    std::string ControlText(const char* control) const;
    bool RetryOffered() const;
    bool ProgressShown() const;

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
    bool Make();
    void Layout();
    HWND DefaultButton() const;
    void FocusDefault();
    void Destroy();

    HostWindow& window_;
    WebView& webView_;
    std::function<void(const std::string&)> onCommand_;
    HWND page_ = nullptr;
    HWND title_ = nullptr;
    HWND body_ = nullptr;
    HWND retry_ = nullptr;
    HWND close_ = nullptr;
    HWND progress_ = nullptr;
    HFONT titleFont_ = nullptr;
    HFONT textFont_ = nullptr;
    bool shown_ = false;
};

} // namespace tarvik::platform::win32
