#include "setup/uninstall.hpp"

#include <gtest/gtest.h>
#include <string>

namespace vemlox::win {
namespace {

constexpr const wchar_t* FOLDER = LR"(C:\Program Files\Vemlox)";

struct ReportCase {
    const char* name;
    bool has_stopped;
    TextResult<std::wstring> folder;
    UninstallOutcome expected;
};

// Only a service that has stopped frees its files; one deleted while it still runs is reported
// with an exit code of its own, which a deployment script can wait on before it deletes them.
TEST(Uninstall, SaysTheFilesCanBeDeletedOnlyOnceTheServiceHasStopped) {
    const ReportCase cases[] = {
        {"stopped", true, FOLDER,
         R"(Service removed. The files in C:\Program Files\Vemlox can now be deleted.)"},
        {"still running after the wait", false, FOLDER,
         std::unexpected(UninstallFailure{
             R"(Service removed, but it is still running: it goes once it stops. The files in C:\Program Files\Vemlox are in use until then.)",
             3})},
        {"stopped, no folder", true, std::unexpected("ProgramFiles is not set"),
         std::unexpected(UninstallFailure{"ProgramFiles is not set", 1})},
        {"still running, no folder", false, std::unexpected("ProgramFiles is not set"),
         std::unexpected(UninstallFailure{"ProgramFiles is not set", 1})},
    };
    for (const ReportCase& each : cases) {
        const UninstallOutcome report = removed_service_report(each.has_stopped, each.folder);
        ASSERT_EQ(report.has_value(), each.expected.has_value()) << each.name;
        if (report) {
            EXPECT_EQ(*report, *each.expected) << each.name;
        } else {
            EXPECT_EQ(report.error().message, each.expected.error().message) << each.name;
            EXPECT_EQ(report.error().exit_code, each.expected.error().exit_code) << each.name;
        }
    }
}

} // namespace
} // namespace vemlox::win
