#include "app/tarvik_dlg.h"

#include "common/curl/web_url.h"
#include "common/log.h"
#include "common/text_conversion.h"
#include "settings/config_loader.h"
#include "settings/install_id.h"

namespace tarvik {

void CTarvikDlg::LoadConfig() {
    const std::string path = m_options.configPath.empty()
                                 ? settings::ConfigPathBesideExecutable(m_system)
                                 : m_options.configPath.string();
    const std::function<std::wstring()> makeInstallId =
        m_options.makeInstallId ? m_options.makeInstallId
                                : std::function<std::wstring()>(settings::MakeInstallId);
    const settings::LoadedConfig config =
        settings::LoadConfigFile(m_system, path, m_options.infoEndpoint, makeInstallId);
    m_downloaderId = config.downloaderId;
    m_infoUrl = config.infoUrl;
    m_uuid = config.uuid;
    m_options.transferLimits.connections = config.connections;
    TARVIK_LOG("config: ", path, ": downloader_id ", m_downloaderId, ", info URL ",
               LoggedUrl(NarrowFromWide(m_infoUrl)), ", uuid ",
               log::Shortened(NarrowFromWide(m_uuid)));
}

} // namespace tarvik
