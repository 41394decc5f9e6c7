#pragma once

#include "platform/system.h"

namespace tarvik::platform::posix {

// System on Linux: file calls on file descriptors, the executable's path from /proc, extended
// attributes in the "user." namespace. File names are passed to the kernel as they are (UTF-8
// bytes).
//
// Threads: it holds no state but a constant, so every member is safe from any thread at any time
// (GIO's proxy resolver is safe from any thread too, and each lookup waits on a context of its
// own thread's).
class PosixSystem final : public System {
public:
    // Tests shorten the time a proxy lookup may take.
    explicit PosixSystem(std::chrono::milliseconds proxyLookupLimit = kProxyLookupLimit);

    std::string ExecutablePath() override;
    std::string ExecutableFolder() override;
    SystemName Name() override;
    bool IsRegularFile(const std::string& path) override;
    FileContents ReadWholeFile(const std::string& path, size_t maxBytes) override;
    WriteOutcome ReplaceWholeFile(const std::string& path, std::string_view contents) override;
    WriteOutcome RewriteFileInPlace(const std::string& path, std::string_view contents) override;
    std::unique_ptr<DownloadFile> CreateDownloadFile(const std::string& targetPath) override;
    // GIO's proxy resolver: it follows the desktop's proxy settings (GNOME's, or the environment
    // variables through libproxy) the way the web view does. See LookUpProxy.
    std::optional<std::string> ProxyFor(const std::string& url, std::stop_token stop) override;

private:
    const std::chrono::milliseconds proxyLookupLimit_;
};

} // namespace tarvik::platform::posix
