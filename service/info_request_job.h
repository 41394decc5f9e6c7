#pragma once

#include "common/curl/abortable_perform.h"
#include "common/curl/request_route.h"
#include "service/product_info.h"
#include "service/service_limits.h"

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace tarvik::service {

// One product info request on its own worker thread, so that the user-interface thread keeps
// turning (and the web view can start its processes) while the service answers.
//
// Threads: the worker touches only the URL, limits and proxy lookup (never changed), the answer
// slot (under the mutex) and the abort switch (safe from any thread); it calls the proxy lookup
// and then, once, `onAnswered`, both from the worker, so both must be safe to call from any
// thread (the host posts a message with `onAnswered`). Every other member belongs to the thread
// that made the job.
class InfoRequestJob {
public:
    // `proxyFor` is asked on the worker, and stopped with the request.
    InfoRequestJob(std::string infoUrl, ServiceLimits limits, ProxyLookup proxyFor,
                   std::function<void()> onAnswered);
    // Stops a request still under way at once (its proxy lookup too) and joins the worker;
    // `onAnswered` is not called after that.
    ~InfoRequestJob();
    InfoRequestJob(const InfoRequestJob&) = delete;
    InfoRequestJob& operator=(const InfoRequestJob&) = delete;

    // The answer, once `onAnswered` has been called; nothing before.
    std::optional<ProductInfo> TakeAnswer();

private:
    const std::string infoUrl_;
    const ServiceLimits limits_;
    const ProxyLookup proxyFor_;
    std::function<void()> onAnswered_;
    AbortSwitch abort_;
    std::mutex mutex_;
    std::optional<ProductInfo> answer_;
    std::thread worker_;
};

} // namespace tarvik::service
