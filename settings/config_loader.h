#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace tarvik::settings {

struct LoadedConfig {
    uint32_t downloaderId = 0;
    std::wstring infoUrl;
    std::wstring uuid;
};

// `config.ini` beside the running executable.
std::filesystem::path ConfigPathBesideExecutable();

// Reads the per-installation settings: root/downloader_id (when not 0 it selects the info URL,
// `infoEndpoint` + "?id=" + the id as a signed 32-bit number), otherwise root/api_url verbatim;
// user/uuid, which is made with `makeInstallId` and written back when missing or empty.
LoadedConfig LoadConfigFile(const std::filesystem::path& configPath, std::string_view infoEndpoint,
                            const std::function<std::wstring()>& makeInstallId);

} // namespace tarvik::settings
