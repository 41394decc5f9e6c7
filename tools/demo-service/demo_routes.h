#pragma once

#include "tools/demo-service/demo_options.h"
#include "tools/demo-service/event_sink.h"

#include <httplib.h>

#include <atomic>
#include <string>

namespace tarvik::demo {

// What the routes share; it outlives the server.
struct DemoContext {
    const DemoOptions& options;
    int port; // the port really bound, for the URLs the service hands out
    std::string installer;
    std::string signature; // the installer's minisign signature file; empty: none
    EventSink& events;
    const std::atomic<bool>& stopping; // ends slow downloads promptly on shutdown
};

// The address of the demo installer and of the page, as the info answer hands them out.
std::string InstallerUrl(const DemoContext& context);
std::string PageUrl(const DemoContext& context);

// GET  /downloader.php/index/info?id=ID  product info for the demo id, {"code":404} otherwise
// POST /downloader.php/index/log         an event report (multipart or form fields)
//                                        (both after --delay-ms)
// GET  /page/...                         the page folder; /page/config.json is made up if absent
// GET  /files/NAME                       the demo installer at --rate, cut off by --drop-after,
//                                        chunked with --no-length, otherwise with byte ranges;
//                                        ?fail_after=N and ?length=0 do the same for one request
// GET  /files/NAME.minisig               the installer's signature with --sign, 404 without
void AddDemoRoutes(httplib::Server& server, const DemoContext& context);

} // namespace tarvik::demo
