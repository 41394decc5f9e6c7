#pragma once

#include "common/installer_start.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tarvik::platform {

struct FileFilter {
    std::string label;   // shown to the user, e.g. "All files (*.*)"
    std::string pattern; // a glob, e.g. "*.exe" or "*.*"
    bool operator==(const FileFilter&) const = default;
};

struct SaveDialogRequest {
    std::string proposedName;     // file name offered in the name field
    std::string defaultExtension; // appended when the user types a name without one
    std::vector<FileFilter> filters;
    std::string title; // what the dialog saves, in the user's language; empty: the toolkit's own
};

// The desktop around the window: default handlers, the Downloads folder, modal dialogs, the file
// manager and installer starts. All text and paths are UTF-8.
//
// Threads: user-interface thread only; every callback runs there, never after the window is
// destroyed.
class Desktop {
public:
    virtual ~Desktop() = default;

    // The user's preferred languages for the program's texts, most preferred first, as locale
    // names ("de_DE.UTF-8", "de", "C"); what common/translation.h's Catalogue takes.
    virtual std::vector<std::string> PreferredLanguages() = 0;
    // Opens a URL with the desktop's default handler.
    virtual void OpenUri(const std::string& uri) = 0;
    // The user's Downloads folder; empty when unknown.
    virtual std::string DownloadsFolder() = 0;
    // A modal save dialog that asks before replacing a file; the chosen full path, or nothing when
    // cancelled. Host messages and page messages keep arriving while it is open.
    virtual std::optional<std::string> ShowSaveDialog(const SaveDialogRequest& request) = 0;
    // Starts the downloaded installer the way the desktop installs its kind of file: a program
    // with administrator rights, a package through the desktop's package installer, and so on.
    // Does not wait for it. `onOutcome` is called once: Started when the installer runs (for an
    // elevated one, once the authorisation was given), or why it could not be started (see
    // InstallerStart). That may be known at once (then it is called before this returns) or only
    // once the user has answered the authorisation prompt; never after the window is destroyed.
    virtual void StartInstaller(const std::string& path,
                                std::function<void(InstallerStart)> onOutcome) = 0;
    // A modal message box with one OK button.
    virtual void ShowMessageBox(const std::string& text, const std::string& caption) = 0;
    // A desktop notification with `title` and `body`; activating it raises the window. Nothing
    // when the desktop shows no notifications.
    virtual void Notify(const std::string& title, const std::string& body) = 0;
    // Shows the file selected in the file manager (or at least its folder).
    virtual void RevealInFileManager(const std::string& path) = 0;
    // Opens the folder itself in the file manager, showing what it holds.
    virtual void OpenFolder(const std::string& path) = 0;
};

} // namespace tarvik::platform
