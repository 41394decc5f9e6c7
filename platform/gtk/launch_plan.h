#pragma once

#include <string_view>

namespace tarvik::platform::gtk {

// How a downloaded installer is started on this desktop.
enum class LaunchWay {
    // A program or script: made executable and run with administrator rights through pkexec.
    Elevated,
    // A distribution package (.deb, .rpm): handed to the desktop's package installer, which asks
    // for rights itself; opened with the default handler when there is no such service.
    PackageInstaller,
    // A file the desktop installs through its own handler (.flatpakref, .flatpak), or content
    // that is neither a program nor a script: opened with the default handler for its type.
    DefaultHandler,
    // A self-contained application (.AppImage): made executable and run as the user, never as
    // root.
    AsUser,
};

// Chooses by the file's name and its first bytes (`head`; four are enough). A file that would
// run with administrator rights must start like a program ("\x7F" "ELF") or a script ("#!"):
// anything else would be read by a shell as a script, since that is what a shell does with an
// executable file it cannot start.
LaunchWay ChooseLaunchWay(std::string_view fileName, std::string_view head);

} // namespace tarvik::platform::gtk
