// The ping app in TypeScript, compiled by tsc with module commonjs (tsconfig.json): the package's
// declarations as such an app sees them, and its `require` at run time.
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

async function main(): Promise<void> {
  const pinged = await outcome(() => ping());
  const refused = await outcome(() => disableAdapters([]));
  process.stdout.write(JSON.stringify(
    { node: process.version, loaded: 'typescript', ping: pinged, refused }) + '\n');
}

void main();
