#pragma once

#include <openssl/evp.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

namespace tarvik::download {

// One digest of OpenSSL's EVP interface over bytes handed in pieces. The SHA-256 of the page's
// hash and the BLAKE2b-512 of a signature's pre-hash differ only in the algorithm and the size,
// so both are this class; Linux only (Windows hashes with CNG and checks no signatures).
//
// Threads: one thread at a time.
template <std::size_t Size> class EvpDigest {
public:
    using Digest = std::array<uint8_t, Size>;

    explicit EvpDigest(const EVP_MD* algorithm) : algorithm_(algorithm) { Reset(); }

    // False when the library could not set the digest up (no memory); Update and Finish then
    // answer false and nothing too.
    bool ok() const { return ready_; }

    void Reset() {
        ready_ =
            context_ && algorithm_ && EVP_DigestInit_ex(context_.get(), algorithm_, nullptr) == 1;
    }

    bool Update(std::string_view bytes) {
        if (!ready_)
            return false;
        ready_ = EVP_DigestUpdate(context_.get(), bytes.data(), bytes.size()) == 1;
        return ready_;
    }

    // The digest of everything since the last Reset; the object starts over afterwards.
    std::optional<Digest> Finish() {
        Digest digest{};
        unsigned int length = 0;
        const bool done = ready_ &&
                          EVP_DigestFinal_ex(context_.get(), digest.data(), &length) == 1 &&
                          length == digest.size();
        Reset();
        if (!done)
            return std::nullopt;
        return digest;
    }

private:
    struct Free {
        void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
    };
    const EVP_MD* algorithm_;
    std::unique_ptr<EVP_MD_CTX, Free> context_{EVP_MD_CTX_new()};
    bool ready_ = false;
};

} // namespace tarvik::download
