// tarvik-demo-service: a vendor's download service in miniature, on loopback only.

#include "tools/demo-service/demo_installer.h"
#include "tools/demo-service/demo_options.h"
#include "tools/demo-service/demo_routes.h"
#include "tools/demo-service/event_sink.h"
#include "tools/demo-service/stop_signals.h"

#include <httplib.h>

#include <atomic>
#include <cstdio>
#include <stdexcept>
#include <utility>

int main(int argc, char* argv[]) {
    using namespace tarvik::demo;

    DemoOptions options;
    try {
        options = ParseDemoOptions(argc, argv);
    } catch (const std::invalid_argument& error) {
        std::fprintf(stderr, "tarvik-demo-service: %s\n%s", error.what(), DemoUsage());
        return 2;
    }
    if (options.showHelp) {
        std::fputs(DemoUsage(), stdout);
        return 0;
    }

    httplib::Server server;
    // A stop waits for idle kept-alive connections to time out (the library's default is 5 s),
    // so Ctrl+C on `make demo` would hang that long after the assistant's last event report.
    server.set_keep_alive_timeout(1);
    std::atomic<bool> stopping = false;
    StopSignals stopSignals([&] {
        stopping = true;
        server.stop();
    });

    const int port = options.port == 0
                         ? server.bind_to_any_port("127.0.0.1")
                         : (server.bind_to_port("127.0.0.1", options.port) ? options.port : -1);
    if (port <= 0) {
        std::fprintf(stderr, "tarvik-demo-service: cannot listen on 127.0.0.1:%d\n", options.port);
        return 1;
    }

    EventSink events(options.eventsFile);
    std::string installer = MakeDemoInstaller(options.installerSize, options.productName);
    std::string signature;
    if (!options.signKeyFile.empty()) {
        try {
            signature = SignWithMinisign(installer, options.signKeyFile);
        } catch (const std::runtime_error& error) {
            std::fprintf(stderr, "tarvik-demo-service: %s\n", error.what());
            return 1;
        }
    }
    const DemoContext context{options, port,    std::move(installer), std::move(signature),
                              events,  stopping};
    AddDemoRoutes(server, context);

    std::printf("demo service listening on http://127.0.0.1:%d\n"
                "  product info: http://127.0.0.1:%d/downloader.php/index/info?id=%s\n"
                "  page:         %s\n"
                "  installer:    %s\n",
                port, port, options.downloaderId.c_str(), PageUrl(context).c_str(),
                InstallerUrl(context).c_str());
    std::printf("                %zu bytes, %s", context.installer.size(),
                options.noLength ? "chunked without a length" : "with a length and ranges");
    if (options.rateBytesPerSecond != 0)
        std::printf(", %llu bytes/s per connection",
                    static_cast<unsigned long long>(options.rateBytesPerSecond));
    if (options.dropAfterBytes != 0)
        std::printf(", cut off after %llu bytes %s",
                    static_cast<unsigned long long>(options.dropAfterBytes),
                    options.dropOnce ? "once" : "every time");
    std::printf("\n");
    if (!context.signature.empty())
        std::printf("  signature:    %s.minisig\n", InstallerUrl(context).c_str());
    if (options.delayMs != 0)
        std::printf("  info and event requests wait %llu ms\n",
                    static_cast<unsigned long long>(options.delayMs));
    std::fflush(stdout);

    server.listen_after_bind();
    std::printf("demo service stopped\n");
    std::fflush(stdout);
    return 0;
}
