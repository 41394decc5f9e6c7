// The real program confines its web content where bubblewrap can make namespaces, and says so
// once on stderr where it cannot; either way the page loads.
#include "support/loopback_server.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace tarvik::testing {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr char kWithoutSandbox[] = "web content runs without a sandbox";

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

pid_t ParentOf(pid_t pid) {
    // The field after the parenthesised name, which may itself hold spaces.
    const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    const auto close = stat.rfind(')');
    if (close == std::string::npos)
        return 0;
    std::istringstream rest(stat.substr(close + 2));
    char state = 0;
    pid_t parent = 0;
    rest >> state >> parent;
    return parent;
}

// The processes below `root` whose command name is `name`.
std::vector<pid_t> DescendantsNamed(pid_t root, const std::string& name) {
    std::vector<pid_t> found;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string file = entry.path().filename();
        if (file.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const pid_t pid = std::stoi(file);
        std::string comm = ReadFile(entry.path() / "comm");
        if (!comm.empty() && comm.back() == '\n')
            comm.pop_back();
        if (comm != name)
            continue;
        for (pid_t up = ParentOf(pid); up > 1; up = ParentOf(up)) {
            if (up == root) {
                found.push_back(pid);
                break;
            }
        }
    }
    return found;
}

std::string PidNamespace(pid_t pid) {
    std::error_code error;
    return fs::read_symlink("/proc/" + std::to_string(pid) + "/ns/pid", error).string();
}

// The program copied into a folder of its own with a config.ini that asks `info` for the page,
// run in its own process group with stderr collected.
class ProgramRun {
public:
    ProgramRun(const std::string& infoUrl, const std::string& path) {
        std::string pattern = (fs::temp_directory_path() / "tarvik-sandbox-XXXXXX").string();
        folder_ = mkdtemp(pattern.data());
        fs::copy_file(TARVIK_EXECUTABLE, folder_ / "tarvik");
        std::ofstream(folder_ / "config.ini") << "[root]\napi_url=" << infoUrl << "\n";
        stderrPath_ = folder_ / "stderr.txt";

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, stderrPath_.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attributes, 0);
        std::vector<std::string> env;
        for (char** entry = environ; *entry; ++entry) {
            const std::string variable(*entry);
            const bool replaced = variable.starts_with("PATH=") ||
                                  variable.starts_with("DBUS_SESSION_BUS_ADDRESS=") ||
                                  variable.starts_with("NO_AT_BRIDGE=");
            if (!replaced)
                env.emplace_back(variable);
        }
        env.push_back("PATH=" + path);
        env.push_back("HOME=" + folder_.string());
        // No session bus, and none started on the side: D-Bus's autolaunch would start one for
        // the display, with an accessibility bus, and both outlived the program's process group.
        env.push_back("DBUS_SESSION_BUS_ADDRESS=unix:path=" + (folder_ / "no-bus").string());
        env.emplace_back("NO_AT_BRIDGE=1");
        env.push_back("XDG_DOWNLOAD_DIR=" + folder_.string());
        std::vector<char*> envp;
        for (std::string& entry : env)
            envp.push_back(entry.data());
        envp.push_back(nullptr);
        const std::string program = (folder_ / "tarvik").string();
        char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
        if (posix_spawn(&pid_, program.c_str(), &actions, &attributes, argv, envp.data()) != 0)
            pid_ = 0;
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
    ~ProgramRun() {
        if (pid_ > 0) {
            ::kill(-pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }

    pid_t pid() const { return pid_; }
    std::string Stderr() const { return ReadFile(stderrPath_); }

private:
    fs::path folder_;
    fs::path stderrPath_;
    pid_t pid_ = 0;
};

class SandboxTest : public ::testing::Test {
protected:
    void SetUp() override {
        site.server.Get("/info", [this](const httplib::Request&, httplib::Response& response) {
            response.set_content(R"({"code":200,"data":{"name":"Sandbox","url1":")" +
                                     site.Url("/page") + R"("}})",
                                 "application/json");
        });
        site.server.Get("/page", [this](const httplib::Request&, httplib::Response& response) {
            ++pageRequests;
            response.set_content("<!doctype html><p>page</p>", "text/html");
        });
        site.Start();
    }

    // Waits for the program's web process, which exists only once the page is being loaded.
    std::vector<pid_t> WebProcessesOf(const ProgramRun& run) {
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        while (std::chrono::steady_clock::now() < deadline) {
            auto found = DescendantsNamed(run.pid(), "WebKitWebProces");
            if (!found.empty() && pageRequests > 0)
                return found;
            std::this_thread::sleep_for(100ms);
        }
        return {};
    }

    LoopbackServer site;
    std::atomic<int> pageRequests{0};
};

bool BubblewrapWorks() {
    return std::system("bwrap --ro-bind / / --unshare-all --die-with-parent true "
                       ">/dev/null 2>&1") == 0;
}

TEST_F(SandboxTest, WebContentIsConfinedWhereBubblewrapWorks) {
    if (!BubblewrapWorks())
        GTEST_SKIP() << "bubblewrap cannot make namespaces on this machine";
    ProgramRun run(site.Url("/info"), std::getenv("PATH"));
    ASSERT_GT(run.pid(), 0);
    const std::vector<pid_t> web = WebProcessesOf(run);
    ASSERT_FALSE(web.empty()) << run.Stderr();
    for (const pid_t pid : web)
        EXPECT_NE(PidNamespace(pid), PidNamespace(run.pid())) << "web process " << pid;
    EXPECT_EQ(run.Stderr().find(kWithoutSandbox), std::string::npos) << run.Stderr();
}

TEST_F(SandboxTest, WithoutBubblewrapThePageStillLoadsAndTheProgramSaysSo) {
    ProgramRun run(site.Url("/info"), "/nonexistent");
    ASSERT_GT(run.pid(), 0);
    const std::vector<pid_t> web = WebProcessesOf(run);
    ASSERT_FALSE(web.empty()) << run.Stderr();
    const std::string said = run.Stderr();
    EXPECT_NE(said.find(std::string(kWithoutSandbox) + ": bubblewrap (bwrap) is not installed"),
              std::string::npos)
        << said;
    EXPECT_EQ(said.find(kWithoutSandbox), said.rfind(kWithoutSandbox)) << "said once";
}

} // namespace
} // namespace tarvik::testing
