// The OS error text under Wine: the system's message, trimmed, then " (os error N)". Message texts
// differ between Windows and Wine, so only their framing is pinned here.
#include "win32_shared/os_error_text.hpp"

#include <gtest/gtest.h>
#include <string>

namespace vemlox::win {
namespace {

bool ends_with(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

TEST(OsErrorText, SystemMessageTrimmedThenCode) {
    for (const std::uint32_t code : {2u, 5u, 87u, 231u}) {
        const std::string text = os_error_text(code);
        const std::string suffix = " (os error " + std::to_string(code) + ")";
        SCOPED_TRACE(text);
        ASSERT_TRUE(ends_with(text, suffix));
        const std::string message = text.substr(0, text.size() - suffix.size());
        EXPECT_FALSE(message.empty());
        EXPECT_EQ(message.find_first_of("\r\n"), std::string::npos);
        EXPECT_NE(message.back(), ' ');
        EXPECT_FALSE(message.starts_with("OS Error ")) << "the system has a message for this code";
    }
}

TEST(OsErrorText, CodeWithoutMessageNamesTheLookupsOwnError) {
    const std::string text = os_error_text(0x12345);
    EXPECT_TRUE(text.starts_with("OS Error 74565 (FormatMessageW() returned error ")) << text;
    EXPECT_TRUE(ends_with(text, ") (os error 74565)")) << text;
}

TEST(OsErrorText, NtStatusIsLookedUpWithoutItsMarkerBit) {
    // 0xC0000022 (access denied) carried as a Windows error with the NT bit set.
    const std::uint32_t code = 0x10000000u | 0x22u;
    const std::string text = os_error_text(code);
    EXPECT_TRUE(ends_with(text, " (os error 268435490)")) << text;
    if (text.starts_with("OS Error ")) {
        // Without a message table in NTDLL the fallback shows the code as it was looked up.
        EXPECT_TRUE(text.starts_with("OS Error 34 (FormatMessageW() returned error ")) << text;
    }
}

} // namespace
} // namespace vemlox::win
