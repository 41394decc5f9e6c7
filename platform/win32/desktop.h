#pragma once

#include "platform/desktop.h"
#include "platform/win32/tray_notice.h"

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
    explicit Desktop(HostWindow& window);

    // GetUserPreferredUILanguages, each made a locale name.
    std::vector<std::string> PreferredLanguages() override;

    void OpenUri(const std::string& uri) override;
    std::string DownloadsFolder() override;
    std::optional<std::string> ShowSaveDialog(const SaveDialogRequest& request) override;
    // Answers a refused or failed start at once: ShellExecuteExW returns only after the consent
    // prompt has been answered.
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
    HostWindow& window_;
    TrayNotice notice_{window_};
};

} // namespace tarvik::platform::win32
