#include "host_fixture.h"

#include "common/curl/request_route.h"

#include <cstdlib>
#include <ostream>

namespace tarvik::testing {
namespace {

using namespace std::chrono_literals;

// Which of the program's requests went through the proxy, and with which agent.
struct Observed {
    std::vector<std::string> throughProxy; // paths, in order
    std::vector<std::string> agents;       // the User-Agent of each
    bool operator==(const Observed&) const = default;
};

void PrintTo(const Observed& o, std::ostream* out) {
    *out << "{throughProxy=[";
    for (const auto& p : o.throughProxy)
        *out << p << " ";
    *out << "] agents=[";
    for (const auto& a : o.agents)
        *out << a << " ";
    *out << "]}";
}

enum class Resolver { Desktop, DesktopSaysDirect, None, System };

struct Case {
    const char* name;
    Resolver resolver;
    bool environmentNamesProxy;
    bool expectProxy;
};

void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name;
}

// Sets an environment variable for the test's lifetime; the host's worker threads have all ended
// before it is set back.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name))
            old_ = old;
        Set(name, value);
    }
    ~ScopedVariable() { Set(name_, old_ ? old_->c_str() : nullptr); }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    static void Set(const char* name, const char* value) {
#ifdef _WIN32
        // An empty value removes the variable, from the C library's copy and the process's.
        _putenv_s(name, value ? value : "");
#else
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
#endif
    }

    const char* name_;
    std::optional<std::string> old_;
};

// A small forward proxy that records what it is asked for and answers as the service would: the
// info answer, an accepted report, a few bytes of installer.
class ProxyTable : public HostFixture, public ::testing::WithParamInterface<Case> {
protected:
    ProxyTable() {
        const auto handle = [this](const httplib::Request& request, httplib::Response& response) {
            // A request to a proxy names the whole URL; what follows the origin is the path.
            std::string path = request.path;
            if (const size_t origin = path.find("://"); origin != std::string::npos)
                path = path.substr(path.find('/', origin + 3));
            {
                const std::lock_guard lock(proxyMutex);
                seen.throughProxy.push_back(path);
                seen.agents.push_back(request.get_header_value("User-Agent"));
            }
            if (path.starts_with("/downloader.php/index/info"))
                response.set_content(infoAnswer, "application/json");
            else if (path.starts_with("/downloader.php/index/log"))
                response.set_content(R"({"code":200})", "application/json");
            else
                response.set_content("installer bytes", "application/octet-stream");
        };
        proxy.server.Get(".*", handle);
        proxy.server.Post(".*", handle);
        proxy.Start();
    }

    // Declared before the server, so that they outlive its handlers.
    std::mutex proxyMutex;
    Observed seen;
    LoopbackServer proxy;
};

// Every kind of request the program makes (the info request, an event report, the download)
// goes where the desktop says: through its proxy, directly when it says so even if the
// environment names a proxy, and by the environment when there is no resolver at all.
TEST_P(ProxyTable, EveryRequestGoesWhereTheDesktopSays) {
    const Case& c = GetParam();
    const std::string proxyUrl = proxy.Origin();
    const ScopedVariable httpProxy("http_proxy",
                                   c.environmentNamesProxy ? proxyUrl.c_str() : nullptr);
    const ScopedVariable noProxy("no_proxy", nullptr);
    const ScopedVariable noProxyUpper("NO_PROXY", nullptr);
    switch (c.resolver) {
    case Resolver::Desktop:
        platform.system.AnswerProxy(proxyUrl);
        break;
    case Resolver::DesktopSaysDirect:
        platform.system.AnswerProxy(std::string());
        break;
    case Resolver::None:
        platform.system.AnswerProxy(std::nullopt);
        break;
    case Resolver::System:
        platform.system.UseRealProxyResolver();
        break;
    }
    platform.desktop.downloadsFolder = (folder / "Downloads").string();

    StartHost();
    Send(R"({"msg_type":"post_data","msg_data":{"event_id":"seen"}})");
    Events();
    Send(R"({"msg_type":"dnld","msg_data":{"url":")" + service.Url("/files/Setup.exe") +
         R"(","silent":true}})");
    // Through the proxy the installer arrives; directly, the service has none (404).
    ASSERT_TRUE(platform.window.PumpUntil(
        [&] {
            for (const auto& notice : Notices())
                if (notice.find("dnld_finished") != std::string::npos ||
                    notice.find("dnld_failed") != std::string::npos)
                    return true;
            return false;
        },
        10s));
    host.reset();

    const Observed expected = c.expectProxy
                                  ? Observed{{"/downloader.php/index/info",
                                              "/downloader.php/index/log", "/files/Setup.exe"},
                                             {UserAgent(), UserAgent(), UserAgent()}}
                                  : Observed{};
    const std::lock_guard lock(proxyMutex);
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(infoRequests, c.expectProxy ? 0 : 1);
}

INSTANTIATE_TEST_SUITE_P(
    Routes, ProxyTable,
    ::testing::Values(Case{"desktop proxy", Resolver::Desktop, false, true},
                      Case{"desktop says direct over the environment", Resolver::DesktopSaysDirect,
                           true, false},
                      Case{"no resolver, environment", Resolver::None, true, true},
                      Case{"no resolver, no environment", Resolver::None, false, false},
                      // GIO on Linux reads the environment; the win32 System answers nothing,
                      // and libcurl reads it.
                      Case{"system resolver, environment", Resolver::System, true, true}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::to_string(info.index); });

TEST(UserAgent, NamesTheProgramItsVersionAndTheSystem) {
#ifdef _WIN32
    EXPECT_TRUE(UserAgent().starts_with("Tarvik/0.1 (Windows; ")) << UserAgent();
#else
    EXPECT_TRUE(UserAgent().starts_with("Tarvik/0.1 (Linux; ")) << UserAgent();
#endif
    EXPECT_TRUE(UserAgent().ends_with(")")) << UserAgent();
}

} // namespace
} // namespace tarvik::testing
