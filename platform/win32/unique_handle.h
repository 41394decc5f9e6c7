#pragma once

#include <windows.h>

#include <utility>

namespace tarvik::platform::win32 {

// Owns a kernel handle (a file, a process) and closes it once. Both "no handle" values the system
// uses are taken as empty: CreateFileW answers INVALID_HANDLE_VALUE, most other calls nullptr.
class UniqueHandle {
public:
    explicit UniqueHandle(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle) {}
    ~UniqueHandle() { Close(); }
    UniqueHandle(UniqueHandle&& other) noexcept
        : handle_(std::exchange(other.handle_, INVALID_HANDLE_VALUE)) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            Close();
            handle_ = std::exchange(other.handle_, INVALID_HANDLE_VALUE);
        }
        return *this;
    }

    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    bool Close() {
        if (!valid())
            return true;
        const bool closed = ::CloseHandle(handle_) != 0;
        handle_ = INVALID_HANDLE_VALUE;
        return closed;
    }

private:
    HANDLE handle_;
};

} // namespace tarvik::platform::win32
