#include "range_server.h"

#include <memory>

namespace tarvik::download::testing {
namespace {

struct Range {
    uint64_t first = 0;
    std::optional<uint64_t> last;
};

// "bytes=FIRST-" or "bytes=FIRST-LAST"; the only forms the program sends.
std::optional<Range> ParseRange(const std::string& header) {
    if (!header.starts_with("bytes="))
        return std::nullopt;
    const size_t dash = header.find('-');
    if (dash == std::string::npos)
        return std::nullopt;
    Range range{std::stoull(header.substr(6, dash - 6)), std::nullopt};
    if (dash + 1 < header.size())
        range.last = std::stoull(header.substr(dash + 1));
    return range;
}

} // namespace

RangeServer::RangeServer(std::string body, std::vector<Rule> script, bool ranges,
                         Validators validators)
    : body_(std::move(body)), script_(std::move(script)), ranges_(ranges), validators_(validators) {
    server_.server.Get("/file", [this](const httplib::Request& request,
                                       httplib::Response& response) { Answer(request, response); });
    server_.Start();
}

std::string RangeServer::ETag() const {
    const std::lock_guard lock(mutex_);
    return "\"v" + std::to_string(version_) + "\"";
}

std::vector<RangeServer::Request> RangeServer::Requests() const {
    const std::lock_guard lock(mutex_);
    return requests_;
}

uint64_t RangeServer::BodyBytesSent() const {
    const std::lock_guard lock(mutex_);
    return sent_;
}

void RangeServer::Answer(const httplib::Request& request, httplib::Response& response) {
    // The library would answer a Range header by itself; this server answers it as scripted.
    const_cast<httplib::Request&>(request).ranges.clear();
    const std::string rangeHeader = request.get_header_value("Range");
    const std::string ifRange = request.get_header_value("If-Range");
    const std::optional<Range> asked = ParseRange(rangeHeader);

    const std::lock_guard lock(mutex_);
    Rule rule;
    for (auto it = script_.begin(); it != script_.end(); ++it) {
        if (!it->rangeStart || (asked && asked->first == *it->rangeStart)) {
            rule = *it;
            script_.erase(it);
            break;
        }
    }
    if (rule.newBody) {
        body_ = *rule.newBody;
        ++version_;
    }
    const std::string etag = "\"v" + std::to_string(version_) + "\"";
    // A date that changes with the file, as a file's modification time does.
    const std::string lastModified = "Mon, 0" + std::to_string(version_) + " Dec 2026 10:00:00 GMT";
    auto body = std::make_shared<const std::string>(body_);
    const uint64_t size = body->size();

    uint64_t first = 0;
    uint64_t length = size;
    response.status = 200;
    if (ranges_) {
        response.set_header("Accept-Ranges", "bytes");
        std::string validator;
        if (validators_ == Validators::StrongETag) {
            response.set_header("ETag", etag);
            validator = etag;
        } else if (validators_ == Validators::WeakETagAndLastModified) {
            response.set_header("ETag", "W/" + etag);
            response.set_header("Last-Modified", lastModified);
            validator = lastModified;
        }
        // Without a validator of its own the server cannot tell a changed file: If-Range fails.
        const bool current = ifRange.empty() || (!validator.empty() && ifRange == validator);
        if (asked && current && !rule.ignoreRange) {
            if (asked->first >= size || rule.answer416) {
                response.status = 416;
                response.set_header("Content-Range", "bytes */" + std::to_string(size));
                requests_.push_back({rangeHeader, ifRange, response.status});
                return;
            }
            first = rule.wrongRange ? 0 : asked->first;
            const uint64_t last = std::min(asked->last.value_or(size - 1), size - 1);
            length = last - first + 1;
            response.status = 206;
            response.set_header("Content-Range", "bytes " + std::to_string(first) + "-" +
                                                     std::to_string(last) + "/" +
                                                     std::to_string(size));
        }
    }
    requests_.push_back({rangeHeader, ifRange, response.status});
    const uint64_t dropAfter = rule.dropAfter;
    response.set_content_provider(
        length, "application/octet-stream",
        [this, body, first, length, dropAfter](size_t offset, size_t, httplib::DataSink& sink) {
            if (offset >= dropAfter)
                return false; // closes the connection mid-body
            const size_t piece = static_cast<size_t>(
                std::min<uint64_t>({64 * 1024, length - offset, dropAfter - offset}));
            {
                const std::lock_guard lock(mutex_);
                sent_ += piece;
            }
            return sink.write(body->data() + first + offset, piece);
        });
}

} // namespace tarvik::download::testing
