#include "settings/config_loader.h"

#include "temp_folder.h"

#include <gtest/gtest.h>

#include <optional>
#include <unistd.h>

namespace tarvik::settings {
namespace {

using tarvik::testing::ReadFileBytes;
using tarvik::testing::TempFolder;
using tarvik::testing::WriteFileBytes;

constexpr std::string_view kEndpoint = "https://service.test/downloader.php/index/info";
constexpr const char* kUnchanged = "(unchanged)";

struct LoadCase {
    const char* label;
    std::optional<std::string> contents; // nothing: no config.ini
    uint32_t downloaderId;
    std::wstring infoUrl;
    std::wstring uuid;
    std::string fileAfter; // kUnchanged: byte for byte as before
};

TEST(LoadConfigFileTest, ReadsSettingsAndStoresANewIdentifierOnlyWhenNoneIsPresent) {
    const std::wstring endpoint = L"https://service.test/downloader.php/index/info";
    const std::string api = "http://127.0.0.1:9/custom/info?x=1&y=2";
    const LoadCase cases[] = {
        {"missing file: defaults, and a file holding only the identifier", std::nullopt, 0, L"",
         L"NEWID", "[user]\nuuid=NEWID\n"},
        {"id set: endpoint with the id, api_url not used",
         "[root]\ndownloader_id=7\napi_url=" + api + "\n[user]\nuuid=abc\n", 7, endpoint + L"?id=7",
         L"abc", kUnchanged},
        {"id 0 with api_url: the URL verbatim",
         "[root]\ndownloader_id=0\napi_url=" + api + "\n[user]\nuuid=abc\n", 0,
         L"http://127.0.0.1:9/custom/info?x=1&y=2", L"abc", kUnchanged},
        {"no id with api_url", "[root]\napi_url=" + api + "\n[user]\nuuid=abc\n", 0,
         L"http://127.0.0.1:9/custom/info?x=1&y=2", L"abc", kUnchanged},
        {"api_url is cut to 259 characters",
         "[root]\napi_url=" + std::string(300, 'u') + "\n[user]\nuuid=abc\n", 0,
         std::wstring(259, L'u'), L"abc", kUnchanged},
        {"id 2^31 is asked for as a signed number",
         "[root]\ndownloader_id=2147483648\n[user]\nuuid=a\n", 2147483648u,
         endpoint + L"?id=-2147483648", L"a", kUnchanged},
        {"id 3000000000", "[root]\ndownloader_id=3000000000\n[user]\nuuid=a\n", 3000000000u,
         endpoint + L"?id=-1294967296", L"a", kUnchanged},
        {"id 4294967295", "[root]\ndownloader_id=4294967295\n[user]\nuuid=a\n", 4294967295u,
         endpoint + L"?id=-1", L"a", kUnchanged},
        {"odd spacing and case",
         "[ ROOT ]\r\n  Downloader_ID =  12  \r\n[USER]\r\n UUID = x y \r\n", 12,
         endpoint + L"?id=12", L"x y", kUnchanged},
        {"a present identifier is used as it is, whatever it holds",
         "[user]\nuuid=not-a-uuid ✓ " + std::string(40, 'z') + "\n", 0, L"",
         L"not-a-uuid ✓ " + std::wstring(40, L'z'), kUnchanged},
        {"empty identifier: made and written, other lines kept",
         "; vendor build 12\n[root]\ndownloader_id=5\n[user]\nuuid=\nlang=de\n", 5,
         endpoint + L"?id=5", L"NEWID",
         "; vendor build 12\n[root]\ndownloader_id=5\n[user]\nuuid=NEWID\nlang=de\n"},
        {"no user section: appended", "[root]\ndownloader_id=5\n", 5, endpoint + L"?id=5", L"NEWID",
         "[root]\ndownloader_id=5\n[user]\nuuid=NEWID\n"},
        {"a commented-out identifier does not count", "[user]\n;uuid=old\n", 0, L"", L"NEWID",
         "[user]\nuuid=NEWID\n;uuid=old\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        TempFolder folder;
        const auto ini = folder / "config.ini";
        if (c.contents)
            WriteFileBytes(ini, *c.contents);
        int made = 0;
        const LoadedConfig config = LoadConfigFile(ini, kEndpoint, [&] {
            ++made;
            return std::wstring(L"NEWID");
        });
        EXPECT_EQ(config.downloaderId, c.downloaderId);
        EXPECT_EQ(config.infoUrl, c.infoUrl);
        EXPECT_EQ(config.uuid, c.uuid);
        const bool unchanged = c.fileAfter == kUnchanged;
        EXPECT_EQ(made, unchanged ? 0 : 1);
        EXPECT_EQ(ReadFileBytes(ini), unchanged ? *c.contents : c.fileAfter);
    }
}

TEST(LoadConfigFileTest, UnwritableFileStillGivesAnIdentifier) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "permissions do not bind the superuser";
    TempFolder folder;
    std::filesystem::permissions(folder.path(), std::filesystem::perms::owner_read |
                                                    std::filesystem::perms::owner_exec);
    const LoadedConfig config =
        LoadConfigFile(folder / "config.ini", kEndpoint, [] { return std::wstring(L"NEWID"); });
    EXPECT_EQ(config.uuid, L"NEWID");
    EXPECT_FALSE(std::filesystem::exists(folder / "config.ini"));
}

TEST(LoadConfigFileTest, WithoutAGeneratorAFreshIdentifierIsMade) {
    TempFolder folder;
    const LoadedConfig config = LoadConfigFile(folder / "config.ini", kEndpoint, {});
    EXPECT_EQ(config.uuid.size(), 32u);
    EXPECT_EQ(ReadFileBytes(folder / "config.ini"),
              "[user]\nuuid=" + std::string(config.uuid.begin(), config.uuid.end()) + "\n");
}

TEST(ConfigPathTest, IsConfigIniBesideTheRunningExecutable) {
    const auto executable = std::filesystem::canonical("/proc/self/exe");
    EXPECT_EQ(ConfigPathBesideExecutable(), executable.parent_path() / "config.ini");
}

} // namespace
} // namespace tarvik::settings
