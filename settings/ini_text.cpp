#include "settings/ini_text.h"

#include <algorithm>

namespace tarvik::settings {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

std::string_view Trim(std::string_view text) {
    constexpr std::string_view kBlank = " \t\r\v\f";
    const auto first = text.find_first_not_of(kBlank);
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(kBlank);
    return text.substr(first, last - first + 1);
}

// Distributors' files quote values as the Windows profile reader takes them: one pair of the
// same quote around the whole value is dropped (api_url="https://..."), and a value that only
// starts or only ends with a quote keeps it.
std::string_view Unquoted(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) {
    const auto lower = [](char c) {
        return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return lower(x) == lower(y); });
}

enum class LineKind { Other, Section, Key };

struct Line {
    size_t begin = 0;      // offset of the line's first byte
    size_t contentEnd = 0; // offset just past the content, before "\r\n" or "\n"
    size_t next = 0;       // offset of the following line
    LineKind kind = LineKind::Other;
    std::string_view name;  // section or key name, trimmed
    std::string_view value; // key value, trimmed
};

Line ClassifyLine(std::string_view text, size_t begin) {
    Line line;
    line.begin = begin;
    const auto newline = text.find('\n', begin);
    line.next = newline == std::string_view::npos ? text.size() : newline + 1;
    line.contentEnd = newline == std::string_view::npos ? text.size() : newline;
    if (line.contentEnd > begin && text[line.contentEnd - 1] == '\r')
        --line.contentEnd;

    const std::string_view content = Trim(text.substr(begin, line.contentEnd - begin));
    if (content.empty() || content.front() == ';')
        return line;
    if (content.front() == '[') {
        const std::string_view inner = content.substr(1);
        line.kind = LineKind::Section;
        line.name = Trim(inner.substr(0, inner.find(']')));
        return line;
    }
    const auto equals = content.find('=');
    if (equals == std::string_view::npos)
        return line;
    line.name = Trim(content.substr(0, equals));
    if (line.name.empty())
        return line;
    line.kind = LineKind::Key;
    line.value = Trim(content.substr(equals + 1));
    return line;
}

// Walks the text line by line, keeping no table of lines: every operation is one pass over the
// text, with memory for one line beside the text itself. (A table cost some 64 bytes a line, a
// gigabyte for a 16 MiB file of empty lines, and was rebuilt for every read and write.)
class LineCursor {
public:
    explicit LineCursor(std::string_view text)
        : text_(text), offset_(text.starts_with(kByteOrderMark) ? kByteOrderMark.size() : 0) {}

    bool Next(Line& line) {
        if (offset_ >= text_.size())
            return false;
        line = ClassifyLine(text_, offset_);
        offset_ = line.next;
        return true;
    }

private:
    std::string_view text_;
    size_t offset_;
};

bool IsSectionNamed(const Line& line, std::string_view section) {
    return line.kind == LineKind::Section && EqualIgnoringAsciiCase(line.name, section);
}

bool IsKeyNamed(const Line& line, std::string_view key) {
    return line.kind == LineKind::Key && EqualIgnoringAsciiCase(line.name, key);
}

std::string_view LineEndingOf(std::string_view text) {
    const auto newline = text.find('\n');
    if (newline != std::string_view::npos && newline > 0 && text[newline - 1] == '\r')
        return "\r\n";
    return "\n";
}

} // namespace

std::optional<std::string_view> FindIniValue(std::string_view text, std::string_view section,
                                             std::string_view key) {
    LineCursor cursor(text);
    Line line;
    bool inSection = false;
    while (cursor.Next(line)) {
        if (line.kind == LineKind::Section) {
            if (inSection)
                return std::nullopt; // only the first section of that name counts
            inSection = IsSectionNamed(line, section);
        } else if (inSection && IsKeyNamed(line, key)) {
            return Unquoted(line.value);
        }
    }
    return std::nullopt;
}

std::string SetIniValue(std::string_view text, std::string_view section, std::string_view key,
                        std::string_view value) {
    const std::string_view eol = LineEndingOf(text);
    std::string result;
    result.reserve(text.size() + section.size() + key.size() + value.size() + 3 * eol.size() + 3);

    // One pass: the first section of that name, and in it the key's line or the last key line
    // (the header when it has none), after which a new key line goes.
    LineCursor cursor(text);
    Line line;
    std::optional<Line> after;
    while (cursor.Next(line)) {
        if (line.kind == LineKind::Section) {
            if (after)
                break;
            if (IsSectionNamed(line, section))
                after = line;
        } else if (after && IsKeyNamed(line, key)) {
            result.append(text.substr(0, line.begin));
            result.append(key).append("=").append(value);
            result.append(text.substr(line.contentEnd));
            return result;
        } else if (after && line.kind == LineKind::Key) {
            after = line;
        }
    }

    if (!after) {
        result.append(text);
        if (!result.empty() && !result.ends_with('\n'))
            result.append(eol);
        result.append("[").append(section).append("]").append(eol);
        result.append(key).append("=").append(value).append(eol);
        return result;
    }
    // Looking for the '\n' itself: a last line may end in a lone '\r', which breaks no line.
    const bool endsWithNewline = after->next > 0 && text[after->next - 1] == '\n';
    result.append(text.substr(0, after->next));
    if (!endsWithNewline)
        result.append(eol);
    result.append(key).append("=").append(value).append(eol);
    result.append(text.substr(after->next));
    return result;
}

bool IsWritableIniEntry(std::string_view section, std::string_view key, std::string_view value) {
    const auto hasLineBreak = [](std::string_view s) {
        return s.find_first_of("\r\n") != std::string_view::npos;
    };
    // A later read trims names, so only names without surrounding blanks can be found again.
    const auto isTrimmedName = [](std::string_view name) {
        return !name.empty() && Trim(name) == name;
    };
    const bool sectionOk = isTrimmedName(section) && !hasLineBreak(section) &&
                           section.find(']') == std::string_view::npos;
    // A key starting with ';' or '[' would read back as a comment or a section header.
    const bool keyOk = isTrimmedName(key) && !hasLineBreak(key) &&
                       key.find('=') == std::string_view::npos && key.front() != ';' &&
                       key.front() != '[';
    // What a read would change (its blanks trimmed, its quotes dropped) is no value to store.
    const bool valueOk = !hasLineBreak(value) && Unquoted(Trim(value)) == value;
    return sectionOk && keyOk && valueOk;
}

} // namespace tarvik::settings
