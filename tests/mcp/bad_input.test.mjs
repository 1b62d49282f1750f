// The real MEmuFarm.exe mcp under Wine, over its own pipes, given what no client should send:
// a 10 MB line, deep nesting, text that is not UTF-8, a call before initialize, 1,000 calls at
// once. Each gets a clear error or a bounded refusal; after each the server still answers
// ping, its memory stays bounded, and it exits 0 when its input ends. run.sh prepares the
// prefix and the environment (MEMUFARM_EXE, WINEPREFIX).
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import net from 'node:net';
import { spawn } from 'node:child_process';

const exe = process.env.MEMUFARM_EXE;
const wine = '/usr/lib/wine/wine64';
const maxCalls = 4;
let adbPort;

function freePort() {
  return new Promise((resolve, reject) => {
    const server = net.createServer();
    server.on('error', reject);
    server.listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

// A server over raw pipes: lines written as given, messages read as they come.
class RawServer {
  constructor(args) {
    this.child = spawn(wine, [exe, 'mcp', ...args], {
      env: { ...process.env, WINEDEBUG: '-all', WINEDLLOVERRIDES: 'mscoree,mshtml=',
        ANDROID_ADB_SERVER_PORT: String(adbPort) },
      stdio: ['pipe', 'pipe', 'pipe'],
    });
    this.messages = [];
    this.waiters = [];
    this.exited = new Promise((resolve) => this.child.on('exit', (code) => resolve(code)));
    let pending = '';
    this.child.stdout.setEncoding('utf8');
    this.child.stdout.on('data', (chunk) => {
      pending += chunk;
      let end;
      while ((end = pending.indexOf('\n')) >= 0) {
        const line = pending.slice(0, end);
        pending = pending.slice(end + 1);
        this.messages.push(JSON.parse(line));  // every line the server writes is JSON
      }
      this.waiters = this.waiters.filter((waiter) => !waiter());
    });
    this.child.stderr.resume();
    this.nextId = 1000000;
  }

  write(data) {
    return new Promise((resolve, reject) =>
      this.child.stdin.write(data, (error) => (error ? reject(error) : resolve())));
  }

  // The first message (from `from` on) that `match` accepts, within `ms`.
  waitFor(match, ms = 60000, from = 0) {
    return new Promise((resolve, reject) => {
      const timer = setTimeout(() => reject(new Error(`no answer within ${ms} ms`)), ms);
      const check = () => {
        const found = this.messages.slice(from).find(match);
        if (found) { clearTimeout(timer); resolve(found); }
        return Boolean(found);
      };
      if (!check()) this.waiters.push(check);
    });
  }

  async request(method, params = {}) {
    const id = this.nextId++;
    await this.write(JSON.stringify({ jsonrpc: '2.0', id, method, params }) + '\n');
    return this.waitFor((message) => message.id === id);
  }

  async initialize() {
    const answer = await this.request('initialize', { protocolVersion: '2025-06-18',
      capabilities: {}, clientInfo: { name: 'bad-input-test', version: '1' } });
    assert.ok(answer.result, JSON.stringify(answer));
    await this.write(JSON.stringify({ jsonrpc: '2.0', method: 'notifications/initialized' }) + '\n');
  }

  async ping() {
    const answer = await this.request('ping');
    assert.deepEqual(answer.result, {}, JSON.stringify(answer));
  }

  // Resident bytes of the server's process (Wine runs it in the process spawned).
  residentBytes() {
    const status = fs.readFileSync(`/proc/${this.child.pid}/status`, 'utf8');
    return Number(/VmRSS:\s+(\d+) kB/.exec(status)[1]) * 1024;
  }

  async close() {
    this.child.stdin.end();
    const timer = setTimeout(() => this.child.kill('SIGKILL'), 60000);
    const code = await this.exited;
    clearTimeout(timer);
    return code;
  }
}

// The error answered with a null id after `from`: what a line that is no request gets.
function nullIdError(server, from) {
  return server.waitFor((message) => message.id === null && message.error, 60000, from);
}

let server;
let firstResident;

before(async () => {
  adbPort = await freePort();
  server = new RawServer(['--max-calls', String(maxCalls)]);
  await server.initialize();
  await server.ping();
  firstResident = server.residentBytes();
});

after(async () => {
  if (server && server.child.exitCode === null) server.child.kill('SIGKILL');
});

const MiB = 1024 * 1024;

test('a 10 MB line is skipped with an error, not held', { timeout: 120000 }, async () => {
  const from = server.messages.length;
  const line = '{"jsonrpc":"2.0","id":1,"method":"ping","params":{"p":"' +
    'x'.repeat(10 * MiB) + '"}}\n';
  await server.write(line);
  const error = await nullIdError(server, from);
  assert.equal(error.error.code, -32600);
  assert.match(error.error.message, /longer than \d+ bytes and was skipped/);
  await server.ping();
  assert.ok(server.messages.slice(from).every((message) => message.id !== 1), 'not served');
});

test('100,000 [ are refused before parsing', { timeout: 60000 }, async () => {
  const from = server.messages.length;
  await server.write('['.repeat(100000) + '\n');
  const error = await nullIdError(server, from);
  assert.equal(error.error.code, -32600);
  assert.match(error.error.message, /nest deeper than \d+/);
  await server.ping();
});

test('text that is not UTF-8 is a parse error', { timeout: 60000 }, async () => {
  const from = server.messages.length;
  await server.write(Buffer.concat([Buffer.from('{"jsonrpc":"2.0","id":7,"method":"ping","params":{"p":"'),
    Buffer.from([0xc3, 0x28, 0xff]), Buffer.from('"}}\n')]));
  const error = await nullIdError(server, from);
  assert.equal(error.error.code, -32700);
  assert.ok(server.messages.slice(from).every((message) => message.id !== 7), 'not served');
  await server.ping();
});

test('1,000 calls at once: each answered, past --max-calls as busy', { timeout: 600000 },
  async () => {
    const from = server.messages.length;
    let lines = '';
    for (let id = 1; id <= 1000; ++id)
      lines += JSON.stringify({ jsonrpc: '2.0', id, method: 'tools/call',
        params: { name: 'running', arguments: { set: '1' } } }) + '\n';
    await server.write(lines);
    await server.ping();
    const answered = new Map();
    for (let id = 1; id <= 1000; ++id) {
      const answer = await server.waitFor((message) => message.id === id, 300000, from);
      answered.set(id, answer);
    }
    let busy = 0;
    for (const answer of answered.values()) {
      assert.ok(answer.result, JSON.stringify(answer));
      const said = answer.result.content[0].text;
      if (/^busy: 4 calls are running/.test(said)) ++busy;
      else assert.ok(!answer.result.content[0].text.startsWith('busy'), said);
    }
    assert.ok(busy > 0 && busy < 1000, `${busy} busy`);
    await server.ping();
  });

test('after it all the memory stays bounded and input\'s end exits 0', { timeout: 120000 },
  async (t) => {
    const now = server.residentBytes();
    const grown = now - firstResident;
    t.diagnostic(`resident ${(firstResident / MiB).toFixed(1)} MiB after initialize, ` +
      `${(now / MiB).toFixed(1)} MiB after the rows`);
    // A 10 MB line held, or 1,000 calls' threads kept, would pass this.
    assert.ok(grown < 24 * MiB, `grew by ${(grown / MiB).toFixed(1)} MiB`);
    assert.equal(await server.close(), 0);
  });

test('a tools/call before initialize is refused', { timeout: 120000 }, async () => {
  const fresh = new RawServer([]);
  try {
    const answer = await fresh.request('tools/call', { name: 'list', arguments: {} });
    assert.equal(answer.error.code, -32600);
    assert.match(answer.error.message, /not initialized; send initialize first/);
    await fresh.ping();
    await fresh.initialize();
    await fresh.ping();
  } finally {
    assert.equal(await fresh.close(), 0);
  }
});
