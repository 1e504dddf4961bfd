// The package as an ES module: the CommonJS module itself, so that an app that both imports and
// requires it still has one queue of calls.
import vemlox from './index.js';

export const {
  ErrorCode,
  ErrorKind,
  VemloxError,
  ping,
  setMachineStartup,
  createRestorePoint,
  enableAdapters,
  disableAdapters,
  renewIp,
  usePublicDns,
  restoreDns,
  exchange,
  readAnswer,
} = vemlox;
