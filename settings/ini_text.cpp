#include "settings/ini_text.h"

#include <algorithm>
#include <vector>

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

std::vector<Line> SplitLines(std::string_view text) {
    std::vector<Line> lines;
    size_t offset = text.starts_with(kByteOrderMark) ? kByteOrderMark.size() : 0;
    while (offset < text.size()) {
        lines.push_back(ClassifyLine(text, offset));
        offset = lines.back().next;
    }
    return lines;
}

// Where the first section of that name lies: the index of its header and one past its last line.
struct SectionSpan {
    size_t header = 0;
    size_t end = 0;
};

std::optional<SectionSpan> FindSection(const std::vector<Line>& lines, std::string_view section) {
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].kind != LineKind::Section || !EqualIgnoringAsciiCase(lines[i].name, section))
            continue;
        size_t end = i + 1;
        while (end < lines.size() && lines[end].kind != LineKind::Section)
            ++end;
        return SectionSpan{i, end};
    }
    return std::nullopt;
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
    const std::vector<Line> lines = SplitLines(text);
    const auto span = FindSection(lines, section);
    if (!span)
        return std::nullopt;
    for (size_t i = span->header + 1; i < span->end; ++i) {
        if (lines[i].kind == LineKind::Key && EqualIgnoringAsciiCase(lines[i].name, key))
            return lines[i].value;
    }
    return std::nullopt;
}

std::string SetIniValue(std::string_view text, std::string_view section, std::string_view key,
                        std::string_view value) {
    const std::string_view eol = LineEndingOf(text);
    std::string entry;
    entry.append(key).append("=").append(value);

    const std::vector<Line> lines = SplitLines(text);
    const auto span = FindSection(lines, section);
    std::string result;
    if (!span) {
        result.assign(text);
        if (!result.empty() && !result.ends_with('\n'))
            result.append(eol);
        result.append("[").append(section).append("]").append(eol);
        result.append(entry).append(eol);
        return result;
    }

    size_t lastKey = span->header;
    for (size_t i = span->header + 1; i < span->end; ++i) {
        if (lines[i].kind != LineKind::Key)
            continue;
        if (EqualIgnoringAsciiCase(lines[i].name, key)) {
            result.assign(text.substr(0, lines[i].begin));
            result.append(entry);
            result.append(text.substr(lines[i].contentEnd));
            return result;
        }
        lastKey = i;
    }

    const Line& after = lines[lastKey];
    // Looking for the '\n' itself: a last line may end in a lone '\r', which breaks no line.
    const bool endsWithNewline = after.next > 0 && text[after.next - 1] == '\n';
    result.assign(text.substr(0, after.next));
    if (!endsWithNewline)
        result.append(eol);
    result.append(entry).append(eol);
    result.append(text.substr(after.next));
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
    return sectionOk && keyOk && !hasLineBreak(value);
}

} // namespace tarvik::settings
