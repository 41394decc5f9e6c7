#pragma once

#include <cstdint>
#include <string_view>

namespace tarvik {

// Why a server's certificate was refused; each needs other advice (the computer's clock, a
// network filter, the vendor's server).
enum class CertificateProblem {
    None,
    Untrusted, // no chain to a trusted authority: self-signed, unknown issuer, intercepted
    Expired,   // outside its validity period (also: not valid yet)
    WrongHost, // issued for another name
};

// Reads the transfer library's error text for a refused certificate
// (CURLE_PEER_FAILED_VERIFICATION). The library's code is the same for every cause; its text names
// the cause as the TLS library reported it ("certificate has expired", "no alternative certificate
// subject name matches target host name", "self-signed certificate").
constexpr CertificateProblem CertificateProblemFromText(std::string_view text) {
    const auto has = [text](std::string_view part) {
        return text.find(part) != std::string_view::npos;
    };
    if (has("expired") || has("not yet valid") || has("EXPIRED") || has("NOT_TIME_VALID"))
        return CertificateProblem::Expired;
    if (has("subject name") || has("host name") || has("hostname") || has("CN_NO_MATCH"))
        return CertificateProblem::WrongHost;
    return CertificateProblem::Untrusted;
}

constexpr std::string_view CertificateProblemText(CertificateProblem problem) {
    switch (problem) {
    case CertificateProblem::None:
        return "none";
    case CertificateProblem::Untrusted:
        return "certificate not trusted";
    case CertificateProblem::Expired:
        return "certificate expired";
    case CertificateProblem::WrongHost:
        return "certificate for another host";
    }
    return "none";
}

} // namespace tarvik
