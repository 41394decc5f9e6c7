#include "download/sha256.h"

#include <openssl/evp.h>

namespace tarvik::download {

struct Sha256::Context {
    struct Free {
        void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
    };
    std::unique_ptr<EVP_MD_CTX, Free> evp{EVP_MD_CTX_new()};
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
    context_->ready =
        context_->evp && EVP_DigestInit_ex(context_->evp.get(), EVP_sha256(), nullptr) == 1;
}

bool Sha256::Update(std::string_view bytes) {
    if (!context_->ready)
        return false;
    context_->ready = EVP_DigestUpdate(context_->evp.get(), bytes.data(), bytes.size()) == 1;
    return context_->ready;
}

std::optional<Sha256Digest> Sha256::Finish() {
    Sha256Digest digest{};
    unsigned int length = 0;
    const bool done = context_->ready &&
                      EVP_DigestFinal_ex(context_->evp.get(), digest.data(), &length) == 1 &&
                      length == digest.size();
    Reset();
    if (!done)
        return std::nullopt;
    return digest;
}

} // namespace tarvik::download
