#pragma once

#include <cstdint>
#include <optional>

namespace tarvik::platform::win32 {

// Tells the host's own navigation apart from the page's, and whether it failed, from the web
// view's navigation events. The runtime numbers every navigation; its redirects keep the number,
// and a navigation it cancels (the host navigating again, the page moving on before its first
// load finished, window.stop()) ends as "operation cancelled", which is no failure of the page.
//
// Threads: the user-interface thread, as the runtime's events.
class HostNavigation {
public:
    enum class End {
        kNotTheHosts, // another navigation, or the host's outcome was already given
        kLoaded,      // the host's page loaded, or its load was cancelled by another navigation
        kFailed,      // no page: the connection, the name, TLS, or an HTTP error status
    };

    // The runtime's values (COREWEBVIEW2_WEB_ERROR_STATUS) for a cancelled navigation, and for
    // one whose connection was aborted, which is also what window.stop() gives once the answer
    // has come.
    static constexpr int kOperationCancelled = 14;
    static constexpr int kConnectionAborted = 9;

    // The host asks for a navigation: the next one to start is the host's.
    void Begin() {
        hostKnown_ = false;
        awaitingStart_ = true;
    }
    // A top-level navigation starts (again, for each of its redirects).
    void Started(std::uint64_t id) {
        if (awaitingStart_) {
            host_ = id;
            hostKnown_ = true;
            awaitingStart_ = false;
        }
    }
    // A navigation ends. `httpStatus` is its HTTP status where the runtime tells it (older
    // runtimes do not); the runtime already counts a 4xx answer as unsuccessful but shows a 5xx
    // answer's page as a success.
    End Completed(std::uint64_t id, bool success, int webErrorStatus,
                  std::optional<int> httpStatus) {
        if (!hostKnown_ || host_ != id)
            return End::kNotTheHosts;
        hostKnown_ = false;
        if (!success) {
            if (webErrorStatus == kOperationCancelled)
                return End::kLoaded;
            // The page stopped its own load after the server had answered with a page: the
            // document is there. Without an answer (no status) the abort is the connection's.
            if (webErrorStatus == kConnectionAborted && httpStatus && *httpStatus < 400)
                return End::kLoaded;
            return End::kFailed;
        }
        return httpStatus && *httpStatus >= 400 ? End::kFailed : End::kLoaded;
    }

private:
    bool awaitingStart_ = false;
    // The host's navigation's number while its end is awaited (a plain pair rather than an
    // optional, over which GCC 12 warns of a value that may be uninitialised).
    bool hostKnown_ = false;
    std::uint64_t host_ = 0;
};

} // namespace tarvik::platform::win32
