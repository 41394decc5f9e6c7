#include "settings/config_loader.h"

// Placeholder until the configuration loader lands.
namespace tarvik::settings {
std::filesystem::path ConfigPathBesideExecutable() { return "config.ini"; }
LoadedConfig LoadConfigFile(const std::filesystem::path&, std::string_view,
                            const std::function<std::wstring()>& makeInstallId) {
    LoadedConfig config;
    config.uuid = makeInstallId();
    return config;
}
} // namespace tarvik::settings
