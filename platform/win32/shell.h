#pragma once

#include "platform/desktop.h"

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
class Shell final : public Desktop {
public:
    explicit Shell(HostWindow& window);

    // GetUserPreferredUILanguages, each made a locale name.
    std::vector<std::string> PreferredLanguages() override;

    void OpenUri(const std::string& uri) override;
    std::string DownloadsFolder() override;
    std::optional<std::string> ShowSaveDialog(const SaveDialogRequest& request) override;
    // Answers a refused or failed start at once: ShellExecuteExW returns only after the consent
    // prompt has been answered.
    void StartInstaller(const std::string& path, std::function<void()> onFailure) override;
    void ShowMessageBox(const std::string& text, const std::string& caption) override;
    // Flashes the taskbar entry until the window is activated; the title and body are not shown,
    // as Windows shows no notification of a program without a registered application identity.
    void Notify(const std::string& title, const std::string& body) override;
    void RevealInFileManager(const std::string& path) override;
    void OpenFolder(const std::string& path) override;

private:
    HostWindow& window_;
};

} // namespace tarvik::platform::win32
