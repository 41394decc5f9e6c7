#pragma once

#include "platform/system.h"

#include <optional>
#include <string>

namespace tarvik::platform::win32 {

// System on Windows: the wide file calls (paths are converted from UTF-8 to UTF-16 here and
// nowhere else, and made absolute before a rename), the executable's path from
// GetModuleFileNameW, and the Mark of the Web (the `Zone.Identifier` stream) as a download's
// origin record, the counterpart of Linux's `user.xdg.origin.url` attribute.
//
// Threads: every member is safe from any thread at any time; the state it keeps for the run
// (whether automatic proxy detection found nothing on this network, and the WinHTTP session that
// holds a configuration script once fetched) is an atomic flag and a session WinHTTP lets any
// thread use. A proxy lookup runs on a thread of its own, which may outlive the call (and the
// object: it uses nothing of it).
class Win32System final : public System {
public:
    std::string ExecutablePath() override;
    std::string ExecutableFolder() override;
    SystemName Name() override;
    bool IsRegularFile(const std::string& path) override;
    FileContents ReadWholeFile(const std::string& path, size_t maxBytes) override;
    WriteOutcome ReplaceWholeFile(const std::string& path, std::string_view contents) override;
    WriteOutcome RewriteFileInPlace(const std::string& path, std::string_view contents) override;
    std::unique_ptr<DownloadFile> CreateDownloadFile(const std::string& targetPath) override;
    // The user's proxy settings through WinHTTP: automatic detection and a configuration
    // script first, then the manual server and its exceptions; asked on a thread of its own and
    // awaited within the limits of AnswerWithin.
    std::optional<std::string> ProxyFor(const std::string& url, std::stop_token stop) override;
};

// The text of a Mark of the Web for a file downloaded from `url`: the Internet zone (3) and the
// address. Empty when the address holds a line break or a zero, which would forge further lines.
std::string ZoneIdentifierText(std::string_view url);

} // namespace tarvik::platform::win32
