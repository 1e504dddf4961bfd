'use strict';
// A response line read back strictly: the ok response, or the VemloxError for an error response
// or for a line that is not a response the service writes. Members the client does not know are
// ignored (a later service may add some); a missing "names" or "dns" is empty.

const { ErrorKind, VemloxError, kindOfAnswer, messages } = require('./errors.js');

const UTF8 = new TextDecoder('utf-8', { fatal: true, ignoreBOM: true });
const LONE_SURROGATE = /[\uD800-\uDBFF](?![\uDC00-\uDFFF])|(?<![\uD800-\uDBFF])[\uDC00-\uDFFF]/;
const IPV4 = /^(?:0|[1-9][0-9]{0,2})(?:\.(?:0|[1-9][0-9]{0,2})){3}$/;
const MAX_VERSION = 0xffffffff;
// Containers may nest this deep, the outermost counting as the first level: the C++ client's
// limit. The service's answers nest four levels at most.
const MAX_DEPTH = 127;

class Unreadable extends Error {}

function unreadable(reason) {
  throw new Unreadable(reason);
}

// Strict dotted decimal: four octets of 0 to 255, no leading zeros, nothing else.
function isIpv4(text) {
  return (
    typeof text === 'string' &&
    IPV4.test(text) &&
    text.split('.').every((octet) => Number(octet) <= 255)
  );
}

function isObject(value) {
  return typeof value === 'object' && value !== null && !Array.isArray(value);
}

// How deep the containers of JSON `text` nest, counted without recursion and without parsing:
// brackets inside strings do not count. A text that is not JSON is JSON.parse's to refuse.
function nesting(text) {
  let depth = 0;
  let deepest = 0;
  let inString = false;
  for (let i = 0; i < text.length; i += 1) {
    const c = text.charCodeAt(i);
    if (inString) {
      if (c === 0x5c) {
        i += 1; // the escaped character
      } else if (c === 0x22) {
        inString = false;
      }
    } else if (c === 0x22) {
      inString = true;
    } else if (c === 0x5b || c === 0x7b) {
      depth += 1;
      deepest = Math.max(deepest, depth);
    } else if (c === 0x5d || c === 0x7d) {
      depth -= 1;
    }
  }
  return deepest;
}

// JSON.parse takes the text as UTF-8 only after a strict decoding, and lets an escaped half of a
// surrogate pair through, which the JSON the service writes never holds. The walk that looks for
// one recurses, so the nesting is bounded first.
function parseObject(bytes) {
  let value;
  try {
    const text = UTF8.decode(bytes);
    if (nesting(text) > MAX_DEPTH) {
      unreadable(`the response nests deeper than ${MAX_DEPTH} levels`);
    }
    value = JSON.parse(text);
  } catch (error) {
    if (error instanceof Unreadable) {
      throw error;
    }
    unreadable('the response is not a JSON object');
  }
  if (!isObject(value) || holdsLoneSurrogate(value)) {
    unreadable('the response is not a JSON object');
  }
  return value;
}

function holdsLoneSurrogate(value) {
  if (typeof value === 'string') {
    return LONE_SURROGATE.test(value);
  }
  if (typeof value === 'object' && value !== null) {
    return Object.entries(value).some(
      ([key, member]) => LONE_SURROGATE.test(key) || holdsLoneSurrogate(member),
    );
  }
  return false;
}

function has(object, name) {
  return Object.prototype.hasOwnProperty.call(object, name);
}

function decodeNames(value) {
  if (!Array.isArray(value)) {
    unreadable('"names" is not an array');
  }
  for (const name of value) {
    if (typeof name !== 'string') {
      unreadable('a name is not a string');
    }
  }
  return value;
}

function decodeSetting(value) {
  if (!isObject(value)) {
    unreadable('a "dns" entry is not an object');
  }
  if (typeof value.adapter !== 'string' || !Array.isArray(value.servers)) {
    unreadable('a "dns" entry lacks its "adapter" text or "servers" array');
  }
  for (const server of value.servers) {
    if (!isIpv4(server)) {
      unreadable(`a DNS server is not an IPv4 address: ${JSON.stringify(server)}`);
    }
  }
  return { adapter: value.adapter, servers: [...value.servers] };
}

function decodeOk(object) {
  const version = object.version;
  if (!Number.isInteger(version) || version < 0 || version > MAX_VERSION) {
    unreadable('an ok response without a valid "version"');
  }
  const names = has(object, 'names') ? decodeNames(object.names) : [];
  let dns = [];
  if (has(object, 'dns')) {
    if (!Array.isArray(object.dns)) {
      unreadable('"dns" is not an array');
    }
    dns = object.dns.map(decodeSetting);
  }
  return { version, names, dns };
}

function decodeError(object) {
  if (typeof object.kind !== 'string' || typeof object.message !== 'string') {
    unreadable('an error response without "kind" and "message" texts');
  }
  const kind = kindOfAnswer(object.kind);
  if (kind === undefined) {
    unreadable(`unknown error kind ${JSON.stringify(object.kind)}`);
  }
  return new VemloxError(kind, object.message);
}

// `line` is the response's bytes before its line feed (a Uint8Array). Returns the ok response
// ({ version, names, dns }); throws the VemloxError for anything else.
function readAnswer(line) {
  try {
    const object = parseObject(line);
    if (typeof object.status !== 'string') {
      unreadable('the response has no "status" text');
    }
    if (object.status === 'ok') {
      return decodeOk(object);
    }
    if (object.status === 'error') {
      throw decodeError(object);
    }
    return unreadable(`unknown response status ${JSON.stringify(object.status)}`);
  } catch (error) {
    if (error instanceof Unreadable) {
      throw new VemloxError(ErrorKind.BadResponse, messages.unreadable(error.message));
    }
    throw error;
  }
}

module.exports = { isIpv4, readAnswer, MAX_DEPTH };
