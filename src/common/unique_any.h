#pragma once

#include <windows.h>

#include <cstdint>

// The one owner of an OS resource: closes it exactly once, can be moved but not
// copied. Parameterised by the close function and by the value that means "none",
// because Windows uses both null and INVALID_HANDLE_VALUE for that.
template <typename T, auto Close, std::uintptr_t Invalid = 0> class UniqueAny {
public:
    UniqueAny() noexcept = default;
    explicit UniqueAny(T value) noexcept : value_(value) {}
    UniqueAny(UniqueAny&& other) noexcept : value_(other.release()) {}
    UniqueAny& operator=(UniqueAny&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    UniqueAny(const UniqueAny&) = delete;
    UniqueAny& operator=(const UniqueAny&) = delete;
    ~UniqueAny() { reset(); }

    static T invalid() noexcept { return (T)Invalid; }
    T get() const noexcept { return value_; }
    // For a pointer to a COM interface or a structure: its members, as through get().
    T operator->() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != invalid(); }

    T release() noexcept
    {
        T value = value_;
        value_ = invalid();
        return value;
    }
    // Keeps the thread's last error: closing a handle on the way out of a failure must
    // not hide the code that the failure left (as WIL's close_reset).
    void reset(T value = invalid()) noexcept
    {
        if (value_ != invalid()) {
            const DWORD error = GetLastError();
            Close(value_);
            SetLastError(error);
        }
        value_ = value;
    }
    // For APIs that return the resource through an out parameter.
    T* put() noexcept
    {
        reset();
        return &value_;
    }

private:
    T value_ = invalid();
};

// Process and thread handles, where null means none.
using UniqueHandle = UniqueAny<HANDLE, &CloseHandle>;
// File and snapshot handles, where INVALID_HANDLE_VALUE means none.
using UniqueFileHandle = UniqueAny<HANDLE, &CloseHandle, static_cast<std::uintptr_t>(-1)>;
using UniqueFindHandle = UniqueAny<HANDLE, &FindClose, static_cast<std::uintptr_t>(-1)>;

// What an open that may fail gives: the handle, or none and the Windows error code that
// says why. Callers that drop it have dropped the answer.
struct [[nodiscard]] OpenedFile {
    UniqueFileHandle handle;
    DWORD error = ERROR_SUCCESS;
};
