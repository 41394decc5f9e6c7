#pragma once

#include <string>

namespace tarvik::platform::gtk {

// Whether bubblewrap can make the namespaces WebKit's sandbox needs, tried once per process with
// a command that does nothing. When WebKit is told to use the sandbox and it cannot start, its
// web process never runs and the window stays empty, so the answer is needed before the first
// web process starts; the try itself takes 20 ms on an idle machine and several times that on a
// busy one, so it is started as early as possible and runs while the display opens.
//
// Threads: user-interface thread only (both functions; the try is a child process, not a thread).

// Starts the try without waiting for it. Calling it again, or after the answer was taken, does
// nothing.
void StartSandboxProbe();

// The answer, waiting for the try if it is still running (and starting it first if nobody did).
// When false, `why` says what is missing. The same answer every time.
bool SandboxProbeAnswer(std::string& why);

} // namespace tarvik::platform::gtk
