#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

namespace tarvik::download {

using Sha256Digest = std::array<uint8_t, 32>;

// The digest written as 64 hexadecimal digits, in either case; nothing for any other text.
std::optional<Sha256Digest> ParseSha256(std::string_view hex);

// SHA-256 over bytes handed in pieces, computed by a crypto library the program already has, so
// that it carries no digest code of its own: the one libcurl brings along on Linux (OpenSSL's EVP
// interface, sha256_evp.cpp), the system's CNG on Windows (sha256_cng.cpp).
//
// Threads: one thread at a time.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    // False when the library could not set the digest up (no memory); Update and Finish then
    // answer false and nothing too.
    bool ok() const;
    bool Update(std::string_view bytes);
    // The digest of everything since the last Reset; the object starts over afterwards.
    std::optional<Sha256Digest> Finish();
    void Reset();

private:
    struct Context;
    std::unique_ptr<Context> context_;
};

} // namespace tarvik::download
