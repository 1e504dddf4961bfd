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
    CallerCase{R"(C:\Program Files\Vemlox\vemlox.exe)", OWN, true},
    CallerCase{R"(C:\Program Files\Vemlox\vemlox-app.exe)", OWN, true},
    CallerCase{R"(C:\Program Files\Vemlox\VEMLOX.EXE)", OWN, true},
    CallerCase{R"(C:\Program Files\Vemlox\Vemlox-App.Exe)", OWN, true},
    CallerCase{R"(c:\program files\vemlox\vemlox.exe)", OWN, true},
    CallerCase{R"(C:\PROGRAM FILES\VEMLOX\vemlox-app.exe)",
               R"(c:\program files\vemlox\Vemlox-Service.EXE)", true},
    // The service itself and other names are not callers.
    CallerCase{R"(C:\Program Files\Vemlox\vemlox-service.exe)", OWN, false},
    CallerCase{R"(C:\Program Files\Vemlox\vemlox.exe.exe)", OWN, false},
    CallerCase{R"(C:\Program Files\Vemlox\vemlox)", OWN, false},
    CallerCase{R"(C:\Program Files\Vemlox\xvemlox.exe)", OWN, false},
    CallerCase{R"(C:\Program Files\Vemlox\vemlox.ex)", OWN, false},
    CallerCase{R"(C:\Program Files\Vemlox\)", OWN, false},
    // Only the own folder, exactly: not a parent, a child, a look-alike or a relative form.
    CallerCase{R"(C:\Program Files\vemlox.exe)", OWN, false},
    CallerCase{R"(C:\Program Files\Vemlox\bin\vemlox.exe)", OWN, false},
    CallerCase{R"(C:\Program Files\Vemlox2\vemlox.exe)", OWN, false},
    CallerCase{R"(D:\Program Files\Vemlox\vemlox.exe)", OWN, false},
    CallerCase{R"(C:\Program Files\Vemlox\.\vemlox.exe)", OWN, false},
    CallerCase{R"(C:/Program Files/Vemlox/vemlox.exe)", OWN, false},
    CallerCase{R"(Z:\Program Files\Vemlox\vemlox.exe)", OWN, false},
    // Only ASCII letters fold: "É" against "é" is a different folder.
    CallerCase{"C:\\Programme\\\xC3\x89tude\\vemlox.exe",
               "C:\\Programme\\\xC3\xA9tude\\vemlox-service.exe", false},
    CallerCase{"C:\\Programme\\\xC3\xA9tude\\vemlox.exe",
               "C:\\Programme\\\xC3\xA9tude\\vemlox-service.exe", true},
    // No backslash, or nothing before it.
    CallerCase{"vemlox.exe", OWN, false},
    CallerCase{R"(C:\Program Files\Vemlox\vemlox.exe)", "vemlox-service.exe", false},
    CallerCase{R"(\vemlox.exe)", R"(\vemlox-service.exe)", false},
    // An unidentified caller.
    CallerCase{"", OWN, false},
    CallerCase{"", "", false},
};

TEST(CallerAllowed, FollowsTheFolderAndNameRule) {
    for (const CallerCase& param : CALLER_ALLOWED_CASES) {
        const CallerCase& c = param;
        EXPECT_EQ(caller_allowed(c.caller, c.own), c.allowed)
            << "caller " << c.caller << ", own " << c.own;
    }
}

} // namespace
} // namespace vemlox::win
