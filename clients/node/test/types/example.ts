// An app's use of the package, compiled against its declarations (tsc -p test/types): every call
// with its argument and result types, the options, and the error's kinds.
import {
  type CallOptions,
  type DnsSetting,
  ErrorKind,
  VemloxError,
  createRestorePoint,
  disableAdapters,
  enableAdapters,
  exchange,
  ping,
  readAnswer,
  renewIp,
  restoreDns,
  setMachineStartup,
  usePublicDns,
} from '@vemlox/client';

async function fixNetwork(window: AbortSignal): Promise<string> {
  const options: CallOptions = { busyWaitMs: 5_000, responseTimeoutMs: 60_000, signal: window };
  try {
    await ping(options);
    await setMachineStartup('Updater', false, options);
    await createRestorePoint();
    const enabled: string[] = await enableAdapters(options);
    await disableAdapters(enabled.slice(1), options);
    await renewIp(options);
    const saved: DnsSetting[] = await usePublicDns(options);
    await restoreDns(saved, options);
    const raw: string = await exchange('{"op":"ping"}');
    return `${readAnswer(raw).version}`;
  } catch (error) {
    if (!(error instanceof VemloxError)) {
      throw error;
    }
    switch (error.kind) {
      case ErrorKind.NotInstalled:
      case ErrorKind.Stopped:
        return 'install or start the Vemlox service';
      case ErrorKind.Cancelled:
        return 'cancelled';
      default:
        return error.isErrorAnswer ? error.message : `${error.message} (${error.win32Code})`;
    }
  }
}

void fixNetwork(new AbortController().signal);
