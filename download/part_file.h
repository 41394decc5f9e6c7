#pragma once

#include <cstdio>
#include <filesystem>
#include <memory>

namespace tarvik::download {

// The temporary file beside the target ("<target>.part") that receives the body. Only Commit
// puts it in the target's place; in every other case the destructor deletes it, so the target's
// name never holds a partial file and an existing file there stays untouched.
class PartFile {
public:
    explicit PartFile(std::filesystem::path target);
    ~PartFile();
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;

    // False when the temporary file could not be created.
    bool is_open() const { return file_ != nullptr; }
    // How many bytes were really accepted; fewer than `size` means the write failed.
    size_t Write(const char* data, size_t size);
    // The open file's descriptor, for attributes set before the file is put in place.
    int descriptor() const;
    // Flushes and closes the file, then renames it over the target. False on any failure (the
    // temporary file is deleted then).
    bool Commit();

private:
    struct FileClose {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };

    std::filesystem::path target_;
    std::filesystem::path partPath_;
    std::unique_ptr<std::FILE, FileClose> file_;
    // Only a file this object made is ever deleted.
    bool created_ = false;
    bool committed_ = false;
};

} // namespace tarvik::download
