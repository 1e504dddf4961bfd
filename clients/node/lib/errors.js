// Why a call has no result: one error type, VemloxError, whose kind says why, and the choice of
// kind for each way a call can end. The kinds, their meanings and the messages are the same as
// the C++ client's, so that an app's users read the same words whichever client the app uses.

export const PIPE_NAME = '\\\\.\\pipe\\vemlox';

export const ErrorKind = Object.freeze({
  // No response came; for all but TimedOut, Cancelled and ConnectionLost nothing was sent.
  NotInstalled: 'NotInstalled', // the service "vemlox" is not installed
  Stopped: 'Stopped', // the service is installed but not running
  Starting: 'Starting', // the service was still starting when the busy wait ended
  Busy: 'Busy', // the pipe stayed busy with other clients for the whole busy wait
  CannotConnect: 'CannotConnect', // opening the pipe failed otherwise (access denied, ...)
  UntrustedServer: 'UntrustedServer', // the pipe is served by a process other than the service
  NoResources: 'NoResources', // Windows refused this process what the call needs (an event)
  TimedOut: 'TimedOut', // no whole response within the response timeout; the pipe was closed
  Cancelled: 'Cancelled', // the caller's AbortSignal asked to stop; the pipe was closed
  ConnectionLost: 'ConnectionLost', // the connection ended before a whole response arrived
  BadResponse: 'BadResponse', // the response could not be read as a response
  // The service answered with an error response.
  Rejected: 'Rejected', // the request was refused (a caller not allowed, an invalid request)
  NotFound: 'NotFound', // a named item does not exist
  Failed: 'Failed', // the operation failed
});

const ANSWER_KINDS = new Set([ErrorKind.Rejected, ErrorKind.NotFound, ErrorKind.Failed]);

// The Windows errors the client tells apart.
export const WIN32 = Object.freeze({
  ERROR_SUCCESS: 0,
  ERROR_FILE_NOT_FOUND: 2,
  ERROR_ACCESS_DENIED: 5,
  ERROR_BROKEN_PIPE: 109,
  ERROR_PIPE_BUSY: 231,
  ERROR_PIPE_NOT_CONNECTED: 233,
  WAIT_TIMEOUT: 258,
  ERROR_OPERATION_ABORTED: 995,
  ERROR_SERVICE_DOES_NOT_EXIST: 1060,
  ERROR_CANCELLED: 1223,
});

export class VemloxError extends Error {
  constructor(kind, message, win32Code = 0) {
    super(message);
    this.name = 'VemloxError';
    this.kind = kind;
    // The Windows error behind the failure, 0 where there is none (always 0 for the service's
    // own answers: their message carries it).
    this.win32Code = win32Code;
  }

  // True for the service's own answers (Rejected, NotFound, Failed).
  get isErrorAnswer() {
    return ANSWER_KINDS.has(this.kind);
  }
}

// The kind of an error response's "kind" member; nothing for a kind the client does not know.
export function kindOfAnswer(wireKind) {
  return { rejected: ErrorKind.Rejected, not_found: ErrorKind.NotFound, failed: ErrorKind.Failed }[
    wireKind
  ];
}

// `code` is the Windows error a bounded read or write of the pipe ended with.
export function kindOfTransferFailure(code) {
  switch (code) {
    case WIN32.WAIT_TIMEOUT:
      return ErrorKind.TimedOut;
    case WIN32.ERROR_CANCELLED:
      return ErrorKind.Cancelled;
    default:
      // The server closed its end (ERROR_BROKEN_PIPE, ERROR_NO_DATA, ...) or the pipe broke.
      return ErrorKind.ConnectionLost;
  }
}

// What the Service Control Manager says of the service: 'NotInstalled', 'NotRunning',
// 'Starting' or 'Running'. Nothing while it is starting or running: then the pipe is about to
// appear.
export function kindWhenNobodyServes(state) {
  return { NotInstalled: ErrorKind.NotInstalled, NotRunning: ErrorKind.Stopped }[state];
}

// Nothing when the pipe's server process is the running (or starting) service; otherwise what
// was found, as a message ending in "nothing was sent".
export function untrustedServer(pipeServerProcessId, service) {
  const servedBy = `${PIPE_NAME} is served by process ${pipeServerProcessId}`;
  switch (service.state) {
    case 'NotInstalled':
      return `${servedBy}, but the Vemlox service is not installed; nothing was sent`;
    case 'NotRunning':
      return `${servedBy}, but the Vemlox service is not running; nothing was sent`;
    default:
      break;
  }
  if (service.processId !== pipeServerProcessId) {
    return `${servedBy} while the Vemlox service is process ${service.processId}; nothing was sent`;
  }
  return undefined;
}

export function durationText(ms) {
  const whole = Math.max(Math.round(ms), 0);
  return whole % 1000 === 0 ? `${whole / 1000} s` : `${whole} ms`;
}

// The messages, in one place.
export const messages = Object.freeze({
  nobodyServes: (kind) =>
    `the Vemlox service is ${kind === ErrorKind.NotInstalled ? 'not installed' : 'not running'} ` +
    `(nothing serves ${PIPE_NAME})`,
  cannotAskWhenNobodyServes: (osText) =>
    `nothing serves ${PIPE_NAME}, and the Service Control Manager cannot say whether the ` +
    `Vemlox service runs: ${osText}`,
  starting: (busyWaitMs) =>
    `the Vemlox service is starting and has not opened ${PIPE_NAME} within ` +
    `${durationText(busyWaitMs)}; try again later`,
  busy: (busyWaitMs) =>
    `the Vemlox service stayed busy for ${durationText(busyWaitMs)}; try again later`,
  cannotOpen: (osText) => `cannot open ${PIPE_NAME}: ${osText}`,
  cannotIdentifyServer: (osText) =>
    `cannot identify the process serving ${PIPE_NAME}: ${osText}; nothing was sent`,
  mayNotAskScm:
    'this session may not ask the Service Control Manager about the Vemlox service (only ' +
    'interactive and service logons may), so the process serving ' +
    `${PIPE_NAME} cannot be checked; nothing was sent`,
  cannotAskScm: (osText) =>
    `cannot ask the Service Control Manager about the Vemlox service: ${osText}; nothing was sent`,
  noEvent: (osText) =>
    `Windows refused this process an event for the call: ${osText}; nothing was sent`,
  cancelled: (what) => `the call was cancelled; ${what}`,
  timedOut: (responseTimeoutMs) =>
    `no response from the Vemlox service within ${durationText(responseTimeoutMs)}; ` +
    'the connection was closed',
  closedEarly: 'the service closed the connection without a complete response',
  tooLong: (maxBytes) => `the response exceeds ${maxBytes} bytes`,
  unreadable: (reason) => `unreadable response from the service: ${reason}`,
  notWindows: 'the Vemlox service runs only on Windows',
});

export function cancelled(what) {
  return new VemloxError(ErrorKind.Cancelled, messages.cancelled(what), WIN32.ERROR_CANCELLED);
}

// The VemloxError for a bounded transfer that ended with `code`; `failed` says what failed
// otherwise, `osText` is the system's text for `code`.
export function transferError(code, osText, responseTimeoutMs, failed) {
  switch (kindOfTransferFailure(code)) {
    case ErrorKind.TimedOut:
      return new VemloxError(ErrorKind.TimedOut, messages.timedOut(responseTimeoutMs), code);
    case ErrorKind.Cancelled:
      return cancelled('the connection was closed');
    default:
      return new VemloxError(ErrorKind.ConnectionLost, `${failed}: ${osText}`, code);
  }
}
