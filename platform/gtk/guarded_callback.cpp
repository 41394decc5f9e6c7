#include "platform/gtk/guarded_callback.h"

#include <cstdio>
#include <exception>

namespace tarvik::platform::gtk {

void ReportEscapedException(const char* where) noexcept {
    try {
        throw;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "tarvik: %s: %s\n", where, error.what());
    } catch (...) {
        std::fprintf(stderr, "tarvik: %s: an unknown exception\n", where);
    }
}

} // namespace tarvik::platform::gtk
