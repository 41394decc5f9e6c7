#pragma once

#include "app/host_options.h"
#include "platform/host_platform.h"
#include "platform/system.h"

namespace tarvik {

// The application: runs the host window as a modal dialog for the whole life of the process.
class CTarvikApp {
public:
    CTarvikApp(platform::HostPlatform& platform, platform::System& system,
               HostOptions options = {});

    // Runs the dialog to its end; the process exits with the returned status (0).
    int InitInstance();

private:
    platform::HostPlatform& m_platform;
    platform::System& m_system;
    HostOptions m_options;
};

} // namespace tarvik
