#pragma once

#include "platform/desktop.h"
#include "platform/gtk/gobject_ptr.h"

#include <gio/gio.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tarvik::platform::gtk {

class ElevatedLauncher;
class HostWindow;

// The desktop around the host window: default handlers, the Downloads folder, the file manager,
// modal dialogs over the window and installer starts. User-interface thread only.
//
// When the window is destroyed, requests still under way (a file-manager call, an authorisation
// prompt) are abandoned and never call back. `window` must outlive this object.
class Desktop final : public platform::Desktop {
public:
    explicit Desktop(HostWindow& window);
    ~Desktop() override;
    Desktop(const Desktop&) = delete;
    Desktop& operator=(const Desktop&) = delete;

    // GLib's list from the environment (LANGUAGE, LC_ALL, LC_MESSAGES, LANG), as gettext
    // reads it.
    std::vector<std::string> PreferredLanguages() override;
    void OpenUri(const std::string& uri) override;
    // Empty when the desktop does not know one.
    std::string DownloadsFolder() override;
    std::optional<std::string> ShowSaveDialog(const SaveDialogRequest& request) override;
    void StartInstaller(const std::string& path,
                        std::function<void(InstallerStart)> onOutcome) override;
    void ShowMessageBox(const std::string& text, const std::string& caption) override;
    // Asks the file manager to show the file selected; when no file manager answers, opens the
    // folder that holds it instead.
    void RevealInFileManager(const std::string& path) override;
    // Through the freedesktop notification service on the session bus.
    void Notify(const std::string& title, const std::string& body) override;
    // Asks the file manager to open the folder; when none answers, opens it with the default
    // handler for folders.
    void OpenFolder(const std::string& path) override;

private:
    void Close();
    // Calls `method` of the desktop's file-manager interface for `uri` without waiting; when the
    // call fails (no file manager on the bus), `fallbackUri` is opened with its default handler.
    void AskFileManager(const char* method, const std::string& uri, const std::string& fallbackUri);

    static void OnNotified(GObject* bus, GAsyncResult* result, gpointer self);
    static void OnNotificationAction(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                     const gchar*, GVariant* parameters, gpointer self);

    HostWindow& window_;
    GObjectPtr<GCancellable> cancellable_;
    // The session bus while notifications are watched, and the watch of their activations.
    GObjectPtr<GDBusConnection> notificationBus_;
    guint actionWatch_ = 0;
    std::vector<uint32_t> notificationIds_;
    std::unique_ptr<ElevatedLauncher> launcher_;
};

} // namespace tarvik::platform::gtk
