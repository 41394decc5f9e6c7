#include "app/tarvik_app.h"

#include "app/tarvik_dlg.h"

namespace tarvik {

CTarvikApp::CTarvikApp(const platform::Platform& platform, HostOptions options)
    : platform_(platform), options_(std::move(options)) {}

int CTarvikApp::InitInstance() {
    CTarvikDlg dialog(platform_, options_);
    dialog.DoModal();
    // The host stops its transfer when it goes out of scope; the window goes with it.
    return 0;
}

} // namespace tarvik
