#pragma once

#include "platform/system.h"

#include <string>

namespace tarvik::download {

// Records where a downloaded file came from in its `user.xdg.origin.url` extended attribute, as
// Linux downloaders do, so file managers and security tools can tell a downloaded program. User
// name and password are left out of the stored URL. A file system without extended attributes
// is no failure, so nothing is reported.
void RecordOrigin(platform::DownloadFile& file, const std::string& url);

} // namespace tarvik::download
