#include "app/tarvik_dlg.h"

#include "common/text_conversion.h"

namespace tarvik {

void CTarvikDlg::LaunchInstaller() {
    // A missing file (no download yet, a cancelled save dialog, a transfer still running) cannot
    // be started; that is the same failure the user sees when elevation is refused.
    if (m_filePath.empty() || !m_system.IsRegularFile(NarrowFromWide(m_filePath))) {
        ShowLaunchFailure();
        return;
    }
    m_desktop.RunElevated(NarrowFromWide(m_filePath), [this] { ShowLaunchFailure(); });
}

void CTarvikDlg::ShowLaunchFailure() {
    m_desktop.ShowMessageBox("运行安装程序失败，请手动执行...", "运行失败");
    // The box has only OK, so the file is always shown next, for the user to start it by hand.
    RevealInFolder(m_filePath);
}

void CTarvikDlg::RevealInFolder(const std::wstring& path) {
    m_desktop.RevealInFileManager(NarrowFromWide(path));
}

} // namespace tarvik
