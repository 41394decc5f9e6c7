#include "settings/install_id.h"

// Placeholder until the identifier lands.
namespace tarvik::settings {
UtcTime CurrentUtcTime() { return {}; }
std::wstring MakeInstallIdAt(const UtcTime&, std::mt19937_64&) { return std::wstring(32, L'0'); }
std::wstring MakeInstallId() { return std::wstring(32, L'0'); }
} // namespace tarvik::settings
