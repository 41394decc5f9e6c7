#include "bridge/page_commands.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace tarvik::bridge {
namespace {

using namespace std::string_literals;
using Outcome = DecodedMessage::Outcome;

struct Expected {
    Outcome outcome;
    std::optional<std::string> type;
    std::optional<PageCommand> command;
};

download::Sha256Digest DigestOf(uint8_t first) {
    download::Sha256Digest digest{};
    digest[0] = first;
    return digest;
}

// What a page message is read as. Every effect of a command is the host's (its table is in the
// host tests); here only the reading: which command, with which arguments, and what is no
// command at all.
TEST(DecodePageMessage, ReadsEachMessageIntoOneCommandOrNone) {
    const std::string zeros(62, '0');
    const struct {
        std::string message;
        Expected expected;
    } cases[] = {
        // Not a command: not one JSON object with a "msg_type".
        {"", {Outcome::NotACommand, {}, {}}},
        {"[1,2]", {Outcome::NotACommand, {}, {}}},
        {R"("minimize")", {Outcome::NotACommand, {}, {}}},
        {R"({"msg_data":{}})", {Outcome::NotACommand, {}, {}}},
        {R"({"msg_type":"minimize"} // comment)", {Outcome::NotACommand, {}, {}}},
        {R"({"msg_type":"minimize"}{})", {Outcome::NotACommand, {}, {}}},
        {R"({"msg_type":"minimize"})"
         "\0garbage"s,
         {Outcome::NotACommand, {}, {}}},
        {R"({"msg_type":"minimize"})"
         "\0"s,
         {Outcome::NotACommand, {}, {}}},
        // A type that names no command.
        {R"({"msg_type":5})", {Outcome::UnknownType, {}, {}}},
        {R"({"msg_type":"Minimize"})", {Outcome::UnknownType, "Minimize", {}}},
        {R"({"msg_type":"launch_rockets","msg_data":{"x":1}})",
         {Outcome::UnknownType, "launch_rockets", {}}},

        // Commands without arguments take whatever "msg_data" holds.
        {R"({"msg_type":"minimize","msg_data":[1]})",
         {Outcome::Command, "minimize", ShowWindow{ShowWindow::As::Minimized}}},
        {R"({"msg_type":"maximize"})",
         {Outcome::Command, "maximize", ShowWindow{ShowWindow::As::Maximized}}},
        {R"({"msg_type":"restore"})",
         {Outcome::Command, "restore", ShowWindow{ShowWindow::As::Normal}}},
        {R"({"msg_type":"install"})", {Outcome::Command, "install", Install{}}},
        {R"({"msg_type":"open_dnld_dir"})", {Outcome::Command, "open_dnld_dir", RevealDownload{}}},
        {R"({"msg_type":"dnld_cancel","msg_data":"x"})",
         {Outcome::Command, "dnld_cancel", CancelDownload{}}},

        // Arguments are read whole or the command is malformed.
        {R"({"msg_type":"open_url","msg_data":{"url":"file:///etc/passwd"}})",
         {Outcome::Command, "open_url", OpenUrl{"file:///etc/passwd"}}},
        {R"({"msg_type":"open_url","msg_data":{"url":5}})", {Outcome::Malformed, "open_url", {}}},
        {R"({"msg_type":"post_data","msg_data":{"event_id":"abc"}})",
         {Outcome::Command, "post_data", ReportPageEvent{"abc"}}},
        {R"({"msg_type":"post_data","msg_data":"abc"})", {Outcome::Malformed, "post_data", {}}},
        {R"({"msg_type":"close","msg_data":{"force_close":true}})",
         {Outcome::Command, "close", Close{true}}},
        {R"({"msg_type":"close","msg_data":{"force_close":1}})", {Outcome::Malformed, "close", {}}},
        {R"({"msg_type":"close"})", {Outcome::Malformed, "close", {}}},
        {R"({"msg_type":"resize_window","msg_data":{"width":800.9,"window_text":"Demo"}})",
         {Outcome::Command, "resize_window", ResizeWindow{800, {}, "Demo"}}},
        {R"({"msg_type":"resize_window","msg_data":"big"})",
         {Outcome::Command, "resize_window", ResizeWindow{}}},
        {R"({"msg_type":"resize_window","msg_data":{"height":null}})",
         {Outcome::Malformed, "resize_window", {}}},
        {R"({"msg_type":"mousedown","msg_data":{"x":70000,"y":true}})",
         {Outcome::Command, "mousedown", Mouse{Mouse::Action::Down, 70000, 1}}},
        {R"({"msg_type":"mousemove","msg_data":{"x":-3,"y":4}})",
         {Outcome::Command, "mousemove", Mouse{Mouse::Action::Move, -3, 4}}},
        {R"({"msg_type":"mouseup","msg_data":{"x":1}})", {Outcome::Malformed, "mouseup", {}}},

        // A "dnld" that names no download is the page asking for the current notice.
        {R"({"msg_type":"dnld","msg_data":{"url":"https://a.test/S.exe","silent":false}})",
         {Outcome::Command, "dnld", Download{"https://a.test/S.exe", false, {}, {}}}},
        {R"({"msg_type":"dnld","msg_data":{"url":"u","silent":true,"sha256":"ab)" + zeros +
             R"("}})",
         {Outcome::Command, "dnld", Download{"u", true, DigestOf(0xAB), {}}}},
        {R"({"msg_type":"dnld","msg_data":{"url":"u","silent":true,"sha256":"AB)" + zeros +
             R"("}})",
         {Outcome::Command, "dnld", Download{"u", true, DigestOf(0xAB), {}}}},
        // The signature file's text is taken as it is; the transfer reads it.
        {R"({"msg_type":"dnld","msg_data":{"url":"u","silent":true,"minisig":"a\nb"}})",
         {Outcome::Command, "dnld", Download{"u", true, {}, "a\nb"}}},
        {R"({"msg_type":"dnld","msg_data":{"url":"u","silent":true,"minisig":7}})",
         {Outcome::Command, "dnld", AskDownloadState{}}},
        {R"({"msg_type":"dnld"})", {Outcome::Command, "dnld", AskDownloadState{}}},
        {R"({"msg_type":"dnld","msg_data":{"url":"u"}})",
         {Outcome::Command, "dnld", AskDownloadState{}}},
        {R"({"msg_type":"dnld","msg_data":{"url":5,"silent":true}})",
         {Outcome::Command, "dnld", AskDownloadState{}}},
        {R"({"msg_type":"dnld","msg_data":{"url":"u","silent":true,"sha256":"ab"}})",
         {Outcome::Command, "dnld", AskDownloadState{}}},
        {R"({"msg_type":"dnld","msg_data":{"url":"u","silent":true,"sha256":null}})",
         {Outcome::Command, "dnld", AskDownloadState{}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        const DecodedMessage decoded = DecodePageMessage(c.message);
        EXPECT_EQ(decoded.outcome, c.expected.outcome);
        EXPECT_EQ(decoded.type, c.expected.type);
        EXPECT_EQ(decoded.command, c.expected.command);
    }
}

} // namespace
} // namespace tarvik::bridge
