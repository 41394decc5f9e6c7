#pragma once

#include <string_view>
#include <vector>

// Reading the line-based inputs of the fuzz entry points whose inputs are small scripts.
namespace tarvik::fuzzing {

// The text up to the next line break, which is taken off `text` with it.
inline std::string_view NextLine(std::string_view& text) {
    const size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    return line;
}

// The words of a line, split at spaces; runs of spaces make no empty words.
inline std::vector<std::string_view> Words(std::string_view line) {
    std::vector<std::string_view> words;
    while (!line.empty()) {
        const size_t space = line.find(' ');
        if (space != 0)
            words.push_back(line.substr(0, space));
        line.remove_prefix(space == std::string_view::npos ? line.size() : space + 1);
    }
    return words;
}

} // namespace tarvik::fuzzing
