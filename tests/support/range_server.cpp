#include "support/range_server.h"

#include <algorithm>
#include <cstdio>
#include <memory>

namespace tarvik::testing {
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

// A date that changes with the file, as a file's modification time does: version 1 is
// "Mon, 01 Dec 2026 10:00:00 GMT", each later one a second later.
std::string LastModified(size_t version) {
    const size_t seconds = version - 1;
    char text[64];
    std::snprintf(text, sizeof text, "Mon, 01 Dec 2026 10:%02zu:%02zu GMT", seconds / 60 % 60,
                  seconds % 60);
    return text;
}

} // namespace

RangeServer::RangeServer(std::string body, std::vector<Rule> script)
    : RangeServer(std::move(body), std::move(script), Options{}) {}

RangeServer::RangeServer(std::string body, std::vector<Rule> script, Options options)
    : versions_{std::move(body)}, script_(std::move(script)), options_(options) {
    server_.server.Get("/file", [this](const httplib::Request& request,
                                       httplib::Response& response) { Answer(request, response); });
    server_.Start();
}

std::string RangeServer::ETag() const {
    const std::lock_guard lock(mutex_);
    return "\"v" + std::to_string(versions_.size()) + "\"";
}

std::vector<RangeServer::Request> RangeServer::Requests() const {
    const std::lock_guard lock(mutex_);
    return requests_;
}

uint64_t RangeServer::BodyBytesSent() const {
    const std::lock_guard lock(mutex_);
    return sent_;
}

std::vector<std::string> RangeServer::Versions() const {
    const std::lock_guard lock(mutex_);
    std::vector<std::string> versions = versions_;
    if (sentEmptyFile_)
        versions.emplace_back();
    return versions;
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
    if (rule.newBody)
        versions_.push_back(*rule.newBody);
    const size_t version = versions_.size();
    auto body = std::make_shared<const std::string>(versions_.back());
    const uint64_t size = body->size();
    const auto answered = [&] { requests_.push_back({rangeHeader, ifRange, response.status}); };

    if (rule.answer204) {
        response.status = 204;
        answered();
        return;
    }
    uint64_t first = 0;
    uint64_t length = size;
    response.status = 200;
    if (options_.ranges) {
        response.set_header("Accept-Ranges", "bytes");
        const std::string etag = "\"v" + std::to_string(version) + "\"";
        std::string validator;
        if (options_.validators == Validators::StrongETag) {
            validator = etag;
            if (!rule.withoutValidator)
                response.set_header("ETag", etag);
        } else if (options_.validators == Validators::WeakETagAndLastModified) {
            validator = LastModified(version);
            if (!rule.withoutValidator) {
                response.set_header("ETag", "W/" + etag);
                response.set_header("Last-Modified", validator);
            }
        }
        // Without a validator of its own the server cannot tell a changed file: If-Range fails.
        const bool current = ifRange.empty() || (!validator.empty() && ifRange == validator) ||
                             rule.ignoreIfRange || !options_.honoursIfRange;
        // A range whose last byte comes before its first is no range: the header is ignored.
        const bool valid = asked && (!asked->last || *asked->last >= asked->first);
        if (valid && current && !rule.ignoreRange) {
            if (asked->first >= size || rule.answer416) {
                response.status = 416;
                response.set_header("Content-Range", "bytes */" + std::to_string(size));
                answered();
                return;
            }
            first = !rule.wrongRange ? asked->first : asked->first == 0 ? size / 2 : 0;
            uint64_t last = std::min(asked->last.value_or(size - 1), size - 1);
            if (last < first)
                last = size - 1;
            length = last - first + 1;
            response.status = 206;
            response.set_header("Content-Range", "bytes " + std::to_string(first) + "-" +
                                                     std::to_string(last) + "/" +
                                                     std::to_string(size));
        }
    }
    answered();
    if (rule.emptyBody || length == 0) {
        sentEmptyFile_ = sentEmptyFile_ || response.status == 200;
        response.set_content(std::string(), "application/octet-stream");
        return;
    }
    const uint64_t dropAfter = rule.dropAfter;
    if (rule.endCleanly && response.status == 206) {
        const uint64_t end = std::min(dropAfter, length);
        response.set_chunked_content_provider(
            "application/octet-stream",
            [this, body, first, end](size_t offset, httplib::DataSink& sink) {
                const size_t piece =
                    static_cast<size_t>(std::min<uint64_t>(64 * 1024, end - offset));
                if (piece > 0) {
                    {
                        const std::lock_guard lock(mutex_);
                        sent_ += piece;
                    }
                    if (!sink.write(body->data() + first + offset, piece))
                        return false;
                }
                if (offset + piece == end)
                    sink.done();
                return true;
            });
        return;
    }
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

} // namespace tarvik::testing
