#pragma once

#include <functional>
#include <memory>
#include <string>

namespace tarvik::platform::gtk {

// Runs programs with administrator rights through pkexec, without waiting for them. A refused or
// dismissed authorisation is only known when pkexec exits, so the failure is reported then, from
// the main loop. User-interface thread only.
class ElevatedLauncher {
public:
    ElevatedLauncher();
    // Failures still outstanding are never reported afterwards; pkexec is still reaped.
    ~ElevatedLauncher();
    ElevatedLauncher(const ElevatedLauncher&) = delete;
    ElevatedLauncher& operator=(const ElevatedLauncher&) = delete;

    // `onFailure` runs at most once: before Run returns when pkexec is missing or cannot start,
    // or later when pkexec reports that the authorisation was refused or impossible.
    void Run(const std::string& path, std::function<void()> onFailure);

private:
    // Watched through weak references by the pending child watches.
    std::shared_ptr<int> m_alive;
};

} // namespace tarvik::platform::gtk
