#include "platform/headless/headless_desktop.h"

namespace tarvik::platform::headless {

void HeadlessDesktop::OpenUri(const std::string& uri) {
    openedUris.push_back(uri);
}

std::string HeadlessDesktop::DownloadsFolder() {
    return downloadsFolder;
}

std::optional<std::string> HeadlessDesktop::ShowSaveDialog(const SaveDialogRequest& request) {
    saveDialogs.push_back(request);
    if (whileSaveDialogOpen)
        whileSaveDialogOpen();
    return saveDialogAnswer;
}

void HeadlessDesktop::StartInstaller(const std::string& path,
                                     std::function<void(InstallerStart)> onOutcome) {
    startedInstallers.push_back(path);
    if (!answerInstallerStartLater) {
        if (onOutcome)
            onOutcome(installerStart);
        return;
    }
    pendingInstallerStarts.push_back(std::move(onOutcome));
}

void HeadlessDesktop::AnswerInstallerStarts() {
    std::vector<std::function<void(InstallerStart)>> pending;
    pending.swap(pendingInstallerStarts);
    for (auto& onOutcome : pending)
        if (onOutcome)
            onOutcome(installerStart);
}

void HeadlessDesktop::ShowMessageBox(const std::string& text, const std::string& caption) {
    messageBoxes.push_back({text, caption});
}

void HeadlessDesktop::RevealInFileManager(const std::string& path) {
    revealedPaths.push_back(path);
}

void HeadlessDesktop::OpenFolder(const std::string& path) {
    openedFolders.push_back(path);
}

} // namespace tarvik::platform::headless
