#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tarvik::settings {

// Small settings files are read and written whole. Files above this size are refused rather than
// loaded, so a stray huge file next to the executable cannot exhaust memory.
inline constexpr size_t kMaxSettingsFileBytes = 16 * 1024 * 1024;

enum class ReadOutcome { Read, Missing, Failed };

struct FileBytes {
    ReadOutcome outcome = ReadOutcome::Failed;
    std::string bytes; // only meaningful when outcome is Read
};

FileBytes ReadWholeFile(const std::filesystem::path& file);

// Replaces the file's contents so that readers see either the old or the new contents, never a
// mix: the new bytes go to a temporary file in the same folder, which is then renamed over the
// file. An existing file keeps its permission bits (and, where allowed, its owner); a symbolic
// link is followed, so the link stays and its target is replaced. False when anything failed; the
// old file is then unchanged and no temporary file is left behind.
bool ReplaceWholeFile(const std::filesystem::path& file, std::string_view contents);

} // namespace tarvik::settings
