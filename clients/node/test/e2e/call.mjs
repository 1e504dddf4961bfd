// One call of the package, as an app makes it, for the end-to-end tests under Wine:
//   call.mjs OPERATION [ARGUMENT_JSON...] [--busy-wait-ms N] [--response-timeout-ms N]
//            [--abort-after-ms N] [--abort-when-file PATH] [--aborted] [--together N]
// --abort-when-file aborts once PATH exists: the tests name a file the service's child writes, so
// that the abort comes while the request is surely with the service, however slowly Node started.
// --aborted gives the call a signal aborted before it starts. Every abort's reason is the error
// "aborted by call.mjs".
// With --together, N calls at once, and "result" is the list of their results.
// Prints one JSON line: {"result": ...} or {"error": {name, kind, code, message, win32Code,
// isErrorAnswer, cause (its message)}}, with "ticks": how often a 10 ms timer ran while the call was out (so whether
// Node's event loop stayed free). Standard output must be a file: Node for Windows under Wine
// cannot write to a Unix pipe.
import { existsSync } from 'node:fs';
import * as vemlox from '@vemlox/client';

const [operation, ...rest] = process.argv.slice(2);
const args = [];
const options = {};
let abortAfterMs;
let abortWhenFile;
let together;
let aborted = false;
for (let i = 0; i < rest.length; i += 1) {
  if (rest[i] === '--busy-wait-ms') {
    options.busyWaitMs = Number(rest[(i += 1)]);
  } else if (rest[i] === '--response-timeout-ms') {
    options.responseTimeoutMs = Number(rest[(i += 1)]);
  } else if (rest[i] === '--together') {
    together = Number(rest[(i += 1)]);
  } else if (rest[i] === '--abort-after-ms') {
    abortAfterMs = Number(rest[(i += 1)]);
  } else if (rest[i] === '--aborted') {
    aborted = true;
  } else if (rest[i] === '--abort-when-file') {
    abortWhenFile = rest[(i += 1)];
  } else {
    args.push(JSON.parse(rest[i]));
  }
}
const reason = new Error('aborted by call.mjs');
if (aborted) {
  options.signal = AbortSignal.abort(reason);
}
if (abortAfterMs !== undefined) {
  const controller = new AbortController();
  options.signal = controller.signal;
  setTimeout(() => controller.abort(reason), abortAfterMs);
}
if (abortWhenFile !== undefined) {
  const controller = new AbortController();
  options.signal = controller.signal;
  const watcher = setInterval(() => {
    if (existsSync(abortWhenFile)) {
      clearInterval(watcher);
      controller.abort(reason);
    }
  }, 10);
}

let ticks = 0;
const ticker = setInterval(() => {
  ticks += 1;
}, 10);
let outcome;
try {
  const once = async () => (await vemlox[operation](...args, options)) ?? null;
  outcome = {
    result: together === undefined
      ? await once()
      : await Promise.all(Array.from({ length: together }, once)),
  };
} catch (error) {
  const { name, kind, code, message, win32Code, isErrorAnswer, cause } = error;
  outcome = {
    error: { name, kind, code, message, win32Code, isErrorAnswer, cause: cause?.message },
  };
}
clearInterval(ticker);
process.stdout.write(`${JSON.stringify({ ...outcome, ticks })}\n`);
process.exitCode = outcome.error === undefined ? 0 : 1;
