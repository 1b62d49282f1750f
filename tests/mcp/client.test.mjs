// MEmuFarm mcp under Wine against the simulated emulator, driven by the MCP SDK's own client
// over stdio: what an agent's client sees. run.sh prepares the prefix and the environment:
//   MEMUFARM_EXE  the program; WINEPREFIX  a throw-away prefix with the simulated emulator
//   (VMs 0 to 3); SIM_ROOT  the simulated emulator's folder there (for its switches).
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import net from 'node:net';
import path from 'node:path';
import { execFileSync } from 'node:child_process';
import { Client } from '@modelcontextprotocol/sdk/client/index.js';
import { StdioClientTransport } from '@modelcontextprotocol/sdk/client/stdio.js';
import { CallToolResultSchema } from '@modelcontextprotocol/sdk/types.js';
import Ajv2020Module from 'ajv/dist/2020.js';
import { progressBeforeAnswer, recordMessages } from './wire.mjs';

const Ajv2020 = Ajv2020Module.default ?? Ajv2020Module;
const exe = process.env.MEMUFARM_EXE;
const simRoot = process.env.SIM_ROOT;
const wine = '/usr/lib/wine/wine64';
const switches = path.join(simRoot, 'sim-switches.txt');
let adbPort;  // the simulated adb server's, free on 127.0.0.1 when the tests begin

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

function environment() {
  return {
    ...process.env,
    WINEDEBUG: '-all',
    WINEDLLOVERRIDES: 'mscoree,mshtml=',
    ANDROID_ADB_SERVER_PORT: String(adbPort),
  };
}

// A client connected to a new server started with `args` after "mcp".
async function serve(args = []) {
  const transport = new StdioClientTransport({
    command: wine,
    args: [exe, 'mcp', ...args],
    env: environment(),
    stderr: 'pipe',
  });
  const client = new Client({ name: 'memufarm-test', version: '1.0.0' });
  await client.connect(transport, { timeout: 60000 });
  return client;
}

function text(result) {
  return result.content.filter((item) => item.type === 'text').map((item) => item.text).join('');
}

let client;

before(async () => {
  adbPort = await freePort();
  fs.writeFileSync(switches, '');
  client = await serve(['--deadline', '120']);
});

after(async () => {
  if (client) await client.close();
  // Every process of the prefix: the simulated adb server this run started on its own port,
  // the VMs, a tool left running. Each holds the pipes of the server that started it.
  try {
    execFileSync('/usr/lib/wine/wineserver', ['-k'], { env: environment(), timeout: 30000 });
  } catch { /* nothing was running */ }
});

test('every tool has schemas that compile as JSON Schema 2020-12', async () => {
  const { tools } = await client.listTools();
  assert.ok(tools.length > 20, `${tools.length} tools`);
  const ajv = new Ajv2020({ strict: true, allErrors: true });
  for (const tool of tools) {
    assert.equal(tool.inputSchema.type, 'object', tool.name);
    assert.equal(tool.inputSchema.additionalProperties, false, tool.name);
    ajv.compile(tool.inputSchema);
    ajv.compile(tool.outputSchema);
    assert.ok(tool.description.length > 0, tool.name);
  }
  const names = tools.map((tool) => tool.name);
  assert.ok(names.includes('start') && names.includes('screenshot') && !names.includes('mcp'));
  // Started without --files: nothing writes a file on the PC.
  assert.ok(!names.includes('export'));
  const screenshot = tools.find((tool) => tool.name === 'screenshot');
  assert.ok(!('file' in screenshot.inputSchema.properties));
});

test('list answers with the document --json prints', { timeout: 60000 }, async () => {
  const result = await client.callTool({ name: 'list', arguments: {} });
  assert.equal(result.isError, false, text(result));
  assert.equal(result.structuredContent.ok, true);
  assert.deepEqual(result.structuredContent.vms.map((vm) => vm.index), [0, 1, 2, 3]);
  assert.match(text(result), /MEmu_1/);
});

test('start over a set with --boot tells progress for each VM', { timeout: 240000 }, async () => {
  const messages = recordMessages(client);
  const result = await client.callTool(
    { name: 'start', arguments: { set: '1-3', boot: true, parallel: 3 } },
    CallToolResultSchema,
    { timeout: 200000, onprogress: () => {} });
  assert.equal(result.isError, false, text(result));
  assert.equal(result.structuredContent.counts.ok, 3);
  const { answered, progress: seen } = progressBeforeAnswer(messages);
  assert.ok(answered);
  assert.equal(seen.length, 3);
  assert.deepEqual(seen.map((p) => p.progress), [1, 2, 3]);
  for (const p of seen) assert.equal(p.total, 3);
  const indexes = seen.map((p) => Number(p.message.trim().split(/\s+/)[0])).sort();
  assert.deepEqual(indexes, [1, 2, 3]);
});

// An image's width from its own header: PNG's IHDR, or JPEG's start-of-frame marker.
function imageWidth(bytes) {
  if (bytes.subarray(0, 8).equals(Buffer.from('89504e470d0a1a0a', 'hex'))) return bytes.readUInt32BE(16);
  assert.ok(bytes[0] === 0xff && bytes[1] === 0xd8, 'neither PNG nor JPEG');
  for (let at = 2; at + 9 < bytes.length;) {
    assert.equal(bytes[at], 0xff, 'a JPEG marker');
    const marker = bytes[at + 1];
    if (marker >= 0xc0 && marker <= 0xc3) return bytes.readUInt16BE(at + 7);
    at += 2 + bytes.readUInt16BE(at + 2);
  }
  assert.fail('no JPEG frame');
}

async function screenshot(args) {
  return client.callTool({ name: 'screenshot', arguments: { set: '1-3', ...args } },
    CallToolResultSchema, { timeout: 100000 });
}

test('screenshot over three VMs is scaled to fit max_bytes and max_width', { timeout: 120000 },
  async () => {
    const budget = 60000;
    const result = await screenshot({ max_bytes: budget, max_width: 640 });
    assert.equal(result.isError, false, text(result));
    const images = result.content.filter((item) => item.type === 'image');
    assert.equal(images.length, 3, text(result));
    for (const image of images) {
      assert.equal(image.mimeType, 'image/png');
      const bytes = Buffer.from(image.data, 'base64');
      assert.equal(bytes.subarray(1, 4).toString(), 'PNG');
      assert.ok(imageWidth(bytes) <= 640, `${imageWidth(bytes)} px wide`);
    }
    // The simulated screens are 1280x720: scaled, and the text says from what.
    assert.match(text(result), /VM 3: the screen is 1280x720, sent as \d+x\d+/);
    assert.ok(JSON.stringify(result).length <= budget, `${JSON.stringify(result).length} bytes`);
  });

test('screenshot with format jpeg gives JPEG images', { timeout: 120000 }, async () => {
  const result = await screenshot({ format: 'jpeg', max_width: 320 });
  assert.equal(result.isError, false, text(result));
  const images = result.content.filter((item) => item.type === 'image');
  assert.equal(images.length, 3, text(result));
  for (const image of images) {
    assert.equal(image.mimeType, 'image/jpeg');
    assert.equal(imageWidth(Buffer.from(image.data, 'base64')), 320);
  }
});

test('a hung tool is aborted and the server answers the next call', { timeout: 120000 },
  async () => {
    fs.writeFileSync(switches, 'memuc.exe shake hang\r\n');
    const abort = new AbortController();
    const call = client.callTool({ name: 'shake', arguments: { set: '1' } },
      CallToolResultSchema, { signal: abort.signal, timeout: 100000 });
    setTimeout(() => abort.abort(), 3000);
    await assert.rejects(call);
    fs.writeFileSync(switches, '');
    const result = await client.callTool({ name: 'list', arguments: {} });
    assert.equal(result.isError, false, text(result));
  });

test('a failing call is an error with the reason', { timeout: 60000 }, async () => {
  const result = await client.callTool({ name: 'start', arguments: { set: '9', wait: true } });
  assert.equal(result.isError, true);
  assert.equal(result.structuredContent.ok, false);
  assert.match(text(result), /ERROR/);
});

test('a refused argument is an error with the console\'s message', async () => {
  const result = await client.callTool({ name: 'stop', arguments: { set: '1', parallel: 0 } });
  assert.equal(result.isError, true);
  assert.equal(result.structuredContent.error.exit_code, 2);
  assert.match(text(result), /--parallel must be a whole number from 1 to 64, not '0'/);
});

test('under --vms a call outside the set is refused and the wide tools are gone',
  { timeout: 120000 }, async () => {
    const limited = await serve(['--vms', '1-2']);
    try {
      const names = (await limited.listTools()).tools.map((tool) => tool.name);
      for (const gone of ['adb', 'stopall', 'sortwin', 'create', 'copy', 'import', 'clone'])
        assert.ok(!names.includes(gone), gone);
      const outside = await limited.callTool({ name: 'running', arguments: { set: '3' } });
      assert.equal(outside.isError, true);
      assert.match(text(outside), /not among the VMs this server may act on/);
      const within = await limited.callTool({ name: 'running', arguments: { set: 'all' } });
      assert.equal(within.isError, false, text(within));
      assert.deepEqual(within.structuredContent.results.map((r) => r.index), [1, 2]);
    } finally {
      await limited.close();
    }
  });
