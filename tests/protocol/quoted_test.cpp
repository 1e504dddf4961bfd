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

// Invisible and combining characters are written as UTF-8 byte escapes, followed by no hex digit.
const std::vector<QuotedCase> QUOTED_CASES = {
    {"plain", "Ethernet", R"("Ethernet")"},
    {"empty", "", R"("")"},
    {"space kept", "Ethernet 2", R"("Ethernet 2")"},
    {"single quote kept", "it's", R"("it's")"},
    {"backslash", "a\\b", R"("a\\b")"},
    {"double quote", "say \"hi\"", R"("say \"hi\"")"},
    {"tab, CR, LF", "a\tb\rc\nd", R"("a\tb\rc\nd")"},
    {"NUL", std::string("a\0b", 3), R"("a\0b")"},
    {"other C0 control", "\x01|\x1b|\x1f", R"("\u{1}|\u{1b}|\u{1f}")"},
    {"DEL", "\x7f", R"("\u{7f}")"},
    {"C1 control NEL", "\xC2\x85", R"("\u{85}")"},
    {"zero width space (Cf)", "a\xE2\x80\x8Bz", R"("a\u{200b}z")"},
    {"byte order mark (Cf)", "\xEF\xBB\xBFx", R"("\u{feff}x")"},
    {"soft hyphen (Cf)", "\xC2\xAD", R"("\u{ad}")"},
    {"language tag (Cf, plane 14)", "\xF3\xA0\x80\x81", R"("\u{e0001}")"},
    {"combining acute alone", "\xCC\x81", R"("\u{301}")"},
    {"combining acute after a letter", "e\xCC\x81", R"("e\u{301}")"},
    {"variation selector 16", "\xE2\x9D\xA4\xEF\xB8\x8F", "\"\xE2\x9D\xA4\\u{fe0f}\""},
    {"zero width joiner", "\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x92\xBB",
     "\"\xF0\x9F\x91\xA9\\u{200d}\xF0\x9F\x92\xBB\""},
    {"Grapheme_Extend spacing mark", "\xE0\xA6\xBE", R"("\u{9be}")"},
    {"Grapheme_Extend modifier letter", "\xEF\xBE\x9E", R"("\u{ff9e}")"},
    {"spacing mark without Grapheme_Extend kept", "\xE0\xA4\x83", "\"\xE0\xA4\x83\""},
    {"no-break space (Zs)", "a\xC2\xA0z", R"("a\u{a0}z")"},
    {"ideographic space (Zs)", "\xE3\x80\x80", R"("\u{3000}")"},
    {"ogham space mark (Zs)", "\xE1\x9A\x80", R"("\u{1680}")"},
    {"line separator (Zl)", "\xE2\x80\xA8", R"("\u{2028}")"},
    {"paragraph separator (Zp)", "\xE2\x80\xA9", R"("\u{2029}")"},
    {"private use (BMP)", "\xEE\x80\x80", R"("\u{e000}")"},
    {"private use (plane 15)", "\xF3\xB0\x80\x80", R"("\u{f0000}")"},
    {"unassigned", "\xCD\xB8", R"("\u{378}")"},
    {"noncharacter", "\xEF\xBF\xBE", R"("\u{fffe}")"},
    {"highest code point", "\xF4\x8F\xBF\xBF", R"("\u{10ffff}")"},
    {"letters kept", "Ä Привет 日本 ελληνικά", R"("Ä Привет 日本 ελληνικά")"},
    {"non-BMP letter kept", "\xF0\x9D\x92\x9C", "\"\xF0\x9D\x92\x9C\""},
    {"CJK extension G kept", "\xF0\xB0\x80\x80", "\"\xF0\xB0\x80\x80\""},
    {"emoji kept", "\xF0\x9F\x98\x80", "\"\xF0\x9F\x98\x80\""},
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
    EXPECT_EQ(quoted_list(std::vector<std::string>{"Ethernet"}), R"(["Ethernet"])");
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
