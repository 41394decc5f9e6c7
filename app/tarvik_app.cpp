#include "app/tarvik_app.h"

#include "app/tarvik_dlg.h"

namespace tarvik {

CTarvikApp::CTarvikApp(platform::HostPlatform& platform, platform::System& system,
                       HostOptions options)
    : m_platform(platform), m_system(system), m_options(std::move(options)) {}

int CTarvikApp::InitInstance() {
    CTarvikDlg dialog(m_platform, m_system, m_options);
    dialog.DoModal();
    // The host stops its transfer when it goes out of scope; the window goes with it.
    return 0;
}

} // namespace tarvik
