#include "settings/config_loader.h"

#include "common/text_conversion.h"
#include "settings/install_id.h"
#include "settings/profile_file.h"

#include <algorithm>

namespace tarvik::settings {

std::string ConfigPathBesideExecutable(platform::System& system) {
    const std::string folder = system.ExecutableFolder();
    // Without the executable's folder the working folder is the only place left to look.
    if (folder.empty())
        return "config.ini";
    return folder.ends_with('/') ? folder + "config.ini" : folder + "/config.ini";
}

LoadedConfig ReadConfigFile(platform::System& system, const std::string& configPath,
                            std::string_view infoEndpoint,
                            const std::function<std::wstring()>& makeInstallId) {
    LoadedConfig config;
    config.downloaderId = ReadProfileInt(system, configPath, L"root", L"downloader_id", 0);
    if (config.downloaderId != 0) {
        // The service has always been asked with the identifier as a signed 32-bit number, so
        // identifiers from 2^31 up are sent negative; event reports send the same id unsigned.
        const auto signedId = static_cast<int32_t>(config.downloaderId);
        config.infoUrl = WideFromNarrow(infoEndpoint) + L"?id=" + std::to_wstring(signedId);
    } else {
        config.infoUrl = ReadProfileString(system, configPath, L"root", L"api_url", L"", 259);
    }

    const uint32_t connections = ReadProfileInt(system, configPath, L"download", L"connections", 4);
    config.connections = static_cast<int>(std::clamp<uint32_t>(connections, 1, kMostConnections));

    config.uuid = ReadProfileString(system, configPath, L"user", L"uuid", L"", 259);
    if (config.uuid.empty()) {
        config.uuid = makeInstallId ? makeInstallId() : MakeInstallId();
        config.uuidIsNew = true;
    }
    return config;
}

bool StoreInstallId(platform::System& system, const std::string& configPath,
                    const std::wstring& uuid) {
    return WriteProfileValue(system, configPath, L"user", L"uuid", uuid);
}

LoadedConfig LoadConfigFile(platform::System& system, const std::string& configPath,
                            std::string_view infoEndpoint,
                            const std::function<std::wstring()>& makeInstallId) {
    LoadedConfig config = ReadConfigFile(system, configPath, infoEndpoint, makeInstallId);
    // A failed write is not an error: the identifier serves this run, and the next start makes
    // a new one.
    if (config.uuidIsNew)
        StoreInstallId(system, configPath, config.uuid);
    return config;
}

} // namespace tarvik::settings
