#include "app/tarvik_app.h"
#include "common/curl/curl_handle.h"
#include "platform/gtk/gtk_platform.h"

#include <iostream>

int main(int argc, char** argv) {
    // The transfer library's global state, for the whole run and before any other thread.
    const tarvik::CurlGlobal curl;
    std::string error;
    std::unique_ptr<tarvik::platform::gtk::GtkPlatform> platform =
        tarvik::platform::gtk::CreateGtkPlatform(&argc, &argv, error);
    if (!platform) {
        std::cerr << "tarvik: " << error << "; a graphical desktop session is needed.\n";
        return 1;
    }
    tarvik::CTarvikApp app(platform->Roles());
    return app.InitInstance();
}
