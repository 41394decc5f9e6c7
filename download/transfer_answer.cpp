#include "download/transfer_answer.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <limits>
#include <system_error>

namespace tarvik::download {
namespace {

// Lengths the file seam and the library's own counters take (both signed 64-bit).
constexpr uint64_t kLargestLength = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());

std::optional<uint64_t> Number(std::string_view text) {
    uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
}

bool NameIs(std::string_view name, std::string_view expected) {
    return name.size() == expected.size() &&
           std::equal(name.begin(), name.end(), expected.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) == b;
           });
}

// Whether the answer belongs to the version whose validator was kept: an entity tag is compared
// with the answer's ETag, a date with its Last-Modified, so an answer that dropped the header
// the first answer gave counts as another version too.
bool SameVersion(const std::string& kept, const AnswerHeaders& headers) {
    if (kept.starts_with('"'))
        return headers.etag == kept;
    return headers.lastModified == kept;
}

Judgement Verdicted(Verdict verdict, std::string_view reason) {
    Judgement judgement;
    judgement.verdict = verdict;
    judgement.reason = reason;
    return judgement;
}

Judgement JudgeRange(const Question& asked, const AnswerHeaders& headers) {
    if (!asked.ranged)
        return Verdicted(Verdict::StartOver, "a range that was not asked for");
    const std::optional<ContentRange> range = ParseContentRange(headers.contentRange);
    if (!range)
        return Verdicted(Verdict::StartOver, "no usable Content-Range");
    if (range->total && *range->total > kLargestLength)
        return Verdicted(Verdict::StartOver, "a length that does not fit");
    if (range->first != asked.offset)
        return Verdicted(Verdict::StartOver, "another range than asked for");
    Judgement judgement;
    if (asked.validator.empty()) {
        // Bytes after the first can only be put after the ones held when both are known to be
        // of one version.
        if (asked.offset > 0)
            return Verdicted(Verdict::StartOver, "no validator to continue with");
        judgement.validator = ValidatorOf(headers);
    } else if (!SameVersion(asked.validator, headers)) {
        // A server (or a cache on the way) that honours Range but not If-Range sends a range of
        // the new version: put after the old bytes, it would make a file of two versions.
        const bool gaveNone =
            asked.validator.starts_with('"') ? headers.etag.empty() : headers.lastModified.empty();
        return Verdicted(Verdict::StartOver,
                         gaveNone ? "range without the validator" : "range of another version");
    } else {
        judgement.validator = asked.validator;
    }
    if (asked.total && range->total && *asked.total != *range->total)
        return Verdicted(Verdict::StartOver, "range of a file of another length");
    judgement.verdict = Verdict::Continues;
    judgement.reason = "range continues the file";
    judgement.total = asked.total ? asked.total : range->total;
    judgement.end = range->last + 1;
    judgement.servesRanges = true;
    return judgement;
}

Judgement JudgeWholeFile(const Question& asked, const AnswerHeaders& headers,
                         std::optional<uint64_t> contentLength) {
    if (contentLength && *contentLength > kLargestLength)
        return Verdicted(Verdict::StartOver, "a length that does not fit");
    const bool sameVersion = !asked.validator.empty() && SameVersion(asked.validator, headers);
    // One version has one length; an answer that says otherwise cannot be trusted with it.
    if (sameVersion && asked.total && contentLength && *contentLength != *asked.total)
        return Verdicted(Verdict::StartOver, "whole file of another length");
    Judgement judgement;
    judgement.verdict = Verdict::WholeFile;
    judgement.reason = asked.ranged && asked.offset > 0         ? "whole file instead of the range"
                       : sameVersion || asked.validator.empty() ? "whole file"
                                                                : "whole file of another version";
    judgement.validator = ValidatorOf(headers);
    judgement.total = contentLength ? contentLength : sameVersion ? asked.total : std::nullopt;
    judgement.end = judgement.total;
    judgement.servesRanges = headers.acceptsRanges;
    return judgement;
}

} // namespace

void AnswerHeaders::Take(std::string_view line) {
    if (line.starts_with("HTTP/")) {
        *this = AnswerHeaders();
        return;
    }
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos)
        return;
    const std::string_view name = line.substr(0, colon);
    const std::string_view value = Trimmed(line.substr(colon + 1));
    if (NameIs(name, "etag"))
        etag = value;
    else if (NameIs(name, "last-modified"))
        lastModified = value;
    else if (NameIs(name, "content-range"))
        contentRange = value;
    else if (NameIs(name, "accept-ranges"))
        acceptsRanges = value == "bytes";
}

std::optional<ContentRange> ParseContentRange(std::string_view text) {
    static constexpr std::string_view kUnit = "bytes ";
    if (!text.starts_with(kUnit))
        return std::nullopt;
    text.remove_prefix(kUnit.size());
    const size_t dash = text.find('-');
    const size_t slash = text.find('/');
    if (dash == std::string_view::npos || slash == std::string_view::npos || slash < dash)
        return std::nullopt;
    const auto first = Number(text.substr(0, dash));
    const auto last = Number(text.substr(dash + 1, slash - dash - 1));
    if (!first || !last || *last < *first)
        return std::nullopt;
    ContentRange range{*first, *last, std::nullopt};
    const std::string_view total = text.substr(slash + 1);
    if (total != "*") {
        range.total = Number(total);
        if (!range.total || *range.total <= *last)
            return std::nullopt;
    }
    return range;
}

std::string ValidatorOf(const AnswerHeaders& headers) {
    if (!headers.etag.empty() && !headers.etag.starts_with("W/"))
        return headers.etag;
    return headers.lastModified;
}

Judgement Judge(const Question& asked, long status, const AnswerHeaders& headers,
                std::optional<uint64_t> contentLength) {
    if (status == 206)
        return JudgeRange(asked, headers);
    // The range asked for lies beyond the end of the file as the server has it now: a shorter
    // file, so another version.
    if (status == 416 && asked.ranged)
        return Verdicted(Verdict::StartOver, "range not satisfiable");
    if (status == 204 || status == 205)
        return Verdicted(Verdict::Refused, "answer without content");
    if (status < 200 || status >= 300)
        return Verdicted(Verdict::Refused, "no success");
    return JudgeWholeFile(asked, headers, contentLength);
}

} // namespace tarvik::download
