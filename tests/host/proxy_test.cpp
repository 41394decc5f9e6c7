#include "host_fixture.h"

#include "common/curl/request_route.h"
#include "common/event_codes.h"

#include <cstdlib>
#include <optional>
#include <ostream>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

namespace tarvik::platform::headless {

void PrintTo(const HeadlessSystem::HeldLookups& held, std::ostream* out) {
    *out << "{waiting " << held.waiting << ", stopped " << held.stopped << ", never stopped "
         << held.neverStopped << "}";
}

} // namespace tarvik::platform::headless

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

#ifdef _WIN32
// The user's manual proxy setting on Windows, for the test's lifetime: the connection settings
// value the settings dialogs write (Wine keeps it in the same place, in the same layout), with
// one server for every scheme and no exceptions. The value that was there comes back after.
class ScopedWindowsProxySetting {
public:
    explicit ScopedWindowsProxySetting(const std::string& server) {
        if (::RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0,
                              KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key_,
                              nullptr) != ERROR_SUCCESS) {
            key_ = nullptr;
            ADD_FAILURE() << "cannot open the connection settings";
            return;
        }
        DWORD size = 0;
        if (::RegQueryValueExW(key_, kValue, nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS) {
            old_.emplace(size, BYTE{0});
            ::RegQueryValueExW(key_, kValue, nullptr, nullptr, old_->data(), &size);
        }
        // Layout: a version, a counter, the kind (1 direct, 2 named server), then the server,
        // the exceptions and the configuration script, each as a length and its characters.
        std::vector<BYTE> blob;
        const auto put = [&blob](DWORD value) {
            for (int shift = 0; shift < 32; shift += 8)
                blob.push_back(static_cast<BYTE>(value >> shift));
        };
        const auto putText = [&](const std::string& text) {
            put(static_cast<DWORD>(text.size()));
            blob.insert(blob.end(), text.begin(), text.end());
        };
        put(0x46);
        put(1);
        put(1 | 2);
        putText(server);
        putText("");
        putText("");
        blob.resize(blob.size() + 32, 0);
        EXPECT_EQ(::RegSetValueExW(key_, kValue, 0, REG_BINARY, blob.data(),
                                   static_cast<DWORD>(blob.size())),
                  ERROR_SUCCESS);
    }
    ~ScopedWindowsProxySetting() {
        if (!key_)
            return;
        if (old_)
            ::RegSetValueExW(key_, kValue, 0, REG_BINARY, old_->data(),
                             static_cast<DWORD>(old_->size()));
        else
            ::RegDeleteValueW(key_, kValue);
        ::RegCloseKey(key_);
    }
    ScopedWindowsProxySetting(const ScopedWindowsProxySetting&) = delete;
    ScopedWindowsProxySetting& operator=(const ScopedWindowsProxySetting&) = delete;

private:
    static constexpr const wchar_t* kKey =
        L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
    static constexpr const wchar_t* kValue = L"DefaultConnectionSettings";
    HKEY key_ = nullptr;
    std::optional<std::vector<BYTE>> old_;
};
#endif

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
#ifdef _WIN32
    // On Windows the system's answer comes from the user's proxy settings, as the web view's
    // does, and never from the environment: the case's proxy is set there instead.
    const bool windowsSettings = c.resolver == Resolver::System && c.environmentNamesProxy;
    std::optional<ScopedWindowsProxySetting> setting;
    if (windowsSettings)
        setting.emplace(proxyUrl.substr(proxyUrl.find("://") + 3));
#else
    const bool windowsSettings = false;
#endif
    const ScopedVariable httpProxy(
        "http_proxy", c.environmentNamesProxy && !windowsSettings ? proxyUrl.c_str() : nullptr);
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
                      // GIO on Linux reads the environment; on Windows the proxy is in the
                      // user's settings instead (see the test). One case only: on Windows the
                      // settings are shared by every test running at the same time.
                      Case{"system resolver, environment", Resolver::System, true, true}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::to_string(info.index); });

// A desktop whose proxy lookup never answers, as when its configuration script never arrives:
// each of the program's requests waits in its lookup, but no user's action waits for them, and
// the close still ends within its drain limit. A lookup that nothing stopped gives up after the
// double's own limit and is counted as never stopped, so such a fault fails the test rather
// than hangs it.
class HeldProxyLookupTest : public HostFixture {
protected:
    using Held = platform::headless::HeadlessSystem::HeldLookups;

    void AwaitHeld(size_t waiting) {
        ASSERT_TRUE(platform.system.WaitForHeldProxyLookups(waiting, 10s))
            << "the lookups waiting now: " << platform.system.HeldProxyLookups().waiting;
    }
    Held HeldNow() const { return platform.system.HeldProxyLookups(); }
};

TEST_F(HeldProxyLookupTest, TheCloseDrainEndsWithinItsLimit) {
    platform.system.HoldProxyLookups();
    StartHost(InfoAnswer::NotAwaited);
    for (const char* id : {"a", "b", "c"})
        Send(std::string(R"({"msg_type":"post_data","msg_data":{"event_id":")") + id + "\"}}");
    AwaitHeld(2); // the info request's, and the first report's
    Send(R"({"msg_type":"close","msg_data":{"force_close":true}})");
    ASSERT_EQ(platform.window.endDialogResult, kEndedByPage);

    const auto closing = std::chrono::steady_clock::now();
    EXPECT_EQ(host->EndRun(), 3u) << "no report can go out without its route";
    // The promise to the user: the program is gone the drain limit after the window. The margin
    // is for ending the threads on a busy machine; a drain held up by its lookup would take the
    // double's 20 s.
    EXPECT_LT(std::chrono::steady_clock::now() - closing, options.eventDrainLimit + 1s);
    EXPECT_EQ(HeldNow(), (Held{0, 2, 0}));
}

// "Try again" asks the service anew on a worker; closing the window meanwhile does not wait for
// that request's lookup.
TEST_F(HeldProxyLookupTest, CloseDoesNotWaitForTheRequestTryAgainStarted) {
    infoAnswer = R"({"code":404})"; // "Cannot reach the download service", with "Try again"
    StartHost();
    ASSERT_TRUE(platform.builtInPage.shown);
    ASSERT_EQ(Events(), std::vector<std::string>{kEventStartFailed}) << "sent before the hold";
    platform.system.HoldProxyLookups();
    platform.builtInPage.SendCommand("retry");
    AwaitHeld(1);
    platform.builtInPage.SendCommand("close");
    ASSERT_EQ(platform.window.endDialogResult, kEndedByPage);
    EXPECT_EQ(host->EndRun(), 0u);
    EXPECT_EQ(HeldNow(), (Held{0, 1, 0}));
}

TEST_F(HeldProxyLookupTest, CancellingOrClosingDoesNotWaitForTheDownloadsLookup) {
    StartHost();
    const std::string download = R"({"msg_type":"dnld","msg_data":{"url":")" +
                                 service.Url("/files/Setup.exe") + R"(","silent":true}})";
    platform.system.HoldProxyLookups();
    Send(download);
    AwaitHeld(1);
    platform.webView.notices.clear();
    Send(R"({"msg_type":"dnld_cancel"})");
    EXPECT_EQ(Notices(), std::vector<std::string>{R"({"msg_type":"dnld","reason":"cancelled",)"
                                                  R"("status":0,"status_text":"dnld_failed"})"});
    // The cancel answered at once; the lookup it stopped ends on the worker's own time.
    ASSERT_TRUE(platform.system.WaitForStoppedProxyLookups(1, 10s));
    EXPECT_EQ(HeldNow(), (Held{0, 1, 0}));

    Send(download);
    AwaitHeld(1);
    Send(R"({"msg_type":"close","msg_data":{"force_close":true}})");
    ASSERT_EQ(platform.window.endDialogResult, kEndedByPage);
    host->EndRun();
    EXPECT_EQ(HeldNow(), (Held{0, 2, 0}));
    EXPECT_TRUE(std::filesystem::is_empty(folder / "Downloads"));
}

// The host names its system in every request, as the platform tells it.
class UserAgentTest : public HostFixture {};

TEST_F(UserAgentTest, NamesTheProgramItsVersionAndTheSystem) {
    StartHost();
    const platform::SystemName name = platform.system.Name();
#ifdef _WIN32
    EXPECT_EQ(name.os, "Windows");
#else
    EXPECT_EQ(name.os, "Linux");
#endif
    EXPECT_FALSE(name.machine.empty());
    EXPECT_NE(name.machine, "unknown");
    EXPECT_EQ(UserAgent(), "Tarvik/0.1 (" + name.os + "; " + name.machine + ")");
}

} // namespace
} // namespace tarvik::testing
