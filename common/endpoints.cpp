#include "common/endpoints.h"

#ifndef TARVIK_SERVICE_ORIGIN
#error "TARVIK_SERVICE_ORIGIN must be defined by the build"
#endif
#ifndef TARVIK_VERSION
#error "TARVIK_VERSION must be defined by the build"
#endif
#ifndef TARVIK_INSTALLER_KEY
#error "TARVIK_INSTALLER_KEY must be defined by the build (empty for none)"
#endif
#ifndef TARVIK_INSTALLER_PUBLISHER
#error "TARVIK_INSTALLER_PUBLISHER must be defined by the build (empty for none)"
#endif

namespace tarvik {

// Constant-initialised, so they are set before any other object's constructor could read them.
const char* const kServiceOrigin = TARVIK_SERVICE_ORIGIN;
const char* const kTarvikVersion = TARVIK_VERSION;
const char* const kInstallerKey = TARVIK_INSTALLER_KEY;
const char* const kInstallerPublisher = TARVIK_INSTALLER_PUBLISHER;
const char* const INFO_ENDPOINT = TARVIK_SERVICE_ORIGIN "/downloader.php/index/info";
const char* const LOG_ENDPOINT = TARVIK_SERVICE_ORIGIN "/downloader.php/index/log";

} // namespace tarvik
