// Code signatures as the system's trust provider judges them, on programs signed for the tests
// (signed/sign_fixtures.sh). Under Wine in CI, whose provider checks that a signature is sound and
// covers the file, but takes any certificate as trusted: what only a real Windows machine shows
// (an untrusted root, a revoked certificate) is in the decision table's host tests.
#include "common/text_conversion.h"
#include "platform/win32/publisher_trust.h"
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

const std::string kPublisher = "Tarvik Test Vendor";

fs::path Signed(const char* name) {
    return fs::path(TARVIK_SIGNED_FROM_TEST) / name;
}

std::string Slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

struct Verdict {
    PublisherCheck check = PublisherCheck::Unavailable;
    std::string reason;
    bool operator==(const Verdict&) const = default;
    friend std::ostream& operator<<(std::ostream& out, const Verdict& v) {
        return out << '{' << static_cast<int>(v.check) << ", \"" << v.reason << "\"}";
    }
};

// A fresh folder per test, removed afterwards.
class PublisherTrustTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::random_device entropy;
        folder_ = fs::absolute(fs::temp_directory_path() /
                               ("tarvik-signed-" + std::to_string(entropy())));
        fs::create_directories(folder_);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }
    fs::path folder_;
};

Verdict CheckFile(const fs::path& path, const std::string& publisher) {
    const UniqueHandle file = OpenInstallerForStart(path.wstring());
    PublisherVerdict verdict = CheckPublisher(file.get(), path.wstring(), publisher);
    return {verdict.check, verdict.reason};
}

// Only the signature of the built-in publisher, over the file as it is, passes; the step log's
// reason tells the others apart.
TEST_F(PublisherTrustTest, OnlyThePublishersSoundSignaturePasses) {
    struct Case {
        const char* file = "";
        std::string publisher;
        Verdict expected;
    };
    const Case cases[] = {
        {"vendor.exe", kPublisher, {PublisherCheck::Trusted, "signed by the built-in publisher"}},
        {"other.exe",
         kPublisher,
         {PublisherCheck::PublisherMismatch,
          "publisher mismatch (signed by \"Other Vendor Ltd\")"}},
        {"vendor.exe",
         "tarvik test vendor",
         {PublisherCheck::PublisherMismatch,
          "publisher mismatch (signed by \"Tarvik Test Vendor\")"}},
        {"unsigned.exe", kPublisher, {PublisherCheck::Unsigned, "unsigned (status 0x800B0100)"}},
        {"tampered.exe",
         kPublisher,
         {PublisherCheck::Tampered,
          "the signature does not cover this file (changed after signing) (status 0x80096010)"}},
        {"notes.txt", kPublisher, {PublisherCheck::Unsigned, "unsigned (status 0x800B0003)"}},
        {"missing.exe",
         kPublisher,
         {PublisherCheck::Unavailable, "the signature could not be checked"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " for \"" + c.publisher + "\"");
        EXPECT_EQ(CheckFile(Signed(c.file), c.publisher), c.expected);
    }
}

// The end of a download judges the temporary file, whose name ends in ".part", through the handle
// it was written with: the provider tells a program by its contents, not its name.
TEST_F(PublisherTrustTest, TheDownloadFileIsJudgedThroughItsOwnHandle) {
    Win32System system;
    struct Case {
        const char* file = "";
        PublisherCheck expected = PublisherCheck::Unavailable;
    };
    for (const Case& c : {Case{"vendor.exe", PublisherCheck::Trusted},
                          Case{"other.exe", PublisherCheck::PublisherMismatch},
                          Case{"tampered.exe", PublisherCheck::Tampered}}) {
        SCOPED_TRACE(c.file);
        const std::unique_ptr<DownloadFile> download =
            system.CreateDownloadFile(NarrowFromWide((folder_ / "setup.exe").wstring()));
        ASSERT_TRUE(download);
        ASSERT_TRUE(download->Append(Slurp(Signed(c.file))));
        std::string reason;
        EXPECT_EQ(download->CheckPublisher(kPublisher, reason), c.expected) << reason;
    }
}

// Between the check before a start and the installer's own reading of its file, the file is held
// open shared with readers only: it cannot be written, replaced, renamed or deleted, but it can
// still be started. Once let go, it can be deleted again.
TEST_F(PublisherTrustTest, AHeldInstallerCannotChangeButStillStarts) {
    const fs::path installer = folder_ / "setup.exe";
    fs::copy_file(Signed("vendor.exe"), installer);
    const fs::path other = folder_ / "other.exe";
    fs::copy_file(Signed("other.exe"), other);

    UniqueHandle held = OpenInstallerForStart(installer.wstring());
    ASSERT_TRUE(held.valid());
    ASSERT_EQ(CheckFile(installer, kPublisher).check, PublisherCheck::Trusted);

    struct Attempt {
        const char* name = "";
        bool succeeded = false;
        bool operator==(const Attempt&) const = default;
    };
    const auto write = [&] {
        const UniqueHandle file(
            ::CreateFileW(installer.c_str(), GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        return file.valid();
    };
    const auto read = [&] {
        const UniqueHandle file(::CreateFileW(
            installer.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        return file.valid();
    };
    const std::vector<Attempt> attempts{
        {"open for writing", write()},
        {"replace with another file",
         ::MoveFileExW(other.c_str(), installer.c_str(), MOVEFILE_REPLACE_EXISTING) != 0},
        {"rename", ::MoveFileExW(installer.c_str(), (folder_ / "moved.exe").c_str(), 0) != 0},
        {"delete", ::DeleteFileW(installer.c_str()) != 0},
        {"open for reading", read()},
    };
    EXPECT_EQ(attempts, (std::vector<Attempt>{{"open for writing", false},
                                              {"replace with another file", false},
                                              {"rename", false},
                                              {"delete", false},
                                              {"open for reading", true}}));
    EXPECT_EQ(Slurp(installer), Slurp(Signed("vendor.exe")));

    // Started while held, as the desktop starts it.
    std::wstring commandLine = L"\"" + installer.wstring() + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(::CreateProcessW(installer.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                                 nullptr, folder_.c_str(), &startup, &process));
    const UniqueHandle processHandle(process.hProcess);
    const UniqueHandle threadHandle(process.hThread);
    ASSERT_EQ(::WaitForSingleObject(processHandle.get(), 60'000), WAIT_OBJECT_0);
    DWORD status = 0;
    ASSERT_TRUE(::GetExitCodeProcess(processHandle.get(), &status));
    EXPECT_EQ(status, 7u);
    EXPECT_TRUE(fs::exists(folder_ / "setup.exe.ran"));

    held.Close();
    EXPECT_TRUE(::DeleteFileW(installer.c_str()));
}

} // namespace
} // namespace tarvik::platform::win32
