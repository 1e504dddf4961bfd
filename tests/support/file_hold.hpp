// Holding a file as a virus scanner or a backup tool does for a moment: open for reading, sharing
// only reading, so that no rename or deletion of it goes through while the handle is open.
#pragma once

#include "win32_shared/unique_handle.hpp"

#include <chrono>
#include <string>
#include <thread>
#include <windows.h>

namespace vemlox::win::testing {

inline UniqueHandle hold(const std::wstring& path) {
    return UniqueHandle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
}

// Lets go of `held` after `duration`, on a thread of its own.
inline std::jthread let_go_after(UniqueHandle& held, std::chrono::milliseconds duration) {
    return std::jthread([&held, duration] {
        Sleep(static_cast<DWORD>(duration.count()));
        held.reset();
    });
}

} // namespace vemlox::win::testing
