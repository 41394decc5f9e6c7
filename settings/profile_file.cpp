#include "settings/profile_file.h"

#include "common/text_conversion.h"
#include "settings/ini_text.h"

#include <optional>
#include <string_view>

namespace tarvik::settings {
namespace {

constexpr std::string_view kUtf16LeMark = "\xFF\xFE";

// The file's text as UTF-8, and how to give text back in the file's own encoding. The Windows
// profile functions read and write UTF-16LE files that start with their byte-order mark; every
// other file is taken as UTF-8 (a UTF-8 mark stays part of the text, which the INI rules skip).
struct FileText {
    std::string utf8;
    bool utf16 = false;
};

// A lone surrogate, or a last odd byte, becomes U+FFFD, as everywhere text is converted.
std::string Utf8FromUtf16Le(std::string_view bytes) {
    std::u32string code;
    code.reserve(bytes.size() / 2);
    std::optional<char32_t> high;
    for (size_t i = 0; i < bytes.size(); i += 2) {
        if (i + 1 == bytes.size()) {
            code.push_back(U'\uFFFD');
            break;
        }
        const auto unit = static_cast<char32_t>(static_cast<unsigned char>(bytes[i]) |
                                                (static_cast<unsigned char>(bytes[i + 1]) << 8));
        if (high && unit >= 0xDC00 && unit <= 0xDFFF) {
            code.push_back(0x10000 + ((*high - 0xD800) << 10) + (unit - 0xDC00));
            high.reset();
            continue;
        }
        if (high)
            code.push_back(U'\uFFFD');
        high.reset();
        if (unit >= 0xD800 && unit <= 0xDBFF)
            high = unit;
        else
            code.push_back(unit >= 0xDC00 && unit <= 0xDFFF ? U'\uFFFD' : unit);
    }
    if (high)
        code.push_back(U'\uFFFD');
    std::string utf8;
    utf8.reserve(code.size());
    for (const char32_t c : code) {
        if (c < 0x80) {
            utf8.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            utf8.push_back(static_cast<char>(0xC0 | (c >> 6)));
            utf8.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            utf8.push_back(static_cast<char>(0xE0 | (c >> 12)));
            utf8.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            utf8.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            utf8.push_back(static_cast<char>(0xF0 | (c >> 18)));
            utf8.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            utf8.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            utf8.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return utf8;
}

std::string Utf16LeFromUtf8(std::string_view utf8) {
    // Through wide text, which is UTF-32 or UTF-16 by system; either is made UTF-16 here.
    const std::wstring wide = WideFromNarrow(utf8);
    std::string bytes(kUtf16LeMark);
    bytes.reserve(kUtf16LeMark.size() + wide.size() * 2);
    const auto unit = [&bytes](char32_t value) {
        bytes.push_back(static_cast<char>(value & 0xFF));
        bytes.push_back(static_cast<char>((value >> 8) & 0xFF));
    };
    for (const wchar_t c : wide) {
        const auto value = static_cast<char32_t>(c);
        if (value >= 0x10000) {
            unit(0xD800 + ((value - 0x10000) >> 10));
            unit(0xDC00 + ((value - 0x10000) & 0x3FF));
        } else {
            unit(value);
        }
    }
    return bytes;
}

FileText TextOf(std::string bytes) {
    if (std::string_view(bytes).starts_with(kUtf16LeMark))
        return {Utf8FromUtf16Le(std::string_view(bytes).substr(kUtf16LeMark.size())), true};
    return {std::move(bytes), false};
}

std::optional<std::string> ReadValue(platform::System& system, const std::string& file,
                                     std::wstring_view section, std::wstring_view key) {
    platform::FileContents contents = system.ReadWholeFile(file, kMaxSettingsFileBytes);
    if (contents.outcome != platform::ReadOutcome::Read)
        return std::nullopt;
    const FileText text = TextOf(std::move(contents.bytes));
    const auto value = FindIniValue(text.utf8, NarrowFromWide(section), NarrowFromWide(key));
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
    FileText old = TextOf(std::move(contents.bytes));
    std::string text = SetIniValue(old.utf8, narrowSection, narrowKey, narrowValue);
    // The old text is not needed any more; letting it go halves the peak for a large file.
    old.utf8 = {};
    contents = {};
    // Back in the file's own encoding: a UTF-8 line in a UTF-16 file is text no reader of that
    // file can read.
    if (old.utf16)
        text = Utf16LeFromUtf8(text);
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
