#include "service/info_request_job.h"

namespace tarvik::service {

InfoRequestJob::InfoRequestJob(std::string infoUrl, ServiceLimits limits,
                               std::function<void()> onAnswered)
    : infoUrl_(std::move(infoUrl)), limits_(limits), onAnswered_(std::move(onAnswered)) {
    worker_ = std::thread([this] {
        ProductInfo info = RequestProductInfo(infoUrl_, limits_, &abort_);
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
