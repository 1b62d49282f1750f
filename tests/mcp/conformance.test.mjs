// The MCP conformance suite's server scenarios that need none of the suite's own fixture tools,
// against MEmuFarm serve's /mcp under Wine. The suite's runner sends no headers of ours, so it
// talks to a loopback proxy here that adds the owner's token; the proxy passes every other
// header on, and gives a Host or Origin naming the proxy the server's own port, so that the
// server's Host and Origin rules see what a client of its own would send. (The tools-call
// scenarios call the suite's test_* tools, which this server does not have.)
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import { execFile } from 'node:child_process';
import { freePort, startServe } from './serve-process.mjs';

const here = path.dirname(new URL(import.meta.url).pathname);
const runner = path.join(here, 'node_modules/@modelcontextprotocol/conformance/dist/index.js');
const scenarios = ['server-initialize', 'ping', 'logging-set-level', 'tools-list',
  'server-sse-multiple-streams', 'dns-rebinding-protection'];
let serve;
let proxy;
let proxyPort;
let results;

function toServer(value) {
  if (typeof value !== 'string') return value;
  for (const name of ['127.0.0.1', 'localhost'])
    value = value.replace(`${name}:${proxyPort}`, `${name}:${serve.port}`);
  return value;
}

function startProxy() {
  proxy = http.createServer((request, response) => {
    const headers = { ...request.headers, authorization: `Bearer ${serve.token}` };
    headers.host = toServer(headers.host);
    if (headers.origin) headers.origin = toServer(headers.origin);
    const upstream = http.request({ host: '127.0.0.1', port: serve.port, method: request.method,
      path: request.url, headers }, (answer) => {
      response.writeHead(answer.statusCode, answer.headers);
      answer.pipe(response);
    });
    upstream.on('error', () => response.destroy());
    response.on('close', () => upstream.destroy());
    request.pipe(upstream);
  });
  return new Promise((resolve) => proxy.listen(proxyPort, '127.0.0.1', resolve));
}

// One scenario: the runner's exit code, its output, and the checks it saved.
function run(scenario) {
  const out = fs.mkdtempSync(path.join(results, `${scenario}-`));
  return new Promise((resolve) => {
    execFile(process.execPath, ['--import', path.join(here, 'conformance/node20.mjs'), runner,
      'server', '--url', `http://localhost:${proxyPort}/mcp`, '--scenario', scenario,
      '-o', out], { timeout: 120000 }, (error, stdout, stderr) => {
      const checks = [];
      for (const file of fs.readdirSync(out, { recursive: true }))
        if (String(file).endsWith('checks.json'))
          checks.push(...JSON.parse(fs.readFileSync(path.join(out, String(file)), 'utf8')));
      resolve({ code: error ? (error.code ?? 1) : 0, output: stdout + stderr, checks });
    });
  });
}

before(async () => {
  serve = await startServe();
  proxyPort = await freePort();
  results = fs.mkdtempSync(path.join(os.tmpdir(), 'memufarm-conformance-'));
  await startProxy();
});

after(() => {
  if (proxy) proxy.close();
  if (serve) serve.stop();
  if (results) fs.rmSync(results, { recursive: true, force: true });
});

for (const scenario of scenarios) {
  test(`conformance ${scenario}`, { timeout: 150000 }, async () => {
    const { code, output, checks } = await run(scenario);
    const failed = checks.filter((check) => check.status === 'FAILURE');
    // What each check gave, for the test's report.
    for (const check of checks) console.log(`${scenario}: ${check.id} ${check.status}`);
    assert.ok(checks.length > 0, `no checks saved:\n${output}`);
    assert.deepEqual(failed.map((check) => `${check.id}: ${check.errorMessage}`), [], output);
    assert.equal(code, 0, output);
  });
}
