// MEmuFarm serve's POST /mcp under Wine against the simulated emulator, driven by the MCP SDK's
// own client over Streamable HTTP with the owner's token in its headers: the calls the stdio
// test makes, then two sessions side by side, then the statuses of the door.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import net from 'node:net';
import path from 'node:path';
import { Client } from '@modelcontextprotocol/sdk/client/index.js';
import { StreamableHTTPClientTransport } from '@modelcontextprotocol/sdk/client/streamableHttp.js';
import { CallToolResultSchema } from '@modelcontextprotocol/sdk/types.js';
import { startServe } from './serve-process.mjs';
import { progressBeforeAnswer, recordMessages } from './wire.mjs';

const switches = path.join(process.env.SIM_ROOT, 'sim-switches.txt');
let serve;

async function connect() {
  const transport = new StreamableHTTPClientTransport(new URL(`http://127.0.0.1:${serve.port}/mcp`), {
    requestInit: { headers: { Authorization: `Bearer ${serve.token}` } },
  });
  const client = new Client({ name: 'memufarm-http-test', version: '1.0.0' });
  await client.connect(transport, { timeout: 60000 });
  return { client, transport };
}

function text(result) {
  return result.content.filter((item) => item.type === 'text').map((item) => item.text).join('');
}

let client;
let transport;

before(async () => {
  fs.writeFileSync(switches, '');
  serve = await startServe(['--deadline', '120']);
  ({ client, transport } = await connect());
});

after(async () => {
  // A server that ended by itself failed every test after it: say how, with what it printed.
  if (serve && serve.ended()) console.log(`serve ended (${serve.ended()}):\n${serve.output().slice(-4000)}`);
  if (client) await client.close().catch(() => {});
  if (serve) serve.stop();
});

test('initialize gives a session id and the tools are those of mcp', async () => {
  assert.match(transport.sessionId, /^[0-9a-f]{32}$/);
  const names = (await client.listTools()).tools.map((tool) => tool.name);
  assert.ok(names.includes('start') && names.includes('screenshot') && !names.includes('mcp'));
});

test('list answers with the document --json prints', { timeout: 60000 }, async () => {
  const result = await client.callTool({ name: 'list', arguments: {} });
  assert.equal(result.isError, false, text(result));
  assert.deepEqual(result.structuredContent.vms.map((vm) => vm.index), [0, 1, 2, 3]);
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
  assert.deepEqual(seen.map((p) => p.progress), [1, 2, 3]);
  for (const p of seen) assert.equal(p.total, 3);
});

test('screenshot over three VMs fits max_bytes', { timeout: 120000 }, async () => {
  const budget = 60000;
  const result = await client.callTool(
    { name: 'screenshot', arguments: { set: '1-3', max_bytes: budget, max_width: 640 } },
    CallToolResultSchema, { timeout: 100000 });
  assert.equal(result.isError, false, text(result));
  const images = result.content.filter((item) => item.type === 'image');
  assert.equal(images.length, 3, text(result));
  for (const image of images) assert.equal(image.mimeType, 'image/png');
  assert.ok(JSON.stringify(result).length <= budget, `${JSON.stringify(result).length} bytes`);
});

// A raw POST of one request in the test's session, its connection reset by the client as soon
// as the first bytes of the answer arrive.
function resetDuringAnswer(id, call) {
  const body = JSON.stringify({ jsonrpc: '2.0', id, method: 'tools/call', params: call });
  return new Promise((resolve) => {
    const socket = net.connect(serve.port, '127.0.0.1', () => {
      socket.write(`POST /mcp HTTP/1.1\r\nHost: 127.0.0.1:${serve.port}\r\n`
        + `Authorization: Bearer ${serve.token}\r\nMcp-Session-Id: ${transport.sessionId}\r\n`
        + 'Content-Type: application/json\r\nAccept: application/json, text/event-stream\r\n'
        + `Content-Length: ${Buffer.byteLength(body)}\r\n\r\n${body}`);
    });
    socket.setTimeout(60000, () => socket.destroy());
    socket.once('data', () => socket.resetAndDestroy());
    socket.on('error', () => {});
    socket.on('close', resolve);
  });
}

test('clients that go away in the middle of a long answer leave the server answering',
  { timeout: 240000 }, async () => {
    const call = { name: 'screenshot', arguments: { set: '1-3', max_bytes: 5000000, max_width: 1280 } };
    for (let i = 0; i < 5; ++i) await resetDuringAnswer(7000 + i, call);
    assert.equal(serve.ended(), null, serve.output().slice(-2000));
    const result = await client.callTool({ name: 'list', arguments: {} });
    assert.equal(result.isError, false, text(result));
  });

test('a hung tool is cancelled and the session answers the next call', { timeout: 120000 },
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
  assert.match(text(result), /ERROR/);
});

test('a refused argument is an error with the console\'s message', async () => {
  const result = await client.callTool({ name: 'stop', arguments: { set: '1', parallel: 0 } });
  assert.equal(result.isError, true);
  assert.equal(result.structuredContent.error.exit_code, 2);
  assert.match(text(result), /--parallel must be a whole number from 1 to 64, not '0'/);
});

test('a cancel in one session leaves the other\'s call with the same id running to its answer',
  { timeout: 120000 }, async () => {
    // VM 1's shake hangs; VM 2's answers after a few seconds.
    fs.writeFileSync(switches, 'memuc.exe shake hang 1\r\nmemuc.exe shake delay=6000 2\r\n');
    const a = await connect();
    const b = await connect();
    try {
      assert.notEqual(a.transport.sessionId, b.transport.sessionId);
      const abort = new AbortController();
      // Both are each session's first request after initialize: the same request id.
      const inA = a.client.callTool({ name: 'shake', arguments: { set: '1' } },
        CallToolResultSchema, { signal: abort.signal, timeout: 100000 });
      const inB = b.client.callTool({ name: 'shake', arguments: { set: '2' } },
        CallToolResultSchema, { timeout: 100000 });
      setTimeout(() => abort.abort(), 2000);
      await assert.rejects(inA);
      const result = await inB;
      assert.equal(result.isError, false, text(result));
      assert.equal(result.structuredContent.ok, true);
    } finally {
      fs.writeFileSync(switches, '');
      await a.transport.terminateSession();
      await b.transport.terminateSession();
      await a.client.close();
      await b.client.close();
    }
  });

test('a request without the token is refused, and an ended session is 404', async () => {
  const url = `http://127.0.0.1:${serve.port}/mcp`;
  const { token } = serve;
  const body = JSON.stringify({ jsonrpc: '2.0', id: 1, method: 'tools/list' });
  const headers = { 'Content-Type': 'application/json', Accept: 'application/json, text/event-stream' };
  assert.equal((await fetch(url, { method: 'POST', headers, body })).status, 401);
  const auth = { ...headers, Authorization: `Bearer ${token}` };
  assert.equal((await fetch(url, { method: 'POST', headers: auth, body })).status, 400);
  const { transport: ended } = await connect();
  const id = ended.sessionId;
  await ended.terminateSession();
  const after = await fetch(url, { method: 'POST', headers: { ...auth, 'Mcp-Session-Id': id }, body });
  assert.equal(after.status, 404);
  assert.equal((await fetch(url, { method: 'GET', headers: auth })).status, 405);
  assert.equal((await fetch(url, {
    method: 'POST', headers: { ...auth, 'MCP-Protocol-Version': '2024-01-01' }, body,
  })).status, 400);
});
