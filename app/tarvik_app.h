#pragma once

#include "app/host_options.h"
#include "platform/platform.h"

namespace tarvik {

// The application: runs the host window as a modal dialog for the whole life of the process.
class CTarvikApp {
public:
    CTarvikApp(const platform::Platform& platform, HostOptions options = {});

    // Runs the dialog to its end; the process exits with the returned status (0).
    int InitInstance();

private:
    platform::Platform platform_;
    HostOptions options_;
};

} // namespace tarvik
