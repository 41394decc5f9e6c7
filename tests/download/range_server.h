#pragma once

#include "support/loopback_server.h"

#include <cstdint>
#include <limits>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tarvik::download::testing {

// A file server on loopback that answers ranges itself (Range, If-Range with its ETag, 206,
// 416) and follows a script of rules, each used once by the first request it fits. It records
// every request's Range and If-Range and the status it answered, and counts the body bytes it
// sent, so tests can compare what went over the wire.
class RangeServer {
public:
    static constexpr uint64_t kNever = std::numeric_limits<uint64_t>::max();

    struct Rule {
        // Fits only a request whose range starts here; any request when unset.
        std::optional<uint64_t> rangeStart;
        // Body bytes sent before the connection is closed; 0 closes it right after the headers.
        uint64_t dropAfter = kNever;
        // Answers the whole file with 200, as a server that ignores ranges does.
        bool ignoreRange = false;
        // The file is replaced by `newBody` (and gets a new ETag) before this answer.
        std::optional<std::string> newBody;
        // Answers 416, or a 206 whose range starts at byte 0 instead of where asked.
        bool answer416 = false;
        bool wrongRange = false;

        static Rule DropAfter(uint64_t bytes, std::optional<uint64_t> inRangeFrom = {}) {
            Rule rule;
            rule.dropAfter = bytes;
            rule.rangeStart = inRangeFrom;
            return rule;
        }
        static Rule IgnoringRange() {
            Rule rule;
            rule.ignoreRange = true;
            return rule;
        }
        static Rule Replacing(std::string body) {
            Rule rule;
            rule.newBody = std::move(body);
            return rule;
        }
        static Rule Answering416() {
            Rule rule;
            rule.answer416 = true;
            return rule;
        }
        static Rule AnsweringWrongRange() {
            Rule rule;
            rule.wrongRange = true;
            return rule;
        }
    };

    struct Request {
        std::string range;
        std::string ifRange;
        int status = 0;
        bool operator==(const Request&) const = default;
    };

    // What the server sends for If-Range to compare against.
    enum class Validators {
        StrongETag,              // ETag "vN"
        WeakETagAndLastModified, // ETag W/"vN" (no use for ranges) and Last-Modified
        None,
    };

    // `ranges` false: a server that knows nothing of ranges (no Accept-Ranges, always 200).
    RangeServer(std::string body, std::vector<Rule> script, bool ranges = true,
                Validators validators = Validators::StrongETag);

    std::string Url() const { return server_.Url("/file"); }
    std::string ETag() const;
    std::vector<Request> Requests() const;
    uint64_t BodyBytesSent() const;

private:
    void Answer(const httplib::Request& request, httplib::Response& response);

    mutable std::mutex mutex_;
    std::string body_;
    int version_ = 1;
    std::vector<Rule> script_;
    const bool ranges_;
    const Validators validators_;
    std::vector<Request> requests_;
    uint64_t sent_ = 0;
    tarvik::testing::LoopbackServer server_;
};

} // namespace tarvik::download::testing
