#pragma once

#include "platform/system.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tarvik::platform::headless {

// System for tests. Files are real: every operation goes to the real implementation, on the real
// files of a test's temporary folder. A test can make chosen operations fail the way a hostile or
// broken system does (a folder that refuses new files, a full disk), which neither a file's
// permissions nor a test running as the superuser can always show, and can read back which
// operations were asked for, in order.
//
// Threads: like every System, safe from any thread; the faults and the record are guarded by one
// lock, so a test may change them while a worker runs. Download files it made keep working after
// it is gone.
class HeadlessSystem final : public System {
public:
    enum class Fault {
        UnknownExecutable,    // the executable's path and folder come back empty
        TemporaryFileRefused, // ReplaceWholeFile answers NoTemporaryFile and writes nothing
        InPlaceRewriteFails,  // RewriteFileInPlace answers Failed and writes nothing
        DownloadFileRefused,  // CreateDownloadFile makes nothing
        DownloadWriteFails,   // a download file takes no more bytes, as on a full disk
        DownloadCommitFails,  // a download file's Commit fails before anything is renamed
        DownloadNoRoom,       // a download file's Reserve finds no room on the disk
    };

    // One operation asked for: its name (a System member, or "DownloadFile::" and the member)
    // and its path; for RecordOriginUrl, the URL. Writes of a download file's bytes are not
    // recorded, there are too many of them.
    struct Call {
        std::string operation;
        std::string argument;
        bool operator==(const Call&) const = default;
    };

    HeadlessSystem();
    ~HeadlessSystem() override;
    HeadlessSystem(const HeadlessSystem&) = delete;
    HeadlessSystem& operator=(const HeadlessSystem&) = delete;

    // From now on until healed, the operation fails.
    void Inject(Fault fault);
    void Heal(Fault fault);
    std::vector<Call> Calls() const;

    std::string ExecutablePath() override;
    std::string ExecutableFolder() override;
    // The real system's.
    SystemName Name() override;
    bool IsRegularFile(const std::string& path) override;
    FileContents ReadWholeFile(const std::string& path, size_t maxBytes) override;
    WriteOutcome ReplaceWholeFile(const std::string& path, std::string_view contents) override;
    WriteOutcome RewriteFileInPlace(const std::string& path, std::string_view contents) override;
    std::unique_ptr<DownloadFile> CreateDownloadFile(const std::string& targetPath) override;
    // What the test scripted with AnswerProxy; without a script, nothing (no resolver), so that
    // tests do not depend on the proxy settings of the machine they run on.
    std::optional<std::string> ProxyFor(const std::string& url, std::stop_token stop) override;

    // Runs `hook` on the worker's thread each time a download file is about to be put in its
    // target's place (before a commit fault is looked at), so that a test can hold a transfer
    // at its very end. Empty: none.
    void WhileCommitting(std::function<void()> hook);

    // The answer every download file's CheckPublisher gives from now on (recorded as a call all
    // the same); nothing: the real system's (on Linux always Unavailable).
    void AnswerPublisherCheck(std::optional<PublisherCheck> answer);

    // The answer ProxyFor gives from now on, for every URL; UseRealProxyResolver asks the real
    // system (GIO) instead.
    void AnswerProxy(std::optional<std::string> answer);
    void UseRealProxyResolver();
    // From now on every ProxyFor waits, as for a desktop whose configuration script never
    // arrives, until its stop is requested, and then answers nothing. One that is never stopped
    // gives up after kHeldLookupLimit, counted as such, so that a test fails rather than hangs.
    void HoldProxyLookups();
    static constexpr std::chrono::seconds kHeldLookupLimit{20};
    struct HeldLookups {
        size_t waiting = 0;      // waiting now
        size_t stopped = 0;      // ended by their stop
        size_t neverStopped = 0; // gave up waiting for it
        bool operator==(const HeldLookups&) const = default;
    };
    HeldLookups HeldProxyLookups() const;
    // Waits until `count` held lookups wait at the same time (a worker sits in its lookup); false
    // when that has not happened within `timeout`.
    bool WaitForHeldProxyLookups(size_t count, std::chrono::milliseconds timeout) const;
    // Waits until `count` held lookups in all have ended by their stop; false when that has not
    // happened within `timeout`.
    bool WaitForStoppedProxyLookups(size_t count, std::chrono::milliseconds timeout) const;

    struct Shared;

private:
    std::unique_ptr<System> real_;
    std::shared_ptr<Shared> shared_;
};

} // namespace tarvik::platform::headless
