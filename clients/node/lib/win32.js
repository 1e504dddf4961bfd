// The Win32 calls of the client, declared through koffi, loaded on first use. Handles travel as
// numbers (intptr). A blocking call is made with `.async`, which runs it on one of koffi's worker
// threads, so that Node's event loop never waits for the pipe.
//
// koffi keeps the thread's last error from one call to the next, so `lastError()` right after a
// call gives that call's error. It keeps one last error for all threads, though: the client
// makes one exchange at a time (see pipe.js), and reads an error only while no call of its own
// runs on a worker.

import koffi from 'koffi';

import { PIPE_NAME, WIN32 } from './errors.js';

const INVALID_HANDLE = -1;
const INFINITE = 0xffffffff;
const WAIT_OBJECT_0 = 0;
const ERROR_IO_PENDING = 997;
const SERVICE_START_PENDING = 2;
const SERVICE_RUNNING = 4;

const GENERIC_READ = 0x80000000;
const GENERIC_WRITE = 0x40000000;
const OPEN_EXISTING = 3;
const FILE_FLAG_OVERLAPPED = 0x40000000;
const SECURITY_SQOS_PRESENT = 0x00100000;
const SECURITY_IDENTIFICATION = 0x00010000;
const SC_MANAGER_CONNECT = 0x0001;
const SERVICE_QUERY_STATUS = 0x0004;
const SC_STATUS_PROCESS_INFO = 0;
const FORMAT_MESSAGE_FROM_SYSTEM = 0x1000;
const FORMAT_MESSAGE_IGNORE_INSERTS = 0x200;
const MESSAGE_BUFFER_UNITS = 2048;

let api;

function declare() {
  const kernel32 = koffi.load('kernel32.dll');
  const advapi32 = koffi.load('advapi32.dll');
  const OVERLAPPED = koffi.struct('VEMLOX_OVERLAPPED', {
    Internal: 'uintptr',
    InternalHigh: 'uintptr',
    Offset: 'uint32',
    OffsetHigh: 'uint32',
    hEvent: 'intptr',
  });
  const SERVICE_STATUS_PROCESS = koffi.struct('VEMLOX_SERVICE_STATUS_PROCESS', {
    dwServiceType: 'uint32',
    dwCurrentState: 'uint32',
    dwControlsAccepted: 'uint32',
    dwWin32ExitCode: 'uint32',
    dwServiceSpecificExitCode: 'uint32',
    dwCheckPoint: 'uint32',
    dwWaitHint: 'uint32',
    dwProcessId: 'uint32',
    dwServiceFlags: 'uint32',
  });
  const k = (signature) => kernel32.func('__stdcall', ...signature);
  const a = (signature) => advapi32.func('__stdcall', ...signature);
  return {
    OVERLAPPED,
    SERVICE_STATUS_PROCESS,
    GetLastError: k(['GetLastError', 'uint32', []]),
    CloseHandle: k(['CloseHandle', 'int', ['intptr']]),
    CreateEventW: k(['CreateEventW', 'intptr', ['void *', 'int', 'int', 'str16']]),
    SetEvent: k(['SetEvent', 'int', ['intptr']]),
    CreateFileW: k([
      'CreateFileW',
      'intptr',
      ['str16', 'uint32', 'uint32', 'void *', 'uint32', 'uint32', 'intptr'],
    ]),
    WaitNamedPipeW: k(['WaitNamedPipeW', 'int', ['str16', 'uint32']]),
    GetNamedPipeServerProcessId: k([
      'GetNamedPipeServerProcessId',
      'int',
      ['intptr', koffi.out(koffi.pointer('uint32'))],
    ]),
    ReadFile: k(['ReadFile', 'int', ['intptr', 'void *', 'uint32', 'void *', 'void *']]),
    WriteFile: k(['WriteFile', 'int', ['intptr', 'void *', 'uint32', 'void *', 'void *']]),
    CancelIoEx: k(['CancelIoEx', 'int', ['intptr', 'void *']]),
    GetOverlappedResult: k([
      'GetOverlappedResult',
      'int',
      ['intptr', 'void *', koffi.out(koffi.pointer('uint32')), 'int'],
    ]),
    WaitForSingleObject: k(['WaitForSingleObject', 'uint32', ['intptr', 'uint32']]),
    WaitForMultipleObjects: k([
      'WaitForMultipleObjects',
      'uint32',
      ['uint32', koffi.pointer('intptr'), 'int', 'uint32'],
    ]),
    FormatMessageW: k([
      'FormatMessageW',
      'uint32',
      ['uint32', 'void *', 'uint32', 'uint32', 'void *', 'uint32', 'void *'],
    ]),
    OpenSCManagerW: a(['OpenSCManagerW', 'intptr', ['str16', 'str16', 'uint32']]),
    OpenServiceW: a(['OpenServiceW', 'intptr', ['intptr', 'str16', 'uint32']]),
    CloseServiceHandle: a(['CloseServiceHandle', 'int', ['intptr']]),
    QueryServiceStatusEx: a([
      'QueryServiceStatusEx',
      'int',
      [
        'intptr',
        'int',
        koffi.out(koffi.pointer(SERVICE_STATUS_PROCESS)),
        'uint32',
        koffi.out(koffi.pointer('uint32')),
      ],
    ]),
  };
}

function win() {
  api ??= declare();
  return api;
}

// Calls koffi function `fn` on a worker thread; resolves with its result.
function offThread(fn, ...args) {
  return new Promise((resolve, reject) => {
    fn.async(...args, (error, result) => (error ? reject(error) : resolve(result)));
  });
}

export function lastError() {
  return win().GetLastError();
}

// The system's message for a Windows error, followed by " (os error N)".
export function osErrorText(code) {
  const w = win();
  const buffer = koffi.alloc('uint16', MESSAGE_BUFFER_UNITS);
  try {
    const length = w.FormatMessageW(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      null,
      code,
      0,
      buffer,
      MESSAGE_BUFFER_UNITS,
      null,
    );
    if (length === 0) {
      return `OS Error ${code} (FormatMessageW() returned error ${lastError()}) (os error ${code})`;
    }
    const text = String.fromCharCode(...koffi.decode(buffer, 'uint16', length)).trimEnd();
    return `${text} (os error ${code})`;
  } finally {
    koffi.free(buffer);
  }
}

export function createEvent() {
  const event = win().CreateEventW(null, 1, 0, null);
  return event === 0 ? undefined : event;
}

export function setEvent(event) {
  win().SetEvent(event);
}

export function closeHandle(handle) {
  win().CloseHandle(handle);
}

// Identification level only: a server that is not ours can learn who we are but never act as
// us. Overlapped, so that every wait on the pipe can end at a deadline or a stop.
export function openPipe() {
  const handle = win().CreateFileW(
    PIPE_NAME,
    (GENERIC_READ | GENERIC_WRITE) >>> 0,
    0,
    null,
    OPEN_EXISTING,
    (FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION) >>> 0,
    0,
  );
  return handle === INVALID_HANDLE ? { error: lastError() } : { handle };
}

// Returns as soon as the server listens again or `ms` have passed, whichever is first.
export function waitNamedPipe(ms) {
  return offThread(win().WaitNamedPipeW, PIPE_NAME, ms);
}

export function pipeServerProcessId(pipe) {
  const id = [0];
  return win().GetNamedPipeServerProcessId(pipe, id)
    ? { processId: id[0] }
    : { error: lastError() };
}

// What the Service Control Manager says of the service "vemlox", asked with the least rights there
// are: the default security of a service grants these to interactive and service logons, so a
// standard user's app may ask. { state, processId } or { error }.
export function queryService() {
  const w = win();
  const manager = w.OpenSCManagerW(null, null, SC_MANAGER_CONNECT);
  if (manager === 0) {
    return { error: lastError() };
  }
  try {
    const service = w.OpenServiceW(manager, 'vemlox', SERVICE_QUERY_STATUS);
    if (service === 0) {
      const code = lastError();
      return code === WIN32.ERROR_SERVICE_DOES_NOT_EXIST
        ? { state: 'NotInstalled', processId: 0 }
        : { error: code };
    }
    try {
      const status = {};
      const needed = [0];
      const size = koffi.sizeof(w.SERVICE_STATUS_PROCESS);
      if (!w.QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, status, size, needed)) {
        return { error: lastError() };
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
      w.CloseServiceHandle(service);
    }
  } finally {
    w.CloseServiceHandle(manager);
  }
}

// One overlapped read or write of up to `length` bytes at `memory` (memory from koffi.alloc, which
// stays put while the system uses it), waited for no longer than `timeoutMs`. Resolves with
// { moved } or { error }: WAIT_TIMEOUT when the operation was still running after `timeoutMs` and
// was cancelled, ERROR_CANCELLED when `stop` was signalled first and it was cancelled. Resolves
// only once the operation is over, cancelled or not: until then the OVERLAPPED and the memory
// belong to the system.
export async function transfer(direction, pipe, event, stop, memory, length, timeoutMs) {
  const w = win();
  const overlapped = koffi.alloc(w.OVERLAPPED, 1);
  try {
    koffi.encode(overlapped, w.OVERLAPPED, {
      Internal: 0,
      InternalHigh: 0,
      Offset: 0,
      OffsetHigh: 0,
      hEvent: event,
    });
    const start = direction === 'read' ? w.ReadFile : w.WriteFile;
    if (!start(pipe, memory, length, null, overlapped)) {
      const code = lastError();
      if (code !== ERROR_IO_PENDING) {
        return { error: code };
      }
    }
    const woke = await offThread(w.WaitForMultipleObjects, 2, [event, stop], 0, timeoutMs);
    let reason = 0; // why the operation was cancelled, if it was
    if (woke !== WAIT_OBJECT_0) {
      if (w.CancelIoEx(pipe, overlapped)) {
        reason = woke === WAIT_OBJECT_0 + 1 ? WIN32.ERROR_CANCELLED : WIN32.WAIT_TIMEOUT;
      }
      // Cancelled or just finished: either way the event is set once it is over.
      await offThread(w.WaitForSingleObject, event, INFINITE);
    }
    const moved = [0];
    if (!w.GetOverlappedResult(pipe, overlapped, moved, 0)) {
      const code = lastError();
      return { error: reason !== 0 && code === WIN32.ERROR_OPERATION_ABORTED ? reason : code };
    }
    return { moved: moved[0] };
  } finally {
    koffi.free(overlapped);
  }
}

export function allocate(bytes) {
  return koffi.alloc('uint8', Math.max(bytes, 1));
}

export function release(memory) {
  koffi.free(memory);
}

export function store(memory, bytes) {
  koffi.encode(memory, koffi.array('uint8', bytes.length), bytes);
}

export function load(memory, length) {
  return Buffer.from(koffi.decode(memory, 'uint8', length));
}
