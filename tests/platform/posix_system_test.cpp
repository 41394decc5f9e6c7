#include "platform/posix/posix_system.h"

#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <functional>
#include <optional>
#include <set>

namespace tarvik::platform::posix {
namespace {

namespace fs = std::filesystem;
using tarvik::testing::ReadFileBytes;
using tarvik::testing::TempFolder;
using tarvik::testing::WriteFileBytes;

// Every name in the folder, hidden ones included.
std::set<std::string> Names(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

std::optional<std::string> Contents(const fs::path& file) {
    if (!fs::is_regular_file(fs::symlink_status(file)))
        return std::nullopt;
    return ReadFileBytes(file);
}

class PosixSystemTest : public ::testing::Test {
protected:
    TempFolder folder;
    PosixSystem system;
};

TEST_F(PosixSystemTest, ExecutableIsTheRunningTestProgram) {
    const fs::path executable = fs::canonical("/proc/self/exe");
    EXPECT_EQ(system.ExecutablePath(), executable.string());
    EXPECT_EQ(system.ExecutableFolder(), executable.parent_path().string());
}

struct ReadRecord {
    ReadOutcome outcome;
    std::string bytes;
    bool operator==(const ReadRecord&) const = default;
};

std::ostream& operator<<(std::ostream& out, const ReadRecord& record) {
    return out << "outcome " << static_cast<int>(record.outcome) << ", \"" << record.bytes << "\"";
}

TEST_F(PosixSystemTest, ReadsWholeRegularFilesUpToTheLimit) {
    struct Case {
        const char* label;
        std::function<fs::path(const fs::path&)> make; // returns the path to read
        ReadRecord expected;
    };
    const std::string atLimit(64, 'a');
    const Case cases[] = {
        {"missing", [](const fs::path& f) { return f / "none"; }, {ReadOutcome::Missing, ""}},
        {"missing folder on the way",
         [](const fs::path& f) { return f / "none" / "x"; },
         {ReadOutcome::Missing, ""}},
        {"empty",
         [](const fs::path& f) {
             WriteFileBytes(f / "e", "");
             return f / "e";
         },
         {ReadOutcome::Read, ""}},
        {"exactly the limit",
         [&](const fs::path& f) {
             WriteFileBytes(f / "a", atLimit);
             return f / "a";
         },
         {ReadOutcome::Read, atLimit}},
        {"one byte over the limit",
         [&](const fs::path& f) {
             WriteFileBytes(f / "b", atLimit + "b");
             return f / "b";
         },
         {ReadOutcome::TooLarge, ""}},
        {"through a symbolic link",
         [](const fs::path& f) {
             WriteFileBytes(f / "shared", "[root]\n");
             fs::create_symlink(f / "shared", f / "link");
             return f / "link";
         },
         {ReadOutcome::Read, "[root]\n"}},
        {"a folder", [](const fs::path& f) { return f; }, {ReadOutcome::Failed, ""}},
        // The kernel's files announce no size, so the limit is kept while reading.
        {"a file that announces no size",
         [](const fs::path&) { return fs::path("/proc/sys/kernel/ostype"); },
         {ReadOutcome::Read, "Linux\n"}},
        {"a file that announces no size, past the limit",
         [](const fs::path&) { return fs::path("/proc/self/maps"); },
         {ReadOutcome::TooLarge, ""}},
        {"a device",
         [](const fs::path&) { return fs::path("/dev/zero"); },
         {ReadOutcome::Failed, ""}},
        {"a named pipe fails at once, without waiting for a writer",
         [](const fs::path& f) {
             ::mkfifo((f / "pipe").c_str(), 0600);
             return f / "pipe";
         },
         {ReadOutcome::Failed, ""}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const FileContents read = system.ReadWholeFile(c.make(folder.path()), atLimit.size());
        EXPECT_EQ((ReadRecord{read.outcome, read.bytes}), c.expected);
    }
}

// What a whole-file write left behind.
struct WriteRecord {
    WriteOutcome outcome;
    std::optional<std::string> file; // the name's contents; nothing unless a regular file
    std::set<std::string> names;     // the folder afterwards
    bool operator==(const WriteRecord&) const = default;
};

std::ostream& operator<<(std::ostream& out, const WriteRecord& record) {
    out << "outcome " << static_cast<int>(record.outcome) << ", file "
        << (record.file ? "\"" + *record.file + "\"" : "(none)") << ", names";
    for (const auto& name : record.names)
        out << " " << name;
    return out;
}

struct WriteCase {
    const char* label;
    std::function<void(const fs::path&)> prepare; // makes what "config.ini" is before the write
    WriteRecord replaced;                         // after ReplaceWholeFile
    WriteRecord rewritten;                        // after RewriteFileInPlace
};

// Both whole-file writes go only into a regular file of that very name: never through a link,
// never over one.
TEST_F(PosixSystemTest, WholeFileWritesGoOnlyIntoARegularFileOfThatName) {
    const auto link = [](const char* target) {
        return [target](const fs::path& f) {
            WriteFileBytes(f / "shared.ini", "vendor's");
            fs::create_symlink(f / target, f / "config.ini");
        };
    };
    using enum WriteOutcome;
    const std::set<std::string> withShared = {"config.ini", "shared.ini"};
    const WriteCase cases[] = {
        {"missing: only a replacement creates it",
         [](const fs::path&) {},
         {Written, "new", {"config.ini"}},
         {Failed, std::nullopt, {}}},
        {"longer contents",
         [](const fs::path& f) { WriteFileBytes(f / "config.ini", "ol"); },
         {Written, "new", {"config.ini"}},
         {Written, "new", {"config.ini"}}},
        {"shorter contents",
         [](const fs::path& f) { WriteFileBytes(f / "config.ini", "old and long"); },
         {Written, "new", {"config.ini"}},
         {Written, "new", {"config.ini"}}},
        {"a link to a file",
         link("shared.ini"),
         {NotARegularFile, std::nullopt, withShared},
         {NotARegularFile, std::nullopt, withShared}},
        {"a dangling link",
         link("gone.ini"),
         {NotARegularFile, std::nullopt, withShared},
         {NotARegularFile, std::nullopt, withShared}},
        {"a folder",
         [](const fs::path& f) { fs::create_directory(f / "config.ini"); },
         {NotARegularFile, std::nullopt, {"config.ini"}},
         {NotARegularFile, std::nullopt, {"config.ini"}}},
    };
    for (const auto& c : cases) {
        for (const bool inPlace : {false, true}) {
            SCOPED_TRACE(::testing::Message() << c.label << (inPlace ? ", in place" : ""));
            TempFolder f;
            c.prepare(f.path());
            const std::string path = f / "config.ini";
            const WriteOutcome outcome = inPlace ? system.RewriteFileInPlace(path, "new")
                                                 : system.ReplaceWholeFile(path, "new");
            EXPECT_EQ((WriteRecord{outcome, Contents(path), Names(f.path())}),
                      inPlace ? c.rewritten : c.replaced);
            if (fs::exists(f / "shared.ini")) {
                EXPECT_EQ(ReadFileBytes(f / "shared.ini"), "vendor's");
            }
        }
    }
}

TEST_F(PosixSystemTest, WholeFileWritesKeepPermissionsAndInPlaceKeepsTheFileItself) {
    const std::string path = folder / "config.ini";
    WriteFileBytes(path, "old");
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    struct stat before {};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);

    ASSERT_EQ(system.RewriteFileInPlace(path, "in place"), WriteOutcome::Written);
    struct stat after {};
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mode & 07777, 0640u);

    ASSERT_EQ(system.ReplaceWholeFile(path, "replaced"), WriteOutcome::Written);
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
    EXPECT_NE(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_EQ(ReadFileBytes(path), "replaced");
}

TEST_F(PosixSystemTest, AReadOnlyFolderRefusesTheTemporaryFileButNotTheFileItself) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "permissions do not bind the superuser";
    const std::string path = folder / "config.ini";
    WriteFileBytes(path, "old");
    fs::permissions(folder.path(), fs::perms::owner_read | fs::perms::owner_exec);

    EXPECT_EQ(system.ReplaceWholeFile(path, "new"), WriteOutcome::NoTemporaryFile);
    EXPECT_EQ(system.ReplaceWholeFile(folder / "missing.ini", "new"),
              WriteOutcome::NoTemporaryFile);
    EXPECT_EQ(ReadFileBytes(path), "old");
    EXPECT_EQ(system.RewriteFileInPlace(path, "new"), WriteOutcome::Written);
    EXPECT_EQ(ReadFileBytes(path), "new");
    EXPECT_EQ(Names(folder.path()), std::set<std::string>{"config.ini"});
}

TEST_F(PosixSystemTest, AMissingFolderIsNoRefusal) {
    EXPECT_EQ(system.ReplaceWholeFile(folder / "none" / "config.ini", "x"), WriteOutcome::Failed);
}

// The temporary download file's name: hidden, beside the target, fresh for every download:
// ".setup.exe." and twelve hexadecimal digits, then ".part". (Checked by hand: GCC 12 reports
// std::regex's insides as maybe uninitialised under the sanitizers.)
bool IsDownloadName(const std::string& name) {
    const std::string head = ".setup.exe.";
    const std::string tail = ".part";
    if (name.size() != head.size() + 12 + tail.size() || name.rfind(head, 0) != 0 ||
        name.compare(name.size() - tail.size(), tail.size(), tail) != 0)
        return false;
    const std::string digits = name.substr(head.size(), 12);
    return digits.find_first_not_of("0123456789abcdef") == std::string::npos;
}

TEST_F(PosixSystemTest, DownloadFileIsAFreshHiddenFileBesideTheTarget) {
    const std::string target = folder / "setup.exe";
    const auto first = system.CreateDownloadFile(target);
    const auto second = system.CreateDownloadFile(target);
    ASSERT_TRUE(first && second);
    EXPECT_NE(first->path(), second->path());
    for (const auto* file : {first.get(), second.get()}) {
        const fs::path path = file->path();
        EXPECT_EQ(path.parent_path(), folder.path());
        EXPECT_TRUE(IsDownloadName(path.filename().string())) << path;
    }
}

TEST_F(PosixSystemTest, DownloadFileWritesAtTheEndAndAtOffsets) {
    const std::string target = folder / "setup.exe";
    auto file = system.CreateDownloadFile(target);
    ASSERT_TRUE(file);
    EXPECT_TRUE(file->WriteAt(6, "world"));
    EXPECT_TRUE(file->WriteAt(0, "hello "));
    EXPECT_TRUE(file->Append("!"));
    EXPECT_TRUE(file->WriteAt(0, "H"));
    EXPECT_TRUE(file->Flush());
    ASSERT_TRUE(file->Commit());
    EXPECT_FALSE(file->Append("late")) << "a committed file takes no more bytes";
    file.reset();
    EXPECT_EQ(ReadFileBytes(target), "Hello world!");
    EXPECT_EQ(Names(folder.path()), std::set<std::string>{"setup.exe"});
}

// Starting over and reading back work on the bytes written so far, and only on them.
TEST_F(PosixSystemTest, DownloadFileReadsBackAndStartsOver) {
    auto file = system.CreateDownloadFile(folder / "setup.exe");
    ASSERT_TRUE(file);
    ASSERT_TRUE(file->WriteAt(0, "0123456789"));
    EXPECT_EQ(file->Length(), 10u);
    std::string bytes = "left over";
    EXPECT_TRUE(file->ReadAt(3, 4, bytes));
    EXPECT_EQ(bytes, "3456");
    EXPECT_TRUE(file->ReadAt(8, 100, bytes));
    EXPECT_EQ(bytes, "89") << "fewer bytes at the end of the file";
    ASSERT_TRUE(file->Discard());
    EXPECT_EQ(file->Length(), 0u);
    EXPECT_EQ(std::filesystem::file_size(file->path()), 0u);
    ASSERT_TRUE(file->Append("new"));
    ASSERT_TRUE(file->Commit());
    EXPECT_EQ(ReadFileBytes(folder / "setup.exe"), "new");
}

// The name check and the rename are one step: a taken name is reported and left alone, and the
// same file can then be committed under another name.
TEST_F(PosixSystemTest, DownloadFileCommitsWithoutReplacingAnExistingName) {
    const fs::path taken = folder / "Setup.exe";
    WriteFileBytes(taken, "the user's file");
    fs::create_symlink("nowhere", folder / "Setup (1).exe");
    auto file = system.CreateDownloadFile(taken.string());
    ASSERT_TRUE(file);
    ASSERT_TRUE(file->Append("installer"));
    EXPECT_EQ(file->CommitWithoutReplacing(taken.string()), platform::CommitOutcome::NameTaken);
    EXPECT_EQ(file->CommitWithoutReplacing((folder / "Setup (1).exe").string()),
              platform::CommitOutcome::NameTaken)
        << "a dangling link is a taken name too";
    EXPECT_EQ(file->CommitWithoutReplacing((folder / "Setup (2).exe").string()),
              platform::CommitOutcome::Committed);
    file.reset();
    EXPECT_EQ(ReadFileBytes(taken), "the user's file");
    EXPECT_EQ(ReadFileBytes(folder / "Setup (2).exe"), "installer");
    EXPECT_EQ(Names(folder.path()),
              (std::set<std::string>{"Setup.exe", "Setup (1).exe", "Setup (2).exe"}));
}

// Room is set aside without changing the file's size, so writes at the end still land after the
// bytes so far; a length no disk can hold is refused.
TEST_F(PosixSystemTest, DownloadFileReservesRoomWithoutGrowing) {
    const std::string target = folder / "setup.exe";
    auto file = system.CreateDownloadFile(target);
    ASSERT_TRUE(file);
    EXPECT_TRUE(file->Reserve(1 << 20));
    EXPECT_EQ(std::filesystem::file_size(file->path()), 0u);
    EXPECT_TRUE(file->Append("abc"));
    EXPECT_FALSE(file->Reserve(uint64_t{1} << 62)) << "no disk here holds 4 EiB";
    ASSERT_TRUE(file->Commit());
    EXPECT_EQ(ReadFileBytes(target), "abc");
}

TEST_F(PosixSystemTest, DownloadFileRecordsItsOrigin) {
    const std::string target = folder / "setup.exe";
    auto file = system.CreateDownloadFile(target);
    ASSERT_TRUE(file);
    if (!file->RecordOriginUrl("https://example.test/setup.exe"))
        GTEST_SKIP() << "this file system keeps no extended attributes";
    ASSERT_TRUE(file->Commit());
    std::array<char, 256> value{};
    const ssize_t size =
        ::getxattr(target.c_str(), "user.xdg.origin.url", value.data(), value.size());
    ASSERT_GT(size, 0);
    EXPECT_EQ(std::string(value.data(), static_cast<size_t>(size)),
              "https://example.test/setup.exe");
}

// A user's files around the download are theirs: whatever happens to the download, they keep
// their contents and only the target's name may change hands (by the commit).
TEST_F(PosixSystemTest, DownloadFileTouchesNoFileItDidNotMake) {
    struct Case {
        const char* label = nullptr;
        bool commit = false;
        std::optional<std::string> targetAfter;
    };
    const Case cases[] = {
        {"committed", true, "new installer"},
        {"given up", false, "user's setup"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        TempFolder f;
        const std::string target = f / "setup.exe";
        WriteFileBytes(target, "user's setup");
        WriteFileBytes(f / "setup.exe.part", "user's part");
        WriteFileBytes(f / "elsewhere", "user's other file");
        fs::create_symlink(f / "elsewhere", f / ".setup.exe.part");
        {
            auto file = system.CreateDownloadFile(target);
            ASSERT_TRUE(file);
            ASSERT_TRUE(file->Append("new installer"));
            if (c.commit) {
                ASSERT_TRUE(file->Commit());
            }
        }
        EXPECT_EQ(Contents(target), c.targetAfter);
        EXPECT_EQ(ReadFileBytes(f / "setup.exe.part"), "user's part");
        EXPECT_EQ(ReadFileBytes(f / "elsewhere"), "user's other file");
        EXPECT_TRUE(fs::is_symlink(f / ".setup.exe.part"));
        EXPECT_EQ(Names(f.path()), (std::set<std::string>{"setup.exe", "setup.exe.part",
                                                          ".setup.exe.part", "elsewhere"}));
    }
}

TEST_F(PosixSystemTest, AGivenUpDownloadFileDeletesOnlyTheFileItMade) {
    const std::string target = folder / "setup.exe";
    auto file = system.CreateDownloadFile(target);
    ASSERT_TRUE(file);
    // Another program puts its own file under the temporary name meanwhile.
    const std::string path = file->path();
    ASSERT_EQ(::unlink(path.c_str()), 0);
    WriteFileBytes(path, "not the download's");
    file.reset();
    EXPECT_EQ(Contents(path), "not the download's");
}

TEST_F(PosixSystemTest, DownloadFileFailsWhereNoFileCanBeMadeOrPlaced) {
    fs::create_directory(folder / "taken.exe");
    WriteFileBytes(folder / "taken.exe" / "keep", "user's");
    struct Case {
        const char* label;
        std::string target;
        bool created; // false: nothing to write to at all
    };
    const Case cases[] = {
        {"missing folder", folder / "none" / "setup.exe", false},
        {"path ends in a separator", folder.path().string() + "/", false},
        {"empty path", "", false},
        {"the parent folder's name", folder / "..", false},
        // The target's name is a folder: the download can be written but not put in place.
        {"target is a folder", folder / "taken.exe", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        auto file = system.CreateDownloadFile(c.target);
        EXPECT_EQ(file != nullptr, c.created);
        if (file) {
            EXPECT_TRUE(file->Append("x"));
            EXPECT_FALSE(file->Commit());
        }
        file.reset();
        EXPECT_EQ(Names(folder.path()), std::set<std::string>{"taken.exe"});
    }
    EXPECT_EQ(ReadFileBytes(folder / "taken.exe" / "keep"), "user's");
}

// The folder a download goes to may be renamed, or its path given to something else, while the
// download runs. The file is then not put in place (the path no longer leads where the user saw
// it going), and it is removed from the folder it was made in, wherever that folder is now;
// nothing is written where the path leads now.
TEST_F(PosixSystemTest, DownloadFileStaysInTheFolderItWasMadeIn) {
    enum class Commit { Replacing, WithoutReplacing };
    struct Case {
        const char* label;
        // What becomes of the path of the folder `downloads` once the file is written; the
        // folder itself moves to `moved` first, except for "left alone".
        std::function<void(const fs::path& downloads, const fs::path& other)> replace;
        bool moved;
        // What the path leads to afterwards, when it is a folder.
        std::optional<std::set<std::string>> atThePath;
    };
    using Names_ = std::set<std::string>;
    const Case cases[] = {
        {"left alone", [](const fs::path&, const fs::path&) {}, false, Names_{"setup.exe"}},
        {"renamed", [](const fs::path&, const fs::path&) {}, true, std::nullopt},
        {"replaced by another folder",
         [](const fs::path& downloads, const fs::path&) { fs::create_directory(downloads); }, true,
         Names_{}},
        {"replaced by a file",
         [](const fs::path& downloads, const fs::path&) { WriteFileBytes(downloads, "x"); }, true,
         std::nullopt},
        {"replaced by a link to another folder",
         [](const fs::path& downloads, const fs::path& other) {
             fs::create_directory_symlink(other, downloads);
         },
         true, Names_{}},
    };
    // What each folder holds afterwards, and what the commit answered.
    struct Seen {
        bool committed = false;
        std::set<std::string> moved;
        std::optional<std::set<std::string>> atThePath;
        std::set<std::string> other;
        bool operator==(const Seen&) const = default;
    };
    const auto print = [](const Seen& seen) {
        const auto list = [](const std::set<std::string>& names) {
            std::string text;
            for (const auto& name : names)
                text += name + " ";
            return "[" + text + "]";
        };
        return std::string(seen.committed ? "committed" : "not committed") + ", moved " +
               list(seen.moved) + ", at the path " +
               (seen.atThePath ? list(*seen.atThePath) : "no folder") + ", other " +
               list(seen.other);
    };
    for (const Case& c : cases) {
        for (const Commit commit : {Commit::Replacing, Commit::WithoutReplacing}) {
            SCOPED_TRACE(std::string(c.label) +
                         (commit == Commit::Replacing ? ", replacing" : ", without replacing"));
            TempFolder f;
            const fs::path downloads = f / "Downloads";
            const fs::path moved = f / "Moved";
            const fs::path other = f / "Other";
            fs::create_directory(downloads);
            fs::create_directory(other);
            const std::string target = downloads / "setup.exe";
            auto file = system.CreateDownloadFile(target);
            ASSERT_TRUE(file);
            ASSERT_TRUE(file->Append("installer"));
            if (c.moved) {
                fs::rename(downloads, moved);
                c.replace(downloads, other);
            }

            Seen seen;
            seen.committed = commit == Commit::Replacing
                                 ? file->Commit()
                                 : file->CommitWithoutReplacing(target) == CommitOutcome::Committed;
            file.reset();
            if (c.moved)
                seen.moved = Names(moved);
            if (fs::is_directory(downloads))
                seen.atThePath = Names(downloads);
            seen.other = Names(other);

            const Seen expected{!c.moved, {}, c.atThePath, {}};
            EXPECT_EQ(seen, expected) << print(seen);
        }
    }
}

TEST_F(PosixSystemTest, LongNamesStillGetATemporaryFile) {
    // 85 three-byte characters: 255 bytes, the longest name the file system takes.
    std::string name;
    for (int i = 0; i < 85; ++i)
        name += "\xE5\xAE\x89";
    const std::string target = folder / name;
    auto file = system.CreateDownloadFile(target);
    ASSERT_TRUE(file);
    const std::string hidden = fs::path(file->path()).filename().string();
    EXPECT_LE(hidden.size(), 255u);
    // '.', the name cut between characters (never inside one), '.', 12 digits, ".part".
    ASSERT_GT(hidden.size(), 1u + 1 + 12 + 5);
    const std::string kept = hidden.substr(1, hidden.size() - (1 + 1 + 12 + 5));
    EXPECT_FALSE(kept.empty());
    EXPECT_EQ(kept.size() % 3, 0u);
    EXPECT_TRUE(name.starts_with(kept));
    ASSERT_TRUE(file->Append("x"));
    ASSERT_TRUE(file->Commit());
    EXPECT_EQ(ReadFileBytes(target), "x");
}

} // namespace
} // namespace tarvik::platform::posix
