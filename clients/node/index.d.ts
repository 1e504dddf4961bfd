// The Vemlox desktop app's side of the Vemlox service's pipe: one async call per operation.
// Windows only, in a Node (16.9 or later) or Electron main process; importing it works anywhere.
// These declarations serve `require` (this file) and `import` (index.d.mts, which re-exports it).

/** Why a call has no result: `VemloxError.kind` is one of these. */
export declare const ErrorKind: {
  /** The service "vemlox" is not installed; nothing was sent. */
  readonly NotInstalled: 'NotInstalled';
  /** The service is installed but not running; nothing was sent. */
  readonly Stopped: 'Stopped';
  /** The service was still starting when the busy wait ended; nothing was sent. */
  readonly Starting: 'Starting';
  /** The pipe stayed busy with other clients for the whole busy wait; nothing was sent. */
  readonly Busy: 'Busy';
  /** Opening the pipe failed otherwise (access denied, ...); nothing was sent. */
  readonly CannotConnect: 'CannotConnect';
  /** The pipe is served by a process other than the running service; nothing was sent. */
  readonly UntrustedServer: 'UntrustedServer';
  /** Windows refused this process what the call needs (an event); nothing was sent. */
  readonly NoResources: 'NoResources';
  /** Not Windows, or koffi's native part cannot be loaded (a bundle lost it); nothing was sent. */
  readonly Unsupported: 'Unsupported';
  /** No whole response within the response timeout; the pipe was closed. */
  readonly TimedOut: 'TimedOut';
  /** The AbortSignal asked to stop; the pipe was closed. */
  readonly Cancelled: 'Cancelled';
  /** The connection ended before a whole response arrived. */
  readonly ConnectionLost: 'ConnectionLost';
  /** The response could not be read as a response (not JSON, too deep, over 1 MiB, ...). */
  readonly BadResponse: 'BadResponse';
  /** The service refused the request (a caller not allowed, an invalid request). */
  readonly Rejected: 'Rejected';
  /** The service found no item of that name. */
  readonly NotFound: 'NotFound';
  /** The operation failed. */
  readonly Failed: 'Failed';
};
export type ErrorKind = (typeof ErrorKind)[keyof typeof ErrorKind];

/** The stable `code` of each kind, as Node names its own errors: VEMLOX_ and the kind's words. */
export declare const ErrorCode: {
  readonly NotInstalled: 'VEMLOX_NOT_INSTALLED';
  readonly Stopped: 'VEMLOX_STOPPED';
  readonly Starting: 'VEMLOX_STARTING';
  readonly Busy: 'VEMLOX_BUSY';
  readonly CannotConnect: 'VEMLOX_CANNOT_CONNECT';
  readonly UntrustedServer: 'VEMLOX_UNTRUSTED_SERVER';
  readonly NoResources: 'VEMLOX_NO_RESOURCES';
  readonly Unsupported: 'VEMLOX_UNSUPPORTED';
  readonly TimedOut: 'VEMLOX_TIMED_OUT';
  readonly Cancelled: 'VEMLOX_CANCELLED';
  readonly ConnectionLost: 'VEMLOX_CONNECTION_LOST';
  readonly BadResponse: 'VEMLOX_BAD_RESPONSE';
  readonly Rejected: 'VEMLOX_REJECTED';
  readonly NotFound: 'VEMLOX_NOT_FOUND';
  readonly Failed: 'VEMLOX_FAILED';
};
export type ErrorCode = (typeof ErrorCode)[keyof typeof ErrorCode];

/** A VemloxError as plain data: what survives Electron's IPC, `postMessage` and JSON. */
export interface VemloxErrorJSON {
  name: 'VemloxError';
  kind: ErrorKind;
  code: ErrorCode;
  message: string;
  win32Code: number;
}

/** Why a call has no result. The message is a sentence fragment fit to show to a user. */
export declare class VemloxError extends Error {
  /**
   * An error as the package makes it, for an app's own tests and for errors passed between
   * processes.
   * @param kind One of ErrorKind; `code` follows from it.
   * @param message The sentence fragment to show.
   * @param options `win32Code`: the Windows error behind it (default 0); `cause`: what led to it.
   * @throws TypeError for a kind that is not one of ErrorKind or a code that is not a DWORD.
   */
  constructor(
    kind: ErrorKind,
    message: string,
    options?: { readonly win32Code?: number; readonly cause?: unknown },
  );
  readonly name: 'VemloxError';
  readonly kind: ErrorKind;
  /** Stable for each kind: `ErrorCode[kind]`. */
  readonly code: ErrorCode;
  /** The Windows error behind the failure; 0 where there is none (so for the service's answers). */
  readonly win32Code: number;
  /** True for the service's own answers (Rejected, NotFound, Failed). */
  readonly isErrorAnswer: boolean;
  /** For Cancelled: the reason of the signal that stopped the call. */
  readonly cause?: unknown;
  /** The plain form: a structured clone of the error itself keeps only its name and message. */
  toJSON(): VemloxErrorJSON;
  /**
   * The error again from its plain form, on the other side of an IPC channel.
   * @throws TypeError when `plain` is not such a form.
   */
  static fromJSON(plain: VemloxErrorJSON): VemloxError;
}

/**
 * What the package needs of an AbortSignal: Node's and the DOM's both fit, and no library of
 * either is needed to compile against these declarations.
 */
export interface AbortSignalLike {
  readonly aborted: boolean;
  readonly reason?: unknown;
  addEventListener(type: 'abort', listener: () => void, options?: { once?: boolean }): void;
  removeEventListener(type: 'abort', listener: () => void): void;
}

export interface CallOptions {
  /** How long to wait in all for a busy or starting service, in ms (default 10 000). */
  busyWaitMs?: number;
  /** From the server check to the whole response, in ms (default 300 000). */
  responseTimeoutMs?: number;
  /**
   * Aborting it ends the call at once with a VemloxError of kind Cancelled, whose `cause` is
   * the signal's reason; already aborted, the call rejects so before anything is sent.
   */
  signal?: AbortSignalLike;
}

/** One adapter's DNS servers; an empty list means the adapter obtains them automatically. */
export interface DnsSetting {
  adapter: string;
  /** IPv4 addresses in dotted-decimal form, in order of preference. */
  servers: string[];
}

/** The ok response of the service. */
export interface OkResponse {
  version: number;
  names: string[];
  dns: DnsSetting[];
}

/** Does nothing in the service; resolves when the service answers this app. */
export declare function ping(options?: CallOptions): Promise<void>;
/**
 * Switches one machine-wide startup entry on or off.
 * @param name The entry's name.
 * @param enabled Whether it runs at startup.
 */
export declare function setMachineStartup(
  name: string,
  enabled: boolean,
  options?: CallOptions,
): Promise<void>;
/** Creates a System Restore point "Vemlox: before fixes". */
export declare function createRestorePoint(options?: CallOptions): Promise<void>;
/** Enables every disabled physical adapter; resolves with those enabled, in the order enabled. */
export declare function enableAdapters(options?: CallOptions): Promise<string[]>;
/** Disables the network adapters of these names (NotFound for one that does not exist). */
export declare function disableAdapters(
  names: readonly string[],
  options?: CallOptions,
): Promise<void>;
/** Renews the machine's IP addresses (`ipconfig /renew`). */
export declare function renewIp(options?: CallOptions): Promise<void>;
/**
 * Points the connected adapters at 1.1.1.1 and 8.8.8.8; resolves with each changed adapter and
 * the servers it had before: keep it for restoreDns.
 */
export declare function usePublicDns(options?: CallOptions): Promise<DnsSetting[]>;
/** Puts saved DNS server lists back, as usePublicDns resolved with them. */
export declare function restoreDns(
  settings: readonly { readonly adapter: string; readonly servers: readonly string[] }[],
  options?: CallOptions,
): Promise<void>;

/** For tools: sends any line (a line feed is added); resolves with the response line, undecoded. */
export declare function exchange(requestLine: string, options?: CallOptions): Promise<string>;
/**
 * Reads a response line: the ok response, or throws the VemloxError it stands for (BadResponse
 * for a line the service does not write).
 */
export declare function readAnswer(line: string | Uint8Array): OkResponse;
