#include "app/command_line.h"
#include "app/tarvik_app.h"
#include "common/curl/curl_handle.h"
#include "common/log.h"
#include "platform/gtk/gtk_platform.h"

#include <cstdlib>
#include <iostream>

int main(int argc, char** argv) {
    // --help and --version answer without a display and without touching anything else.
    const tarvik::CommandLine options = tarvik::TakeOwnOptions(argc, argv);
    if (options.help) {
        std::cout << tarvik::HelpText();
        return 0;
    }
    if (options.version) {
        std::cout << tarvik::VersionText();
        return 0;
    }
    tarvik::log::Enable(options.verbose || tarvik::SwitchIsOn(std::getenv("TARVIK_LOG")));
    const bool inspect = options.inspect || tarvik::SwitchIsOn(std::getenv("TARVIK_INSPECTOR"));

    // The transfer library's global state, for the whole run and before any other thread.
    const tarvik::CurlGlobal curl;
    std::string error;
    std::unique_ptr<tarvik::platform::gtk::GtkPlatform> platform =
        tarvik::platform::gtk::CreateGtkPlatform(&argc, &argv, error);
    if (!platform) {
        std::cerr << "tarvik: " << error << "; a graphical desktop session is needed.\n";
        return 1;
    }
    // GTK has taken its own options. What is left changes nothing: an autostart entry or a
    // vendor's shortcut may pass arguments of its own, and the page must still be shown.
    tarvik::LogIgnoredArguments(argc, argv);
    platform->webView.ShowInspector(inspect);
    tarvik::CTarvikApp app(platform->Roles());
    return app.InitInstance();
}
