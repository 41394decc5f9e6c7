#pragma once

#include <unknwn.h>

#include <utility>

namespace tarvik::platform::win32 {

// Owns one reference to a COM object and releases it when it goes.
//
// Threads: like the object it holds; the program's objects are all used on the user-interface
// thread, which is a single-threaded apartment.
template <typename T> class ComPtr {
public:
    ComPtr() = default;
    ~ComPtr() { Reset(); }
    ComPtr(const ComPtr& other) : pointer_(other.pointer_) {
        if (pointer_)
            pointer_->AddRef();
    }
    ComPtr(ComPtr&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
    ComPtr& operator=(ComPtr other) noexcept {
        std::swap(pointer_, other.pointer_);
        return *this;
    }

    // Takes a reference the caller already owns (an out parameter, a new object).
    static ComPtr Adopt(T* pointer) {
        ComPtr result;
        result.pointer_ = pointer;
        return result;
    }
    // Adds a reference of its own, for a pointer lent by the caller (an event's argument).
    static ComPtr Share(T* pointer) {
        if (pointer)
            pointer->AddRef();
        return Adopt(pointer);
    }

    T* get() const { return pointer_; }
    T* operator->() const { return pointer_; }
    explicit operator bool() const { return pointer_ != nullptr; }
    // For out parameters: releases what is held and lends the slot.
    T** Put() {
        Reset();
        return &pointer_;
    }
    void Reset() {
        if (pointer_)
            std::exchange(pointer_, nullptr)->Release();
    }

private:
    T* pointer_ = nullptr;
};

// Frees memory the system allocated with CoTaskMemAlloc.
template <typename T> class CoTaskPtr {
public:
    CoTaskPtr() = default;
    ~CoTaskPtr() { ::CoTaskMemFree(pointer_); }
    CoTaskPtr(const CoTaskPtr&) = delete;
    CoTaskPtr& operator=(const CoTaskPtr&) = delete;
    T get() const { return pointer_; }
    T* Put() { return &pointer_; }

private:
    T pointer_ = nullptr;
};

} // namespace tarvik::platform::win32
