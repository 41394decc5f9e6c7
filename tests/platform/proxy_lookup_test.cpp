// The desktop's proxy lookup through GIO, with a resolver the test scripts in place of GNOME's or
// libproxy's: what its answers become, and that a slow one (a configuration script that takes
// long or never comes) is given up at the limit or when the request is abandoned.
#include "platform/posix/proxy_lookup.h"

#include <gio/gio.h>
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

namespace tarvik::platform::posix {
namespace {

using namespace std::chrono_literals;

// What the scripted resolver does with each lookup, and what it saw.
struct Script {
    bool supported = true;
    // The answer: the proxies in order of preference, or an error when nothing.
    std::optional<std::vector<std::string>> proxies;
    // A held lookup waits until released, as for a configuration script still on its way. GIO's
    // resolvers end a cancelled one at once, and so does this one unless `ignoreCancel` is set.
    bool hold = false;
    bool ignoreCancel = false;

    std::mutex mutex;
    std::condition_variable changed;
    int asked = 0;
    int cancelled = 0; // lookups ended by their cancellation
    int inside = 0;    // lookups under way
    bool released = false;

    void Release() {
        const std::lock_guard lock(mutex);
        released = true;
        changed.notify_all();
    }
    void WaitUntilInside(int count) {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return inside >= count; });
    }
    // Until `count` lookups were asked for and none is under way.
    void WaitUntilDone(int count) {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return asked >= count && inside == 0; });
    }
};

struct ScriptedResolver {
    GObject parent;
    Script* script;
};
struct ScriptedResolverClass {
    GObjectClass parentClass;
};

void scripted_resolver_iface_init(GProxyResolverInterface* iface);
G_DEFINE_TYPE_WITH_CODE(ScriptedResolver, scripted_resolver, G_TYPE_OBJECT,
                        G_IMPLEMENT_INTERFACE(G_TYPE_PROXY_RESOLVER, scripted_resolver_iface_init))

void scripted_resolver_init(ScriptedResolver*) {}
void scripted_resolver_class_init(ScriptedResolverClass*) {}

Script& ScriptOf(gpointer resolver) {
    return *reinterpret_cast<ScriptedResolver*>(resolver)->script;
}

void WakeOnCancel(GCancellable*, gpointer script) {
    auto* waiting = static_cast<Script*>(script);
    const std::lock_guard lock(waiting->mutex);
    waiting->changed.notify_all();
}

gchar** LookUp(GProxyResolver* resolver, const gchar*, GCancellable* cancellable, GError** error) {
    Script& script = ScriptOf(resolver);
    std::unique_lock lock(script.mutex);
    ++script.asked;
    ++script.inside;
    script.changed.notify_all();
    if (script.hold) {
        const bool heedCancel = cancellable && !script.ignoreCancel;
        const gulong handler =
            heedCancel
                ? g_cancellable_connect(cancellable, G_CALLBACK(&WakeOnCancel), &script, nullptr)
                : 0;
        script.changed.wait(lock, [&] {
            return script.released || (heedCancel && g_cancellable_is_cancelled(cancellable));
        });
        if (handler) {
            lock.unlock();
            g_cancellable_disconnect(cancellable, handler);
            lock.lock();
        }
    }
    gchar** answer = nullptr;
    if (cancellable && g_cancellable_is_cancelled(cancellable) && !script.ignoreCancel) {
        g_cancellable_set_error_if_cancelled(cancellable, error);
        ++script.cancelled;
    } else if (script.proxies) {
        answer = g_new0(gchar*, script.proxies->size() + 1);
        for (size_t i = 0; i < script.proxies->size(); ++i)
            answer[i] = g_strdup((*script.proxies)[i].c_str());
    } else {
        g_set_error_literal(error, G_IO_ERROR, G_IO_ERROR_FAILED, "no answer");
    }
    --script.inside;
    script.changed.notify_all();
    return answer;
}

gboolean IsSupported(GProxyResolver* resolver) {
    return ScriptOf(resolver).supported;
}

void scripted_resolver_iface_init(GProxyResolverInterface* iface) {
    iface->is_supported = &IsSupported;
    iface->lookup = &LookUp;
}

// The resolver for one test. Lookups still held when it goes are let go.
class Resolver {
public:
    explicit Resolver(Script& script)
        : script_(script), resolver_(static_cast<ScriptedResolver*>(
                               g_object_new(scripted_resolver_get_type(), nullptr))) {
        resolver_->script = &script;
    }
    ~Resolver() {
        script_.Release();
        g_object_unref(resolver_);
    }
    Resolver(const Resolver&) = delete;
    Resolver& operator=(const Resolver&) = delete;

    GProxyResolver* get() const { return G_PROXY_RESOLVER(resolver_); }

private:
    Script& script_;
    ScriptedResolver* resolver_;
};

constexpr auto kNoLimit = std::chrono::hours(1); // only the stop or the answer ends a lookup

TEST(ProxyLookupTest, TakesTheFirstProxyTheTransferLibrarySpeaks) {
    struct Case {
        const char* name = nullptr;
        bool supported = true;
        std::optional<std::vector<std::string>> proxies;
        std::optional<std::string> expected;
        int asked = 0;
    };
    const Case cases[] = {
        {"an http proxy", true, {{"http://proxy.test:3128"}}, "http://proxy.test:3128", 1},
        {"direct", true, {{"direct://"}}, "", 1},
        {"kinds the library lacks are passed over",
         true,
         {{"ftp://proxy.test:21", "socks5://proxy.test:1080", "direct://"}},
         "socks5://proxy.test:1080",
         1},
        {"nothing usable", true, {{"ftp://proxy.test:21"}}, std::nullopt, 1},
        {"the resolver fails", true, std::nullopt, std::nullopt, 1},
        {"no resolver on this desktop", false, {{"http://proxy.test:3128"}}, std::nullopt, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Script script;
        script.supported = c.supported;
        script.proxies = c.proxies;
        const Resolver resolver(script);
        EXPECT_EQ(LookUpProxy(resolver.get(), "https://service.test/info", kNoLimit, {}),
                  c.expected);
        script.WaitUntilDone(c.asked);
        EXPECT_EQ(script.asked, c.asked);
    }
}

// A slow lookup (a configuration script on its way) ends with its answer, at the limit, or when
// the request it was for is abandoned, and then the resolver is told to stop through its
// GCancellable; an abandoned request does not ask at all. A resolver that goes on regardless
// holds up nothing.
TEST(ProxyLookupTest, ASlowLookupIsGivenUpAtTheLimitOrWhenStopped) {
    enum class End { Released, Limit, StopWhileWaiting, StoppedBefore };
    struct Case {
        const char* name = nullptr;
        End end = End::Released;
        bool ignoreCancel = false;
        std::optional<std::string> expected;
        int asked = 0;
        int cancelled = 0;
    };
    const Case cases[] = {
        {"answered in time", End::Released, false, "http://proxy.test:3128", 1, 0},
        {"out of time", End::Limit, false, std::nullopt, 1, 1},
        {"stopped while waiting", End::StopWhileWaiting, false, std::nullopt, 1, 1},
        {"stopped before", End::StoppedBefore, false, std::nullopt, 0, 0},
        {"out of time, the resolver going on", End::Limit, true, std::nullopt, 1, 0},
        {"stopped, the resolver going on", End::StopWhileWaiting, true, std::nullopt, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Script script;
        script.proxies = {{"http://proxy.test:3128"}};
        script.hold = true;
        script.ignoreCancel = c.ignoreCancel;
        std::optional<std::string> answer = "(not asked)";
        {
            const Resolver resolver(script);
            std::stop_source stop;
            if (c.end == End::StoppedBefore)
                stop.request_stop();
            const auto limit = c.end == End::Limit ? std::chrono::milliseconds(50) : kNoLimit;
            std::thread request([&] {
                answer = LookUpProxy(resolver.get(), "https://service.test/info", limit,
                                     stop.get_token());
            });
            if (c.end == End::Released || c.end == End::StopWhileWaiting) {
                script.WaitUntilInside(1);
                if (c.end == End::Released)
                    script.Release();
                else
                    stop.request_stop();
            }
            // A lookup that ignored its stop or its limit would keep this join, and the test,
            // waiting for the resolver, which is only released after it.
            request.join();
            script.Release();
            // A lookup given up goes on on its own thread: it has to be over before the script
            // goes.
            script.WaitUntilDone(c.asked);
        }
        EXPECT_EQ(answer, c.expected);
        EXPECT_EQ(script.asked, c.asked);
        EXPECT_EQ(script.cancelled, c.cancelled);
    }
}

} // namespace
} // namespace tarvik::platform::posix
