#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarvik::settings {

// The INI rules that distributors' `config.ini` files rely on, applied to the file's UTF-8 text:
// - a line whose first non-blank character is '[' opens a section; its name runs to the first
//   ']' (or the end of the line);
// - a line whose first non-blank character is ';' is a comment;
// - any other line holding '=' is a key line: the name before the first '=', the value after;
// - names and values are trimmed of spaces and tabs; names compare case-insensitively (ASCII);
// - a value in one pair of matching quotes ("..." or '...') is read without them, keeping what
//   is inside as it is (blanks included); a lone or unmatched quote stays part of the value;
// - only the first section of a name is searched, and the first key of a name in it wins;
// - a UTF-8 byte-order mark at the start is ignored; lines end in "\n" or "\r\n".
// Lines that are none of these (and key lines before the first section) are kept but never match.

// The trimmed and unquoted value of section/key, or nothing when the first such section holds no
// such key.
std::optional<std::string_view> FindIniValue(std::string_view text, std::string_view section,
                                             std::string_view key);

// The text with section/key set to `value`: the first matching key line is replaced, or a key line
// is added after the section's last key line, or the section is appended at the end. Every other
// line stays byte for byte; new lines use the text's own line ending. The caller makes sure that
// the names and the value hold no line breaks, the key no '=', and the section no ']'.
std::string SetIniValue(std::string_view text, std::string_view section, std::string_view key,
                        std::string_view value);

// Whether the names and value can be written without changing the file's structure, and read
// back as they were: a value with blanks around it or in a pair of matching quotes would not be.
bool IsWritableIniEntry(std::string_view section, std::string_view key, std::string_view value);

} // namespace tarvik::settings
