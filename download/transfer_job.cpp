#include "download/transfer_job.h"

#include "common/curl/checked_options.h"
#include "common/curl/curl_handle.h"
#include "common/curl/request_route.h"
#include "common/curl/web_url.h"
#include "common/download_failure.h"
#include "common/log.h"
#include "download/failure_from_curl.h"
#include "download/installer_file_name.h"
#include "download/origin_attribute.h"
#include "download/progress_gate.h"
#include "download/stall_watch.h"
#include "download/transfer_answer.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace tarvik::download {
namespace {

using Clock = std::chrono::steady_clock;

// The piece size in which parts of the file are read back for the hash.
constexpr size_t kReadBackPiece = 1024 * 1024;
// How much of another connection's bytes the hash reads back between two turns of the
// transfer's loop, so that the connections are still served promptly meanwhile.
constexpr uint64_t kChaseStep = 4 * kReadBackPiece;

// A signature file holds four short lines; anything much longer is no signature.
constexpr size_t kSignatureFileLimit = 64 * 1024;
// A legacy signature signs the whole file, which the check needs in memory at once (Ed25519
// cannot take a file in pieces); larger files need the pre-hashed form, the tool's default.
constexpr uint64_t kLegacySignedLimit = 256ull * 1024 * 1024;

// The digests of the file, fed in one pass as the bytes are written: SHA-256 when the page named
// one, BLAKE2b-512 for a pre-hashed signature.
struct FileDigests {
    std::optional<Sha256> sha256;
    std::optional<Blake2b512> blake2b;

    bool active() const { return sha256 || blake2b; }
    bool ok() const { return (!sha256 || sha256->ok()) && (!blake2b || blake2b->ok()); }
    void Update(std::string_view bytes) {
        if (sha256)
            sha256->Update(bytes);
        if (blake2b)
            blake2b->Update(bytes);
    }
    void Reset() {
        if (sha256)
            sha256->Reset();
        if (blake2b)
            blake2b->Reset();
    }
};

// The signature file's download: its body, and the rules of the installer's own transfer about
// https.
struct SignatureFetch {
    CURL* handle = nullptr;
    std::string body;
    bool tooLarge = false;
    bool reachedHttps = false;
    bool refusedDowngrade = false;
    char errorText[CURL_ERROR_SIZE] = {};

    static size_t OnBody(char* data, size_t size, size_t count, void* context) {
        auto& fetch = *static_cast<SignatureFetch*>(context);
        const size_t bytes = size * count;
        if (fetch.body.size() + bytes > kSignatureFileLimit) {
            fetch.tooLarge = true;
            return 0;
        }
        try {
            fetch.body.append(data, bytes);
        } catch (...) {
            return 0;
        }
        return bytes;
    }
    static int BeforeRequest(void* context, char*, char*, int, int) {
        auto& fetch = *static_cast<SignatureFetch*>(context);
        char* current = nullptr;
        curl_easy_getinfo(fetch.handle, CURLINFO_EFFECTIVE_URL, &current);
        if (current && UrlScheme(current) == "https") {
            fetch.reachedHttps = true;
        } else if (fetch.reachedHttps) {
            fetch.refusedDowngrade = true;
            return CURL_PREREQFUNC_ABORT;
        }
        return CURL_PREREQFUNC_OK;
    }
};

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

} // namespace

struct TransferJob::State {
    State(TransferWorkers& workers, std::string url, std::string target, TransferLimits limits,
          Post post)
        : workers(workers), system(workers.system()), url(std::move(url)),
          target(std::move(target)), limits(limits), post(std::move(post)),
          multi(curl_multi_init()), progress(limits.progressInterval) {
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
        // The attempt's number in the download, and the range it asked for, for the step log.
        int number = 0;
        std::string range;
        // Where this answer's first byte belongs, and how far the piece had ever come before.
        uint64_t offset = 0;
        uint64_t furthestBefore = 0;
        bool ranged = false;
        // What the answer means, once its first body byte (or its end without one) came.
        std::optional<Judgement> judgement;
        uint64_t written = 0;
        // Where the bytes this attempt takes end: the piece's end, the answer's own, the file's.
        std::optional<uint64_t> limit;
        StallWatch stallWatch{job.limits.lowSpeedBytesPerSecond, job.limits.lowSpeedTime};
        AnswerHeaders answer;
        char errorText[CURL_ERROR_SIZE] = {};
        // Why the library was stopped from here, if it was.
        bool stalled = false;
        bool noRoom = false;
        bool writeFailed = false;
        bool reachedHttps = false;
        bool refusedDowngrade = false;
        // The answer cannot continue what is held: the download starts over.
        bool mismatch = false;
        // The answer is no installer: the download fails with "http".
        bool refused = false;
        // Every byte this attempt may take has come; the rest of the answer is not taken.
        bool full = false;

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
        // Retries in a row without meaningful progress, attempts in a row that brought nothing
        // new (they set the wait), and when the next attempt may start.
        int failures = 0;
        int emptyInRow = 0;
        Clock::time_point notBefore{};
        std::unique_ptr<Attempt> attempt;
    };

    enum class Phase {
        Running,   // cancellable
        Cancelled, // Cancel stopped it: nothing more is posted
        Decided,   // past the point of no return, or a failure is being posted
    };

    void Run();
    void RunTransfer();
    // Runs the pieces to their end; nothing on success or abort (see `abort`).
    std::optional<DownloadFailure> Transfer();
    bool StartAttempt(Piece& piece);
    // What the end of an attempt means: nothing to carry on, or the download's failure.
    std::optional<DownloadFailure> Finished(Piece& piece, CURLcode result);
    std::optional<DownloadFailure> Retry(Piece& piece, Attempt& attempt, CURLcode result);
    bool Complete(const Piece& piece, const Attempt& attempt, CURLcode result) const;
    void LogEnd(const Attempt& attempt, CURLcode result, const std::string& next) const;
    bool ChargeRetry() { return ++retriesUsed <= limits.retryBudget; }
    // "K of L retries, N of M in a row without progress", for the step log.
    std::string RetryCounts(int failures) const {
        return std::to_string(retriesUsed) + " of " + std::to_string(limits.retryBudget) +
               " retries, " + std::to_string(failures) + " of " + std::to_string(limits.retries) +
               " in a row without progress";
    }
    bool StartOver();
    bool RestartInPlace();
    bool ForgetWhatWasWritten();
    void SplitInto(uint64_t length);
    bool Write(uint64_t offset, std::string_view bytes);
    // Feeds the hash with the file's bytes that it has not taken in yet, up to `upTo`; false on
    // a read error or when the job is stopped meanwhile.
    bool CatchUpHash(uint64_t upTo);
    // With several connections, the bytes right after the hashed part belong to a range another
    // connection is writing: they are read back while the transfer goes on, a step at a time, up
    // to where that connection has come, and from there its writes are hashed as they come. So
    // the end of the download does not wait for most of the file to be read back. False as for
    // CatchUpHash.
    bool ChaseHash();
    uint64_t Received() const;
    void OfferProgress();
    // Tells the owner that a connection is being made again (WM_DL_RETRY, numbered).
    void TellRetry();
    // Decides the outcome, once: false when the job was cancelled or let go first.
    bool PassPointOfNoReturn();
    // Ends with a failure: the temporary file goes first (unless kept for the page's retry),
    // then the message, unless the job was cancelled or let go.
    void Fail(DownloadFailure failure, std::unique_ptr<platform::DownloadFile>& downloadFile);
    std::optional<PartialDownload> TakeHeld(std::unique_ptr<platform::DownloadFile> downloadFile);
    // Before the transfer: the signature is at hand, readable and by the right key. Nothing when
    // it is (or the job was stopped), else the download's failure.
    std::optional<DownloadFailure> PrepareSignature();
    // The signature file beside the installer; nothing when it could not be fetched (`failure`
    // says why) or the job was stopped.
    std::optional<std::string> FetchSignature(DownloadFailure& failure);
    // After the point of no return: whether the complete file's signature holds.
    bool SignatureHolds(uint64_t length);
    // Puts the file in place; the path it got, or nothing.
    std::optional<std::string> Commit();

    static size_t OnBody(char* data, size_t size, size_t count, void* context);
    static size_t OnHeader(char* data, size_t size, size_t count, void* context);
    static int OnProgress(void* context, curl_off_t downloadTotal, curl_off_t downloaded,
                          curl_off_t uploadTotal, curl_off_t uploaded);
    static int BeforeRequest(void* context, char* remoteIp, char* localIp, int remotePort,
                             int localPort);

    TransferWorkers& workers;
    platform::System& system;
    const std::string url;
    const std::string target;
    const TransferLimits limits;

    // Between the owner and the worker.
    std::mutex mutex;
    Post post; // emptied when the owner lets the job go
    Phase phase = Phase::Running;
    bool released = false;               // the owner has let the job go
    std::string savedPath;               // where the file went, set before the finished message
    std::optional<PartialDownload> kept; // set before the failed message
    // Set by Cancel and by the owner letting go; the worker stops at its next check.
    std::atomic<bool> abort{false};
    // Made before the worker starts, so the owner can always wake a waiting worker.
    const CurlMulti multi;
    // Requested with `abort`: ends a proxy lookup the worker may be waiting on.
    std::stop_source stopLookups;
    ProgressGate progress;

    // Owner only.
    bool started = false;
    // Set before Start.
    std::optional<PartialDownload> resume;
    std::optional<Sha256Digest> expected;
    bool signatureRequired = false;
    std::optional<MinisignKey> signingKey;
    std::optional<std::string> signatureText;
    std::string publisher;
    bool keepExisting = false;

    // Worker only, valid during Run.
    platform::DownloadFile* file = nullptr;
    std::vector<std::unique_ptr<Piece>> pieces;
    // The whole file's length once an answer told it.
    std::optional<uint64_t> total;
    bool reserved = false;
    std::string validator;
    // Whether any body byte has arrived: only then is a network failure retried.
    bool anyBytes = false;
    // Several connections may still be used; off once the server showed it cannot serve them.
    bool mayAddConnections = false;
    FileDigests hash;
    uint64_t hashedUpTo = 0;
    std::optional<MinisignSignature> signature;
    std::string effectiveUrl;
    int attempts = 0;
    int retriesUsed = 0;
};

// Decides, at the first byte of an answer (or at its end when it had none), what the answer is,
// and sets the download up for it.
bool TransferJob::State::Attempt::Decide() {
    curl_off_t length = -1;
    curl_easy_getinfo(handle.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    const Question asked{offset, ranged, job.validator, job.total};
    judgement = Judge(asked, Status(), answer,
                      length >= 0 ? std::optional(static_cast<uint64_t>(length)) : std::nullopt);
    switch (judgement->verdict) {
    case Verdict::Continues:
        if (job.validator.empty())
            job.validator = judgement->validator;
        if (!job.total)
            job.total = judgement->total;
        // The first answer to "bytes=0-" shows that the server takes ranges.
        if (job.mayAddConnections && job.total && job.pieces.size() == 1 && offset == 0)
            job.SplitInto(*job.total);
        break;
    case Verdict::WholeFile:
        // A whole file only fits the only piece, from byte 0: with several pieces the others
        // hold bytes of a version this answer may not be.
        if (piece.start != 0 || job.pieces.size() != 1) {
            mismatch = true;
            return false;
        }
        if (offset != 0) {
            // The file is cut back under this very answer, which starts it again.
            if (!job.RestartInPlace()) {
                writeFailed = true;
                return false;
            }
            offset = 0;
        } else if (job.total != judgement->total) {
            // Nothing is held yet, but room set aside for another length is the wrong room.
            job.reserved = false;
        }
        job.validator = judgement->validator;
        job.total = judgement->total;
        if (job.mayAddConnections && judgement->servesRanges && job.total && *job.total > 0)
            job.SplitInto(*job.total);
        break;
    case Verdict::StartOver:
        mismatch = true;
        return false;
    case Verdict::Refused:
        refused = true;
        return false;
    }
    // Whatever the first answer was, it settled how many connections there are.
    job.mayAddConnections = false;
    for (const std::optional<uint64_t> end : {piece.end, judgement->end, job.total}) {
        if (end)
            limit = limit ? std::min(*limit, *end) : *end;
    }
    return true;
}

size_t TransferJob::State::OnBody(char* data, size_t size, size_t count, void* context) {
    // Anything short of the full chunk makes the library fail the transfer with a write error.
    auto& attempt = *static_cast<Attempt*>(context);
    const size_t bytes = size * count;
    try {
        if (!attempt.judgement && !attempt.Decide())
            return 0;
    } catch (...) {
        // No exception may cross the library; a failure to decide ends this attempt only.
        attempt.mismatch = true;
        return 0;
    }
    Piece& piece = attempt.piece;
    const uint64_t at = attempt.offset + attempt.written;
    size_t take = bytes;
    if (attempt.limit && at + take >= *attempt.limit) {
        take = static_cast<size_t>(*attempt.limit - std::min(at, *attempt.limit));
        attempt.full = true;
    }
    if (take > 0 && !attempt.job.Write(at, {data, take})) {
        attempt.writeFailed = true;
        return 0;
    }
    attempt.written += take;
    piece.next = at + take;
    attempt.job.anyBytes = true;
    // The rest of this answer is not taken (another piece's bytes, or more than the answer
    // itself announced): it is stopped here, and the write error that follows is no failure.
    return take == bytes ? bytes : 0;
}

size_t TransferJob::State::OnHeader(char* data, size_t size, size_t count, void* context) {
    auto& attempt = *static_cast<Attempt*>(context);
    const size_t bytes = size * count;
    try {
        attempt.answer.Take(std::string_view(data, bytes));
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
    if (!attempt.judgement)
        return 0;
    if (!self.total || *self.total == 0) {
        // Without a length the page is still shown the bytes so far (with a total of 0).
        try {
            self.OfferProgress();
        } catch (...) {
            // A progress message that cannot be posted is only a figure the page misses.
        }
        return 0;
    }
    // Once the length is known, the room for it is set aside: a full disk fails the download
    // at once instead of after gigabytes. A start-over cuts the file back and frees the room,
    // so it is set aside again then.
    if (!self.reserved) {
        self.reserved = true;
        if (!self.file->Reserve(*self.total)) {
            attempt.noRoom = true;
            return 1;
        }
    }
    try {
        self.OfferProgress();
    } catch (...) {
        // A progress message that cannot be posted is only a figure the page misses.
    }
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
    const uint64_t received = Received();
    // Without a length, a figure only says something once bytes of the installer came.
    const int64_t length = total ? static_cast<int64_t>(*total) : 0;
    if (length == 0 && received == 0)
        return;
    const auto message = progress.Offer(received, length, Clock::now());
    if (!message)
        return;
    const std::lock_guard lock(mutex);
    if (phase != Phase::Cancelled && !released)
        post(*message);
}

void TransferJob::State::TellRetry() {
    const std::lock_guard lock(mutex);
    if (phase == Phase::Cancelled || released)
        return;
    // Counted over the whole download, so that a page can tell one long outage from many.
    post(HostMessage{WM_DL_RETRY, static_cast<uint64_t>(retriesUsed), 0});
}

bool TransferJob::State::Write(uint64_t offset, std::string_view bytes) {
    if (!file->WriteAt(offset, bytes))
        return false;
    // Bytes that continue the hashed part go into the hash as they are written; any others are
    // read back once the part before them is complete.
    if (hash.active() && offset == hashedUpTo) {
        hash.Update(bytes);
        hashedUpTo += bytes.size();
    }
    return true;
}

bool TransferJob::State::CatchUpHash(uint64_t upTo) {
    if (!hash.active())
        return true;
    std::string buffer;
    while (hashedUpTo < upTo) {
        // Reading back a large file takes a while; a job let go meanwhile has no use for it.
        if (abort.load())
            return false;
        const size_t size =
            static_cast<size_t>(std::min<uint64_t>(kReadBackPiece, upTo - hashedUpTo));
        if (!file->ReadAt(hashedUpTo, size, buffer) || buffer.empty())
            return false;
        hash.Update(buffer);
        hashedUpTo += buffer.size();
    }
    return true;
}

bool TransferJob::State::ChaseHash() {
    if (!hash.active())
        return true;
    for (const auto& piece : pieces) {
        if (piece->start <= hashedUpTo && hashedUpTo < piece->next)
            return CatchUpHash(std::min(piece->next, hashedUpTo + kChaseStep));
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
// do the bytes already in the file, with the room set aside for them.
bool TransferJob::State::ForgetWhatWasWritten() {
    validator.clear();
    total.reset();
    reserved = false;
    hash.Reset();
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
    // Every range holds at least a byte.
    if (share == 0)
        return;
    pieces.front()->end = share;
    for (int i = 1; i < count; ++i) {
        auto piece = std::make_unique<Piece>();
        piece->start = piece->next = piece->furthest = share * static_cast<uint64_t>(i);
        piece->end = i + 1 == count ? length : share * static_cast<uint64_t>(i + 1);
        pieces.push_back(std::move(piece));
    }
}

namespace {

// The rules every request of a download keeps, the installer's own and its signature's alike:
// only http and https, also for redirects; a bounded redirect chain; error statuses fail; a time
// limit on connecting; no signals on a worker thread; the system's proxy and the program's user
// agent. A library that refuses one would make a request that breaks it, so none is made.
bool ApplyRequestRules(CURL* h, const std::string& url, const TransferLimits& limits,
                       const std::optional<std::string>& proxy) {
    const CheckedOptions rules =
        CheckedOptions(h)
            .Set(CURLOPT_URL, url.c_str())
            .Set(CURLOPT_PROTOCOLS_STR, "http,https")
            .Set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https")
            .Set(CURLOPT_FOLLOWLOCATION, 1L)
            .Set(CURLOPT_MAXREDIRS, limits.maxRedirects)
            .Set(CURLOPT_FAILONERROR, 1L)
            .Set(CURLOPT_NOSIGNAL, 1L)
            .Set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits.connect.count()));
    return rules.ok() && ApplyProxyAndUserAgent(h, proxy);
}

// Every easy handle of the installer's transfer is set up here, and only here.
bool ConfigureTransfer(CURL* h, const std::string& url, const TransferLimits& limits, void* attempt,
                       char* errorText, curl_write_callback onBody, curl_write_callback onHeader,
                       curl_xferinfo_callback onProgress, curl_prereq_callback beforeRequest,
                       curl_slist* headers, const std::optional<std::string>& proxy) {
    // Besides the common rules, each of these carries one too: where the body goes; the stall
    // check; no fall-back from https to http.
    if (!ApplyRequestRules(h, url, limits, proxy))
        return false;
    const CheckedOptions rules = CheckedOptions(h)
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
    if (!rules.ok())
        return false;
    // Larger chunks than the library's 16 KiB mean fewer callbacks and writes per megabyte;
    // the command-line tool uses the same size. Only speed depends on it, so a refusal is
    // no reason to fail; nor is a refused error buffer, which only adds detail to the step log.
    curl_easy_setopt(h, CURLOPT_BUFFERSIZE, 100L * 1024);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorText);
    return true;
}

} // namespace

bool TransferJob::State::StartAttempt(Piece& piece) {
    auto attempt = std::make_unique<Attempt>(*this, piece);
    if (!attempt->handle)
        return false;
    attempt->number = ++attempts;
    attempt->offset = piece.next;
    attempt->furthestBefore = piece.furthest;
    if (piece.next > 0 || piece.end) {
        // A range that continues or fetches a piece is only asked for with the validator, so
        // that bytes of a changed file are never put after bytes of the old one.
        attempt->range = "bytes=" + std::to_string(piece.next) + "-" +
                         (piece.end ? std::to_string(*piece.end - 1) : std::string());
    } else if (mayAddConnections) {
        // The answer to this shows whether the server takes ranges, at no cost when it does not.
        attempt->range = "bytes=0-";
    }
    if (!attempt->range.empty()) {
        attempt->ranged = true;
        attempt->headers.reset(curl_slist_append(nullptr, ("Range: " + attempt->range).c_str()));
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
    if (!ConfigureTransfer(raw->handle.get(), url, limits, raw, raw->errorText, &State::OnBody,
                           &State::OnHeader, &State::OnProgress, &State::BeforeRequest,
                           raw->headers.get(), system.ProxyFor(url, stopLookups.get_token())))
        return false;
    raw->membership = std::make_unique<MultiMembership>(multi.get(), raw->handle.get());
    if (!raw->membership->added())
        return false;
    piece.attempt = std::move(attempt);
    return true;
}

// A piece is complete when its bytes reach its end, or the file's length when it has none; only
// without either does a clean end of a usable answer complete it.
bool TransferJob::State::Complete(const Piece& piece, const Attempt& attempt,
                                  CURLcode result) const {
    if (piece.end)
        return piece.next >= *piece.end;
    if (total)
        return piece.next >= *total;
    return result == CURLE_OK && attempt.judgement &&
           (attempt.judgement->verdict == Verdict::Continues ||
            attempt.judgement->verdict == Verdict::WholeFile);
}

void TransferJob::State::LogEnd(const Attempt& attempt, CURLcode result,
                                const std::string& next) const {
    TARVIK_LOG("download: attempt ", attempt.number, " (",
               attempt.range.empty() ? std::string("whole file") : attempt.range, "): HTTP ",
               attempt.Status(), ", ", attempt.written, " bytes, \"",
               attempt.errorText[0] != '\0' ? std::string_view(attempt.errorText)
                                            : std::string_view(curl_easy_strerror(result)),
               "\", ", attempt.judgement ? attempt.judgement->reason : "no answer judged", "; ",
               next);
}

std::optional<DownloadFailure> TransferJob::State::Finished(Piece& piece, CURLcode result) {
    Attempt& attempt = *piece.attempt;
    // An answer without a body is judged at its end: an empty 200 to a continuation starts
    // over, a 204 is no installer, an empty range is no progress.
    if (!attempt.judgement && !attempt.refusedDowngrade && attempt.Status() != 0)
        attempt.Decide();
    if (!attempt.mismatch && !attempt.refused && !attempt.noRoom && !attempt.refusedDowngrade &&
        !attempt.writeFailed && Complete(piece, attempt, result)) {
        char* effective = nullptr;
        curl_easy_getinfo(attempt.handle.get(), CURLINFO_EFFECTIVE_URL, &effective);
        if (effective && piece.start == 0)
            effectiveUrl = effective;
        LogEnd(attempt, result, "range complete");
        piece.done = true;
        piece.attempt.reset();
        return std::nullopt;
    }
    const DownloadFailure reason =
        attempt.refusedDowngrade || attempt.refused ? DownloadFailure::Http
        : attempt.noRoom || attempt.writeFailed     ? DownloadFailure::File
        : attempt.stalled || attempt.mismatch || result == CURLE_OK || attempt.full
            // A short answer is the server's fault, not the disk's.
            ? DownloadFailure::Network
            : FailureFromCurl(result);
    if (reason != DownloadFailure::Network) {
        LogEnd(attempt, result, "fails: " + std::string(ReasonText(reason)));
        piece.attempt.reset();
        return reason;
    }
    return Retry(piece, attempt, result);
}

std::optional<DownloadFailure> TransferJob::State::Retry(Piece& piece, Attempt& attempt,
                                                         CURLcode result) {
    const auto giveUp = [&](const char* why) {
        LogEnd(attempt, result, std::string("fails: network (") + why + ")");
        piece.attempt.reset();
        return std::optional(DownloadFailure::Network);
    };
    if (attempt.mismatch) {
        // Counted like an attempt without progress, so that a server that keeps answering
        // ranges wrongly cannot keep the worker going for ever.
        const int failures = piece.failures + 1;
        if (failures >= limits.retries)
            return giveUp("retries used up");
        if (!ChargeRetry())
            return giveUp("retry budget used up");
        LogEnd(attempt, result, "starts over at once, " + RetryCounts(failures));
        TellRetry();
        if (!StartOver())
            return DownloadFailure::File;
        pieces.front()->failures = failures;
        return std::nullopt;
    }
    // Nothing ever came: the server is unreachable or refuses, and trying again soon would not
    // change that.
    if (!anyBytes)
        return giveUp("nothing received");
    const uint64_t brought =
        piece.next > attempt.furthestBefore ? piece.next - attempt.furthestBefore : 0;
    piece.furthest = std::max(piece.furthest, piece.next);
    std::optional<uint64_t> needed;
    if (const std::optional<uint64_t> end = piece.end ? piece.end : total)
        needed = *end > attempt.furthestBefore ? *end - attempt.furthestBefore : 0;
    const uint64_t meaningful = std::min(limits.meaningfulProgress, needed.value_or(UINT64_MAX));
    piece.failures = brought >= meaningful && brought > 0 ? 0 : piece.failures + 1;
    piece.emptyInRow = brought > 0 ? 0 : piece.emptyInRow + 1;
    if (piece.failures >= limits.retries)
        return giveUp("no progress");
    if (!ChargeRetry())
        return giveUp("retry budget used up");
    // An attempt that brought bytes is followed at once: the connection broke, the server works.
    // One that brought nothing waits, longer each time in a row.
    const auto wait =
        piece.emptyInRow == 0
            ? Clock::duration::zero()
            : Clock::duration(limits.retryBackoff * (1 << std::min(piece.emptyInRow - 1, 16)));
    piece.notBefore = Clock::now() + wait;
    const auto waitMs = std::chrono::duration_cast<std::chrono::milliseconds>(wait).count();
    LogEnd(attempt, result,
           (waitMs == 0 ? std::string("retry at once, ")
                        : "retry in " + std::to_string(waitMs) + " ms, ") +
               RetryCounts(piece.failures));
    piece.attempt.reset();
    TellRetry();
    // Without a validator a range could continue another version of the file; the file is
    // fetched again from its first byte instead.
    if (validator.empty() && piece.next > 0) {
        const int failures = piece.failures;
        const int emptyInRow = piece.emptyInRow;
        const auto notBefore = piece.notBefore;
        if (!StartOver())
            return DownloadFailure::File;
        pieces.front()->failures = failures;
        pieces.front()->emptyInRow = emptyInRow;
        pieces.front()->notBefore = notBefore;
    }
    return std::nullopt;
}

std::optional<DownloadFailure> TransferJob::State::Transfer() {
    for (;;) {
        const auto now = Clock::now();
        bool allDone = true;
        auto wait = limits.longestWait;
        for (const auto& entry : pieces) {
            Piece& piece = *entry;
            if (piece.done)
                continue;
            allDone = false;
            if (piece.attempt)
                continue;
            if (piece.end && piece.next >= *piece.end) {
                piece.done = true;
                continue;
            }
            if (now < piece.notBefore) {
                wait = std::min(
                    wait, std::chrono::ceil<std::chrono::milliseconds>(piece.notBefore - now));
                continue;
            }
            // The proxy lookup on the way may take a while; a stopped job does not start it.
            if (abort.load())
                return std::nullopt;
            // Bytes a piece already holds go into the hash before new ones follow them.
            if (piece.start <= hashedUpTo && !CatchUpHash(piece.next))
                return abort.load() ? std::nullopt : std::optional(DownloadFailure::File);
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
        bool answered = false;
        int queued = 0;
        while (const CURLMsg* message = curl_multi_info_read(multi.get(), &queued)) {
            if (message->msg != CURLMSG_DONE)
                continue;
            const CURL* easy = message->easy_handle;
            const CURLcode result = message->data.result;
            answered = true;
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
        if (!ChaseHash())
            return abort.load() ? std::nullopt : std::optional(DownloadFailure::File);
        // An answer that ended is followed at once by what comes next (another attempt, or the
        // end of the download), not after the wait below.
        if (answered)
            continue;
        // The owner's wake-up ends the wait at once; otherwise the library's own timers do.
        if (curl_multi_poll(multi.get(), nullptr, 0,
                            static_cast<int>(std::max<int64_t>(wait.count(), 1)),
                            nullptr) != CURLM_OK)
            return DownloadFailure::Network;
        if (abort.load())
            return std::nullopt;
    }
}

std::optional<std::string> TransferJob::State::Commit() {
    if (!keepExisting) {
        if (!file->Commit())
            return std::nullopt;
        return target;
    }
    // Browsers give up numbering at some point too; past it the folder is no place to save in.
    for (unsigned number = 0; number < 10'000; ++number) {
        const std::string candidate = NumberedTarget(target, number);
        switch (file->CommitWithoutReplacing(candidate)) {
        case platform::CommitOutcome::Committed:
            return candidate;
        case platform::CommitOutcome::NameTaken:
            continue;
        case platform::CommitOutcome::Failed:
            return std::nullopt;
        }
    }
    return std::nullopt;
}

std::optional<PartialDownload>
TransferJob::State::TakeHeld(std::unique_ptr<platform::DownloadFile> downloadFile) {
    // Only a validator lets the next request continue the bytes held safely.
    if (validator.empty() || Received() == 0)
        return std::nullopt;
    PartialDownload partial{url, target, std::move(downloadFile), {}, total, validator};
    for (const auto& piece : pieces)
        partial.ranges.push_back({piece->start, piece->next, piece->end});
    return partial;
}

bool TransferJob::State::PassPointOfNoReturn() {
    const std::lock_guard lock(mutex);
    if (phase == Phase::Cancelled || released)
        return false;
    phase = Phase::Decided;
    return true;
}

void TransferJob::State::Fail(DownloadFailure failure,
                              std::unique_ptr<platform::DownloadFile>& downloadFile) {
    std::optional<PartialDownload> partial;
    if (failure == DownloadFailure::Network && downloadFile)
        partial = TakeHeld(std::move(downloadFile));
    // When the page hears of the failure, no temporary file is left behind.
    downloadFile.reset();
    const std::lock_guard lock(mutex);
    if (phase == Phase::Cancelled || released)
        return;
    phase = Phase::Decided;
    kept = std::move(partial);
    post(HostMessage{WM_DNLD_FAILED, static_cast<uint64_t>(failure), 0});
}

std::optional<DownloadFailure> TransferJob::State::PrepareSignature() {
    if (!signingKey) {
        TARVIK_LOG("download: signature: the built-in installer key is unusable");
        return DownloadFailure::Verify;
    }
    if (!signatureText) {
        DownloadFailure failure = DownloadFailure::Verify;
        signatureText = FetchSignature(failure);
        if (!signatureText)
            return failure;
    } else {
        TARVIK_LOG("download: signature: given by the page");
    }
    std::string why;
    signature = ParseMinisignSignature(*signatureText, why);
    if (!signature) {
        TARVIK_LOG("download: signature: not a minisign signature (", why, ")");
        return DownloadFailure::Verify;
    }
    // A signature by another key can never hold: the download ends before its bytes come.
    if (signature->keyId != signingKey->id) {
        TARVIK_LOG("download: signature: ", SignatureCheckText(SignatureCheck::KeyIdMismatch),
                   " (signed by key ", KeyIdText(signature->keyId), ", built-in key ",
                   KeyIdText(signingKey->id), ")");
        return DownloadFailure::Verify;
    }
    return std::nullopt;
}

std::optional<std::string> TransferJob::State::FetchSignature(DownloadFailure& failure) {
    // Beside the URL the page named, not beside where its redirects end: the page's URL is the
    // one the vendor publishes, and a redirect to a mirror need not carry the signature along.
    std::string signatureUrl = url;
    const size_t fragment = signatureUrl.find('#');
    if (fragment != std::string::npos)
        signatureUrl.erase(fragment);
    const size_t query = signatureUrl.find('?');
    signatureUrl.insert(query == std::string::npos ? signatureUrl.size() : query, ".minisig");

    const CurlEasy handle(curl_easy_init());
    if (!handle) {
        failure = DownloadFailure::Network;
        return std::nullopt;
    }
    SignatureFetch fetch;
    fetch.handle = handle.get();
    if (!ApplyRequestRules(handle.get(), signatureUrl, limits,
                           system.ProxyFor(signatureUrl, stopLookups.get_token()))) {
        failure = DownloadFailure::Network;
        return std::nullopt;
    }
    const CheckedOptions rules =
        CheckedOptions(handle.get())
            .Set(CURLOPT_LOW_SPEED_LIMIT, static_cast<long>(limits.lowSpeedBytesPerSecond))
            .Set(CURLOPT_LOW_SPEED_TIME,
                 static_cast<long>(std::max<int64_t>(
                     1, std::chrono::ceil<std::chrono::seconds>(limits.lowSpeedTime).count())))
            .Set(CURLOPT_WRITEFUNCTION, &SignatureFetch::OnBody)
            .Set(CURLOPT_WRITEDATA, &fetch)
            .Set(CURLOPT_PREREQFUNCTION, &SignatureFetch::BeforeRequest)
            .Set(CURLOPT_PREREQDATA, &fetch)
            .Set(CURLOPT_ERRORBUFFER, fetch.errorText);
    if (!rules.ok()) {
        failure = DownloadFailure::Network;
        return std::nullopt;
    }
    if (abort.load())
        return std::nullopt;
    const MultiMembership membership(multi.get(), handle.get());
    if (!membership.added()) {
        failure = DownloadFailure::Network;
        return std::nullopt;
    }
    std::optional<CURLcode> result;
    while (!result) {
        int running = 0;
        if (curl_multi_perform(multi.get(), &running) != CURLM_OK) {
            failure = DownloadFailure::Network;
            return std::nullopt;
        }
        if (abort.load())
            return std::nullopt;
        int queued = 0;
        while (const CURLMsg* message = curl_multi_info_read(multi.get(), &queued)) {
            if (message->msg == CURLMSG_DONE && message->easy_handle == handle.get())
                result = message->data.result;
        }
        // The owner's wake-up ends the wait at once when the job is stopped.
        if (!result &&
            curl_multi_poll(multi.get(), nullptr, 0, static_cast<int>(limits.longestWait.count()),
                            nullptr) != CURLM_OK) {
            failure = DownloadFailure::Network;
            return std::nullopt;
        }
        if (abort.load())
            return std::nullopt;
    }
    long status = 0;
    curl_easy_getinfo(handle.get(), CURLINFO_RESPONSE_CODE, &status);
    const std::string detail =
        fetch.errorText[0] != '\0' ? fetch.errorText : curl_easy_strerror(*result);
    if (*result == CURLE_OK) {
        TARVIK_LOG("download: signature: fetched ", LoggedUrl(signatureUrl), " (HTTP ", status,
                   ", ", fetch.body.size(), " bytes)");
        return std::move(fetch.body);
    }
    // The server answered, but without a signature (none published, refused, too large, or a
    // fall-back from https): no signed installer. A connection that failed is a network failure
    // the page may retry.
    const bool answered = status >= 400 || fetch.tooLarge || fetch.refusedDowngrade ||
                          *result == CURLE_HTTP_RETURNED_ERROR;
    failure = answered ? DownloadFailure::Verify : DownloadFailure::Network;
    TARVIK_LOG("download: signature: ", LoggedUrl(signatureUrl), " could not be fetched (HTTP ",
               status, ", \"", detail, "\"", fetch.tooLarge ? ", too large" : "", ")");
    return std::nullopt;
}

bool TransferJob::State::SignatureHolds(uint64_t length) {
    std::string message;
    if (signature->prehashed) {
        const std::optional<Blake2b512Digest> digest = hash.blake2b->Finish();
        if (!digest) {
            TARVIK_LOG("download: signature: the file's digest could not be computed");
            return false;
        }
        message.assign(digest->begin(), digest->end());
    } else {
        if (length > kLegacySignedLimit) {
            TARVIK_LOG("download: signature: a legacy signature over ", length,
                       " bytes is not checked; sign large files in the pre-hashed form");
            return false;
        }
        // The legacy form signs the file itself, so it is read back whole.
        message.reserve(static_cast<size_t>(length));
        std::string buffer;
        while (message.size() < length) {
            if (abort.load())
                return false;
            const size_t size =
                static_cast<size_t>(std::min<uint64_t>(kReadBackPiece, length - message.size()));
            if (!file->ReadAt(message.size(), size, buffer) || buffer.empty()) {
                TARVIK_LOG("download: signature: the file could not be read back");
                return false;
            }
            message += buffer;
        }
    }
    const SignatureCheck check = CheckMinisignSignature(*signingKey, *signature, message);
    if (check != SignatureCheck::Good) {
        TARVIK_LOG("download: signature: ", SignatureCheckText(check));
        return false;
    }
    TARVIK_LOG("download: signature: verified, key ", KeyIdText(signature->keyId),
               signature->prehashed ? ", pre-hashed" : ", legacy",
               ", trusted comment: ", log::Clipped(signature->trustedComment, 120));
    return true;
}

void TransferJob::State::Run() {
    try {
        RunTransfer();
    } catch (...) {
        // Out of memory on the way: whatever the file holds goes, and the page hears of it.
        std::unique_ptr<platform::DownloadFile> none;
        try {
            Fail(DownloadFailure::Network, none);
        } catch (...) {
        }
    }
}

void TransferJob::State::RunTransfer() {
    // Deleted when this returns, unless committed or kept for the page's retry.
    std::unique_ptr<platform::DownloadFile> downloadFile;
    if (!multi)
        return Fail(DownloadFailure::Network, downloadFile);
    if (resume && resume->file && resume->url == url && resume->target == target &&
        !resume->validator.empty()) {
        downloadFile = std::move(resume->file);
        validator = resume->validator;
        total = resume->total;
        for (const PartialDownload::Range& range : resume->ranges) {
            auto piece = std::make_unique<Piece>();
            piece->start = range.start;
            piece->next = piece->furthest = range.next;
            piece->end = range.end;
            piece->done = range.end && range.next >= *range.end;
            pieces.push_back(std::move(piece));
        }
        anyBytes = true;
    }
    resume.reset();
    if (pieces.empty())
        pieces.push_back(std::make_unique<Piece>());
    if (!downloadFile)
        downloadFile = system.CreateDownloadFile(target);
    if (!downloadFile)
        return Fail(DownloadFailure::File, downloadFile);
    file = downloadFile.get();
    mayAddConnections = limits.connections > 1 && pieces.size() == 1 && pieces.front()->next == 0;
    if (expected)
        hash.sha256.emplace();
    if (signatureRequired) {
        if (const std::optional<DownloadFailure> refused = PrepareSignature()) {
            if (abort.load())
                return;
            return Fail(*refused, downloadFile);
        }
        if (abort.load())
            return;
        if (signature->prehashed)
            hash.blake2b.emplace();
    }
    if (!hash.ok())
        return Fail(DownloadFailure::Network, downloadFile);

    const std::optional<DownloadFailure> failure = Transfer();
    // Every attempt leaves the multi handle before the file may go.
    for (auto& piece : pieces)
        piece->attempt.reset();
    // Stopped: nothing is posted, and the file deletes itself.
    if (abort.load())
        return;
    if (failure)
        return Fail(*failure, downloadFile);
    if (!PassPointOfNoReturn())
        return;

    const uint64_t length = total ? *total : Received();
    // One connection fed the hash as it wrote; of the ranges written out of order (several
    // connections), what the hash has not chased down yet is read back here.
    if (!CatchUpHash(length)) {
        if (abort.load())
            return;
        return Fail(DownloadFailure::File, downloadFile);
    }
    if (expected) {
        const std::optional<Sha256Digest> digest = hash.sha256->Finish();
        if (!digest)
            return Fail(DownloadFailure::Network, downloadFile);
        if (*digest != *expected) {
            TARVIK_LOG("download: the file's SHA-256 is not the one the page named");
            return Fail(DownloadFailure::Verify, downloadFile);
        }
    }
    if (signature && !SignatureHolds(length)) {
        if (abort.load())
            return;
        return Fail(DownloadFailure::Verify, downloadFile);
    }
    if (!publisher.empty()) {
        std::string reason;
        if (file->CheckPublisher(publisher, reason) != platform::PublisherCheck::Trusted) {
            TARVIK_LOG("download: publisher: ", reason);
            if (abort.load())
                return;
            return Fail(DownloadFailure::Verify, downloadFile);
        }
        TARVIK_LOG("download: publisher: ", reason);
    }

    RecordOrigin(*file, effectiveUrl.empty() ? url : effectiveUrl);
    // A job let go before its commit began leaves nothing behind; a commit once begun ends.
    if (abort.load())
        return;
    std::optional<std::string> saved = Commit();
    if (!saved)
        return Fail(DownloadFailure::File, downloadFile);

    const std::lock_guard lock(mutex);
    savedPath = std::move(*saved);
    if (released)
        return;
    // The progress callback need not run after the last bytes, so the final figures are
    // handed over here, ahead of the finished message (with a total of 0 without a length).
    const uint64_t received = Received();
    if (received > 0) {
        const int64_t length = total ? static_cast<int64_t>(*total) : 0;
        if (auto message = progress.Final(received, length))
            post(*message);
    }
    post(HostMessage{WM_DNLD_FINISHED, 0, 0});
}

TransferJob::TransferJob(TransferWorkers& workers, std::string url, std::string target,
                         TransferLimits limits, Post post)
    : state_(std::make_shared<State>(workers, std::move(url), std::move(target), limits,
                                     std::move(post))) {}

TransferJob::~TransferJob() {
    Post post;
    {
        const std::lock_guard lock(state_->mutex);
        state_->released = true;
        // Destroyed here, on the owner's thread, and never called again.
        post = std::move(state_->post);
        state_->post = nullptr;
    }
    state_->abort.store(true);
    state_->stopLookups.request_stop();
    if (state_->multi)
        curl_multi_wakeup(state_->multi.get());
}

void TransferJob::ResumeFrom(PartialDownload partial) {
    state_->resume = std::move(partial);
}

void TransferJob::ExpectSha256(const Sha256Digest& digest) {
    state_->expected = digest;
}

void TransferJob::RequireSignature(std::optional<MinisignKey> key,
                                   std::optional<std::string> signature) {
    state_->signatureRequired = true;
    state_->signingKey = key;
    state_->signatureText = std::move(signature);
}

void TransferJob::RequirePublisher(std::string publisher) {
    state_->publisher = std::move(publisher);
}

void TransferJob::KeepExistingFiles() {
    state_->keepExisting = true;
}

bool TransferJob::Start() {
    if (state_->started)
        return false;
    {
        const std::lock_guard lock(state_->mutex);
        if (state_->phase == State::Phase::Cancelled)
            return false;
    }
    state_->started = true;
    return state_->workers.Launch([state = state_] { state->Run(); });
}

bool TransferJob::Cancel() {
    {
        const std::lock_guard lock(state_->mutex);
        if (state_->phase == State::Phase::Decided)
            return false;
        state_->phase = State::Phase::Cancelled;
    }
    state_->abort.store(true);
    state_->stopLookups.request_stop();
    if (state_->multi)
        curl_multi_wakeup(state_->multi.get());
    return true;
}

std::optional<PartialDownload> TransferJob::TakePartial() {
    const std::lock_guard lock(state_->mutex);
    return std::exchange(state_->kept, std::nullopt);
}

std::string TransferJob::SavedPath() {
    const std::lock_guard lock(state_->mutex);
    return state_->savedPath;
}

ProgressFigures TransferJob::TakeProgress() {
    return state_->progress.Take();
}

} // namespace tarvik::download
