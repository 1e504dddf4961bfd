#include "setup/binary_path_quoting.hpp"

#include <gtest/gtest.h>
#include <string>

namespace vemlox::win {
namespace {

struct QuotingCase {
    const wchar_t* path;
    const wchar_t* expected;
};

const QuotingCase BINARY_PATH_QUOTING_CASES[] = {
    QuotingCase{LR"(C:\Vemlox\vemlox-service.exe)", LR"(C:\Vemlox\vemlox-service.exe)"},
    QuotingCase{LR"(C:\Program Files\Vemlox\vemlox-service.exe)",
                LR"("C:\Program Files\Vemlox\vemlox-service.exe")"},
    QuotingCase{L"", LR"("")"},
    QuotingCase{L"a\tb", L"\"a\tb\""},
    QuotingCase{L"a\nb", L"\"a\nb\""},
    QuotingCase{L"a\vb", L"\"a\vb\""},
    // Backslashes before a double quote or the closing quote are doubled, others kept.
    QuotingCase{LR"(a"b)", LR"("a\"b")"},
    QuotingCase{LR"(a\"b)", LR"("a\\\"b")"},
    QuotingCase{LR"(a\\"b)", LR"("a\\\\\"b")"},
    QuotingCase{LR"(C:\a b\)", LR"("C:\a b\\")"},
    QuotingCase{LR"(C:\a b\\)", LR"("C:\a b\\\\")"},
    QuotingCase{LR"(C:\a\\b c)", LR"("C:\a\\b c")"},
    // No blank, no quote: even a trailing backslash stays as it is.
    QuotingCase{LR"(C:\a\)", LR"(C:\a\)"},
    // Non-ASCII letters need no quoting.
    QuotingCase{L"C:\\\u00C9tude\\x.exe", L"C:\\\u00C9tude\\x.exe"},
};

TEST(BinaryPathQuoting, QuotesOnlyWhatNeedsIt) {
    for (const QuotingCase& param : BINARY_PATH_QUOTING_CASES) {
        EXPECT_EQ(quote_binary_path(param.path), std::wstring(param.expected));
    }
}

} // namespace
} // namespace vemlox::win
