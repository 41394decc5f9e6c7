#pragma once

#include "support/loopback_server.h"

#include <cstdint>
#include <limits>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace tarvik::testing {

// A file server on loopback that answers ranges itself (Range, If-Range against its validator,
// 206, 416) and follows a script of rules, each used once by the first request it fits. A rule
// makes one answer break off, lie or change the file; every answer still says truthfully which
// version and which bytes it carries (its validator and Content-Range), so a client can always
// tell. It records every request's Range and If-Range and the status it answered, counts the body
// bytes it sent, and keeps every version of the file it served.
class RangeServer {
public:
    static constexpr uint64_t kNever = std::numeric_limits<uint64_t>::max();

    struct Rule {
        // Fits only a request whose range starts here; any request when unset.
        std::optional<uint64_t> rangeStart;
        // Body bytes sent before the connection is closed; 0 closes it right after the headers.
        uint64_t dropAfter = kNever;
        // With dropAfter, a range answer ends cleanly there instead (sent chunked, with its
        // final chunk), short of the bytes its Content-Range announces.
        bool endCleanly = false;
        // Answers the whole file with 200, as a server that ignores ranges does.
        bool ignoreRange = false;
        // Answers a range of the current file even when If-Range names an older one, as a
        // server or cache that honours Range but not If-Range does.
        bool ignoreIfRange = false;
        // The file is replaced by `newBody` (and gets a new validator) before this answer.
        std::optional<std::string> newBody;
        // Answers 416, or a 206 whose range starts at byte 0 instead of where asked.
        bool answer416 = false;
        bool wrongRange = false;
        // Answers 204 without a body.
        bool answer204 = false;
        // Sends the headers the answer would have, with no body and "Content-Length: 0".
        bool emptyBody = false;
        // Leaves the validator out of the answer.
        bool withoutValidator = false;

        static Rule DropAfter(uint64_t bytes, std::optional<uint64_t> inRangeFrom = {}) {
            Rule rule;
            rule.dropAfter = bytes;
            rule.rangeStart = inRangeFrom;
            return rule;
        }
        static Rule EndingCleanlyAfter(uint64_t bytes) {
            Rule rule;
            rule.dropAfter = bytes;
            rule.endCleanly = true;
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
        static Rule Answering204() {
            Rule rule;
            rule.answer204 = true;
            return rule;
        }
        static Rule WithEmptyBody() {
            Rule rule;
            rule.emptyBody = true;
            return rule;
        }
        static Rule WithoutValidator() {
            Rule rule;
            rule.withoutValidator = true;
            return rule;
        }
    };

    struct Request {
        std::string range;
        std::string ifRange;
        int status = 0;
        bool operator==(const Request&) const = default;
        friend std::ostream& operator<<(std::ostream& out, const Request& request) {
            return out << "{\"" << request.range << "\", \"" << request.ifRange << "\", "
                       << request.status << "}";
        }
    };

    // What the server sends for If-Range to compare against.
    enum class Validators {
        StrongETag,              // ETag "vN"
        WeakETagAndLastModified, // ETag W/"vN" (no use for ranges) and Last-Modified
        None,
    };

    struct Options {
        // False: a server that knows nothing of ranges (no Accept-Ranges, always 200).
        bool ranges = true;
        Validators validators = Validators::StrongETag;
        // False: every answer behaves as Rule::ignoreIfRange.
        bool honoursIfRange = true;
    };

    RangeServer(std::string body, std::vector<Rule> script);
    RangeServer(std::string body, std::vector<Rule> script, Options options);

    std::string Url() const { return server_.Url("/file"); }
    std::string ETag() const;
    std::vector<Request> Requests() const;
    uint64_t BodyBytesSent() const;
    // Every version of the file it has had, the first one first, and an empty one when it sent a
    // whole file without a byte (Rule::emptyBody on a 200): nothing tells that from an empty file.
    std::vector<std::string> Versions() const;

private:
    void Answer(const httplib::Request& request, httplib::Response& response);

    mutable std::mutex mutex_;
    std::vector<std::string> versions_;
    bool sentEmptyFile_ = false;
    std::vector<Rule> script_;
    const Options options_;
    std::vector<Request> requests_;
    uint64_t sent_ = 0;
    LoopbackServer server_;
};

} // namespace tarvik::testing
