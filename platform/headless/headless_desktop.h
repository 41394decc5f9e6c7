#pragma once

#include "platform/desktop.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tarvik::platform::headless {

// The desktop without a desktop: it records what the host asked for and returns scripted answers.
//
// Threads: the test's thread only.
class HeadlessDesktop final : public Desktop {
public:
    // --- Scripted answers ----------------------------------------------------------------------
    std::string downloadsFolder = "/home/user/Downloads";
    // The user's languages, as the desktop would list them from the locale.
    std::vector<std::string> languages = {"C"};
    // What the save dialog returns; nothing means the user cancelled.
    std::optional<std::string> saveDialogAnswer;
    // Runs while the save dialog is "open", as its nested message loop would.
    std::function<void()> whileSaveDialogOpen;
    // How an installer start ends; told at once, or, with answerInstallerStartLater, only when
    // the test calls AnswerInstallerStarts (the user is still at the authorisation prompt).
    InstallerStart installerStart = InstallerStart::Started;
    bool answerInstallerStartLater = false;
    void AnswerInstallerStarts();

    // --- What the host asked for ---------------------------------------------------------------
    std::vector<std::string> openedUris;
    std::vector<SaveDialogRequest> saveDialogs;
    std::vector<std::string> startedInstallers;
    struct MessageBoxShown {
        std::string text;
        std::string caption;
        friend bool operator==(const MessageBoxShown&, const MessageBoxShown&) = default;
    };
    std::vector<MessageBoxShown> messageBoxes;
    std::vector<std::string> revealedPaths;
    struct NotificationShown {
        std::string title;
        std::string body;
        friend bool operator==(const NotificationShown&, const NotificationShown&) = default;
    };
    std::vector<NotificationShown> notifications;
    std::vector<std::string> openedFolders;
    std::vector<std::function<void(InstallerStart)>> pendingInstallerStarts;

    // --- Desktop -------------------------------------------------------------------------------
    std::vector<std::string> PreferredLanguages() override { return languages; }
    void OpenUri(const std::string& uri) override;
    std::string DownloadsFolder() override;
    std::optional<std::string> ShowSaveDialog(const SaveDialogRequest& request) override;
    void StartInstaller(const std::string& path,
                        std::function<void(InstallerStart)> onOutcome) override;
    void ShowMessageBox(const std::string& text, const std::string& caption) override;
    void RevealInFileManager(const std::string& path) override;
    void Notify(const std::string& title, const std::string& body) override {
        notifications.push_back({title, body});
    }
    void OpenFolder(const std::string& path) override;
};

} // namespace tarvik::platform::headless
