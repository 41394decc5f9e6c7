#include "tools/demo-service/demo_installer.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace tarvik::demo {
namespace {

// Single quotes cannot appear inside a single-quoted shell word, so they are dropped from the
// name rather than risking a script that does something else.
std::string ShellSafe(const std::string& text) {
    std::string safe;
    for (const char c : text)
        if (c != '\'' && c != '\n' && c != '\r')
            safe += c;
    return safe;
}

} // namespace

std::string MakeDemoInstaller(uint64_t size, const std::string& productName) {
    std::string script = "#!/bin/sh\n"
                         "# Demo installer served by tarvik-demo-service. It installs nothing.\n"
                         "echo '" +
                         ShellSafe(productName) +
                         ": the demo installer ran. Nothing was installed.'\n"
                         "exit 0\n";
    // The shell stops at `exit`, so the padding is never read; comment lines keep the file a
    // valid script for anyone who inspects it.
    const std::string line = "# " + std::string(77, '.') + "\n";
    while (script.size() + line.size() <= size)
        script += line;
    if (script.size() < size) {
        script += '#';
        script.append(size - script.size(), '.');
    }
    return script;
}

std::string SignWithMinisign(const std::string& installer, const std::string& keyFile) {
    std::string folder = (std::filesystem::temp_directory_path() / "tarvik-demo-XXXXXX").string();
    if (::mkdtemp(folder.data()) == nullptr)
        throw std::runtime_error("no temporary folder to sign the installer in");
    const std::filesystem::path file = std::filesystem::path(folder) / "installer";
    const std::filesystem::path signature = std::filesystem::path(folder) / "installer.minisig";
    std::ofstream(file, std::ios::binary) << installer;
    const auto quoted = [](const std::string& text) {
        std::string out = "'";
        for (const char c : text)
            out += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return out + "'";
    };
    const int status =
        std::system(("minisign -S -s " + quoted(keyFile) + " -m " + quoted(file.string()) + " -x " +
                     quoted(signature.string()) + " -t " + quoted("the demo installer") + " >&2")
                        .c_str());
    std::ifstream in(signature, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    if (status != 0 || text.empty())
        throw std::runtime_error("minisign could not sign the installer with " + keyFile);
    return text;
}

} // namespace tarvik::demo
