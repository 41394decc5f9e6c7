#pragma once

namespace tarvik {

// The vendor's service origin is fixed when the program is built (TARVIK_SERVICE_ORIGIN in the
// build configuration); a vendor builds its own copy with its own origin. Only endpoints.cpp
// sees the origin, so changing it rebuilds that one file instead of every library.
extern const char* const kServiceOrigin;
// The project's version (CMake's project version), for --version.
extern const char* const kTarvikVersion;
// The vendor's minisign public key (TARVIK_INSTALLER_KEY), checked at configure time; empty when
// the build has none and installers are not signature-checked.
extern const char* const kInstallerKey;
// The publisher whose code signature an installer must carry on Windows
// (TARVIK_INSTALLER_PUBLISHER): the signing certificate's display name; empty for none.
extern const char* const kInstallerPublisher;
extern const char* const INFO_ENDPOINT;
extern const char* const LOG_ENDPOINT;

} // namespace tarvik
