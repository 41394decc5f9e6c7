// The System role on Windows against real files (under Wine in CI).
#include "common/text_conversion.h"
#include "platform/win32/proxy_settings.h"
#include "platform/win32/win32_system.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace tarvik::platform::win32 {
namespace {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void Put(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// A fresh folder per test whose name holds a character beyond U+FFFF, so that every call below
// also shows the path travelling as UTF-16 with a surrogate pair.
class Win32SystemTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::random_device entropy;
        folder_ = fs::temp_directory_path() /
                  PathFromUtf8("tarvik \xF0\x9F\x98\x80 " + std::to_string(entropy()));
        fs::create_directories(folder_);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }
    std::string At(const std::string& name) const {
        return Utf8FromPath(folder_ / PathFromUtf8(name));
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder_))
            names.push_back(Utf8FromPath(entry.path().filename()));
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path folder_;
    Win32System system_;
};

TEST_F(Win32SystemTest, ExecutableComesFromTheModulePath) {
    const std::string path = system_.ExecutablePath();
    const std::string folder = system_.ExecutableFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(path, folder + "\\win32_system_tests.exe");
    EXPECT_TRUE(system_.IsRegularFile(path));
    EXPECT_FALSE(system_.IsRegularFile(folder));
}

TEST_F(Win32SystemTest, ReadsWholeFilesWithinTheLimit) {
    Put(folder_ / PathFromUtf8("config.ini"), "[root]\r\napi_url=x\r\n");
    Put(folder_ / PathFromUtf8("big.ini"), std::string(100, 'x'));
    fs::create_directories(folder_ / "sub");
    struct Case {
        std::string name;
        ReadOutcome outcome;
        std::string bytes;
    };
    const Case cases[] = {
        {"config.ini", ReadOutcome::Read, "[root]\r\napi_url=x\r\n"},
        {"missing.ini", ReadOutcome::Missing, ""},
        {"nofolder/config.ini", ReadOutcome::Missing, ""},
        {"big.ini", ReadOutcome::TooLarge, ""},
        {"sub", ReadOutcome::Failed, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const FileContents got = system_.ReadWholeFile(At(c.name), 64);
        EXPECT_EQ(got.outcome, c.outcome);
        EXPECT_EQ(got.bytes, c.bytes);
    }
}

TEST_F(Win32SystemTest, ReplacesOrCreatesWholeFilesAndLeavesNothingBeside) {
    Put(folder_ / "old.ini", "old contents");
    fs::create_directories(folder_ / "folder.ini");
    struct Case {
        std::string name;
        WriteOutcome outcome;
        std::string after; // the file's contents afterwards
    };
    const Case cases[] = {
        {"old.ini", WriteOutcome::Written, "new"},
        {"created \xE8\xBF\x90.ini", WriteOutcome::Written, "new"},
        {"folder.ini", WriteOutcome::NotARegularFile, ""},
        {"nofolder/x.ini", WriteOutcome::Failed, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(system_.ReplaceWholeFile(At(c.name), "new"), c.outcome);
        if (c.outcome == WriteOutcome::Written) {
            EXPECT_EQ(Slurp(folder_ / PathFromUtf8(c.name)), c.after);
            const DWORD attributes = ::GetFileAttributesW(WideFromNarrow(At(c.name)).c_str());
            EXPECT_EQ(attributes & FILE_ATTRIBUTE_HIDDEN, 0u);
        }
    }
    EXPECT_EQ(Names(),
              (std::vector<std::string>{"created \xE8\xBF\x90.ini", "folder.ini", "old.ini"}));
}

TEST_F(Win32SystemTest, RewritesInPlaceAndCutsToTheNewLength) {
    Put(folder_ / "in.ini", "a much longer old text");
    EXPECT_EQ(system_.RewriteFileInPlace(At("in.ini"), "short"), WriteOutcome::Written);
    EXPECT_EQ(Slurp(folder_ / "in.ini"), "short");
    EXPECT_EQ(system_.RewriteFileInPlace(At("missing.ini"), "x"), WriteOutcome::Failed);
    EXPECT_FALSE(fs::exists(folder_ / "missing.ini"));
}

TEST_F(Win32SystemTest, DownloadFileIsHiddenUntilCommittedAndCarriesTheMarkOfTheWeb) {
    Put(folder_ / "setup.exe", "older file of the user");
    std::unique_ptr<DownloadFile> file = system_.CreateDownloadFile(At("setup.exe"));
    ASSERT_TRUE(file);
    const fs::path temporary = PathFromUtf8(file->path());
    EXPECT_EQ(temporary.parent_path(), folder_);
    const std::string name = Utf8FromPath(temporary.filename());
    EXPECT_TRUE(name.starts_with(".setup.exe.") && name.ends_with(".part")) << name;
    EXPECT_NE(::GetFileAttributesW(temporary.c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);

    EXPECT_TRUE(file->Reserve(1000));
    EXPECT_TRUE(file->Append("head"));
    EXPECT_TRUE(file->WriteAt(8, "tail"));
    EXPECT_TRUE(file->WriteAt(4, "body"));
    EXPECT_TRUE(file->Flush());
    EXPECT_TRUE(file->RecordOriginUrl("https://example.test/setup.exe"));
    const std::string mark =
        "[ZoneTransfer]\r\nZoneId=3\r\nHostUrl=https://example.test/setup.exe\r\n";
    EXPECT_EQ(Slurp(temporary.native() + L":Zone.Identifier"), mark);
    // The user's file is untouched until the commit.
    EXPECT_EQ(Slurp(folder_ / "setup.exe"), "older file of the user");

    ASSERT_TRUE(file->Commit());
    EXPECT_FALSE(file->Append("late"));
    file.reset();
    EXPECT_EQ(Slurp(folder_ / "setup.exe"), "headbodytail");
    EXPECT_EQ(::GetFileAttributesW((folder_ / "setup.exe").c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
    EXPECT_EQ(Slurp((folder_ / "setup.exe").native() + L":Zone.Identifier"), mark);
    EXPECT_FALSE(fs::exists(temporary));
}

TEST_F(Win32SystemTest, DownloadFileWithoutCommitLeavesNothing) {
    Put(folder_ / "setup.exe", "older file of the user");
    {
        std::unique_ptr<DownloadFile> file = system_.CreateDownloadFile(At("setup.exe"));
        ASSERT_TRUE(file);
        EXPECT_TRUE(file->Append("partial"));
        EXPECT_TRUE(file->RecordOriginUrl("https://example.test/setup.exe"));
    }
    EXPECT_EQ(Names(), std::vector<std::string>{"setup.exe"});
    EXPECT_EQ(Slurp(folder_ / "setup.exe"), "older file of the user");
    EXPECT_EQ(system_.CreateDownloadFile(At("nofolder/setup.exe")), nullptr);
    EXPECT_EQ(system_.CreateDownloadFile(At("")), nullptr);
}

// A resumed download reads back what it kept, starts over when it must, and takes the next free
// name without ever replacing a file that has one.
TEST_F(Win32SystemTest, DownloadFileReadsBackStartsOverAndNeverReplacesOnRequest) {
    Put(folder_ / "setup.exe", "the user's file");
    std::unique_ptr<DownloadFile> file = system_.CreateDownloadFile(At("setup.exe"));
    ASSERT_TRUE(file);
    EXPECT_TRUE(file->WriteAt(4, "tail"));
    EXPECT_TRUE(file->WriteAt(0, "head"));
    EXPECT_EQ(file->Length(), 8u);
    std::string bytes = "old contents";
    EXPECT_TRUE(file->ReadAt(2, 4, bytes));
    EXPECT_EQ(bytes, "adta");
    EXPECT_TRUE(file->ReadAt(6, 100, bytes)) << "a read over the end gives what is there";
    EXPECT_EQ(bytes, "il");
    EXPECT_TRUE(file->ReadAt(50, 4, bytes));
    EXPECT_EQ(bytes, "");

    EXPECT_TRUE(file->Discard());
    EXPECT_EQ(file->Length(), 0u);
    EXPECT_TRUE(file->ReadAt(0, 8, bytes));
    EXPECT_EQ(bytes, "");
    EXPECT_TRUE(file->Append("whole new"));
    EXPECT_TRUE(file->RecordOriginUrl("https://example.test/setup.exe"));

    EXPECT_EQ(file->CommitWithoutReplacing(At("setup.exe")), CommitOutcome::NameTaken);
    EXPECT_EQ(Slurp(folder_ / "setup.exe"), "the user's file");
    EXPECT_EQ(file->CommitWithoutReplacing(At("setup (1).exe")), CommitOutcome::Committed);
    EXPECT_EQ(file->CommitWithoutReplacing(At("setup (2).exe")), CommitOutcome::Failed)
        << "a committed file is gone from this object";
    EXPECT_FALSE(file->Append("late"));
    file.reset();
    EXPECT_EQ(Slurp(folder_ / "setup (1).exe"), "whole new");
    EXPECT_EQ(Slurp((folder_ / "setup (1).exe").native() + L":Zone.Identifier"),
              "[ZoneTransfer]\r\nZoneId=3\r\nHostUrl=https://example.test/setup.exe\r\n");
    EXPECT_EQ(Slurp(folder_ / "setup.exe"), "the user's file");
}

// The manual settings as the settings dialogs write them, read for one address.
TEST(ManualProxy, FollowsTheSchemesServerAndTheExceptions) {
    struct Case {
        const char* proxy;
        const char* bypass;
        const char* url;
        const char* expected;
    };
    const char* const perScheme =
        "http=plain.test:8080;https=secure.test:8443;socks=socks.test:1080";
    const Case cases[] = {
        {"", "", "https://example.test/", ""},
        {"proxy.test:3128", "", "https://example.test/", "http://proxy.test:3128"},
        {"proxy.test:3128", "", "http://example.test/", "http://proxy.test:3128"},
        {perScheme, "", "http://example.test/", "http://plain.test:8080"},
        {perScheme, "", "https://example.test/", "http://secure.test:8443"},
        // No server for the scheme: the SOCKS one, which the dialog means as SOCKS 4.
        {"http=plain.test:8080;socks=socks.test:1080", "", "https://example.test/",
         "socks4://socks.test:1080"},
        {"ftp=files.test:21", "", "https://example.test/", ""},
        {"HTTPS=secure.test:8443", "", "https://example.test/", "http://secure.test:8443"},
        // Servers written with a scheme of their own keep it; one the library lacks is skipped.
        {"https=socks5://socks.test:1080", "", "https://example.test/", "socks5://socks.test:1080"},
        {"https=ftp://files.test:21", "", "https://example.test/", ""},
        // Separated by spaces or with a trailing ';', as people type them.
        {" proxy.test:3128 ; ", "", "https://example.test/", "http://proxy.test:3128"},
        // The exceptions.
        {"proxy.test:3128", "<local>", "https://intranet/", ""},
        {"proxy.test:3128", "<local>", "https://intranet.corp.test/", "http://proxy.test:3128"},
        {"proxy.test:3128", "*.corp.test", "https://wiki.corp.test/", ""},
        {"proxy.test:3128", "*.corp.test", "https://corp.test/", "http://proxy.test:3128"},
        {"proxy.test:3128", "other.test; EXAMPLE.test", "https://example.test/", ""},
        {"proxy.test:3128", "10.*", "http://10.1.2.3/", ""},
        {"proxy.test:3128", "10.*", "http://110.1.2.3/", "http://proxy.test:3128"},
        {"proxy.test:3128", "https://example.test", "https://example.test/", ""},
        {"proxy.test:3128", "http://example.test", "https://example.test/",
         "http://proxy.test:3128"},
        {"proxy.test:3128", "example.test:8443", "https://example.test:8443/", ""},
        {"proxy.test:3128", "example.test:8443", "https://example.test/", "http://proxy.test:3128"},
        {"proxy.test:3128", "[::1]", "http://[::1]:8080/", ""},
        {"proxy.test:3128", "", "not a url", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ManualProxyFor({c.proxy, c.bypass}, c.url), c.expected)
            << "proxy \"" << c.proxy << "\", bypass \"" << c.bypass << "\", " << c.url;
    }
}

// What an auto-configuration script's answer becomes.
TEST(ScriptProxyList, GivesItsFirstUsableServer) {
    const std::pair<const char*, const char*> cases[] = {
        {"proxy.test:3128", "http://proxy.test:3128"},
        {"first.test:3128; second.test:3128", "http://first.test:3128"},
        {"ftp://files.test:21;second.test:3128", "http://second.test:3128"},
        {"", ""},
        {" ; ", ""},
    };
    for (const auto& [list, expected] : cases)
        EXPECT_EQ(FirstListedProxy(list), expected) << list;
}

TEST(ZoneIdentifier, RefusesAddressesThatWouldForgeLines) {
    EXPECT_EQ(ZoneIdentifierText("http://a.test/x"),
              "[ZoneTransfer]\r\nZoneId=3\r\nHostUrl=http://a.test/x\r\n");
    for (const std::string& bad :
         {std::string("http://a.test/\r\nZoneId=0"), std::string("http://a.test/\n"),
          std::string("a\0b", 3), std::string()})
        EXPECT_EQ(ZoneIdentifierText(bad), "");
}

} // namespace
} // namespace tarvik::platform::win32
