#include "app/tarvik_dlg.h"

#include "bridge/built_in_page_texts.h"
#include "common/event_codes.h"
#include "platform/geometry.h"

#include <nlohmann/json.hpp>

namespace tarvik {

namespace {

const char* StateName(StartState state) {
    switch (state) {
    case StartState::Connecting:
        return "connecting";
    case StartState::ServiceUnreachable:
        return "service";
    case StartState::PageFailed:
        return "page";
    }
    return "connecting";
}

} // namespace

void CTarvikDlg::ShowBuiltInPage(StartState state) {
    const bool failed = state != StartState::Connecting;
    if (failed) {
        // The failure is final until the user asks again: no timer may replace what it says.
        m_window.StopTimer(kConnectingTimer);
        m_window.StopTimer(kPageTimer);
        // The service learns that a start failed with an event like the page's own; it may be
        // unreachable, and then the report is simply lost like any other.
        if (m_startState != state)
            ReportEvent(kEventStartFailed);
    }
    m_startState = state;
    nlohmann::json data = bridge::BuiltInPageTexts(m_texts);
    data["state"] = StateName(state);
    m_builtInPage.Show(data.dump());
    // The window is still off-screen (the vendor's page never sized it): the built-in page gets
    // the dialog's own size, centred, which brings it on screen.
    if (!m_builtInPlaced && !m_pageSized) {
        m_builtInPlaced = true;
        const platform::Dpi dpi = m_window.ScreenDpi();
        m_window.SetSize(dpi.x * platform::kInitialWindowWidth / 96u,
                         dpi.y * platform::kInitialWindowHeight / 96u);
        m_window.Center();
    }
}

void CTarvikDlg::OnBuiltInCommand(const std::string& command) {
    if (command == "close") {
        EndDialog(kEndedByPage);
    } else if (command == "retry") {
        // Only a failure can be tried again; while connecting there is nothing to repeat.
        if (!m_startState || m_startState == StartState::Connecting)
            return;
        ShowBuiltInPage(StartState::Connecting);
        m_navigated = false;
        m_pageSized = false;
        FetchProductInfo();
    }
}

void CTarvikDlg::OnTimer(uint64_t id) {
    // A timer's message may have been queued before the page sized the window.
    if (m_pageSized || (m_startState && m_startState != StartState::Connecting))
        return;
    if (id == kConnectingTimer) {
        if (!m_builtInPage.IsShown())
            ShowBuiltInPage(StartState::Connecting);
    } else if (id == kPageTimer) {
        if (m_navigated)
            ShowBuiltInPage(StartState::PageFailed);
    }
}

} // namespace tarvik
