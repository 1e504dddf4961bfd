// The Vemlox desktop app's side of the Vemlox service's pipe: one async call per operation.
// Windows only, in a Node (20 or later) or Electron main process.

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
  /** No whole response within the response timeout; the pipe was closed. */
  readonly TimedOut: 'TimedOut';
  /** The AbortSignal asked to stop; the pipe was closed. */
  readonly Cancelled: 'Cancelled';
  /** The connection ended before a whole response arrived. */
  readonly ConnectionLost: 'ConnectionLost';
  /** The response could not be read as a response. */
  readonly BadResponse: 'BadResponse';
  /** The service refused the request (a caller not allowed, an invalid request). */
  readonly Rejected: 'Rejected';
  /** The service found no item of that name. */
  readonly NotFound: 'NotFound';
  /** The operation failed. */
  readonly Failed: 'Failed';
};
export type ErrorKind = (typeof ErrorKind)[keyof typeof ErrorKind];

/** Why a call has no result. The message is a sentence fragment fit to show to a user. */
export declare class VemloxError extends Error {
  readonly name: 'VemloxError';
  readonly kind: ErrorKind;
  /** The Windows error behind the failure; 0 where there is none (so for the service's answers). */
  readonly win32Code: number;
  /** True for the service's own answers (Rejected, NotFound, Failed). */
  readonly isErrorAnswer: boolean;
  private constructor();
}

export interface CallOptions {
  /** How long to wait in all for a busy or starting service, in ms (default 10 000). */
  busyWaitMs?: number;
  /** From the server check to the whole response, in ms (default 300 000). */
  responseTimeoutMs?: number;
  /** Aborting it ends the call at once with a VemloxError of kind Cancelled. */
  signal?: AbortSignal;
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

export declare function ping(options?: CallOptions): Promise<void>;
export declare function setMachineStartup(
  name: string,
  enabled: boolean,
  options?: CallOptions,
): Promise<void>;
export declare function createRestorePoint(options?: CallOptions): Promise<void>;
/** Resolves with the adapters that were enabled, in the order they were enabled. */
export declare function enableAdapters(options?: CallOptions): Promise<string[]>;
export declare function disableAdapters(names: string[], options?: CallOptions): Promise<void>;
export declare function renewIp(options?: CallOptions): Promise<void>;
/** Resolves with each adapter whose servers were changed, with the servers it had before. */
export declare function usePublicDns(options?: CallOptions): Promise<DnsSetting[]>;
export declare function restoreDns(settings: DnsSetting[], options?: CallOptions): Promise<void>;

/** For tools: sends any line (a line feed is added); resolves with the response line, undecoded. */
export declare function exchange(requestLine: string, options?: CallOptions): Promise<string>;
/** Reads a response line: the ok response, or throws the VemloxError it stands for. */
export declare function readAnswer(line: string | Uint8Array): OkResponse;
