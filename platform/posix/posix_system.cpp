#include "platform/posix/posix_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <limits>
#include <random>
#include <utility>

namespace tarvik::platform::posix {
namespace {

class UniqueFd {
public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    ~UniqueFd() { Close(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            Close();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Closing can report a delayed write error, so writers check it.
    bool Close() {
        if (fd_ < 0)
            return true;
        const int result = ::close(fd_);
        fd_ = -1;
        return result == 0;
    }

private:
    int fd_;
};

struct SplitPath {
    std::string folder; // "." for a bare name
    std::string name;   // empty when the path ends in '/'
};

SplitPath Split(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return {".", path};
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

std::string Join(const std::string& folder, const std::string& name) {
    return folder.ends_with('/') ? folder + name : folder + "/" + name;
}

// Twelve random hex digits: with the exclusive create around it, a name nobody else uses.
std::string RandomSuffix() {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::random_device entropy;
    uint64_t bits = (static_cast<uint64_t>(entropy()) << 32) | entropy();
    std::string suffix(12, '0');
    for (char& c : suffix) {
        c = kDigits[bits & 0xF];
        bits >>= 4;
    }
    return suffix;
}

// A hidden name beside `name` that fits the file system's limit for one name: the visible part is
// cut (at a character boundary, so a file manager shows it whole) when the name is long.
std::string HiddenNameBeside(const std::string& name, std::string_view extension) {
    const std::string suffix = "." + RandomSuffix() + std::string(extension);
    const size_t room = NAME_MAX - 1 - suffix.size();
    size_t keep = std::min(name.size(), room);
    while (keep > 0 && keep < name.size() &&
           (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80)
        --keep;
    return "." + name.substr(0, keep) + suffix;
}

// Creates a new file exclusively under a hidden name beside `name` in `folder`; never opens an
// existing file or follows a link. The descriptor is invalid when it could not be made, and
// `error` then holds the reason.
UniqueFd CreateHiddenFile(const SplitPath& where, std::string_view extension, mode_t mode,
                          std::string& path, int& error) {
    for (int attempt = 0; attempt < 16; ++attempt) {
        path = Join(where.folder, HiddenNameBeside(where.name, extension));
        UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
        if (fd.valid())
            return fd;
        error = errno;
        if (error != EEXIST)
            break;
    }
    return UniqueFd();
}

bool WriteAllAt(int fd, uint64_t offset, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written =
            ::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes.remove_prefix(static_cast<size_t>(written));
        offset += static_cast<uint64_t>(written);
    }
    return true;
}

// Makes a rename in `folder` durable. Some file systems cannot sync a folder; the renamed file is
// complete and in place all the same, so this is no reason to report a failure.
void SyncFolder(const std::string& folder) {
    const UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.valid())
        ::fsync(fd.get());
}

// A refusal to create any file in the folder, as opposed to a folder that is not there.
bool IsRefusal(int error) {
    return error == EACCES || error == EPERM || error == EROFS;
}

// The folder a download file lives in, held open from the file's creation: the temporary file is
// created, removed and renamed relative to it, so that whatever happens to the folder's path
// meanwhile (the folder renamed, replaced by another folder, a file or a link) the file never
// leaves the folder it was made in, and is removed from there.
struct DownloadFolder {
    UniqueFd fd;
    std::string path;
    dev_t device = 0;
    ino_t inode = 0;

    // Whether `path` still leads to the folder held open.
    bool StillAtItsPath() const {
        struct stat now {};
        return ::stat(path.c_str(), &now) == 0 && now.st_dev == device && now.st_ino == inode;
    }
};

class PosixDownloadFile final : public DownloadFile {
public:
    PosixDownloadFile(UniqueFd fd, DownloadFolder folder, std::string name, std::string target,
                      dev_t device, ino_t inode)
        : fd_(std::move(fd)), folder_(std::move(folder)), name_(std::move(name)),
          path_(Join(folder_.path, name_)), target_(std::move(target)), device_(device),
          inode_(inode) {}

    ~PosixDownloadFile() override {
        fd_.Close();
        if (committed_)
            return;
        // Someone may have put another file under the temporary name meanwhile; only the file
        // this object created is deleted.
        struct stat now {};
        if (::fstatat(folder_.fd.get(), name_.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
            now.st_dev == device_ && now.st_ino == inode_)
            ::unlinkat(folder_.fd.get(), name_.c_str(), 0);
    }

    const std::string& path() const override { return path_; }

    bool Append(std::string_view bytes) override { return WriteAt(end_, bytes); }

    bool WriteAt(uint64_t offset, std::string_view bytes) override {
        if (!fd_.valid() || !WriteAllAt(fd_.get(), offset, bytes))
            return false;
        end_ = std::max(end_, offset + bytes.size());
        // Commit has to make the whole file durable before the rename. Started only there, the
        // disk writes of a large download all come after its last byte (a 1 GiB file took
        // longer to sync than to download on loopback); started as the bytes come, the disk
        // works while the network does, and the final sync finds little left to do. The call
        // only starts writing back pages already dirty; it does not wait for them.
        unsynced_ += bytes.size();
        if (unsynced_ >= kWriteBackEvery) {
            unsynced_ = 0;
            ::sync_file_range(fd_.get(), 0, 0, SYNC_FILE_RANGE_WRITE);
        }
        return true;
    }

    uint64_t Length() const override { return end_; }

    bool Discard() override {
        if (!fd_.valid() || ::ftruncate(fd_.get(), 0) != 0)
            return false;
        end_ = 0;
        return true;
    }

    bool ReadAt(uint64_t offset, size_t size, std::string& bytes) override {
        bytes.resize(size);
        size_t done = 0;
        while (fd_.valid() && done < size) {
            const ssize_t got = ::pread(fd_.get(), bytes.data() + done, size - done,
                                        static_cast<off_t>(offset + done));
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                return false;
            if (got == 0)
                break;
            done += static_cast<size_t>(got);
        }
        bytes.resize(done);
        return fd_.valid();
    }

    bool Reserve(uint64_t bytes) override {
        if (!fd_.valid())
            return false;
        if (bytes == 0 || bytes > static_cast<uint64_t>(std::numeric_limits<off_t>::max()))
            return bytes == 0;
        // Keeping the size lets a short transfer still show as short, and writes at the end still
        // land where the bytes so far end.
        int result = 0;
        do {
            result = ::fallocate(fd_.get(), FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(bytes));
        } while (result != 0 && errno == EINTR);
        return result == 0 || (errno != ENOSPC && errno != EFBIG && errno != EDQUOT);
    }
    bool Flush() override { return fd_.valid() && ::fsync(fd_.get()) == 0; }

    bool RecordOriginUrl(std::string_view url) override {
        return fd_.valid() &&
               ::fsetxattr(fd_.get(), "user.xdg.origin.url", url.data(), url.size(), 0) == 0;
    }

    PublisherCheck CheckPublisher(std::string_view, std::string& reason) override {
        reason = "code signatures are checked on Windows only";
        return PublisherCheck::Unavailable;
    }

    bool Commit() override {
        const std::string name = Split(target_).name;
        if (!MakeDurable() || !folder_.StillAtItsPath())
            return false;
        if (::renameat(folder_.fd.get(), name_.c_str(), folder_.fd.get(), name.c_str()) != 0)
            return false;
        committed_ = true;
        SyncFolderEntry();
        return true;
    }

    CommitOutcome CommitWithoutReplacing(const std::string& targetPath) override {
        const SplitPath where = Split(targetPath);
        if (committed_ || where.name.empty() || !MakeDurable() || !folder_.StillAtItsPath() ||
            !SameFolder(where.folder))
            return CommitOutcome::Failed;
        const int folder = folder_.fd.get();
        int result =
            ::renameat2(folder, name_.c_str(), folder, where.name.c_str(), RENAME_NOREPLACE);
        if (result != 0 && (errno == EINVAL || errno == ENOSYS)) {
            // A file system without the flag: a hard link is made only where no name exists,
            // and then the temporary name goes.
            result = ::linkat(folder, name_.c_str(), folder, where.name.c_str(), 0);
            if (result == 0)
                ::unlinkat(folder, name_.c_str(), 0);
        }
        if (result != 0)
            return errno == EEXIST ? CommitOutcome::NameTaken : CommitOutcome::Failed;
        committed_ = true;
        SyncFolderEntry();
        return CommitOutcome::Committed;
    }

private:
    UniqueFd fd_;
    const DownloadFolder folder_;
    // The temporary file's name in the folder.
    const std::string name_;
    const std::string path_;
    const std::string target_;
    const dev_t device_;
    const ino_t inode_;
    static constexpr uint64_t kWriteBackEvery = 16 * 1024 * 1024;
    uint64_t end_ = 0;
    uint64_t unsynced_ = 0;
    bool committed_ = false;
    bool durable_ = false;

    // Without the sync a power loss soon after the rename can leave the target's name on an
    // empty or partly written file, which the user would then start as the installer. Done once;
    // no write is taken afterwards.
    bool MakeDurable() {
        if (durable_)
            return true;
        if (!fd_.valid())
            return false;
        const bool synced = Flush();
        const bool closed = fd_.Close();
        durable_ = synced && closed;
        return durable_;
    }

    // Whether `folder` (a path) is the folder the file was made in.
    bool SameFolder(const std::string& folder) const {
        struct stat info {};
        return ::stat(folder.c_str(), &info) == 0 && info.st_dev == folder_.device &&
               info.st_ino == folder_.inode;
    }

    // Makes the rename durable. A folder opened without read permission, and some file systems,
    // cannot be synced; the renamed file is complete and in place all the same, so this is no
    // reason to report a failure.
    void SyncFolderEntry() const { ::fsync(folder_.fd.get()); }
};

} // namespace

std::string PosixSystem::ExecutablePath() {
    std::string path(PATH_MAX, '\0');
    for (;;) {
        const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
        if (length < 0)
            return {};
        if (static_cast<size_t>(length) < path.size()) {
            path.resize(static_cast<size_t>(length));
            return path;
        }
        path.resize(path.size() * 2);
    }
}

std::string PosixSystem::ExecutableFolder() {
    const std::string path = ExecutablePath();
    if (path.empty() || path.front() != '/')
        return {};
    return Split(path).folder;
}

SystemName PosixSystem::Name() {
    utsname system{};
    if (::uname(&system) != 0)
        return {"Linux", "unknown"};
    return {system.sysname, system.machine};
}

bool PosixSystem::IsRegularFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

FileContents PosixSystem::ReadWholeFile(const std::string& path, size_t maxBytes) {
    FileContents result;
    // Non-blocking, so that a named pipe in the file's place cannot hang start-up; it is then
    // refused as no regular file.
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid()) {
        result.outcome =
            (errno == ENOENT || errno == ENOTDIR) ? ReadOutcome::Missing : ReadOutcome::Failed;
        return result;
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode))
        return result;
    const size_t announced = static_cast<size_t>(info.st_size);
    if (announced > maxBytes) {
        result.outcome = ReadOutcome::TooLarge;
        return result;
    }
    std::string bytes(announced, '\0');
    size_t filled = 0;
    for (;;) {
        ssize_t got = 0;
        if (filled < bytes.size()) {
            got = ::read(fd.get(), bytes.data() + filled, bytes.size() - filled);
        } else {
            // Past the announced size (a file that grows, or one of the kernel's, which announce
            // none): read on in small pieces, so that reaching the end costs no extra buffer.
            char piece[8192];
            got = ::read(fd.get(), piece, sizeof piece);
            if (got > 0) {
                if (filled + static_cast<size_t>(got) > maxBytes) {
                    result.outcome = ReadOutcome::TooLarge;
                    return result;
                }
                bytes.append(piece, static_cast<size_t>(got));
            }
        }
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return result;
        if (got == 0)
            break;
        filled += static_cast<size_t>(got);
    }
    bytes.resize(filled);
    result.outcome = ReadOutcome::Read;
    result.bytes = std::move(bytes);
    return result;
}

WriteOutcome PosixSystem::ReplaceWholeFile(const std::string& path, std::string_view contents) {
    const SplitPath where = Split(path);
    if (where.name.empty())
        return WriteOutcome::NotARegularFile;
    struct stat existing {};
    const bool exists = ::lstat(path.c_str(), &existing) == 0;
    if (!exists && errno != ENOENT)
        return WriteOutcome::Failed;
    if (exists && !S_ISREG(existing.st_mode))
        return WriteOutcome::NotARegularFile;

    std::string temporaryPath;
    int error = 0;
    // 0666 lets the process umask decide a new file's permissions, as for any created file.
    UniqueFd fd = CreateHiddenFile(where, ".tmp", 0666, temporaryPath, error);
    if (!fd.valid())
        return IsRefusal(error) ? WriteOutcome::NoTemporaryFile : WriteOutcome::Failed;

    const auto failed = [&] {
        fd.Close();
        ::unlink(temporaryPath.c_str());
        return WriteOutcome::Failed;
    };
    if (exists) {
        // Ownership can only be kept by a privileged process; losing it is not worth failing for.
        [[maybe_unused]] const int owned = ::fchown(fd.get(), existing.st_uid, existing.st_gid);
        if (::fchmod(fd.get(), existing.st_mode & 07777) != 0)
            return failed();
    }
    if (!WriteAllAt(fd.get(), 0, contents) || ::fsync(fd.get()) != 0 || !fd.Close())
        return failed();
    if (::rename(temporaryPath.c_str(), path.c_str()) != 0)
        return failed();
    SyncFolder(where.folder);
    return WriteOutcome::Written;
}

WriteOutcome PosixSystem::RewriteFileInPlace(const std::string& path, std::string_view contents) {
    // O_NONBLOCK only keeps a named pipe from blocking the open; regular files ignore it.
    const UniqueFd fd(::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid())
        return (errno == ELOOP || errno == EISDIR || errno == ENXIO) ? WriteOutcome::NotARegularFile
                                                                     : WriteOutcome::Failed;
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0)
        return WriteOutcome::Failed;
    if (!S_ISREG(info.st_mode))
        return WriteOutcome::NotARegularFile;
    // Reserving the blocks without changing the size keeps the file as it was when the disk is
    // full. A file system that cannot reserve gets the bytes without the reservation.
    if (!contents.empty() &&
        ::fallocate(fd.get(), FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(contents.size())) != 0 &&
        errno != EOPNOTSUPP && errno != ENOSYS)
        return WriteOutcome::Failed;
    if (!WriteAllAt(fd.get(), 0, contents) ||
        ::ftruncate(fd.get(), static_cast<off_t>(contents.size())) != 0 || ::fsync(fd.get()) != 0)
        return WriteOutcome::Failed;
    return WriteOutcome::Written;
}

std::unique_ptr<DownloadFile> PosixSystem::CreateDownloadFile(const std::string& targetPath) {
    const SplitPath where = Split(targetPath);
    if (where.name.empty() || where.name == "." || where.name == "..")
        return nullptr;
    DownloadFolder folder;
    folder.path = where.folder;
    // A folder the user may write into but not list can still be held, without read access.
    folder.fd = UniqueFd(::open(where.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.fd.valid() && errno == EACCES)
        folder.fd = UniqueFd(::open(where.folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    struct stat folderInfo {};
    if (!folder.fd.valid() || ::fstat(folder.fd.get(), &folderInfo) != 0)
        return nullptr;
    folder.device = folderInfo.st_dev;
    folder.inode = folderInfo.st_ino;
    // O_EXCL and O_NOFOLLOW: nothing that already has the name, a planted link included, is ever
    // opened, truncated or later deleted. O_CLOEXEC: the installer started later must not inherit
    // the descriptor.
    for (int attempt = 0; attempt < 16; ++attempt) {
        std::string name = HiddenNameBeside(where.name, ".part");
        UniqueFd fd(::openat(folder.fd.get(), name.c_str(),
                             O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
        if (!fd.valid()) {
            if (errno == EEXIST)
                continue;
            return nullptr;
        }
        struct stat info {};
        if (::fstat(fd.get(), &info) != 0) {
            fd.Close();
            ::unlinkat(folder.fd.get(), name.c_str(), 0);
            return nullptr;
        }
        return std::make_unique<PosixDownloadFile>(std::move(fd), std::move(folder),
                                                   std::move(name), targetPath, info.st_dev,
                                                   info.st_ino);
    }
    return nullptr;
}

} // namespace tarvik::platform::posix
