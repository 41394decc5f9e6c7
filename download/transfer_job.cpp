#include "download/transfer_job.h"

#include "common/curl/checked_options.h"
#include "common/curl/curl_handle.h"
#include "common/curl/request_route.h"
#include "common/curl/web_url.h"
#include "common/download_failure.h"
#include "download/failure_from_curl.h"
#include "download/origin_attribute.h"
#include "download/progress_gate.h"
#include "download/stall_watch.h"

#include <atomic>
#include <optional>
#include <system_error>
#include <thread>

namespace tarvik::download {
namespace {

// How long the worker sleeps in the library's wait at most; it bounds how late a stall is seen.
constexpr int kLongestWaitMs = 100;

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
    State(platform::System& system, std::string url, std::string target, TransferLimits limits,
          Post post)
        : system(system), url(std::move(url)), target(std::move(target)), limits(limits),
          post(std::move(post)), multi(curl_multi_init()), progress(limits.progressInterval),
          stallWatch(limits.lowSpeedBytesPerSecond, limits.lowSpeedTime) {}

    void Run();
    // The transfer's result; none when it was aborted.
    std::optional<CURLcode> Perform(CURL* handle);
    void Fail(DownloadFailure failure) {
        ended.store(true);
        post(HostMessage{WM_DNLD_FAILED, static_cast<uint64_t>(failure), 0});
    }

    static size_t OnBody(char* data, size_t size, size_t count, void* context);
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

    // Worker only, valid during Run.
    CURL* easy = nullptr;
    platform::DownloadFile* file = nullptr;
    StallWatch stallWatch;
    bool stalled = false;
    bool reserved = false;
    bool noRoom = false;
    bool reachedHttps = false;
    bool refusedDowngrade = false;
};

size_t TransferJob::State::OnBody(char* data, size_t size, size_t count, void* context) {
    // Anything short of the full chunk makes the library fail the transfer with a write error.
    const size_t bytes = size * count;
    return static_cast<State*>(context)->file->Append({data, bytes}) ? bytes : 0;
}

int TransferJob::State::OnProgress(void* context, curl_off_t downloadTotal, curl_off_t downloaded,
                                   curl_off_t, curl_off_t) {
    auto& self = *static_cast<State*>(context);
    const auto now = ProgressGate::Clock::now();
    if (self.stallWatch.Stalled(static_cast<uint64_t>(downloaded), now)) {
        self.stalled = true;
        return 1; // ends the transfer with CURLE_ABORTED_BY_CALLBACK
    }
    if (downloadTotal <= 0)
        return 0;
    // A redirect's or an error page's own length is no figure of the installer's.
    long status = 0;
    curl_easy_getinfo(self.easy, CURLINFO_RESPONSE_CODE, &status);
    if (status < 200 || status >= 300)
        return 0;
    // Once the length is known, the room for it is set aside: a full disk fails the download
    // at once instead of after gigabytes.
    if (!self.reserved) {
        self.reserved = true;
        if (!self.file->Reserve(static_cast<uint64_t>(downloadTotal))) {
            self.noRoom = true;
            return 1;
        }
    }
    if (auto message = self.progress.Offer(static_cast<uint64_t>(downloaded), downloadTotal, now))
        self.post(*message);
    return 0;
}

// Runs before every request, redirects included: once the chain has reached https it must not
// fall back to plain http.
int TransferJob::State::BeforeRequest(void* context, char*, char*, int, int) {
    auto& self = *static_cast<State*>(context);
    char* current = nullptr;
    curl_easy_getinfo(self.easy, CURLINFO_EFFECTIVE_URL, &current);
    if (current && UrlScheme(current) == "https") {
        self.reachedHttps = true;
    } else if (self.reachedHttps) {
        self.refusedDowngrade = true;
        return CURL_PREREQFUNC_ABORT;
    }
    return CURL_PREREQFUNC_OK;
}

std::optional<CURLcode> TransferJob::State::Perform(CURL* handle) {
    const MultiMembership membership(multi.get(), handle);
    if (!membership.added())
        return CURLE_FAILED_INIT;
    for (;;) {
        int running = 0;
        if (curl_multi_perform(multi.get(), &running) != CURLM_OK)
            return CURLE_FAILED_INIT;
        if (abort.load())
            return std::nullopt;
        if (running == 0)
            break;
        // The owner's wake-up ends the wait at once; otherwise the library's own timers do.
        if (curl_multi_poll(multi.get(), nullptr, 0, kLongestWaitMs, nullptr) != CURLM_OK)
            return CURLE_FAILED_INIT;
        if (abort.load())
            return std::nullopt;
    }
    int queued = 0;
    while (const CURLMsg* message = curl_multi_info_read(multi.get(), &queued)) {
        if (message->msg == CURLMSG_DONE && message->easy_handle == handle)
            return message->data.result;
    }
    return CURLE_FAILED_INIT;
}

void TransferJob::State::Run() {
    // No library handle is a passing shortage of resources, so the page may simply try again.
    const CurlEasy handle(curl_easy_init());
    if (!handle || !multi)
        return Fail(DownloadFailure::Network);
    // Deleted when this returns, unless committed.
    const std::unique_ptr<platform::DownloadFile> downloadFile = system.CreateDownloadFile(target);
    if (!downloadFile)
        return Fail(DownloadFailure::File);
    easy = handle.get();
    file = downloadFile.get();

    CURL* h = handle.get();
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
            .Set(CURLOPT_WRITEFUNCTION, &State::OnBody)
            .Set(CURLOPT_WRITEDATA, this)
            .Set(CURLOPT_NOPROGRESS, 0L)
            .Set(CURLOPT_XFERINFOFUNCTION, &State::OnProgress)
            .Set(CURLOPT_XFERINFODATA, this)
            .Set(CURLOPT_PREREQFUNCTION, &State::BeforeRequest)
            .Set(CURLOPT_PREREQDATA, this);
    if (!rules.ok() || !ApplyProxyAndUserAgent(h, system.ProxyFor(url)))
        return Fail(DownloadFailure::Network);
    // Larger chunks than the library's 16 KiB mean fewer callbacks and writes per megabyte;
    // the command-line tool uses the same size. Only speed depends on it, so a refusal is
    // no reason to fail.
    curl_easy_setopt(h, CURLOPT_BUFFERSIZE, 100L * 1024);

    const std::optional<CURLcode> result = Perform(h);
    if (!result)
        return; // the owner is going away and expects no message; the file deletes itself
    if (*result != CURLE_OK)
        return Fail(refusedDowngrade ? DownloadFailure::Http
                    : noRoom         ? DownloadFailure::File
                    : stalled        ? DownloadFailure::Network
                                     : FailureFromCurl(*result));
    // Error statuses already failed above; a final answer such as 304 or a 3xx without a
    // location is no installer either.
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    if (status < 200 || status >= 300)
        return Fail(DownloadFailure::Http);

    char* effectiveUrl = nullptr;
    curl_easy_getinfo(h, CURLINFO_EFFECTIVE_URL, &effectiveUrl);
    RecordOrigin(*file, effectiveUrl ? effectiveUrl : url);
    if (!file->Commit())
        return Fail(DownloadFailure::File);

    // The progress callback need not run after the last bytes, so the final figures are
    // handed over here, ahead of the finished message.
    curl_off_t received = 0;
    curl_off_t total = -1;
    curl_easy_getinfo(h, CURLINFO_SIZE_DOWNLOAD_T, &received);
    curl_easy_getinfo(h, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &total);
    if (total > 0) {
        if (auto message = progress.Final(static_cast<uint64_t>(received), total))
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

ProgressFigures TransferJob::TakeProgress() {
    return state_->progress.Take();
}

} // namespace tarvik::download
