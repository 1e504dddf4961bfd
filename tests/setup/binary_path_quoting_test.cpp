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
    {LR"(C:\Vemlox\vemlox-service.exe)", LR"(C:\Vemlox\vemlox-service.exe)"},
    {LR"(C:\Program Files\Vemlox\vemlox-service.exe)",
     LR"("C:\Program Files\Vemlox\vemlox-service.exe")"},
    {L"", LR"("")"},
    {L"a\tb", L"\"a\tb\""},
    {L"a\nb", L"\"a\nb\""},
    {L"a\vb", L"\"a\vb\""},
    // Backslashes before a double quote or the closing quote are doubled, others kept (as for any
    // argument of a child's command line, whose test has the longer runs).
    {LR"(a"b)", LR"("a\"b")"},
    {LR"(a\"b)", LR"("a\\\"b")"},
    {LR"(C:\a b\)", LR"("C:\a b\\")"},
    {LR"(C:\a\\b c)", LR"("C:\a\\b c")"},
    // No blank, no quote: even a trailing backslash stays as it is.
    {LR"(C:\a\)", LR"(C:\a\)"},
    // Non-ASCII letters need no quoting.
    {L"C:\\\u00C9tude\\x.exe", L"C:\\\u00C9tude\\x.exe"},
};

TEST(BinaryPathQuoting, QuotesOnlyWhatNeedsIt) {
    for (const QuotingCase& param : BINARY_PATH_QUOTING_CASES) {
        EXPECT_EQ(quote_binary_path(param.path), std::wstring(param.expected));
    }
}

} // namespace
} // namespace vemlox::win
