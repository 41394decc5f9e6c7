#include "transfer_fixture.h"

#ifdef _WIN32
#include "platform/win32/win32_system.h"
#else
#include "platform/posix/posix_system.h"
#endif

#include <sstream>
#include <thread>

namespace tarvik::download::testing {

using namespace std::chrono_literals;

std::string PatternBody(size_t size) {
    std::string body(size, '\0');
    for (size_t i = 0; i < size; ++i)
        body[i] = static_cast<char>((i * 131 + i / 4096) & 0xFF);
    return body;
}

ScriptedServer::ScriptedServer() {
    auto& http = server_.server;
    // Recorded before the answer goes out, so a client that has the answer finds it recorded.
    http.set_pre_routing_handler([this](const httplib::Request& request, httplib::Response&) {
        const std::lock_guard lock(mutex_);
        answered_.push_back(request.path);
        return httplib::Server::HandlerResponse::Unhandled;
    });
    http.Get("/sized", [](const httplib::Request&, httplib::Response& response) {
        response.set_content(PatternBody(kSizedBody), "application/octet-stream");
    });
    http.Get("/chunked", [](const httplib::Request&, httplib::Response& response) {
        response.set_chunked_content_provider(
            "application/octet-stream", [](size_t offset, httplib::DataSink& sink) {
                static const std::string body = PatternBody(kSizedBody);
                const size_t piece = std::min<size_t>(16 * 1024, body.size() - offset);
                sink.write(body.data() + offset, piece);
                if (offset + piece == body.size())
                    sink.done();
                return true;
            });
    });
    http.Get("/slow", [](const httplib::Request&, httplib::Response& response) {
        response.set_content_provider(kSlowBody, "application/octet-stream",
                                      [](size_t offset, size_t length, httplib::DataSink& sink) {
                                          static const std::string body = PatternBody(kSlowBody);
                                          std::this_thread::sleep_for(4ms);
                                          sink.write(body.data() + offset,
                                                     std::min<size_t>(32 * 1024, length));
                                          return true;
                                      });
    });
    http.Get("/missing", [](const httplib::Request&, httplib::Response& response) {
        response.status = 404;
        response.set_content("no such installer", "text/plain");
    });
    http.Get("/not-modified",
             [](const httplib::Request&, httplib::Response& response) { response.status = 304; });
    http.Get(R"(/hop/(\d+))", [](const httplib::Request& request, httplib::Response& response) {
        const int hop = std::stoi(request.matches[1]);
        response.set_redirect(hop == 0 ? "/sized" : "/hop/" + std::to_string(hop - 1));
    });
    http.Get("/loop", [](const httplib::Request&, httplib::Response& response) {
        response.set_redirect("/loop");
    });
    http.Get("/to-file", [](const httplib::Request&, httplib::Response& response) {
        response.set_redirect("file:///etc/passwd");
    });
    const auto partial = [this](bool stall) {
        return [this, stall](const httplib::Request&, httplib::Response& response) {
            response.set_content_provider(
                kPartialSize, "application/octet-stream",
                [this, stall](size_t offset, size_t, httplib::DataSink& sink) {
                    static const std::string piece = PatternBody(64 * 1024);
                    if (offset == 0)
                        return sink.write(piece.data(), piece.size());
                    if (stall)
                        WaitUntilReleased();
                    return false; // closes the connection mid-body
                });
        };
    };
    http.Get("/dropped", partial(false));
    http.Get("/stalled", partial(true));
    server_.Start();
}

ScriptedServer::~ScriptedServer() {
    {
        const std::lock_guard lock(mutex_);
        release_ = true;
    }
    released_.notify_all();
}

void ScriptedServer::WaitUntilReleased() {
    std::unique_lock lock(mutex_);
    released_.wait_for(lock, 120s, [this] { return release_; });
}

std::vector<std::string> ScriptedServer::AnsweredPaths() const {
    const std::lock_guard lock(mutex_);
    return answered_;
}

TransferJob::Post PostedMessages::Sink() {
    return [this](const HostMessage& message) {
        {
            const std::lock_guard lock(mutex_);
            queue_.push_back(message);
            if (message.id == WM_DL_PROGRESS) {
                ++waitingProgress_;
                mostWaitingProgress_ = std::max(mostWaitingProgress_, waitingProgress_);
            }
        }
        arrived_.notify_all();
    };
}

std::optional<HostMessage> PostedMessages::Next(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    if (!arrived_.wait_for(lock, timeout, [this] { return !queue_.empty(); }))
        return std::nullopt;
    const HostMessage message = queue_.front();
    queue_.pop_front();
    return message;
}

bool PostedMessages::Empty() const {
    const std::lock_guard lock(mutex_);
    return queue_.empty();
}

void PostedMessages::ProgressHandled() {
    const std::lock_guard lock(mutex_);
    --waitingProgress_;
}

int PostedMessages::MostWaitingProgress() const {
    const std::lock_guard lock(mutex_);
    return mostWaitingProgress_;
}

platform::System& RealSystem() {
#ifdef _WIN32
    static platform::win32::Win32System system;
#else
    static platform::posix::PosixSystem system;
#endif
    return system;
}

Outcome Download(const std::string& url, const std::filesystem::path& target,
                 const TransferLimits& limits, std::chrono::milliseconds handlerDelay,
                 platform::System& system, const Prepare& prepare) {
    PostedMessages messages;
    Outcome outcome;
    const auto started = std::chrono::steady_clock::now();
    {
        // Declared first, so that it waits for the worker after the job has let it go: then
        // whatever the worker leaves behind is there to be checked.
        TransferWorkers workers(system);
        TransferJob job(workers, url, target.string(), limits, messages.Sink());
        if (prepare)
            prepare(job);
        EXPECT_TRUE(job.Start());
        while (const auto message = messages.Next(30s)) {
            if (message->id == WM_DL_PROGRESS) {
                std::this_thread::sleep_for(handlerDelay);
                outcome.progress.push_back(job.TakeProgress());
                messages.ProgressHandled();
                continue;
            }
            if (message->id == WM_DL_RETRY) {
                outcome.retries.push_back(message->wParam);
                continue;
            }
            outcome.end = message;
            if (message->id == WM_DNLD_FAILED)
                outcome.partial = job.TakePartial();
            else
                outcome.savedPath = job.SavedPath();
            break;
        }
        outcome.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - started);
    }
    outcome.anythingAfterEnd = !messages.Empty();
    outcome.mostWaitingProgress = messages.MostWaitingProgress();
    return outcome;
}

// What a held call waits at; shared with the download files, which may outlive the System.
struct HeldSystem::Gate {
    explicit Gate(std::chrono::milliseconds longest) : longest(longest) {}

    void Pass() {
        std::unique_lock lock(mutex);
        ++held;
        changed.notify_all();
        if (!changed.wait_for(lock, longest, [this] { return released; }))
            late = true;
    }

    const std::chrono::milliseconds longest;
    std::mutex mutex;
    std::condition_variable changed;
    int held = 0;
    bool released = false;
    bool late = false;
};

namespace {

class HeldDownloadFile final : public platform::DownloadFile {
public:
    HeldDownloadFile(std::unique_ptr<platform::DownloadFile> real,
                     std::shared_ptr<HeldSystem::Gate> gate)
        : real_(std::move(real)), gate_(std::move(gate)) {}

    const std::string& path() const override { return real_->path(); }
    bool Append(std::string_view bytes) override { return real_->Append(bytes); }
    bool WriteAt(uint64_t offset, std::string_view bytes) override {
        return real_->WriteAt(offset, bytes);
    }
    uint64_t Length() const override { return real_->Length(); }
    bool Discard() override { return real_->Discard(); }
    bool ReadAt(uint64_t offset, size_t size, std::string& bytes) override {
        return real_->ReadAt(offset, size, bytes);
    }
    bool Reserve(uint64_t bytes) override { return real_->Reserve(bytes); }
    bool Flush() override { return real_->Flush(); }
    bool RecordOriginUrl(std::string_view url) override { return real_->RecordOriginUrl(url); }
    platform::PublisherCheck CheckPublisher(std::string_view publisher,
                                            std::string& reason) override {
        return real_->CheckPublisher(publisher, reason);
    }
    bool Commit() override {
        if (gate_)
            gate_->Pass();
        return real_->Commit();
    }
    platform::CommitOutcome CommitWithoutReplacing(const std::string& targetPath) override {
        if (gate_)
            gate_->Pass();
        return real_->CommitWithoutReplacing(targetPath);
    }

private:
    std::unique_ptr<platform::DownloadFile> real_;
    std::shared_ptr<HeldSystem::Gate> gate_;
};

} // namespace

HeldSystem::HeldSystem(Hold hold, std::chrono::milliseconds longest)
    : hold_(hold), gate_(std::make_shared<Gate>(longest)) {}

HeldSystem::~HeldSystem() {
    Release();
}

bool HeldSystem::WaitUntilHeld(std::chrono::milliseconds timeout) {
    std::unique_lock lock(gate_->mutex);
    return gate_->changed.wait_for(lock, timeout, [this] { return gate_->held > 0; });
}

void HeldSystem::Release() {
    const std::lock_guard lock(gate_->mutex);
    gate_->released = true;
    gate_->changed.notify_all();
}

bool HeldSystem::ReleasedInTime() const {
    const std::lock_guard lock(gate_->mutex);
    return !gate_->late;
}

std::string HeldSystem::ExecutablePath() {
    return RealSystem().ExecutablePath();
}
platform::SystemName HeldSystem::Name() {
    return RealSystem().Name();
}

std::string HeldSystem::ExecutableFolder() {
    return RealSystem().ExecutableFolder();
}
bool HeldSystem::IsRegularFile(const std::string& path) {
    return RealSystem().IsRegularFile(path);
}
platform::FileContents HeldSystem::ReadWholeFile(const std::string& path, size_t maxBytes) {
    return RealSystem().ReadWholeFile(path, maxBytes);
}
platform::WriteOutcome HeldSystem::ReplaceWholeFile(const std::string& path,
                                                    std::string_view contents) {
    return RealSystem().ReplaceWholeFile(path, contents);
}
platform::WriteOutcome HeldSystem::RewriteFileInPlace(const std::string& path,
                                                      std::string_view contents) {
    return RealSystem().RewriteFileInPlace(path, contents);
}
std::unique_ptr<platform::DownloadFile> HeldSystem::CreateDownloadFile(const std::string& target) {
    auto real = RealSystem().CreateDownloadFile(target);
    if (!real)
        return nullptr;
    return std::make_unique<HeldDownloadFile>(std::move(real),
                                              hold_ == Hold::Commits ? gate_ : nullptr);
}
std::optional<std::string> HeldSystem::ProxyFor(const std::string&, std::stop_token) {
    if (hold_ == Hold::ProxyLookups)
        gate_->Pass();
    return std::nullopt;
}

TransferLimits TestLimits() {
    TransferLimits limits;
    limits.connect = 2s;
    limits.lowSpeedTime = 1s;
    limits.maxRedirects = 5;
    limits.progressInterval = 20ms;
    limits.retryBackoff = 10ms;
    // The test files are of 256 KiB to 4 MiB; an attempt that brings a quarter of a MiB of them
    // counts as progress.
    limits.meaningfulProgress = 256 * 1024;
    return limits;
}

std::vector<std::string> TemporaryFilesFor(const std::filesystem::path& target) {
    std::vector<std::string> names;
    std::error_code error;
    const std::string prefix = "." + target.filename().string() + ".";
    for (const auto& entry : std::filesystem::directory_iterator(target.parent_path(), error)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with(prefix) && name.ends_with(".part"))
            names.push_back(name);
    }
    return names;
}

} // namespace tarvik::download::testing
