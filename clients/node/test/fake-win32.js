'use strict';
// A stand-in for lib/win32.js's koffi declarations, with the Windows behaviour lib/pipe.js
// relies on: a pipe that may be missing or busy, a server process and the Service Control
// Manager's view of the service, overlapped reads and writes that stay pending until the server
// answers or a cancel ends them (and then write into their memory and status block, as Windows
// does), events, and koffi's worker threads, which may refuse a call. It keeps a journal of the
// calls, and notes every release of memory the system still owns and every write into memory
// already released.

const STATUS_SUCCESS = 0;
const STATUS_PENDING = 0x103;
const STATUS_CANCELLED = 0xc0000120;
const STATUS_PIPE_BROKEN = 0xc000014b;
const WAIT_TIMEOUT = 258;
const WAIT_FAILED = 0xffffffff;
const INFINITE = 0xffffffff;
const DOS_ERRORS = new Map([
  [STATUS_CANCELLED, 995],
  [STATUS_PIPE_BROKEN, 109],
]);

class FakeWindows {
  // `opens`: what each CreateFileW of the pipe gives, in turn ('ok' or a Windows error; the last
  // one repeats). `serverProcessId`: the pipe's server. `service`: { state ('Running',
  // 'Starting', 'NotRunning', 'NotInstalled'), processId }. `answer`: the bytes the server
  // writes once it has the whole request (undefined: it never answers), after which it closes.
  // `writes`: 'pending' (complete on the next turn) or 'never' (until cancelled).
  // `cancelDelayMs`: how long a cancelled operation takes to end. `refuseAsync`: koffi takes
  // the asynchronous calls of these functions (names). `waitsFailAfterCancel`: once something
  // was cancelled, every wait fails (WAIT_FAILED), so that the end cannot be seen.
  constructor(options = {}) {
    this.opens = options.opens ?? ['ok'];
    this.serverProcessId = options.serverProcessId ?? 7;
    this.service = options.service ?? { state: 'Running', processId: 7 };
    this.answer = options.answer;
    this.writes = options.writes ?? 'pending';
    this.cancelDelayMs = options.cancelDelayMs ?? 20;
    this.refuseAsync = new Set(options.refuseAsync);
    this.waitsFailAfterCancel = options.waitsFailAfterCancel ?? false;
    this.cancelled = false;
    this.journal = [];
    this.faults = [];
    this.received = Buffer.alloc(0);
    this.lastErr = 0;
    this.nextHandle = 0x100;
    this.events = new Map();
    this.pending = new Set(); // operations the system still owns
    this.memories = [];
    this.SERVICE_STATUS_PROCESS_BYTES = 36;
    this.#declare();
  }

  #handle() {
    this.nextHandle += 4;
    return this.nextHandle;
  }

  // koffi's shape: fn(...args) on the caller's thread, fn.async(...args, callback) "off" it.
  #fn(name, body, asyncDelayMs = 0) {
    const fn = (...args) => body(...args);
    fn.async = (...args) => {
      if (this.refuseAsync.has(name)) {
        throw new Error('Too many asynchronous calls are running');
      }
      const callback = args.pop();
      this.journal.push(`${name}.async`);
      setTimeout(() => body(...args, callback), asyncDelayMs);
    };
    this[name] = fn;
  }

  #declare() {
    this.#fn('CreateFileW', (name, access, share, security, disposition, flags, template) => {
      const outcome = this.opens.length > 1 ? this.opens.shift() : this.opens[0];
      this.journal.push(`open ${name} ${flags.toString(16)}`);
      if (outcome !== 'ok') {
        this.lastErr = outcome;
        return -1;
      }
      this.pipe = this.#handle();
      return this.pipe;
    });
    this.#fn('WaitNamedPipeW', (name, ms, callback) => {
      this.journal.push(`wait for the pipe ${ms}`);
      setTimeout(() => callback?.(null, 0), Math.min(ms, 5));
      return 0;
    });
    this.#fn('GetNamedPipeServerProcessId', (pipe, id) => {
      this.journal.push('server process');
      id[0] = this.serverProcessId;
      return 1;
    });
    const settle = (callback, result) => (callback ? callback(null, result) : result);
    this.#fn('OpenSCManagerW', (machine, database, access, callback) => settle(callback, 0x50));
    this.#fn('OpenServiceW', (manager, name, access, callback) => {
      this.journal.push(`service ${name}`);
      if (this.service.state === 'NotInstalled') {
        this.lastErr = 1060;
        return settle(callback, 0);
      }
      return settle(callback, 0x60);
    });
    this.#fn('QueryServiceStatusEx', (service, level, status, size, needed, callback) => {
      const states = { Running: 4, Starting: 2, NotRunning: 1 };
      status.dwCurrentState = states[this.service.state];
      status.dwProcessId = this.service.processId;
      return settle(callback, 1);
    });
    this.#fn('CloseServiceHandle', () => 1);
    this.#fn('CreateEventW', () => {
      const event = this.#handle();
      this.events.set(event, false);
      return event;
    });
    this.#fn('SetEvent', (event) => this.events.set(event, true) && 1);
    this.#fn('ResetEvent', (event) => this.events.set(event, false) && 1);
    this.#fn('CloseHandle', (handle) => {
      this.journal.push(handle === this.pipe ? 'close the pipe' : 'close');
      if (handle === this.pipe) {
        // The last handle's close cancels what is pending on it.
        this.#cancelAll();
      }
      return 1;
    });
    this.#fn('WaitForMultipleObjects', (count, handles, all, ms, callback) => {
      const signalled = () =>
        this.waitsFailAfterCancel && this.cancelled
          ? WAIT_FAILED
          : handles.findIndex((handle) => this.events.get(handle));
      if (callback === undefined) {
        const found = signalled();
        return found === -1 ? WAIT_TIMEOUT : found;
      }
      const started = performance.now();
      const look = () => {
        const found = signalled();
        if (found !== -1) {
          callback(null, found);
        } else if (ms !== INFINITE && performance.now() - started >= ms) {
          callback(null, WAIT_TIMEOUT);
        } else {
          setTimeout(look, 1);
        }
      };
      look();
      return undefined;
    });
    this.#fn('CancelIoEx', (pipe) => {
      this.journal.push('cancel');
      return this.#cancelAll() ? 1 : 0;
    });
    this.#fn('NtWriteFile', (pipe, event, apc, context, block, memory, length, offset) => {
      this.#checkOwned(memory, 'NtWriteFile');
      this.events.set(event, false);
      const bytes = Buffer.from(memory.data.subarray(0, length));
      this.journal.push(`write ${bytes.toString('utf8').trimEnd()}`);
      const operation = this.#start('write', event, block, memory);
      if (this.writes === 'pending') {
        setTimeout(() => {
          this.received = Buffer.concat([this.received, bytes]);
          this.#complete(operation, STATUS_SUCCESS, length);
        }, 0);
      }
      return STATUS_PENDING;
    });
    this.#fn('NtReadFile', (pipe, event, apc, context, block, memory, length, offset) => {
      this.#checkOwned(memory, 'NtReadFile');
      this.events.set(event, false);
      this.journal.push('read');
      const operation = this.#start('read', event, block, memory);
      if (this.answer !== undefined && this.received.includes(0x0a)) {
        setTimeout(() => {
          if (this.answer.length === 0) {
            this.#complete(operation, STATUS_PIPE_BROKEN, 0);
            return;
          }
          const chunk = this.answer.subarray(0, length);
          this.answer = this.answer.subarray(chunk.length);
          this.#complete(operation, STATUS_SUCCESS, chunk.length, chunk);
        }, 0);
      }
      return STATUS_PENDING;
    });
    this.#fn('RtlNtStatusToDosError', (status) => DOS_ERRORS.get(status) ?? 317);
  }

  #start(kind, event, block, memory) {
    const operation = { kind, event, block, memory };
    this.pending.add(operation);
    return operation;
  }

  // As Windows ends an operation: its bytes, then its status block, then its event.
  #complete(operation, status, information, bytes) {
    if (!this.pending.delete(operation)) {
      return;
    }
    for (const memory of [operation.memory, operation.block]) {
      if (memory.released) {
        this.faults.push(`${operation.kind} wrote into released memory`);
      }
    }
    bytes?.copy(operation.memory.data);
    operation.block.status = { status, information };
    this.events.set(operation.event, true);
  }

  #cancelAll() {
    this.cancelled = true;
    const cancelled = [...this.pending];
    for (const operation of cancelled) {
      setTimeout(() => this.#complete(operation, STATUS_CANCELLED, 0), this.cancelDelayMs);
    }
    return cancelled.length > 0;
  }

  #checkOwned(memory, what) {
    if (memory.released) {
      this.faults.push(`${what} was given released memory`);
    }
  }

  #owned(memory) {
    return [...this.pending].some((op) => op.memory === memory || op.block === memory);
  }

  lastError() {
    return this.lastErr;
  }

  osErrorText(code) {
    return `error text ${code} (os error ${code})`;
  }

  allocate(bytes) {
    const memory = { data: Buffer.alloc(Math.max(bytes, 1)), released: false };
    this.memories.push(memory);
    return memory;
  }

  allocateStatus() {
    const block = { data: Buffer.alloc(16), released: false, status: undefined };
    this.memories.push(block);
    return block;
  }

  release(memory) {
    if (this.#owned(memory)) {
      this.faults.push('memory released while the system owns it');
    }
    memory.released = true;
  }

  store(memory, bytes) {
    bytes.copy(memory.data);
  }

  load(memory, length) {
    return Buffer.from(memory.data.subarray(0, length));
  }

  readStatus(block) {
    return block.status;
  }
}

module.exports = { FakeWindows, STATUS_CANCELLED };
