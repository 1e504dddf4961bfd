'use strict';
// The Win32 calls of the client, declared through koffi on the first call, never at import: an
// app that runs on Linux or macOS too, or whose bundle lost koffi's binary, imports the package
// freely, and only a call says that it cannot work. Handles travel as numbers (intptr). Every
// function keeps koffi's shape: called directly it runs on Node's thread, its `.async(...args,
// callback)` runs it on one of koffi's worker threads.
//
// koffi keeps one last error for all threads of the process: `lastError()` gives the error of
// the call just made only if no other koffi call ended in between, on any thread. So the
// overlapped transfers take their outcome from NtReadFile's and NtWriteFile's own return value
// and I/O status block, never from the last error; the last error only chooses the words of a
// failure after which nothing is sent anyway.

const { PIPE_NAME, ErrorKind, VemloxError, messages } = require('./errors.js');

const FORMAT_MESSAGE_FROM_SYSTEM = 0x1000;
const FORMAT_MESSAGE_IGNORE_INSERTS = 0x200;
const MESSAGE_BUFFER_UNITS = 2048;

let loaded;

function declare(koffi) {
  const kernel32 = koffi.load('kernel32.dll');
  const advapi32 = koffi.load('advapi32.dll');
  const ntdll = koffi.load('ntdll.dll');
  // Anonymous types: another copy of the package may declare its own in the same koffi.
  // IO_STATUS_BLOCK: the status union's NTSTATUS in its low half, then the bytes moved.
  const IO_STATUS_BLOCK = koffi.struct({
    Status: 'uint32',
    Information: 'uintptr',
  });
  const SERVICE_STATUS_PROCESS = koffi.struct({
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
  const k = (...signature) => kernel32.func('__stdcall', ...signature);
  const a = (...signature) => advapi32.func('__stdcall', ...signature);
  const n = (...signature) => ntdll.func('__stdcall', ...signature);
  const transfer = (name) =>
    n(name, 'uint32', [
      'intptr', // FileHandle
      'intptr', // Event
      'void *', // ApcRoutine
      'void *', // ApcContext
      'void *', // IoStatusBlock
      'void *', // Buffer
      'uint32', // Length
      koffi.pointer('int64'), // ByteOffset: captured by the call, 0 as ReadFile gives it
      'void *', // Key
    ]);
  const GetLastError = k('GetLastError', 'uint32', []);
  const FormatMessageW = k('FormatMessageW', 'uint32', [
    'uint32', 'void *', 'uint32', 'uint32', 'void *', 'uint32', 'void *',
  ]);
  return {
    CreateFileW: k('CreateFileW', 'intptr', [
      'str16', 'uint32', 'uint32', 'void *', 'uint32', 'uint32', 'intptr',
    ]),
    WaitNamedPipeW: k('WaitNamedPipeW', 'int', ['str16', 'uint32']),
    GetNamedPipeServerProcessId: k('GetNamedPipeServerProcessId', 'int', [
      'intptr', koffi.out(koffi.pointer('uint32')),
    ]),
    CloseHandle: k('CloseHandle', 'int', ['intptr']),
    CreateEventW: k('CreateEventW', 'intptr', ['void *', 'int', 'int', 'str16']),
    SetEvent: k('SetEvent', 'int', ['intptr']),
    ResetEvent: k('ResetEvent', 'int', ['intptr']),
    WaitForMultipleObjects: k('WaitForMultipleObjects', 'uint32', [
      'uint32', koffi.pointer('intptr'), 'int', 'uint32',
    ]),
    CancelIoEx: k('CancelIoEx', 'int', ['intptr', 'void *']),
    NtReadFile: transfer('NtReadFile'),
    NtWriteFile: transfer('NtWriteFile'),
    RtlNtStatusToDosError: n('RtlNtStatusToDosError', 'uint32', ['uint32']),
    OpenSCManagerW: a('OpenSCManagerW', 'intptr', ['str16', 'str16', 'uint32']),
    OpenServiceW: a('OpenServiceW', 'intptr', ['intptr', 'str16', 'uint32']),
    CloseServiceHandle: a('CloseServiceHandle', 'int', ['intptr']),
    QueryServiceStatusEx: a('QueryServiceStatusEx', 'int', [
      'intptr', 'int', koffi.out(koffi.pointer(SERVICE_STATUS_PROCESS)), 'uint32',
      koffi.out(koffi.pointer('uint32')),
    ]),
    SERVICE_STATUS_PROCESS_BYTES: koffi.sizeof(SERVICE_STATUS_PROCESS),

    lastError: () => GetLastError(),

    // The system's message for a Windows error, followed by " (os error N)".
    osErrorText(code) {
      const buffer = koffi.alloc('uint16', MESSAGE_BUFFER_UNITS);
      try {
        const length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
          null, code, 0, buffer, MESSAGE_BUFFER_UNITS, null);
        if (length === 0) {
          return `OS Error ${code} (FormatMessageW() returned error ${GetLastError()}) ` +
            `(os error ${code})`;
        }
        const text = String.fromCharCode(...koffi.decode(buffer, 'uint16', length)).trimEnd();
        return `${text} (os error ${code})`;
      } finally {
        koffi.free(buffer);
      }
    },

    // Memory the system may write into after the call that was given it has returned: it stays
    // where it is until released.
    allocate: (bytes) => koffi.alloc('uint8', Math.max(bytes, 1)),
    allocateStatus: () => koffi.alloc(IO_STATUS_BLOCK, 1),
    release: (memory) => koffi.free(memory),
    store: (memory, bytes) => koffi.encode(memory, koffi.array('uint8', bytes.length), bytes),
    load: (memory, length) => Buffer.from(koffi.decode(memory, 'uint8', length)),
    // { status, information } of an IO_STATUS_BLOCK the system has finished with.
    readStatus(block) {
      const { Status, Information } = koffi.decode(block, IO_STATUS_BLOCK);
      return { status: Status, information: Number(Information) };
    },
  };
}

// The Win32 layer, declared on first use. Throws a VemloxError of kind Unsupported when this is
// not Windows or koffi's native part cannot be loaded; a later call tries again.
function win32() {
  if (loaded !== undefined) {
    return loaded;
  }
  if (process.platform !== 'win32') {
    throw new VemloxError(ErrorKind.Unsupported, messages.notWindows);
  }
  try {
    // A literal name, so that bundlers see the dependency.
    loaded = declare(require('koffi'));
  } catch (error) {
    throw new VemloxError(ErrorKind.Unsupported, messages.noKoffi(error.message), {
      cause: error,
    });
  }
  return loaded;
}

module.exports = { win32, PIPE_NAME };
