// One request on one connection to the Vemlox service, with the C++ client's trust rules: open
// the pipe at identification level, make sure its server is the service's own process before a
// byte is sent, wait for a busy or starting service within the busy wait, and bound the wait for
// the response. The waits run on koffi's worker threads, or on timers: Node's event loop never
// blocks. A stop by the AbortSignal ends every wait at once.

import {
  ErrorKind,
  VemloxError,
  WIN32,
  cancelled,
  kindWhenNobodyServes,
  messages,
  transferError,
  untrustedServer,
} from './errors.js';
import { CHUNK_BYTES, MAX_RESPONSE_BYTES, ResponseLine } from './line.js';
import * as win from './win32.js';

// While the pipe is busy or not there yet, how often a waiting call looks again (and so how long
// a wait for the pipe that a stop leaves behind runs on, unseen, on its worker thread).
const POLL_MS = 50;

const now = () => performance.now();
const left = (deadline) => Math.max(0, Math.ceil(deadline - now()));

// Settles with 'done' when `promise` does, 'aborted' when `signal` aborts first, 'timeout' when
// `ms` (if given) pass first.
function until(promise, signal, ms) {
  return new Promise((resolve) => {
    let timer;
    const finish = (outcome) => {
      clearTimeout(timer);
      signal?.removeEventListener('abort', onAbort);
      resolve(outcome);
    };
    const onAbort = () => finish('aborted');
    if (signal?.aborted) {
      finish('aborted');
      return;
    }
    signal?.addEventListener('abort', onAbort, { once: true });
    if (ms !== undefined) {
      timer = setTimeout(() => finish('timeout'), ms);
    }
    promise.then(() => finish('done'), () => finish('done'));
  });
}

// One exchange at a time in this process. The service serves one client at a time anyway, and
// koffi keeps one last error for all threads: no wait of one call may end on a worker while
// another call reads the error of a call it just made. A call that waits here longer than its
// busy wait finds the service busy, as it would at the pipe.
let lastInLine = Promise.resolve();

async function takeTurn(call) {
  const before = lastInLine;
  let leave;
  lastInLine = new Promise((resolve) => {
    leave = resolve;
  });
  const outcome = await until(before, call.signal, left(call.busyDeadline));
  if (outcome !== 'done') {
    // Our place passes on only when the one before us is done.
    before.then(leave);
    throw outcome === 'aborted'
      ? cancelled('nothing was sent')
      : new VemloxError(ErrorKind.Busy, messages.busy(call.busyWaitMs), WIN32.ERROR_PIPE_BUSY);
  }
  return leave;
}

async function openPipe(call) {
  for (;;) {
    if (call.signal?.aborted) {
      throw cancelled('nothing was sent');
    }
    const opened = win.openPipe();
    if (opened.handle !== undefined) {
      return opened.handle;
    }
    const code = opened.error;
    const remaining = left(call.busyDeadline);
    if (code === WIN32.ERROR_FILE_NOT_FOUND) {
      await waitForStart(call, code, remaining);
      continue;
    }
    if (code !== WIN32.ERROR_PIPE_BUSY) {
      const text = messages.cannotOpen(win.osErrorText(code));
      throw new VemloxError(ErrorKind.CannotConnect, text, code);
    }
    if (remaining === 0) {
      throw new VemloxError(ErrorKind.Busy, messages.busy(call.busyWaitMs), code);
    }
    // Returns as soon as the server listens again; a failure (the pipe went away, or the wait
    // ran out) is seen by the next open. It cannot be broken off: a stop leaves it to end on its
    // worker within POLL_MS, and the next call waits for that.
    const waited = win.waitNamedPipe(Math.min(POLL_MS, remaining));
    call.leftRunning = waited.catch(() => {});
    await until(waited, call.signal);
  }
}

// Nobody serves the pipe: not installed, stopped, or not up yet. Started at logon beside the app,
// the service may not have created its pipe yet; WaitNamedPipeW returns at once while no pipe of
// the name exists, so this looks again after a pause.
async function waitForStart(call, code, remaining) {
  const service = win.queryService();
  if (service.error !== undefined) {
    throw new VemloxError(
      ErrorKind.CannotConnect,
      messages.cannotAskWhenNobodyServes(win.osErrorText(service.error)),
      service.error,
    );
  }
  const kind = kindWhenNobodyServes(service.state);
  if (kind !== undefined) {
    throw new VemloxError(kind, messages.nobodyServes(kind), code);
  }
  if (remaining === 0) {
    throw new VemloxError(ErrorKind.Starting, messages.starting(call.busyWaitMs), code);
  }
  await until(new Promise(() => {}), call.signal, Math.min(POLL_MS, remaining));
}

// The pipe's server must be the process the Service Control Manager runs as our service. This is
// sound because the service creates the pipe as its first instance, and as its only one: while
// the service runs nobody else can serve the name, and GetNamedPipeServerProcessId reports the
// process that created the first instance. The server's image path would prove nothing: a
// standard user may not open a LocalSystem process, and while the service is stopped any process
// started from the installed image would pass.
function verifyServer(pipe) {
  const untrusted = (message, code = 0) =>
    new VemloxError(ErrorKind.UntrustedServer, message, code);
  const server = win.pipeServerProcessId(pipe);
  if (server.error !== undefined) {
    throw untrusted(messages.cannotIdentifyServer(win.osErrorText(server.error)), server.error);
  }
  const service = win.queryService();
  if (service.error === WIN32.ERROR_ACCESS_DENIED) {
    throw untrusted(messages.mayNotAskScm, WIN32.ERROR_ACCESS_DENIED);
  }
  if (service.error !== undefined) {
    throw untrusted(messages.cannotAskScm(win.osErrorText(service.error)), service.error);
  }
  const found = untrustedServer(server.processId, service);
  if (found !== undefined) {
    throw untrusted(found);
  }
}

// The events a call's transfers wait on: one for the I/O, one that the AbortSignal sets.
function createEvents(signal) {
  const io = win.createEvent();
  const stop = io === undefined ? undefined : win.createEvent();
  if (stop === undefined) {
    const code = win.lastError();
    if (io !== undefined) {
      win.closeHandle(io);
    }
    throw new VemloxError(ErrorKind.NoResources, messages.noEvent(win.osErrorText(code)), code);
  }
  const onAbort = () => win.setEvent(stop);
  signal?.addEventListener('abort', onAbort, { once: true });
  return {
    io,
    stop,
    close() {
      signal?.removeEventListener('abort', onAbort);
      win.closeHandle(stop);
      win.closeHandle(io);
    },
  };
}

async function sendLine(call, pipe, events, requestLine) {
  let rest = Buffer.from(`${requestLine}\n`, 'utf8');
  const memory = win.allocate(rest.length);
  try {
    while (rest.length > 0) {
      win.store(memory, rest);
      const written = await win.transfer(
        'write', pipe, events.io, events.stop, memory, rest.length, left(call.responseDeadline));
      if (written.error !== undefined) {
        throw transferError(written.error, win.osErrorText(written.error), call.responseTimeoutMs,
          'sending the request failed');
      }
      rest = rest.subarray(written.moved);
    }
  } finally {
    win.release(memory);
  }
}

async function receiveLine(call, pipe, events) {
  const line = new ResponseLine();
  const memory = win.allocate(CHUNK_BYTES);
  try {
    for (;;) {
      const got = await win.transfer(
        'read', pipe, events.io, events.stop, memory, CHUNK_BYTES, left(call.responseDeadline));
      const failure = got.error ?? (got.moved === 0 ? WIN32.ERROR_SUCCESS : undefined);
      if (failure !== undefined) {
        if ([WIN32.ERROR_SUCCESS, WIN32.ERROR_BROKEN_PIPE, WIN32.ERROR_PIPE_NOT_CONNECTED]
          .includes(failure)) {
          throw new VemloxError(ErrorKind.ConnectionLost, messages.closedEarly, failure);
        }
        throw transferError(failure, win.osErrorText(failure), call.responseTimeoutMs,
          'reading the response failed');
      }
      const whole = line.add(win.load(memory, got.moved));
      if (whole === 'TooLong') {
        throw new VemloxError(ErrorKind.BadResponse, messages.tooLong(MAX_RESPONSE_BYTES));
      }
      if (whole !== undefined) {
        return whole;
      }
    }
  } finally {
    win.release(memory);
  }
}

// Sends `requestLine` (without line feed; one is added) and resolves with the response line's
// bytes, without its line feed. `options` are checked already.
export async function exchange(requestLine, options) {
  if (process.platform !== 'win32') {
    throw new VemloxError(ErrorKind.CannotConnect, messages.notWindows);
  }
  const call = {
    ...options,
    busyDeadline: now() + options.busyWaitMs,
    leftRunning: Promise.resolve(),
  };
  if (call.signal?.aborted) {
    throw cancelled('nothing was sent');
  }
  const leave = await takeTurn(call);
  try {
    const events = createEvents(call.signal);
    try {
      const pipe = await openPipe(call);
      // Leaving by any road closes the pipe, so a response that comes too late goes nowhere.
      try {
        verifyServer(pipe);
        if (call.signal?.aborted) {
          throw cancelled('nothing was sent');
        }
        call.responseDeadline = now() + call.responseTimeoutMs;
        await sendLine(call, pipe, events, requestLine);
        return await receiveLine(call, pipe, events);
      } finally {
        win.closeHandle(pipe);
      }
    } finally {
      events.close();
    }
  } finally {
    call.leftRunning.then(leave);
  }
}

