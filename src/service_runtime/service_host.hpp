// What the Service Control Manager sees of the service: its entry, its control handler and the
// running and stopped reports.
#pragma once

#include <windows.h>

namespace vemlox::win {

// The service main of the dispatcher table: runs the pipe server until a stop is requested.
void WINAPI service_entry(DWORD argument_count, LPWSTR* arguments);

// The HandlerEx routine; `context` is the service's StopSignal. Stop and shutdown ask the pipe
// server to stop and return at once; interrogate does nothing; anything else is not implemented.
DWORD WINAPI control_handler(DWORD control, DWORD event_type, LPVOID event_data, LPVOID context);

} // namespace vemlox::win
