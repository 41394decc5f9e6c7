#pragma once

#include "common/download_failure.h"
#include "common/installer_start.h"
#include "download/progress_figures.h"

#include <cstdint>
#include <string>

namespace tarvik::bridge {

// Every notice the host sends the page, as the JSON text the page receives: compact, with the
// members in name order, which is what pages compare against. The download notices carry the
// download's state as their "status" (see DownloadState).

std::string DownloadStartedNotice();
// The page's progress bar: bytes so far, the total (greater than 0) and the percentage, divided
// first and then multiplied, as pages have always received it.
std::string DownloadProgressNotice(const download::ProgressFigures& figures);
// Progress of a download whose length the server did not give: only the bytes so far.
std::string DownloadReceivedNotice(uint64_t received);
// The transfer lost its connection and connects again, for the `attempt`th time in this download.
std::string DownloadRetryNotice(uint64_t attempt);
// Where the download is saved: the file's name and its folder's name, never the whole path.
std::string DownloadFileNotice(const std::string& fileName, const std::string& folderName);
std::string DownloadFinishedNotice();
std::string DownloadFailedNotice(DownloadFailure reason);
// How the page's "install" ended: the installer was started, or the reason it was not.
std::string InstallNotice(InstallerStart outcome);
// The page asked to close while a download runs, without force_close.
std::string CloseWhileDownloadingNotice();

enum class WindowState { Minimized, Maximized, Normal };
// The window was minimised, maximised or restored, by a command or by the desktop.
std::string WindowStateNotice(WindowState state);

} // namespace tarvik::bridge
