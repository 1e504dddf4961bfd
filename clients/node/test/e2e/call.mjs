// One call of the package, as an app makes it, for the end-to-end tests under Wine:
//   call.mjs OPERATION [ARGUMENT_JSON...] [--busy-wait-ms N] [--response-timeout-ms N]
//            [--abort-after-ms N] [--abort-when-file PATH] [--together N]
// --abort-when-file aborts once PATH exists: the tests name a file the service's child writes, so
// that the abort comes while the request is surely with the service, however slowly Node started.
// With --together, N calls at once, and "result" is the list of their results.
// Prints one JSON line: {"result": ...} or {"error": {name, kind, message, win32Code,
// isErrorAnswer}}, with "ticks": how often a 10 ms timer ran while the call was out (so whether
// Node's event loop stayed free). Standard output must be a file: Node for Windows under Wine
// cannot write to a Unix pipe.
import { existsSync } from 'node:fs';
import * as vemlox from '../../index.js';

const [operation, ...rest] = process.argv.slice(2);
const args = [];
const options = {};
let abortAfterMs;
let abortWhenFile;
let together;
for (let i = 0; i < rest.length; i += 1) {
  if (rest[i] === '--busy-wait-ms') {
    options.busyWaitMs = Number(rest[(i += 1)]);
  } else if (rest[i] === '--response-timeout-ms') {
    options.responseTimeoutMs = Number(rest[(i += 1)]);
  } else if (rest[i] === '--together') {
    together = Number(rest[(i += 1)]);
  } else if (rest[i] === '--abort-after-ms') {
    abortAfterMs = Number(rest[(i += 1)]);
  } else if (rest[i] === '--abort-when-file') {
    abortWhenFile = rest[(i += 1)];
  } else {
    args.push(JSON.parse(rest[i]));
  }
}
if (abortAfterMs !== undefined) {
  const controller = new AbortController();
  options.signal = controller.signal;
  setTimeout(() => controller.abort(), abortAfterMs);
}
if (abortWhenFile !== undefined) {
  const controller = new AbortController();
  options.signal = controller.signal;
  const watcher = setInterval(() => {
    if (existsSync(abortWhenFile)) {
      clearInterval(watcher);
      controller.abort();
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
  const { name, kind, message, win32Code, isErrorAnswer } = error;
  outcome = { error: { name, kind, message, win32Code, isErrorAnswer } };
}
clearInterval(ticker);
process.stdout.write(`${JSON.stringify({ ...outcome, ticks })}\n`);
process.exitCode = outcome.error === undefined ? 0 : 1;
