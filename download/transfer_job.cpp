#include "download/transfer_job.h"

#include "common/curl/checked_options.h"
#include "common/curl/curl_handle.h"
#include "common/curl/request_route.h"
#include "common/curl/web_url.h"
#include "common/download_failure.h"
#include "download/failure_from_curl.h"
#include "download/installer_file_name.h"
#include "download/origin_attribute.h"
#include "download/progress_gate.h"
#include "download/stall_watch.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <charconv>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace tarvik::download {
namespace {

using Clock = std::chrono::steady_clock;

// How long the worker sleeps in the library's wait at most; it bounds how late a stall is seen.
constexpr int kLongestWaitMs = 100;
// The piece size in which parts of the file are read back for the hash.
constexpr size_t kReadBackPiece = 1024 * 1024;

// The easy handle takes part in the multi handle only while this object lives.
class MultiMembership {
public:
    MultiMembership(CURLM* multi, CURL* easy)
        : multi_(multi), easy_(easy), added_(curl_multi_add_handle(multi, easy) == CURLM_OK) {}
    ~MultiMembership() {
        if (added_)
            curl_multi_remove_handle(multi_, easy_);
    }
    MultiMembership(const MultiMembership&) = delete;
    MultiMembership& operator=(const MultiMembership&) = delete;
    bool added() const { return added_; }

private:
    CURLM* multi_;
    CURL* easy_;
    bool added_;
};

std::optional<uint64_t> Number(std::string_view text) {
    uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

struct ContentRange {
    uint64_t first = 0;
    uint64_t last = 0;
    std::optional<uint64_t> total; // none for "*"
};

// "bytes FIRST-LAST/TOTAL" or "bytes FIRST-LAST/*".
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

std::string Trimmed(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return std::string(text);
}

bool NameIs(std::string_view name, std::string_view expected) {
    return name.size() == expected.size() &&
           std::equal(name.begin(), name.end(), expected.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) == b;
           });
}

} // namespace

struct TransferJob::State {
    State(platform::System& system, std::string url, std::string target, TransferLimits limits,
          Post post)
        : system(system), url(std::move(url)), target(std::move(target)), limits(limits),
          post(std::move(post)), multi(curl_multi_init()), progress(limits.progressInterval) {
        // Every range on a TCP connection of its own. By default the library multiplexes all
        // requests to an HTTP/2 server over one connection, so where a link or a content network
        // shapes each flow, four ranges got one flow's rate (against nginx capping each
        // connection at 4 MiB/s: 0.91 times one connection, and 4 ranges on 4 connections again
        // only after a drop).
        if (multi)
            curl_multi_setopt(multi.get(), CURLMOPT_PIPELINING, CURLPIPE_NOTHING);
    }

    struct Piece;

    // One request for one piece, on its own easy handle in the multi handle.
    struct Attempt {
        Attempt(State& job, Piece& piece) : job(job), piece(piece), handle(curl_easy_init()) {}
        // Leaving the multi handle may still call this attempt's progress callback (seen under
        // AddressSanitizer: it read the stall watch after the watch was gone). An attempt that is
        // going away has nothing to report, so the callback is switched off, and the handle
        // leaves first, while every member is still alive.
        ~Attempt() {
            if (handle)
                curl_easy_setopt(handle.get(), CURLOPT_NOPROGRESS, 1L);
            membership.reset();
        }
        Attempt(const Attempt&) = delete;
        Attempt& operator=(const Attempt&) = delete;
        State& job;
        Piece& piece;
        const CurlEasy handle;
        CurlSlist headers;
        // Set once the handle is configured; removed from the multi handle before the handle
        // goes.
        std::unique_ptr<MultiMembership> membership;
        // Where this answer's first byte belongs.
        uint64_t offset = 0;
        bool ranged = false;
        bool decided = false;
        uint64_t written = 0;
        StallWatch stallWatch{job.limits.lowSpeedBytesPerSecond, job.limits.lowSpeedTime};
        // The latest answer's headers (a redirect's are dropped when the next answer starts).
        std::string etag;
        std::string lastModified;
        std::string contentRange;
        bool acceptsRanges = false;
        // Why the library was stopped from here, if it was.
        bool stalled = false;
        bool noRoom = false;
        bool writeFailed = false;
        bool reachedHttps = false;
        bool refusedDowngrade = false;
        // The answer does not continue the file (another range, or a whole file where only a
        // range fits): the download starts over.
        bool mismatch = false;
        // The piece is complete; the rest of the answer belongs to another piece.
        bool pieceFull = false;

        long Status() const {
            long status = 0;
            curl_easy_getinfo(handle.get(), CURLINFO_RESPONSE_CODE, &status);
            return status;
        }
        bool Decide();
    };

    // A part of the file that one connection fetches: bytes [start, end), `next` being the first
    // one not yet written; no end while the length is unknown or one connection fetches it all.
    struct Piece {
        uint64_t start = 0;
        uint64_t next = 0;
        std::optional<uint64_t> end;
        // The furthest `next` has been: only an attempt that goes beyond it brought new bytes
        // (an answer that starts over brings none until it passes what was held).
        uint64_t furthest = 0;
        bool done = false;
        // Attempts in a row that brought no new bytes, and when the next one may start.
        int barren = 0;
        Clock::time_point notBefore{};
        std::unique_ptr<Attempt> attempt;
    };

    void Run();
    // Runs the pieces to their end; nothing on success or abort (see `abort`).
    std::optional<DownloadFailure> Transfer();
    bool StartAttempt(Piece& piece);
    // What the end of an attempt means: nothing to carry on, or the download's failure.
    std::optional<DownloadFailure> Finished(Piece& piece, CURLcode result);
    bool StartOver();
    bool RestartInPlace();
    bool ForgetWhatWasWritten();
    void SplitInto(uint64_t length);
    bool Write(uint64_t offset, std::string_view bytes);
    // Feeds the hash with the file's bytes that it has not taken in yet, up to `upTo`.
    bool CatchUpHash(uint64_t upTo);
    uint64_t Received() const;
    void OfferProgress();
    void Fail(DownloadFailure failure) {
        ended.store(true);
        post(HostMessage{WM_DNLD_FAILED, static_cast<uint64_t>(failure), 0});
    }
    void KeepPartial(std::unique_ptr<platform::DownloadFile> file);
    bool Commit();

    static size_t OnBody(char* data, size_t size, size_t count, void* context);
    static size_t OnHeader(char* data, size_t size, size_t count, void* context);
    static int OnProgress(void* context, curl_off_t downloadTotal, curl_off_t downloaded,
                          curl_off_t uploadTotal, curl_off_t uploaded);
    static int BeforeRequest(void* context, char* remoteIp, char* localIp, int remotePort,
                             int localPort);

    platform::System& system;
    const std::string url;
    const std::string target;
    const TransferLimits limits;
    const Post post;
    // Made before the worker starts, so the owner can always wake a waiting worker.
    const CurlMulti multi;
    std::atomic<bool> abort{false};
    // The worker has posted, or is about to post, its last message.
    std::atomic<bool> ended{false};
    ProgressGate progress;
    std::thread worker;
    // Set before Start.
    std::optional<PartialDownload> resume;
    std::optional<Sha256Digest> expected;
    bool keepExisting = false;
    // Where the file went; written by the worker before it posts the finished message.
    std::string savedPath;
    // Left by a worker that failed for a network reason; taken by the owner after it ended.
    std::optional<PartialDownload> kept;

    // Worker only, valid during Run.
    platform::DownloadFile* file = nullptr;
    std::vector<std::unique_ptr<Piece>> pieces;
    // The whole file's length once an answer told it; -1 until then.
    int64_t total = -1;
    bool reserved = false;
    std::string validator;
    // Whether any body byte has arrived: only then is a network failure retried.
    bool anyBytes = false;
    // Several connections may still be used; off once the server showed it cannot serve them.
    bool mayAddConnections = false;
    std::optional<Sha256> hash;
    uint64_t hashedUpTo = 0;
    std::string effectiveUrl;
};

// Decides, at the first byte of an answer, what the answer is: the range asked for continues
// the piece; a whole file starts the download over from byte 0; anything else does not fit.
bool TransferJob::State::Attempt::Decide() {
    decided = true;
    const long status = Status();
    const std::string chosenValidator =
        !etag.empty() && !etag.starts_with("W/") ? etag : lastModified;
    if (status == 206) {
        const auto range = ParseContentRange(contentRange);
        if (!range || range->first != offset ||
            (range->total && job.total >= 0 && static_cast<int64_t>(*range->total) != job.total)) {
            mismatch = true;
            return false;
        }
        if (job.total < 0 && range->total)
            job.total = static_cast<int64_t>(*range->total);
        if (job.validator.empty())
            job.validator = chosenValidator;
        // The first answer to "bytes=0-" shows that the server takes ranges.
        if (job.mayAddConnections && range->total && job.pieces.size() == 1 && offset == 0)
            job.SplitInto(*range->total);
        // Whatever the first answer was, it settled how many connections there are.
        job.mayAddConnections = false;
        return true;
    }
    // A whole file: ranges are not supported, or the file changed since the bytes held.
    if (piece.start != 0) {
        mismatch = true;
        return false;
    }
    if (offset != 0) {
        // Only one connection is running (a split needs a range answer first), so the file
        // can be cut back under this very answer.
        if (job.pieces.size() != 1 || !job.RestartInPlace()) {
            mismatch = true;
            return false;
        }
        offset = 0;
    }
    job.validator = chosenValidator;
    curl_off_t length = -1;
    curl_easy_getinfo(handle.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    job.total = length;
    if (job.mayAddConnections && acceptsRanges && length > 0 && job.pieces.size() == 1)
        job.SplitInto(static_cast<uint64_t>(length));
    job.mayAddConnections = false;
    return true;
}

size_t TransferJob::State::OnBody(char* data, size_t size, size_t count, void* context) {
    // Anything short of the full chunk makes the library fail the transfer with a write error.
    auto& attempt = *static_cast<Attempt*>(context);
    const size_t bytes = size * count;
    try {
        if (!attempt.decided && !attempt.Decide())
            return 0;
    } catch (...) {
        // No exception may cross the library; a failure to decide ends this attempt only.
        attempt.mismatch = true;
        return 0;
    }
    Piece& piece = attempt.piece;
    const uint64_t at = attempt.offset + attempt.written;
    size_t take = bytes;
    if (piece.end && at + take >= *piece.end) {
        take = static_cast<size_t>(*piece.end - std::min(at, *piece.end));
        attempt.pieceFull = true;
    }
    if (take > 0 && !attempt.job.Write(at, {data, take})) {
        attempt.writeFailed = true;
        return 0;
    }
    attempt.written += take;
    piece.next = at + take;
    attempt.job.anyBytes = true;
    // The rest of this answer is another piece's: it is stopped here, and the write error that
    // follows counts as the piece's success.
    return take == bytes ? bytes : 0;
}

size_t TransferJob::State::OnHeader(char* data, size_t size, size_t count, void* context) {
    auto& attempt = *static_cast<Attempt*>(context);
    const size_t bytes = size * count;
    try {
        const std::string_view line(data, bytes);
        if (line.starts_with("HTTP/")) {
            attempt.etag.clear();
            attempt.lastModified.clear();
            attempt.contentRange.clear();
            attempt.acceptsRanges = false;
            return bytes;
        }
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos)
            return bytes;
        const std::string_view name = line.substr(0, colon);
        const std::string value = Trimmed(line.substr(colon + 1));
        if (NameIs(name, "etag"))
            attempt.etag = value;
        else if (NameIs(name, "last-modified"))
            attempt.lastModified = value;
        else if (NameIs(name, "content-range"))
            attempt.contentRange = value;
        else if (NameIs(name, "accept-ranges"))
            attempt.acceptsRanges = value == "bytes";
    } catch (...) {
        return 0; // no memory for a header: the attempt fails as a network one
    }
    return bytes;
}

int TransferJob::State::OnProgress(void* context, curl_off_t, curl_off_t downloaded, curl_off_t,
                                   curl_off_t) {
    auto& attempt = *static_cast<Attempt*>(context);
    State& self = attempt.job;
    if (attempt.stallWatch.Stalled(static_cast<uint64_t>(downloaded), Clock::now())) {
        attempt.stalled = true;
        return 1; // ends the transfer with CURLE_ABORTED_BY_CALLBACK
    }
    // A redirect's or an error page's own length is no figure of the installer's.
    if (!attempt.decided || self.total <= 0)
        return 0;
    // Once the length is known, the room for it is set aside: a full disk fails the download
    // at once instead of after gigabytes.
    if (!self.reserved) {
        self.reserved = true;
        if (!self.file->Reserve(static_cast<uint64_t>(self.total))) {
            attempt.noRoom = true;
            return 1;
        }
    }
    self.OfferProgress();
    return 0;
}

// Runs before every request, redirects included: once the chain has reached https it must not
// fall back to plain http.
int TransferJob::State::BeforeRequest(void* context, char*, char*, int, int) {
    auto& attempt = *static_cast<Attempt*>(context);
    char* current = nullptr;
    curl_easy_getinfo(attempt.handle.get(), CURLINFO_EFFECTIVE_URL, &current);
    if (current && UrlScheme(current) == "https") {
        attempt.reachedHttps = true;
    } else if (attempt.reachedHttps) {
        attempt.refusedDowngrade = true;
        return CURL_PREREQFUNC_ABORT;
    }
    return CURL_PREREQFUNC_OK;
}

uint64_t TransferJob::State::Received() const {
    uint64_t received = 0;
    for (const auto& piece : pieces)
        received += piece->next - piece->start;
    return received;
}

void TransferJob::State::OfferProgress() {
    if (total <= 0)
        return;
    if (auto message = progress.Offer(Received(), total, Clock::now()))
        post(*message);
}

bool TransferJob::State::Write(uint64_t offset, std::string_view bytes) {
    if (!file->WriteAt(offset, bytes))
        return false;
    // Bytes that continue the hashed part go into the hash as they are written; any others are
    // read back once the part before them is complete.
    if (hash && offset == hashedUpTo) {
        hash->Update(bytes);
        hashedUpTo += bytes.size();
    }
    return true;
}

bool TransferJob::State::CatchUpHash(uint64_t upTo) {
    if (!hash)
        return true;
    std::string buffer;
    while (hashedUpTo < upTo) {
        const size_t size =
            static_cast<size_t>(std::min<uint64_t>(kReadBackPiece, upTo - hashedUpTo));
        if (!file->ReadAt(hashedUpTo, size, buffer) || buffer.empty())
            return false;
        hash->Update(buffer);
        hashedUpTo += buffer.size();
    }
    return true;
}

// The server sent something that does not continue what the file holds: everything goes, and
// one connection fetches the file again from its first byte.
bool TransferJob::State::StartOver() {
    uint64_t furthest = Received();
    for (auto& piece : pieces) {
        furthest = std::max(furthest, piece->furthest);
        piece->attempt.reset();
    }
    pieces.clear();
    auto piece = std::make_unique<Piece>();
    piece->furthest = furthest;
    pieces.push_back(std::move(piece));
    mayAddConnections = false;
    return ForgetWhatWasWritten();
}

// Like StartOver, but under the running answer of the only piece, which now starts at byte 0.
bool TransferJob::State::RestartInPlace() {
    Piece& only = *pieces.front();
    only.next = 0;
    only.end.reset();
    return ForgetWhatWasWritten();
}

// What both ways of starting over share: the old answer's validator, length and hash go, and so
// do the bytes already in the file.
bool TransferJob::State::ForgetWhatWasWritten() {
    validator.clear();
    total = -1;
    if (hash)
        hash->Reset();
    hashedUpTo = 0;
    return file->Discard();
}

// The first piece keeps its connection and ends at its share; the others start on new ones.
void TransferJob::State::SplitInto(uint64_t length) {
    mayAddConnections = false;
    const int count = limits.connections;
    if (count <= 1 || length < limits.splitFrom || validator.empty())
        return;
    const uint64_t share = length / static_cast<uint64_t>(count);
    pieces.front()->end = share;
    for (int i = 1; i < count; ++i) {
        auto piece = std::make_unique<Piece>();
        piece->start = piece->next = piece->furthest = share * static_cast<uint64_t>(i);
        piece->end = i + 1 == count ? length : share * static_cast<uint64_t>(i + 1);
        pieces.push_back(std::move(piece));
    }
}

// Every easy handle the job makes is set up here, and only here.
bool ConfigureTransfer(CURL* h, const std::string& url, const TransferLimits& limits, void* attempt,
                       curl_write_callback onBody, curl_write_callback onHeader,
                       curl_xferinfo_callback onProgress, curl_prereq_callback beforeRequest,
                       curl_slist* headers, const std::optional<std::string>& proxy) {
    // Each of these carries a rule: only http and https, also for redirects; a bounded redirect
    // chain; error statuses fail; time limits; no signals on a worker thread; where the body
    // goes; the stall check; no fall-back from https to http. A library that refuses one would
    // make a transfer that breaks it, so none is made.
    const CheckedOptions rules =
        CheckedOptions(h)
            .Set(CURLOPT_URL, url.c_str())
            .Set(CURLOPT_PROTOCOLS_STR, "http,https")
            .Set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https")
            .Set(CURLOPT_FOLLOWLOCATION, 1L)
            .Set(CURLOPT_MAXREDIRS, limits.maxRedirects)
            .Set(CURLOPT_FAILONERROR, 1L)
            .Set(CURLOPT_NOSIGNAL, 1L)
            .Set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits.connect.count()))
            .Set(CURLOPT_WRITEFUNCTION, onBody)
            .Set(CURLOPT_WRITEDATA, attempt)
            .Set(CURLOPT_HEADERFUNCTION, onHeader)
            .Set(CURLOPT_HEADERDATA, attempt)
            .Set(CURLOPT_NOPROGRESS, 0L)
            .Set(CURLOPT_XFERINFOFUNCTION, onProgress)
            .Set(CURLOPT_XFERINFODATA, attempt)
            .Set(CURLOPT_PREREQFUNCTION, beforeRequest)
            .Set(CURLOPT_PREREQDATA, attempt)
            .Set(CURLOPT_HTTPHEADER, headers);
    if (!rules.ok() || !ApplyProxyAndUserAgent(h, proxy))
        return false;
    // Larger chunks than the library's 16 KiB mean fewer callbacks and writes per megabyte;
    // the command-line tool uses the same size. Only speed depends on it, so a refusal is
    // no reason to fail.
    curl_easy_setopt(h, CURLOPT_BUFFERSIZE, 100L * 1024);
    return true;
}

bool TransferJob::State::StartAttempt(Piece& piece) {
    auto attempt = std::make_unique<Attempt>(*this, piece);
    if (!attempt->handle)
        return false;
    attempt->offset = piece.next;
    std::string range;
    if (piece.next > 0 || piece.end) {
        // A range that continues or fetches a piece is only asked for with the validator, so
        // that bytes of a changed file are never put after bytes of the old one.
        range = "Range: bytes=" + std::to_string(piece.next) + "-" +
                (piece.end ? std::to_string(*piece.end - 1) : std::string());
        attempt->ranged = true;
    } else if (mayAddConnections) {
        // The answer to this shows whether the server takes ranges, at no cost when it does not.
        range = "Range: bytes=0-";
        attempt->ranged = true;
    }
    if (!range.empty()) {
        attempt->headers.reset(curl_slist_append(nullptr, range.c_str()));
        if (!attempt->headers)
            return false;
        if (!validator.empty()) {
            curl_slist* more =
                curl_slist_append(attempt->headers.get(), ("If-Range: " + validator).c_str());
            if (!more)
                return false;
        }
    }
    Attempt* raw = attempt.get();
    if (!ConfigureTransfer(raw->handle.get(), url, limits, raw, &State::OnBody, &State::OnHeader,
                           &State::OnProgress, &State::BeforeRequest, raw->headers.get(),
                           system.ProxyFor(url)))
        return false;
    raw->membership = std::make_unique<MultiMembership>(multi.get(), raw->handle.get());
    if (!raw->membership->added())
        return false;
    piece.attempt = std::move(attempt);
    return true;
}

std::optional<DownloadFailure> TransferJob::State::Finished(Piece& piece, CURLcode result) {
    Attempt& attempt = *piece.attempt;
    const long status = attempt.Status();
    const bool cutAtPieceEnd =
        attempt.pieceFull && !attempt.writeFailed && result == CURLE_WRITE_ERROR;
    if (result == CURLE_OK || cutAtPieceEnd) {
        if (!attempt.pieceFull && (status < 200 || status >= 300)) {
            // Error statuses already failed; a final answer such as 304 or a 3xx without a
            // location is no installer either.
            return DownloadFailure::Http;
        }
        if (!piece.end || piece.next >= *piece.end) {
            char* effective = nullptr;
            curl_easy_getinfo(attempt.handle.get(), CURLINFO_EFFECTIVE_URL, &effective);
            if (effective && piece.start == 0)
                effectiveUrl = effective;
            piece.done = true;
            piece.attempt.reset();
            return std::nullopt;
        }
        // A range answered short without an error: the rest is asked for again below.
        result = CURLE_PARTIAL_FILE;
    }
    const bool fromRange = attempt.ranged;
    const bool mismatch = attempt.mismatch || (fromRange && status == 416);
    const DownloadFailure reason = attempt.refusedDowngrade                ? DownloadFailure::Http
                                   : attempt.noRoom || attempt.writeFailed ? DownloadFailure::File
                                   : attempt.stalled || mismatch ? DownloadFailure::Network
                                                                 : FailureFromCurl(result);
    piece.attempt.reset();
    if (mismatch) {
        // Counted like an attempt without new bytes, so that a server that keeps answering
        // ranges wrongly cannot keep the worker going for ever.
        const int barren = piece.barren + 1;
        if (!StartOver())
            return DownloadFailure::File;
        pieces.front()->barren = barren;
        return barren > limits.retries ? std::optional(DownloadFailure::Network) : std::nullopt;
    }
    if (reason != DownloadFailure::Network || !anyBytes)
        return reason;
    const bool brought = piece.next > piece.furthest;
    piece.furthest = std::max(piece.furthest, piece.next);
    piece.barren = brought ? 0 : piece.barren + 1;
    if (piece.barren >= limits.retries)
        return DownloadFailure::Network;
    piece.notBefore = Clock::now() + limits.retryBackoff * (1 << std::min(piece.barren, 16));
    // Without a validator a range could continue another version of the file; the file is
    // fetched again from its first byte instead.
    if (validator.empty() && piece.next > 0) {
        const int barren = piece.barren;
        const auto notBefore = piece.notBefore;
        if (!StartOver())
            return DownloadFailure::File;
        pieces.front()->barren = barren;
        pieces.front()->notBefore = notBefore;
    }
    return std::nullopt;
}

std::optional<DownloadFailure> TransferJob::State::Transfer() {
    for (;;) {
        const auto now = Clock::now();
        bool allDone = true;
        auto wait = std::chrono::milliseconds(kLongestWaitMs);
        for (const auto& entry : pieces) {
            Piece& piece = *entry;
            if (piece.done)
                continue;
            allDone = false;
            if (piece.attempt)
                continue;
            if (now < piece.notBefore) {
                wait = std::min(
                    wait, std::chrono::ceil<std::chrono::milliseconds>(piece.notBefore - now));
                continue;
            }
            // Bytes a piece already holds go into the hash before new ones follow them.
            if (piece.start <= hashedUpTo && !CatchUpHash(piece.next))
                return DownloadFailure::File;
            if (!StartAttempt(piece))
                return DownloadFailure::Network;
        }
        if (allDone)
            return std::nullopt;
        int running = 0;
        if (curl_multi_perform(multi.get(), &running) != CURLM_OK)
            return DownloadFailure::Network;
        if (abort.load())
            return std::nullopt;
        int queued = 0;
        while (const CURLMsg* message = curl_multi_info_read(multi.get(), &queued)) {
            if (message->msg != CURLMSG_DONE)
                continue;
            const CURL* easy = message->easy_handle;
            const CURLcode result = message->data.result;
            // Finished may replace the pieces (starting over), so the search ends with it.
            for (const auto& entry : pieces) {
                Piece& piece = *entry;
                if (!piece.attempt || piece.attempt->handle.get() != easy)
                    continue;
                if (auto failure = Finished(piece, result))
                    return failure;
                break;
            }
        }
        // The owner's wake-up ends the wait at once; otherwise the library's own timers do.
        if (curl_multi_poll(multi.get(), nullptr, 0,
                            static_cast<int>(std::max<int64_t>(wait.count(), 1)),
                            nullptr) != CURLM_OK)
            return DownloadFailure::Network;
        if (abort.load())
            return std::nullopt;
    }
}

bool TransferJob::State::Commit() {
    if (!keepExisting) {
        savedPath = target;
        return file->Commit();
    }
    const size_t slash = target.rfind('/');
    const std::string folder =
        slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    const std::string name = target.substr(folder.size());
    // Browsers give up numbering at some point too; past it the folder is no place to save in.
    for (unsigned number = 0; number < 10'000; ++number) {
        const std::string candidate = folder + NumberedFileName(name, number);
        switch (file->CommitWithoutReplacing(candidate)) {
        case platform::CommitOutcome::Committed:
            savedPath = candidate;
            return true;
        case platform::CommitOutcome::NameTaken:
            continue;
        case platform::CommitOutcome::Failed:
            return false;
        }
    }
    return false;
}

void TransferJob::State::KeepPartial(std::unique_ptr<platform::DownloadFile> downloadFile) {
    // Only the bytes from the start that are known to be in order are worth keeping, and only
    // a validator lets the next request continue them safely.
    const uint64_t held = pieces.empty() ? 0 : pieces.front()->next;
    if (held == 0 || validator.empty() || pieces.front()->start != 0)
        return;
    kept = PartialDownload{url, target, std::move(downloadFile), held, validator};
}

void TransferJob::State::Run() {
    if (!multi)
        return Fail(DownloadFailure::Network);
    // Deleted when this returns, unless committed or kept for the page's own retry.
    std::unique_ptr<platform::DownloadFile> downloadFile;
    auto first = std::make_unique<Piece>();
    if (resume && resume->file && resume->url == url && resume->target == target &&
        !resume->validator.empty()) {
        downloadFile = std::move(resume->file);
        validator = resume->validator;
        first->next = first->furthest = resume->held;
        anyBytes = true;
    }
    resume.reset();
    if (!downloadFile)
        downloadFile = system.CreateDownloadFile(target);
    if (!downloadFile)
        return Fail(DownloadFailure::File);
    file = downloadFile.get();
    pieces.push_back(std::move(first));
    mayAddConnections = limits.connections > 1 && pieces.front()->next == 0;
    if (expected) {
        hash.emplace();
        if (!hash->ok())
            return Fail(DownloadFailure::Network);
    }

    const std::optional<DownloadFailure> failure = Transfer();
    // Every attempt leaves the multi handle before the file may go.
    for (auto& piece : pieces)
        piece->attempt.reset();
    if (abort.load())
        return; // the owner is going away and expects no message; the file deletes itself
    if (failure) {
        if (*failure == DownloadFailure::Network)
            KeepPartial(std::move(downloadFile));
        return Fail(*failure);
    }

    const uint64_t length = total > 0 ? static_cast<uint64_t>(total) : Received();
    if (expected) {
        // One connection fed the hash as it wrote; only ranges written out of order (several
        // connections) are read back here.
        if (!CatchUpHash(length))
            return Fail(DownloadFailure::File);
        const std::optional<Sha256Digest> digest = hash->Finish();
        if (!digest)
            return Fail(DownloadFailure::Network);
        if (*digest != *expected)
            return Fail(DownloadFailure::Verify);
    }

    RecordOrigin(*file, effectiveUrl.empty() ? url : effectiveUrl);
    if (!Commit())
        return Fail(DownloadFailure::File);

    // The progress callback need not run after the last bytes, so the final figures are
    // handed over here, ahead of the finished message.
    if (total > 0) {
        if (auto message = progress.Final(Received(), total))
            post(*message);
    }
    ended.store(true);
    post(HostMessage{WM_DNLD_FINISHED, 0, 0});
}

TransferJob::TransferJob(platform::System& system, std::string url, std::string target,
                         TransferLimits limits, Post post)
    : state_(std::make_unique<State>(system, std::move(url), std::move(target), limits,
                                     std::move(post))) {}

TransferJob::~TransferJob() {
    if (!state_->worker.joinable())
        return;
    state_->abort.store(true);
    if (state_->multi)
        curl_multi_wakeup(state_->multi.get());
    state_->worker.join();
}

void TransferJob::ResumeFrom(PartialDownload partial) {
    state_->resume = std::move(partial);
}

void TransferJob::ExpectSha256(const Sha256Digest& digest) {
    state_->expected = digest;
}

bool TransferJob::Start() {
    if (state_->worker.joinable())
        return false;
    try {
        state_->worker = std::thread([state = state_.get()] { state->Run(); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

bool TransferJob::Ended() const {
    return state_->ended.load();
}

void TransferJob::KeepExistingFiles() {
    state_->keepExisting = true;
}

std::string TransferJob::SavedPath() {
    if (!state_->ended.load())
        return {};
    if (state_->worker.joinable())
        state_->worker.join();
    return state_->savedPath;
}

std::optional<PartialDownload> TransferJob::TakePartial() {
    if (!state_->ended.load())
        return std::nullopt;
    if (state_->worker.joinable())
        state_->worker.join();
    return std::exchange(state_->kept, std::nullopt);
}

ProgressFigures TransferJob::TakeProgress() {
    return state_->progress.Take();
}

} // namespace tarvik::download
