#include "service_runtime/caller_check.hpp"

#include <gtest/gtest.h>
#include <string>

namespace vemlox::win {
namespace {

constexpr const char* OWN = R"(C:\Program Files\Vemlox\vemlox-service.exe)";

struct CallerCase {
    const char* caller;
    const char* own;
    bool allowed;
};

const CallerCase CALLER_ALLOWED_CASES[] = {
    // The two client names in the own folder, in any ASCII case of folder and name.
    {R"(C:\Program Files\Vemlox\vemlox.exe)", OWN, true},
    {R"(C:\Program Files\Vemlox\vemlox-app.exe)", OWN, true},
    {R"(C:\Program Files\Vemlox\VEMLOX.EXE)", OWN, true},
    {R"(C:\Program Files\Vemlox\Vemlox-App.Exe)", OWN, true},
    {R"(c:\program files\vemlox\vemlox.exe)", OWN, true},
    {R"(C:\PROGRAM FILES\VEMLOX\vemlox-app.exe)", R"(c:\program files\vemlox\Vemlox-Service.EXE)",
     true},
    // The service itself and other names are not callers.
    {R"(C:\Program Files\Vemlox\vemlox-service.exe)", OWN, false},
    {R"(C:\Program Files\Vemlox\vemlox.exe.exe)", OWN, false},
    {R"(C:\Program Files\Vemlox\vemlox)", OWN, false},
    {R"(C:\Program Files\Vemlox\xvemlox.exe)", OWN, false},
    {R"(C:\Program Files\Vemlox\vemlox.ex)", OWN, false},
    {R"(C:\Program Files\Vemlox\)", OWN, false},
    // Only the own folder, exactly: not a parent, a child, a look-alike or a relative form.
    {R"(C:\Program Files\vemlox.exe)", OWN, false},
    {R"(C:\Program Files\Vemlox\bin\vemlox.exe)", OWN, false},
    {R"(C:\Program Files\Vemlox2\vemlox.exe)", OWN, false},
    {R"(D:\Program Files\Vemlox\vemlox.exe)", OWN, false},
    {R"(C:\Program Files\Vemlox\.\vemlox.exe)", OWN, false},
    {R"(C:/Program Files/Vemlox/vemlox.exe)", OWN, false},
    {R"(Z:\Program Files\Vemlox\vemlox.exe)", OWN, false},
    // Only ASCII letters fold: "É" against "é" is a different folder.
    {"C:\\Programme\\\xC3\x89tude\\vemlox.exe", "C:\\Programme\\\xC3\xA9tude\\vemlox-service.exe",
     false},
    {"C:\\Programme\\\xC3\xA9tude\\vemlox.exe", "C:\\Programme\\\xC3\xA9tude\\vemlox-service.exe",
     true},
    // No backslash, or nothing before it.
    {"vemlox.exe", OWN, false},
    {R"(C:\Program Files\Vemlox\vemlox.exe)", "vemlox-service.exe", false},
    {R"(\vemlox.exe)", R"(\vemlox-service.exe)", false},
    // An unidentified caller.
    {"", OWN, false},
    {"", "", false},
};

TEST(CallerAllowed, FollowsTheFolderAndNameRule) {
    for (const CallerCase& c : CALLER_ALLOWED_CASES) {
        EXPECT_EQ(caller_allowed(c.caller, c.own), c.allowed)
            << "caller " << c.caller << ", own " << c.own;
    }
}

} // namespace
} // namespace vemlox::win
