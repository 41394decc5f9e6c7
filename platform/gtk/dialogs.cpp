#include "platform/gtk/dialogs.h"

#include "platform/gtk/gobject_ptr.h"
#include "platform/gtk/save_name.h"

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <system_error>

namespace tarvik::platform::gtk {

namespace {

// GTK's own translations of its standard labels.
const char* GtkText(const char* text) {
    return g_dgettext("gtk30", text);
}

// Over the host window when it is on a screen; in the middle of the screen while the host window
// still waits off-screen for its page.
void PlaceOver(GtkWindow* dialog, const DialogParent& parent) {
    if (parent.window) {
        gtk_window_set_transient_for(dialog, parent.window);
        gtk_window_set_destroy_with_parent(dialog, TRUE);
    }
    gtk_window_set_position(dialog, parent.window && parent.onScreen ? GTK_WIN_POS_CENTER_ON_PARENT
                                                                     : GTK_WIN_POS_CENTER);
}

// GTK's own default for a file chooser is small on a large screen and larger than a small one:
// the dialog takes a share of the screen the window is on, within bounds a file list reads well in.
void SizeToScreen(GtkWindow* dialog, const DialogParent& parent) {
    GdkDisplay* display = gdk_display_get_default();
    if (!display)
        return;
    GdkWindow* under = parent.window ? gtk_widget_get_window(GTK_WIDGET(parent.window)) : nullptr;
    GdkMonitor* monitor = under ? gdk_display_get_monitor_at_window(display, under)
                                : gdk_display_get_primary_monitor(display);
    if (!monitor)
        monitor = gdk_display_get_monitor(display, 0);
    if (!monitor)
        return;
    GdkRectangle area{};
    gdk_monitor_get_workarea(monitor, &area);
    const int width = std::clamp(area.width * 55 / 100, std::min(area.width, 640), 1100);
    const int height = std::clamp(area.height * 60 / 100, std::min(area.height, 420), 800);
    gtk_window_set_default_size(dialog, width, height);
}

void AddFilter(GtkFileChooser* chooser, const FileFilter& filter) {
    GtkFileFilter* gtkFilter = gtk_file_filter_new();
    gtk_file_filter_set_name(gtkFilter, filter.label.c_str());
    // The Windows form lists several patterns separated by ';'; "*.*" there means every file.
    std::stringstream patterns(filter.pattern);
    std::string pattern;
    while (std::getline(patterns, pattern, ';')) {
        if (pattern.empty())
            continue;
        gtk_file_filter_add_pattern(gtkFilter, pattern == "*.*" ? "*" : pattern.c_str());
    }
    gtk_file_chooser_add_filter(chooser, gtkFilter);
}

bool AskToReplace(GtkWindow* parent, const std::string& path) {
    const std::string name = std::filesystem::path(path).filename().string();
    GtkWidget* question = gtk_message_dialog_new(
        parent, GtkDialogFlags(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
        GTK_MESSAGE_QUESTION, GTK_BUTTONS_NONE,
        GtkText("A file named “%s” already exists.  Do you want to replace it?"), name.c_str());
    gtk_dialog_add_buttons(GTK_DIALOG(question), GtkText("_Cancel"), GTK_RESPONSE_CANCEL,
                           GtkText("_Replace"), GTK_RESPONSE_ACCEPT, nullptr);
    gtk_dialog_set_default_response(GTK_DIALOG(question), GTK_RESPONSE_ACCEPT);
    const bool replace = gtk_dialog_run(GTK_DIALOG(question)) == GTK_RESPONSE_ACCEPT;
    gtk_widget_destroy(question);
    return replace;
}

} // namespace

std::optional<std::string> RunSaveDialog(const DialogParent& parent,
                                         const SaveDialogRequest& request) {
    GtkWidget* dialog = gtk_file_chooser_dialog_new(
        request.title.empty() ? GtkText("Save File") : request.title.c_str(), parent.window,
        GTK_FILE_CHOOSER_ACTION_SAVE, GtkText("_Cancel"), GTK_RESPONSE_CANCEL, GtkText("_Save"),
        GTK_RESPONSE_ACCEPT, nullptr);
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
    PlaceOver(GTK_WINDOW(dialog), parent);
    SizeToScreen(GTK_WINDOW(dialog), parent);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);
    gtk_file_chooser_set_do_overwrite_confirmation(chooser, TRUE);
    for (const FileFilter& filter : request.filters)
        AddFilter(chooser, filter);

    const std::filesystem::path proposed(request.proposedName);
    if (proposed.has_parent_path())
        gtk_file_chooser_set_current_folder(chooser, proposed.parent_path().c_str());
    gtk_file_chooser_set_current_name(chooser, proposed.filename().c_str());

    const std::string extension = request.defaultExtension;
    std::optional<std::string> chosen;
    while (gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_ACCEPT) {
        GCharPtr fileName(gtk_file_chooser_get_filename(chooser));
        if (!fileName)
            continue;
        const std::string path = WithDefaultExtension(fileName.get(), extension);
        // The chooser asked about the name as typed; a name completed here gets the same question.
        // A name the file system refuses is not there to replace: the transfer reports it.
        std::error_code error;
        if (path != fileName.get() && std::filesystem::exists(path, error) &&
            !AskToReplace(GTK_WINDOW(dialog), path))
            continue;
        chosen = path;
        break;
    }
    gtk_widget_destroy(dialog);
    return chosen;
}

void RunMessageBox(const DialogParent& parent, const std::string& utf8Text,
                   const std::string& utf8Caption) {
    GtkWidget* box = gtk_message_dialog_new(
        parent.window, GtkDialogFlags(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
        GTK_MESSAGE_OTHER, GTK_BUTTONS_OK, "%s", utf8Text.c_str());
    gtk_window_set_title(GTK_WINDOW(box), utf8Caption.c_str());
    PlaceOver(GTK_WINDOW(box), parent);
    gtk_dialog_run(GTK_DIALOG(box));
    gtk_widget_destroy(box);
}

} // namespace tarvik::platform::gtk
