#include "protocol/quoted.hpp"
#include "protocol/unicode_tables.hpp"

#include <cstdint>
#include <gtest/gtest.h>
#include <iomanip> // std::quoted must not win over ours for a std::string
#include <string>
#include <vector>

namespace vemlox {
namespace {

struct QuotedCase {
    const char* what;
    std::string text;
    std::string expected;
};

// Invisible and combining characters are written as code point escapes; one case per kind the
// escape table is built from, and the edges of what it keeps.
const std::vector<QuotedCase> QUOTED_CASES = {
    {"space and single quote kept", "it's Ethernet 2", R"("it's Ethernet 2")"},
    {"short escapes", std::string("\\ \" \t \r \n \0", 11), R"("\\ \" \t \r \n \0")"},
    {"other C0 control", "\x01|\x1b|\x1f", R"("\u{1}|\u{1b}|\u{1f}")"},
    {"DEL", "\x7f", R"("\u{7f}")"},
    {"C1 control NEL", "\xC2\x85", R"("\u{85}")"},
    {"zero width space (Cf)", "a\xE2\x80\x8Bz", R"("a\u{200b}z")"},
    {"byte order mark (Cf)", "\xEF\xBB\xBFx", R"("\u{feff}x")"},
    {"combining acute after a letter", "e\xCC\x81", R"("e\u{301}")"},
    {"Grapheme_Extend spacing mark", "\xE0\xA6\xBE", R"("\u{9be}")"},
    {"spacing mark without Grapheme_Extend kept", "\xE0\xA4\x83", "\"\xE0\xA4\x83\""},
    {"no-break space (Zs)", "a\xC2\xA0z", R"("a\u{a0}z")"},
    {"line and paragraph separators (Zl, Zp)", "\xE2\x80\xA8\xE2\x80\xA9", R"("\u{2028}\u{2029}")"},
    {"private use (plane 15)", "\xF3\xB0\x80\x80", R"("\u{f0000}")"},
    {"unassigned", "\xCD\xB8", R"("\u{378}")"},
    {"highest code point", "\xF4\x8F\xBF\xBF", R"("\u{10ffff}")"},
    {"letters kept", "Ä Привет 日本 ελληνικά", R"("Ä Привет 日本 ελληνικά")"},
    {"emoji new in Unicode 15 kept", "\xF0\x9F\xA9\xB5", "\"\xF0\x9F\xA9\xB5\""},
    {"replacement character kept", "\xEF\xBF\xBD", "\"\xEF\xBF\xBD\""},
    {"invalid byte", "a\xFFz", "\"a\xEF\xBF\xBDz\""},
    {"truncated sequence", "a\xC3", "\"a\xEF\xBF\xBD\""},
    {"overlong NUL is not a NUL", "\xC0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},
    {"encoded surrogate", "\xED\xA0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},
};

TEST(Quoted, EscapesWhatIsNotPlainlyPrintable) {
    for (const auto& c : QUOTED_CASES) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(quoted(c.text), c.expected);
    }
}

TEST(Quoted, RendersListsWithCommaAndSpace) {
    EXPECT_EQ(quoted_list(std::vector<std::string>{}), "[]");
    EXPECT_EQ(quoted_list(std::vector<std::string>{""}), R"([""])");
    EXPECT_EQ(quoted_list(std::vector<std::string>{"Ethernet", "Wi-Fi 2", "a\"b", "\xC2\xA0"}),
              R"(["Ethernet", "Wi-Fi 2", "a\"b", "\u{a0}"])");
}

// The lookup skips the table for printable ASCII and relies on binary search elsewhere.
TEST(Quoted, EscapeTableIsSortedDisjointAndLeavesPrintableAsciiAlone) {
    const auto ranges = must_escape_ranges();
    ASSERT_FALSE(ranges.empty());
    char32_t next_free = 0;
    for (const auto& range : ranges) {
        EXPECT_LE(range.first, range.last);
        EXPECT_LE(range.last, U'\U0010FFFF');
        if (&range != &ranges.front()) {
            EXPECT_GT(range.first, next_free)
                << "overlapping or adjacent at " << static_cast<std::uint32_t>(range.first);
        }
        next_free = range.last + 1;
        EXPECT_FALSE(range.first <= 0x7E && range.last >= 0x20)
            << "printable ASCII in the table at " << static_cast<std::uint32_t>(range.first);
    }
}

} // namespace
} // namespace vemlox
