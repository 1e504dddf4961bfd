// The Vemlox desktop app's side of the Vemlox service's pipe, for Node and Electron main
// processes on Windows: one async call per operation, with typed arguments and results; every
// way a call can fail, from "not installed" to the service's own "not_found", is one VemloxError.
// Nothing is sent until the pipe's server is known to be the running service, because while the
// service is stopped any process may create the pipe name.
//
// CommonJS, with index.mjs as its ES module face: one module, so one queue of calls, whichever
// way an app loads it. Importing it loads no native code: koffi comes with the first call.
//
// Cancellation: an abort of `options.signal` ends the call's wait at once, closes the pipe and
// rejects with a VemloxError of kind Cancelled whose cause is the signal's reason. A request that
// was already sent is not taken back: the service finishes the operation (a changed DNS setting
// stays changed), and the app does not learn its result.

'use strict';

const { ErrorCode, ErrorKind, VemloxError } = require('./lib/errors.js');
const { exchange: exchangeLine } = require('./lib/pipe.js');
const { requests } = require('./lib/request.js');
const { readAnswer: readAnswerBytes } = require('./lib/response.js');

// WaitForMultipleObjects takes milliseconds as a DWORD, whose largest value means "for ever".
const MAX_WAIT_MS = 0xfffffffe;

function milliseconds(value, fallback, what) {
  if (value === undefined) {
    return fallback;
  }
  if (typeof value !== 'number' || !(value >= 0)) {
    throw new TypeError(`${what} must be a number of milliseconds, 0 or more`);
  }
  return Math.min(Math.ceil(value), MAX_WAIT_MS);
}

function callOptions(options = {}) {
  if (typeof options !== 'object' || options === null) {
    throw new TypeError('options must be an object');
  }
  const { signal } = options;
  if (signal !== undefined && (typeof signal.aborted !== 'boolean' ||
      typeof signal.addEventListener !== 'function')) {
    throw new TypeError('options.signal must be an AbortSignal');
  }
  return {
    // The service serves one client at a time, and the pipe appears only once the service is
    // up; while it is busy or starting, wait this long for it in all.
    busyWaitMs: milliseconds(options.busyWaitMs, 10_000, 'options.busyWaitMs'),
    // From the moment the server is trusted until the whole response line has arrived.
    // Operations wait for PowerShell without a limit of their own, so this is generous.
    responseTimeoutMs: milliseconds(
      options.responseTimeoutMs, 300_000, 'options.responseTimeoutMs'),
    signal,
  };
}

// The raw exchange, for tools: sends `requestLine` (without line feed; one is added) and resolves
// with the response line without its line feed, undecoded.
async function exchange(requestLine, options) {
  if (typeof requestLine !== 'string') {
    throw new TypeError('requestLine must be a string');
  }
  const line = await exchangeLine(requestLine, callOptions(options));
  return line.toString('utf8');
}

// A response line read back: the ok response, or a VemloxError for an error response (Rejected,
// NotFound, Failed) or for an unreadable line (BadResponse).
function readAnswer(line) {
  return readAnswerBytes(typeof line === 'string' ? Buffer.from(line, 'utf8') : line);
}

async function call(makeLine, options) {
  const checked = callOptions(options);
  const line = makeLine();
  return readAnswer(await exchangeLine(line, checked));
}

// The operations, one call each.

async function ping(options) {
  await call(requests.ping, options);
}

async function setMachineStartup(name, enabled, options) {
  await call(() => requests.setMachineStartup(name, enabled), options);
}

async function createRestorePoint(options) {
  await call(requests.createRestorePoint, options);
}

// The adapters that were enabled, in the order they were enabled.
async function enableAdapters(options) {
  return (await call(requests.enableAdapters, options)).names;
}

async function disableAdapters(names, options) {
  await call(() => requests.disableAdapters(names), options);
}

async function renewIp(options) {
  await call(requests.renewIp, options);
}

// Each adapter whose servers were changed, with the servers it had before: what restoreDns takes.
async function usePublicDns(options) {
  return (await call(requests.usePublicDns, options)).dns;
}

async function restoreDns(settings, options) {
  await call(() => requests.restoreDns(settings), options);
}

module.exports = {
  ErrorCode,
  ErrorKind,
  VemloxError,
  ping,
  setMachineStartup,
  createRestorePoint,
  enableAdapters,
  disableAdapters,
  renewIp,
  usePublicDns,
  restoreDns,
  exchange,
  readAnswer,
};
