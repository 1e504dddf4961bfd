// A CommonJS app's use of the package: the same names through require.
import vemlox = require('@vemlox/client');
import { VemloxError, ping } from '@vemlox/client';

async function check(signal: vemlox.AbortSignalLike): Promise<vemlox.ErrorCode | 'ok'> {
  try {
    await ping({ signal });
    const saved: vemlox.DnsSetting[] = await vemlox.usePublicDns();
    await vemlox.restoreDns(saved);
    return 'ok';
  } catch (error) {
    if (error instanceof VemloxError && error.kind !== vemlox.ErrorKind.Failed) {
      return error.code;
    }
    throw error;
  }
}

export = check;
