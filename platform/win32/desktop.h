#pragma once

#include "platform/desktop.h"
#include "platform/win32/tray_notice.h"
#include "platform/win32/unique_handle.h"

#include <string>
#include <string_view>
#include <vector>

namespace tarvik::platform::win32 {

class HostWindow;

// A language tag as Windows names the user's languages ("de-DE", "zh-Hans-CN", "fr") as the
// locale name the host's catalogue takes ("de_DE", "zh_CN", "fr"); empty for an empty tag.
std::string LocaleNameFromLanguageTag(std::string_view tag);

// The desktop around the host window on Windows: the shell's default handlers (ShellExecuteW
// "open"), the known Downloads folder, the common save dialog (IFileSaveDialog), MessageBoxW, the
// Explorer selection (SHOpenFolderAndSelectItems) and the elevated start of an installer
// (ShellExecuteExW "runas", which shows the system's consent prompt).
//
// Threads: user-interface thread only, which must be a single-threaded COM apartment (the
// platform initialises it). The dialogs are modal over the host window and run the system's own
// loop, which keeps dispatching the host's posted messages. `window` must outlive this object.
class Desktop final : public platform::Desktop {
public:
    // `publisher`: when not empty, an installer is started only when its code signature holds and
    // is by this publisher (see StartInstaller).
    explicit Desktop(HostWindow& window, std::string publisher = {});

    // GetUserPreferredUILanguages, each made a locale name.
    std::vector<std::string> PreferredLanguages() override;

    void OpenUri(const std::string& uri) override;
    std::string DownloadsFolder() override;
    std::optional<std::string> ShowSaveDialog(const SaveDialogRequest& request) override;
    // Answers a refused or failed start at once: ShellExecuteExW returns only after the consent
    // prompt has been answered.
    //
    // With a publisher, the file was checked when its download ended, and is checked again here,
    // right before its start, as it may have been replaced since: it is opened shared with readers
    // only, checked through that handle, and started while the handle is still open, so nobody
    // can write, replace or delete it between the check and the start. The handle stays open
    // while the started process runs (a package's installer reads the file after its start): it
    // is let go at the first start after that process ended, or when this object goes. A file
    // that fails the check is not started, the step log says why, and `onOutcome` hears
    // InstallerStart::Failed.
    void StartInstaller(const std::string& path,
                        std::function<void(InstallerStart)> onOutcome) override;
    void ShowMessageBox(const std::string& text, const std::string& caption) override;
    // While the window is not the active one: a notification balloon from the program's icon in
    // the notification area (clicking it raises the window), and the taskbar entry flashes until
    // the window is activated.
    void Notify(const std::string& title, const std::string& body) override;
    // The notice, for tests.
    const TrayNotice& Notice() const { return notice_; }
    void RevealInFileManager(const std::string& path) override;
    void OpenFolder(const std::string& path) override;

private:
    // A started installer and the handle that keeps its file from changing while it runs.
    struct HeldStart {
        UniqueHandle process;
        UniqueHandle file;
    };

    HostWindow& window_;
    const std::string publisher_;
    TrayNotice notice_{window_};
    std::vector<HeldStart> held_;

    // Lets go of the files whose installers have ended.
    void ReleaseEndedStarts();
};

} // namespace tarvik::platform::win32
