#pragma once

#include <string_view>

namespace tarvik::service {

// Why a request to the service gave nothing usable. The host acts the same on every failure
// (nothing is retried), but the reason tells a time-out from a refused or unreadable answer.
enum class ServiceFailure {
    None,       // the request did what it should
    BadUrl,     // no request: the URL is empty, malformed or not http/https (also a redirect's)
    Setup,      // no request: the library refused a handle or an option
    Network,    // no complete answer: connection refused, name lookup, TLS, dropped connection
    Timeout,    // the connect or the total time limit ran out
    TooLarge,   // the answer was larger than any info answer can be, or than memory allowed
    HttpStatus, // the final answer's status was not 2xx (reports; the info request ignores it)
    Declined,   // an info answer whose "code" is not 200
    Malformed,  // a body that is no info answer: not one JSON object, or no string data.name
};

// The failure's name for the step log.
constexpr std::string_view FailureText(ServiceFailure failure) {
    switch (failure) {
    case ServiceFailure::None:
        return "ok";
    case ServiceFailure::BadUrl:
        return "bad URL";
    case ServiceFailure::Setup:
        return "request not set up";
    case ServiceFailure::Network:
        return "network failure";
    case ServiceFailure::Timeout:
        return "timed out";
    case ServiceFailure::TooLarge:
        return "answer too large";
    case ServiceFailure::HttpStatus:
        return "HTTP status not 2xx";
    case ServiceFailure::Declined:
        return "declined (code not 200)";
    case ServiceFailure::Malformed:
        return "malformed answer";
    }
    return "unknown";
}

} // namespace tarvik::service
