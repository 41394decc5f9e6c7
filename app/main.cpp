#include "app/tarvik_app.h"
#include "platform/gtk/gtk_platform.h"

#include <iostream>

int main(int argc, char** argv) {
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
