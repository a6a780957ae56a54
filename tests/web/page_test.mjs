// Browser tests of the page (make test-web): Chromium driven through puppeteer-core against a
// local server. The page must load cross-origin isolated with no error, draw, give the same
// bytes as the Linux build for the same command line (a plain run and a scripted session),
// take keys typed into it, keep a surface file saved with S across a reload, and run on one
// thread with the same picture when the page is not isolated.
//
// Usage: node tests/web/page_test.mjs BUILD_WEB LINUX_VORL DATA_FOLDER
import { spawn, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { createRequire } from 'node:module';

const [webFolder, linuxProgram, dataFolder] = process.argv.slice(2).map((p) => path.resolve(p));
const require = createRequire(path.resolve(webFolder, 'package.json'));
const puppeteer = require('puppeteer-core');

let failures = 0;
function check(ok, what) {
  console.log((ok ? '  ok    ' : '  FAIL  ') + what);
  if (!ok) failures++;
}
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// The same run through the Linux build: its last frame as RGBA bytes, rows top first.
function linuxFrame(args, script) {
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'vorl-web-linux-'));
  fs.cpSync(dataFolder, path.join(folder, 'data'), { recursive: true });
  if (script) fs.writeFileSync(path.join(folder, script.name), script.text);
  const run = spawnSync(linuxProgram, ['--headless', '--save-last-frame', 'last.tga', ...args],
    { cwd: folder, env: { ...process.env, DISPLAY: '' } });
  const tga = fs.readFileSync(path.join(folder, 'last.tga'));
  fs.rmSync(folder, { recursive: true, force: true });
  const width = tga[12] | (tga[13] << 8);
  const height = tga[14] | (tga[15] << 8);
  const rgba = Buffer.alloc(width * height * 4);
  for (let y = 0; y < height; ++y) {
    const row = 18 + (height - 1 - y) * width * 3;   // the file stores the bottom row first
    for (let x = 0; x < width; ++x) {
      const at = row + x * 3;
      const to = (y * width + x) * 4;
      rgba[to] = tga[at + 2];
      rgba[to + 1] = tga[at + 1];
      rgba[to + 2] = tga[at];
      rgba[to + 3] = 255;
    }
  }
  return { status: run.status, width, height, rgba };
}

async function canvasBytes(page) {
  const encoded = await page.evaluate(() => {
    const canvas = document.getElementById('canvas');
    const data = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
    let text = '';
    for (let i = 0; i < data.length; i += 0x8000) {
      text += String.fromCharCode.apply(null, data.subarray(i, i + 0x8000));
    }
    return { width: canvas.width, height: canvas.height, bytes: btoa(text) };
  });
  return { width: encoded.width, height: encoded.height,
           rgba: Buffer.from(encoded.bytes, 'base64') };
}

const state = (page) => page.evaluate(() => ({
  exit: window.vorl.exitStatus, frames: window.vorl.frames, threaded: window.vorl.threaded,
  isolated: self.crossOriginIsolated, errors: window.vorl.errors.slice() }));

async function waitFor(page, test, seconds) {
  const end = Date.now() + seconds * 1000;
  while (Date.now() < end) {
    const s = await state(page);
    if (test(s)) return s;
    await sleep(200);
  }
  return state(page);
}

async function openPage(browser, url, errors) {
  const page = await browser.newPage();
  page.on('console', (m) => {
    if (m.type() === 'error' && !/favicon/.test(m.location().url || '')) errors.push(m.text());
  });
  page.on('pageerror', (e) => { if (!/ExitStatus/.test(e.message)) errors.push(e.message); });
  await page.goto(url);
  return page;
}

const query = (args) => '?args=' + encodeURIComponent(args.join(' '));

function lit(rgba) {
  let count = 0;
  for (let i = 0; i < rgba.length; i += 4) if (rgba[i] + rgba[i + 1] + rgba[i + 2] > 30) count++;
  return count;
}

async function sameAsLinux(browser, base, name, args, script, expectThreaded) {
  if (script) fs.writeFileSync(path.join(webFolder, script.name), script.text);
  const errors = [];
  const page = await openPage(browser, base + 'vorl.html' + query(args), errors);
  const s = await waitFor(page, (t) => t.exit !== null, 180);
  const shown = await canvasBytes(page);
  await page.close();
  const linux = linuxFrame(args, script);
  check(s.exit === 0 && linux.status === 0,
        `${name}: the page and Linux end with status 0 (${s.exit}, ${linux.status})`);
  check(s.threaded === expectThreaded,
        `${name}: ${expectThreaded ? 'workers as Web Workers' : 'drawn on one thread'}`);
  check(errors.length === 0, `${name}: no error in the console ${errors.slice(0, 3).join(' | ')}`);
  check(lit(shown.rgba) > 1000, `${name}: the canvas shows a picture`);
  const same = shown.width === linux.width && shown.height === linux.height &&
               Buffer.compare(shown.rgba, linux.rgba) === 0;
  let differing = 0;
  if (!same && shown.rgba.length === linux.rgba.length) {
    for (let i = 0; i < shown.rgba.length; ++i) if (shown.rgba[i] !== linux.rgba[i]) differing++;
  }
  check(same, `${name}: ${shown.width} x ${shown.height} canvas byte-identical to Linux` +
              (same ? '' : ` (${differing} bytes differ)`));
}

async function keysAndStorage(browser, base) {
  const errors = [];
  const args = ['--fixed-clock', '16', '-res', '640x480', '--answer', 'ok'];
  let page = await openPage(browser, base + 'vorl.html' + query(args), errors);
  let s = await waitFor(page, (t) => t.frames >= 20, 60);
  await page.focus('#canvas');
  const before = await canvasBytes(page);
  await page.keyboard.press('F1');
  const f1 = s.frames;
  await waitFor(page, (t) => t.frames >= f1 + 10, 30);
  const afterHelp = await canvasBytes(page);
  let changed = 0;
  for (let i = 0; i < before.rgba.length; i += 4) if (before.rgba[i] !== afterHelp.rgba[i]) changed++;
  check(changed > 500, `keys typed into the page: F1 changes the picture (${changed} pixels)`);

  const shipped = fs.readFileSync(path.join(dataFolder, 'vorl.txt'), 'utf8');
  await page.keyboard.press('KeyS');
  s = await state(page);
  await waitFor(page, (t) => t.frames >= s.frames + 10, 30);
  await sleep(1000);   // the browser's storage is written after the save
  const readSurface = () => page.evaluate(() => {
    try {
      return FS.readFile('/work/data/vorl.txt', { encoding: 'utf8' });
    } catch (e) {
      return 'unreadable: ' + JSON.stringify(FS.readdir('/work/data'));
    }
  });
  const saved = await readSurface();
  check(saved.startsWith('B-Spline Surface') && saved !== shipped,
        'S saves the moving sea into the surface file');
  await page.reload();
  await waitFor(page, (t) => t.frames >= 5, 60);
  const kept = await readSurface();
  check(kept === saved, 'after a reload the saved surface file is still there');
  await page.focus('#canvas');
  await page.keyboard.press('KeyL');
  s = await state(page);
  s = await waitFor(page, (t) => t.frames >= s.frames + 10, 30);
  check(s.exit === null && errors.length === 0,
        `L reads it back and the page runs on ${errors.slice(0, 3).join(' | ')}`);
  await page.close();
}

async function main() {
  const port = 8700 + (process.pid % 200);
  const server = spawn('python3', [path.join(path.dirname(new URL(import.meta.url).pathname),
                                             '../../scripts/serve-web'), webFolder, String(port)],
                       { env: { ...process.env, SERVE_QUIET: '1' }, stdio: 'ignore' });
  await sleep(1000);
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'vorl-chromium-'));
  const browser = await puppeteer.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    headless: true,
    userDataDir: profile,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
           '--disable-background-networking', '--disable-component-update', '--disable-sync',
           '--disable-dev-shm-usage'],
  });
  try {
    const isolated = `http://127.0.0.1:${port}/`;
    const plain = `http://127.0.0.1:${port}/plain/`;
    await sameAsLinux(browser, isolated, 'the default scene',
                      ['--fixed-clock', '16', '--frames', '60', '-res', '640x480'], null, true);
    await sameAsLinux(browser, isolated, 'a scripted session (F1, W, T, I, M)',
                      ['--fixed-clock', '16', '--frames', '80', '-res', '800x600',
                       '--input', 'web-session.txt'],
                      { name: 'web-session.txt',
                        text: '10 key F1\n20 key W\n30 key W\n40 key T\n50 key I\n60 key M\n' },
                      true);
    await sameAsLinux(browser, plain, 'without isolation',
                      ['--fixed-clock', '16', '--frames', '60', '-res', '640x480'], null, false);
    await keysAndStorage(browser, isolated);
  } finally {
    await browser.close();
    server.kill();
    fs.rmSync(profile, { recursive: true, force: true });
  }
  if (failures) {
    console.log(`test-web: ${failures} check(s) failed`);
    process.exit(1);
  }
  console.log('test-web: passed');
}

main().catch((e) => { console.error(e); process.exit(1); });
