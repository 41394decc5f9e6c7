#pragma once

#include <string_view>

namespace tarvik {

// How an attempt to start the downloaded installer ended: it runs, or why it does not. The page
// hears the reason as text (ReasonText), and the failure box explains it in the user's language.
enum class InstallerStart {
    Started,       // the installer runs (for an elevated one: after the authorisation)
    Dismissed,     // the user dismissed or refused the authorisation prompt
    NotAuthorized, // no authorisation: no authentication agent could ask, or it was not given
    NotExecutable, // the file cannot be run here (no permission to run it, nothing takes its kind)
    NoFile,        // no download of this run has finished, or its file is gone
    Failed,        // anything else: no way to elevate, the start itself failed
};

constexpr std::string_view ReasonText(InstallerStart outcome) {
    switch (outcome) {
    case InstallerStart::Started:
        return "started";
    case InstallerStart::Dismissed:
        return "dismissed";
    case InstallerStart::NotAuthorized:
        return "not_authorized";
    case InstallerStart::NotExecutable:
        return "not_executable";
    case InstallerStart::NoFile:
        return "no_file";
    case InstallerStart::Failed:
        return "failed";
    }
    return "failed";
}

} // namespace tarvik
