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

// Where `text` may be cut at or before `size` without splitting a UTF-8 character.
size_t CharacterBoundary(std::string_view text, size_t size) {
    size = std::min(size, text.size());
    while (size > 0 && size < text.size() &&
           (static_cast<unsigned char>(text[size]) & 0xC0) == 0x80)
        --size;
    return size;
}

} // namespace

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
    stem = stem.substr(0, CharacterBoundary(stem, room));
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
        if (c == L'/' || c == L'\\' || IsControl(c))
            c = L'_';
    }
    if (name.empty() || name == L"." || name == L"..")
        return "setup";
    return NarrowFromWide(name);
}

} // namespace tarvik::download
