#include "platform/win32/built_in_page.h"

#include "common/text_conversion.h"
#include "platform/win32/host_window.h"
#include "platform/win32/web_view.h"
#include "platform/win32/window_instance.h"

#include <commctrl.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <exception>
#include <string_view>

namespace tarvik::platform::win32 {
namespace {

constexpr wchar_t kClassName[] = L"TarvikBuiltInPage";
// The ids a dialog's Enter and Esc press: "try again" is the page's OK, "close" its Cancel.
constexpr int kRetryId = IDOK;
constexpr int kCloseId = IDCANCEL;

// A text field of the host's data; empty when missing or not a text.
std::string Field(const nlohmann::json& data, const std::string& name) {
    const auto found = data.find(name);
    return found != data.end() && found->is_string() ? found->get<std::string>() : std::string();
}

void SetText(HWND control, const std::string& text) {
    if (control)
        ::SetWindowTextW(control, WideFromNarrow(text).c_str());
}

} // namespace

BuiltInPage::BuiltInPage(HostWindow& window, WebView& webView)
    : window_(window), webView_(webView) {}

BuiltInPage::~BuiltInPage() {
    Destroy();
}

bool BuiltInPage::Make() {
    if (page_)
        return true;
    if (!window_.Handle())
        return false;
    static const bool registered = RegisterWindowClass(kClassName, &BuiltInPage::WindowProc);
    (void)registered;
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    // Clipped against its siblings and above them: the web view's own window is a sibling too.
    page_ = ::CreateWindowExW(WS_EX_CONTROLPARENT, kClassName, L"",
                              WS_CHILD | WS_CLIPCHILDREN | WS_CLIPSIBLINGS, 0, 0, 0, 0,
                              window_.Handle(), nullptr, instance, this);
    if (!page_)
        return false;
    const auto control = [&](const wchar_t* kind, DWORD style, int id) {
        return ::CreateWindowExW(0, kind, L"", WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, page_,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance,
                                 nullptr);
    };
    static const bool progressClass = [] {
        INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
        return ::InitCommonControlsEx(&controls) != FALSE;
    }();
    (void)progressClass;
    title_ = control(L"STATIC", SS_LEFT | SS_NOPREFIX, 0);
    body_ = control(L"STATIC", SS_LEFT | SS_NOPREFIX, 0);
    retry_ = control(L"BUTTON", BS_DEFPUSHBUTTON | WS_TABSTOP, kRetryId);
    close_ = control(L"BUTTON", BS_PUSHBUTTON | WS_TABSTOP, kCloseId);
    progress_ = control(PROGRESS_CLASSW, PBS_MARQUEE, 0);
    // The system's message font, and a larger one for the title.
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
        textFont_ = ::CreateFontIndirectW(&metrics.lfMessageFont);
        LOGFONTW title = metrics.lfMessageFont;
        title.lfHeight = title.lfHeight * 3 / 2;
        title.lfWeight = FW_SEMIBOLD;
        titleFont_ = ::CreateFontIndirectW(&title);
    }
    for (HWND text : {body_, retry_, close_})
        if (textFont_)
            ::SendMessageW(text, WM_SETFONT, reinterpret_cast<WPARAM>(textFont_), FALSE);
    if (titleFont_)
        ::SendMessageW(title_, WM_SETFONT, reinterpret_cast<WPARAM>(titleFont_), FALSE);
    window_.WhenResized([this] { Layout(); });
    window_.WhenFocused([this] { FocusDefault(); });
    window_.WhenDestroyed([this] { Destroy(); });
    window_.SetDialogKeysWindow(page_);
    return true;
}

void BuiltInPage::Destroy() {
    onCommand_ = nullptr;
    if (page_)
        window_.SetDialogKeysWindow(nullptr);
    shown_ = false;
    if (page_ && ::IsWindow(page_))
        ::DestroyWindow(page_);
    page_ = title_ = body_ = retry_ = close_ = progress_ = nullptr;
    for (HFONT* font : {&titleFont_, &textFont_}) {
        if (*font)
            ::DeleteObject(*font);
        *font = nullptr;
    }
}

void BuiltInPage::Layout() {
    RECT client{};
    if (!page_ || !window_.Handle() || !::GetClientRect(window_.Handle(), &client))
        return;
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;
    ::SetWindowPos(page_, HWND_TOP, 0, 0, width, height, SWP_NOACTIVATE);
    const UINT dpi = ::GetDpiForWindow(page_);
    const auto scaled = [dpi](int value) { return ::MulDiv(value, dpi ? dpi : 96, 96); };
    const int margin = scaled(32);
    const int inner = std::max(width - 2 * margin, 1);
    const int button = scaled(112);
    const int buttonHeight = scaled(30);
    ::MoveWindow(title_, margin, margin, inner, scaled(40), TRUE);
    ::MoveWindow(body_, margin, margin + scaled(52), inner,
                 std::max(height - 2 * margin - scaled(52) - buttonHeight - scaled(16), 1), TRUE);
    const int buttonTop = height - margin - buttonHeight;
    ::MoveWindow(close_, width - margin - button, buttonTop, button, buttonHeight, TRUE);
    ::MoveWindow(retry_, width - margin - 2 * button - scaled(8), buttonTop, button, buttonHeight,
                 TRUE);
    // On the buttons' row, where the retry button would be, while only "close" is offered.
    const int barHeight = scaled(6);
    ::MoveWindow(progress_, margin, buttonTop + (buttonHeight - barHeight) / 2,
                 std::max(inner - button - scaled(24), 1), barHeight, TRUE);
}

void BuiltInPage::Show(const std::string& json) {
    if (!Make())
        return;
    const bool shown = shown_;
    // The host builds the data; anything unreadable shows the connecting state without texts.
    nlohmann::json data = nlohmann::json::parse(json, nullptr, false);
    if (!data.is_object())
        data = nlohmann::json::object();
    std::string state = Field(data, "state");
    if (state != "service" && state != "page")
        state = "connecting";
    SetText(title_, Field(data, state + "_title"));
    SetText(body_, Field(data, state + "_body"));
    SetText(retry_, Field(data, "retry"));
    SetText(close_, Field(data, "close"));
    const bool connecting = state == "connecting";
    ::ShowWindow(retry_, connecting ? SW_HIDE : SW_SHOWNA);
    ::ShowWindow(progress_, connecting ? SW_SHOWNA : SW_HIDE);
    if (progress_)
        ::SendMessageW(progress_, PBM_SETMARQUEE, connecting ? TRUE : FALSE, 30);
    Layout();
    if (!shown_) {
        webView_.SetVisible(false);
        ::ShowWindow(page_, SW_SHOWNA);
        shown_ = true;
    }
    // The focus may have been on the retry button, which the connecting state hides.
    if (::GetActiveWindow() == window_.Handle() && (!shown || !::IsWindowVisible(::GetFocus())))
        FocusDefault();
}

HWND BuiltInPage::DefaultButton() const {
    return RetryOffered() ? retry_ : close_;
}

void BuiltInPage::FocusDefault() {
    // The button that answers Enter: "try again" after a failure, "close" while connecting.
    if (shown_ && page_)
        ::SetFocus(DefaultButton());
}

void BuiltInPage::Hide() {
    if (!shown_)
        return;
    shown_ = false;
    if (page_)
        ::ShowWindow(page_, SW_HIDE);
    webView_.SetVisible(true);
}

bool BuiltInPage::IsShown() const {
    return shown_;
}

void BuiltInPage::SetCommandHandler(std::function<void(const std::string& command)> onCommand) {
    onCommand_ = std::move(onCommand);
}

std::string BuiltInPage::ControlText(const char* control) const {
    const std::string_view name = control;
    const HWND window = name == "title"   ? title_
                        : name == "body"  ? body_
                        : name == "retry" ? retry_
                        : name == "close" ? close_
                                          : nullptr;
    if (!window)
        return {};
    std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(
        static_cast<size_t>(::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return NarrowFromWide(text);
}

bool BuiltInPage::RetryOffered() const {
    return retry_ && (::GetWindowLongW(retry_, GWL_STYLE) & WS_VISIBLE) != 0;
}

bool BuiltInPage::ProgressShown() const {
    return progress_ && (::GetWindowLongW(progress_, GWL_STYLE) & WS_VISIBLE) != 0;
}

LRESULT CALLBACK BuiltInPage::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    // No C++ exception may leave the window procedure, which the system calls.
    try {
        auto* page = WindowInstance<BuiltInPage>(hwnd, message, lParam);
        if (page && page->page_ == hwnd)
            return page->Handle(message, wParam, lParam);
        return ::DefWindowProcW(hwnd, message, wParam, lParam);
    } catch (...) {
        std::terminate();
    }
}

LRESULT BuiltInPage::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case DM_GETDEFID: {
        // Enter presses the button that has the focus, else the default one. Plain child windows
        // have no dialog manager to move the default along with the focus.
        const HWND focus = ::GetFocus();
        const HWND button = focus == retry_ || focus == close_ ? focus : DefaultButton();
        return MAKELRESULT(::GetDlgCtrlID(button), DC_HASDEFID);
    }
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED && shown_ && onCommand_) {
            const int id = LOWORD(wParam);
            // A copy: the handler may replace itself or destroy the window.
            const auto onCommand = onCommand_;
            if (id == kRetryId && RetryOffered())
                onCommand("retry");
            else if (id == kCloseId)
                onCommand("close");
        }
        return 0;
    case WM_CTLCOLORSTATIC:
        // The text sits on the page's own background, not on the dialog grey.
        ::SetBkColor(reinterpret_cast<HDC>(wParam), ::GetSysColor(COLOR_WINDOW));
        return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_WINDOW));
    case WM_NCDESTROY: {
        const HWND page = page_;
        ::SetWindowLongPtrW(page, GWLP_USERDATA, 0);
        page_ = title_ = body_ = retry_ = close_ = progress_ = nullptr;
        return ::DefWindowProcW(page, message, wParam, lParam);
    }
    default:
        break;
    }
    return ::DefWindowProcW(page_, message, wParam, lParam);
}

} // namespace tarvik::platform::win32
