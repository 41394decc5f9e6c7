#include "download/minisign.h"

// Windows builds carry no OpenSSL (libcurl uses Schannel there), and configuring one with an
// installer key is refused (cmake/check_installer_key.cmake). Nothing here accepts a key or a
// signature, so a build that reached this code anyway fails every signed download.

namespace tarvik::download {

std::optional<MinisignKey> ParseMinisignKey(std::string_view) {
    return std::nullopt;
}

std::string KeyIdText(const std::array<uint8_t, 8>&) {
    return {};
}

std::optional<MinisignSignature> ParseMinisignSignature(std::string_view, std::string& why) {
    why = "minisign signatures are not checked in this build";
    return std::nullopt;
}

const char* SignatureCheckText(SignatureCheck) {
    return "minisign signatures are not checked in this build";
}

SignatureCheck CheckMinisignSignature(const MinisignKey&, const MinisignSignature&,
                                      std::string_view) {
    return SignatureCheck::BadSignature;
}

struct Blake2b512::Context {};

Blake2b512::Blake2b512() = default;
Blake2b512::~Blake2b512() = default;
bool Blake2b512::ok() const {
    return false;
}
bool Blake2b512::Update(std::string_view) {
    return false;
}
std::optional<Blake2b512Digest> Blake2b512::Finish() {
    return std::nullopt;
}
void Blake2b512::Reset() {}

} // namespace tarvik::download
