#pragma once

#include <string>

namespace tarvik {

// The program's own command-line options. Everything else on the command line is GTK's (its
// --display, --gtk-debug, ...) or a mistake; on Windows, a mistake.
struct CommandLine {
    bool help = false;    // --help, -h: usage on stdout, then exit
    bool version = false; // --version: version and service origin on stdout, then exit
    bool verbose = false; // --verbose: the log on stderr, as TARVIK_LOG=1
    bool inspect = false; // --inspect: the web inspector, as TARVIK_INSPECTOR=1
};

// Takes the program's own options out of argv, leaving the rest in order for GTK.
CommandLine TakeOwnOptions(int& argc, char** argv);

// Whether an environment switch such as TARVIK_LOG is on: set, and neither empty nor "0".
bool SwitchIsOn(const char* value);

std::string HelpText();
// "tarvik <version>" and the origin compiled in, one per line.
std::string VersionText();

} // namespace tarvik
