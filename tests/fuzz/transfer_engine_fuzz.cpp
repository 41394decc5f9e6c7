// libFuzzer entry point for the whole transfer engine: a real transfer job downloads from a
// loopback server that follows a fuzzed script of truthful and lying answers (breaks, short and
// empty answers, 204, ranges of other versions, wrong ranges, whole files to a range, 416). Every
// answer tells truthfully which version and which bytes it carries, so the engine can always
// tell. Whatever the script, nothing crashes, a finished file is exactly one version the server
// had, byte for byte, and a failure leaves no temporary file once the kept part is let go. When
// a part is kept, the page's retry is run as well, from it.
//
// The input is text. Line 1: "SIZE CONNECTIONS etag|date|none honours|ignores split|whole"
// (the file's size, at most kMaxSize; how many connections; the server's validator; whether it
// honours If-Range; whether a file of that size is fetched in ranges). Every further line is one
// rule for the next request: "truthful", "drop N", "short N" (a range that ends cleanly after N
// bytes), "empty", "204", "change same|longer|shorter" (a new version of the file), "wrong",
// "whole", "416", "novalidator", "ignoreifrange". Words that do not parse are left out.
#include "common/curl/curl_handle.h"
#include "download/transfer_job.h"
#include "platform/headless/headless_system.h"
#include "script_text.h"
#include "support/range_server.h"
#include "support/temp_folder.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace std::chrono_literals;
using tarvik::testing::RangeServer;
using Rule = RangeServer::Rule;

// Small enough for many runs a second, large enough for four ranges of several chunks.
constexpr uint64_t kMaxSize = 512 * 1024;
constexpr size_t kMaxRules = 32;

using tarvik::fuzzing::NextLine;
using tarvik::fuzzing::Words;

std::optional<uint64_t> Number(std::string_view word) {
    uint64_t value = 0;
    const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
    if (error != std::errc() || end != word.data() + word.size())
        return std::nullopt;
    return value;
}

// A file whose bytes differ from every other version's at almost every offset.
std::string Version(uint64_t size, unsigned seed) {
    std::string body(size, '\0');
    for (uint64_t i = 0; i < size; ++i)
        body[i] = static_cast<char>((i * 131 + i / 4096 + seed * 77) & 0xFF);
    return body;
}

struct Scenario {
    uint64_t size = 100'000;
    int connections = 1;
    RangeServer::Options options;
    bool split = false;
    std::vector<Rule> script;
};

Scenario Read(std::string_view text) {
    Scenario scenario;
    const std::vector<std::string_view> head = Words(NextLine(text));
    const auto word = [&](size_t index) {
        return index < head.size() ? head[index] : std::string_view();
    };
    scenario.size = std::min(Number(word(0)).value_or(100'000), kMaxSize);
    scenario.connections =
        static_cast<int>(std::clamp<uint64_t>(Number(word(1)).value_or(1), 1, 4));
    scenario.options.validators = word(2) == "date"
                                      ? RangeServer::Validators::WeakETagAndLastModified
                                  : word(2) == "none" ? RangeServer::Validators::None
                                                      : RangeServer::Validators::StrongETag;
    scenario.options.honoursIfRange = word(3) != "ignores";
    scenario.split = word(4) == "split";
    uint64_t size = scenario.size;
    unsigned versions = 1;
    while (!text.empty() && scenario.script.size() < kMaxRules) {
        const std::vector<std::string_view> words = Words(NextLine(text));
        if (words.empty())
            continue;
        const std::string_view kind = words[0];
        const uint64_t n = words.size() > 1 ? Number(words[1]).value_or(0) : 0;
        Rule rule;
        if (kind == "drop") {
            rule = Rule::DropAfter(n);
        } else if (kind == "short") {
            rule = Rule::EndingCleanlyAfter(n);
        } else if (kind == "empty") {
            rule.emptyBody = true;
        } else if (kind == "204") {
            rule.answer204 = true;
        } else if (kind == "change") {
            const std::string_view how = words.size() > 1 ? words[1] : "same";
            if (how == "longer")
                size = std::min(size + 1000, kMaxSize);
            else if (how == "shorter")
                size = size > 1000 ? size - 1000 : 1;
            rule = Rule::Replacing(Version(size, ++versions));
        } else if (kind == "wrong") {
            rule.wrongRange = true;
        } else if (kind == "whole") {
            rule.ignoreRange = true;
        } else if (kind == "416") {
            rule.answer416 = true;
        } else if (kind == "novalidator") {
            rule.withoutValidator = true;
        } else if (kind == "ignoreifrange") {
            rule.ignoreIfRange = true;
        } else if (kind != "truthful") {
            continue;
        }
        scenario.script.push_back(std::move(rule));
    }
    return scenario;
}

// The host's queue, as the job posts into it.
class Queue {
public:
    tarvik::download::TransferJob::Post Sink() {
        return [this](const tarvik::HostMessage& message) {
            const std::lock_guard lock(mutex_);
            messages_.push_back(message);
            arrived_.notify_all();
        };
    }
    std::optional<tarvik::HostMessage> Next(std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        if (!arrived_.wait_for(lock, timeout, [this] { return !messages_.empty(); }))
            return std::nullopt;
        const tarvik::HostMessage message = messages_.front();
        messages_.pop_front();
        return message;
    }

private:
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<tarvik::HostMessage> messages_;
};

void Require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "transfer_engine_fuzz: %s\n", what);
        std::abort();
    }
}

// Runs one job to its end; the part a network failure kept, if any.
std::optional<tarvik::download::PartialDownload>
RunJob(tarvik::platform::System& system, const RangeServer& server,
       const std::filesystem::path& target, const tarvik::download::TransferLimits& limits,
       std::optional<tarvik::download::PartialDownload> resume) {
    std::optional<tarvik::download::PartialDownload> kept;
    tarvik::download::TransferWorkers workers(system);
    Queue queue;
    {
        tarvik::download::TransferJob job(workers, server.Url(), target.string(), limits,
                                          queue.Sink());
        if (resume)
            job.ResumeFrom(std::move(*resume));
        Require(job.Start(), "no worker");
        for (;;) {
            const auto message = queue.Next(60s);
            Require(message.has_value(), "no end within a minute");
            if (message->id == tarvik::WM_DL_PROGRESS) {
                job.TakeProgress();
                continue;
            }
            // A connection made again: the job goes on.
            if (message->id == tarvik::WM_DL_RETRY)
                continue;
            if (message->id == tarvik::WM_DNLD_FINISHED) {
                Require(job.SavedPath() == target.string(), "saved elsewhere");
                const auto bytes = tarvik::testing::ReadFileIfPresent(target);
                const auto versions = server.Versions();
                Require(bytes &&
                            std::find(versions.begin(), versions.end(), *bytes) != versions.end(),
                        "the finished file is no version the server had");
            } else {
                Require(message->id == tarvik::WM_DNLD_FAILED, "an unknown message");
                Require(!std::filesystem::exists(target), "a failure left a file under the name");
                kept = job.TakePartial();
            }
            break;
        }
    }
    Require(workers.WaitUntil(std::chrono::steady_clock::now() + 60s), "the worker did not end");
    return kept;
}

// Every name in the folder; only the target may be there.
bool OnlyTheTargetIn(const std::filesystem::path& folder, const std::filesystem::path& target) {
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path() != target)
            return false;
    }
    return true;
}

} // namespace

// The transfer library's global state for the whole run, as the program's main holds it.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static const tarvik::CurlGlobal curl;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Scenario scenario = Read(std::string_view(reinterpret_cast<const char*>(data), size));
    RangeServer server(Version(scenario.size, 1), scenario.script, scenario.options);
    tarvik::testing::TempFolder folder;
    const std::filesystem::path target = folder.path() / "setup.exe";
    // Real files; no proxy, whatever the machine's settings.
    tarvik::platform::headless::HeadlessSystem system;
    tarvik::download::TransferLimits limits;
    limits.connect = 5s;
    limits.lowSpeedTime = 10s;
    limits.retryBackoff = 0ms;
    limits.meaningfulProgress = 16 * 1024;
    limits.connections = scenario.connections;
    limits.splitFrom = scenario.split ? 1 : kMaxSize * 2;

    std::optional<tarvik::download::PartialDownload> kept =
        RunJob(system, server, target, limits, std::nullopt);
    if (kept) {
        Require(!OnlyTheTargetIn(folder.path(), target), "a kept part without its file");
        kept = RunJob(system, server, target, limits, std::move(kept));
        kept.reset();
    }
    Require(OnlyTheTargetIn(folder.path(), target), "a temporary file was left behind");
    return 0;
}
