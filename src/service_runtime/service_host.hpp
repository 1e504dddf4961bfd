// What the Service Control Manager sees of the service: its entry, its control handler and what
// they report.
#pragma once

#include "service_runtime/status_reporter.hpp"
#include "service_runtime/stop_signal.hpp"

#include <windows.h>

namespace vemlox::win {

// What the control handler acts on, given to it as its context: the request to stop and the
// status reports. It must outlive every call of the handler.
struct ServiceControls {
    StopSignal stop;
    StatusReporter status;
};

// The service main of the dispatcher table: runs the pipe server until a stop is requested.
void WINAPI service_entry(DWORD argument_count, LPWSTR* arguments);

// The HandlerEx routine; `context` is the service's ServiceControls. Stop and shutdown report the
// stop as pending, ask the pipe server to stop and return at once; interrogate does nothing;
// anything else is not implemented.
DWORD WINAPI control_handler(DWORD control, DWORD event_type, LPVOID event_data, LPVOID context);

} // namespace vemlox::win
