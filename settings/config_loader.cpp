#include "settings/config_loader.h"

#include "common/text_conversion.h"
#include "settings/install_id.h"
#include "settings/profile_file.h"

#include <system_error>

namespace tarvik::settings {

std::filesystem::path ConfigPathBesideExecutable() {
    std::error_code error;
    const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    // Without the executable's path the working folder is the only place left to look.
    if (error || executable.empty())
        return "config.ini";
    return executable.parent_path() / "config.ini";
}

LoadedConfig LoadConfigFile(const std::filesystem::path& configPath, std::string_view infoEndpoint,
                            const std::function<std::wstring()>& makeInstallId) {
    LoadedConfig config;
    config.downloaderId = ReadProfileInt(configPath, L"root", L"downloader_id", 0);
    if (config.downloaderId != 0) {
        // The service has always been asked with the identifier as a signed 32-bit number, so
        // identifiers from 2^31 up are sent negative; event reports send the same id unsigned.
        const auto signedId = static_cast<int32_t>(config.downloaderId);
        config.infoUrl = WideFromNarrow(infoEndpoint) + L"?id=" + std::to_wstring(signedId);
    } else {
        config.infoUrl = ReadProfileString(configPath, L"root", L"api_url", L"", 259);
    }

    config.uuid = ReadProfileString(configPath, L"user", L"uuid", L"", 259);
    if (config.uuid.empty()) {
        config.uuid = makeInstallId ? makeInstallId() : MakeInstallId();
        // A failed write is not an error: the next start simply makes a new identifier.
        WriteProfileString(configPath, L"user", L"uuid", config.uuid);
    }
    return config;
}

} // namespace tarvik::settings
