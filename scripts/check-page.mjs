// The page as a visitor gets it, for make test-dist: loads each address given in headless
// Chromium (puppeteer-core from NODE_MODULES), waits until the program has shown FRAMES frames
// and records what went wrong on the way: a request answered with 4xx or 5xx, a request that
// failed to load, an error in the console and an uncaught error. Prints one JSON line per
// address: {url, frames, threaded, problems: [...]}.
//
// Usage: node scripts/check-page.mjs NODE_MODULES FRAMES URL...
import { createRequire } from 'node:module';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';

const [modules, framesText, ...urls] = process.argv.slice(2);
const require = createRequire(path.resolve(modules, 'package.json'));
const puppeteer = require('puppeteer-core');
const wanted = Number(framesText);

async function visit(browser, url) {
  const problems = [];
  const page = await browser.newPage();
  page.on('response', (r) => { if (r.status() >= 400) problems.push(`${r.status()} ${r.url()}`); });
  page.on('requestfailed', (r) => {
    problems.push(`failed to load ${r.url()} (${r.failure() ? r.failure().errorText : '?'})`);
  });
  page.on('console', (m) => { if (m.type() === 'error') problems.push(`console error: ${m.text()}`); });
  page.on('pageerror', (e) => { if (!/ExitStatus/.test(e.message)) problems.push(`uncaught: ${e.message}`); });
  await page.goto(url, { waitUntil: 'load' });
  const end = Date.now() + 120000;
  let seen = { frames: 0, threaded: null, exit: null };
  while (Date.now() < end) {
    seen = await page.evaluate(() => (window.vorl
      ? { frames: window.vorl.frames, threaded: window.vorl.threaded, exit: window.vorl.exitStatus }
      : { frames: 0, threaded: null, exit: null }));
    if (seen.frames >= wanted || seen.exit !== null) break;
    await new Promise((resolve) => setTimeout(resolve, 200));
  }
  // Whatever the page fetches after its first frames (the icon in the header, say) has had
  // its time too.
  await page.waitForNetworkIdle({ idleTime: 500, timeout: 10000 }).catch(() => {});
  await page.close();
  return { url, ...seen, problems };
}

const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'vorl-chromium-'));
const browser = await puppeteer.launch({
  executablePath: process.env.CHROMIUM || '/usr/bin/chromium', headless: true, userDataDir: profile,
  args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
         '--disable-background-networking', '--disable-component-update', '--disable-sync',
         '--disable-dev-shm-usage'],
});
try {
  for (const url of urls) console.log(JSON.stringify(await visit(browser, url)));
} finally {
  await browser.close();
  fs.rmSync(profile, { recursive: true, force: true });
}
