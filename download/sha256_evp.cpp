#include "download/sha256.h"

#include "download/evp_digest.h"

namespace tarvik::download {

struct Sha256::Context {
    EvpDigest<32> digest{EVP_sha256()};
};

Sha256::Sha256() : context_(std::make_unique<Context>()) {}

Sha256::~Sha256() = default;

bool Sha256::ok() const {
    return context_->digest.ok();
}

void Sha256::Reset() {
    context_->digest.Reset();
}

bool Sha256::Update(std::string_view bytes) {
    return context_->digest.Update(bytes);
}

std::optional<Sha256Digest> Sha256::Finish() {
    return context_->digest.Finish();
}

} // namespace tarvik::download
