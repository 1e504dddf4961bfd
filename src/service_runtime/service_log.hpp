// The service's log: one timestamped line per event in "service.log" beside the executable, with
// one older generation kept as "service.log.1".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vemlox::win {

inline constexpr std::string_view LOG_FILE_NAME = "service.log";
inline constexpr std::string_view OLDER_LOG_FILE_NAME = "service.log.1";
// A log file larger than this is moved aside before the next line is written.
inline constexpr std::uint64_t LOG_ROTATION_BYTES = 1048576;

// Who may open the log files: SYSTEM and Administrators only, protected from the folder's
// inherited entries. A user who could open the log could hold it without sharing or take an
// oplock on it, and so silence the log, stop its rotation or stall the service at its next line.
inline constexpr wchar_t LOG_FILE_SDDL[] = L"D:P(A;;FA;;;SY)(A;;FA;;;BA)";

// Appends "<seconds since 1970> <message>\n", with every CR and LF of the message turned into a
// space. A new log file is created with LOG_FILE_SDDL. Logging must never disturb the service,
// so every failure is silently dropped.
void append_log(const std::wstring& log_folder, std::string_view message);

// Gives the existing log files of the folder LOG_FILE_SDDL, so that logs written before it was
// used are closed to users too. Failures are dropped like every logging failure.
void protect_log_files(const std::wstring& log_folder);

// protect_log_files on a thread of its own, which nothing waits for: a user may hold an older
// log (with an oplock, say) until the protection is done, and the protection with it, so it must
// never be in the way of the service's start or stop. A line written meanwhile is appended as
// ever; the protection applies to the file whatever it holds.
void protect_log_files_in_background(const std::wstring& log_folder);

} // namespace vemlox::win
