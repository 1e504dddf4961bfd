// Ownership of Win32 handles: every handle is held by one of these from the moment it is returned.
#pragma once

#include <utility>
#include <windows.h>

namespace vemlox::win {

// A move-only owner of one handle. `Traits` gives the invalid value and the close call, so the
// invalid-value policy lives in the type (NULL for most handles, INVALID_HANDLE_VALUE for files).
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
    [[nodiscard]] explicit operator bool() const { return value_ != Traits::invalid(); }

    [[nodiscard]] pointer release() { return std::exchange(value_, Traits::invalid()); }

    void reset(pointer value = Traits::invalid()) {
        const pointer old = std::exchange(value_, value);
        if (old != Traits::invalid()) {
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
    pointer value_ = Traits::invalid();
};

struct HandleTraits {
    using pointer = HANDLE;
    static pointer invalid() { return nullptr; }
    static void close(pointer value) { CloseHandle(value); }
};

struct FileHandleTraits {
    using pointer = HANDLE;
    static pointer invalid() { return INVALID_HANDLE_VALUE; }
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

// Processes, threads, events, timers, pipes from CreatePipe: NULL is invalid.
using UniqueHandle = UniqueAny<HandleTraits>;
// CreateFileW and CreateNamedPipeW: INVALID_HANDLE_VALUE is invalid.
using UniqueFile = UniqueAny<FileHandleTraits>;
using UniqueHkey = UniqueAny<RegistryKeyTraits>;
using UniqueServiceHandle = UniqueAny<ServiceHandleTraits>;
using UniqueLocalMemory = UniqueAny<LocalMemoryTraits>;
using UniqueModule = UniqueAny<ModuleTraits>;

} // namespace vemlox::win
