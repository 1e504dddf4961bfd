'use strict';
// One request on one connection to the Vemlox service, with the C++ client's trust rules: open
// the pipe at identification level, make sure its server is the service's own process before a
// byte is sent, wait for a busy or starting service within the busy wait, and bound the wait for
// the response. Every call that can block runs on koffi's worker threads, and pauses are timers:
// Node's event loop never waits. A stop by the AbortSignal ends every wait at once.
//
// The Win32 layer comes from `loadWin32` (lib/win32.js's koffi declarations; the tests give a
// fake one), so that this file is the same code whatever it talks to.

const {
  PIPE_NAME,
  ErrorKind,
  VemloxError,
  WIN32,
  cancelled,
  kindWhenNobodyServes,
  messages,
  transferError,
  untrustedServer,
} = require('./errors.js');
const { CHUNK_BYTES, MAX_RESPONSE_BYTES, ResponseLine } = require('./line.js');
const { win32 } = require('./win32.js');

const INVALID_HANDLE = -1;
const INFINITE = 0xffffffff;
const WAIT_OBJECT_0 = 0;
const STATUS_PENDING = 0x103;
const GENERIC_READ = 0x80000000;
const GENERIC_WRITE = 0x40000000;
const OPEN_EXISTING = 3;
const FILE_FLAG_OVERLAPPED = 0x40000000;
const SECURITY_SQOS_PRESENT = 0x00100000;
const SECURITY_IDENTIFICATION = 0x00010000;
const SC_MANAGER_CONNECT = 0x0001;
const SERVICE_QUERY_STATUS = 0x0004;
const SC_STATUS_PROCESS_INFO = 0;
const SERVICE_START_PENDING = 2;
const SERVICE_RUNNING = 4;

// While the pipe is busy or not there yet, how often a waiting call looks again (and so how long
// a wait for the pipe that a stop leaves behind runs on, unseen, on its worker thread).
const POLL_MS = 50;
// How often a wait looks at its events itself while koffi takes no more asynchronous calls.
const REFUSED_POLL_MS = 5;

const now = () => performance.now();
const left = (deadline) => Math.max(0, Math.ceil(deadline - now()));
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
// NTSTATUS severity "error"; warnings (such as more data in a message) still moved bytes.
const isNtError = (status) => status >>> 30 === 3;

// Memory of a transfer whose end could not be seen: the system may still write into it, so it is
// kept, reachable, for the life of the process. A small leak beats a write into freed memory.
const stranded = new Set();

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

// Runs koffi function `fn` on a worker thread. Resolves with { result }, or with { refused }
// when koffi would not take the call (it refuses while too many asynchronous calls are out).
function offThread(fn, ...args) {
  return new Promise((resolve, reject) => {
    try {
      fn.async(...args, (error, result) => (error ? reject(error) : resolve({ result })));
    } catch (error) {
      resolve({ refused: error });
    }
  });
}

// `fn` on a worker thread, once koffi takes it; a stop of the call ends the waiting for that.
async function offThreadWhenTaken(call, fn, ...args) {
  for (;;) {
    const ran = await offThread(fn, ...args);
    if (ran.refused === undefined) {
      return ran.result;
    }
    if ((await until(sleep(POLL_MS), call.signal)) === 'aborted') {
      throw cancelled('nothing was sent', call.signal);
    }
  }
}

// WaitForMultipleObjects (any one of `handles`) on a worker thread; where koffi refuses it (or
// fails it), looked at every few milliseconds from here instead, without blocking.
async function waitForAny(win, handles, ms) {
  const ran = await offThread(win.WaitForMultipleObjects, handles.length, handles, 0, ms).catch(
    (error) => ({ refused: error }));
  if (ran.refused === undefined) {
    return ran.result;
  }
  const deadline = ms === INFINITE ? Infinity : now() + ms;
  for (;;) {
    const woke = win.WaitForMultipleObjects(handles.length, handles, 0, 0);
    if (woke !== WIN32.WAIT_TIMEOUT || now() >= deadline) {
      return woke;
    }
    await sleep(REFUSED_POLL_MS);
  }
}

// One exchange at a time in this process. The service serves one client at a time anyway, and
// koffi keeps one last error for all threads: no call of ours ends on a worker while another
// reads the error of a call it just made. A call that waits here longer than its busy wait finds
// the service busy, as it would at the pipe.
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
      ? cancelled('nothing was sent', call.signal)
      : new VemloxError(ErrorKind.Busy, messages.busy(call.busyWaitMs), {
        win32Code: WIN32.ERROR_PIPE_BUSY,
      });
  }
  return leave;
}

// Identification level only: a server that is not ours can learn who we are but never act as
// us. Overlapped, so that every wait on the pipe can end at a deadline or a stop.
function openPipeOnce(win) {
  const handle = win.CreateFileW(
    PIPE_NAME,
    (GENERIC_READ | GENERIC_WRITE) >>> 0,
    0,
    null,
    OPEN_EXISTING,
    (FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION) >>> 0,
    0,
  );
  return handle === INVALID_HANDLE ? { error: win.lastError() } : { handle };
}

async function openPipe(win, call) {
  for (;;) {
    if (call.signal?.aborted) {
      throw cancelled('nothing was sent', call.signal);
    }
    const opened = openPipeOnce(win);
    if (opened.handle !== undefined) {
      return opened.handle;
    }
    const code = opened.error;
    const remaining = left(call.busyDeadline);
    if (code === WIN32.ERROR_FILE_NOT_FOUND) {
      await waitForStart(win, call, code, remaining);
      continue;
    }
    if (code !== WIN32.ERROR_PIPE_BUSY) {
      throw new VemloxError(ErrorKind.CannotConnect, messages.cannotOpen(win.osErrorText(code)), {
        win32Code: code,
      });
    }
    if (remaining === 0) {
      throw new VemloxError(ErrorKind.Busy, messages.busy(call.busyWaitMs), { win32Code: code });
    }
    // Returns as soon as the server listens again; a failure (the pipe went away, or the wait
    // ran out) is seen by the next open. It cannot be broken off: a stop leaves it to end on its
    // worker within POLL_MS, and the next call waits for that.
    const waited = offThread(win.WaitNamedPipeW, PIPE_NAME, Math.min(POLL_MS, remaining)).then(
      (ran) => (ran.refused === undefined ? undefined : sleep(POLL_MS)));
    call.leftRunning = waited.catch(() => {});
    await until(waited, call.signal);
  }
}

// What the Service Control Manager says of the service "vemlox", asked with the least rights there
// are: the default security of a service grants these to interactive and service logons, so a
// standard user's app may ask. { state, processId } or { error }.
async function queryService(win, call) {
  const manager = await offThreadWhenTaken(call, win.OpenSCManagerW, null, null,
    SC_MANAGER_CONNECT);
  if (manager === 0) {
    return { error: win.lastError() };
  }
  try {
    const service = await offThreadWhenTaken(call, win.OpenServiceW, manager, 'vemlox',
      SERVICE_QUERY_STATUS);
    if (service === 0) {
      const code = win.lastError();
      return code === WIN32.ERROR_SERVICE_DOES_NOT_EXIST
        ? { state: 'NotInstalled', processId: 0 }
        : { error: code };
    }
    try {
      const status = {};
      const queried = await offThreadWhenTaken(call, win.QueryServiceStatusEx, service,
        SC_STATUS_PROCESS_INFO, status, win.SERVICE_STATUS_PROCESS_BYTES, [0]);
      if (!queried) {
        return { error: win.lastError() };
      }
      switch (status.dwCurrentState) {
        case SERVICE_RUNNING:
          return { state: 'Running', processId: status.dwProcessId };
        case SERVICE_START_PENDING:
          return { state: 'Starting', processId: status.dwProcessId };
        default:
          return { state: 'NotRunning', processId: 0 };
      }
    } finally {
      win.CloseServiceHandle(service);
    }
  } finally {
    win.CloseServiceHandle(manager);
  }
}

// Nobody serves the pipe: not installed, stopped, or not up yet. Started at logon beside the app,
// the service may not have created its pipe yet; WaitNamedPipeW returns at once while no pipe of
// the name exists, so this looks again after a pause.
async function waitForStart(win, call, code, remaining) {
  const service = await queryService(win, call);
  if (service.error !== undefined) {
    throw new VemloxError(ErrorKind.CannotConnect,
      messages.cannotAskWhenNobodyServes(win.osErrorText(service.error)),
      { win32Code: service.error });
  }
  const kind = kindWhenNobodyServes(service.state);
  if (kind !== undefined) {
    throw new VemloxError(kind, messages.nobodyServes(kind), { win32Code: code });
  }
  if (remaining === 0) {
    throw new VemloxError(ErrorKind.Starting, messages.starting(call.busyWaitMs), {
      win32Code: code,
    });
  }
  await until(new Promise(() => {}), call.signal, Math.min(POLL_MS, remaining));
}

// The pipe's server must be the process the Service Control Manager runs as our service. This is
// sound because the service creates the pipe as its first instance, and as its only one: while
// the service runs nobody else can serve the name, and GetNamedPipeServerProcessId reports the
// process that created the first instance. The server's image path would prove nothing: a
// standard user may not open a LocalSystem process, and while the service is stopped any process
// started from the installed image would pass.
async function verifyServer(win, call, pipe) {
  const untrusted = (message, win32Code = 0) =>
    new VemloxError(ErrorKind.UntrustedServer, message, { win32Code });
  const id = [0];
  if (!win.GetNamedPipeServerProcessId(pipe, id)) {
    const code = win.lastError();
    throw untrusted(messages.cannotIdentifyServer(win.osErrorText(code)), code);
  }
  const service = await queryService(win, call);
  if (service.error === WIN32.ERROR_ACCESS_DENIED) {
    throw untrusted(messages.mayNotAskScm, WIN32.ERROR_ACCESS_DENIED);
  }
  if (service.error !== undefined) {
    throw untrusted(messages.cannotAskScm(win.osErrorText(service.error)), service.error);
  }
  const found = untrustedServer(id[0], service);
  if (found !== undefined) {
    throw untrusted(found);
  }
}

// The events a call's transfers wait on: one for the I/O, one that the AbortSignal sets.
function createEvents(win, signal) {
  const io = win.CreateEventW(null, 1, 0, null);
  const stop = io === 0 ? 0 : win.CreateEventW(null, 1, 0, null);
  if (stop === 0) {
    const code = win.lastError();
    if (io !== 0) {
      win.CloseHandle(io);
    }
    throw new VemloxError(ErrorKind.NoResources, messages.noEvent(win.osErrorText(code)), {
      win32Code: code,
    });
  }
  const onAbort = () => win.SetEvent(stop);
  signal?.addEventListener('abort', onAbort, { once: true });
  return {
    io,
    stop,
    close() {
      signal?.removeEventListener('abort', onAbort);
      win.CloseHandle(stop);
      win.CloseHandle(io);
    },
  };
}

// One overlapped read (of up to CHUNK_BYTES) or write (of `bytes`), waited for until the
// response deadline or a stop. Resolves with { bytes } read or { moved } written, or { error }:
// WAIT_TIMEOUT when it was still running at the deadline and was cancelled, ERROR_CANCELLED when
// the stop came first and it was cancelled. The system writes into the status block and the
// memory until the operation is over, also after a cancel: they are released only once its
// event says so, and kept for good where that cannot be seen. Its start is known from
// NtReadFile's or NtWriteFile's own return value, never from the last error.
async function transfer(win, call, pipe, events, direction, bytes) {
  const length = direction === 'read' ? CHUNK_BYTES : bytes.length;
  const memory = win.allocate(length);
  const block = win.allocateStatus();
  let inFlight = false;
  try {
    if (direction === 'write') {
      win.store(memory, bytes);
    }
    win.ResetEvent(events.io);
    const start = direction === 'read' ? win.NtReadFile : win.NtWriteFile;
    inFlight = true;
    const started = start(pipe, events.io, null, null, block, memory, length, [0], null);
    let reason = 0; // why the operation was cancelled, if it was
    if (started === STATUS_PENDING) {
      const woke = await waitForAny(win, [events.io, events.stop], left(call.responseDeadline));
      if (woke !== WAIT_OBJECT_0) {
        win.CancelIoEx(pipe, null);
        reason = woke === WAIT_OBJECT_0 + 1 ? WIN32.ERROR_CANCELLED : WIN32.WAIT_TIMEOUT;
        // Cancelled or just finished: either way the event is set once it is over.
        if ((await waitForAny(win, [events.io], INFINITE)) !== WAIT_OBJECT_0) {
          return { error: reason };
        }
      }
    }
    // Over: finished at once (a failure writes no status), or its event was seen.
    inFlight = false;
    const status = started === STATUS_PENDING ? win.readStatus(block).status : started;
    if (isNtError(status)) {
      const code = win.RtlNtStatusToDosError(status);
      return { error: reason !== 0 && code === WIN32.ERROR_OPERATION_ABORTED ? reason : code };
    }
    const moved = win.readStatus(block).information;
    return direction === 'read' ? { bytes: win.load(memory, moved) } : { moved };
  } finally {
    if (inFlight) {
      stranded.add(memory);
      stranded.add(block);
    } else {
      win.release(block);
      win.release(memory);
    }
  }
}

async function sendLine(win, call, pipe, events, requestLine) {
  let rest = Buffer.from(`${requestLine}\n`, 'utf8');
  while (rest.length > 0) {
    const written = await transfer(win, call, pipe, events, 'write', rest);
    if (written.error !== undefined) {
      throw transferError(written.error, win.osErrorText(written.error), call,
        'sending the request failed');
    }
    if (written.moved === 0) {
      throw new VemloxError(ErrorKind.ConnectionLost, messages.closedEarly);
    }
    rest = rest.subarray(written.moved);
  }
}

async function receiveLine(win, call, pipe, events) {
  const line = new ResponseLine();
  for (;;) {
    const got = await transfer(win, call, pipe, events, 'read');
    const failure = got.error ?? (got.bytes.length === 0 ? WIN32.ERROR_SUCCESS : undefined);
    if (failure !== undefined) {
      if ([WIN32.ERROR_SUCCESS, WIN32.ERROR_HANDLE_EOF, WIN32.ERROR_BROKEN_PIPE,
        WIN32.ERROR_PIPE_NOT_CONNECTED].includes(failure)) {
        throw new VemloxError(ErrorKind.ConnectionLost, messages.closedEarly, {
          win32Code: failure,
        });
      }
      throw transferError(failure, win.osErrorText(failure), call, 'reading the response failed');
    }
    const whole = line.add(got.bytes);
    if (whole === 'TooLong') {
      throw new VemloxError(ErrorKind.BadResponse, messages.tooLong(MAX_RESPONSE_BYTES));
    }
    if (whole !== undefined) {
      return whole;
    }
  }
}

// Sends `requestLine` (without line feed; one is added) and resolves with the response line's
// bytes, without its line feed. `options` are checked already. An aborted signal rejects before
// anything else, native code included.
async function exchange(requestLine, options, loadWin32 = win32) {
  const call = {
    ...options,
    busyDeadline: now() + options.busyWaitMs,
    leftRunning: Promise.resolve(),
  };
  if (call.signal?.aborted) {
    throw cancelled('nothing was sent', call.signal);
  }
  const win = loadWin32();
  const leave = await takeTurn(call);
  try {
    const events = createEvents(win, call.signal);
    try {
      const pipe = await openPipe(win, call);
      // Leaving by any road closes the pipe, so a response that comes too late goes nowhere.
      try {
        await verifyServer(win, call, pipe);
        if (call.signal?.aborted) {
          throw cancelled('nothing was sent', call.signal);
        }
        call.responseDeadline = now() + call.responseTimeoutMs;
        await sendLine(win, call, pipe, events, requestLine);
        return await receiveLine(win, call, pipe, events);
      } finally {
        win.CloseHandle(pipe);
      }
    } finally {
      events.close();
    }
  } finally {
    call.leftRunning.then(leave);
  }
}

module.exports = { exchange, stranded, POLL_MS };
