'use strict';
// Why a call has no result: one error type, VemloxError, whose kind says why, and the choice of
// kind for each way a call can end. The kinds, their meanings and the messages are the same as
// the C++ client's, so that an app's users read the same words whichever client the app uses;
// Unsupported is the package's own (a process that cannot reach Windows at all).

const PIPE_NAME = '\\\\.\\pipe\\vemlox';

const ErrorKind = Object.freeze({
  // No response came; for all but TimedOut, Cancelled and ConnectionLost nothing was sent.
  NotInstalled: 'NotInstalled', // the service "vemlox" is not installed
  Stopped: 'Stopped', // the service is installed but not running
  Starting: 'Starting', // the service was still starting when the busy wait ended
  Busy: 'Busy', // the pipe stayed busy with other clients for the whole busy wait
  CannotConnect: 'CannotConnect', // opening the pipe failed otherwise (access denied, ...)
  UntrustedServer: 'UntrustedServer', // the pipe is served by a process other than the service
  NoResources: 'NoResources', // Windows refused this process what the call needs (an event)
  Unsupported: 'Unsupported', // not Windows, or koffi's native part cannot be loaded
  TimedOut: 'TimedOut', // no whole response within the response timeout; the pipe was closed
  Cancelled: 'Cancelled', // the caller's AbortSignal asked to stop; the pipe was closed
  ConnectionLost: 'ConnectionLost', // the connection ended before a whole response arrived
  BadResponse: 'BadResponse', // the response could not be read as a response
  // The service answered with an error response.
  Rejected: 'Rejected', // the request was refused (a caller not allowed, an invalid request)
  NotFound: 'NotFound', // a named item does not exist
  Failed: 'Failed', // the operation failed
});

// Node's convention: a stable string `code` names the error. One per kind: VEMLOX_ and the kind's
// words in capitals ('NotInstalled' -> 'VEMLOX_NOT_INSTALLED').
const ErrorCode = Object.freeze(
  Object.fromEntries(
    Object.keys(ErrorKind).map((kind) => [
      kind,
      `VEMLOX_${kind.replace(/(?<=[a-z])(?=[A-Z])/g, '_').toUpperCase()}`,
    ]),
  ),
);

const ANSWER_KINDS = new Set([ErrorKind.Rejected, ErrorKind.NotFound, ErrorKind.Failed]);

// The Windows errors the client tells apart.
const WIN32 = Object.freeze({
  ERROR_SUCCESS: 0,
  ERROR_FILE_NOT_FOUND: 2,
  ERROR_ACCESS_DENIED: 5,
  ERROR_HANDLE_EOF: 38,
  ERROR_BROKEN_PIPE: 109,
  ERROR_PIPE_BUSY: 231,
  ERROR_NO_DATA: 232,
  ERROR_PIPE_NOT_CONNECTED: 233,
  WAIT_TIMEOUT: 258,
  ERROR_OPERATION_ABORTED: 995,
  ERROR_SERVICE_DOES_NOT_EXIST: 1060,
  ERROR_CANCELLED: 1223,
});

function isKind(kind) {
  return Object.prototype.hasOwnProperty.call(ErrorKind, kind);
}

class VemloxError extends Error {
  // `kind` is one of ErrorKind; `options.win32Code` the Windows error behind the failure (0 where
  // there is none), `options.cause` what led to it. Apps may make their own, for their tests.
  constructor(kind, message, options = {}) {
    if (!isKind(kind)) {
      throw new TypeError(`kind must be one of ErrorKind, not ${JSON.stringify(kind)}`);
    }
    const { win32Code = 0, cause } = options ?? {};
    if (!Number.isInteger(win32Code) || win32Code < 0 || win32Code > 0xffffffff) {
      throw new TypeError('options.win32Code must be a Windows error code (0 to 0xFFFFFFFF)');
    }
    super(String(message), 'cause' in (options ?? {}) ? { cause } : undefined);
    this.name = 'VemloxError';
    this.kind = kind;
    this.code = ErrorCode[kind];
    // Always 0 for the service's own answers: their message carries the Windows error.
    this.win32Code = win32Code;
  }

  // True for the service's own answers (Rejected, NotFound, Failed).
  get isErrorAnswer() {
    return ANSWER_KINDS.has(this.kind);
  }

  // The plain form that survives a structured clone (Electron's IPC, postMessage) or JSON; a
  // structured clone of the error itself keeps only its name and message.
  toJSON() {
    const { name, kind, code, message, win32Code } = this;
    return { name, kind, code, message, win32Code };
  }

  // The error again from its plain form (toJSON's result, perhaps cloned or parsed).
  static fromJSON(plain) {
    if (typeof plain !== 'object' || plain === null) {
      throw new TypeError('a VemloxError is made from the object its toJSON() gave');
    }
    return new VemloxError(plain.kind, plain.message, { win32Code: plain.win32Code ?? 0 });
  }
}

// The kind of an error response's "kind" member; nothing for a kind the client does not know.
function kindOfAnswer(wireKind) {
  return { rejected: ErrorKind.Rejected, not_found: ErrorKind.NotFound, failed: ErrorKind.Failed }[
    wireKind
  ];
}

// `code` is the Windows error a bounded read or write of the pipe ended with.
function kindOfTransferFailure(code) {
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
function kindWhenNobodyServes(state) {
  return { NotInstalled: ErrorKind.NotInstalled, NotRunning: ErrorKind.Stopped }[state];
}

// Nothing when the pipe's server process is the running (or starting) service; otherwise what
// was found, as a message ending in "nothing was sent".
function untrustedServer(pipeServerProcessId, service) {
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

function durationText(ms) {
  const whole = Math.max(Math.round(ms), 0);
  return whole % 1000 === 0 ? `${whole / 1000} s` : `${whole} ms`;
}

// The messages, in one place.
const messages = Object.freeze({
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
  notWindows: 'the Vemlox service runs only on Windows; nothing was sent',
  noKoffi: (why) =>
    `the package's native part (koffi) cannot be loaded: ${why}; nothing was sent`,
});

// A stop by the caller's signal; its reason is the cause.
function cancelled(what, signal) {
  const win32Code = WIN32.ERROR_CANCELLED;
  return new VemloxError(ErrorKind.Cancelled, messages.cancelled(what),
    signal === undefined ? { win32Code } : { win32Code, cause: signal.reason });
}

// The VemloxError for a bounded transfer that ended with `code`; `failed` says what failed
// otherwise, `osText` is the system's text for `code`.
function transferError(code, osText, call, failed) {
  switch (kindOfTransferFailure(code)) {
    case ErrorKind.TimedOut:
      return new VemloxError(ErrorKind.TimedOut, messages.timedOut(call.responseTimeoutMs), {
        win32Code: code,
      });
    case ErrorKind.Cancelled:
      return cancelled('the connection was closed', call.signal);
    default:
      return new VemloxError(ErrorKind.ConnectionLost, `${failed}: ${osText}`, { win32Code: code });
  }
}

module.exports = {
  PIPE_NAME,
  ErrorKind,
  ErrorCode,
  WIN32,
  VemloxError,
  kindOfAnswer,
  kindOfTransferFailure,
  kindWhenNobodyServes,
  untrustedServer,
  durationText,
  messages,
  cancelled,
  transferError,
};
