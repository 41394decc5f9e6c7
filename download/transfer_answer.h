#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarvik::download {

// What one answer to a request for the installer, or for a range of it, means for the bytes
// already held. The transfer loop asks this and acts on the verdict; nothing here touches a file
// or a connection, so every rule can be tried on its own.
//
// Threads: plain values; each transfer worker uses its own.

// The headers that decide what an answer's body is worth. A redirect's headers are dropped when
// the next answer's status line comes, so only the final answer's remain.
struct AnswerHeaders {
    std::string etag;
    std::string lastModified;
    std::string contentRange;
    bool acceptsRanges = false;

    // Takes one header line as the library hands it over ("Name: value\r\n", or a status line,
    // which starts a new answer). Names are compared without regard to case.
    void Take(std::string_view line);
};

// "bytes FIRST-LAST/TOTAL" or "bytes FIRST-LAST/*".
struct ContentRange {
    uint64_t first = 0;
    uint64_t last = 0;
    std::optional<uint64_t> total; // none for "*"

    bool operator==(const ContentRange&) const = default;
};
// Nothing when the text is not of that form, when LAST is below FIRST or when TOTAL does not
// exceed LAST.
std::optional<ContentRange> ParseContentRange(std::string_view text);

// The value an If-Range header sends to guard a range with this answer's version of the file: its
// strong ETag, else its Last-Modified (a weak ETag cannot guard a range); empty without either.
std::string ValidatorOf(const AnswerHeaders& headers);

// What the worker asked and what it knows of the file from the answers before.
struct Question {
    // The first byte asked for, and whether a Range header asked for it.
    uint64_t offset = 0;
    bool ranged = false;
    // The validator the bytes already held came with (sent as If-Range); empty when none is
    // known yet.
    std::string validator;
    // The file's length, once an earlier answer of the same version told it.
    std::optional<uint64_t> total;
};

enum class Verdict {
    // The bytes asked for, of the version held: they go at the question's offset.
    Continues,
    // The whole file from its first byte (a 200): a server that ignores ranges, or a version
    // other than the one the bytes held came from. Whatever was held before is of no use.
    WholeFile,
    // The answer cannot continue what is held: another version of the file (its validator or
    // its length differs), a range other than the one asked for, a length that does not fit. The
    // download starts over.
    StartOver,
    // No installer at all: a final answer without content (204, 205) or one that is no success.
    // The download fails with "http".
    Refused,
};

struct Judgement {
    Verdict verdict = Verdict::Refused;
    // The file's length as far as this answer tells it (with what was known before).
    std::optional<uint64_t> total;
    // Where the bytes this answer may deliver end, as it says itself (the byte after the last
    // one of its range, or the whole length): anything it sends beyond is not taken.
    std::optional<uint64_t> end;
    // The validator of the version this answer belongs to, to guard later ranges; empty when it
    // gave none.
    std::string validator;
    // The server serves ranges of this file: a 206, or a 200 with "Accept-Ranges: bytes".
    bool servesRanges = false;
    // Why, in a few words, for the step log.
    std::string_view reason;

    bool operator==(const Judgement&) const = default;
};

// Decides what an answer with HTTP status `status` and `headers` means. `contentLength` is the
// body's announced length (none when the answer gave none), for a whole file.
Judgement Judge(const Question& asked, long status, const AnswerHeaders& headers,
                std::optional<uint64_t> contentLength);

} // namespace tarvik::download
