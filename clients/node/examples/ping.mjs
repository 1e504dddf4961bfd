// The smallest app: asks the Vemlox service whether it answers. Run it as the app's own
// executable from the install folder (a Node app packaged as vemlox-app.exe); started as node.exe
// it is not one of the app's executables, and the service answers "caller not allowed".
import { VemloxError, ping } from '@vemlox/client';

try {
  await ping({ signal: AbortSignal.timeout(30_000) });
  process.stdout.write('ping: ok\n');
} catch (error) {
  if (!(error instanceof VemloxError)) {
    throw error;
  }
  process.stdout.write(`ping: ${error.kind}: ${error.message}\n`);
  process.exitCode = 1;
}
