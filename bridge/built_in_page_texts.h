#pragma once

#include "common/start_failure.h"

#include <nlohmann/json_fwd.hpp>

#include <optional>
#include <string>

namespace tarvik {
class Catalogue;
}

namespace tarvik::bridge {

// Why the start failed, as the built-in page tells it: each cause has its own advice, and a
// details line for support names it with the HTTP status.
struct StartProblem {
    enum class Where { Service, Page };
    enum class Reason {
        NoConnection, // no answer at all: no network, no such host, refused, timed out
        Refused,      // the service answered, but offered no page for this copy
        HttpError,    // the page was answered with an HTTP error status
        Certificate,  // the server's certificate was refused
        TooSlow,      // the page loaded but never showed itself in time
    };
    Where where = Where::Service;
    Reason reason = Reason::NoConnection;
    long httpStatus = 0;
    CertificateProblem certificate = CertificateProblem::None;
    // A few words for support beside the reason ("declined", "malformed"); may be empty.
    std::string detail;
    bool operator==(const StartProblem&) const = default;
};

// The details line for support: where, why, and the HTTP status when there was one, in English
// whatever the user's language (support reads it).
std::string DetailsLine(const StartProblem& problem);

// Every text the built-in page shows, in one place, handed to the page as data. The page itself
// holds no words of its own; the texts are in the user's language as `texts` chooses it. With a
// problem, the failed state's title and body are the advice for that cause, and "details" names
// it; `product` (the product's name, empty when unknown) heads the page.
nlohmann::json BuiltInPageTexts(const Catalogue& texts,
                                const std::optional<StartProblem>& problem = std::nullopt,
                                const std::string& product = {});

} // namespace tarvik::bridge
