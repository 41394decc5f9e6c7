#include "service/info_request_job.h"

namespace tarvik::service {

InfoRequestJob::InfoRequestJob(std::string infoUrl, ServiceLimits limits, ProxyLookup proxyFor,
                               std::function<void()> onAnswered)
    : infoUrl_(std::move(infoUrl)), limits_(std::move(limits)), proxyFor_(std::move(proxyFor)),
      onAnswered_(std::move(onAnswered)) {
    worker_ = std::thread([this] {
        RequestContext context{&abort_, std::nullopt, std::nullopt};
        if (proxyFor_)
            context.proxy = proxyFor_(infoUrl_, abort_.StopToken());
        ProductInfo info = RequestProductInfo(infoUrl_, limits_, context);
        if (abort_.aborted())
            return;
        {
            const std::lock_guard lock(mutex_);
            answer_ = std::move(info);
        }
        onAnswered_();
    });
}

InfoRequestJob::~InfoRequestJob() {
    abort_.Abort();
    if (worker_.joinable())
        worker_.join();
}

std::optional<ProductInfo> InfoRequestJob::TakeAnswer() {
    const std::lock_guard lock(mutex_);
    std::optional<ProductInfo> answer = std::move(answer_);
    answer_.reset();
    return answer;
}

} // namespace tarvik::service
