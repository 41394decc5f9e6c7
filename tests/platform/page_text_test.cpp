#include "platform/gtk/page_bridge.h"
#include "platform/gtk/save_name.h"
#include "platform/gtk/web_languages.h"

#include <gtest/gtest.h>

namespace tarvik::platform::gtk {
namespace {

TEST(PageBridge, OnlyMessagesWithThisRunsTokenAreUnwrapped) {
    const std::string token = MakeBridgeToken();
    ASSERT_EQ(token.size(), 32u);
    EXPECT_EQ(token.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_NE(token, MakeBridgeToken());

    struct Case {
        std::string payload;
        std::optional<std::string> text;
    };
    const Case cases[] = {
        {token + ":{\"cmd\":\"close\"}", "{\"cmd\":\"close\"}"},
        {token + ":", ""},
        {token + ":a:b", "a:b"},
        {token, std::nullopt},
        {token + "x:text", std::nullopt},
        {"text", std::nullopt},
        {":" + token + ":text", std::nullopt},
        {std::string(32, '0') + ":text", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.payload);
        EXPECT_EQ(UnwrapBridgeMessage(c.payload, token), c.text);
    }
    EXPECT_FALSE(UnwrapBridgeMessage(":text", ""));
}

TEST(SaveDialogName, DefaultExtensionIsAddedOnlyToANameWithoutOne) {
    struct Case {
        std::string path;
        const char* extension;
        std::string expected;
    };
    // The longest name that still takes ".txt", and the shortest that does not.
    const std::string longest(kMaxFileNameBytes - 4, 'n');
    const std::string tooLong(kMaxFileNameBytes - 3, 'n');
    const Case cases[] = {
        {"/home/u/" + longest, "txt", "/home/u/" + longest + ".txt"},
        {"/home/u/" + tooLong, "txt", "/home/u/" + tooLong},
        {"/home/u/" + tooLong, ".txt", "/home/u/" + tooLong},
        {"/home/u/setup", "exe", "/home/u/setup.exe"},
        {"/home/u/setup", ".exe", "/home/u/setup.exe"},
        {"/home/u/setup.bin", "exe", "/home/u/setup.bin"},
        {"/home/u.d/setup", "exe", "/home/u.d/setup.exe"},
        {"/home/u/setup", "", "/home/u/setup"},
        {"/home/u/.profile", "exe", "/home/u/.profile.exe"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path.size());
        EXPECT_EQ(WithDefaultExtension(c.path, c.extension), c.expected);
    }
}

TEST(WebLanguages, LocaleNamesBecomeLanguageTagsInOrder) {
    using Tags = std::vector<std::string>;
    EXPECT_EQ(WebLanguages({"de_DE.UTF-8", "de_DE", "de.UTF-8", "de", "C"}), (Tags{"de-DE", "de"}));
    EXPECT_EQ(WebLanguages({"zh_CN.UTF-8", "zh_CN", "zh", "en_US", "en"}),
              (Tags{"zh-CN", "zh", "en-US", "en"}));
    EXPECT_EQ(WebLanguages({"sr_RS@latin", "sr@latin", "sr"}), (Tags{"sr-RS", "sr"}));
    EXPECT_EQ(WebLanguages({"C"}), Tags{});
    EXPECT_EQ(WebLanguages({"POSIX", ""}), Tags{});
}

} // namespace
} // namespace tarvik::platform::gtk
