// An ES module app's use of the package, compiled against its declarations: every call with its
// argument and result types, the options, and the error's kinds, codes and plain form.
import {
  type CallOptions,
  type DnsSetting,
  ErrorCode,
  ErrorKind,
  VemloxError,
  type VemloxErrorJSON,
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
    const keep: readonly string[] = enabled.slice(1);
    await disableAdapters(keep, options);
    await renewIp(options);
    const saved: DnsSetting[] = await usePublicDns(options);
    const frozen: readonly { readonly adapter: string; readonly servers: readonly string[] }[] =
      saved;
    await restoreDns(frozen, options);
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
        return `cancelled: ${String(error.cause)}`;
      default:
        break;
    }
    if (error.code === ErrorCode.Unsupported || error.code === 'VEMLOX_BUSY') {
      return 'not now';
    }
    // Across Electron's IPC as plain data, and back.
    const plain: VemloxErrorJSON = error.toJSON();
    const again: VemloxError = VemloxError.fromJSON(plain);
    return again.isErrorAnswer ? again.message : `${again.message} (${again.win32Code})`;
  }
}

void fixNetwork(new AbortController().signal);
// An app's own test makes the errors it expects.
void new VemloxError(ErrorKind.TimedOut, 'no response', { win32Code: 258 });
