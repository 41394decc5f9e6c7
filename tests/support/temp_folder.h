#pragma once

#include <cstdlib>
#include <filesystem>
#ifdef _WIN32
#include "common/text_conversion.h"

#include <random>
#endif
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>

namespace tarvik::testing {

// A fresh folder under the system's temporary folder, removed with everything in it at the end.
#ifdef _WIN32
// On Windows a path does not turn into the seam's UTF-8 string by itself (its native string is
// UTF-16), so the folder's paths do, as they do on Linux.
struct TestPath : std::filesystem::path {
    TestPath(std::filesystem::path path) : std::filesystem::path(std::move(path)) {}
    operator std::string() const { return Utf8FromPath(*this); }
};
#else
using TestPath = std::filesystem::path;
#endif

class TempFolder {
public:
#ifdef _WIN32
    TempFolder() {
        std::random_device entropy;
        for (int attempt = 0; attempt < 16 && path_.empty(); ++attempt) {
            const std::filesystem::path candidate =
                std::filesystem::temp_directory_path() /
                ("tarvik-" + std::to_string(entropy()) + std::to_string(entropy()));
            if (std::filesystem::create_directory(candidate))
                path_ = candidate;
        }
        if (path_.empty())
            throw std::runtime_error("no temporary folder");
    }
#else
    TempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tarvik-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("no temporary folder");
        path_ = pattern;
    }
#endif
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const {
        return path_;
    }
#ifdef _WIN32
    TestPath operator/(const std::string& name) const {
        return path_ / PathFromUtf8(name);
    }
#else
    TestPath operator/(const std::string& name) const {
        return path_ / name;
    }
#endif

private:
    std::filesystem::path path_;
};

inline void WriteFileBytes(const std::filesystem::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << bytes;
}

inline std::string ReadFileBytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The file's bytes, or nothing when there is no file there (also when a folder has the name), for
// checks that a file was left alone or never made.
inline std::optional<std::string> ReadFileIfPresent(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in || std::filesystem::is_directory(file))
        return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace tarvik::testing
