'use strict';
// The request line of each operation, exactly as the wire takes it: one JSON object, "op" first
// and the operation's members in their wire order, compact, UTF-8, without the line feed. The
// arguments' types are checked here, before anything is sent; their values (name characters,
// counts, addresses) are the service's to judge, and a value it refuses comes back as a
// Rejected answer with the service's own text.

const LONE_SURROGATE = /[\uD800-\uDBFF](?![\uDC00-\uDFFF])|(?<![\uD800-\uDBFF])[\uDC00-\uDFFF]/g;

// A JavaScript string may hold half of a surrogate pair, which has no UTF-8 form: it is sent as
// U+FFFD, as the C++ client does with invalid UTF-8 (JSON.stringify would write it as an escape
// the service refuses).
function wellFormed(text) {
  return text.replace(LONE_SURROGATE, '\uFFFD');
}

function string(value, what) {
  if (typeof value !== 'string') {
    throw new TypeError(`${what} must be a string`);
  }
  return wellFormed(value);
}

function boolean(value, what) {
  if (typeof value !== 'boolean') {
    throw new TypeError(`${what} must be a boolean`);
  }
  return value;
}

function array(value, what, element) {
  if (!Array.isArray(value)) {
    throw new TypeError(`${what} must be an array`);
  }
  return value.map((item, index) => element(item, `${what}[${index}]`));
}

// Built afresh, so that only the two members go, in their order, whatever else the object holds.
function dnsSetting(value, what) {
  if (typeof value !== 'object' || value === null) {
    throw new TypeError(`${what} must be an object with "adapter" and "servers"`);
  }
  return {
    adapter: string(value.adapter, `${what}.adapter`),
    servers: array(value.servers, `${what}.servers`, string),
  };
}

function line(op, members = {}) {
  return JSON.stringify({ op, ...members });
}

const requests = Object.freeze({
  ping: () => line('ping'),
  setMachineStartup: (name, enabled) =>
    line('set_machine_startup', {
      name: string(name, 'name'),
      enabled: boolean(enabled, 'enabled'),
    }),
  createRestorePoint: () => line('create_restore_point'),
  enableAdapters: () => line('enable_adapters'),
  disableAdapters: (names) => line('disable_adapters', { names: array(names, 'names', string) }),
  renewIp: () => line('renew_ip'),
  usePublicDns: () => line('use_public_dns'),
  restoreDns: (settings) =>
    line('restore_dns', { settings: array(settings, 'settings', dnsSetting) }),
});

module.exports = { requests };
