#pragma once

#include "platform/system.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace tarvik::settings {

struct LoadedConfig {
    uint32_t downloaderId = 0;
    std::wstring infoUrl;
    std::wstring uuid;
    // download/connections: how many ranges of a large installer are fetched at once; 1 turns
    // several connections off. Missing means 4; values are held to 1..kMostConnections.
    int connections = 4;
    // The identifier was made for this run, as the file had none: it is still to be written.
    bool uuidIsNew = false;
};

inline constexpr int kMostConnections = 8;

// `config.ini` beside the running executable (UTF-8); just "config.ini", in the working folder,
// when the system cannot tell where the executable is.
std::string ConfigPathBesideExecutable(platform::System& system);

// Reads the per-installation settings (see LoadConfigFile) and writes nothing: a new identifier
// is only made, and `uuidIsNew` says it is still to be stored with StoreInstallId.
LoadedConfig ReadConfigFile(platform::System& system, const std::string& configPath,
                            std::string_view infoEndpoint,
                            const std::function<std::wstring()>& makeInstallId);

// Writes user/uuid into the file (see WriteProfileValue, which syncs it to disk); false when it
// could not, and then the identifier serves this run only.
bool StoreInstallId(platform::System& system, const std::string& configPath,
                    const std::wstring& uuid);

// Reads the per-installation settings: root/downloader_id (when not 0 it selects the info URL,
// `infoEndpoint` + "?id=" + the id as a signed 32-bit number), otherwise root/api_url verbatim;
// download/connections (see LoadedConfig); user/uuid, which is made with `makeInstallId` and
// written back when missing or empty. When it cannot be written (see WriteProfileValue), the new
// identifier serves this run only.
LoadedConfig LoadConfigFile(platform::System& system, const std::string& configPath,
                            std::string_view infoEndpoint,
                            const std::function<std::wstring()>& makeInstallId);

} // namespace tarvik::settings
