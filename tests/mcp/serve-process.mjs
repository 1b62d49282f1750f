// MEmuFarm serve under Wine for the HTTP tests: on a free 127.0.0.1 port with a token file of
// the test's own, up once it printed its address (at most a minute). run.sh prepares the
// prefix and the environment (MEMUFARM_EXE, WINEPREFIX, SIM_ROOT).
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { execFileSync, spawn } from 'node:child_process';

const wine = '/usr/lib/wine/wine64';

export function freePort() {
  return new Promise((resolve, reject) => {
    const probe = net.createServer();
    probe.on('error', reject);
    probe.listen(0, '127.0.0.1', () => {
      const { port } = probe.address();
      probe.close(() => resolve(port));
    });
  });
}

export async function startServe(args = []) {
  const adbPort = await freePort();
  const port = await freePort();
  const token = 'http-test-token-0123456789abcdef0123456789abcdef';
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'memufarm-http-'));
  const tokenFile = path.join(folder, 'token.txt');
  fs.writeFileSync(tokenFile, token);
  const env = {
    ...process.env,
    WINEDEBUG: '-all',
    WINEDLLOVERRIDES: 'mscoree,mshtml=',
    ANDROID_ADB_SERVER_PORT: String(adbPort),
  };
  const child = spawn(wine, [process.env.MEMUFARM_EXE, 'serve', '--listen', `127.0.0.1:${port}`,
    '--token-file', 'Z:' + tokenFile.replaceAll('/', '\\'), ...args],
  { env, stdio: ['ignore', 'pipe', 'pipe'] });
  let output = '';
  let ended = null;
  child.on('exit', (code, signal) => { ended = signal ? `signal ${signal}` : `exit code ${code}`; });
  await new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error(`serve did not start: ${output}`)), 60000);
    child.stdout.on('data', (chunk) => {
      output += chunk;
      if (output.includes(`127.0.0.1:${port}/?token=`)) {
        clearTimeout(timer);
        resolve();
      }
    });
    child.stderr.on('data', (chunk) => { output += chunk; });
    child.on('exit', (code) => {
      clearTimeout(timer);
      reject(new Error(`serve ended with ${code}: ${output}`));
    });
  });
  return {
    port,
    token,
    output: () => output,
    // How the server ended when it ended by itself (a crash among them), else null.
    ended: () => ended,
    // The server and every process of the prefix (the simulated adb server, the VMs).
    stop() {
      child.kill();
      try {
        execFileSync('/usr/lib/wine/wineserver', ['-k'], { env, timeout: 30000 });
      } catch { /* nothing was running */ }
      fs.rmSync(folder, { recursive: true, force: true });
    },
  };
}
