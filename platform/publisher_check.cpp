#include "platform/publisher_check.h"

#include <algorithm>

namespace tarvik::platform {
namespace {

// The trust provider's answers that say there is no signature to judge (winerror.h).
constexpr uint32_t kNoSignature = 0x800B0100;        // TRUST_E_NOSIGNATURE
constexpr uint32_t kSubjectFormUnknown = 0x800B0003; // TRUST_E_SUBJECT_FORM_UNKNOWN
constexpr uint32_t kProviderUnknown = 0x800B0001;    // TRUST_E_PROVIDER_UNKNOWN
// The file's digest is not the one signed.
constexpr uint32_t kBadDigest = 0x80096010; // TRUST_E_BAD_DIGEST
// The file could not be read at all.
constexpr uint32_t kFileError = 0x80092003; // CRYPT_E_FILE_ERROR

bool HasControlCharacter(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7F;
    });
}

} // namespace

const char* PublisherCheckText(PublisherCheck check) {
    switch (check) {
    case PublisherCheck::Trusted:
        return "signed by the built-in publisher";
    case PublisherCheck::Unsigned:
        return "unsigned";
    case PublisherCheck::Tampered:
        return "the signature does not cover this file (changed after signing)";
    case PublisherCheck::Untrusted:
        return "untrusted signature";
    case PublisherCheck::PublisherMismatch:
        return "publisher mismatch";
    case PublisherCheck::Unavailable:
        return "the signature could not be checked";
    }
    return "the signature could not be checked";
}

bool SignerNameMatches(std::string_view signer, std::string_view publisher) {
    return !publisher.empty() && signer == publisher && !HasControlCharacter(signer);
}

PublisherCheck JudgeTrustAnswer(const TrustAnswer& answer, std::string_view publisher) {
    switch (answer.status) {
    case 0:
        return answer.signer && SignerNameMatches(*answer.signer, publisher)
                   ? PublisherCheck::Trusted
                   : PublisherCheck::PublisherMismatch;
    case kNoSignature:
    case kSubjectFormUnknown:
    case kProviderUnknown:
        return PublisherCheck::Unsigned;
    case kBadDigest:
        return PublisherCheck::Tampered;
    case kFileError:
        return PublisherCheck::Unavailable;
    default:
        return PublisherCheck::Untrusted;
    }
}

} // namespace tarvik::platform
