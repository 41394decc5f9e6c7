#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace tarvik::download {

// Signatures in the minisign format, checked against a public key built into the program, so that
// an installer is started only when its publisher signed it, whoever served the page and the file.
// The cryptography is OpenSSL's (Ed25519 and BLAKE2b-512 through EVP), the library that already
// computes the SHA-256 on Linux; this file only reads the format.

// A public key: the base64 line of a minisign ".pub" file ("RW...", 56 characters).
struct MinisignKey {
    std::array<uint8_t, 8> id{};
    std::array<uint8_t, 32> key{};
    bool operator==(const MinisignKey&) const = default;
};

// The key from its base64 line (surrounding white space allowed); nothing for any other text.
std::optional<MinisignKey> ParseMinisignKey(std::string_view text);
// The key id as the minisign tool prints it (16 upper-case hexadecimal digits).
std::string KeyIdText(const std::array<uint8_t, 8>& id);

// A ".minisig" file: an untrusted comment line, the signature line, the trusted comment line and
// the global signature line, which signs the signature together with the trusted comment.
struct MinisignSignature {
    // "ED": the signature is over the file's BLAKE2b-512 digest; "Ed" (legacy): over the file.
    bool prehashed = true;
    std::array<uint8_t, 8> keyId{};
    std::array<uint8_t, 64> signature{};
    std::string trustedComment;
    std::array<uint8_t, 64> globalSignature{};
};

// The signature file's text; nothing, with the reason in `why`, when it is not one.
std::optional<MinisignSignature> ParseMinisignSignature(std::string_view text, std::string& why);

enum class SignatureCheck {
    Good,
    KeyIdMismatch,     // signed with another key
    BadSignature,      // the file is not the one signed
    BadTrustedComment, // the trusted comment was changed
};
// Which check failed, for the step log.
const char* SignatureCheckText(SignatureCheck check);

// Checks the signature of a file whose signed message is `message`: the file's BLAKE2b-512 digest
// for a pre-hashed signature, the whole file for a legacy one. The key id is checked first, then
// the file's signature, then the trusted comment's.
SignatureCheck CheckMinisignSignature(const MinisignKey& key, const MinisignSignature& signature,
                                      std::string_view message);

using Blake2b512Digest = std::array<uint8_t, 64>;

// BLAKE2b-512 over bytes handed in pieces, for pre-hashed signatures.
//
// Threads: one thread at a time.
class Blake2b512 {
public:
    Blake2b512();
    ~Blake2b512();
    Blake2b512(const Blake2b512&) = delete;
    Blake2b512& operator=(const Blake2b512&) = delete;

    // False when the library could not set the digest up; Update and Finish then fail too.
    bool ok() const;
    bool Update(std::string_view bytes);
    // The digest of everything since the last Reset; the object starts over afterwards.
    std::optional<Blake2b512Digest> Finish();
    void Reset();

private:
    struct Context;
    std::unique_ptr<Context> context_;
};

} // namespace tarvik::download
