#include "server_check.hpp"

#include <gtest/gtest.h>

namespace vemlox::client {
namespace {

struct Case {
    const char* image;
    const char* folder;
    bool allowed;
};

TEST(ServerCheck, TrustsOnlyTheServiceExecutableInTheInstallFolder) {
    const Case cases[] = {
        {R"(C:\Program Files\Vemlox\vemlox-service.exe)", R"(C:\Program Files\Vemlox)", true},
        {R"(c:\PROGRAM FILES\vemlox\VEMLOX-SERVICE.EXE)", R"(C:\Program Files\Vemlox)", true},
        {R"(C:\Program Files\Vemlox\vemlox-service.exe)", R"(C:\Program Files\Vemlox\)", true},
        {R"(C:\Vemlox\vemlox-service.exe)", R"(C:\)", false},
        {R"(C:\vemlox-service.exe)", R"(C:\)", true},
        {R"(C:\Program Files\Vemlox\vemlox.exe)", R"(C:\Program Files\Vemlox)", false},
        {R"(C:\Program Files\Vemlox\vemlox-service.exe.exe)", R"(C:\Program Files\Vemlox)", false},
        {R"(C:\Users\me\Downloads\vemlox-service.exe)", R"(C:\Program Files\Vemlox)", false},
        {R"(C:\Program Files\Vemlox\sub\vemlox-service.exe)", R"(C:\Program Files\Vemlox)", false},
        {R"(C:\Program Files\Vemlo\vemlox-service.exe)", R"(C:\Program Files\Vemlox)", false},
        {R"(Z:\tmp\vemlox-service.exe)", R"(C:\Program Files\Vemlox)", false},
        // Only ASCII letters fold: "É" and "é" are different folders here.
        {"C:\\Programme \xc3\x89\\Vemlox\\vemlox-service.exe", "C:\\Programme \xc3\xa9\\Vemlox",
         false},
        {"vemlox-service.exe", "", false},
        {"", R"(C:\Program Files\Vemlox)", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(server_image_allowed(c.image, c.folder), c.allowed)
            << c.image << " in " << c.folder;
    }
}

} // namespace
} // namespace vemlox::client
