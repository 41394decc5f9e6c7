#pragma once

#include "common/log.h"
#include "download/transfer_job.h"
#include "platform/system.h"
#include "support/closed_port.h"
#include "support/loopback_server.h"
#include "support/range_server.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tarvik::download::testing {

// The body every sized route serves: a pattern that shows misplaced or missing bytes.
std::string PatternBody(size_t size);

inline constexpr size_t kSizedBody = 256 * 1024;
inline constexpr size_t kSlowBody = 2 * 1024 * 1024;
// What /dropped and /stalled announce; they send only the first 64 KiB of it.
inline constexpr size_t kPartialSize = 1024 * 1024;

// A loopback server with the answers the transfer tests need. It records the paths it answered
// and lets stalled answers go when it is destroyed.
//   /sized       kSizedBody bytes with a content length
//   /chunked     the same bytes without a length
//   /slow        kSlowBody bytes with a length, sent in small pieces with pauses
//   /missing     404 with a body
//   /not-modified 304
//   /hop/N       redirect to /hop/N-1, /hop/0 to /sized
//   /loop        redirect to itself
//   /to-file     redirect to a file: URL
//   /dropped     announces 1 MiB, sends 64 KiB, then closes the connection
//   /stalled     announces 1 MiB, sends 64 KiB, then sends nothing more until released
class ScriptedServer {
public:
    ScriptedServer();
    ~ScriptedServer();

    std::string Url(const std::string& path) const { return server_.Url(path); }
    std::vector<std::string> AnsweredPaths() const;

private:
    void WaitUntilReleased();

    mutable std::mutex mutex_;
    std::condition_variable released_;
    bool release_ = false;
    std::vector<std::string> answered_;
    tarvik::testing::LoopbackServer server_;
};

// Stands in for the host's message queue: the job posts here from its worker.
class PostedMessages {
public:
    TransferJob::Post Sink();
    std::optional<HostMessage> Next(std::chrono::milliseconds timeout);
    bool Empty() const;
    // The progress handler calls this after taking the figures.
    void ProgressHandled();
    // The most progress messages that were posted and not yet handled at one time.
    int MostWaitingProgress() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<HostMessage> queue_;
    int waitingProgress_ = 0;
    int mostWaitingProgress_ = 0;
};

struct Outcome {
    // What each WM_DL_PROGRESS handler took, in order.
    std::vector<ProgressFigures> progress;
    // The reconnection numbers WM_DL_RETRY carried, in order.
    std::vector<uint64_t> retries;
    // WM_DNLD_FINISHED or WM_DNLD_FAILED; none when nothing came in time.
    std::optional<HostMessage> end;
    int mostWaitingProgress = 0;
    // Messages that arrived after the end, counted once the job was destroyed.
    bool anythingAfterEnd = false;
    std::chrono::milliseconds elapsed{0};
    // What the job handed over at its end: the part kept after a failure, the saved path after
    // success.
    std::optional<PartialDownload> partial;
    std::string savedPath;
};

// A System on the real files whose download commits or proxy lookups can be held, so that a test
// knows where the worker is: a held call waits until the test releases it, or at most `longest`
// (a commit that takes that long), and records whether the test released it in time.
class HeldSystem final : public platform::System {
public:
    enum class Hold { Nothing, Commits, ProxyLookups };

    explicit HeldSystem(Hold hold, std::chrono::milliseconds longest = std::chrono::seconds(10));
    ~HeldSystem() override;

    // Waits until a call is held.
    bool WaitUntilHeld(std::chrono::milliseconds timeout);
    void Release();
    // Whether every held call was released by the test before its time ran out.
    bool ReleasedInTime() const;

    std::string ExecutablePath() override;
    std::string ExecutableFolder() override;
    platform::SystemName Name() override;
    bool IsRegularFile(const std::string& path) override;
    platform::FileContents ReadWholeFile(const std::string& path, size_t maxBytes) override;
    platform::WriteOutcome ReplaceWholeFile(const std::string& path,
                                            std::string_view contents) override;
    platform::WriteOutcome RewriteFileInPlace(const std::string& path,
                                              std::string_view contents) override;
    std::unique_ptr<platform::DownloadFile> CreateDownloadFile(const std::string& target) override;
    std::optional<std::string> ProxyFor(const std::string& url, std::stop_token stop) override;

    struct Gate;

private:
    const Hold hold_;
    std::shared_ptr<Gate> gate_;
};

// Takes the step log's lines while it lives.
class LogLines {
public:
    LogLines() {
        log::SetSink([this](std::string_view line) {
            const std::lock_guard lock(mutex_);
            lines_.emplace_back(line);
        });
        log::Enable(true);
    }
    ~LogLines() {
        log::Enable(false);
        log::SetSink({});
    }
    LogLines(const LogLines&) = delete;
    LogLines& operator=(const LogLines&) = delete;

    std::vector<std::string> Starting(std::string_view prefix) const {
        const std::lock_guard lock(mutex_);
        std::vector<std::string> lines;
        for (const auto& line : lines_) {
            if (line.starts_with(prefix))
                lines.push_back(line);
        }
        return lines;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

// Sets a job up before it starts (a part to continue, a hash, keeping existing files).
using Prepare = std::function<void(TransferJob&)>;

// The real program's System.
platform::System& RealSystem();

// Runs one job to its end the way the host does: each progress message's handler takes the
// figures (after `handlerDelay`, to model a busy user-interface thread), then the job is
// destroyed, and its worker has ended when this returns.
Outcome Download(const std::string& url, const std::filesystem::path& target,
                 const TransferLimits& limits,
                 std::chrono::milliseconds handlerDelay = std::chrono::milliseconds(0),
                 platform::System& system = RealSystem(), const Prepare& prepare = {});

// Short limits so failures show within a test's patience.
TransferLimits TestLimits();

using tarvik::testing::RangeServer;
using tarvik::testing::ReadFileIfPresent;
using tarvik::testing::RefusedLoopbackUrl;
using tarvik::testing::TempFolder;
using tarvik::testing::WriteFileBytes;

// The names of the temporary download files for `target` in its folder (".<name>.<digits>.part").
std::vector<std::string> TemporaryFilesFor(const std::filesystem::path& target);

} // namespace tarvik::download::testing
