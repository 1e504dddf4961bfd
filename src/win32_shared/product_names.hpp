// The fixed names of the product: the service registration, the pipe and the executables.
#pragma once

#include <string_view>

namespace vemlox::win {

inline constexpr std::string_view SERVICE_NAME = "vemlox";
inline constexpr std::string_view SERVICE_DISPLAY_NAME = "Vemlox helper service";
inline constexpr std::string_view SERVICE_DESCRIPTION =
    "Makes the few changes Vemlox needs admin rights for, only when you confirm them in the app.";

inline constexpr std::string_view PIPE_NAME = R"(\\.\pipe\vemlox)";

// The folder under Program Files that holds the installed executables.
inline constexpr std::string_view INSTALL_FOLDER_NAME = "Vemlox";
inline constexpr std::string_view SERVICE_EXE_NAME = "vemlox-service.exe";
// The desktop application's two executables (its main program and its second, short-named one):
// the only callers the pipe accepts, and the files the installer copies from beside itself (in
// this order). Neither is the vemlox-client tool.
inline constexpr std::string_view APP_EXE_NAME = "vemlox-app.exe";
inline constexpr std::string_view APP_SHORT_EXE_NAME = "vemlox.exe";

// Every failed Service Control Manager call is shown with this text, without its code.
inline constexpr std::string_view SCM_ERROR_TEXT = "IO error in winapi call";

} // namespace vemlox::win
