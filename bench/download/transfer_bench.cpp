// Serves generated files from a loopback server and downloads them with the installer transfer
// (in a child process, so its peak memory is its own) and with `curl -o` from the same server.
//
//   transfer_bench <folder> [rounds]   the whole comparison (3 rounds unless told); files go
//                                      to <folder>
//   transfer_bench job <url> <target>  one transfer, reporting its progress messages

#include "common/curl/curl_handle.h"
#include "download/transfer_job.h"
#include "platform/posix/posix_system.h"
#include "support/loopback_server.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <exception>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr uint64_t kMiB = 1024 * 1024;

// Runs one transfer the way the host does: progress messages are handled on this thread.
int RunJob(const std::string& url, const fs::path& target) {
    std::mutex mutex;
    std::condition_variable arrived;
    std::deque<tarvik::HostMessage> queue;
    const auto post = [&](const tarvik::HostMessage& message) {
        {
            const std::lock_guard lock(mutex);
            queue.push_back(message);
        }
        arrived.notify_one();
    };
    tarvik::platform::posix::PosixSystem system;
    tarvik::download::TransferJob job(system, url, target.string(), {}, post);
    const auto started = Clock::now();
    if (!job.Start())
        return 2;
    long progressMessages = 0;
    for (;;) {
        std::unique_lock lock(mutex);
        arrived.wait(lock, [&] { return !queue.empty(); });
        const tarvik::HostMessage message = queue.front();
        queue.pop_front();
        lock.unlock();
        if (message.id == tarvik::WM_DL_PROGRESS) {
            job.TakeProgress();
            ++progressMessages;
        } else {
            const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
            std::printf("  %ld progress messages in %.2f s: %.1f per second\n", progressMessages,
                        seconds, static_cast<double>(progressMessages) / seconds);
            return message.id == tarvik::WM_DNLD_FINISHED ? 0 : 1;
        }
    }
}

struct ChildRun {
    bool ok = false;
    double seconds = 0;
    long peakRssKiB = 0;
};

// Runs a program under /usr/bin/time, timing it from start to exit and taking its peak resident
// memory. The memory comes from the small `time` process's child: a child spawned from this
// server process would count the server's memory as its own (exec keeps the high-water mark).
ChildRun Spawn(const fs::path& folder, const std::vector<std::string>& command) {
    const fs::path rssFile = folder / "peak-rss";
    std::vector<std::string> arguments = {"/usr/bin/time", "-f", "%M", "-o", rssFile};
    arguments.insert(arguments.end(), command.begin(), command.end());
    std::vector<char*> argv;
    for (auto& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    const auto started = Clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return {};
    int status = 0;
    if (waitpid(pid, &status, 0) != pid)
        return {};
    ChildRun run{WIFEXITED(status) && WEXITSTATUS(status) == 0,
                 std::chrono::duration<double>(Clock::now() - started).count(), 0};
    if (std::FILE* file = std::fopen(rssFile.c_str(), "r")) {
        if (std::fscanf(file, "%ld", &run.peakRssKiB) != 1)
            run.ok = false;
        std::fclose(file);
    }
    return run;
}

double MiBPerSecond(uint64_t bytes, double seconds) {
    return static_cast<double>(bytes) / static_cast<double>(kMiB) / seconds;
}

// Downloads `url` with `command` and checks the file's size; the file is removed afterwards.
ChildRun Download(const fs::path& folder, const std::vector<std::string>& command, uint64_t size) {
    const fs::path target = folder / "setup.bin";
    ChildRun run = Spawn(folder, command);
    run.ok = run.ok && fs::exists(target) && fs::file_size(target) == size;
    fs::remove(target);
    return run;
}

int Compare(const fs::path& folder, int rounds) {
    // One MiB of pattern, sent over and over: the served file exists only on the wire.
    std::string pattern(kMiB, '\0');
    for (size_t i = 0; i < pattern.size(); ++i)
        pattern[i] = static_cast<char>(i * 131);
    tarvik::testing::LoopbackServer server;
    server.server.Get(
        R"(/blob/(\d+))", [&](const httplib::Request& request, httplib::Response& response) {
            const uint64_t size = std::stoull(request.matches[1]);
            response.set_content_provider(
                size, "application/octet-stream",
                [&](size_t offset, size_t length, httplib::DataSink& sink) {
                    const size_t start = offset % pattern.size();
                    const size_t piece = std::min<size_t>(length, pattern.size() - start);
                    return sink.write(pattern.data() + start, std::min<size_t>(piece, 256 * 1024));
                });
        });
    server.Start();
    const std::string self = fs::read_symlink("/proc/self/exe");
    const std::string target = folder / "setup.bin";
    const auto url = [&](uint64_t size) { return server.Url("/blob/" + std::to_string(size)); };

    const uint64_t large = 1024 * kMiB;
    const uint64_t small = 64 * kMiB;
    // Rounds alternate between the two so that a busy machine or disk hurts both alike.
    std::vector<ChildRun> jobs, curls;
    for (int round = 1; round <= rounds; ++round) {
        std::printf("round %d, transfer job, 1 GiB:\n", round);
        std::fflush(stdout);
        jobs.push_back(Download(folder, {self, "job", url(large), target}, large));
        curls.push_back(Download(folder, {"curl", "-s", "-o", target, url(large)}, large));
        std::printf("round %d: transfer job %.0f MiB/s, curl -o %.0f MiB/s\n", round,
                    MiBPerSecond(large, jobs.back().seconds),
                    MiBPerSecond(large, curls.back().seconds));
    }
    std::printf("transfer job, 64 MiB:\n");
    std::fflush(stdout);
    const ChildRun smallJob = Download(folder, {self, "job", url(small), target}, small);

    for (const auto* runs : {&jobs, &curls}) {
        for (const auto& run : *runs) {
            if (!run.ok) {
                std::printf("a download failed\n");
                return 1;
            }
        }
    }
    if (!smallJob.ok) {
        std::printf("the 64 MiB download failed\n");
        return 1;
    }
    const auto fastest = [](const std::vector<ChildRun>& runs) {
        return std::min_element(runs.begin(), runs.end(),
                                [](const auto& a, const auto& b) { return a.seconds < b.seconds; })
            ->seconds;
    };
    const double jobRate = MiBPerSecond(large, fastest(jobs));
    const double curlRate = MiBPerSecond(large, fastest(curls));
    std::printf("throughput 1 GiB, best of %d: transfer job %.0f MiB/s, curl -o %.0f MiB/s, "
                "ratio %.3f\n",
                rounds, jobRate, curlRate, jobRate / curlRate);
    std::printf("peak RSS of the transfer job process: 64 MiB download %.1f MiB, 1 GiB download "
                "%.1f MiB (curl -o, 1 GiB: %.1f MiB)\n",
                smallJob.peakRssKiB / 1024.0, jobs.front().peakRssKiB / 1024.0,
                curls.front().peakRssKiB / 1024.0);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    // The transfer library's global state, held by the process as the program does.
    const tarvik::CurlGlobal curl;
    // A failed file or server operation throws; the bench reports it instead of aborting.
    try {
        if (argc == 4 && std::string(argv[1]) == "job")
            return RunJob(argv[2], argv[3]);
        if (argc == 2 || argc == 3)
            return Compare(argv[1], argc == 3 ? std::max(1, std::atoi(argv[2])) : 3);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "transfer_bench: %s\n", error.what());
        return 1;
    }
    std::fprintf(stderr, "usage: %s <folder> [rounds] | %s job <url> <target>\n", argv[0], argv[0]);
    return 2;
}
