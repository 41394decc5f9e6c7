#include "download/sha256.h"

#include <windows.h>

#include <bcrypt.h>

#include <algorithm>
#include <limits>

namespace tarvik::download {

namespace {

bool Succeeded(NTSTATUS status) {
    return status >= 0;
}

// The system's SHA-256 provider, opened once for the process: opening it loads the provider and
// is the slow part, while the provider handle may be shared by every thread (CNG documents
// algorithm handles as usable from several threads; only a hash object is one thread's).
BCRYPT_ALG_HANDLE Provider() {
    static const BCRYPT_ALG_HANDLE provider = [] {
        BCRYPT_ALG_HANDLE handle = nullptr;
        if (!Succeeded(BCryptOpenAlgorithmProvider(&handle, BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
            return BCRYPT_ALG_HANDLE{nullptr};
        return handle;
    }();
    return provider;
}

} // namespace

struct Sha256::Context {
    struct Destroy {
        void operator()(void* hash) const { BCryptDestroyHash(hash); }
    };
    // The hash object lives in memory CNG allocates itself (no object buffer is passed).
    std::unique_ptr<void, Destroy> hash;
    bool ready = false;
};

Sha256::Sha256() : context_(std::make_unique<Context>()) {
    Reset();
}

Sha256::~Sha256() = default;

bool Sha256::ok() const {
    return context_->ready;
}

void Sha256::Reset() {
    context_->hash.reset();
    context_->ready = false;
    const BCRYPT_ALG_HANDLE provider = Provider();
    if (provider == nullptr)
        return;
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (!Succeeded(BCryptCreateHash(provider, &hash, nullptr, 0, nullptr, 0, 0)))
        return;
    context_->hash.reset(hash);
    context_->ready = true;
}

bool Sha256::Update(std::string_view bytes) {
    if (!context_->ready)
        return false;
    // BCryptHashData takes a 32-bit length: larger pieces go in several calls.
    while (!bytes.empty()) {
        const size_t piece = std::min<size_t>(bytes.size(), std::numeric_limits<ULONG>::max());
        // The input is only read; the parameter lacks const in the header.
        auto* data = reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data()));
        if (!Succeeded(BCryptHashData(context_->hash.get(), data, static_cast<ULONG>(piece), 0))) {
            context_->ready = false;
            return false;
        }
        bytes.remove_prefix(piece);
    }
    return true;
}

std::optional<Sha256Digest> Sha256::Finish() {
    Sha256Digest digest{};
    const bool done =
        context_->ready && Succeeded(BCryptFinishHash(context_->hash.get(), digest.data(),
                                                      static_cast<ULONG>(digest.size()), 0));
    Reset();
    if (!done)
        return std::nullopt;
    return digest;
}

} // namespace tarvik::download
