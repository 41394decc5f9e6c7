#include "settings/profile_file.h"

#include "common/text_conversion.h"
#include "settings/ini_text.h"

#include <optional>

namespace tarvik::settings {
namespace {

std::optional<std::string> ReadValue(platform::System& system, const std::string& file,
                                     std::wstring_view section, std::wstring_view key) {
    const platform::FileContents contents = system.ReadWholeFile(file, kMaxSettingsFileBytes);
    if (contents.outcome != platform::ReadOutcome::Read)
        return std::nullopt;
    const auto value = FindIniValue(contents.bytes, NarrowFromWide(section), NarrowFromWide(key));
    if (!value)
        return std::nullopt;
    return std::string(*value);
}

} // namespace

uint32_t ReadProfileInt(platform::System& system, const std::string& file,
                        std::wstring_view section, std::wstring_view key, uint32_t defaultValue) {
    const auto value = ReadValue(system, file, section, key);
    if (!value)
        return defaultValue;
    // Digits beyond 32 bits wrap around, as the 32-bit reads that distributors' files were made
    // for did; the value is never rejected for its size.
    uint32_t number = 0;
    for (const char c : *value) {
        if (c < '0' || c > '9')
            break;
        number = number * 10u + static_cast<uint32_t>(c - '0');
    }
    return number;
}

std::wstring ReadProfileString(platform::System& system, const std::string& file,
                               std::wstring_view section, std::wstring_view key,
                               std::wstring_view defaultValue, size_t maxChars) {
    const auto value = ReadValue(system, file, section, key);
    std::wstring text = value ? WideFromNarrow(*value) : std::wstring(defaultValue);
    if (text.size() > maxChars)
        text.resize(maxChars);
    return text;
}

bool WriteProfileValue(platform::System& system, const std::string& file, std::wstring_view section,
                       std::wstring_view key, std::wstring_view value) {
    const std::string narrowSection = NarrowFromWide(section);
    const std::string narrowKey = NarrowFromWide(key);
    const std::string narrowValue = NarrowFromWide(value);
    if (!IsWritableIniEntry(narrowSection, narrowKey, narrowValue))
        return false;

    platform::FileContents contents = system.ReadWholeFile(file, kMaxSettingsFileBytes);
    if (contents.outcome != platform::ReadOutcome::Read &&
        contents.outcome != platform::ReadOutcome::Missing)
        return false;
    const bool existed = contents.outcome == platform::ReadOutcome::Read;
    const std::string text = SetIniValue(contents.bytes, narrowSection, narrowKey, narrowValue);
    // The old text is not needed any more; letting it go halves the peak for a large file.
    contents = {};
    if (text.size() > kMaxSettingsFileBytes)
        return false;

    platform::WriteOutcome outcome = system.ReplaceWholeFile(file, text);
    // A folder that refuses new files (a vendor's read-only install folder with a writable
    // config.ini) would otherwise never keep the value: the identifier would be made anew on every
    // start, and each start would count as a new installation.
    if (outcome == platform::WriteOutcome::NoTemporaryFile && existed)
        outcome = system.RewriteFileInPlace(file, text);
    return outcome == platform::WriteOutcome::Written;
}

} // namespace tarvik::settings
