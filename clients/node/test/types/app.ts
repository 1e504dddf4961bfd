// A TypeScript app compiled to CommonJS with the classic resolution (module commonjs): the
// package's "types", no DOM library and no Node types needed.
import { type AbortSignalLike, ErrorKind, VemloxError, enableAdapters } from '@vemlox/client';

export async function enable(signal: AbortSignalLike): Promise<string[]> {
  try {
    return await enableAdapters({ signal });
  } catch (error) {
    if (error instanceof VemloxError && error.kind === ErrorKind.Cancelled) {
      return [];
    }
    throw error;
  }
}
