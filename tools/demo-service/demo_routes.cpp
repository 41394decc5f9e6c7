#include "tools/demo-service/demo_routes.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <optional>
#include <string_view>
#include <thread>

namespace tarvik::demo {
namespace {

using Clock = std::chrono::steady_clock;

// How often a throttled download hands the next slice to the socket.
constexpr auto kSliceInterval = std::chrono::milliseconds(50);

std::string PercentEncode(const std::string& text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    for (const unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            encoded += static_cast<char>(c);
        } else {
            encoded += '%';
            encoded += kHex[c >> 4];
            encoded += kHex[c & 15];
        }
    }
    return encoded;
}

std::string Origin(const DemoContext& context) {
    return "http://127.0.0.1:" + std::to_string(context.port);
}

void SendJson(httplib::Response& response, const nlohmann::json& body) {
    response.set_content(body.dump(), "application/json; charset=utf-8");
}

// Form fields arrive as multipart parts (what the host sends) or as url-encoded parameters.
std::string Field(const httplib::Request& request, const std::string& name) {
    if (request.has_file(name))
        return request.get_file_value(name).content;
    return request.get_param_value(name);
}

// Paces one response: whatever the client's speed, no more than `rate` bytes per second leave,
// and a stopping server ends the response at the next slice.
class Pacer {
public:
    Pacer(uint64_t rate, const std::atomic<bool>& stopping) : rate_(rate), stopping_(stopping) {}

    size_t NextSlice(size_t remaining) const {
        if (rate_ == 0)
            return std::min<size_t>(remaining, 256 * 1024);
        const auto perSlice = std::max<uint64_t>(1, rate_ * kSliceInterval.count() / 1000);
        return static_cast<size_t>(std::min<uint64_t>(remaining, perSlice));
    }

    // Waits until `sent` bytes are due; false when the server is stopping.
    bool WaitFor(uint64_t sent) const {
        if (rate_ == 0)
            return !stopping_;
        const auto due = start_ + std::chrono::microseconds(sent * 1'000'000 / rate_);
        while (Clock::now() < due) {
            if (stopping_)
                return false;
            std::this_thread::sleep_for(
                std::min<Clock::duration>(due - Clock::now(), kSliceInterval));
        }
        return !stopping_;
    }

private:
    uint64_t rate_;
    const std::atomic<bool>& stopping_;
    Clock::time_point start_ = Clock::now();
};

uint64_t CountParam(const httplib::Request& request, const std::string& name, uint64_t fallback) {
    if (!request.has_param(name))
        return fallback;
    try {
        return std::stoull(request.get_param_value(name));
    } catch (const std::exception&) {
        return fallback;
    }
}

// Waits, as a slow service would, but ends early when the server stops.
void Delay(const DemoContext& context) {
    const auto until = Clock::now() + std::chrono::milliseconds(context.options.delayMs);
    while (!context.stopping && Clock::now() < until)
        std::this_thread::sleep_for(
            std::min<Clock::duration>(until - Clock::now(), kSliceInterval));
}

std::string HttpDate(std::time_t time) {
    std::tm parts{};
    gmtime_r(&time, &parts);
    char text[64];
    std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &parts);
    return text;
}

std::optional<uint64_t> Number(std::string_view text) {
    uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

// One satisfiable range of a file: `length` bytes from `first`. A length of 0 means the range
// asked for lies past the end (416).
struct ByteRange {
    uint64_t first;
    uint64_t length;
};

// The range a Range header asks for in a file of `size` bytes, or nothing when the header is to
// be ignored and the whole file sent: absent, several ranges, another unit, unreadable (as HTTP
// allows). One range is "bytes=FIRST-LAST", "bytes=FIRST-" or "bytes=-SUFFIX".
std::optional<ByteRange> RequestedRange(const std::string& header, uint64_t size) {
    static constexpr std::string_view kUnit = "bytes=";
    if (header.compare(0, kUnit.size(), kUnit) != 0)
        return std::nullopt;
    const std::string_view spec = std::string_view(header).substr(kUnit.size());
    const size_t dash = spec.find('-');
    if (dash == std::string_view::npos ||
        spec.find_first_of(",-", dash + 1) != std::string_view::npos)
        return std::nullopt;
    const std::string_view firstText = spec.substr(0, dash);
    const std::string_view lastText = spec.substr(dash + 1);
    if (firstText.empty()) {
        const auto suffix = Number(lastText);
        if (!suffix)
            return std::nullopt;
        if (*suffix == 0 || size == 0)
            return ByteRange{size, 0};
        const uint64_t length = std::min(*suffix, size);
        return ByteRange{size - length, length};
    }
    const auto first = Number(firstText);
    const auto last = lastText.empty() ? std::optional<uint64_t>(UINT64_MAX) : Number(lastText);
    if (!first || !last || *last < *first)
        return std::nullopt;
    if (*first >= size)
        return ByteRange{size, 0};
    return ByteRange{*first, std::min(*last, size - 1) - *first + 1};
}

// What the installer route keeps between requests. Shared by the server's threads.
struct InstallerState {
    std::string etag;
    std::string lastModified;
    std::atomic<bool> dropped = false; // --drop-once has cut a download off
};

// Serves the installer, or the part of it asked for, paced to the rate and cut off where the
// options say.
void ServeInstaller(const DemoContext& context, const std::shared_ptr<InstallerState>& state,
                    const httplib::Request& request, httplib::Response& response) {
    const std::string& body = context.installer;
    const DemoOptions& options = context.options;
    // ?fail_after=N and ?length=0 do for one request what --drop-after and --no-length do for
    // all; the query's cut-off happens every time.
    const bool perRequestDrop = request.has_param("fail_after");
    const uint64_t dropAt = CountParam(request, "fail_after", options.dropAfterBytes);
    const bool dropOnce = !perRequestDrop && options.dropOnce;
    const bool withLength = !options.noLength && CountParam(request, "length", 1) != 0;

    // The library answers a Range header by itself, cutting the body and marking the answer 206
    // even where the whole must go out (a chunked body, an If-Range that no longer matches), and
    // with a wrapped-around length for a range past the end. The service answers ranges itself;
    // the request object is the library's own, handed over as const.
    const_cast<httplib::Request&>(request).ranges.clear();

    uint64_t first = 0;
    uint64_t length = body.size();
    response.status = 200;
    if (withLength) {
        response.set_header("Accept-Ranges", "bytes");
        response.set_header("ETag", state->etag);
        response.set_header("Last-Modified", state->lastModified);
        // A client resuming a file that has changed since gets the whole new one.
        const std::string ifRange = request.get_header_value("If-Range");
        const bool unchanged =
            ifRange.empty() || ifRange == state->etag || ifRange == state->lastModified;
        const auto range = unchanged
                               ? RequestedRange(request.get_header_value("Range"), body.size())
                               : std::nullopt;
        if (range && range->length == 0) {
            response.status = 416;
            response.set_header("Content-Range", "bytes */" + std::to_string(body.size()));
            return;
        }
        if (range) {
            first = range->first;
            length = range->length;
            response.status = 206;
            response.set_header("Content-Range", "bytes " + std::to_string(first) + "-" +
                                                     std::to_string(first + length - 1) + "/" +
                                                     std::to_string(body.size()));
        }
    }

    auto pacer = std::make_shared<Pacer>(options.rateBytesPerSecond, context.stopping);
    const char* type = "application/octet-stream";
    const char* data = body.data() + first;
    // `sent` counts this response's bytes. Slices stop at the cut-off point so that exactly that
    // many bytes leave before the connection drops; returning false drops it, which a client
    // reads as a broken transfer whether or not it knew the length.
    auto send = [data, length, dropAt, dropOnce, pacer, state](size_t sent,
                                                               httplib::DataSink& sink) {
        if (dropAt != 0 && sent == dropAt && (!dropOnce || !state->dropped.exchange(true)))
            return false;
        const uint64_t limit = dropAt != 0 && sent < dropAt ? std::min(length, dropAt) : length;
        const size_t slice = pacer->NextSlice(limit - sent);
        if (!pacer->WaitFor(sent))
            return false;
        return sink.write(data + sent, slice);
    };
    if (withLength) {
        response.set_content_provider(
            length, type,
            [send](size_t offset, size_t, httplib::DataSink& sink) { return send(offset, sink); });
    } else {
        response.set_chunked_content_provider(
            type, [send, length](size_t offset, httplib::DataSink& sink) {
                if (offset >= length) {
                    sink.done();
                    return true;
                }
                return send(offset, sink);
            });
    }
}

// The installer's validators, which If-Range compares against: a tag of its bytes, and the
// service's start as the time it was made (it is made once, at start).
std::shared_ptr<InstallerState> MakeInstallerState(const std::string& installer) {
    auto state = std::make_shared<InstallerState>();
    char tag[32];
    std::snprintf(tag, sizeof tag, "%016zx", std::hash<std::string>{}(installer));
    state->etag = "\"" + std::to_string(installer.size()) + "-" + tag + "\"";
    state->lastModified = HttpDate(std::time(nullptr));
    return state;
}

} // namespace

std::string InstallerUrl(const DemoContext& context) {
    return Origin(context) + "/files/tarvik-demo-setup.run";
}

std::string PageUrl(const DemoContext& context) {
    return Origin(context) +
           "/page/index.html?product=" + PercentEncode(context.options.productName) +
           "&installer=" + PercentEncode(InstallerUrl(context));
}

void AddDemoRoutes(httplib::Server& server, const DemoContext& context) {
    // The page is edited while the demo runs; never let the web view keep an old copy.
    if (!server.set_mount_point("/page", context.options.pageDir.string(),
                                {{"Cache-Control", "no-store"}}))
        std::fprintf(stderr, "demo service: page folder %s not found\n",
                     context.options.pageDir.c_str());

    server.Get("/downloader.php/index/info", [&context](const httplib::Request& request,
                                                        httplib::Response& response) {
        Delay(context);
        if (request.get_param_value("id") != context.options.downloaderId) {
            SendJson(response, {{"code", 404}});
            return;
        }
        SendJson(response,
                 {{"code", 200},
                  {"data", {{"name", context.options.productName}, {"url1", PageUrl(context)}}}});
    });

    server.Post("/downloader.php/index/log", [&context](const httplib::Request& request,
                                                        httplib::Response& response) {
        Delay(context);
        const std::string event = Field(request, "event");
        if (event.empty()) {
            SendJson(response, {{"code", 400}});
            return;
        }
        context.events.Record(Field(request, "downloader_id"), event, Field(request, "uuid"));
        SendJson(response, {{"code", 200}});
    });

    // A page that is opened without query parameters can read the same facts from here.
    server.Get("/page/config.json",
               [&context](const httplib::Request&, httplib::Response& response) {
                   response.set_header("Cache-Control", "no-store");
                   SendJson(response, {{"product", context.options.productName},
                                       {"installer", InstallerUrl(context)}});
               });

    server.Get(R"(/files/[^/]+)", [&context, state = MakeInstallerState(context.installer)](
                                      const httplib::Request& request,
                                      httplib::Response& response) {
        if (request.path.ends_with(".minisig")) {
            if (context.signature.empty()) {
                response.status = 404;
                response.set_content("no signature (start the service with --sign)", "text/plain");
            } else {
                response.set_content(context.signature, "text/plain");
            }
            return;
        }
        ServeInstaller(context, state, request, response);
    });
}

} // namespace tarvik::demo
