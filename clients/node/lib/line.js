'use strict';
// How the response arrives: one line of bytes ended by a line feed, read in chunks. Bytes after
// the line feed are ignored; a stream that grows past the limit without one is not our service.

const CHUNK_BYTES = 1024;
// No response of the service comes near this.
const MAX_RESPONSE_BYTES = 1 << 20;

class ResponseLine {
  #chunks = [];
  #length = 0;

  // Adds the bytes of one read. Returns the line (the bytes before the first line feed) once it
  // is whole, 'TooLong' when more than the limit came without one, undefined while it grows. The
  // limit is checked after each read, so a line feed in the read that crossed it still ends the
  // line.
  add(bytes) {
    const feed = bytes.indexOf(0x0a);
    if (feed >= 0) {
      this.#chunks.push(bytes.subarray(0, feed));
      return Buffer.concat(this.#chunks);
    }
    this.#chunks.push(bytes);
    this.#length += bytes.length;
    return this.#length > MAX_RESPONSE_BYTES ? 'TooLong' : undefined;
  }
}

module.exports = { CHUNK_BYTES, MAX_RESPONSE_BYTES, ResponseLine };
