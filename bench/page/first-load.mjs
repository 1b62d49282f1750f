// The farm page's first load in a real browser, for the benchmark's page section: Debian's
// Chromium, driven by the page test's playwright-core, against MEmuFarm serve under Wine
// (scripts/bench.sh starts this once memu_bench names the service's port and token).
// Prints "name value" lines for memu_bench:
//   tiles_s      from navigation to every tile drawn with its state (running or stopped)
//   verdicts_s   from navigation to every tile with its health verdict (none "checking")
//   thumbs_s     from navigation to every tile's thumbnail loaded
//   tiles, verdicts, thumbs  how many there were at those times (or at the time limit)
// and the same, warm_*, for a second page opened while the service holds the first one's.
// Usage: node first-load.mjs PORT TOKEN VMS
import { chromium } from '../../tests/page/node_modules/playwright-core/index.mjs';

const [port, token, vmsText] = process.argv.slice(2);
const VMS = Number(vmsText);
const BASE = `http://127.0.0.1:${port}`;
const LIMIT_MS = 150000;  // each wait

// The whole run is bounded: a browser that hangs ends it with a failure.
setTimeout(() => {
  console.error('the first load took over 420 s');
  process.exit(2);
}, 420000).unref();

async function counts(page) {
  return page.evaluate(() => {
    const tiles = [...document.querySelectorAll('.tile[data-state]')];
    const verdicts = tiles.filter((tile) => tile.dataset.state !== 'checking');
    const thumbs = tiles.filter((tile) => {
      const img = tile.querySelector('.shot img');
      return img && !img.hidden && img.complete && img.naturalWidth > 0;
    });
    return { tiles: tiles.length, verdicts: verdicts.length, thumbs: thumbs.length };
  });
}

// Polls the page every 50 ms until `done(counts)`, or the limit; the seconds since `start`.
async function until(page, start, done) {
  const end = Date.now() + LIMIT_MS;
  for (;;) {
    const seen = await counts(page);
    if (done(seen) || Date.now() > end) return { seconds: (Date.now() - start) / 1000, ...seen };
    await new Promise((resolve) => setTimeout(resolve, 50));
  }
}

async function load(browser, prefix) {
  const context = await browser.newContext({ viewport: { width: 1920, height: 1080 } });
  const page = await context.newPage();
  const start = Date.now();
  await page.goto(`${BASE}/?token=${token}`, { timeout: LIMIT_MS });
  const tiles = await until(page, start, (seen) => seen.tiles >= VMS);
  const verdicts = await until(page, start, (seen) => seen.verdicts >= VMS);
  const thumbs = await until(page, start, (seen) => seen.thumbs >= VMS);
  await context.close();
  return [
    `${prefix}tiles_s ${tiles.seconds.toFixed(3)}`,
    `${prefix}tiles ${tiles.tiles}`,
    `${prefix}verdicts_s ${verdicts.seconds.toFixed(3)}`,
    `${prefix}verdicts ${verdicts.verdicts}`,
    `${prefix}thumbs_s ${thumbs.seconds.toFixed(3)}`,
    `${prefix}thumbs ${thumbs.thumbs}`,
  ];
}

const browser = await chromium.launch({ executablePath: '/usr/bin/chromium', args: ['--no-sandbox'] });
try {
  const lines = [...(await load(browser, '')), ...(await load(browser, 'warm_'))];
  process.stdout.write(lines.join('\n') + '\n');
} finally {
  await browser.close();
}
