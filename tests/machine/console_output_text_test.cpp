// Console output as text: UTF-8 kept as it is, other bytes read in the given code page.
#include "machine/console_output_text.hpp"

#include <gtest/gtest.h>

namespace vemlox::win {
namespace {

TEST(ConsoleOutputText, KeepsUtf8AndReadsOtherBytesInTheCodePage) {
    EXPECT_EQ(console_output_text("\"\xC3\xA9t\xC3\xA9 \xE4\xBB\xA5\"\r\n", 437),
              "\"\xC3\xA9t\xC3\xA9 \xE4\xBB\xA5\"\r\n");                   // never read twice
    EXPECT_EQ(console_output_text("\x82t\x82", 437), "\xC3\xA9t\xC3\xA9"); // été
    EXPECT_EQ(console_output_text("\x8F\xE0\xA8\xA2\xA5\xE2", 866),
              "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"); // Привет
}

TEST(ConsoleOutputText, ByteTheCodePageCannotMapSpoilsOnlyItself) {
    // "以" in code page 936, then a lead byte whose second byte was cut off.
    const std::string text = console_output_text("\xD2\xD4\xCC", 936);
    EXPECT_TRUE(text.starts_with("\xE4\xBB\xA5") && text.size() > 3) << text;
}

} // namespace
} // namespace vemlox::win
