#pragma once

#include <string>
#include <string_view>

namespace tarvik {

// The program's own command-line options. Everything else on the command line is GTK's (its
// --display, --gtk-debug, ...), the autostart switch, or something a caller passed that the
// program has no use for: it is ignored, so that a shortcut or an autostart entry that passes
// more than the program knows still shows the page.
struct CommandLine {
    bool help = false;    // --help, -h: usage on stdout, then exit
    bool version = false; // --version: version and service origin on stdout, then exit
    bool verbose = false; // --verbose: the log on stderr, as TARVIK_LOG=1
    bool inspect = false; // --inspect: the web inspector, as TARVIK_INSPECTOR=1
};

// Takes the program's own options out of argv, leaving the rest in order for GTK.
CommandLine TakeOwnOptions(int& argc, char** argv);

// Whether an argument is the autostart switch that autostart entries and vendors' shortcuts
// pass: its first 8 characters are "/autosta" in any letter case, as the program has always
// compared it ("/autostart", "/AUTOSTART"). It changes nothing.
bool IsAutostartSwitch(std::string_view argument);

// Says on the step log (only when it is on) which of the arguments left after the program's own
// options and GTK's were ignored; the autostart switch is expected and not mentioned.
void LogIgnoredArguments(int argc, char** argv);

// Whether an environment switch such as TARVIK_LOG is on: set, and neither empty nor "0".
bool SwitchIsOn(const char* value);

std::string HelpText();
// "tarvik <version>" and the origin compiled in, one per line.
std::string VersionText();

} // namespace tarvik
