#include "app/tarvik_dlg.h"

#include "bridge/notices.h"

#include <algorithm>

namespace tarvik {

void CTarvikDlg::ResizeWindow(int32_t width, int32_t height,
                              const std::optional<std::string>& title) {
    // The vendor's page has shown itself: it replaces the built-in page, whatever that said, and
    // no timer may bring it back.
    pageSized_ = true;
    startState_.reset();
    pendingState_.reset();
    retriedAt_.reset();
    window_.StopTimer(kConnectingTimer);
    window_.StopTimer(kPageTimer);
    window_.StopTimer(kRetryTimer);
    builtInPage_.Hide();
    if (title)
        SetWindowTitle(*title);
    // The page speaks in logical pixels at 96 dots per inch. The arithmetic is 32-bit unsigned on
    // purpose: pages rely on the same numbers on every platform, including the wrap-around of
    // a negative size.
    const platform::Dpi dpi = window_.ScreenDpi();
    const uint32_t cx = (dpi.x * static_cast<uint32_t>(width)) / 96u;
    const uint32_t cy = (dpi.y * static_cast<uint32_t>(height)) / 96u;
    window_.SetSize(cx, cy);
    window_.Center();
    // Shown only now, at its place and size, with the page in it; the first time, this is what
    // brings the window on screen.
    window_.Present();
}

namespace {

// How far from the origin a dragged window's top-left corner may go. The X protocol carries a
// window's position as a signed 16-bit number, so no screen arrangement is larger, and a real
// drag, which keeps the window under a pointer that is on a screen, never comes near it.
constexpr int64_t kDragCoordinateLimit = 32767;

// Moves one coordinate of the window by the pointer's step. The page's coordinates are client
// coordinates that it may repeat while the window has already moved, so each step can add up to
// the whole 16-bit range; computed in 64 bits and held within what a window system can place.
int32_t DraggedCoordinate(int32_t windowEdge, int32_t pointer, int32_t lastPointer) {
    const int64_t moved = int64_t{windowEdge} + pointer - lastPointer;
    return static_cast<int32_t>(std::clamp(moved, -kDragCoordinateLimit, kDragCoordinateLimit));
}

} // namespace

void CTarvikDlg::SetWindowTitle(const std::string& title) {
    window_.SetTitle(title);
    titled_ = true;
}

platform::Point CTarvikDlg::ScreenPointFromParam(int64_t pointParam) {
    if (const std::optional<platform::Point> pointer = window_.CapturedPointerPosition())
        return *pointer;
    return window_.ClientToScreen({PointParamX(pointParam), PointParamY(pointParam)});
}

// A drag starts only through the page's "mousedown" command, which sets dragging_ before it
// posts the button message; a press the window system delivers on its own never starts one.
void CTarvikDlg::OnLButtonDown(int64_t pointParam) {
    if (dragging_) {
        window_.CapturePointer();
        // Read after capturing, so that the drag starts from the same source of positions that
        // its moves will use.
        lastCursor_ = ScreenPointFromParam(pointParam);
    }
}

void CTarvikDlg::OnMouseMove(int64_t pointParam) {
    const platform::Point point = ScreenPointFromParam(pointParam);
    if (dragging_) {
        const platform::Rect rect = window_.Bounds();
        const int32_t left = DraggedCoordinate(rect.left, point.x, lastCursor_.x);
        const int32_t top = DraggedCoordinate(rect.top, point.y, lastCursor_.y);
        window_.SetBounds({left, top, left + rect.Width(), top + rect.Height()});
        lastCursor_ = point;
    }
}

void CTarvikDlg::OnLButtonUp(int64_t /*pointParam*/) {
    if (dragging_) {
        window_.ReleasePointer();
        dragging_ = false;
    }
}

void CTarvikDlg::OnSize(const HostMessage& message) {
    if (webViewReady_)
        webView_.FitToWindow();
    // The page learns the window's real state rather than guessing it from its own commands.
    if (message.wParam != sizeKind_) {
        sizeKind_ = message.wParam;
        const bridge::WindowState state =
            sizeKind_ == platform::kSizeMinimized   ? bridge::WindowState::Minimized
            : sizeKind_ == platform::kSizeMaximized ? bridge::WindowState::Maximized
                                                    : bridge::WindowState::Normal;
        PostNoticeToPage(bridge::WindowStateNotice(state));
    }
}

} // namespace tarvik
