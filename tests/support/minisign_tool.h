#pragma once

#include "support/temp_folder.h"

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace tarvik::testing {

// Keys and signatures made by Debian's minisign tool, so that the program's check is held against
// the format's own implementation rather than against our reading of it. Each object is one key
// pair in a folder of its own; the tool runs without a password (-W).
class MinisignTool {
public:
    MinisignTool() {
        Run("minisign -G -W -p " + Quoted(folder_.path() / "key.pub") + " -s " +
            Quoted(folder_.path() / "key.sec"));
        const std::string file = ReadFileIfPresent(folder_.path() / "key.pub").value_or("");
        // The second line is the key itself ("RW..."); the first is an untrusted comment.
        const size_t start = file.find('\n') + 1;
        publicKey_ = file.substr(start, file.find('\n', start) - start);
    }

    const std::string& publicKey() const { return publicKey_; }
    std::filesystem::path secretKeyFile() const { return folder_.path() / "key.sec"; }

    // The signature file's text for `body`: pre-hashed (the tool's default) or legacy.
    std::string Sign(const std::string& body, bool legacy = false,
                     const std::string& trustedComment = "timestamp:1 file:setup.exe") const {
        const std::filesystem::path file = folder_.path() / "signed";
        const std::filesystem::path signature = folder_.path() / "signed.minisig";
        WriteFileBytes(file, body);
        Run(std::string("minisign -S") + (legacy ? " -l" : "") + " -s " + Quoted(secretKeyFile()) +
            " -m " + Quoted(file) + " -x " + Quoted(signature) + " -t " + Quoted(trustedComment));
        return ReadFileIfPresent(signature).value_or("");
    }

private:
    static std::string Quoted(const std::string& text) {
        std::string quoted = "'";
        for (const char c : text)
            quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return quoted + "'";
    }
    static void Run(const std::string& command) {
        const int status = std::system((command + " >/dev/null 2>&1 </dev/null").c_str());
        if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
            throw std::runtime_error("failed (is Debian's minisign installed?): " + command);
    }

    TempFolder folder_;
    std::string publicKey_;
};

} // namespace tarvik::testing
