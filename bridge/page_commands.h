#pragma once

#include "download/sha256.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace tarvik::bridge {

// The page's commands as typed values, each with the arguments it was sent. Reading a message
// into one of these is all the decoder does: what a command means is the host's business.

// "open_url": the link the page wants opened in the browser (not checked here).
struct OpenUrl {
    std::string url;
    bool operator==(const OpenUrl&) const = default;
};
// "install"
struct Install {
    bool operator==(const Install&) const = default;
};
// "open_dnld_dir"
struct RevealDownload {
    bool operator==(const RevealDownload&) const = default;
};
// "dnld"
struct Download {
    std::string url;
    bool silent = false;
    std::optional<download::Sha256Digest> sha256;
    std::optional<std::string> minisig;
    bool operator==(const Download&) const = default;
};
// "dnld" without usable arguments. While a download runs or after it finished, a "dnld" only
// asks for the current notice, and pages send it bare for that.
struct AskDownloadState {
    bool operator==(const AskDownloadState&) const = default;
};
// "dnld_cancel"
struct CancelDownload {
    bool operator==(const CancelDownload&) const = default;
};
// "post_data"
struct ReportPageEvent {
    std::string eventId;
    bool operator==(const ReportPageEvent&) const = default;
};
// "close"
struct Close {
    bool force = false;
    bool operator==(const Close&) const = default;
};
// "minimize", "maximize", "restore"
struct ShowWindow {
    enum class As { Minimized, Maximized, Normal } as = As::Normal;
    bool operator==(const ShowWindow&) const = default;
};
// "resize_window": each member may be missing.
struct ResizeWindow {
    std::optional<int32_t> width;
    std::optional<int32_t> height;
    std::optional<std::string> title;
    bool operator==(const ResizeWindow&) const = default;
};
// "mousedown", "mousemove", "mouseup" in client coordinates.
struct Mouse {
    enum class Action { Down, Move, Up } action = Action::Move;
    int32_t x = 0;
    int32_t y = 0;
    bool operator==(const Mouse&) const = default;
};

using PageCommand =
    std::variant<OpenUrl, Install, RevealDownload, Download, AskDownloadState, CancelDownload,
                 ReportPageEvent, Close, ShowWindow, ResizeWindow, Mouse>;

// What became of one page message.
struct DecodedMessage {
    enum class Outcome {
        Command,     // `command` holds it
        NotACommand, // not JSON, not an object, or without "msg_type"
        UnknownType, // "msg_type" is not a string, or names no command
        Malformed,   // a known command whose arguments are missing or of the wrong type
    };
    Outcome outcome = Outcome::NotACommand;
    // The "msg_type" text when it is a string, for the step log.
    std::optional<std::string> type;
    std::optional<PageCommand> command;
};

// Reads one page message (its UTF-8 text, whole). Pure: no effect, no exception, any input.
// A message is one JSON object and nothing else: comments, trailing text and zero bytes make it
// no command. A command with a missing argument, or an argument of the wrong type, is malformed
// as a whole, so that a command either happens with all its arguments or not at all.
DecodedMessage DecodePageMessage(std::string_view utf8Text);

} // namespace tarvik::bridge
