#include "platform/headless/headless_system.h"

#ifdef _WIN32
#include "platform/win32/win32_system.h"
#else
#include "platform/posix/posix_system.h"
#endif

#include <condition_variable>
#include <mutex>
#include <optional>
#include <set>

namespace tarvik::platform::headless {

// What the system and the download files it made share: they may outlive each other.
struct HeadlessSystem::Shared {
    mutable std::mutex mutex;
    std::set<Fault> faults;
    std::vector<Call> calls;
    // ProxyFor's script (not recorded as a call: the order of file operations is what tests
    // compare).
    bool realProxy = false;
    std::function<void()> whileCommitting;
    std::optional<std::string> proxy;
    bool holdProxy = false;
    std::optional<PublisherCheck> publisherCheck;
    HeldLookups held;
    // Tells of every change to `held`, and wakes held lookups whose stop was requested.
    mutable std::condition_variable_any heldChanged;

    // Records the call and tells whether the fault is injected.
    bool Ask(std::string operation, std::string argument, std::optional<Fault> fault = {}) {
        const std::lock_guard lock(mutex);
        calls.push_back({std::move(operation), std::move(argument)});
        return fault && faults.contains(*fault);
    }
    // Runs the test's hook outside the lock, so that the hook may wait for the test.
    void Committing() {
        std::function<void()> hook;
        {
            const std::lock_guard lock(mutex);
            hook = whileCommitting;
        }
        if (hook)
            hook();
    }
    bool Injected(Fault fault) const {
        const std::lock_guard lock(mutex);
        return faults.contains(fault);
    }
};

namespace {

using Fault = HeadlessSystem::Fault;

class HeadlessDownloadFile final : public DownloadFile {
public:
    HeadlessDownloadFile(std::unique_ptr<DownloadFile> real,
                         std::shared_ptr<HeadlessSystem::Shared> shared)
        : real_(std::move(real)), shared_(std::move(shared)) {}

    const std::string& path() const override { return real_->path(); }
    bool Append(std::string_view bytes) override {
        return !shared_->Injected(Fault::DownloadWriteFails) && real_->Append(bytes);
    }
    bool WriteAt(uint64_t offset, std::string_view bytes) override {
        return !shared_->Injected(Fault::DownloadWriteFails) && real_->WriteAt(offset, bytes);
    }
    uint64_t Length() const override { return real_->Length(); }
    bool Discard() override {
        shared_->Ask("DownloadFile::Discard", path());
        return real_->Discard();
    }
    bool ReadAt(uint64_t offset, size_t size, std::string& bytes) override {
        return real_->ReadAt(offset, size, bytes);
    }
    bool Reserve(uint64_t bytes) override {
        if (shared_->Ask("DownloadFile::Reserve", std::to_string(bytes), Fault::DownloadNoRoom))
            return false;
        return real_->Reserve(bytes);
    }
    bool Flush() override {
        shared_->Ask("DownloadFile::Flush", path());
        return real_->Flush();
    }
    bool RecordOriginUrl(std::string_view url) override {
        shared_->Ask("DownloadFile::RecordOriginUrl", std::string(url));
        return real_->RecordOriginUrl(url);
    }
    PublisherCheck CheckPublisher(std::string_view publisher, std::string& reason) override {
        shared_->Ask("DownloadFile::CheckPublisher", std::string(publisher));
        std::optional<PublisherCheck> scripted;
        {
            const std::lock_guard lock(shared_->mutex);
            scripted = shared_->publisherCheck;
        }
        if (!scripted)
            return real_->CheckPublisher(publisher, reason);
        reason = PublisherCheckText(*scripted);
        return *scripted;
    }
    bool Commit() override {
        shared_->Committing();
        if (shared_->Ask("DownloadFile::Commit", path(), Fault::DownloadCommitFails))
            return false;
        return real_->Commit();
    }

    CommitOutcome CommitWithoutReplacing(const std::string& targetPath) override {
        shared_->Committing();
        if (shared_->Ask("DownloadFile::CommitWithoutReplacing", targetPath,
                         Fault::DownloadCommitFails))
            return CommitOutcome::Failed;
        return real_->CommitWithoutReplacing(targetPath);
    }

private:
    std::unique_ptr<DownloadFile> real_;
    std::shared_ptr<HeadlessSystem::Shared> shared_;
};

} // namespace

HeadlessSystem::HeadlessSystem()
#ifdef _WIN32
    : real_(std::make_unique<win32::Win32System>()),
#else
    : real_(std::make_unique<posix::PosixSystem>()),
#endif
      shared_(std::make_shared<Shared>()) {
}

HeadlessSystem::~HeadlessSystem() = default;

void HeadlessSystem::Inject(Fault fault) {
    const std::lock_guard lock(shared_->mutex);
    shared_->faults.insert(fault);
}

void HeadlessSystem::Heal(Fault fault) {
    const std::lock_guard lock(shared_->mutex);
    shared_->faults.erase(fault);
}

std::vector<HeadlessSystem::Call> HeadlessSystem::Calls() const {
    const std::lock_guard lock(shared_->mutex);
    return shared_->calls;
}

void HeadlessSystem::WhileCommitting(std::function<void()> hook) {
    const std::lock_guard lock(shared_->mutex);
    shared_->whileCommitting = std::move(hook);
}

void HeadlessSystem::AnswerPublisherCheck(std::optional<PublisherCheck> answer) {
    const std::lock_guard lock(shared_->mutex);
    shared_->publisherCheck = answer;
}

void HeadlessSystem::AnswerProxy(std::optional<std::string> answer) {
    const std::lock_guard lock(shared_->mutex);
    shared_->realProxy = false;
    shared_->proxy = std::move(answer);
}

void HeadlessSystem::UseRealProxyResolver() {
    const std::lock_guard lock(shared_->mutex);
    shared_->realProxy = true;
}

void HeadlessSystem::HoldProxyLookups() {
    const std::lock_guard lock(shared_->mutex);
    shared_->holdProxy = true;
}

HeadlessSystem::HeldLookups HeadlessSystem::HeldProxyLookups() const {
    const std::lock_guard lock(shared_->mutex);
    return shared_->held;
}

bool HeadlessSystem::WaitForHeldProxyLookups(size_t count,
                                             std::chrono::milliseconds timeout) const {
    std::unique_lock lock(shared_->mutex);
    return shared_->heldChanged.wait_for(lock, timeout,
                                         [&] { return shared_->held.waiting >= count; });
}

bool HeadlessSystem::WaitForStoppedProxyLookups(size_t count,
                                                std::chrono::milliseconds timeout) const {
    std::unique_lock lock(shared_->mutex);
    return shared_->heldChanged.wait_for(lock, timeout,
                                         [&] { return shared_->held.stopped >= count; });
}

std::optional<std::string> HeadlessSystem::ProxyFor(const std::string& url, std::stop_token stop) {
    {
        std::unique_lock lock(shared_->mutex);
        if (shared_->holdProxy) {
            ++shared_->held.waiting;
            shared_->heldChanged.notify_all();
            // Ends only with the stop, or at the limit.
            shared_->heldChanged.wait_for(lock, stop, kHeldLookupLimit, [] { return false; });
            const bool stopped = stop.stop_requested();
            --shared_->held.waiting;
            ++(stopped ? shared_->held.stopped : shared_->held.neverStopped);
            shared_->heldChanged.notify_all();
            return std::nullopt;
        }
        if (!shared_->realProxy)
            return shared_->proxy;
    }
    return real_->ProxyFor(url, std::move(stop));
}

std::string HeadlessSystem::ExecutablePath() {
    if (shared_->Ask("ExecutablePath", {}, Fault::UnknownExecutable))
        return {};
    return real_->ExecutablePath();
}

SystemName HeadlessSystem::Name() {
    return real_->Name();
}

std::string HeadlessSystem::ExecutableFolder() {
    if (shared_->Ask("ExecutableFolder", {}, Fault::UnknownExecutable))
        return {};
    return real_->ExecutableFolder();
}

bool HeadlessSystem::IsRegularFile(const std::string& path) {
    shared_->Ask("IsRegularFile", path);
    return real_->IsRegularFile(path);
}

FileContents HeadlessSystem::ReadWholeFile(const std::string& path, size_t maxBytes) {
    shared_->Ask("ReadWholeFile", path);
    return real_->ReadWholeFile(path, maxBytes);
}

WriteOutcome HeadlessSystem::ReplaceWholeFile(const std::string& path, std::string_view contents) {
    if (shared_->Ask("ReplaceWholeFile", path, Fault::TemporaryFileRefused))
        return WriteOutcome::NoTemporaryFile;
    return real_->ReplaceWholeFile(path, contents);
}

WriteOutcome HeadlessSystem::RewriteFileInPlace(const std::string& path,
                                                std::string_view contents) {
    if (shared_->Ask("RewriteFileInPlace", path, Fault::InPlaceRewriteFails))
        return WriteOutcome::Failed;
    return real_->RewriteFileInPlace(path, contents);
}

std::unique_ptr<DownloadFile> HeadlessSystem::CreateDownloadFile(const std::string& targetPath) {
    if (shared_->Ask("CreateDownloadFile", targetPath, Fault::DownloadFileRefused))
        return nullptr;
    std::unique_ptr<DownloadFile> real = real_->CreateDownloadFile(targetPath);
    if (!real)
        return nullptr;
    return std::make_unique<HeadlessDownloadFile>(std::move(real), shared_);
}

} // namespace tarvik::platform::headless
