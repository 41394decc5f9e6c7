// The assistant as the program runs it, plus a GLib timeout that ticks every 10 ms on the
// user-interface thread and writes how late each tick came to stderr ("tick <ms late> at <unix
// ms> ran <ms> waited <ms>"), so that the start-up bench can take the distribution of the loop's
// lateness in a time span of its choice: while idle, while the page posts events, during a
// download. Since the last tick, the thread "ran" that long on a processor (the loop's own work)
// and "waited" that long ready to run with no processor free (the kernel's run-queue delay: on a
// busy machine that part of a late tick is the machine's, not the loop's); the rest of the time it
// slept, in the loop's poll or in a call that blocked.
#include "app/tarvik_app.h"
#include "common/curl/curl_handle.h"
#include "platform/gtk/gtk_platform.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>

namespace {

constexpr int kTickMs = 10;
std::chrono::steady_clock::time_point lastTick;
// The thread's schedstat: nanoseconds it has run on a processor, and waited on a run queue.
struct SchedStat {
    unsigned long long ranNs = 0;
    unsigned long long waitedNs = 0;
};
SchedStat lastStat;

SchedStat ReadSchedStat() {
    std::ifstream file("/proc/thread-self/schedstat");
    SchedStat stat;
    file >> stat.ranNs >> stat.waitedNs;
    return stat;
}

// GLib sets a timeout's next expiry one interval after the loop dispatched it, so the time between
// two ticks less the interval is how long the loop kept this tick waiting.
gboolean OnTick(gpointer) {
    const auto at = std::chrono::steady_clock::now();
    const double late = std::chrono::duration<double, std::milli>(at - lastTick).count() - kTickMs;
    lastTick = at;
    const auto wall = std::chrono::duration<double, std::milli>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
    const SchedStat stat = ReadSchedStat();
    const double ran = static_cast<double>(stat.ranNs - lastStat.ranNs) / 1e6;
    const double waited = static_cast<double>(stat.waitedNs - lastStat.waitedNs) / 1e6;
    lastStat = stat;
    std::fprintf(stderr, "tick %.2f at %.1f ran %.2f waited %.2f\n", late < 0 ? 0.0 : late, wall,
                 ran, waited);
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
    lastStat = ReadSchedStat();
    g_timeout_add(kTickMs, OnTick, nullptr);
    tarvik::CTarvikApp app(platform->Roles());
    return app.InitInstance();
}
