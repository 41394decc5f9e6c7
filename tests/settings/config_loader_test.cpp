#include "settings/config_loader.h"

#include "platform/headless/headless_system.h"
#ifndef _WIN32
#include "platform/posix/posix_system.h"
#endif
#include "settings/profile_file.h"

#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#ifndef _WIN32
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace tarvik::settings {
namespace {

using platform::headless::HeadlessSystem;
using tarvik::testing::ReadFileBytes;
using tarvik::testing::TempFolder;
using tarvik::testing::WriteFileBytes;
using Fault = HeadlessSystem::Fault;

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
        // Values in quotes, as distributors write them for the Windows profile reader.
        {"api_url in double quotes", "[root]\napi_url=\"" + api + "\"\n[user]\nuuid=abc\n", 0,
         L"http://127.0.0.1:9/custom/info?x=1&y=2", L"abc", kUnchanged},
        {"api_url in single quotes, blanks around them",
         "[root]\napi_url =  '" + api + "'  \n[user]\nuuid=abc\n", 0,
         L"http://127.0.0.1:9/custom/info?x=1&y=2", L"abc", kUnchanged},
        {"downloader_id in quotes", "[root]\ndownloader_id=\"7\"\n[user]\nuuid=abc\n", 7,
         endpoint + L"?id=7", L"abc", kUnchanged},
        {"identifier in quotes: used without them, never rewritten",
         "[user]\r\nuuid=\"7E9010F02011A07Bq3ZkT0aLw9hYcV2e\"\r\n", 0, L"",
         L"7E9010F02011A07Bq3ZkT0aLw9hYcV2e", kUnchanged},
        {"identifier of empty quotes: made and written, other lines kept",
         "; vendor build 12\r\n[root]\r\napi_url=\"" + api + "\"\r\n[user]\r\nuuid=\"\"\r\n", 0,
         L"http://127.0.0.1:9/custom/info?x=1&y=2", L"NEWID",
         "; vendor build 12\r\n[root]\r\napi_url=\"" + api + "\"\r\n[user]\r\nuuid=NEWID\r\n"},
        {"identifier with an unmatched quote: used as it is", "[user]\nuuid=\"abc'\n", 0, L"",
         L"\"abc'", kUnchanged},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        TempFolder folder;
        HeadlessSystem system;
        const std::string ini = folder / "config.ini";
        if (c.contents)
            WriteFileBytes(ini, *c.contents);
        int made = 0;
        const LoadedConfig config = LoadConfigFile(system, ini, kEndpoint, [&] {
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
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no folder permission bits to make a folder unwritable";
#else
    if (::geteuid() == 0)
        GTEST_SKIP() << "permissions do not bind the superuser";
    TempFolder folder;
    HeadlessSystem system;
    std::filesystem::permissions(folder.path(), std::filesystem::perms::owner_read |
                                                    std::filesystem::perms::owner_exec);
    const LoadedConfig config = LoadConfigFile(system, folder / "config.ini", kEndpoint,
                                               [] { return std::wstring(L"NEWID"); });
    EXPECT_EQ(config.uuid, L"NEWID");
    EXPECT_FALSE(std::filesystem::exists(folder / "config.ini"));
#endif
}

TEST(LoadConfigFileTest, WithoutAGeneratorAFreshIdentifierIsMade) {
    TempFolder folder;
    HeadlessSystem system;
    const LoadedConfig config = LoadConfigFile(system, folder / "config.ini", kEndpoint, {});
    EXPECT_EQ(config.uuid.size(), 32u);
    EXPECT_EQ(ReadFileBytes(folder / "config.ini"),
              "[user]\nuuid=" + std::string(config.uuid.begin(), config.uuid.end()) + "\n");
}

TEST(LoadConfigFileTest, ConnectionsDefaultToFourAndStayWithinBounds) {
    const struct {
        const char* section;
        int connections;
    } cases[] = {
        {"", 4},
        {"[download]\nconnections=1\n", 1},
        {"[download]\nconnections=3\n", 3},
        {"[download]\nconnections=0\n", 1},
        {"[download]\nconnections=many\n", 1},
        {"[download]\nconnections=64\n", kMostConnections},
        {"[other]\nconnections=2\n", 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.section);
        TempFolder folder;
        HeadlessSystem system;
        WriteFileBytes(folder / "config.ini", std::string("[user]\nuuid=X\n") + c.section);
        EXPECT_EQ(LoadConfigFile(system, folder / "config.ini", kEndpoint, {}).connections,
                  c.connections);
    }
}

// A vendor counts installations by their identifiers, so wherever config.ini can take the
// identifier it must keep the first one; where it cannot, each run has one of its own and the file
// stays exactly as it was.
TEST(LoadConfigFileTest, TheFirstIdentifierIsKeptWhereverItCanBeWritten) {
#ifdef _WIN32
    GTEST_SKIP() << "makes symbolic links, which need a privilege on Windows (Wine refuses them)";
#endif
    const std::string vendors = "[root]\ndownloader_id=7\n";
    // So large that the identifier would push it one byte past what the settings reader takes.
    const std::string nearLimit =
        vendors + ";" +
        std::string(kMaxSettingsFileBytes - vendors.size() - std::string(";\n[user]\n").size() -
                        std::string("uuid=ID1\n").size() + 1,
                    'x') +
        "\n";
    struct Observed {
        std::wstring first;
        std::wstring second;
        uint32_t secondDownloaderId = 0;
        std::string fileAfter; // config.ini, or the file it links to; kUnchanged as before
        bool operator==(const Observed&) const = default;
    };
    struct Case {
        const char* label;
        std::function<void(const TempFolder&)> prepare;
        std::vector<Fault> faults;
        Observed expected;
    };
    const auto plain = [&](const std::string& contents) {
        return [contents](const TempFolder& f) { WriteFileBytes(f / "config.ini", contents); };
    };
    const auto linked = [&](bool dangling) {
        return [&, dangling](const TempFolder& f) {
            if (!dangling)
                WriteFileBytes(f / "shared.ini", vendors);
            std::filesystem::create_symlink(f / "shared.ini", f / "config.ini");
        };
    };
    const Case cases[] = {
        {"a writable file",
         plain(vendors),
         {},
         {L"ID1", L"ID1", 7, vendors + "[user]\nuuid=ID1\n"}},
        {"a read-only folder with a writable file",
         plain(vendors),
         {Fault::TemporaryFileRefused},
         {L"ID1", L"ID1", 7, vendors + "[user]\nuuid=ID1\n"}},
        {"a read-only folder with a read-only file",
         plain(vendors),
         {Fault::TemporaryFileRefused, Fault::InPlaceRewriteFails},
         {L"ID1", L"ID2", 7, kUnchanged}},
        {"a link to the vendor's shared file", linked(false), {}, {L"ID1", L"ID2", 7, kUnchanged}},
        {"a dangling link", linked(true), {}, {L"ID1", L"ID2", 0, kUnchanged}},
        {"a file the identifier would push past the size limit",
         plain(nearLimit),
         {},
         {L"ID1", L"ID2", 7, kUnchanged}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        TempFolder folder;
        c.prepare(folder);
        const std::filesystem::path written = std::filesystem::is_symlink(folder / "config.ini")
                                                  ? folder / "shared.ini"
                                                  : folder / "config.ini";
        const std::optional<std::string> before =
            std::filesystem::exists(written) ? std::optional(ReadFileBytes(written)) : std::nullopt;
        HeadlessSystem system;
        for (const Fault fault : c.faults)
            system.Inject(fault);

        int starts = 0;
        const auto start = [&] {
            return LoadConfigFile(system, folder / "config.ini", kEndpoint,
                                  [&] { return L"ID" + std::to_wstring(++starts); });
        };
        Observed observed;
        observed.first = start().uuid;
        const LoadedConfig second = start();
        observed.second = second.uuid;
        observed.secondDownloaderId = second.downloaderId;
        const std::optional<std::string> after =
            std::filesystem::exists(written) ? std::optional(ReadFileBytes(written)) : std::nullopt;
        observed.fileAfter = after == before ? kUnchanged : after.value_or("(none)");
        EXPECT_EQ(observed, c.expected);
        EXPECT_EQ(std::filesystem::is_symlink(folder / "config.ini"),
                  written != folder / "config.ini");
    }
}

// Start-up reads and writes config.ini whole; the memory for that must stay in proportion to the
// file (a table of its lines once took a gigabyte for 16 MiB of empty lines). Measured in a child
// process, whose peak is its own.
TEST(LoadConfigFileTest, MemoryStaysInProportionToTheFile) {
#ifdef _WIN32
    GTEST_SKIP() << "measures a forked child's peak memory, which Windows has no fork for";
#else
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "sanitizers hold on to freed memory";
#endif
    TempFolder folder;
    const std::string ini = folder / "config.ini";
    // Empty lines up to the size limit, with room left for the identifier.
    const size_t size = kMaxSettingsFileBytes - 64;
    WriteFileBytes(ini, std::string(size, '\n'));
    rusage self{};
    ::getrusage(RUSAGE_SELF, &self);

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        platform::posix::PosixSystem system;
        const LoadedConfig config =
            LoadConfigFile(system, ini, kEndpoint, [] { return std::wstring(L"NEWID"); });
        const bool kept = ReadProfileString(system, ini, L"user", L"uuid", L"") == L"NEWID" &&
                          config.uuid == L"NEWID";
        ::_exit(kept ? 0 : 1);
    }
    int status = 0;
    rusage usage{};
    ASSERT_EQ(::wait4(child, &status, 0, &usage), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the identifier was not written and read back";
    // The file, a changed copy of it and some slack, beyond what the child started with.
    const long budgetKiB = self.ru_maxrss + static_cast<long>(4 * size / 1024);
    EXPECT_LT(usage.ru_maxrss, budgetKiB);
#endif
}

TEST(ConfigPathTest, IsConfigIniBesideTheRunningExecutable) {
#ifdef _WIN32
    GTEST_SKIP() << "reads the executable's path from /proc; the win32 System's own tests check "
                    "GetModuleFileNameW";
#else
    const auto executable = std::filesystem::canonical("/proc/self/exe");
    platform::posix::PosixSystem real;
    EXPECT_EQ(ConfigPathBesideExecutable(real), (executable.parent_path() / "config.ini").string());
    // Without the executable's folder, the working folder is the only place left.
    HeadlessSystem unknown;
    unknown.Inject(Fault::UnknownExecutable);
    EXPECT_EQ(ConfigPathBesideExecutable(unknown), "config.ini");
#endif
}

} // namespace
} // namespace tarvik::settings
