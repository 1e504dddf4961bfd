// The Node side of the Node client benchmark, as ping_loop.cpp on the C++ side: COUNT sequential
// pings through the package (this repository's clients/node), one at a time from one process. The
// first ping, not counted, also loads koffi and the Win32 declarations. Prints
// "pings COUNT median M quick Q" in microseconds, as ping_loop.cpp does. Usage: ping_loop.cjs COUNT
'use strict';

const { ping } = require('../../clients/node');

async function main() {
  const count = Number(process.argv[2]);
  if (!(count >= 1)) {
    throw new Error('usage: ping_loop.cjs COUNT (1 or more)');
  }
  await ping();
  const microseconds = [];
  for (let i = 0; i < count; ++i) {
    const start = process.hrtime.bigint();
    await ping();
    microseconds.push(Number(process.hrtime.bigint() - start) / 1000);
  }
  microseconds.sort((a, b) => a - b);
  const at = (index) => microseconds[index].toFixed(0);
  process.stdout.write(`pings ${count} median ${at(count >> 1)} quick ${at(Math.floor(count / 10))}\n`);
}

main().catch((error) => {
  process.stderr.write(`ping_loop: ${error.message}\n`);
  process.exitCode = 1;
});
