#include "settings/profile_file.h"

#include "common/text_conversion.h"
#include "settings/ini_text.h"
#include "settings/whole_file.h"

namespace tarvik::settings {
namespace {

std::optional<std::string> ReadValue(const std::filesystem::path& file, std::wstring_view section,
                                     std::wstring_view key) {
    const FileBytes contents = ReadWholeFile(file);
    if (contents.outcome != ReadOutcome::Read)
        return std::nullopt;
    const auto value = FindIniValue(contents.bytes, NarrowFromWide(section), NarrowFromWide(key));
    if (!value)
        return std::nullopt;
    return std::string(*value);
}

} // namespace

uint32_t ReadProfileInt(const std::filesystem::path& file, std::wstring_view section,
                        std::wstring_view key, uint32_t defaultValue) {
    const auto value = ReadValue(file, section, key);
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

std::wstring ReadProfileString(const std::filesystem::path& file, std::wstring_view section,
                               std::wstring_view key, std::wstring_view defaultValue,
                               size_t maxChars) {
    const auto value = ReadValue(file, section, key);
    std::wstring text = value ? WideFromNarrow(*value) : std::wstring(defaultValue);
    if (text.size() > maxChars)
        text.resize(maxChars);
    return text;
}

bool WriteProfileString(const std::filesystem::path& file, std::wstring_view section,
                        std::wstring_view key, std::wstring_view value) {
    const std::string narrowSection = NarrowFromWide(section);
    const std::string narrowKey = NarrowFromWide(key);
    const std::string narrowValue = NarrowFromWide(value);
    if (!IsWritableIniEntry(narrowSection, narrowKey, narrowValue))
        return false;

    FileBytes contents = ReadWholeFile(file);
    if (contents.outcome == ReadOutcome::Failed)
        return false;
    if (contents.outcome == ReadOutcome::Missing)
        contents.bytes.clear();
    return ReplaceWholeFile(file,
                            SetIniValue(contents.bytes, narrowSection, narrowKey, narrowValue));
}

} // namespace tarvik::settings
