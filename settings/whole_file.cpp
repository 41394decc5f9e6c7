#include "settings/whole_file.h"

#include <cerrno>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace tarvik::settings {
namespace {

class UniqueFd {
public:
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { Close(); }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Closing can report a delayed write error, so the writer checks it.
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

// Removes the temporary file unless it was renamed into place.
class TemporaryPath {
public:
    explicit TemporaryPath(std::filesystem::path path) : path_(std::move(path)) {}
    ~TemporaryPath() {
        if (!path_.empty())
            ::unlink(path_.c_str());
    }
    TemporaryPath(const TemporaryPath&) = delete;
    TemporaryPath& operator=(const TemporaryPath&) = delete;

    const std::filesystem::path& path() const { return path_; }
    void Release() { path_.clear(); }

private:
    std::filesystem::path path_;
};

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes.remove_prefix(static_cast<size_t>(written));
    }
    return true;
}

// The file a write really goes to: the target of a symbolic link, so the link itself survives.
std::filesystem::path ResolveTarget(const std::filesystem::path& file) {
    std::error_code error;
    if (std::filesystem::is_symlink(std::filesystem::symlink_status(file, error))) {
        const auto target = std::filesystem::weakly_canonical(file, error);
        if (!error)
            return target;
    }
    return file;
}

// A name nobody else uses in the same folder; the caller creates it exclusively.
std::filesystem::path TemporaryNameBeside(const std::filesystem::path& file,
                                          std::mt19937_64& random) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string suffix(12, '0');
    std::uniform_int_distribution<int> digit(0, 15);
    for (char& c : suffix)
        c = kDigits[digit(random)];
    return file.parent_path() / ("." + file.filename().string() + "." + suffix + ".tmp");
}

} // namespace

FileBytes ReadWholeFile(const std::filesystem::path& file) {
    FileBytes result;
    UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) {
        result.outcome =
            (errno == ENOENT || errno == ENOTDIR) ? ReadOutcome::Missing : ReadOutcome::Failed;
        return result;
    }
    char buffer[8192];
    for (;;) {
        const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return result;
        if (got == 0)
            break;
        if (result.bytes.size() + static_cast<size_t>(got) > kMaxSettingsFileBytes)
            return {};
        result.bytes.append(buffer, static_cast<size_t>(got));
    }
    result.outcome = ReadOutcome::Read;
    return result;
}

bool ReplaceWholeFile(const std::filesystem::path& file, std::string_view contents) {
    const std::filesystem::path target = ResolveTarget(file);

    struct stat existing {};
    const bool exists = ::stat(target.c_str(), &existing) == 0;
    if (exists && !S_ISREG(existing.st_mode))
        return false;

    std::random_device entropy;
    std::mt19937_64 random(entropy());
    std::filesystem::path temporaryName;
    int rawFd = -1;
    for (int attempt = 0; attempt < 16 && rawFd < 0; ++attempt) {
        temporaryName = TemporaryNameBeside(target, random);
        // 0666 lets the process umask decide a new file's permissions, as for any created file.
        rawFd = ::open(temporaryName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (rawFd < 0 && errno != EEXIST)
            return false;
    }
    if (rawFd < 0)
        return false;
    UniqueFd fd(rawFd);
    TemporaryPath temporary(temporaryName);

    if (exists) {
        // Ownership can only be kept by a privileged process; losing it is not worth failing for.
        [[maybe_unused]] const int owned = ::fchown(fd.get(), existing.st_uid, existing.st_gid);
        if (::fchmod(fd.get(), existing.st_mode & 07777) != 0)
            return false;
    }
    if (!WriteAll(fd.get(), contents) || ::fsync(fd.get()) != 0 || !fd.Close())
        return false;
    if (::rename(temporary.path().c_str(), target.c_str()) != 0)
        return false;
    temporary.Release();
    return true;
}

} // namespace tarvik::settings
