#include "download/sha256.h"

namespace tarvik::download {

std::optional<Sha256Digest> ParseSha256(std::string_view hex) {
    if (hex.size() != 64)
        return std::nullopt;
    const auto value = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    Sha256Digest digest{};
    for (size_t i = 0; i < digest.size(); ++i) {
        const int high = value(hex[2 * i]);
        const int low = value(hex[2 * i + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        digest[i] = static_cast<uint8_t>(high * 16 + low);
    }
    return digest;
}

} // namespace tarvik::download
