// The kernel handle owner: a failed call leaves it empty whichever failure value the call returns,
// and closing a handle keeps the error being reported.
#include "win32_shared/unique_handle.hpp"

#include <gtest/gtest.h>
#include <windows.h>

namespace vemlox::win {
namespace {

TEST(UniqueHandle, EmptyAfterEitherKindOfFailedCall) {
    const struct {
        const char* call;
        HANDLE result;
    } failed[] = {
        {"CreateFileW", CreateFileW(L"Z:\\vemlox-no-such-folder\\file", GENERIC_READ, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr)},
        {"OpenEventW", OpenEventW(SYNCHRONIZE, FALSE, L"vemlox-no-such-event")},
    };
    for (const auto& [call, result] : failed) {
        SCOPED_TRACE(call);
        const UniqueHandle owner(result);
        EXPECT_FALSE(owner);
    }
}

TEST(UniqueHandle, ResetClosesAndKeepsTheLastError) {
    UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(event);
    const HANDLE raw = event.get();
    SetLastError(ERROR_ACCESS_DENIED);
    event.reset();
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    DWORD flags = 0;
    EXPECT_FALSE(GetHandleInformation(raw, &flags)) << "the handle is still open";
}

} // namespace
} // namespace vemlox::win
