// The ping app as an ES module: it takes the package by `import`.
import * as client from '@vemlox/client';

import calls from './calls.cjs';

await calls.run(client, { loaded: 'import' });
