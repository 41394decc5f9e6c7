#include "platform/gtk/desktop.h"

#include "platform/gtk/dialogs.h"
#include "platform/gtk/elevated_launch.h"
#include "platform/gtk/guarded_callback.h"
#include "platform/gtk/host_window.h"

#include "common/translation.h"

#include <algorithm>
#include <filesystem>

namespace tarvik::platform::gtk {

namespace {

// Long enough for a file manager that has to start, short enough not to leave the user waiting
// for one that never answers.
constexpr int kFileManagerTimeoutMs = 3000;

void LaunchDefault(const std::string& uri) {
    GError* rawError = nullptr;
    g_app_info_launch_default_for_uri(uri.c_str(), nullptr, &rawError);
    // As on the Windows host, a failure to open is not reported to the user.
    GErrorPtr error(rawError);
}

std::string FileUri(const std::string& path) {
    GCharPtr uri(g_filename_to_uri(path.c_str(), nullptr, nullptr));
    return uri ? uri.get() : std::string();
}

struct FileManagerRequest {
    // Opened with the default handler when no file manager answers.
    std::string fallbackUri;
};

void OnFileManagerAnswered(GObject* connection, GAsyncResult* result, gpointer data) {
    std::unique_ptr<FileManagerRequest> request(static_cast<FileManagerRequest*>(data));
    GError* rawError = nullptr;
    GVariantPtr reply(
        g_dbus_connection_call_finish(G_DBUS_CONNECTION(connection), result, &rawError));
    GErrorPtr error(rawError);
    if (!error)
        return;
    if (g_error_matches(error.get(), G_IO_ERROR, G_IO_ERROR_CANCELLED))
        return;
    RunGuarded("file manager answer", [&] {
        if (!request->fallbackUri.empty())
            LaunchDefault(request->fallbackUri);
    });
}

} // namespace

Desktop::Desktop(HostWindow& window)
    : window_(window), cancellable_(g_cancellable_new()),
      launcher_(std::make_unique<ElevatedLauncher>()) {
    window_.WhenDestroyed([this] { Close(); });
}

Desktop::~Desktop() {
    Close();
}

void Desktop::Close() {
    g_cancellable_cancel(cancellable_.get());
    launcher_.reset();
    if (actionWatch_ != 0)
        g_dbus_connection_signal_unsubscribe(notificationBus_.get(), actionWatch_);
    actionWatch_ = 0;
    notificationBus_.reset();
}

void Desktop::Notify(const std::string& title, const std::string& body) {
    if (g_cancellable_is_cancelled(cancellable_.get()))
        return;
    if (!notificationBus_) {
        GError* rawError = nullptr;
        notificationBus_.reset(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &rawError));
        GErrorPtr error(rawError);
        if (!notificationBus_)
            return;
        // Activating a notification of ours brings the window back to the user.
        actionWatch_ = g_dbus_connection_signal_subscribe(
            notificationBus_.get(), "org.freedesktop.Notifications",
            "org.freedesktop.Notifications", "ActionInvoked", "/org/freedesktop/Notifications",
            nullptr, G_DBUS_SIGNAL_FLAGS_NONE, OnNotificationAction, this, nullptr);
    }
    // The action's label, where a notification service shows one.
    const Catalogue texts(PreferredLanguages());
    const char* actions[] = {"default", texts.Translate("Show"), nullptr};
    GVariantBuilder hints;
    g_variant_builder_init(&hints, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&hints, "{sv}", "desktop-entry", g_variant_new_string("tarvik"));
    // Without a notification service the call fails, and nothing more is done: the page itself
    // shows the outcome when the user comes back.
    g_dbus_connection_call(
        notificationBus_.get(), "org.freedesktop.Notifications", "/org/freedesktop/Notifications",
        "org.freedesktop.Notifications", "Notify",
        g_variant_new("(susss^asa{sv}i)", "Tarvik", 0u, "", title.c_str(), body.c_str(), actions,
                      &hints, -1),
        G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, -1, cancellable_.get(), OnNotified, this);
}

void Desktop::OnNotified(GObject* bus, GAsyncResult* result, gpointer self) {
    GError* rawError = nullptr;
    GVariantPtr reply(g_dbus_connection_call_finish(G_DBUS_CONNECTION(bus), result, &rawError));
    GErrorPtr error(rawError);
    // Cancelled means the desktop object is gone: `self` must not be touched.
    if (!reply)
        return;
    RunGuarded("notification shown", [&] {
        guint32 id = 0;
        g_variant_get(reply.get(), "(u)", &id);
        static_cast<Desktop*>(self)->notificationIds_.push_back(id);
    });
}

void Desktop::OnNotificationAction(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                   const gchar*, GVariant* parameters, gpointer self) {
    RunGuarded("notification activated", [&] {
        auto* desktop = static_cast<Desktop*>(self);
        guint32 id = 0;
        const gchar* action = nullptr;
        g_variant_get(parameters, "(u&s)", &id, &action);
        const auto& ours = desktop->notificationIds_;
        if (std::find(ours.begin(), ours.end(), id) == ours.end() || !desktop->window_.Widget())
            return;
        gtk_window_present(desktop->window_.Widget());
    });
}

std::optional<std::string> Desktop::ShowSaveDialog(const SaveDialogRequest& request) {
    return RunSaveDialog(DialogParent{window_.Widget(), window_.IsOnScreen()}, request);
}

void Desktop::ShowMessageBox(const std::string& text, const std::string& caption) {
    RunMessageBox(DialogParent{window_.Widget(), window_.IsOnScreen()}, text, caption);
}

void Desktop::StartInstaller(const std::string& path,
                             std::function<void(InstallerStart)> onOutcome) {
    if (launcher_)
        launcher_->Run(path, std::move(onOutcome));
}

std::vector<std::string> Desktop::PreferredLanguages() {
    std::vector<std::string> languages;
    for (const gchar* const* name = g_get_language_names(); name && *name; ++name)
        languages.emplace_back(*name);
    return languages;
}

void Desktop::OpenUri(const std::string& uri) {
    if (!uri.empty())
        LaunchDefault(uri);
}

std::string Desktop::DownloadsFolder() {
    if (const char* folder = g_get_user_special_dir(G_USER_DIRECTORY_DOWNLOAD))
        return folder;
    // Without a configured one, the desktop's conventional folder, if the user has it; with
    // neither, the user is asked where to save.
    const std::filesystem::path conventional =
        std::filesystem::path(g_get_home_dir()) / "Downloads";
    std::error_code error;
    return std::filesystem::is_directory(conventional, error) ? conventional.string() : "";
}

void Desktop::RevealInFileManager(const std::string& path) {
    AskFileManager("ShowItems", FileUri(path),
                   FileUri(std::filesystem::path(path).parent_path().string()));
}

void Desktop::OpenFolder(const std::string& path) {
    const std::string uri = FileUri(path);
    AskFileManager("ShowFolders", uri, uri);
}

void Desktop::AskFileManager(const char* method, const std::string& uri,
                             const std::string& fallbackUri) {
    GError* rawError = nullptr;
    GObjectPtr<GDBusConnection> bus(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &rawError));
    GErrorPtr error(rawError);
    if (!bus || uri.empty()) {
        if (!fallbackUri.empty())
            LaunchDefault(fallbackUri);
        return;
    }
    const char* items[] = {uri.c_str(), nullptr};
    g_dbus_connection_call(
        bus.get(), "org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
        "org.freedesktop.FileManager1", method, g_variant_new("(^ass)", items, ""), nullptr,
        G_DBUS_CALL_FLAGS_NONE, kFileManagerTimeoutMs, cancellable_.get(), OnFileManagerAnswered,
        ReleaseToGLib(std::make_unique<FileManagerRequest>(FileManagerRequest{fallbackUri})));
}

} // namespace tarvik::platform::gtk
