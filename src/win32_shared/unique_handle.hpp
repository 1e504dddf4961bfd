// Ownership of Win32 handles: every handle is held by one of these from the moment it is returned.
#pragma once

#include <utility>
#include <windows.h>

namespace vemlox::win {

// A move-only owner of one handle. `Traits` gives the close call and the empty value the owner
// holds when it owns nothing, so the invalid-value policy lives in the type; a `Traits` whose
// handles have more than one invalid value says which values are handles with `is_valid`.
// Closing keeps GetLastError as it was, so an owner going out of scope on an error path does not
// change the error being reported.
template <typename Traits> class UniqueAny {
  public:
    using pointer = typename Traits::pointer;

    UniqueAny() = default;
    explicit UniqueAny(pointer value) : value_(value) {}
    UniqueAny(UniqueAny&& other) noexcept : value_(other.release()) {}
    UniqueAny& operator=(UniqueAny&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    UniqueAny(const UniqueAny&) = delete;
    UniqueAny& operator=(const UniqueAny&) = delete;
    ~UniqueAny() { reset(); }

    [[nodiscard]] pointer get() const { return value_; }
    [[nodiscard]] explicit operator bool() const { return is_valid(value_); }

    [[nodiscard]] pointer release() { return std::exchange(value_, Traits::invalid()); }

    void reset(pointer value = Traits::invalid()) {
        const pointer old = std::exchange(value_, value);
        if (is_valid(old)) {
            const DWORD saved_error = GetLastError();
            Traits::close(old);
            SetLastError(saved_error);
        }
    }

    // For out-parameters: releases what is held and gives the address to fill in.
    [[nodiscard]] pointer* put() {
        reset();
        return &value_;
    }

  private:
    [[nodiscard]] static bool is_valid(pointer value) {
        if constexpr (requires { Traits::is_valid(value); }) {
            return Traits::is_valid(value);
        } else {
            return value != Traits::invalid();
        }
    }

    pointer value_ = Traits::invalid();
};

// Kernel handles fail in two ways: CreateFileW and CreateNamedPipeW return INVALID_HANDLE_VALUE,
// most other calls NULL. Neither is a handle to close, and INVALID_HANDLE_VALUE is also the
// current process's pseudo-handle, so one policy treats both as empty: an owner can never take a
// failed call for a handle, whichever kind of call filled it.
struct HandleTraits {
    using pointer = HANDLE;
    static pointer invalid() { return nullptr; }
    static bool is_valid(pointer value) {
        return value != nullptr && value != INVALID_HANDLE_VALUE;
    }
    static void close(pointer value) { CloseHandle(value); }
};

struct RegistryKeyTraits {
    using pointer = HKEY;
    static pointer invalid() { return nullptr; }
    static void close(pointer value) { RegCloseKey(value); }
};

struct ServiceHandleTraits {
    using pointer = SC_HANDLE;
    static pointer invalid() { return nullptr; }
    static void close(pointer value) { CloseServiceHandle(value); }
};

struct LocalMemoryTraits {
    using pointer = HLOCAL;
    static pointer invalid() { return nullptr; }
    static void close(pointer value) { LocalFree(value); }
};

struct ModuleTraits {
    using pointer = HMODULE;
    static pointer invalid() { return nullptr; }
    static void close(pointer value) { FreeLibrary(value); }
};

// Any kernel handle: processes, threads, events, timers, pipes, files.
using UniqueHandle = UniqueAny<HandleTraits>;
using UniqueHkey = UniqueAny<RegistryKeyTraits>;
using UniqueServiceHandle = UniqueAny<ServiceHandleTraits>;
using UniqueLocalMemory = UniqueAny<LocalMemoryTraits>;
using UniqueModule = UniqueAny<ModuleTraits>;

} // namespace vemlox::win
