#pragma once

#include "common/download_failure.h"
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
std::string DownloadFinishedNotice();
std::string DownloadFailedNotice(DownloadFailure reason);
// The page asked to close while a download runs, without force_close.
std::string CloseWhileDownloadingNotice();

enum class WindowState { Minimized, Maximized, Normal };
// The window was minimised, maximised or restored, by a command or by the desktop.
std::string WindowStateNotice(WindowState state);

} // namespace tarvik::bridge
