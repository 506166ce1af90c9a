#pragma once

#include <windows.h>

#include <utility>

namespace watchdog {

// Owns a kernel handle and closes it exactly once. Both null and INVALID_HANDLE_VALUE mean
// "no handle", because kernel32 uses either, depending on the call, to report a failure.
struct UniqueHandle {
    HANDLE value = nullptr;

    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE handle) : value(handle) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : value(std::exchange(other.value, nullptr)) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            reset(std::exchange(other.value, nullptr));
        }
        return *this;
    }
    ~UniqueHandle() { reset(); }

    bool valid() const { return value != nullptr && value != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return value; }
    void reset(HANDLE handle = nullptr) {
        if (valid()) {
            CloseHandle(value);
        }
        value = handle;
    }
};

// Owns a module loaded with LoadLibraryEx.
struct UniqueModule {
    HMODULE value = nullptr;

    UniqueModule() = default;
    explicit UniqueModule(HMODULE module) : value(module) {}
    UniqueModule(const UniqueModule&) = delete;
    UniqueModule& operator=(const UniqueModule&) = delete;
    ~UniqueModule() {
        if (value != nullptr) {
            FreeLibrary(value);
        }
    }
};

// Owns a buffer that the system allocated with LocalAlloc on the caller's behalf
// (FormatMessageW with FORMAT_MESSAGE_ALLOCATE_BUFFER).
struct UniqueLocalBuffer {
    wchar_t* value = nullptr;

    UniqueLocalBuffer() = default;
    UniqueLocalBuffer(const UniqueLocalBuffer&) = delete;
    UniqueLocalBuffer& operator=(const UniqueLocalBuffer&) = delete;
    ~UniqueLocalBuffer() {
        if (value != nullptr) {
            LocalFree(value);
        }
    }
};

} // namespace watchdog
