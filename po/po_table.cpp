// Build tool: compiles the .po files into a C++ table that the program includes, so that its
// translations travel inside the executable.
// Usage: tarvik-po-table OUTPUT FILE.po...   (the language is the file's name: de.po -> "de")
#include "po/po_file.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

namespace {

// Every byte outside printable ASCII, and the characters that end or escape a literal, as a
// three-digit octal escape: unlike \x, an octal escape never swallows the character after it.
std::string Literal(const std::string& text) {
    std::string literal = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte >= 0x7F || c == '"' || c == '\\' || c == '?') {
            char escape[5];
            std::snprintf(escape, sizeof escape, "\\%03o", byte);
            literal += escape;
        } else {
            literal += c;
        }
    }
    return literal + "\"";
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: tarvik-po-table OUTPUT FILE.po...\n";
        return 2;
    }
    std::ostringstream out;
    out << "// Generated from po/*.po by tarvik-po-table; do not edit.\n";
    std::ostringstream tables;
    for (int i = 2; i < argc; ++i) {
        const std::filesystem::path path = argv[i];
        std::ifstream file(path, std::ios::binary);
        std::stringstream text;
        text << file.rdbuf();
        if (!file) {
            std::cerr << path.string() << ": cannot be read\n";
            return 1;
        }
        std::string error;
        const auto translations = tarvik::po::ReadPo(text.str(), error);
        if (!translations) {
            std::cerr << path.string() << ": " << error << "\n";
            return 1;
        }
        const std::string language = path.stem().string();
        const std::string symbol = "kEntries" + std::to_string(i - 2);
        out << "static const TranslationEntry " << symbol << "[] = {\n";
        for (const auto& [english, translated] : *translations)
            out << "    {" << Literal(english) << ", " << Literal(translated) << "},\n";
        if (translations->empty())
            out << "    {\"\", \"\"},\n";
        out << "};\n";
        tables << "    {" << Literal(language) << ", " << symbol << ", " << translations->size()
               << "},\n";
    }
    out << "static const TranslationTable kTranslationTables[] = {\n"
        << tables.str() << "    {nullptr, nullptr, 0},\n};\n";
    std::ofstream file(argv[1], std::ios::binary | std::ios::trunc);
    file << out.str();
    return file ? 0 : 1;
}
