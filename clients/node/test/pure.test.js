// The package's parts that need no Windows: the request lines, the strict reading of responses,
// the response framing and the choice of error kind and message. Run natively: node --test.
'use strict';
const assert = require('node:assert/strict');
const { test } = require('node:test');

const vemlox = require('../index.js');
const {
  ErrorKind,
  VemloxError,
  kindOfTransferFailure,
  kindWhenNobodyServes,
  transferError,
  untrustedServer,
} = require('../lib/errors.js');
const { MAX_RESPONSE_BYTES, ResponseLine } = require('../lib/line.js');
const { requests } = require('../lib/request.js');
const { readAnswer } = require('../lib/response.js');

const bytes = (text) => Buffer.from(text, 'utf8');

test('every operation is one exact request line, "op" first and members in wire order', () => {
  const cases = [
    [requests.ping(), '{"op":"ping"}'],
    [requests.setMachineStartup('Updater', false),
      '{"op":"set_machine_startup","name":"Updater","enabled":false}'],
    // Escapes as the service writes them; other characters, U+2028 and DEL included, raw.
    [requests.setMachineStartup('Up "dater" \\ \t\u0001 ä\u2028\u007f/', true),
      '{"op":"set_machine_startup","name":"Up \\"dater\\" \\\\ \\t\\u0001 ä\u2028\u007f/",' +
      '"enabled":true}'],
    [requests.createRestorePoint(), '{"op":"create_restore_point"}'],
    [requests.enableAdapters(), '{"op":"enable_adapters"}'],
    // Half a surrogate pair has no UTF-8 form: it travels as U+FFFD.
    [requests.disableAdapters(['Ethernet 2', 'bad \uD800', '\uDC00']),
      '{"op":"disable_adapters","names":["Ethernet 2","bad \uFFFD","\uFFFD"]}'],
    [requests.renewIp(), '{"op":"renew_ip"}'],
    [requests.usePublicDns(), '{"op":"use_public_dns"}'],
    // Only the two members of a setting go, in their order, whatever the object holds.
    [requests.restoreDns([
      { servers: ['192.168.0.1', '10.0.0.10'], adapter: 'Wi-Fi', note: 'kept by the app' },
      { adapter: 'Ethernet', servers: [] },
    ]),
    '{"op":"restore_dns","settings":[{"adapter":"Wi-Fi","servers":["192.168.0.1","10.0.0.10"]},' +
      '{"adapter":"Ethernet","servers":[]}]}'],
  ];
  for (const [line, expected] of cases) {
    assert.equal(line, expected);
  }
});

test('arguments of the wrong type are refused before anything is sent', async () => {
  const cases = [
    [() => vemlox.setMachineStartup(1, true), /name must be a string/],
    [() => vemlox.setMachineStartup('Updater', 'false'), /enabled must be a boolean/],
    [() => vemlox.disableAdapters('Ethernet'), /names must be an array/],
    [() => vemlox.disableAdapters([1]), /names\[0\] must be a string/],
    [() => vemlox.restoreDns([null]), /settings\[0\] must be an object/],
    [() => vemlox.restoreDns([{ adapter: 'Wi-Fi' }]), /settings\[0\]\.servers must be an array/],
    [() => vemlox.restoreDns([{ adapter: 'Wi-Fi', servers: [0x01010101] }]),
      /settings\[0\]\.servers\[0\] must be a string/],
    [() => vemlox.ping({ busyWaitMs: -1 }), /busyWaitMs must be a number/],
    [() => vemlox.ping({ responseTimeoutMs: '5' }), /responseTimeoutMs must be a number/],
    [() => vemlox.ping({ signal: {} }), /signal must be an AbortSignal/],
    [() => vemlox.exchange(42), /requestLine must be a string/],
  ];
  for (const [call, message] of cases) {
    await assert.rejects(call, (error) => error instanceof TypeError && message.test(error.message),
      String(message));
  }
});

test('an ok response gives its names and DNS settings; unknown members are ignored', () => {
  const cases = [
    ['{"status":"ok","version":1}', { version: 1, names: [], dns: [] }],
    ['{"status":"ok","version":1,"names":["Ethernet","Wi-Fi"]}',
      { version: 1, names: ['Ethernet', 'Wi-Fi'], dns: [] }],
    ['{"status":"ok","version":1,"dns":[{"adapter":"Wi-Fi","servers":["192.168.1.1"]},' +
      '{"adapter":"Ethernet","servers":[]}]}',
    { version: 1, names: [], dns: [{ adapter: 'Wi-Fi', servers: ['192.168.1.1'] },
      { adapter: 'Ethernet', servers: [] }] }],
    ['{"version":4294967295,"later":{"x":[1]},"status":"ok","names":[]}',
      { version: 4294967295, names: [], dns: [] }],
  ];
  for (const [line, expected] of cases) {
    assert.deepEqual(readAnswer(bytes(line)), expected, line);
  }
});

test("the service's error answers are VemloxErrors of its kind, with its message", () => {
  const cases = [
    ['{"status":"error","kind":"rejected","message":"caller not allowed"}',
      ErrorKind.Rejected, 'caller not allowed'],
    ['{"status":"error","kind":"not_found","message":"item not found: Wi-Fi"}',
      ErrorKind.NotFound, 'item not found: Wi-Fi'],
    ['{"status":"error","kind":"failed","message":"os error: Zugriff verweigert (os error 5)"}',
      ErrorKind.Failed, 'os error: Zugriff verweigert (os error 5)'],
  ];
  for (const [line, kind, message] of cases) {
    assert.throws(() => readAnswer(bytes(line)), (error) => {
      assert.ok(error instanceof VemloxError);
      assert.deepEqual([error.kind, error.message, error.win32Code, error.isErrorAnswer],
        [kind, message, 0, true]);
      return true;
    });
  }
});

test('a line that is not a response the service writes is a BadResponse, never a guess', () => {
  const cases = [
    ['', 'the response is not a JSON object'],
    ['{"status":"ok","version":1', 'the response is not a JSON object'],
    ['["ok",1]', 'the response is not a JSON object'],
    ['null', 'the response is not a JSON object'],
    [Buffer.from([0x7b, 0x22, 0xff, 0x22, 0x3a, 0x31, 0x7d]), 'the response is not a JSON object'],
    ['\uFEFF{"status":"ok","version":1}', 'the response is not a JSON object'],
    ['{"status":"error","kind":"failed","message":"half \\ud800"}',
      'the response is not a JSON object'],
    ['{"version":1}', 'the response has no "status" text'],
    ['{"status":1}', 'the response has no "status" text'],
    ['{"status":"maybe"}', 'unknown response status "maybe"'],
    ['{"status":"ok"}', 'an ok response without a valid "version"'],
    ['{"status":"ok","version":-1}', 'an ok response without a valid "version"'],
    ['{"status":"ok","version":4294967296}', 'an ok response without a valid "version"'],
    ['{"status":"ok","version":"1"}', 'an ok response without a valid "version"'],
    ['{"status":"ok","version":1.5}', 'an ok response without a valid "version"'],
    ['{"status":"ok","version":1,"names":"Wi-Fi"}', '"names" is not an array'],
    ['{"status":"ok","version":1,"names":[null]}', 'a name is not a string'],
    ['{"status":"ok","version":1,"dns":{}}', '"dns" is not an array'],
    ['{"status":"ok","version":1,"dns":[["Wi-Fi",[]]]}', 'a "dns" entry is not an object'],
    ['{"status":"ok","version":1,"dns":[{"adapter":"Wi-Fi"}]}',
      'a "dns" entry lacks its "adapter" text or "servers" array'],
    ['{"status":"ok","version":1,"dns":[{"adapter":"Wi-Fi","servers":["010.0.0.1"]}]}',
      'a DNS server is not an IPv4 address: "010.0.0.1"'],
    ['{"status":"ok","version":1,"dns":[{"adapter":"Wi-Fi","servers":["1.2.3"]}]}',
      'a DNS server is not an IPv4 address: "1.2.3"'],
    ['{"status":"ok","version":1,"dns":[{"adapter":"Wi-Fi","servers":["1.2.3.256"]}]}',
      'a DNS server is not an IPv4 address: "1.2.3.256"'],
    ['{"status":"ok","version":1,"dns":[{"adapter":"Wi-Fi","servers":[16843009]}]}',
      'a DNS server is not an IPv4 address: 16843009'],
    ['{"status":"error","kind":"rejected"}',
      'an error response without "kind" and "message" texts'],
    ['{"status":"error","kind":"fatal","message":"?"}', 'unknown error kind "fatal"'],
  ];
  for (const [line, reason] of cases) {
    assert.throws(() => readAnswer(typeof line === 'string' ? bytes(line) : line), (error) => {
      assert.ok(error instanceof VemloxError);
      assert.deepEqual([error.kind, error.message, error.isErrorAnswer],
        [ErrorKind.BadResponse, `unreadable response from the service: ${reason}`, false]);
      return true;
    }, String(line));
  }
});

test('the response line ends at its first line feed, within the limit', () => {
  const line = new ResponseLine();
  assert.equal(line.add(bytes('{"status":')), undefined);
  assert.deepEqual(line.add(bytes('"ok","version":1}\n{"status":"error"}\n')),
    bytes('{"status":"ok","version":1}'));

  const long = new ResponseLine();
  assert.equal(long.add(Buffer.alloc(MAX_RESPONSE_BYTES, 0x20)), undefined);
  // A line feed in the read that crossed the limit still ends the line.
  assert.equal(long.add(bytes(' \n')).length, MAX_RESPONSE_BYTES + 1);
  const endless = new ResponseLine();
  assert.equal(endless.add(Buffer.alloc(MAX_RESPONSE_BYTES + 1, 0x20)), 'TooLong');
});

test('each way a call can end without an answer has its kind, message and Windows code', () => {
  const cases = [
    [transferError(258, 'Wait timed out (os error 258)', { responseTimeoutMs: 300000 },
      'reading the response failed'),
      ErrorKind.TimedOut,
      'no response from the Vemlox service within 300 s; the connection was closed', 258],
    [transferError(258, '', { responseTimeoutMs: 1500 }, 'reading the response failed'),
      ErrorKind.TimedOut,
      'no response from the Vemlox service within 1500 ms; the connection was closed', 258],
    [transferError(1223, '', { responseTimeoutMs: 1000 }, 'sending the request failed'),
      ErrorKind.Cancelled,
      'the call was cancelled; the connection was closed', 1223],
    [transferError(232, 'Pipe closed. (os error 232)', { responseTimeoutMs: 1000 },
      'sending the request failed'),
      ErrorKind.ConnectionLost, 'sending the request failed: Pipe closed. (os error 232)', 232],
  ];
  for (const [error, kind, message, code] of cases) {
    assert.deepEqual([error.name, error.kind, error.message, error.win32Code, error.isErrorAnswer],
      ['VemloxError', kind, message, code, false]);
  }
  assert.deepEqual([109, 233, 995].map(kindOfTransferFailure), Array(3).fill('ConnectionLost'));
  assert.deepEqual(['NotInstalled', 'NotRunning', 'Starting', 'Running'].map(kindWhenNobodyServes),
    [ErrorKind.NotInstalled, ErrorKind.Stopped, undefined, undefined]);
});

test('only the running or starting service itself may serve the pipe', () => {
  const served = '\\\\.\\pipe\\vemlox is served by process 7';
  const cases = [
    [{ state: 'Running', processId: 7 }, undefined],
    [{ state: 'Starting', processId: 7 }, undefined],
    [{ state: 'Running', processId: 8 },
      `${served} while the Vemlox service is process 8; nothing was sent`],
    [{ state: 'Starting', processId: 0 },
      `${served} while the Vemlox service is process 0; nothing was sent`],
    [{ state: 'NotRunning', processId: 0 },
      `${served}, but the Vemlox service is not running; nothing was sent`],
    [{ state: 'NotInstalled', processId: 0 },
      `${served}, but the Vemlox service is not installed; nothing was sent`],
  ];
  for (const [service, found] of cases) {
    assert.equal(untrustedServer(7, service), found, JSON.stringify(service));
  }
});

test('each kind has its stable code; the plain form survives a structured clone', () => {
  const codes = Object.values(ErrorKind).map((kind) => new VemloxError(kind, 'm').code);
  assert.deepEqual(codes.slice(0, 3),
    ['VEMLOX_NOT_INSTALLED', 'VEMLOX_STOPPED', 'VEMLOX_STARTING']);
  assert.ok(codes.every((code) => /^VEMLOX_[A-Z]+(_[A-Z]+)*$/.test(code)));
  assert.equal(new Set(codes).size, codes.length);
  assert.equal(new VemloxError(ErrorKind.BadResponse, 'm').code, 'VEMLOX_BAD_RESPONSE');

  const error = new VemloxError(ErrorKind.TimedOut, 'no response', { win32Code: 258 });
  // The error itself loses its kind and code on the way (Electron's IPC clones so).
  assert.equal(structuredClone(error).kind, undefined);
  const plain = structuredClone(error.toJSON());
  assert.deepEqual(plain, { name: 'VemloxError', kind: 'TimedOut', code: 'VEMLOX_TIMED_OUT',
    message: 'no response', win32Code: 258 });
  assert.deepEqual(JSON.parse(JSON.stringify(error)), plain);
  const again = VemloxError.fromJSON(plain);
  assert.ok(again instanceof VemloxError);
  assert.deepEqual([again.kind, again.code, again.message, again.win32Code, again.isErrorAnswer],
    ['TimedOut', 'VEMLOX_TIMED_OUT', 'no response', 258, false]);

  const cause = new Error('window closed');
  assert.equal(new VemloxError(ErrorKind.Cancelled, 'm', { cause }).cause, cause);
  assert.equal('cause' in new VemloxError(ErrorKind.Failed, 'm'), false);
  assert.throws(() => new VemloxError('Broken', 'm'), TypeError);
  assert.throws(() => new VemloxError(ErrorKind.Failed, 'm', { win32Code: -1 }), TypeError);
  assert.throws(() => VemloxError.fromJSON({ kind: 'toString', message: 'm' }), TypeError);
});

test('an answer nested deeper than the C++ client reads is a BadResponse, at any depth', () => {
  const nested = (depth) =>
    `{"status":"ok","version":1,"x":${'['.repeat(depth)}${']'.repeat(depth)}}`;
  assert.deepEqual(readAnswer(bytes(nested(126))), { version: 1, names: [], dns: [] });
  // Brackets inside a text are not nesting.
  assert.deepEqual(readAnswer(bytes(`{"status":"ok","version":1,"x":"${'['.repeat(500)}\\""}`)),
    { version: 1, names: [], dns: [] });
  for (const line of [nested(127), '['.repeat(1_000_000), `{"a":${'{"a":'.repeat(200_000)}`]) {
    assert.throws(() => vemlox.readAnswer(line), (error) => {
      assert.ok(error instanceof VemloxError, String(error));
      assert.deepEqual([error.kind, error.message], [ErrorKind.BadResponse,
        'unreadable response from the service: the response nests deeper than 127 levels']);
      return true;
    });
  }
});

// A separate Node, so that this process's module cache proves nothing either way.
function node(script) {
  const { execFileSync } = require('node:child_process');
  return execFileSync(process.execPath, ['--input-type=module', '-e', script],
    { cwd: __dirname, encoding: 'utf8' }).trim();
}

test('importing loads no native code, and require and import share one package', () => {
  const out = node(`
    import { createRequire } from 'node:module';
    import * as imported from '@vemlox/client';
    const require = createRequire(import.meta.url);
    const required = require('@vemlox/client');
    const koffi = Object.keys(require.cache).filter((path) => path.includes('koffi'));
    console.log(JSON.stringify({ koffi, same: imported.ping === required.ping &&
      imported.VemloxError === required.VemloxError,
      names: Object.keys(imported).sort().join() === Object.keys(required).sort().join() }));
  `);
  assert.deepEqual(JSON.parse(out), { koffi: [], same: true, names: true });
});

test('a call where koffi cannot load rejects with Unsupported; the app goes on', () => {
  // As on Windows, with koffi's module gone (a bundle that lost it).
  const out = node(`
    import Module from 'node:module';
    Object.defineProperty(process, 'platform', { value: 'win32' });
    const resolve = Module._resolveFilename;
    Module._resolveFilename = function (request, ...rest) {
      if (request === 'koffi') throw new Error("Cannot find module 'koffi'");
      return resolve.call(this, request, ...rest);
    };
    const { ping } = await import('@vemlox/client');
    const outcomes = [];
    for (let i = 0; i < 2; i += 1) {
      outcomes.push(await ping().then(() => 'resolved', (e) => [e.kind, e.code, e.message]));
    }
    console.log(JSON.stringify(outcomes));
  `);
  const unsupported = ['Unsupported', 'VEMLOX_UNSUPPORTED', "the package's native part (koffi) " +
    "cannot be loaded: Cannot find module 'koffi'; nothing was sent"];
  assert.deepEqual(JSON.parse(out), [unsupported, unsupported]);
});
