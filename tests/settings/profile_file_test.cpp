#include "settings/profile_file.h"

#include "platform/headless/headless_system.h"

#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <optional>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tarvik::settings {
namespace {

using tarvik::testing::ReadFileBytes;
using tarvik::testing::TempFolder;
using tarvik::testing::WriteFileBytes;

// A file as the Windows profile functions write it: UTF-16LE after its byte-order mark.
std::string Utf16LeFile(std::u16string_view text) {
    std::string bytes = "\xFF\xFE";
    for (const char16_t unit : text) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
    }
    return bytes;
}

class ProfileFileTest : public ::testing::Test {
protected:
    TempFolder folder;
    platform::headless::HeadlessSystem system;
    std::string ini = folder / "config.ini";
};

struct StringReadCase {
    const char* label;
    std::optional<std::string> contents; // nothing: the file does not exist
    std::wstring section;
    std::wstring key;
    std::wstring expected; // the default is L"<default>"
};

TEST_F(ProfileFileTest, ReadsStringsWithTheRulesDistributorsFilesRelyOn) {
    const std::string longValue(300, 'x');
    const StringReadCase cases[] = {
        {"plain", "[root]\napi_url=http://a/b\n", L"root", L"api_url", L"http://a/b"},
        {"missing file", std::nullopt, L"root", L"api_url", L"<default>"},
        {"names ignore case and blanks, values are trimmed, CRLF",
         "  [ ROOT ]  \r\n\tAPI_Url   =   http://a/b  \r\n", L"root", L"API_URL", L"http://a/b"},
        {"comment lines never match", "[root]\n;api_url=old\n  ; api_url=older\napi_url=new\n",
         L"root", L"api_url", L"new"},
        {"first key wins", "[root]\nk=first\nk=second\n", L"root", L"k", L"first"},
        {"only the first section of a name is searched", "[root]\na=1\n[root]\nk=late\n", L"root",
         L"k", L"<default>"},
        {"a key of another section does not count", "[user]\nk=v\n[root]\n", L"root", L"k",
         L"<default>"},
        {"keys before any section do not count", "k=v\n[root]\n", L"root", L"k", L"<default>"},
        {"the value runs past further '='", "[root]\nk=a=b\n", L"root", L"k", L"a=b"},
        {"a present empty value is empty, not the default", "[root]\nk=\n", L"root", L"k", L""},
        {"a line without '=' is no key", "[root]\nk\n", L"root", L"k", L"<default>"},
        {"byte-order mark before the first section", "\xEF\xBB\xBF[root]\nk=v\n", L"root", L"k",
         L"v"},
        {"last line without line break", "[root]\nk=v", L"root", L"k", L"v"},
        {"section header without ']'", "[root\nk=v\n", L"root", L"k", L"v"},
        {"UTF-8 value", "[user]\nuuid=Grüße-✓\n", L"user", L"uuid", L"Grüße-✓"},
        {"UTF-16LE with its mark, quoted", Utf16LeFile(u"[root]\r\napi_url=\"http://a/b\"\r\n"),
         L"root", L"api_url", L"http://a/b"},
        {"UTF-16LE beyond the basic plane", Utf16LeFile(u"[user]\r\nuuid=Grüße-\U0001F600\r\n"),
         L"user", L"uuid", L"Grüße-\U0001F600"},
        {"UTF-16LE lone surrogate and odd last byte become U+FFFD",
         Utf16LeFile(u"[user]\nuuid=a") + std::string("\x00\xD8", 2) +
             std::string("b\x00\n\x00", 4) + "x",
         L"user", L"uuid", L"a\uFFFDb"},
        {"invalid UTF-8 becomes U+FFFD",
         "[user]\nuuid=a\xFF"
         "b\n",
         L"user", L"uuid", L"a\uFFFDb"},
        {"long values are cut to the limit", "[root]\nk=" + longValue + "\n", L"root", L"k",
         std::wstring(259, L'x')},
        // One pair of matching quotes around the whole value is dropped, and only that.
        {"double quotes", "[root]\nk=\"v w\"\n", L"root", L"k", L"v w"},
        {"single quotes", "[root]\nk='v w'\n", L"root", L"k", L"v w"},
        {"blanks outside the quotes go, inside they stay", "[root]\nk =  \" v \"  \n", L"root",
         L"k", L" v "},
        {"empty quotes are an empty value", "[root]\nk=\"\"\n", L"root", L"k", L""},
        {"a lone quote stays", "[root]\nk=\"\n", L"root", L"k", L"\""},
        {"different quotes stay", "[root]\nk=\"v'\n", L"root", L"k", L"\"v'"},
        {"an opening quote alone stays", "[root]\nk=\"v\n", L"root", L"k", L"\"v"},
        {"a closing quote alone stays", "[root]\nk=v'\n", L"root", L"k", L"v'"},
        {"quotes inside the value stay", "[root]\nk=a\"b\"c\n", L"root", L"k", L"a\"b\"c"},
        {"only the outer pair goes", "[root]\nk=\"'v'\"\n", L"root", L"k", L"'v'"},
        {"first and last character decide", "[root]\nk=\"a\" \"b\"\n", L"root", L"k", L"a\" \"b"},
        {"the quotes go before the value is cut", "[root]\nk=\"" + longValue + "\"\n", L"root",
         L"k", std::wstring(259, L'x')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        std::filesystem::remove(ini);
        if (c.contents)
            WriteFileBytes(ini, *c.contents);
        EXPECT_EQ(ReadProfileString(system, ini, c.section, c.key, L"<default>"), c.expected);
    }
}

TEST_F(ProfileFileTest, ReadsAtMostTheGivenNumberOfCharacters) {
    WriteFileBytes(ini, "[user]\nuuid=äbcdef\n");
    EXPECT_EQ(ReadProfileString(system, ini, L"user", L"uuid", L"", 3), L"äbc");
    EXPECT_EQ(ReadProfileString(system, ini, L"user", L"uuid", L"", 0), L"");
    EXPECT_EQ(ReadProfileString(system, ini, L"user", L"missing", L"default", 3), L"def");
}

TEST_F(ProfileFileTest, ReadsIntegersFromLeadingDigits) {
    struct Case {
        const char* value; // nullptr: no such key
        uint32_t expected;
    };
    const Case cases[] = {
        {nullptr, 77}, // the default
        {"42", 42},
        {"  42abc ", 42},
        {"abc", 0},
        {"", 0},
        {"-5", 0}, // a sign is no digit
        {"007", 7},
        {"3000000000", 3000000000u},
        {"4294967295", 4294967295u},
        {"4294967296", 0}, // wraps at 32 bits like the original reads
        {"4294967299", 3},
        {"\"42\"", 42}, // quotes as around any value
        {"'42'", 42},
        {"\"42", 0}, // an unmatched quote is no digit
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value ? c.value : "(no key)");
        WriteFileBytes(ini, c.value ? std::string("[root]\ndownloader_id=") + c.value + "\n"
                                    : std::string("[root]\n"));
        EXPECT_EQ(ReadProfileInt(system, ini, L"root", L"downloader_id", 77), c.expected);
    }
}

struct WriteCase {
    const char* label;
    std::optional<std::string> before; // nothing: the file does not exist
    std::string after;
};

TEST_F(ProfileFileTest, WriteChangesOnlyThatKey) {
    const WriteCase cases[] = {
        {"missing file is created with just the section", std::nullopt, "[user]\nuuid=NEW\n"},
        {"empty file", "", "[user]\nuuid=NEW\n"},
        {"an existing key is replaced, everything else kept",
         "; from the vendor\n[root]\ndownloader_id = 7 \n\n[User]\n  UUID =  old  \nother=1\n",
         "; from the vendor\n[root]\ndownloader_id = 7 \n\n[User]\nuuid=NEW\nother=1\n"},
        {"only the first of two keys is replaced", "[user]\nuuid=a\nuuid=b\n",
         "[user]\nuuid=NEW\nuuid=b\n"},
        {"added after the section's last key", "[user]\na=1\n; note\n\n[root]\nb=2\n",
         "[user]\na=1\nuuid=NEW\n; note\n\n[root]\nb=2\n"},
        {"added after a header at the end without line break", "[user]", "[user]\nuuid=NEW\n"},
        {"added after a last key without line break", "[user]\na=1", "[user]\na=1\nuuid=NEW\n"},
        {"a lone carriage return at the end breaks no line", "[user]\na=1\r",
         "[user]\na=1\r\nuuid=NEW\n"},
        {"section appended to a file without final line break", "[root]\nb=2",
         "[root]\nb=2\n[user]\nuuid=NEW\n"},
        {"CRLF files get CRLF lines", "[root]\r\nb=2\r\n",
         "[root]\r\nb=2\r\n[user]\r\nuuid=NEW\r\n"},
        {"replacing keeps the line's own ending", "[user]\r\nuuid=\r\nx=1",
         "[user]\r\nuuid=NEW\r\nx=1"},
        {"byte-order mark kept", "\xEF\xBB\xBF[user]\nuuid=\n", "\xEF\xBB\xBF[user]\nuuid=NEW\n"},
        {"a commented-out key stays a comment", "[user]\n;uuid=old\n",
         "[user]\nuuid=NEW\n;uuid=old\n"},
        {"a UTF-16LE file stays UTF-16LE",
         Utf16LeFile(u"[root]\r\nname=Grüße\U0001F600\r\n[user]\r\nuuid=old\r\n"),
         Utf16LeFile(u"[root]\r\nname=Grüße\U0001F600\r\n[user]\r\nuuid=NEW\r\n")},
        {"a UTF-16LE file gains its section in UTF-16LE", Utf16LeFile(u"[root]\r\nb=2\r\n"),
         Utf16LeFile(u"[root]\r\nb=2\r\n[user]\r\nuuid=NEW\r\n")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        std::filesystem::remove(ini);
        if (c.before)
            WriteFileBytes(ini, *c.before);
        ASSERT_TRUE(WriteProfileValue(system, ini, L"user", L"uuid", L"NEW"));
        EXPECT_EQ(ReadFileBytes(ini), c.after);
        EXPECT_EQ(ReadProfileString(system, ini, L"user", L"uuid", L""), L"NEW");
    }
}

TEST_F(ProfileFileTest, WriteStoresUtf8AndLeavesNoTemporaryFile) {
    ASSERT_TRUE(WriteProfileValue(system, ini, L"user", L"uuid", L"Grüße-✓"));
    EXPECT_EQ(ReadFileBytes(ini), "[user]\nuuid=Grüße-✓\n");
    size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder.path()))
        ++entries;
    EXPECT_EQ(entries, 1u);
}

TEST_F(ProfileFileTest, WriteKeepsPermissions) {
#ifdef _WIN32
    GTEST_SKIP() << "POSIX permission bits; on Windows the replacement keeps what belongs to the "
                    "name through ReplaceFileW";
#else
    WriteFileBytes(ini, "[user]\nuuid=\n");
    ASSERT_EQ(::chmod(ini.c_str(), 0640), 0);

    ASSERT_TRUE(WriteProfileValue(system, ini, L"user", L"uuid", L"NEW"));

    EXPECT_EQ(ReadFileBytes(ini), "[user]\nuuid=NEW\n");
    struct stat info {};
    ASSERT_EQ(::stat(ini.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
#endif
}

// Vendors may link config.ini to a shared file, which is read; but a write through a link has
// been seen to rewrite whatever it points at (a copy of /etc/passwd), so nothing is written
// through or over a link.
TEST_F(ProfileFileTest, ReadsThroughALinkButWritesOnlyIntoTheFileItself) {
#ifdef _WIN32
    GTEST_SKIP() << "makes symbolic links, which need a privilege on Windows (Wine refuses them)";
#endif
    const auto shared = folder / "shared.ini";
    const std::string vendors = "[root]\ndownloader_id=7\n";
    struct Case {
        const char* label;
        bool dangling;
        uint32_t downloaderId;
    };
    const Case cases[] = {
        {"link to a file", false, 7},
        {"dangling link", true, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        std::filesystem::remove(ini);
        std::filesystem::remove(shared);
        if (!c.dangling)
            WriteFileBytes(shared, vendors);
        std::filesystem::create_symlink(shared, ini);

        EXPECT_EQ(ReadProfileInt(system, ini, L"root", L"downloader_id", 0), c.downloaderId);
        EXPECT_FALSE(WriteProfileValue(system, ini, L"user", L"uuid", L"NEW"));

        EXPECT_TRUE(std::filesystem::is_symlink(ini));
        EXPECT_EQ(std::filesystem::exists(shared), !c.dangling);
        if (!c.dangling) {
            EXPECT_EQ(ReadFileBytes(shared), vendors);
        }
    }
}

TEST_F(ProfileFileTest, WriteRefusesEntriesThatWouldChangeTheFileStructure) {
    struct Case {
        const char* label;
        std::wstring section, key, value;
    };
    const Case cases[] = {
        {"line break in value", L"user", L"uuid", L"a\nuuid=b"},
        {"carriage return in value", L"user", L"uuid", L"a\rb"},
        {"'=' in key", L"user", L"uu=id", L"v"},
        {"empty key", L"user", L"", L"v"},
        {"key that reads as a comment", L"user", L";uuid", L"v"},
        {"']' in section", L"us]er", L"uuid", L"v"},
        {"blank around section", L" user", L"uuid", L"v"},
        // A read would give another value back.
        {"value in quotes", L"user", L"uuid", L"\"v\""},
        {"value in single quotes", L"user", L"uuid", L"'v'"},
        {"blank before the value", L"user", L"uuid", L" v"},
        {"blank after the value", L"user", L"uuid", L"v\t"},
    };
    const std::string before = "[user]\nuuid=old\n";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        WriteFileBytes(ini, before);
        EXPECT_FALSE(WriteProfileValue(system, ini, c.section, c.key, c.value));
        EXPECT_EQ(ReadFileBytes(ini), before);
    }
}

// A vendor's install folder may be read-only while config.ini in it is writable. Without a
// temporary file there is no atomic replacement, but the value must still be kept: otherwise the
// identifier is made anew on every start.
TEST_F(ProfileFileTest, WhenTheFolderRefusesATemporaryFileTheFileIsRewrittenInPlace) {
    using Fault = platform::headless::HeadlessSystem::Fault;
    struct Observed {
        bool written = false;
        std::optional<std::string> after; // nothing: no file
        std::vector<std::string> writes;  // the write operations asked of the system, in order
        bool operator==(const Observed&) const = default;
    };
    struct Case {
        const char* label;
        std::optional<std::string> before;
        std::vector<Fault> faults;
        Observed expected;
    };
    const std::string before = "[root]\r\nb=2\r\n";
    const Case cases[] = {
        {"the file itself is writable",
         before,
         {Fault::TemporaryFileRefused},
         {true, before + "[user]\r\nuuid=NEW\r\n", {"ReplaceWholeFile", "RewriteFileInPlace"}}},
        {"the file is not writable either",
         before,
         {Fault::TemporaryFileRefused, Fault::InPlaceRewriteFails},
         {false, before, {"ReplaceWholeFile", "RewriteFileInPlace"}}},
        {"no file to rewrite",
         std::nullopt,
         {Fault::TemporaryFileRefused},
         {false, std::nullopt, {"ReplaceWholeFile"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        platform::headless::HeadlessSystem scripted;
        for (const Fault fault : c.faults)
            scripted.Inject(fault);
        std::filesystem::remove(ini);
        if (c.before)
            WriteFileBytes(ini, *c.before);

        Observed observed;
        observed.written = WriteProfileValue(scripted, ini, L"user", L"uuid", L"NEW");
        if (std::filesystem::exists(ini))
            observed.after = ReadFileBytes(ini);
        for (const auto& call : scripted.Calls()) {
            if (call.operation != "ReadWholeFile")
                observed.writes.push_back(call.operation);
        }
        EXPECT_EQ(observed, c.expected);
    }
}

// The same with real permissions, where they bind.
TEST_F(ProfileFileTest, AReadOnlyFolderTakesTheValueOnlyInAWritableFile) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no folder permission bits to make a folder read-only";
#else
    if (::geteuid() == 0)
        GTEST_SKIP() << "permissions do not bind the superuser";
    const std::string before = "[root]\ndownloader_id=7\n";
    const std::string locked = folder / "locked.ini";
    WriteFileBytes(ini, before);
    WriteFileBytes(locked, before);
    ASSERT_EQ(::chmod(locked.c_str(), 0444), 0);
    std::filesystem::permissions(folder.path(), std::filesystem::perms::owner_read |
                                                    std::filesystem::perms::owner_exec);

    EXPECT_TRUE(WriteProfileValue(system, ini, L"user", L"uuid", L"NEW"));
    EXPECT_EQ(ReadFileBytes(ini), before + "[user]\nuuid=NEW\n");
    EXPECT_FALSE(WriteProfileValue(system, locked, L"user", L"uuid", L"NEW"));
    EXPECT_EQ(ReadFileBytes(locked), before);
    EXPECT_FALSE(WriteProfileValue(system, folder / "missing.ini", L"user", L"uuid", L"NEW"));
    EXPECT_FALSE(std::filesystem::exists(folder / "missing.ini"));
#endif
}

// A file the next start could not read would lose every setting in it, downloader_id included.
TEST_F(ProfileFileTest, WriteNeverMakesTheFileTooLargeToRead) {
    // The write puts this line right after the section header.
    const size_t entry = std::string("uuid=NEW\n").size();
    const auto fileOfSize = [](size_t size) {
        const std::string header = "[user]\n;";
        return header + std::string(size - header.size() - 1, 'x') + "\n";
    };
    struct Observed {
        bool written = false;
        std::wstring readBack;
        bool unchanged = false;
        bool operator==(const Observed&) const = default;
    };
    struct Case {
        const char* label = nullptr;
        size_t size = 0;
        Observed expected;
    };
    const Case cases[] = {
        {"reaches the limit exactly", kMaxSettingsFileBytes - entry, {true, L"NEW", false}},
        {"one byte past the limit", kMaxSettingsFileBytes - entry + 1, {false, L"-", true}},
        {"already past the limit", kMaxSettingsFileBytes + 1, {false, L"-", true}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string before = fileOfSize(c.size);
        WriteFileBytes(ini, before);
        Observed observed;
        observed.written = WriteProfileValue(system, ini, L"user", L"uuid", L"NEW");
        observed.readBack = ReadProfileString(system, ini, L"user", L"uuid", L"-");
        observed.unchanged = ReadFileBytes(ini) == before;
        EXPECT_EQ(observed, c.expected);
    }
}

TEST_F(ProfileFileTest, WriteIntoAMissingFolderFails) {
    EXPECT_FALSE(
        WriteProfileValue(system, folder / "no-such-folder/config.ini", L"user", L"uuid", L"NEW"));
}

} // namespace
} // namespace tarvik::settings
