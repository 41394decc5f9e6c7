// The assistant as the program runs it, plus a GLib timeout that ticks every 10 ms on the
// user-interface thread and writes each late tick to stderr ("loop stall <ms> ending <unix ms>"),
// so that the start-up bench can find the longest stall of the loop in a time span of its choice.
#include "app/tarvik_app.h"
#include "common/curl/curl_handle.h"
#include "platform/gtk/gtk_platform.h"

#include <chrono>
#include <cstdio>
#include <iostream>

namespace {

constexpr int kTickMs = 10;
// A tick later than this counts as a stall worth writing.
constexpr double kReportAboveMs = 20.0;

std::chrono::steady_clock::time_point lastTick;

gboolean OnTick(gpointer) {
    const auto at = std::chrono::steady_clock::now();
    const double gap = std::chrono::duration<double, std::milli>(at - lastTick).count();
    lastTick = at;
    if (gap > kReportAboveMs) {
        const auto wall = std::chrono::duration<double, std::milli>(
                              std::chrono::system_clock::now().time_since_epoch())
                              .count();
        std::fprintf(stderr, "loop stall %.1f ending %.1f\n", gap, wall);
    }
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
