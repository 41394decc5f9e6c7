#include "download/installer_file_name.h"

// Placeholder until the download code lands.
namespace tarvik::download {
std::wstring InstallerFileName(std::wstring_view) { return L"setup"; }
} // namespace tarvik::download
