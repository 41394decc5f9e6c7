#include "bridge/page_commands.h"

#include "bridge/page_arguments.h"

#include <nlohmann/json.hpp>

#include <utility>

namespace tarvik::bridge {

namespace {

using nlohmann::json;

// Each reader takes every argument before it returns, so a missing or mistyped one throws before
// anything is made of the command.
DecodedMessage Decoded(std::string type, PageCommand command) {
    return {DecodedMessage::Outcome::Command, std::move(type), std::move(command)};
}

std::optional<PageCommand> ReadDownload(const json& data) {
    if (!data.is_object() || !data.contains("url") || !data.contains("silent"))
        return AskDownloadState{};
    const json& url = data["url"];
    const json& silent = data["silent"];
    if (!url.is_string() || !silent.is_boolean())
        return AskDownloadState{};
    Download download{url.get<std::string>(), silent.get<bool>(), std::nullopt, std::nullopt};
    // Optional; when present it must be 64 hexadecimal digits.
    if (HasMember(data, "sha256")) {
        const json& sha256 = data["sha256"];
        if (!sha256.is_string())
            return AskDownloadState{};
        download.sha256 = download::ParseSha256(sha256.get_ref<const std::string&>());
        if (!download.sha256)
            return AskDownloadState{};
    }
    // Optional: the text of the installer's signature file, checked only by a build with a key.
    if (HasMember(data, "minisig")) {
        const json& minisig = data["minisig"];
        if (!minisig.is_string())
            return AskDownloadState{};
        download.minisig = minisig.get<std::string>();
    }
    return download;
}

std::optional<PageCommand> ReadCommand(const std::string& type, const json& data) {
    if (type == "open_url")
        return OpenUrl{StringArgument(data, "url")};
    if (type == "install")
        return Install{};
    if (type == "open_dnld_dir")
        return RevealDownload{};
    if (type == "dnld")
        return ReadDownload(data);
    if (type == "dnld_cancel")
        return CancelDownload{};
    if (type == "post_data")
        return ReportPageEvent{StringArgument(data, "event_id")};
    if (type == "close")
        return Close{BooleanArgument(data, "force_close")};
    static constexpr std::pair<std::string_view, ShowWindow::As> kShow[] = {
        {"minimize", ShowWindow::As::Minimized},
        {"maximize", ShowWindow::As::Maximized},
        {"restore", ShowWindow::As::Normal}};
    for (const auto& [name, as] : kShow) {
        if (type == name)
            return ShowWindow{as};
    }
    if (type == "resize_window") {
        ResizeWindow resize;
        if (HasMember(data, "width"))
            resize.width = Int32Argument(data, "width");
        if (HasMember(data, "height"))
            resize.height = Int32Argument(data, "height");
        if (HasMember(data, "window_text"))
            resize.title = StringArgument(data, "window_text");
        return resize;
    }
    static constexpr std::pair<std::string_view, Mouse::Action> kMouse[] = {
        {"mousedown", Mouse::Action::Down},
        {"mousemove", Mouse::Action::Move},
        {"mouseup", Mouse::Action::Up}};
    for (const auto& [name, action] : kMouse) {
        if (type == name) {
            const int32_t x = Int32Argument(data, "x");
            const int32_t y = Int32Argument(data, "y");
            return Mouse{action, x, y};
        }
    }
    return std::nullopt;
}

} // namespace

DecodedMessage DecodePageMessage(std::string_view utf8Text) {
    // A zero byte can never be part of JSON text (inside a string it must be escaped), but the
    // JSON reader takes it for the end of its input and would accept whatever came before it.
    if (utf8Text.find('\0') != std::string_view::npos)
        return {};
    const json message = json::parse(utf8Text, nullptr,
                                     /*allow_exceptions=*/false, /*ignore_comments=*/false);
    if (!message.is_object() || !message.contains("msg_type"))
        return {};
    const json& typeValue = message["msg_type"];
    if (!typeValue.is_string())
        return {DecodedMessage::Outcome::UnknownType, std::nullopt, std::nullopt};
    std::string type = typeValue.get<std::string>();
    try {
        std::optional<PageCommand> command = ReadCommand(type, Member(message, "msg_data"));
        if (!command)
            return {DecodedMessage::Outcome::UnknownType, std::move(type), std::nullopt};
        return Decoded(std::move(type), std::move(*command));
    } catch (const json::exception&) {
        return {DecodedMessage::Outcome::Malformed, std::move(type), std::nullopt};
    }
}

} // namespace tarvik::bridge
