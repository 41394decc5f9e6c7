#include "tools/demo-service/demo_routes.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
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

void ServeInstaller(const DemoContext& context, const httplib::Request& request,
                    httplib::Response& response) {
    const std::string& body = context.installer;
    const uint64_t failAfter = CountParam(request, "fail_after", body.size());
    const bool withLength = CountParam(request, "length", 1) != 0;
    auto pacer = std::make_shared<Pacer>(context.options.rateBytesPerSecond, context.stopping);
    const char* type = "application/octet-stream";

    // Returns false to drop the connection; a sized response cut short reads as a broken
    // transfer on the client's side.
    auto send = [&body, failAfter, pacer](size_t offset, httplib::DataSink& sink) {
        if (offset >= failAfter)
            return false;
        const size_t limit = std::min<uint64_t>(body.size(), failAfter);
        const size_t slice = pacer->NextSlice(limit - offset);
        if (!pacer->WaitFor(offset))
            return false;
        return sink.write(body.data() + offset, slice);
    };
    if (withLength) {
        response.set_content_provider(
            body.size(), type,
            [send](size_t offset, size_t, httplib::DataSink& sink) { return send(offset, sink); });
    } else {
        response.set_chunked_content_provider(
            type, [send, &body](size_t offset, httplib::DataSink& sink) {
                if (offset >= body.size()) {
                    sink.done();
                    return true;
                }
                return send(offset, sink);
            });
    }
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

    server.Get(R"(/files/[^/]+)",
               [&context](const httplib::Request& request, httplib::Response& response) {
                   ServeInstaller(context, request, response);
               });
}

} // namespace tarvik::demo
