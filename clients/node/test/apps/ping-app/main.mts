// The ping app in TypeScript as an ES module, compiled by tsc with module nodenext
// (tsconfig.esm.json): the package's declarations for `import`, and its ES module entry at run
// time. Otherwise as main.ts.
import { VemloxError, disableAdapters, ping } from '@vemlox/client';

// All this app uses of Node's own API (it takes no @types/node: the package needs none).
declare const process: { readonly version: string; readonly stdout: { write(text: string): void } };

async function outcome(call: () => Promise<unknown>): Promise<object> {
  try {
    return { result: (await call()) ?? null };
  } catch (error) {
    if (!(error instanceof VemloxError)) {
      throw error;
    }
    const { name, kind, code, message } = error;
    return { error: { name, kind, code, message, isVemloxError: true } };
  }
}

const pinged = await outcome(() => ping());
const refused = await outcome(() => disableAdapters([]));
process.stdout.write(JSON.stringify(
  { node: process.version, loaded: 'typescript-esm', ping: pinged, refused }) + '\n');
