#include "tools/demo-service/demo_installer.h"

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

} // namespace tarvik::demo
