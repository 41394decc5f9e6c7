#include "settings/profile_file.h"

// Placeholder until the INI layer lands.
namespace tarvik::settings {
uint32_t ReadProfileInt(const std::filesystem::path&, std::wstring_view, std::wstring_view,
                        uint32_t defaultValue) {
    return defaultValue;
}
std::wstring ReadProfileString(const std::filesystem::path&, std::wstring_view, std::wstring_view,
                               std::wstring_view defaultValue, size_t) {
    return std::wstring(defaultValue);
}
bool WriteProfileString(const std::filesystem::path&, std::wstring_view, std::wstring_view,
                        std::wstring_view) {
    return false;
}
} // namespace tarvik::settings
