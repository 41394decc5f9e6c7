#include "app/tarvik_dlg.h"

#include "common/log.h"
#include "common/text_conversion.h"

namespace tarvik {

void CTarvikDlg::LaunchInstaller() {
    // Only the file this run completed may be started. The name is known from the moment a
    // download starts and outlives a failed one, so before the end of a transfer, or after a
    // failure, whatever older file has that name would otherwise be run with administrator
    // rights. Anything else is the same failure the user sees when elevation is refused.
    if (m_downloadState != DownloadState::Finished || m_filePath.empty() ||
        !m_system.IsRegularFile(NarrowFromWide(m_filePath))) {
        ShowLaunchFailure();
        return;
    }
    TARVIK_LOG("install: starting ", NarrowFromWide(m_filePath));
    m_desktop.StartInstaller(NarrowFromWide(m_filePath), [this] { ShowLaunchFailure(); });
}

void CTarvikDlg::ShowLaunchFailure() {
    TARVIK_LOG("install: the installer could not be started");
    m_desktop.ShowMessageBox(
        m_texts.Translate("Could not run the installer. Please run it yourself..."),
        m_texts.Translate("Run failed"));
    // The box has only OK and promises that the user can run the installer by hand, so where to
    // find it is always shown next.
    RevealDownload();
}

void CTarvikDlg::RevealDownload() {
    if (m_downloadState == DownloadState::Finished && !m_filePath.empty()) {
        m_desktop.RevealInFileManager(NarrowFromWide(m_filePath));
        return;
    }
    // A download that is still being written has only a name; an older file under it must not be
    // pointed out as the download, so its folder is opened instead.
    const std::string folder = m_filePath.empty()
                                   ? m_desktop.DownloadsFolder()
                                   : Utf8FromPath(PathFromWide(m_filePath).parent_path());
    if (!folder.empty())
        m_desktop.OpenFolder(folder);
}

} // namespace tarvik
