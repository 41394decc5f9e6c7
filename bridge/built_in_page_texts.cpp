#include "bridge/built_in_page_texts.h"

#include "common/translation.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <string>

namespace tarvik::bridge {

namespace {

// The advice for a refused certificate: what the user can check depends on the cause.
const char* CertificateBody(CertificateProblem problem) {
    switch (problem) {
    case CertificateProblem::Expired:
        return N_(
            "The server's certificate has expired or is not valid yet, so nothing was "
            "downloaded. Check that this computer's date and time are right, then try again.");
    case CertificateProblem::WrongHost:
        return N_("The server's certificate belongs to another address, so nothing was downloaded. "
                  "Please contact the vendor.");
    case CertificateProblem::None:
    case CertificateProblem::Untrusted:
        break;
    }
    return N_(
        "The server's certificate is not trusted, so nothing was downloaded. A network filter "
        "or proxy may be in the way: ask your administrator, or contact the vendor.");
}

} // namespace

std::string DetailsLine(const StartProblem& problem) {
    std::string line = problem.where == StartProblem::Where::Service ? "service: " : "page: ";
    switch (problem.reason) {
    case StartProblem::Reason::NoConnection:
        line += "no connection";
        break;
    case StartProblem::Reason::Refused:
        line += "refused";
        break;
    case StartProblem::Reason::HttpError:
        line += "error answer";
        break;
    case StartProblem::Reason::Certificate:
        line += CertificateProblemText(problem.certificate);
        break;
    case StartProblem::Reason::TooSlow:
        line += "did not appear in time";
        break;
    }
    if (!problem.detail.empty())
        line += " (" + problem.detail + ")";
    if (problem.httpStatus > 0)
        line += ", HTTP " + std::to_string(problem.httpStatus);
    return line;
}

nlohmann::json BuiltInPageTexts(const Catalogue& texts, const std::optional<StartProblem>& problem,
                                const std::string& product) {
    // Plain words for someone who only wanted to install a program: what is happening, what
    // went wrong, and the two things they can do about it.
    // The language tag of the texts ("zh-CN", "de"; "en" for the English ones), so that a screen
    // reader reads them with the right voice.
    std::string lang = texts.Language().empty() ? "en" : texts.Language();
    std::replace(lang.begin(), lang.end(), '_', '-');
    nlohmann::json data = {
        {"lang", lang},
        {"connecting_title", texts.Translate("Connecting…")},
        {"connecting_body",
         texts.Translate("Getting the installer ready. This needs an internet connection.")},
        {"service_title", texts.Translate("Cannot reach the download service")},
        {"service_body", texts.Translate("Check your internet connection, then try again.")},
        {"page_title", texts.Translate("The page could not be loaded")},
        {"page_body",
         texts.Translate("The download page did not open. Check your internet connection, then try "
                         "again.")},
        {"retry", texts.Translate("Try again")},
        {"close", texts.Translate("Close")},
        {"product", product},
    };
    if (!problem)
        return data;
    const std::string prefix = problem->where == StartProblem::Where::Service ? "service" : "page";
    const auto set = [&](const char* title, const char* body) {
        data[prefix + "_title"] = texts.Translate(title);
        data[prefix + "_body"] = texts.Translate(body);
    };
    switch (problem->reason) {
    case StartProblem::Reason::NoConnection:
    case StartProblem::Reason::TooSlow:
        break;
    case StartProblem::Reason::Refused:
        set(N_("This download is not available"),
            N_("The download service answered, but did not offer this installer. Your internet "
               "connection works. Try again later, or contact the vendor."));
        break;
    case StartProblem::Reason::HttpError:
        set(N_("The download page is not available"),
            N_("The vendor's server answered, but has no download page here. Your internet "
               "connection works. Try again later, or contact the vendor."));
        break;
    case StartProblem::Reason::Certificate:
        set(N_("The connection is not secure"), CertificateBody(problem->certificate));
        break;
    }
    data["details"] = texts.Translate("Details:") + std::string(" ") + DetailsLine(*problem);
    return data;
}

} // namespace tarvik::bridge
