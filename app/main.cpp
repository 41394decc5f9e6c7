#include "app/tarvik_app.h"
#include "platform/gtk/gtk_host_platform.h"
#include "platform/posix/posix_system.h"

#include <iostream>

int main(int argc, char** argv) {
    std::string error;
    std::unique_ptr<tarvik::platform::gtk::GtkHostPlatform> platform =
        tarvik::platform::gtk::CreateGtkHostPlatform(&argc, &argv, error);
    if (!platform) {
        std::cerr << "tarvik: " << error << "; a graphical desktop session is needed.\n";
        return 1;
    }
    tarvik::platform::posix::PosixSystem system;
    tarvik::CTarvikApp app(*platform, system);
    return app.InitInstance();
}
