#include "app/command_line.h"

#include "common/endpoints.h"
#include "common/log.h"
#include "download/minisign.h"

#include <algorithm>
#include <cstring>
#include <optional>

namespace tarvik {

CommandLine TakeOwnOptions(int& argc, char** argv) {
    CommandLine options;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        if (std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0)
            options.help = true;
        else if (std::strcmp(argument, "--version") == 0)
            options.version = true;
        else if (std::strcmp(argument, "--verbose") == 0)
            options.verbose = true;
        else if (std::strcmp(argument, "--inspect") == 0)
            options.inspect = true;
        else
            argv[kept++] = argv[i];
    }
    argc = kept;
    argv[kept] = nullptr;
    return options;
}

bool IsAutostartSwitch(std::string_view argument) {
    constexpr std::string_view kCompared = "/autosta";
    const auto lower = [](char c) {
        return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    };
    return argument.size() >= kCompared.size() &&
           std::equal(kCompared.begin(), kCompared.end(), argument.begin(),
                      [&](char expected, char given) { return expected == lower(given); });
}

void LogIgnoredArguments(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (!IsAutostartSwitch(argv[i]))
            TARVIK_LOG("command line: \"", log::Clipped(argv[i], 64),
                       "\" ignored (see tarvik --help)");
    }
}

bool SwitchIsOn(const char* value) {
    return value && *value && std::strcmp(value, "0") != 0;
}

std::string HelpText() {
    return std::string("Usage: tarvik [--verbose] [--inspect]\n"
                       "       tarvik --help | --version\n"
                       "\n"
                       "Shows the vendor's installation page and downloads and starts the "
                       "installer it offers.\n"
                       "Settings are read from config.ini beside the program.\n"
                       "\n"
                       "  --verbose   print each step to stderr (also TARVIK_LOG=1)\n"
                       "  --inspect   open the web inspector beside the page (also "
                       "TARVIK_INSPECTOR=1)\n"
                       "  --help      print this text\n"
#ifndef _WIN32
                       "  --version   print the version, the service this copy talks to and the "
                       "installer key\n"
#else
                       "  --version   print the version, the service this copy talks to and the "
                       "installers' publisher\n"
#endif
                       "\n"
#ifndef _WIN32
                       "GTK's own options (--display, ...) are taken as well; any other\n"
                       "argument (such as /autostart) is ignored.\n"
#else
                       "Any other argument (such as /autostart) is ignored.\n"
#endif
                       "Service: ") +
           kServiceOrigin + "\n";
}

std::string VersionText() {
#ifdef _WIN32
    // The Windows program checks code signatures instead of minisign ones (a key is refused when
    // it is built).
    const std::string publisher = *kInstallerPublisher != '\0'
                                      ? std::string("\"") + kInstallerPublisher + "\""
                                      : "none (installers' code signatures are not checked)";
    return std::string("tarvik ") + kTarvikVersion + "\nservice origin: " + kServiceOrigin +
           "\ninstaller publisher: " + publisher + "\n";
#else
    std::string key = "none (installers are not signature-checked)";
    if (*kInstallerKey != '\0') {
        const std::optional<download::MinisignKey> parsed =
            download::ParseMinisignKey(kInstallerKey);
        key = parsed ? "minisign key " + download::KeyIdText(parsed->id) : "unusable";
    }
    return std::string("tarvik ") + kTarvikVersion + "\nservice origin: " + kServiceOrigin +
           "\ninstaller key: " + key + "\n";
#endif
}

} // namespace tarvik
