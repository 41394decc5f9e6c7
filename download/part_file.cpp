#include "download/part_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <system_error>

namespace tarvik::download {

PartFile::PartFile(std::filesystem::path target)
    : target_(std::move(target)), partPath_(target_.native() + ".part") {
    // O_NOFOLLOW: a planted symlink named like the temporary file must not redirect the body
    // elsewhere. O_CLOEXEC: the installer started later must not inherit the descriptor.
    const int fd =
        ::open(partPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    created_ = true;
    file_.reset(::fdopen(fd, "wb"));
    if (!file_)
        ::close(fd);
    else // the library hands over large chunks: written at once, they need no second copy
        std::setvbuf(file_.get(), nullptr, _IONBF, 0);
}

PartFile::~PartFile() {
    file_.reset();
    if (created_ && !committed_) {
        std::error_code ignored;
        std::filesystem::remove(partPath_, ignored);
    }
}

size_t PartFile::Write(const char* data, size_t size) {
    if (!file_)
        return 0;
    return std::fwrite(data, 1, size, file_.get());
}

int PartFile::descriptor() const {
    return file_ ? ::fileno(file_.get()) : -1;
}

bool PartFile::Commit() {
    if (!file_)
        return false;
    const bool flushed = std::fflush(file_.get()) == 0 && !std::ferror(file_.get());
    // fclose reports errors of its own (a delayed write failure), so it is checked apart from
    // the handle's owner.
    const bool closed = std::fclose(file_.release()) == 0;
    if (!flushed || !closed)
        return false;
    std::error_code error;
    std::filesystem::rename(partPath_, target_, error);
    if (error)
        return false;
    committed_ = true;
    return true;
}

} // namespace tarvik::download
