#pragma once

#include <chrono>
#include <optional>
#include <stop_token>
#include <string>

// GIO's resolver type, named here without GIO's headers, which stay in the .cpp files.
typedef struct _GProxyResolver GProxyResolver;

namespace tarvik::platform::posix {

// Asks `resolver` which proxy to use for `url`, as PosixSystem::ProxyFor does with GIO's default
// resolver (tests hand it resolvers of their own): the first proxy in its answer that the
// transfer library speaks, empty for "direct://", nothing when it names none of them, fails, or
// is not supported here.
//
// It waits for the answer at most `limit`, and answers nothing at once when `stop` is requested,
// before or while it waits (see AnswerWithin); the lookup is then cancelled through its
// GCancellable, and not waited for.
//
// Threads: any; `stop` may be requested from any thread.
std::optional<std::string> LookUpProxy(GProxyResolver* resolver, const std::string& url,
                                       std::chrono::milliseconds limit,
                                       const std::stop_token& stop);

} // namespace tarvik::platform::posix
