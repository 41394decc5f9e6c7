#include "download/minisign.h"

#include "download/evp_digest.h"

#include <openssl/evp.h>

#include <algorithm>
#include <vector>

namespace tarvik::download {
namespace {

constexpr std::string_view kUntrustedPrefix = "untrusted comment: ";
constexpr std::string_view kTrustedPrefix = "trusted comment: ";

std::string_view Trimmed(std::string_view text) {
    constexpr std::string_view kSpace = " \t\r\n";
    const size_t first = text.find_first_not_of(kSpace);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(kSpace) - first + 1);
}

// Strict base64 of exactly `size` bytes: only the alphabet, padding only at the end. OpenSSL's
// decoder skips white space and counts padding as zero bytes, so both are checked here first.
template <size_t size>
std::optional<std::array<uint8_t, size>> DecodeBase64(std::string_view text) {
    constexpr size_t kChars = (size + 2) / 3 * 4;
    if (text.size() != kChars)
        return std::nullopt;
    const size_t padding = (3 - size % 3) % 3;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool alphabet = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                              (c >= '0' && c <= '9') || c == '+' || c == '/';
        if (i >= kChars - padding ? c != '=' : !alphabet)
            return std::nullopt;
    }
    std::vector<unsigned char> decoded(kChars / 4 * 3);
    const int length =
        EVP_DecodeBlock(decoded.data(), reinterpret_cast<const unsigned char*>(text.data()),
                        static_cast<int>(text.size()));
    if (length != static_cast<int>(decoded.size()))
        return std::nullopt;
    std::array<uint8_t, size> bytes{};
    std::copy_n(decoded.begin(), size, bytes.begin());
    return bytes;
}

struct PkeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct MdContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

bool VerifyEd25519(const std::array<uint8_t, 32>& publicKey, const std::array<uint8_t, 64>& sig,
                   std::string_view message) {
    const std::unique_ptr<EVP_PKEY, PkeyFree> key(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, publicKey.data(), publicKey.size()));
    const std::unique_ptr<EVP_MD_CTX, MdContextFree> context(EVP_MD_CTX_new());
    if (!key || !context ||
        EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1)
        return false;
    return EVP_DigestVerify(context.get(), sig.data(), sig.size(),
                            reinterpret_cast<const unsigned char*>(message.data()),
                            message.size()) == 1;
}

// The next line of `text` without its end (LF or CR LF); false when nothing is left.
bool NextLine(std::string_view& text, std::string_view& line) {
    if (text.empty())
        return false;
    const size_t end = text.find('\n');
    line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    return true;
}

} // namespace

std::optional<MinisignKey> ParseMinisignKey(std::string_view text) {
    const auto bytes = DecodeBase64<42>(Trimmed(text));
    if (!bytes || (*bytes)[0] != 'E' || (*bytes)[1] != 'd')
        return std::nullopt;
    MinisignKey key;
    std::copy_n(bytes->begin() + 2, key.id.size(), key.id.begin());
    std::copy_n(bytes->begin() + 10, key.key.size(), key.key.begin());
    return key;
}

std::string KeyIdText(const std::array<uint8_t, 8>& id) {
    // The tool prints the id as a little-endian number.
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (size_t i = id.size(); i-- > 0;) {
        text += kDigits[id[i] >> 4];
        text += kDigits[id[i] & 0xF];
    }
    return text;
}

std::optional<MinisignSignature> ParseMinisignSignature(std::string_view text, std::string& why) {
    std::string_view untrusted, signatureLine, trusted, globalLine;
    if (!NextLine(text, untrusted) || !NextLine(text, signatureLine) || !NextLine(text, trusted) ||
        !NextLine(text, globalLine)) {
        why = "fewer than four lines";
        return std::nullopt;
    }
    if (!Trimmed(text).empty()) {
        why = "text after the global signature";
        return std::nullopt;
    }
    if (!untrusted.starts_with(kUntrustedPrefix)) {
        why = "no untrusted comment line";
        return std::nullopt;
    }
    const auto signature = DecodeBase64<74>(signatureLine);
    if (!signature) {
        why = "the signature line is not a signature";
        return std::nullopt;
    }
    MinisignSignature parsed;
    if ((*signature)[0] == 'E' && (*signature)[1] == 'D') {
        parsed.prehashed = true;
    } else if ((*signature)[0] == 'E' && (*signature)[1] == 'd') {
        parsed.prehashed = false;
    } else {
        why = "an unknown signature algorithm";
        return std::nullopt;
    }
    std::copy_n(signature->begin() + 2, parsed.keyId.size(), parsed.keyId.begin());
    std::copy_n(signature->begin() + 10, parsed.signature.size(), parsed.signature.begin());
    if (!trusted.starts_with(kTrustedPrefix)) {
        why = "no trusted comment line";
        return std::nullopt;
    }
    parsed.trustedComment = std::string(trusted.substr(kTrustedPrefix.size()));
    const auto global = DecodeBase64<64>(globalLine);
    if (!global) {
        why = "the global signature line is not a signature";
        return std::nullopt;
    }
    parsed.globalSignature = *global;
    return parsed;
}

const char* SignatureCheckText(SignatureCheck check) {
    switch (check) {
    case SignatureCheck::Good:
        return "signature verified";
    case SignatureCheck::KeyIdMismatch:
        return "no key id match";
    case SignatureCheck::BadSignature:
        return "bad signature";
    case SignatureCheck::BadTrustedComment:
        return "bad trusted comment";
    }
    return "unknown";
}

SignatureCheck CheckMinisignSignature(const MinisignKey& key, const MinisignSignature& signature,
                                      std::string_view message) {
    if (signature.keyId != key.id)
        return SignatureCheck::KeyIdMismatch;
    if (!VerifyEd25519(key.key, signature.signature, message))
        return SignatureCheck::BadSignature;
    // The global signature covers the file's signature followed by the trusted comment.
    std::string signedComment(signature.signature.begin(), signature.signature.end());
    signedComment += signature.trustedComment;
    if (!VerifyEd25519(key.key, signature.globalSignature, signedComment))
        return SignatureCheck::BadTrustedComment;
    return SignatureCheck::Good;
}

struct Blake2b512::Context {
    EvpDigest<64> digest{EVP_blake2b512()};
};

Blake2b512::Blake2b512() : context_(std::make_unique<Context>()) {}

Blake2b512::~Blake2b512() = default;

bool Blake2b512::ok() const {
    return context_->digest.ok();
}

void Blake2b512::Reset() {
    context_->digest.Reset();
}

bool Blake2b512::Update(std::string_view bytes) {
    return context_->digest.Update(bytes);
}

std::optional<Blake2b512Digest> Blake2b512::Finish() {
    return context_->digest.Finish();
}

} // namespace tarvik::download
