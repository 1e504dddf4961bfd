// The ping app as a CommonJS program, the way most Electron main processes are built: it takes
// the package by `require`. It also imports it, to show that both ways reach the same instance
// (the same calls, so the same queue of exchanges).
'use strict';

const client = require('@vemlox/client');
const { run } = require('./calls.cjs');

import('@vemlox/client').then((imported) =>
  run(client, { loaded: 'require', oneInstance: imported.ping === client.ping }));
