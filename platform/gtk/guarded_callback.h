#pragma once

#include <utility>

namespace tarvik::platform::gtk {

// Writes one line about the exception being handled to stderr: where it was caught and what it
// said. Only for use inside a catch block.
void ReportEscapedException(const char* where) noexcept;

// Every function that GLib, GTK or WebKit calls (signal handlers, idle and timeout sources,
// async-ready callbacks, child watches) runs its body through one of these. A C++ exception that
// reached the C code calling it would end the program through std::terminate; here it is caught
// at that boundary, reported with `where`, and the main loop carries on.
template <typename Body> void RunGuarded(const char* where, Body&& body) noexcept {
    try {
        std::forward<Body>(body)();
    } catch (...) {
        ReportEscapedException(where);
    }
}

// The same for callbacks that answer GLib: `fallback` is returned when the body threw.
template <typename Result, typename Body>
Result RunGuarded(const char* where, Result fallback, Body&& body) noexcept {
    try {
        return std::forward<Body>(body)();
    } catch (...) {
        ReportEscapedException(where);
        return fallback;
    }
}

} // namespace tarvik::platform::gtk
