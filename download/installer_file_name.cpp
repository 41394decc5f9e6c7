#include "download/installer_file_name.h"

#include "common/text_conversion.h"

#include <algorithm>
#include <optional>
#include <string>

namespace tarvik::download {
namespace {

std::optional<unsigned> HexValue(char c) {
    if (c >= '0' && c <= '9')
        return static_cast<unsigned>(c - '0');
    if (c >= 'a' && c <= 'f')
        return static_cast<unsigned>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F')
        return static_cast<unsigned>(c - 'A' + 10);
    return std::nullopt;
}

// A '%' that does not start a valid escape stays as it is, like browsers keep it.
std::string PercentDecoded(std::string_view text) {
    std::string decoded;
    decoded.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            const auto high = HexValue(text[i + 1]);
            const auto low = HexValue(text[i + 2]);
            if (high && low) {
                decoded.push_back(static_cast<char>(*high * 16 + *low));
                i += 2;
                continue;
            }
        }
        decoded.push_back(text[i]);
    }
    return decoded;
}

// C0 controls, DEL and the C1 controls: none of them belongs in a name a user reads.
bool IsControl(wchar_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

// Characters Windows refuses in a file name; ':' would also name a drive ("D:Setup.exe", relative
// to that drive's current folder) or an alternate stream of a file ("Setup.exe:x").
bool IsForbiddenOnWindows(wchar_t c) {
    return std::wstring_view(L"<>:\"|?*").find(c) != std::wstring_view::npos;
}

// Names Windows keeps for its devices, with any extension and in any case: "nul.exe" opens the
// null device, not a file in the folder.
bool IsDeviceName(std::wstring_view name) {
    std::wstring base(name.substr(0, name.find(L'.')));
    // The device is found also with blanks before the dot ("CON .exe").
    while (!base.empty() && base.back() == L' ')
        base.pop_back();
    for (wchar_t& c : base)
        c = (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c;
    for (const std::wstring_view device : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"}) {
        if (base == device)
            return true;
    }
    // COM and LPT with a digit 1 to 9, or a superscript 1, 2 or 3.
    if (base.size() != 4 || (base.compare(0, 3, L"COM") != 0 && base.compare(0, 3, L"LPT") != 0))
        return false;
    const wchar_t digit = base[3];
    return (digit >= L'1' && digit <= L'9') || digit == L'\u00B9' || digit == L'\u00B2' ||
           digit == L'\u00B3';
}

// Where `text` may be cut at or before `size` without splitting a UTF-8 character.
size_t CharacterBoundary(std::string_view text, size_t size) {
    size = std::min(size, text.size());
    while (size > 0 && size < text.size() &&
           (static_cast<unsigned char>(text[size]) & 0xC0) == 0x80)
        --size;
    return size;
}

} // namespace

std::string NumberedTarget(std::string_view target, unsigned number) {
    const size_t separator = target.find_last_of("/\\");
    const size_t nameStart = separator == std::string_view::npos ? 0 : separator + 1;
    return std::string(target.substr(0, nameStart)) +
           NumberedFileName(target.substr(nameStart), number);
}

std::string NumberedFileName(std::string_view name, unsigned number, size_t longest) {
    const std::string mark = number == 0 ? std::string() : " (" + std::to_string(number) + ")";
    // The extension is what follows the last dot, unless the dot starts the name (".hidden").
    size_t dot = name.rfind('.');
    if (dot == 0 || dot == std::string_view::npos || name.size() - dot > longest / 4)
        dot = name.size();
    const std::string_view extension = name.substr(dot);
    std::string_view stem = name.substr(0, dot);
    const size_t room =
        longest > extension.size() + mark.size() ? longest - extension.size() - mark.size() : 0;
    const size_t kept = CharacterBoundary(stem, room);
    const bool cut = kept < stem.size();
    stem = stem.substr(0, kept);
    // A cut name that ends the file name must not end in a dot or a blank: Windows drops them
    // from a name it is given, and the file saved would not be the one named.
    if (cut && mark.empty() && extension.empty()) {
        while (!stem.empty() && (stem.back() == '.' || stem.back() == ' '))
            stem.remove_suffix(1);
        if (stem.empty())
            return "setup";
    }
    return std::string(stem) + mark + std::string(extension);
}

std::string InstallerFileName(std::string_view url) {
    const size_t slash = url.rfind('/');
    std::string_view segment;
    if (slash != std::string_view::npos)
        segment = url.substr(slash + 1);
    segment = segment.substr(0, segment.find_first_of("?#"));

    // Decoding happens before the separators are replaced, so "%2F" cannot smuggle a path in. The
    // name is checked character by character, as wide text, which also replaces what is no UTF-8.
    std::wstring name = WideFromNarrow(PercentDecoded(segment));
    for (wchar_t& c : name) {
        if (c == L'/' || c == L'\\' || IsControl(c) || IsForbiddenOnWindows(c))
            c = L'_';
    }
    // Windows drops trailing dots and blanks from a name it is given, so that the file would not
    // be the one named; this also leaves nothing of "." and "..".
    while (!name.empty() && (name.back() == L'.' || name.back() == L' '))
        name.pop_back();
    if (name.empty())
        return "setup";
    if (IsDeviceName(name))
        name.insert(0, 1, L'_');
    return NarrowFromWide(name);
}

} // namespace tarvik::download
