#pragma once

#include <windows.h>

#include <utility>

namespace watchdog {

// One owner for every kind of Windows resource, which releases it exactly once. Its traits say
// how: `Value`, `none()` (the value an empty owner holds), `is_none(value)` (whether a value owns
// nothing) and `close(value)`, called only for a value that is not none.
template <typename Traits> class UniqueResource {
  public:
    using Value = typename Traits::Value;

    UniqueResource() noexcept = default;
    explicit UniqueResource(Value value) noexcept : value_(value) {}
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
    // Safe on itself too: the value released is the one taken back, and nothing is closed.
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        reset(other.release());
        return *this;
    }
    ~UniqueResource() { reset(); }

    Value get() const noexcept { return value_; }
    bool valid() const noexcept { return !Traits::is_none(value_); }
    explicit operator bool() const noexcept { return valid(); }

    // For a call that hands the resource out through a pointer: what was owned is released first.
    Value* put() noexcept {
        reset();
        return &value_;
    }

    // Gives up ownership without releasing.
    [[nodiscard]] Value release() noexcept { return std::exchange(value_, Traits::none()); }

    void reset(Value value = Traits::none()) noexcept {
        const Value old = std::exchange(value_, value);
        if (!Traits::is_none(old)) {
            Traits::close(old);
        }
    }

  private:
    Value value_ = Traits::none();
};

// Kernel handles: a failed open gives null or INVALID_HANDLE_VALUE, depending on the call.
struct KernelHandleTraits {
    using Value = HANDLE;
    static Value none() noexcept { return nullptr; }
    static bool is_none(Value value) noexcept {
        return value == nullptr || value == INVALID_HANDLE_VALUE;
    }
    static void close(Value value) noexcept { CloseHandle(value); }
};
using UniqueHandle = UniqueResource<KernelHandleTraits>;

// A resource that only null leaves unowned, released by `release_function`.
template <typename T, auto release_function> struct NullableTraits {
    using Value = T;
    static Value none() noexcept { return nullptr; }
    static bool is_none(Value value) noexcept { return value == nullptr; }
    static void close(Value value) noexcept { release_function(value); }
};

// A module loaded with LoadLibrary(Ex).
using UniqueModule = UniqueResource<NullableTraits<HMODULE, FreeLibrary>>;

// Memory the system allocated with LocalAlloc for the caller (FormatMessageW's text, say).
template <typename T> using UniqueLocalMemory = UniqueResource<NullableTraits<T*, LocalFree>>;

// An initialised process and thread attribute list: closing deletes the list, never its storage.
using UniqueAttributeList =
    UniqueResource<NullableTraits<LPPROC_THREAD_ATTRIBUTE_LIST, DeleteProcThreadAttributeList>>;

} // namespace watchdog
