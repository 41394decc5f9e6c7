#include "platform/win32/tray_notice.h"

#include "common/text_conversion.h"
#include "platform/win32/host_window.h"
#include "platform/win32/window_instance.h"

#include <shellapi.h>

#include <algorithm>
#include <exception>

namespace tarvik::platform::win32 {
namespace {

constexpr wchar_t kClassName[] = L"TarvikTrayNotice";
constexpr UINT kIconId = 1;

template <size_t N> void CopyInto(wchar_t (&buffer)[N], const std::wstring& text) {
    const std::wstring fitted = FitToBuffer(text, N);
    std::copy(fitted.begin(), fitted.end(), buffer);
    buffer[fitted.size()] = L'\0';
}

} // namespace

std::wstring FitToBuffer(std::wstring_view text, size_t capacity) {
    if (capacity == 0)
        return {};
    size_t length = std::min(text.size(), capacity - 1);
    // A high surrogate whose low half did not fit would be half a character.
    if (length < text.size() && length > 0 && text[length - 1] >= 0xD800 &&
        text[length - 1] <= 0xDBFF)
        --length;
    return std::wstring(text.substr(0, length));
}

TrayNotice::TrayNotice(HostWindow& window) : window_(window) {}

TrayNotice::~TrayNotice() {
    Close();
}

void TrayNotice::Close() {
    Remove();
    if (messages_)
        ::DestroyWindow(messages_); // its WM_NCDESTROY clears messages_
}

bool TrayNotice::Show(const std::string& title, const std::string& body) {
    if (!window_.Handle())
        return false;
    if (!messages_) {
        static const bool registered = RegisterWindowClass(kClassName, &TrayNotice::WindowProc);
        if (!registered)
            return false;
        messages_ = ::CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                      ::GetModuleHandleW(nullptr), this);
        if (!messages_)
            return false;
    }
    if (!hooked_) {
        hooked_ = true;
        window_.WhenDestroyed([this] { Close(); });
    }
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof data;
    data.hWnd = messages_;
    data.uID = kIconId;
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_INFO;
    data.uCallbackMessage = kIconMessage;
    data.hIcon = ProgramIcon(::GetSystemMetrics(SM_CXSMICON));
    if (!data.hIcon)
        data.hIcon = ::LoadIconW(nullptr, IDI_APPLICATION);
    CopyInto(data.szTip, WideFromNarrow(title));
    CopyInto(data.szInfoTitle, WideFromNarrow(title));
    CopyInto(data.szInfo, WideFromNarrow(body));
    data.dwInfoFlags = NIIF_INFO;
    // A notice still shown is replaced rather than joined by a second icon.
    if (shown_ && ::Shell_NotifyIconW(NIM_MODIFY, &data))
        return true;
    Remove();
    if (!::Shell_NotifyIconW(NIM_ADD, &data))
        return false;
    data.uVersion = NOTIFYICON_VERSION_4;
    ::Shell_NotifyIconW(NIM_SETVERSION, &data);
    shown_ = true;
    return true;
}

void TrayNotice::Remove() {
    if (!shown_)
        return;
    shown_ = false;
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof data;
    data.hWnd = messages_;
    data.uID = kIconId;
    ::Shell_NotifyIconW(NIM_DELETE, &data);
}

void TrayNotice::RaiseHostWindow() {
    const HWND host = window_.Handle();
    if (!host)
        return;
    if (::IsIconic(host))
        ::ShowWindow(host, SW_RESTORE);
    ::SetForegroundWindow(host);
}

LRESULT CALLBACK TrayNotice::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    // No C++ exception may leave the window procedure, which the system calls.
    try {
        auto* notice = WindowInstance<TrayNotice>(hwnd, message, lParam);
        if (message == WM_NCDESTROY) {
            ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
            if (notice && notice->messages_ == hwnd)
                notice->messages_ = nullptr;
        } else if (message == kIconMessage && notice) {
            // NOTIFYICON_VERSION_4: the event in the low word of lParam.
            switch (LOWORD(lParam)) {
            case NIN_BALLOONUSERCLICK:
            case NIN_SELECT:
            case NIN_KEYSELECT:
            case WM_LBUTTONUP:
                notice->Remove();
                notice->RaiseHostWindow();
                break;
            case NIN_BALLOONTIMEOUT:
                notice->Remove();
                break;
            default:
                break;
            }
            return 0;
        }
        return ::DefWindowProcW(hwnd, message, wParam, lParam);
    } catch (...) {
        std::terminate();
    }
}

} // namespace tarvik::platform::win32
