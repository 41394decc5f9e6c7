#pragma once

#include "platform/publisher_check.h"
#include "platform/win32/unique_handle.h"

#include <windows.h>

#include <string>
#include <string_view>

namespace tarvik::platform::win32 {

// The system's trust provider (WinVerifyTrust with WINTRUST_ACTION_GENERIC_VERIFY_V2) asked about
// the file open at `file` (read access), whose path is `path`: the provider reads the file through
// the handle, so what it judges is what the handle holds, whatever the path names meanwhile. It
// shows no user interface. Revocation is checked along the whole chain but the root, with the
// system's cache and network: a revoked certificate is refused, and so is one whose revocation
// status could not be learnt (CERT_E_REVOCATION_FAILURE), as a signature that cannot be shown to
// stand does not start a program with administrator rights. A signature with a timestamp stays
// good after its certificate expired, as the system's own checks have it.
//
// Threads: any thread; the provider keeps no state between calls.
TrustAnswer AskTrustProvider(HANDLE file, const std::wstring& path);

// The answer and what it means for a file that must be signed by `publisher`, with the reason in
// a form for the step log ("publisher mismatch (signed by \"Other\")").
struct PublisherVerdict {
    PublisherCheck check = PublisherCheck::Unavailable;
    std::string reason;
};
PublisherVerdict CheckPublisher(HANDLE file, const std::wstring& path, std::string_view publisher);

// Opens an installer for its check and start: for reading, shared with readers only, so that
// while the handle is open nobody can write the file, replace it or delete it (the system refuses
// every such open with a sharing violation), while the started installer can still open and map
// it. Empty when the file cannot be opened so.
UniqueHandle OpenInstallerForStart(const std::wstring& path);

} // namespace tarvik::platform::win32
