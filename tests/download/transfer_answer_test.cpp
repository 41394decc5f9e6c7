#include "download/transfer_answer.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

namespace tarvik::download {

std::ostream& operator<<(std::ostream& out, const Judgement& j) {
    static const char* const kVerdicts[] = {"Continues", "WholeFile", "StartOver", "Refused"};
    const auto number = [](const std::optional<uint64_t>& value) {
        return value ? std::to_string(*value) : std::string("-");
    };
    return out << "{" << kVerdicts[static_cast<int>(j.verdict)] << ", total " << number(j.total)
               << ", end " << number(j.end) << ", validator '" << j.validator << "', ranges "
               << j.servesRanges << ", \"" << j.reason << "\"}";
}

namespace {

const std::string v1 = "\"v1\"";
const std::string v2 = "\"v2\"";
const std::string monday = "Mon, 01 Dec 2026 10:00:00 GMT";
const std::string tuesday = "Tue, 02 Dec 2026 10:00:00 GMT";

AnswerHeaders Headers(std::string etag, std::string contentRange = {},
                      std::string lastModified = {}, bool acceptsRanges = false) {
    return {std::move(etag), std::move(lastModified), std::move(contentRange), acceptsRanges};
}

Judgement Expect(Verdict verdict, std::string_view reason, std::optional<uint64_t> total = {},
                 std::optional<uint64_t> end = {}, std::string validator = {},
                 bool servesRanges = false) {
    return {verdict, total, end, std::move(validator), servesRanges, reason};
}

TEST(TransferAnswer, EachAnswerIsJudgedAgainstWhatIsHeld) {
    struct Case {
        const char* name;
        Question asked;
        long status;
        AnswerHeaders headers;
        std::optional<uint64_t> contentLength;
        Judgement expected;
    };
    const Question first{0, false, {}, {}};
    const Question probe{0, true, {}, {}};
    const Question resume{1000, true, v1, 5000};
    const Question resumeByDate{1000, true, monday, 5000};
    const uint64_t huge = uint64_t{1} << 63;
    const std::vector<Case> cases = {
        // Ranges.
        {"range continues the file", resume, 206, Headers(v1, "bytes 1000-4999/5000"), 4000,
         Expect(Verdict::Continues, "range continues the file", 5000, 5000, v1, true)},
        {"first range answer gives length and validator", probe, 206,
         Headers(v1, "bytes 0-4999/5000"), 5000,
         Expect(Verdict::Continues, "range continues the file", 5000, 5000, v1, true)},
        {"range of unknown length", probe, 206, Headers(v1, "bytes 0-4999/*"), 5000,
         Expect(Verdict::Continues, "range continues the file", {}, 5000, v1, true)},
        {"range shorter than asked ends where it says", resume, 206,
         Headers(v1, "bytes 1000-1999/5000"), 1000,
         Expect(Verdict::Continues, "range continues the file", 5000, 2000, v1, true)},
        {"range guarded by a date", resumeByDate, 206, Headers(v1, "bytes 1000-4999/5000", monday),
         4000, Expect(Verdict::Continues, "range continues the file", 5000, 5000, monday, true)},
        {"range of another version", resume, 206, Headers(v2, "bytes 1000-4999/5000"), 4000,
         Expect(Verdict::StartOver, "range of another version")},
        {"range of another date", resumeByDate, 206, Headers({}, "bytes 1000-4999/5000", tuesday),
         4000, Expect(Verdict::StartOver, "range of another version")},
        {"range without the ETag the file had", resume, 206, Headers({}, "bytes 1000-4999/5000"),
         4000, Expect(Verdict::StartOver, "range without the validator")},
        {"range with only a weak ETag", resume, 206, Headers("W/" + v1, "bytes 1000-4999/5000"),
         4000, Expect(Verdict::StartOver, "range of another version")},
        {"range of a file of another length", resume, 206, Headers(v1, "bytes 1000-5999/6000"),
         5000, Expect(Verdict::StartOver, "range of a file of another length")},
        {"another range than asked for", resume, 206, Headers(v1, "bytes 0-4999/5000"), 5000,
         Expect(Verdict::StartOver, "another range than asked for")},
        {"length beyond what a file can have", probe, 206,
         Headers(v1, "bytes 0-99/" + std::to_string(huge)), 100,
         Expect(Verdict::StartOver, "a length that does not fit")},
        {"malformed Content-Range", resume, 206, Headers(v1, "bytes 1000-4999"), 4000,
         Expect(Verdict::StartOver, "no usable Content-Range")},
        {"range answer to a request without Range", first, 206, Headers(v1, "bytes 0-4999/5000"),
         5000, Expect(Verdict::StartOver, "a range that was not asked for")},
        {"continuation with nothing to tell the versions apart",
         {1000, true, {}, 5000},
         206,
         Headers(v1, "bytes 1000-4999/5000"),
         4000,
         Expect(Verdict::StartOver, "no validator to continue with")},
        {"range not satisfiable", resume, 416, Headers({}, "bytes */900"), 0,
         Expect(Verdict::StartOver, "range not satisfiable")},
        // Whole files.
        {"whole file", first, 200, Headers(v1), 5000,
         Expect(Verdict::WholeFile, "whole file", 5000, 5000, v1, false)},
        {"whole file from a server that takes ranges", probe, 200, Headers(v1, {}, monday, true),
         5000, Expect(Verdict::WholeFile, "whole file", 5000, 5000, v1, true)},
        {"whole file of unknown length",
         first,
         200,
         Headers({}),
         {},
         Expect(Verdict::WholeFile, "whole file")},
        {"a weak ETag leaves the date as validator", first, 200, Headers("W/" + v1, {}, monday),
         5000, Expect(Verdict::WholeFile, "whole file", 5000, 5000, monday, false)},
        {"whole file instead of the range", resume, 200, Headers(v2), 6000,
         Expect(Verdict::WholeFile, "whole file instead of the range", 6000, 6000, v2, false)},
        {"whole file of another version from its start",
         {0, true, v1, 5000},
         200,
         Headers(v2),
         {},
         Expect(Verdict::WholeFile, "whole file of another version", {}, {}, v2, false)},
        {"whole file of the same version keeps its length",
         {0, true, v1, 5000},
         200,
         Headers(v1),
         {},
         Expect(Verdict::WholeFile, "whole file", 5000, 5000, v1, false)},
        {"empty whole file of a version known to be longer", resume, 200, Headers(v1), 0,
         Expect(Verdict::StartOver, "whole file of another length")},
        {"whole file longer than a file can have", first, 200, Headers(v1), huge,
         Expect(Verdict::StartOver, "a length that does not fit")},
        // No installer.
        {"204", resume, 204, Headers(v1), {}, Expect(Verdict::Refused, "answer without content")},
        {"205", first, 205, Headers({}), {}, Expect(Verdict::Refused, "answer without content")},
        {"304", resume, 304, Headers(v1), {}, Expect(Verdict::Refused, "no success")},
        {"416 to a request without Range",
         first,
         416,
         Headers({}),
         {},
         Expect(Verdict::Refused, "no success")},
        {"404", first, 404, Headers({}), 9, Expect(Verdict::Refused, "no success")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Judge(c.asked, c.status, c.headers, c.contentLength), c.expected);
    }
}

TEST(TransferAnswer, ReadsContentRange) {
    struct Case {
        const char* text = nullptr;
        std::optional<ContentRange> expected;
    };
    const uint64_t largest = std::numeric_limits<uint64_t>::max();
    const Case cases[] = {
        {"bytes 0-99/100", ContentRange{0, 99, 100}},
        {"bytes 5-5/6", ContentRange{5, 5, 6}},
        {"bytes 0-99/*", ContentRange{0, 99, std::nullopt}},
        {"bytes 0-18446744073709551614/18446744073709551615",
         ContentRange{0, largest - 1, largest}},
        {"bytes 0-99/18446744073709551616", std::nullopt},
        {"bytes 0-99/99", std::nullopt},
        {"bytes 10-9/100", std::nullopt},
        {"bytes -99/100", std::nullopt},
        {"bytes 0-/100", std::nullopt},
        {"bytes 0-99", std::nullopt},
        {"bytes */100", std::nullopt},
        {"bytes 0-99/1OO", std::nullopt},
        {"bytes +0-99/100", std::nullopt},
        {"items 0-99/100", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ParseContentRange(c.text), c.expected) << '"' << c.text << '"';
}

// Only the final answer's headers count: a redirect's validator must not guard the file's ranges.
TEST(TransferAnswer, KeepsOnlyTheFinalAnswersHeaders) {
    AnswerHeaders headers;
    for (const char* line :
         {"HTTP/1.1 302 Found\r\n", "ETag: \"redirect\"\r\n", "Accept-Ranges: bytes\r\n",
          "Location: /file\r\n", "\r\n", "HTTP/1.1 206 Partial Content\r\n", "etag:   \"v1\"  \r\n",
          "LAST-MODIFIED: Mon, 01 Dec 2026 10:00:00 GMT\r\n", "Content-Range: bytes 0-9/10\r\n",
          "Accept-Ranges: none\r\n", "no colon here\r\n"})
        headers.Take(line);
    EXPECT_EQ(headers.etag, v1);
    EXPECT_EQ(headers.lastModified, monday);
    EXPECT_EQ(headers.contentRange, "bytes 0-9/10");
    EXPECT_FALSE(headers.acceptsRanges);
}

} // namespace
} // namespace tarvik::download
