#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarvik::platform {

// With a vendor's publisher name built in (TARVIK_INSTALLER_PUBLISHER), an installer is finished,
// and started with administrator rights, only when the system's trust provider accepts its code
// signature and the signer is that publisher. The system answers with a status code and the
// signing certificate; this file holds what the program makes of that answer, apart from the
// system calls, so that the same rules are checked on every build.

enum class PublisherCheck {
    Trusted,           // a signature the system accepts, by the built-in publisher
    Unsigned,          // no signature, or a kind of file the system cannot sign
    Tampered,          // a signature whose digest is not the file's: changed after signing
    Untrusted,         // signed, but the system refuses the certificate or the signature
    PublisherMismatch, // a signature the system accepts, by someone else
    Unavailable,       // the check could not be made (no such check on this system, no file)
};

// For the step log: which check failed.
const char* PublisherCheckText(PublisherCheck check);

// The signer's name is the signing certificate's simple display name: its common name (or, for a
// certificate without one, the first of its organisational unit, organisation or e-mail address),
// the name the system's consent prompt shows as the verified publisher. It matches the built-in
// name only when both are the same characters: no case folding, no trimming, no partial match. A
// name with a control character (a NUL inside a common name would otherwise cut it short where
// the system's text ends) never matches.
bool SignerNameMatches(std::string_view signer, std::string_view publisher);

// The system's answer for one file: the trust provider's status (0 for a signature it accepts;
// otherwise one of the system's HRESULT codes), and the signer's name in UTF-8 when the signer's
// certificate could be read.
struct TrustAnswer {
    uint32_t status = 0;
    std::optional<std::string> signer;
};

// What the answer means for a file that must be signed by `publisher`.
PublisherCheck JudgeTrustAnswer(const TrustAnswer& answer, std::string_view publisher);

} // namespace tarvik::platform
