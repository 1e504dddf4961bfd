// What each build of the ping app does, whichever way it loaded the package: a ping, and a request
// the service refuses, each with its outcome printed as one JSON line, so that the end-to-end test
// sees the package work and its error arrive as the VemloxError the app itself loaded.
'use strict';

async function outcome(call, VemloxError) {
  try {
    return { result: (await call()) ?? null };
  } catch (error) {
    const { name, kind, code, message } = error;
    return { error: { name, kind, code, message, isVemloxError: error instanceof VemloxError } };
  }
}

// `client` is the package as the app loaded it; `loaded` says how, and goes into the line as is.
async function run(client, loaded) {
  const ping = await outcome(() => client.ping(), client.VemloxError);
  // An empty list is refused by the service ("invalid adapter list"), and nothing changes.
  const refused = await outcome(() => client.disableAdapters([]), client.VemloxError);
  process.stdout.write(JSON.stringify({ node: process.version, ...loaded, ping, refused }) + '\n');
}

module.exports = { run };
