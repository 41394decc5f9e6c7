#include "po/po_file.h"

#include <vector>

namespace tarvik::po {

namespace {

// A C string literal's body as gettext writes it: "text" with \n \t \" \\ escapes.
std::optional<std::string> ReadQuoted(std::string_view line) {
    const size_t open = line.find('"');
    const size_t close = line.rfind('"');
    if (open == std::string_view::npos || close == open)
        return std::nullopt;
    for (char c : line.substr(close + 1))
        if (c != ' ' && c != '\t' && c != '\r')
            return std::nullopt;
    const std::string_view body = line.substr(open + 1, close - open - 1);
    std::string text;
    for (size_t i = 0; i < body.size(); ++i) {
        char c = body[i];
        if (c == '"')
            return std::nullopt;
        if (c == '\\') {
            if (++i == body.size())
                return std::nullopt;
            switch (body[i]) {
            case 'n':
                c = '\n';
                break;
            case 't':
                c = '\t';
                break;
            case '"':
            case '\\':
                c = body[i];
                break;
            default:
                return std::nullopt;
            }
        }
        text.push_back(c);
    }
    return text;
}

std::string_view Trimmed(std::string_view line) {
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
        line.remove_prefix(1);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r'))
        line.remove_suffix(1);
    return line;
}

} // namespace

std::optional<Translations> ReadPo(std::string_view text, std::string& error) {
    Translations translations;
    std::string msgid;
    std::string msgstr;
    bool fuzzy = false;
    // Which string the last line added to; continuation lines go on with it.
    enum class Part { None, Id, Str } part = Part::None;
    bool haveId = false;
    bool haveStr = false;

    auto finish = [&] {
        if (haveId && haveStr && !msgid.empty() && !msgstr.empty() && !fuzzy)
            translations[msgid] = msgstr;
        msgid.clear();
        msgstr.clear();
        haveId = haveStr = fuzzy = false;
        part = Part::None;
    };

    size_t lineNumber = 0;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        const std::string_view line = Trimmed(text.substr(start, end - start));
        start = end + 1;
        ++lineNumber;
        auto fail = [&](const char* why) {
            error = "line " + std::to_string(lineNumber) + ": " + why;
            return std::nullopt;
        };

        if (line.empty()) {
            if (haveId && !haveStr)
                return fail("msgid without msgstr");
            finish();
            continue;
        }
        if (line.starts_with("#~"))
            continue;
        if (line.starts_with("#,")) {
            if (haveStr)
                finish();
            if (line.find("fuzzy") != std::string_view::npos)
                fuzzy = true;
            continue;
        }
        if (line.front() == '#')
            continue;
        if (line.starts_with("msgctxt") || line.starts_with("msgid_plural") ||
            line.starts_with("msgstr["))
            return fail("contexts and plural forms are not supported");
        std::string_view rest;
        if (line.starts_with("msgid ")) {
            if (haveStr)
                finish();
            if (haveId)
                return fail("msgid without msgstr");
            part = Part::Id;
            haveId = true;
            rest = line.substr(6);
        } else if (line.starts_with("msgstr ")) {
            if (!haveId || haveStr)
                return fail("msgstr without msgid");
            part = Part::Str;
            haveStr = true;
            rest = line.substr(7);
        } else if (line.front() == '"') {
            if (part == Part::None)
                return fail("text outside an entry");
            rest = line;
        } else {
            return fail("not a line of a .po file");
        }
        const std::optional<std::string> quoted = ReadQuoted(rest);
        if (!quoted)
            return fail("malformed string");
        (part == Part::Id ? msgid : msgstr) += *quoted;
    }
    if (haveId && !haveStr) {
        error = "msgid without msgstr at the end";
        return std::nullopt;
    }
    finish();
    return translations;
}

} // namespace tarvik::po
