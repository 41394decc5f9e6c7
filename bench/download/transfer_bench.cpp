// Serves generated files from a loopback server and downloads them with the installer transfer
// (in a child process, so its peak memory is its own) and with `curl -o` from the same server.
//
//   transfer_bench <folder> [rounds]   the whole comparison (3 rounds unless told); files go
//                                      to <folder>
//   transfer_bench serve               only the server, until killed; prints its URL
//   transfer_bench job <url> <target> [connections [key signature-file]]
//                                      one transfer, reporting its progress messages; with a
//                                      minisign key and signature, the signature is checked
//
// Four measurements: unthrottled 1 GiB (one and four connections against `curl -o`, beside the
// disk's own pace from `dd ... conv=fsync`, and the peak memory for 64 MiB and 1 GiB); a server
// that caps each connection at 4 MiB/s (64 MiB); a server that drops every connection after 16 MiB
// (256 MiB), counting the bytes it sent, beside the same download without drops; and 1 GiB with
// its minisign signature checked beside the same download without the check (key and signature
// made by the minisign tool).

#include "common/curl/curl_handle.h"
#include "download/transfer_job.h"
#include "platform/posix/posix_system.h"
#include "support/loopback_server.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr uint64_t kMiB = 1024 * 1024;

// Runs one transfer the way the host does: progress messages are handled on this thread.
int RunJob(const std::string& url, const fs::path& target, int connections,
           const std::optional<std::string>& key = {}, const fs::path& signatureFile = {}) {
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
    tarvik::download::TransferLimits limits;
    limits.connections = connections;
    tarvik::download::TransferWorkers workers(system);
    tarvik::download::TransferJob job(workers, url, target.string(), limits, post);
    if (key) {
        std::ifstream in(signatureFile, std::ios::binary);
        job.RequireSignature(tarvik::download::ParseMinisignKey(*key),
                             std::string(std::istreambuf_iterator<char>(in), {}));
    }
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
            std::printf("    %ld progress messages in %.2f s: %.1f per second\n", progressMessages,
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

// Downloads with `command` and checks the file's size (and, where given, its first bytes
// against the pattern); the file is removed afterwards.
ChildRun Download(const fs::path& folder, const std::vector<std::string>& command, uint64_t size) {
    const fs::path target = folder / "setup.bin";
    ChildRun run = Spawn(folder, command);
    run.ok = run.ok && fs::exists(target) && fs::file_size(target) == size;
    fs::remove(target);
    return run;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// What the server does with each answer of a blob: pace each connection, drop each after some
// bytes. Set between measurements, read by the server's threads.
struct Conditions {
    std::atomic<uint64_t> bytesPerSecond{0}; // 0: as fast as it goes
    std::atomic<uint64_t> dropEvery{0};      // 0: never
    std::atomic<uint64_t> sent{0};
};

// A pattern file of any size that exists only on the wire, with ranges, If-Range and an ETag,
// as a file server or CDN answers.
void ServeBlobs(httplib::Server& server, const std::string& pattern, Conditions& conditions) {
    server.Get(R"(/blob/(\d+))", [&](const httplib::Request& request, httplib::Response& response) {
        const uint64_t size = std::stoull(request.matches[1]);
        // The server answers ranges itself (the library's own handling is not what is measured).
        const_cast<httplib::Request&>(request).ranges.clear();
        const std::string etag = "\"blob-" + std::to_string(size) + "\"";
        response.set_header("Accept-Ranges", "bytes");
        response.set_header("ETag", etag);
        uint64_t first = 0;
        uint64_t last = size - 1;
        const std::string range = request.get_header_value("Range");
        const std::string ifRange = request.get_header_value("If-Range");
        if (range.starts_with("bytes=") && (ifRange.empty() || ifRange == etag)) {
            const size_t dash = range.find('-');
            first = std::stoull(range.substr(6, dash - 6));
            if (dash + 1 < range.size())
                last = std::min<uint64_t>(last, std::stoull(range.substr(dash + 1)));
            response.status = 206;
            response.set_header("Content-Range", "bytes " + std::to_string(first) + "-" +
                                                     std::to_string(last) + "/" +
                                                     std::to_string(size));
        }
        const uint64_t rate = conditions.bytesPerSecond.load();
        const uint64_t dropAfter = conditions.dropEvery.load();
        const auto started = Clock::now();
        response.set_content_provider(
            last - first + 1, "application/octet-stream",
            [&, first, rate, dropAfter, started](size_t offset, size_t length,
                                                 httplib::DataSink& sink) {
                if (dropAfter != 0 && offset >= dropAfter)
                    return false; // the connection breaks
                const size_t start = (first + offset) % pattern.size();
                size_t piece = std::min<size_t>({length, pattern.size() - start, 256 * 1024});
                if (dropAfter != 0)
                    piece = std::min<size_t>(piece, dropAfter - offset);
                if (rate != 0) {
                    piece = std::min<size_t>(piece, 64 * 1024);
                    std::this_thread::sleep_until(
                        started + std::chrono::microseconds(offset * 1'000'000 / rate));
                }
                conditions.sent += piece;
                return sink.write(pattern.data() + start, piece);
            });
    });
}

// One MiB that every served file repeats; its bytes do not repeat within it in short runs.
std::string BlobPattern() {
    std::string pattern(kMiB, '\0');
    for (size_t i = 0; i < pattern.size(); ++i)
        pattern[i] = static_cast<char>(i * 131);
    return pattern;
}

int Compare(const fs::path& folder, int rounds) {
    const std::string pattern = BlobPattern();
    Conditions conditions;
    tarvik::testing::LoopbackServer server;
    ServeBlobs(server.server, pattern, conditions);
    server.Start();
    const std::string self = fs::read_symlink("/proc/self/exe");
    const std::string target = folder / "setup.bin";
    const auto url = [&](uint64_t size) { return server.Url("/blob/" + std::to_string(size)); };
    const auto job = [&](uint64_t size, int connections) {
        return std::vector<std::string>{self, "job", url(size), target,
                                        std::to_string(connections)};
    };
    const auto curl = [&](uint64_t size) {
        return std::vector<std::string>{"curl", "-s", "-o", target, url(size)};
    };
    // The transfer job makes the file durable before it names it; `curl -o` leaves the bytes in
    // the page cache. This is `curl -o` with the same promise, for a like-for-like figure.
    const auto curlSynced = [&](uint64_t size) {
        return std::vector<std::string>{
            "/bin/sh", "-c", "curl -s -o \"$1\" \"$2\" && sync \"$1\"", "sh", target, url(size)};
    };
    // What the disk itself takes to write and flush as many bytes, with no network at all: the
    // most any download that makes its file durable can reach here.
    const auto diskOnly = [&](uint64_t size) {
        return std::vector<std::string>{"dd",
                                        "if=/dev/zero",
                                        "of=" + target,
                                        "bs=1M",
                                        "count=" + std::to_string(size / kMiB),
                                        "conv=fsync",
                                        "status=none"};
    };
    bool allOk = true;
    // Runs the commands in turn, round after round, so that a busy machine or disk hurts each
    // alike; returns each command's seconds.
    const auto measure =
        [&](const char* title, uint64_t size,
            const std::vector<std::pair<std::string, std::vector<std::string>>>& commands,
            int count) {
            std::vector<std::vector<ChildRun>> runs(commands.size());
            for (int round = 1; round <= count; ++round) {
                for (size_t i = 0; i < commands.size(); ++i) {
                    std::printf("  %s, round %d, %s\n", title, round, commands[i].first.c_str());
                    std::fflush(stdout);
                    runs[i].push_back(Download(folder, commands[i].second, size));
                    std::printf("    %.2f s, %.0f MiB/s%s\n", runs[i].back().seconds,
                                MiBPerSecond(size, runs[i].back().seconds),
                                runs[i].back().ok ? "" : " (FAILED)");
                }
            }
            return runs;
        };
    const auto medianRate = [](const std::vector<ChildRun>& runs, uint64_t size) {
        std::vector<double> rates;
        for (const auto& run : runs)
            rates.push_back(MiBPerSecond(size, run.seconds));
        return Median(rates);
    };
    const auto allFinished = [](const std::vector<ChildRun>& runs) {
        return std::all_of(runs.begin(), runs.end(), [](const auto& run) { return run.ok; });
    };

    // 1. Unthrottled.
    const uint64_t large = 1024 * kMiB;
    const uint64_t small = 64 * kMiB;
    std::printf("1. unthrottled 1 GiB on loopback, %d rounds\n", rounds);
    const auto plain = measure("1 GiB", large,
                               {{"tarvik, 1 connection", job(large, 1)},
                                {"tarvik, 4 connections", job(large, 4)},
                                {"curl -o", curl(large)},
                                {"curl -o, then fsync", curlSynced(large)},
                                {"dd conv=fsync", diskOnly(large)}},
                               rounds);
    const auto smallRuns = measure(
        "64 MiB", small,
        {{"tarvik, 1 connection", job(small, 1)}, {"tarvik, 4 connections", job(small, 4)}}, 1);
    for (const auto* runs :
         {&plain[0], &plain[1], &plain[2], &plain[3], &smallRuns[0], &smallRuns[1]})
        allOk = allOk && allFinished(*runs);

    // 2. Each connection capped at 4 MiB/s.
    const uint64_t capped = 64 * kMiB;
    conditions.bytesPerSecond = 4 * kMiB;
    std::printf("2. each connection capped at 4 MiB/s, 64 MiB, %d rounds\n", rounds);
    const auto cappedRuns =
        measure("capped", capped,
                {{"tarvik, 4 connections", job(capped, 4)}, {"curl -o", curl(capped)}}, rounds);
    conditions.bytesPerSecond = 0;
    allOk = allOk && allFinished(cappedRuns[0]) && allFinished(cappedRuns[1]);

    // 3. Every connection dropped after 16 MiB, one connection beside the same download without
    // drops (alternating, round after round), then four connections and `curl -o` once.
    const uint64_t dropped = 256 * kMiB;
    std::printf("3. every connection dropped after 16 MiB, 256 MiB, %d rounds\n", rounds);
    std::vector<ChildRun> droppedJob;
    std::vector<ChildRun> undroppedJob;
    uint64_t jobWire = 0;
    for (int round = 1; round <= rounds; ++round) {
        conditions.dropEvery = 0;
        undroppedJob.push_back(
            measure("no drops", dropped, {{"tarvik, 1 connection", job(dropped, 1)}}, 1)[0][0]);
        conditions.dropEvery = 16 * kMiB;
        conditions.sent = 0;
        droppedJob.push_back(
            measure("dropping", dropped, {{"tarvik, 1 connection", job(dropped, 1)}}, 1)[0][0]);
        jobWire = std::max(jobWire, conditions.sent.exchange(0));
    }
    const auto droppedJob4 =
        measure("dropping", dropped, {{"tarvik, 4 connections", job(dropped, 4)}}, 1);
    const uint64_t job4Wire = conditions.sent.exchange(0);
    const auto droppedCurl = measure("dropping", dropped, {{"curl -o", curl(dropped)}}, 1);
    const uint64_t curlWire = conditions.sent.exchange(0);
    conditions.dropEvery = 0;
    allOk = allOk && allFinished(droppedJob) && allFinished(undroppedJob) &&
            allFinished(droppedJob4[0]);

    // 4. The signature check beside the same download without it. The tool signs a copy of the
    // 1 GiB file once, in the pre-hashed form it makes by default.
    std::printf("4. minisign signature checked, 1 GiB, %d rounds\n", rounds);
    const fs::path publicKey = folder / "bench.pub";
    const fs::path secretKey = folder / "bench.key";
    const fs::path signature = folder / "blob.minisig";
    const std::string signCommand =
        "minisign -G -W -p '" + publicKey.string() + "' -s '" + secretKey.string() +
        "' >/dev/null && curl -s -o '" + target + "' '" + url(large) + "' && minisign -S -s '" +
        secretKey.string() + "' -m '" + target + "' -x '" + signature.string() + "' >/dev/null";
    if (std::system(signCommand.c_str()) != 0)
        throw std::runtime_error("could not sign the file with minisign (is it installed?)");
    fs::remove(target);
    std::ifstream publicKeyFile(publicKey);
    std::string key;
    std::getline(publicKeyFile, key);
    std::getline(publicKeyFile, key);
    const auto signedJob = [&](uint64_t size, int connections) {
        std::vector<std::string> command = job(size, connections);
        command.push_back(key);
        command.push_back(signature);
        return command;
    };
    const auto signedRuns = measure("1 GiB", large,
                                    {{"tarvik, 1 connection", job(large, 1)},
                                     {"tarvik, 1 connection, signature", signedJob(large, 1)},
                                     {"tarvik, 4 connections", job(large, 4)},
                                     {"tarvik, 4 connections, signature", signedJob(large, 4)}},
                                    rounds);
    for (const auto& runs : signedRuns)
        allOk = allOk && allFinished(runs);

    std::printf("\nsummary (2 shared cores; medians of %d rounds)\n", rounds);
    const double one = medianRate(plain[0], large);
    const double four = medianRate(plain[1], large);
    const double curlRate = medianRate(plain[2], large);
    const double syncedRate = medianRate(plain[3], large);
    const double diskRate = medianRate(plain[4], large);
    std::printf("1 GiB unthrottled: tarvik 1 connection %.0f MiB/s (%.2fx curl -o, %.2fx curl -o "
                "then fsync), 4 connections %.0f MiB/s (%.2fx, %.2fx), curl -o %.0f MiB/s, curl "
                "-o then fsync %.0f MiB/s; the disk alone (dd conv=fsync) %.0f MiB/s, tarvik 1 "
                "connection at %.2fx of it\n",
                one, one / curlRate, one / syncedRate, four, four / curlRate, four / syncedRate,
                curlRate, syncedRate, diskRate, one / diskRate);
    std::printf("peak RSS: 1 connection %.1f MiB for 64 MiB, %.1f MiB for 1 GiB; 4 connections "
                "%.1f MiB for 64 MiB, %.1f MiB for 1 GiB; curl -o %.1f MiB for 1 GiB\n",
                smallRuns[0].front().peakRssKiB / 1024.0, plain[0].front().peakRssKiB / 1024.0,
                smallRuns[1].front().peakRssKiB / 1024.0, plain[1].front().peakRssKiB / 1024.0,
                plain[2].front().peakRssKiB / 1024.0);
    const double cappedJob = medianRate(cappedRuns[0], capped);
    const double cappedCurl = medianRate(cappedRuns[1], capped);
    std::printf("4 MiB/s per connection, 64 MiB: tarvik 4 connections %.1f MiB/s, curl -o %.1f "
                "MiB/s, ratio %.2f\n",
                cappedJob, cappedCurl, cappedJob / cappedCurl);
    const auto wire = [&](uint64_t bytes) {
        return 100.0 * (static_cast<double>(bytes) / static_cast<double>(dropped) - 1.0);
    };
    const auto medianSeconds = [](const std::vector<ChildRun>& runs) {
        std::vector<double> seconds;
        for (const auto& run : runs)
            seconds.push_back(run.seconds);
        return Median(seconds);
    };
    const double withDrops = medianSeconds(droppedJob);
    const double withoutDrops = medianSeconds(undroppedJob);
    std::printf("dropped every 16 MiB, 256 MiB: tarvik 1 connection %s in %.2f s, %.2fx the same "
                "download without drops (%.2f s), at most %+.2f %% bytes on the wire; 4 "
                "connections %s in %.2f s, %+.2f %%; curl -o %s after %.1f MiB\n",
                allFinished(droppedJob) ? "finished" : "FAILED", withDrops,
                withDrops / withoutDrops, withoutDrops, wire(jobWire),
                droppedJob4[0][0].ok ? "finished" : "FAILED", droppedJob4[0][0].seconds,
                wire(job4Wire), droppedCurl[0][0].ok ? "finished" : "failed",
                static_cast<double>(curlWire) / static_cast<double>(kMiB));
    const auto signatureCost = [&](const std::vector<ChildRun>& without,
                                   const std::vector<ChildRun>& with) {
        const double plainSeconds = medianSeconds(without);
        const double checkedSeconds = medianSeconds(with);
        std::printf("%.2f s without, %.2f s with the check (%.2fx, %+.2f s; %.0f against %.0f "
                    "MiB/s)",
                    plainSeconds, checkedSeconds, checkedSeconds / plainSeconds,
                    checkedSeconds - plainSeconds, medianRate(with, large),
                    medianRate(without, large));
    };
    std::printf("signature checked, 1 GiB: 1 connection ");
    signatureCost(signedRuns[0], signedRuns[1]);
    std::printf("; 4 connections ");
    signatureCost(signedRuns[2], signedRuns[3]);
    std::printf("\n");
    if (!allOk) {
        std::printf("a Tarvik download failed\n");
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    // A client that goes away mid-answer must not end the server with SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    // The transfer library's global state, held by the process as the program does.
    const tarvik::CurlGlobal curl;
    // A failed file or server operation throws; the bench reports it instead of aborting.
    try {
        if ((argc == 4 || argc == 5) && std::string(argv[1]) == "job")
            return RunJob(argv[2], argv[3], argc == 5 ? std::atoi(argv[4]) : 4);
        if (argc == 7 && std::string(argv[1]) == "job")
            return RunJob(argv[2], argv[3], std::atoi(argv[4]), std::string(argv[5]), argv[6]);
        if (argc == 2 && std::string(argv[1]) == "serve") {
            // For measuring by hand: serves until killed.
            const std::string pattern = BlobPattern();
            Conditions conditions;
            tarvik::testing::LoopbackServer server;
            ServeBlobs(server.server, pattern, conditions);
            server.Start();
            std::printf("%s\n", server.Url("/blob/").c_str());
            std::fflush(stdout);
            for (;;)
                std::this_thread::sleep_for(std::chrono::hours(1));
        }
        if (argc == 2 || argc == 3)
            return Compare(argv[1], argc == 3 ? std::max(1, std::atoi(argv[2])) : 3);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "transfer_bench: %s\n", error.what());
        return 1;
    }
    std::fprintf(stderr, "usage: %s <folder> [rounds] | %s job <url> <target>\n", argv[0], argv[0]);
    return 2;
}
