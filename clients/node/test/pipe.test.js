'use strict';
// lib/pipe.js against a fake Windows (test/fake-win32.js): the order open, verify, send, read;
// nothing sent to a server that is not the service; a busy pipe waited for, then Busy; a stop or
// a timeout at each stage, with the memory Windows writes into released only once it is done
// with it; the 1 MiB limit of an answer. Run natively: node --test.
const assert = require('node:assert/strict');
const { test } = require('node:test');

const { ErrorKind, VemloxError } = require('../lib/errors.js');
const { MAX_RESPONSE_BYTES } = require('../lib/line.js');
const { exchange, stranded } = require('../lib/pipe.js');
const { FakeWindows } = require('./fake-win32.js');

const PIPE = '\\\\.\\pipe\\vemlox';
// Overlapped, SECURITY_SQOS_PRESENT, SECURITY_IDENTIFICATION.
const OPEN_FLAGS = (0x40000000 | 0x00100000 | 0x00010000).toString(16);
const OK = Buffer.from('{"status":"ok","version":1}\n');

function run(fake, { busyWaitMs = 1000, responseTimeoutMs = 1000, signal } = {}) {
  return exchange('{"op":"ping"}', { busyWaitMs, responseTimeoutMs, signal }, () => fake);
}

// The calls that matter for the order, without the waits and closes around them.
function steps(fake) {
  return fake.journal.filter((entry) => /^(open|server process|service|write|read)/.test(entry));
}

// Windows is done with every transfer's memory, and each piece was released once it was.
async function assertNothingReleasedEarly(fake) {
  await new Promise((resolve) => setTimeout(resolve, fake.cancelDelayMs + 30));
  assert.deepEqual(fake.faults, []);
  assert.equal(fake.pending.size, 0, 'an operation never ended');
  assert.ok(fake.memories.every((memory) => memory.released), 'memory was not released');
}

async function rejectsWith(promise, kind, message, win32Code) {
  await assert.rejects(promise, (error) => {
    assert.ok(error instanceof VemloxError, String(error));
    assert.deepEqual([error.kind, error.message, error.win32Code], [kind, message, win32Code]);
    return true;
  });
}

test('open at identification level, check the server, send, then read', async () => {
  const fake = new FakeWindows({ answer: OK });
  const line = await run(fake);
  assert.equal(line.toString(), '{"status":"ok","version":1}');
  assert.deepEqual(steps(fake), [
    `open ${PIPE} ${OPEN_FLAGS}`,
    'server process',
    'service vemlox',
    'write {"op":"ping"}',
    'read',
  ]);
  assert.equal(fake.received.toString(), '{"op":"ping"}\n');
  // The Service Control Manager was asked on a worker thread.
  assert.ok(fake.journal.includes('QueryServiceStatusEx.async'));
  await assertNothingReleasedEarly(fake);
});

test('nothing is sent to a pipe served by anyone but the running service', async () => {
  const served = `${PIPE} is served by process 66`;
  const cases = [
    [{ state: 'Running', processId: 7 }, `${served} while the Vemlox service is process 7`],
    [{ state: 'NotRunning', processId: 0 }, `${served}, but the Vemlox service is not running`],
    [{ state: 'NotInstalled', processId: 0 },
      `${served}, but the Vemlox service is not installed`],
  ];
  for (const [service, found] of cases) {
    const fake = new FakeWindows({ serverProcessId: 66, service, answer: OK });
    await rejectsWith(run(fake), ErrorKind.UntrustedServer, `${found}; nothing was sent`, 0);
    assert.ok(!fake.journal.some((entry) => entry.startsWith('write')), fake.journal.join('\n'));
    assert.ok(fake.journal.includes('close the pipe'));
  }
});

test('a busy pipe is waited for, within the busy wait, and then the call is Busy', async () => {
  const waited = new FakeWindows({ opens: [231, 231, 'ok'], answer: OK });
  await run(waited);
  assert.equal(waited.journal.filter((entry) => entry.startsWith('open')).length, 3);
  assert.ok(waited.journal.some((entry) => entry.startsWith('wait for the pipe')));

  const busy = new FakeWindows({ opens: [231] });
  const started = performance.now();
  await rejectsWith(run(busy, { busyWaitMs: 300 }), ErrorKind.Busy,
    'the Vemlox service stayed busy for 300 ms; try again later', 231);
  assert.ok(performance.now() - started >= 290, 'gave up before the busy wait ended');

  const refused = new FakeWindows({ opens: [5] });
  await rejectsWith(run(refused), ErrorKind.CannotConnect,
    `cannot open ${PIPE}: error text 5 (os error 5)`, 5);
});

test('a missing pipe is the service not installed or stopped, or waited for while it starts',
  async () => {
    const cases = [
      [{ state: 'NotInstalled', processId: 0 }, ErrorKind.NotInstalled,
        `the Vemlox service is not installed (nothing serves ${PIPE})`],
      [{ state: 'NotRunning', processId: 0 }, ErrorKind.Stopped,
        `the Vemlox service is not running (nothing serves ${PIPE})`],
      [{ state: 'Starting', processId: 7 }, ErrorKind.Starting,
        `the Vemlox service is starting and has not opened ${PIPE} within 200 ms; try again later`],
    ];
    for (const [service, kind, message] of cases) {
      const fake = new FakeWindows({ opens: [2], service });
      await rejectsWith(run(fake, { busyWaitMs: 200 }), kind, message, 2);
    }
  });

test('a stop or the response timeout at each stage ends the call; memory waits for Windows',
  async () => {
    const cases = [
      // [stage, fake, how it ends, kind, message, code]
      ['waiting for a busy pipe', { opens: [231] }, 'abort', ErrorKind.Cancelled,
        'the call was cancelled; nothing was sent', 1223],
      ['sending', { writes: 'never' }, 'abort', ErrorKind.Cancelled,
        'the call was cancelled; the connection was closed', 1223],
      ['sending', { writes: 'never' }, 'timeout', ErrorKind.TimedOut,
        'no response from the Vemlox service within 150 ms; the connection was closed', 258],
      ['reading', {}, 'abort', ErrorKind.Cancelled,
        'the call was cancelled; the connection was closed', 1223],
      ['reading', {}, 'timeout', ErrorKind.TimedOut,
        'no response from the Vemlox service within 150 ms; the connection was closed', 258],
      // koffi takes no asynchronous call: the waits look at their events from the event loop,
      // and the questions to the Service Control Manager wait for koffi to take them.
      ['asking the Service Control Manager, koffi refusing',
        { refuseAsync: ['QueryServiceStatusEx'] }, 'abort', ErrorKind.Cancelled,
        'the call was cancelled; nothing was sent', 1223],
      ['reading, koffi refusing', { refuseAsync: ['WaitForMultipleObjects'] }, 'abort',
        ErrorKind.Cancelled, 'the call was cancelled; the connection was closed', 1223],
      ['reading, koffi refusing', { refuseAsync: ['WaitForMultipleObjects'] }, 'timeout',
        ErrorKind.TimedOut,
        'no response from the Vemlox service within 150 ms; the connection was closed', 258],
    ];
    for (const [stage, options, end, kind, message, code] of cases) {
      const fake = new FakeWindows({ ...options, cancelDelayMs: 40 });
      const controller = new AbortController();
      const reason = new Error(`the window closed while ${stage}`);
      const call = run(fake, {
        busyWaitMs: 60_000,
        responseTimeoutMs: end === 'timeout' ? 150 : 60_000,
        signal: controller.signal,
      });
      if (end === 'abort') {
        setTimeout(() => controller.abort(reason), 100);
      }
      await assert.rejects(call, (error) => {
        assert.deepEqual([error.kind, error.message, error.win32Code], [kind, message, code],
          `${stage}, ${end}`);
        assert.equal(error.cause, end === 'abort' ? reason : undefined);
        return true;
      });
      await assertNothingReleasedEarly(fake);
    }
  });

test('memory whose end cannot be seen is kept, never released', async () => {
  const fake = new FakeWindows({ waitsFailAfterCancel: true, cancelDelayMs: 40 });
  await rejectsWith(run(fake, { responseTimeoutMs: 100 }), ErrorKind.TimedOut,
    'no response from the Vemlox service within 100 ms; the connection was closed', 258);
  await new Promise((resolve) => setTimeout(resolve, 80));
  // The read's memory and status block: Windows wrote into them after the call had ended.
  const kept = fake.memories.filter((memory) => !memory.released);
  assert.equal(kept.length, 2);
  assert.ok(kept.every((memory) => stranded.has(memory)));
  assert.deepEqual(fake.faults, []);
});

test('an answer over 1 MiB without its line feed is refused', async () => {
  const endless = new FakeWindows({ answer: Buffer.alloc(MAX_RESPONSE_BYTES + 4096, 0x20) });
  await rejectsWith(run(endless), ErrorKind.BadResponse, 'the response exceeds 1048576 bytes', 0);
  // Just within the limit, the line is whole.
  const long = Buffer.concat([Buffer.alloc(MAX_RESPONSE_BYTES, 0x20), Buffer.from('\n')]);
  const within = new FakeWindows({ answer: long });
  assert.equal((await run(within)).length, MAX_RESPONSE_BYTES);
  await assertNothingReleasedEarly(within);
});

test('a server that closes before a whole line is ConnectionLost', async () => {
  const fake = new FakeWindows({ answer: Buffer.from('{"status":') });
  await rejectsWith(run(fake), ErrorKind.ConnectionLost,
    'the service closed the connection without a complete response', 109);
});

test('an aborted signal rejects at once: no Windows, nothing sent', async () => {
  const reason = new Error('closed');
  let loaded = false;
  const call = exchange('{"op":"ping"}',
    { busyWaitMs: 1000, responseTimeoutMs: 1000, signal: AbortSignal.abort(reason) },
    () => { loaded = true; });
  await assert.rejects(call, (error) => {
    assert.deepEqual([error.kind, error.code, error.message, error.cause],
      [ErrorKind.Cancelled, 'VEMLOX_CANCELLED', 'the call was cancelled; nothing was sent',
        reason]);
    return true;
  });
  assert.equal(loaded, false);
});
