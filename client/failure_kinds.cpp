#include "failure_kinds.hpp"

#include <windows.h>

namespace vemlox::client {

Error::Kind kind_of_answer(FailureKind kind) {
    switch (kind) {
    case FailureKind::Rejected:
        return Error::Kind::Rejected;
    case FailureKind::NotFound:
        return Error::Kind::NotFound;
    case FailureKind::Failed:
        break;
    }
    return Error::Kind::Failed;
}

Error::Kind kind_of_transfer_failure(std::uint32_t code) {
    switch (code) {
    case WAIT_TIMEOUT:
        return Error::Kind::TimedOut;
    case ERROR_CANCELLED:
        return Error::Kind::Cancelled;
    default:
        // The server closed its end (ERROR_BROKEN_PIPE, ERROR_NO_DATA, ...) or the pipe broke.
        return Error::Kind::ConnectionLost;
    }
}

std::optional<Error::Kind> kind_when_nobody_serves(ServiceProcess::State state) {
    switch (state) {
    case ServiceProcess::State::NotInstalled:
        return Error::Kind::NotInstalled;
    case ServiceProcess::State::NotRunning:
        return Error::Kind::Stopped;
    case ServiceProcess::State::Starting:
    case ServiceProcess::State::Running:
        break;
    }
    return std::nullopt;
}

} // namespace vemlox::client
