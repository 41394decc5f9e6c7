// The assistant as the program runs it, plus a GLib timeout that ticks every 10 ms on the
// user-interface thread and writes how late each tick came to stderr ("tick <ms late> at <unix
// ms>"), so that the start-up bench can take the distribution of the loop's lateness in a time span
// of its choice: while idle, while the page posts events, during a download.
#include "app/tarvik_app.h"
#include "common/curl/curl_handle.h"
#include "platform/gtk/gtk_platform.h"

#include <chrono>
#include <cstdio>
#include <iostream>

namespace {

constexpr int kTickMs = 10;
std::chrono::steady_clock::time_point lastTick;

// GLib sets a timeout's next expiry one interval after the loop dispatched it, so the time between
// two ticks less the interval is how long the loop kept this tick waiting.
gboolean OnTick(gpointer) {
    const auto at = std::chrono::steady_clock::now();
    const double late = std::chrono::duration<double, std::milli>(at - lastTick).count() - kTickMs;
    lastTick = at;
    const auto wall = std::chrono::duration<double, std::milli>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
    std::fprintf(stderr, "tick %.2f at %.1f\n", late < 0 ? 0.0 : late, wall);
    return G_SOURCE_CONTINUE;
}

} // namespace

int main(int argc, char** argv) {
    const tarvik::CurlGlobal curl;
    std::string error;
    std::unique_ptr<tarvik::platform::gtk::GtkPlatform> platform =
        tarvik::platform::gtk::CreateGtkPlatform(&argc, &argv, error);
    if (!platform) {
        std::cerr << "tarvik: " << error << "\n";
        return 1;
    }
    lastTick = std::chrono::steady_clock::now();
    g_timeout_add(kTickMs, OnTick, nullptr);
    tarvik::CTarvikApp app(platform->Roles());
    return app.InitInstance();
}
