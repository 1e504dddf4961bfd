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

// Appends "<seconds since 1970> <message>\n", with every CR and LF of the message turned into a
// space. Logging must never disturb the service, so every failure is silently dropped.
void append_log(const std::wstring& log_folder, std::string_view message);

} // namespace vemlox::win
