// The farm page in a real browser: Debian's Chromium, driven by playwright-core, against
// MEmuFarm serve under Wine with the simulated emulator (run.sh starts both). Each test reads
// what the user sees, and the simulated emulator's journal and state for what reached it.
import { test as nodeTest, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import { chromium } from 'playwright-core';

const URL_BASE = process.env.PAGE_URL;
const TOKEN = process.env.PAGE_TOKEN;
const SIM = process.env.SIM_ROOT;
const SHOTS = process.env.SHOTS_DIR;
const CHINESE = '农场一号';
const HOSTILE = '<img src=x onerror="window.__hostile=1">';

let browser;
let context;
let page;

// Each test is bounded, so that a page or a service that stops answering fails that test with
// its name, not the whole run at run.sh's time-out; `seconds` for one that waits on a VM's boot.
function test(name, fn, seconds = 90) {
  return nodeTest(name, { timeout: seconds * 1000 }, fn);
}
// The service's own requests, bounded the same way.
const bounded = (seconds = 60) => AbortSignal.timeout(seconds * 1000);
// A browser step that has no time-out of its own (a new page, its close), or one whose own is
// the browser's default: bounded, and named when it does not end.
async function within(what, promise, seconds = 20) {
  let timer;
  const late = new Promise((resolve, reject) => {
    timer = setTimeout(() => reject(new Error(what + ' did not end within ' + seconds + ' s')), seconds * 1000);
  });
  try {
    return await Promise.race([promise, late]);
  } finally {
    clearTimeout(timer);
  }
}

function journal() {
  return fs.readFileSync(path.join(SIM, 'sim-journal.txt'), 'latin1').replace(/\r/g, '');
}

function startedVms() {
  const started = new Set();
  for (const line of fs.readFileSync(path.join(SIM, 'sim-state.txt'), 'latin1').split(/\r?\n/)) {
    if (!line || line.startsWith('#')) continue;
    const [index, , on] = line.split('\t');
    if (on === '1') started.add(Number(index));
  }
  return started;
}

async function runByToken(argv) {
  const response = await fetch(URL_BASE + '/api/run', {
    method: 'POST',
    headers: { Authorization: 'Bearer ' + TOKEN, 'Content-Type': 'application/json' },
    body: JSON.stringify({ argv }),
    signal: bounded(),
  });
  return { status: response.status, document: await response.json() };
}

async function until(what, check, seconds = 40) {
  const end = Date.now() + seconds * 1000;
  for (;;) {
    const value = await check();
    if (value) return value;
    if (Date.now() > end) assert.fail('timed out waiting for ' + what);
    await new Promise((resolve) => setTimeout(resolve, 250));
  }
}

const tile = (index) => page.locator(`.tile[data-index="${index}"]`);

before(async () => {
  // Titles the page must show as they are: Chinese, and one that holds HTML.
  for (const [index, title] of [[1, CHINESE], [2, HOSTILE]]) {
    const { status, document } = await runByToken(['rename', String(index), title]);
    assert.equal(status, 200, JSON.stringify(document));
  }
  browser = await chromium.launch({ executablePath: '/usr/bin/chromium', args: ['--no-sandbox'] });
  context = await browser.newContext({ viewport: { width: 1920, height: 1080 }, locale: 'en-US' });
  page = await context.newPage();
  page.on('dialog', (dialog) => dialog.accept());
}, { timeout: 120000 });

after(async () => {
  if (browser) await browser.close();
}, { timeout: 60000 });

test('the token leaves the address: a 303 with an HttpOnly, SameSite=Strict cookie', async () => {
  const response = await page.goto(URL_BASE + '/?token=' + TOKEN);
  assert.equal(page.url(), URL_BASE + '/');
  const first = response.request().redirectedFrom();
  assert.ok(first, 'the first answer redirected');
  assert.equal((await first.response()).status(), 303);
  const cookies = await context.cookies();
  const session = cookies.find((cookie) => cookie.name === 'memufarm_session');
  assert.ok(session, 'the session cookie is set');
  assert.equal(session.httpOnly, true);
  assert.equal(session.sameSite, 'Strict');
  const headers = response.headers();
  assert.match(headers['content-security-policy'], /script-src 'self'/);
  assert.doesNotMatch(headers['content-security-policy'], /unsafe-inline/);
  assert.equal(headers['x-content-type-options'], 'nosniff');
  assert.equal(headers['referrer-policy'], 'no-referrer');
});

test('without the cookie or the token the page does not load', async () => {
  const response = await fetch(URL_BASE + '/', { signal: bounded() });
  assert.equal(response.status, 401);
});

test('one tile per VM, each running one with a thumbnail', async () => {
  await until('four tiles', async () => (await page.locator('.tile').count()) === 4);
  for (const index of [0, 1]) {
    await until('the thumbnail of VM ' + index, () =>
      tile(index).locator('.shot img').evaluate((img) => !img.hidden && img.complete && img.naturalWidth > 0));
  }
  const width = await tile(0).locator('.shot img').evaluate((img) => img.naturalWidth);
  assert.ok(width > 0 && width < 1280, 'a thumbnail is scaled on the PC: ' + width);
});

test('a Chinese title shows intact, a title with HTML shows as text and runs nothing', async () => {
  await until('the titles', async () => (await tile(1).locator('.name').textContent()) === CHINESE);
  assert.equal(await tile(2).locator('.name').textContent(), HOSTILE);
  assert.equal(await tile(2).locator('.name img').count(), 0);
  assert.equal(await page.evaluate(() => window.__hostile), undefined);
});

test('the filter "stopped" shows only the stopped VMs', async () => {
  await page.locator('#filters button[data-filter="stopped"]').click();
  const shown = await page.locator('.tile:visible').evaluateAll((tiles) => tiles.map((t) => t.dataset.state));
  assert.deepEqual(shown, ['stopped', 'stopped']);
  await page.locator('#filters button[data-filter="all"]').click();
  assert.equal(await page.locator('.tile:visible').count(), 4);
});

test('a search by title or index', async () => {
  await page.locator('#search').fill('农场');
  assert.deepEqual(await page.locator('.tile:visible').evaluateAll((t) => t.map((x) => x.dataset.index)), ['1']);
  await page.locator('#search').fill('3');
  assert.deepEqual(await page.locator('.tile:visible').evaluateAll((t) => t.map((x) => x.dataset.index)), ['3']);
  await page.locator('#search').fill('');
});

test('screenshots of the page at 1920x1080 and at a phone\'s 390x844', async () => {
  fs.mkdirSync(SHOTS, { recursive: true });
  const drawn = (where) => where.locator('.tile .shot img:not([hidden])').evaluateAll((images) =>
    images.length >= 2 && images.every((img) => img.complete && img.naturalWidth > 0));
  await until('every thumbnail drawn', () => drawn(page));
  await page.screenshot({ path: path.join(SHOTS, 'page-1920x1080.png') });
  const phone = await browser.newContext({ viewport: { width: 390, height: 844 }, locale: 'zh-CN',
    deviceScaleFactor: 2, isMobile: true, hasTouch: true });
  await phone.addCookies(await context.cookies());
  const small = await phone.newPage();
  await small.goto(URL_BASE + '/');
  await until('the phone\'s thumbnails', () => drawn(small));
  assert.equal(await small.locator('#filters button[data-filter="stopped"]').textContent(), '已停止');
  await small.screenshot({ path: path.join(SHOTS, 'page-390x844.png') });
  await phone.close();
  assert.ok(fs.statSync(path.join(SHOTS, 'page-1920x1080.png')).size > 10000);
});

test('a tap on the enlarged screen reaches the device at the scaled point', async () => {
  await tile(0).locator('.shot').click();
  const img = page.locator('#view-img');
  await until('the full-size screen', () =>
    img.evaluate((i) => i.complete && i.naturalWidth === 1280 && i.getAttribute('src').includes('full=1')));
  const box = await img.boundingBox();
  await page.screenshot({ path: path.join(SHOTS, 'page-enlarged.png') });
  const before = journal().length;
  await img.click({ position: { x: box.width / 4, y: box.height / 2 } });
  // A quarter across, half down the shown screen: (320, 360) of the device's 1280x720, give
  // or take the pixel the mouse's position is rounded to.
  const tapped = await until('the tap in the journal', () => /input tap (\d+) (\d+)/.exec(journal().slice(before)));
  const [x, y] = [Number(tapped[1]), Number(tapped[2])];
  assert.ok(Math.abs(x - 320) <= 2 * 1280 / box.width && Math.abs(y - 360) <= 2 * 720 / box.height,
    `tapped at ${x},${y}`);
  const typedFrom = journal().length;
  await page.locator('#view-text').fill('你好');
  await page.locator('#view-type button[type="submit"]').click();
  await until('the typed text\'s verdict', async () => /^Type #0: ok$/.test(await page.locator('#status').textContent()));
  assert.match(journal().slice(typedFrom), /input/, 'the text reached the emulator\'s input');
  await page.locator('#view-close').click();
});

test('"start" on a stopped VM\'s tile shows it running', async () => {
  assert.ok(!startedVms().has(3));
  await tile(3).locator('.shot').click();
  await page.locator('#view-actions button[data-act="start"]').click();
  await until('the start\'s verdict', async () => /^Start 3: ok$/.test(await page.locator('#status').textContent()), 120);
  assert.ok(startedVms().has(3));
  await page.locator('#view-close').click();
  await until('VM 3 shown running', async () => (await tile(3).getAttribute('data-state')) !== 'stopped');
}, 200);

test('a request from another origin, or without the CSRF token, changes nothing', async () => {
  const cookie = (await context.cookies()).find((c) => c.name === 'memufarm_session');
  const body = JSON.stringify({ argv: ['stop', '0'] });
  const asked = [
    { Origin: 'http://evil.example', 'X-CSRF-Token': 'x' },
    { Origin: URL_BASE },
    { Origin: URL_BASE, 'X-CSRF-Token': 'not-the-token' },
  ];
  for (const extra of asked) {
    const response = await fetch(URL_BASE + '/api/run', {
      method: 'POST',
      headers: { 'Content-Type': 'application/json', Cookie: 'memufarm_session=' + cookie.value, ...extra },
      body,
      signal: bounded(),
    });
    assert.equal(response.status, 403, JSON.stringify(extra));
  }
  // A page of another origin (another port of this address: the same site, so the browser
  // sends the cookie) posting a form and a fetch.
  const evil = http.createServer((request, response) => {
    response.setHeader('Content-Type', 'text/html');
    response.end(`<!doctype html><form id="f" method="POST" action="${URL_BASE}/api/run" enctype="text/plain">
      <input name='{"argv":["stop","0"],"x":"' value='"}'></form>
      <script>fetch(${JSON.stringify(URL_BASE + '/api/run')}, {method: 'POST', mode: 'no-cors', credentials: 'include',
        headers: {'Content-Type': 'text/plain'}, body: ${JSON.stringify(body)}}).finally(() => document.getElementById('f').submit());</script>`);
  });
  await new Promise((resolve) => evil.listen(0, '127.0.0.1', resolve));
  // The other site's server ends whatever happens here: one left listening would keep node
  // from ever ending the run.
  try {
    const other = await within('a new page', context.newPage());
    const refused = other.waitForResponse((r) => r.url() === URL_BASE + '/api/run' && r.request().resourceType() === 'document',
      { timeout: 20000 });
    await within('the other site\'s page', other.goto(`http://127.0.0.1:${evil.address().port}/`, { timeout: 20000 }));
    assert.equal((await within('the refused form', refused)).status(), 403);
    // The refusal is a navigation to this server's origin: closing the page while Chromium
    // commits it can leave the close unanswered for good (a known Chromium race), so the close
    // waits until the refusal has loaded.
    await other.waitForURL(URL_BASE + '/api/run', { waitUntil: 'load', timeout: 20000 });
    await within('the other page\'s close', other.close());
  } finally {
    evil.closeAllConnections();
    evil.close();
  }
  assert.ok(startedVms().has(0), 'VM 0 still runs');
  assert.doesNotMatch(journal(), /memuc stop -i 0/);
});
