#include "app/tarvik_dlg.h"

#include "common/curl/web_url.h"
#include "common/download_failure.h"
#include "common/log.h"
#include "common/text_conversion.h"
#include "download/installer_file_name.h"
#include "download/save_filters.h"
#include "download/transfer_job.h"

#include <filesystem>

namespace tarvik {

namespace {

// The dialog offers the installer's name in `folder` (when one is known). A name typed without an
// extension gets the installer's own: "txt", the old default, saved installers as text files.
platform::SaveDialogRequest InstallerSaveDialog(const std::wstring& fileName,
                                                const std::wstring& folder,
                                                const Catalogue& texts) {
    const std::filesystem::path name = PathFromWide(fileName);
    std::string extension = Utf8FromPath(name.extension());
    if (!extension.empty())
        extension.erase(0, 1);
    const std::filesystem::path proposed = folder.empty() ? name : PathFromWide(folder) / name;
    return {Utf8FromPath(proposed), extension, download::SaveDialogFilters(extension, texts)};
}

} // namespace

void CTarvikDlg::StartDownload(bool silent) {
    m_filePath.clear();
    const std::wstring folder = WideFromNarrow(m_desktop.DownloadsFolder());
    // A name longer than the file system takes is shortened here, keeping its extension.
    const std::wstring fileName = WideFromNarrow(
        download::NumberedFileName(NarrowFromWide(download::InstallerFileName(m_downloadUrl)), 0));

    // From here until the start message is handled, further "dnld" requests are dropped: the
    // save dialog's loop keeps delivering page messages.
    m_downloadStarting = true;
    if (silent && !folder.empty()) {
        m_filePath = WideFromPath(PathFromWide(folder) / PathFromWide(fileName));
    } else {
        const std::optional<std::string> chosen = m_desktop.ShowSaveDialog(InstallerSaveDialog(
            fileName, m_lastSaveFolder.empty() ? folder : m_lastSaveFolder, m_texts));
        if (!chosen) {
            // Cancelled: nothing is posted and the page may ask again.
            TARVIK_LOG("download: save dialog cancelled");
            m_downloadStarting = false;
            return;
        }
        m_filePath = WideFromNarrow(*chosen);
        m_lastSaveFolder = WideFromPath(PathFromWide(m_filePath).parent_path());
    }

    TARVIK_LOG("download: ", LoggedUrl(NarrowFromWide(m_downloadUrl)), " to ",
               NarrowFromWide(m_filePath));
    // Queued ahead of everything the worker will post, so the page hears "start" first.
    PostToSelf(WM_DNLD_START);

    platform::Window& window = m_window;
    const std::string url = NarrowFromWide(m_downloadUrl);
    const std::string target = NarrowFromWide(m_filePath);
    m_transfer = std::make_unique<download::TransferJob>(
        *m_transferWorkers, url, target, m_options.transferLimits,
        [&window](const HostMessage& message) { window.Post(message); });
    // The part an earlier failure left is continued only by a download of the same URL to the
    // same file; any other download deletes it.
    if (m_partialDownload) {
        if (m_partialDownload->url == url && m_partialDownload->target == target)
            m_transfer->ResumeFrom(std::move(*m_partialDownload));
        m_partialDownload.reset();
    }
    if (m_expectedSha256)
        m_transfer->ExpectSha256(*m_expectedSha256);
    // A silent download never replaces a file the user has; the save dialog already asked.
    if (silent)
        m_transfer->KeepExistingFiles();
    if (!m_transfer->Start()) {
        // No worker could be started; tell the page so that it can offer to try again.
        m_transfer.reset();
        PostToSelf(WM_DNLD_FAILED, static_cast<uint64_t>(DownloadFailure::Network));
    }
}

} // namespace tarvik
