// Browser tests of the page (make test-web): Chromium driven through puppeteer-core against a
// local server. The page must load cross-origin isolated, draw, give the same bytes as the
// Linux build for the same command line (a plain run, a scripted session, a run without
// vertical sync, a surface file dropped on it, and on one thread when the page is not
// isolated) with the last frame's statistics line under the picture, take keys typed into it,
// keep a surface file saved with S across a reload, show the program's key list, its --help
// text, option errors, message boxes (as page dialogs) and exit status, run again after
// Escape without a reload, turn the view on a touch drag at phone size, refuse a broken
// surface file with the reader's reason, named by the visitor's own file name; offer the
// surface file as a download on S and on its button, act on the S, L and K buttons, put the
// shipped surface back and say after a reload when a kept one is in use; and no run may leave
// an error or a warning in the console.
//
// Usage: node tests/web/page_test.mjs BUILD_WEB LINUX_VORL DATA_FOLDER
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { createRequire } from 'node:module';
import { openBrowser } from '../../scripts/browser.mjs';

const [webFolder, linuxProgram, dataFolder] = process.argv.slice(2).map((p) => path.resolve(p));
const require = createRequire(path.resolve(webFolder, 'package.json'));
const puppeteer = require('puppeteer-core');

let failures = 0;
function check(ok, what) {
  console.log((ok ? '  ok    ' : '  FAIL  ') + what);
  if (!ok) failures++;
}
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// The same run through the Linux build: its last frame as RGBA bytes (rows top first), its
// output and error.txt, and the text of the files named in `wanted` (in `saved`). `files` are
// written into its folder first (name: text).
function linuxRun(args, files = {}, wanted = []) {
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'vorl-web-linux-'));
  fs.cpSync(dataFolder, path.join(folder, 'data'), { recursive: true });
  for (const [name, text] of Object.entries(files)) fs.writeFileSync(path.join(folder, name), text);
  const run = spawnSync(linuxProgram, ['--headless', '--save-last-frame', 'last.tga', ...args],
    { cwd: folder, env: { ...process.env, DISPLAY: '' }, encoding: 'latin1' });
  const read = (name) => (fs.existsSync(path.join(folder, name))
    ? fs.readFileSync(path.join(folder, name)) : null);
  const tga = read('last.tga');
  const errorFile = read('error.txt');
  const saved = Object.fromEntries(wanted.map((name) => [name, (read(name) || '').toString('latin1')]));
  fs.rmSync(folder, { recursive: true, force: true });
  const result = { status: run.status, out: run.stdout, err: run.stderr, saved,
                   errorText: errorFile ? errorFile.toString('latin1') : '' };
  if (!tga) return { ...result, width: 0, height: 0, rgba: Buffer.alloc(0) };
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
  return { ...result, width, height, rgba };
}

async function canvasBytes(page) {
  const encoded = await page.evaluate(() => {
    // Read through a copy: reading the page's own canvas again and again is what the browser
    // warns about, and the copy holds the same bytes.
    const canvas = document.getElementById('canvas');
    const copy = document.createElement('canvas');
    copy.width = canvas.width;
    copy.height = canvas.height;
    const context = copy.getContext('2d', { willReadFrequently: true });
    context.drawImage(canvas, 0, 0);
    const data = context.getImageData(0, 0, canvas.width, canvas.height).data;
    let text = '';
    for (let i = 0; i < data.length; i += 0x8000) {
      text += String.fromCharCode.apply(null, data.subarray(i, i + 0x8000));
    }
    return { width: canvas.width, height: canvas.height, bytes: btoa(text) };
  });
  return { width: encoded.width, height: encoded.height,
           rgba: Buffer.from(encoded.bytes, 'base64') };
}

function pixelsDiffering(a, b) {
  if (a.rgba.length !== b.rgba.length) return Infinity;
  let count = 0;
  for (let i = 0; i < a.rgba.length; i += 4) {
    if (a.rgba[i] !== b.rgba[i] || a.rgba[i + 1] !== b.rgba[i + 1] || a.rgba[i + 2] !== b.rgba[i + 2]) count++;
  }
  return count;
}

const state = (page) => page.evaluate(() => ({
  exit: window.vorl.exitStatus, frames: window.vorl.frames, threaded: window.vorl.threaded,
  runs: window.vorl.runs, isolated: self.crossOriginIsolated, errors: window.vorl.errors.slice(),
  notice: window.vorl.notice, output: document.getElementById('output').innerText,
  stats: document.getElementById('stats').textContent,
  ended: !document.getElementById('ended').hidden,
  endedText: document.getElementById('ended-text').textContent,
  loading: !document.getElementById('loading').hidden,
  dialog: document.getElementById('box').open,
  dialogText: document.getElementById('box-text').textContent }));

// The files the page has offered as downloads since `from`, once there are `count` of them
// (or after `seconds`): name and text.
async function offered(page, from, count, seconds = 20) {
  return page.evaluate(async (first, wanted, limit) => {
    const end = Date.now() + limit * 1000;
    while (window.vorl.downloads.length < first + wanted && Date.now() < end) {
      await new Promise((resolve) => setTimeout(resolve, 100));
    }
    return Promise.all(window.vorl.downloads.slice(first).map(
      async (d) => ({ name: d.name, text: await d.blob.text() })));
  }, from, count, seconds);
}
// The text of a file downloaded into `folder`, once it has landed there ('' after 5 s).
async function landed(folder, name) {
  const file = path.join(folder, name);
  for (let i = 0; i < 50 && !fs.existsSync(file); ++i) await sleep(100);
  return fs.existsSync(file) ? fs.readFileSync(file, 'utf8') : '';
}
const downloadCount = (page) => page.evaluate(() => window.vorl.downloads.length);
const readFile = (page, name) => page.evaluate((file) => {
  try {
    return window.vorl.module.FS.readFile(file, { encoding: 'utf8' });
  } catch (e) {
    return 'unreadable: ' + e;
  }
}, name);
const noticeShown = (page) => page.evaluate(() => {
  const line = document.getElementById('notice');
  return { text: line.hidden ? '' : line.textContent, bad: line.classList.contains('bad') };
});

async function waitFor(page, test, seconds) {
  const end = Date.now() + seconds * 1000;
  while (Date.now() < end) {
    const s = await state(page);
    if (test(s)) return s;
    await sleep(100);
  }
  return state(page);
}

// A page on `url`; what reaches the console as an error or a warning, an uncaught error, and
// any browser dialog (alert, confirm) goes to `problems`.
async function openPage(browser, url, problems, viewport) {
  const page = await browser.newPage();
  if (viewport) await page.setViewport(viewport);
  page.on('console', (m) => {
    if (['error', 'warn', 'warning'].includes(m.type())) problems.push(`${m.type()}: ${m.text()}`);
  });
  page.on('pageerror', (e) => { if (!/ExitStatus/.test(e.message)) problems.push(e.message); });
  page.on('dialog', async (d) => {
    problems.push(`a browser ${d.type()}: ${d.message()}`);
    await d.dismiss();
  });
  await page.goto(url);
  return page;
}

// No error or warning in the console, and none of the runtime's own in the program's output
// on the page (where the runtime's warnings, such as one about blocking the page's main
// thread, would be printed).
async function clean(page, problems, name) {
  const output = await page.evaluate(() => document.getElementById('output').innerText);
  const runtime = output.split('\n').filter(
    (line) => /main thread|blocking|dangerous|warning|assertion|aborted/i.test(line));
  check(problems.length === 0 && runtime.length === 0,
        `${name}: no error or warning in the console or from the runtime ` +
        problems.concat(runtime).slice(0, 3).join(' | '));
}

const query = (args) => '?args=' + encodeURIComponent(args.join(' '));

function lit(rgba) {
  let count = 0;
  for (let i = 0; i < rgba.length; i += 4) if (rgba[i] + rgba[i + 1] + rgba[i + 2] > 30) count++;
  return count;
}

function sameBytes(name, shown, linux) {
  const same = shown.width === linux.width && shown.height === linux.height &&
               Buffer.compare(shown.rgba, linux.rgba) === 0;
  check(same, `${name}: ${shown.width} x ${shown.height} canvas byte-identical to Linux` +
              (same ? '' : ` (${pixelsDiffering(shown, linux)} pixels differ)`));
}

async function sameAsLinux(browser, base, name, args, script, expectThreaded, extraQuery = '') {
  if (script) fs.writeFileSync(path.join(webFolder, script.name), script.text);
  const problems = [];
  const page = await openPage(browser, base + 'vorl.html' + query(args) + extraQuery, problems);
  const s = await waitFor(page, (t) => t.exit !== null, 180);
  const shown = await canvasBytes(page);
  await clean(page, problems, name);
  await page.close();
  const linux = linuxRun(args, script ? { [script.name]: script.text } : {});
  check(s.exit === 0 && linux.status === 0,
        `${name}: the page and Linux end with status 0 (${s.exit}, ${linux.status})`);
  check(s.threaded === expectThreaded,
        `${name}: ${expectThreaded ? 'the program on its own thread, workers as Web Workers'
                                   : 'drawn on the page\'s thread'}`);
  check(lit(shown.rgba) > 1000, `${name}: the canvas shows a picture`);
  sameBytes(name, shown, linux);
  // The statistics line under the picture is the last frame's, as the Linux run prints it.
  const linuxStats = linux.out.split('\n').filter((line) => /^fps: /.test(line)).pop() || '';
  check(s.stats === linuxStats.replace(/\s+$/, '') && linuxStats !== '',
        `${name}: the page shows the last frame's statistics line (${s.stats})`);
}

// The key panel holds the Linux build's --help key list, entry for entry.
async function keyPanel(browser, base) {
  const problems = [];
  const page = await openPage(browser, base + 'vorl.html' + query(['--fixed-clock', '16']), problems);
  await waitFor(page, (t) => t.frames >= 3, 60);
  const panel = await page.evaluate(() => {
    const groups = [];
    for (const h of document.querySelectorAll('#key-groups h3')) {
      const entries = [];
      const dl = h.nextElementSibling;
      for (const dt of dl.querySelectorAll('dt')) {
        entries.push([Array.from(dt.querySelectorAll('kbd')).map((k) => k.textContent).join(', '),
                      dt.nextElementSibling.textContent]);
      }
      groups.push([h.textContent, entries]);
    }
    return groups;
  });
  const help = spawnSync(linuxProgram, ['--help'], { encoding: 'utf8' }).stdout;
  const expected = [];
  for (const line of help.slice(help.indexOf('\nKeys')).split('\n').slice(2)) {
    if (/^ \S/.test(line)) expected.push([line.trim(), []]);
    else if (/^  \S/.test(line)) {
      const m = /^  (.*?)\s{2,}(.*)$/.exec(line) || /^  (\S+) (.*)$/.exec(line);
      expected[expected.length - 1][1].push([m[1], m[2]]);
    }
  }
  check(expected.length >= 6 && JSON.stringify(panel) === JSON.stringify(expected),
        `the page's key panel is --help's key list (${panel.length} groups, ` +
        `${panel.reduce((n, g) => n + g[1].length, 0)} keys)`);
  const groups = panel.map((g) => g[0]).join(', ');
  check(/Moving, Looking, Drawing modes, Detail, Files, Inspection tools/.test(groups),
        `the keys are grouped: ${groups}`);
  const title = await page.title();
  const favicon = await page.evaluate(async () => (await fetch('favicon.svg')).status);
  check(/^Vorl\b.*F1 lists the keys/.test(title) && favicon === 200,
        `a title that points to F1 (${title}) and a favicon`);
  const version = await page.evaluate(() => document.getElementById('version').textContent);
  const linuxVersion = spawnSync(linuxProgram, ['--version'], { encoding: 'utf8' }).stdout.trim();
  check(version === linuxVersion, `the page shows the version --version prints (${version})`);
  await page.click('#fullscreen');
  await sleep(500);
  const full = await page.evaluate(() => {
    const box = document.getElementById('canvas').getBoundingClientRect();
    return { element: document.fullscreenElement && document.fullscreenElement.id,
             fits: box.bottom <= window.innerHeight + 1 && box.right <= window.innerWidth + 1,
             aspect: box.width / box.height };
  });
  check(full.element === 'viewer' && full.fits && Math.abs(full.aspect - 4 / 3) < 0.01,
        `"Fullscreen" shows the picture on the whole screen, its aspect kept (${JSON.stringify(full)})`);
  await page.evaluate(() => document.exitFullscreen());
  await clean(page, problems, 'the key panel');
  await page.close();
}

// What the program prints shows on the page, and so does its exit status.
async function programWords(browser, base) {
  let problems = [];
  let page = await openPage(browser, base + 'vorl.html?args=--help', problems);
  let s = await waitFor(page, (t) => t.exit !== null, 60);
  check(s.exit === 0 && /Usage: vorl/.test(s.output) && /Keys \(F1 shows/.test(s.output) &&
        /exit status 0/.test(s.endedText) && s.ended && !s.loading,
        `?args=--help shows the help text and the end on the page (${s.endedText})`);
  await clean(page, problems, '--help');
  await page.close();

  problems = [];
  page = await openPage(browser, base + 'vorl.html' + query(['--frames', 'abc']), problems);
  s = await waitFor(page, (t) => t.exit !== null, 60);
  const linux = linuxRun(['--frames', 'abc']);
  const message = linux.err.trim();
  check(s.exit === 2 && linux.status === 2 && message.length > 0 && s.output.includes(message) &&
        /exit status 2/.test(s.endedText),
        `a bad option: "${message}" and exit status 2 on the page`);
  await clean(page, problems, 'a bad option');
  await page.close();

  // A script that is not beside the page: the fetch and the program's own refusal are said.
  problems = [];
  page = await openPage(browser, base + 'vorl.html' + query(['--input', 'nothere.txt']), problems);
  s = await waitFor(page, (t) => t.exit !== null, 60);
  const missing = linuxRun(['--input', 'nothere.txt']).err.trim();
  check(s.exit === 2 && /nothere\.txt could not be fetched from beside the page \(404/.test(s.output) &&
        s.output.includes(missing) && /exit status 2/.test(s.endedText),
        `a missing --input file: the page says so, then "${missing}", and exit status 2`);
  // The browser itself reports the failed request; nothing else may reach the console.
  await clean(page, problems.filter((p) => !/404/.test(p)), 'a missing --input file');
  await page.close();
}

// A bad -res is an information box: a page dialog (no alert), and the run goes on after OK.
async function pageDialog(browser, base, name) {
  const problems = [];
  const page = await openPage(browser, base + 'vorl.html' +
                              query(['-res', '123x45', '--fixed-clock', '16', '--frames', '10']), problems);
  let s = await waitFor(page, (t) => t.dialog, 60);
  const boxText = '123x45 is not a cool resolution.  I\'ll pick the highest resolution!';
  check(s.dialog && s.dialogText === boxText && s.output.includes('[Vorl] ' + boxText),
        `${name}: a bad -res shows its box as a page dialog and in the panel ("${s.dialogText}")`);
  await page.click('#box-ok');
  s = await waitFor(page, (t) => t.exit !== null, 60);
  check(s.exit === 0 && s.frames > 0 && !s.dialog, `${name}: after OK the run goes on and ends (${s.exit})`);
  await clean(page, problems, `${name}: a bad -res`);
  await page.close();

  // A question box: Cancel ends the run as it does on Linux.
  const asked = [];
  const questionPage = await openPage(browser, base + 'vorl.html' +
                                      query(['--fixed-clock', '16', '-res']), asked);
  s = await waitFor(questionPage, (t) => t.dialog, 60);
  const cancelShown = await questionPage.evaluate(() => !document.getElementById('box-cancel').hidden);
  check(s.dialog && cancelShown && s.dialogText === 'resolution not specified',
        `${name}: a question box asks with OK and Cancel ("${s.dialogText}")`);
  await questionPage.click('#box-cancel');
  s = await waitFor(questionPage, (t) => t.exit !== null, 60);
  const linux = spawnSync(linuxProgram, ['--headless', '--fixed-clock', '16', '--answer', 'cancel',
                                         '-res'], { env: { ...process.env, DISPLAY: '' } });
  check(s.exit === linux.status - (linux.status > 127 ? 256 : 0) && s.frames === 0,
        `${name}: Cancel ends the run with Linux's status (${s.exit}, ${linux.status})`);
  await clean(questionPage, asked, `${name}: a question box`);
  await questionPage.close();
}

// Pictures the program saves are offered as PNG files of the same pixels, and so is the
// picture on the page.
async function pictures(browser, base) {
  const problems = [];
  const args = ['--fixed-clock', '16', '--frames', '20', '-res', '640x480',
                '--save-last-frame', 'last.tga'];
  const page = await openPage(browser, base + 'vorl.html' + query(args), problems);
  await waitFor(page, (t) => t.exit !== null, 60);
  await page.click('#save-picture');
  const offered = await page.evaluate(async () => {
    const end = Date.now() + 10000;
    while (window.vorl.downloads.length < 2 && Date.now() < end) {
      await new Promise((resolve) => setTimeout(resolve, 100));
    }
    const canvas = document.getElementById('canvas');
    const pixels = (image) => {
      const copy = document.createElement('canvas');
      copy.width = image.width;
      copy.height = image.height;
      const context = copy.getContext('2d', { willReadFrequently: true });
      context.drawImage(image, 0, 0);
      return context.getImageData(0, 0, image.width, image.height).data;
    };
    const shown = pixels(canvas);
    const result = [];
    for (const d of window.vorl.downloads) {
      const data = pixels(await createImageBitmap(d.blob));
      let same = data.length === shown.length;
      for (let i = 0; same && i < data.length; ++i) same = data[i] === shown[i];
      result.push({ name: d.name, type: d.blob.type, same });
    }
    return result;
  });
  const names = offered.map((d) => d.name).sort().join(', ');
  check(names === 'last.png, vorl-frame.png' && offered.every((d) => d.type === 'image/png' && d.same),
        `--save-last-frame and "Save the picture" offer PNG files of the canvas's pixels (${names})`);
  await clean(page, problems, 'pictures');
  await page.close();
}

// Escape ends the program; the page says so and runs it again without a reload.
async function escapeAndRunAgain(browser, base) {
  const problems = [];
  const page = await openPage(browser, base + 'vorl.html' +
                              query(['--fixed-clock', '16', '-res', '640x480']), problems);
  let s = await waitFor(page, (t) => t.frames >= 10, 60);
  await page.focus('#canvas');
  await page.keyboard.press('Escape');
  s = await waitFor(page, (t) => t.exit !== null, 30);
  check(s.exit === 0 && s.ended && /exit status 0/.test(s.endedText),
        `Escape ends the run and the page says so ("${s.endedText}")`);
  const before = await page.evaluate(() => { window.vorlKept = window.vorl; return window.vorl.runs; });
  await page.click('#again');
  s = await waitFor(page, (t) => t.frames >= 10, 60);
  const same = await page.evaluate(() => window.vorlKept === window.vorl);
  check(s.exit === null && s.frames >= 10 && s.runs === before + 1 && !s.ended && same,
        `"Run again" draws again without a reload (${s.frames} frames)`);
  await clean(page, problems, 'Escape and run again');
  await page.close();
}

// At phone size the picture fills the width with the panel below; the on-screen buttons work
// and a touch drag turns the view.
async function phone(browser, base) {
  const problems = [];
  const page = await openPage(browser, base + 'vorl.html' +
                              query(['--fixed-clock', '16', '-res', '640x480']), problems,
                              { width: 390, height: 700, isMobile: true, hasTouch: true });
  let s = await waitFor(page, (t) => t.frames >= 5, 60);
  const layout = await page.evaluate(() => {
    const box = (id) => document.getElementById(id).getBoundingClientRect();
    const canvas = box('canvas');
    return { width: canvas.width, left: canvas.left, bottom: canvas.bottom,
             keysTop: box('keys').top, pad: getComputedStyle(document.getElementById('pad')).display,
             page: document.documentElement.scrollWidth };
  });
  check(Math.round(layout.width) === 390 && Math.round(layout.left) === 0 &&
        layout.keysTop >= layout.bottom && layout.page <= 390 && layout.pad !== 'none',
        `at 390 x 700 the picture fills the width, the panel sits below it and the buttons show ` +
        `(${JSON.stringify(layout)})`);
  // P on the on-screen keys pauses the waves: with nothing moving, frames repeat.
  await page.tap('#toggles button[data-key="80"]');
  s = await state(page);
  await waitFor(page, (t) => t.frames >= s.frames + 70, 60);
  const still = await canvasBytes(page);
  s = await state(page);
  await waitFor(page, (t) => t.frames >= s.frames + 5, 30);
  const stillAgain = await canvasBytes(page);
  check(pixelsDiffering(still, stillAgain) === 0, 'the P button pauses the waves: the picture stands');
  // A drag across the picture turns the view. Tapping a button may have scrolled the page:
  // the picture is brought back into view first, as a person would.
  await page.evaluate(() => document.getElementById('canvas').scrollIntoView());
  const canvas = await (await page.$('#canvas')).boundingBox();
  const y = canvas.y + canvas.height / 2;
  await page.touchscreen.touchStart(canvas.x + 100, y);
  for (let i = 1; i <= 10; ++i) {
    await page.touchscreen.touchMove(canvas.x + 100 + i * 15, y + i * 3);
    await sleep(20);
  }
  await page.touchscreen.touchEnd();
  s = await state(page);
  await waitFor(page, (t) => t.frames >= s.frames + 5, 30);
  const turned = await canvasBytes(page);
  const changed = pixelsDiffering(still, turned);
  check(changed > 20000, `a touch drag turns the view (${changed} pixels changed)`);
  // Holding "Forward" moves.
  const forward = await (await page.$('#pad button[data-keys="38"]')).boundingBox();
  await page.touchscreen.touchStart(forward.x + forward.width / 2, forward.y + forward.height / 2);
  s = await state(page);
  await waitFor(page, (t) => t.frames >= s.frames + 20, 30);
  await page.touchscreen.touchEnd();
  s = await state(page);
  await waitFor(page, (t) => t.frames >= s.frames + 5, 30);
  const moved = await canvasBytes(page);
  check(pixelsDiffering(turned, moved) > 5000, 'holding Forward moves');
  await clean(page, problems, 'the phone');
  await page.close();
}

// The height of the picture's text in canvas pixels: F1's help is drawn over a standing
// picture, and the rows it changes form one band per line of text; the commonest band height
// is the letters' height (the gap between lines keeps the bands apart). 0 without text.
async function textHeight(page, pressF1) {
  let s = await state(page);
  await waitFor(page, (t) => t.frames >= s.frames + 5, 30);
  const before = await canvasBytes(page);
  await pressF1();
  s = await state(page);
  await waitFor(page, (t) => t.frames >= s.frames + 10, 30);
  const after = await canvasBytes(page);
  await pressF1();
  const { width, height } = after;
  if (before.width !== width || before.height !== height) return 0;
  const counts = new Map();
  let band = 0;
  for (let y = 0; y <= height; ++y) {
    let changed = false;
    for (let x = 0; y < height && x < width && !changed; ++x) {
      const at = (y * width + x) * 4;
      changed = before.rgba[at] !== after.rgba[at] || before.rgba[at + 1] !== after.rgba[at + 1] ||
                before.rgba[at + 2] !== after.rgba[at + 2];
    }
    if (changed) { band++; continue; }
    if (band >= 3) counts.set(band, (counts.get(band) || 0) + 1);
    band = 0;
  }
  let best = 0;
  for (const [length, count] of counts) if (count > (counts.get(best) || 0)) best = length;
  return best;
}

// On a phone (390 x 844, three device pixels to the CSS pixel, touch only) the on-screen keys
// carry words beside their letters, since touch screens show no tooltips, and the picture is
// shown large enough that its text stands at least 6 CSS pixels tall; on a narrower phone
// (360 wide) too, the picture then scrolling sideways in its column rather than the page.
async function phoneReading(browser, base, width, height) {
  const problems = [];
  const name = `on a ${width} x ${height} phone`;
  const page = await openPage(browser, base + 'vorl.html' + query(['--fixed-clock', '16']), problems,
                              { width, height, deviceScaleFactor: 3, isMobile: true, hasTouch: true });
  await waitFor(page, (t) => t.frames >= 5, 60);
  const labels = await page.evaluate(() => Array.from(document.querySelectorAll('#toggles button'))
    .map((b) => {
      const word = b.querySelector('span');
      const box = word ? word.getBoundingClientRect() : null;
      const own = b.getBoundingClientRect();
      return { key: b.querySelector('b') ? b.querySelector('b').textContent : b.textContent,
               word: word ? word.textContent.trim() : '',
               shown: !!box && box.width > 0 && box.height >= 9 && box.left >= own.left - 0.5 &&
                      box.right <= own.right + 0.5 && own.right <= window.innerWidth,
               size: word ? parseFloat(getComputedStyle(word).fontSize) : 0 };
    }));
  const bare = labels.filter((l) => !l.word || !l.shown || l.size < 10).map((l) => l.key);
  check(labels.length >= 15 && bare.length === 0,
        `${name} each on-screen key shows a word of what it does ` +
        `(${labels.slice(0, 6).map((l) => l.key + ' ' + l.word).join(', ')}, ...` +
        `${bare.length ? '; bare: ' + bare.join(' ') : ''})`);
  await page.tap('#toggles button[data-key="80"]');   // P: the waves stand
  const glyph = await textHeight(page, () => page.tap('#toggles button[data-key="112"]'));
  const shown = await page.evaluate(() => {
    const canvas = document.getElementById('canvas');
    return { css: canvas.getBoundingClientRect().height, pixels: canvas.height,
             page: document.documentElement.scrollWidth };
  });
  const onScreen = glyph * shown.css / shown.pixels;
  check(glyph > 0 && onScreen >= 6 && shown.page <= width,
        `${name} the picture's text stands ${onScreen.toFixed(1)} CSS pixels tall ` +
        `(${glyph} of ${shown.pixels} canvas rows shown ${shown.css.toFixed(0)} tall), at least 6, ` +
        `and the page is no wider than the screen (${shown.page})`);
  await clean(page, problems, name);
  await page.close();
}

// The shipped surface file with a taller island: the second surface's heights doubled.
function tallerIsland() {
  const lines = fs.readFileSync(path.join(dataFolder, 'vorl.txt'), 'utf8').split('\n');
  const island = lines.findIndex((l, i) => i > 5 && /^\d+ \d+$/.test(l.trim()));
  return lines.map((l, i) => {
    const n = l.trim().split(/\s+/);
    if (i <= island || n.length !== 3) return l;
    return `${n[0]} ${n[1]} ${Number(n[2]) * 2}`;
  }).join('\n');
}

// A dropped surface file is used (the picture is Linux's with that file) and kept; a broken
// one chosen with the button is refused with the reader's reason, under its own name, and the
// kept one stays; after a reload the page says the kept one is in use, and "Shipped surface"
// puts back the page's own (the picture is Linux's with the shipped data again).
async function ownSurface(browser, base) {
  const problems = [];
  const args = ['--fixed-clock', '16', '--frames', '30', '-res', '640x480'];
  const page = await openPage(browser, base + 'vorl.html' + query(args), problems);
  await waitFor(page, (t) => t.exit !== null, 60);
  const mine = tallerIsland();
  const drop = (text, name) => page.evaluate((content, fileName) => {
    const transfer = new DataTransfer();
    transfer.items.add(new File([content], fileName, { type: 'text/plain' }));
    document.getElementById('canvas').dispatchEvent(
      new DragEvent('drop', { dataTransfer: transfer, bubbles: true, cancelable: true }));
  }, text, name);
  // A file named as one of the page's own folders is used all the same.
  await drop(mine, 'data');
  let s = await waitFor(page, (t) => t.runs === 2 && t.exit !== null && /kept/.test(t.notice), 60);
  check(s.exit === 0 && s.frames > 0 && /^data is now the surface file/.test(s.notice),
        `a dropped file named "data" is used too ("${s.notice}")`);
  await drop(mine, 'taller.txt');
  s = await waitFor(page, (t) => t.runs === 3 && t.exit !== null && /kept/.test(t.notice), 60);
  const shown = await canvasBytes(page);
  const linux = linuxRun([...args, '--surface', 'taller.txt'], { 'taller.txt': mine });
  const readSurface = () => readFile(page, '/work/data/vorl.txt');
  check(s.exit === 0 && (await readSurface()) === mine && /taller\.txt is now the surface file/.test(s.notice),
        `a dropped surface file is used and kept ("${s.notice}")`);
  sameBytes('the dropped surface file', shown, linux);

  const broken = 'B-Spline Surface\n1\n4 4\n0 0 0\n';
  const brokenName = `broken-${process.pid}.txt`;
  const reason = linuxRun(['--frames', '2', '--surface', brokenName], { [brokenName]: broken })
    .errorText.split('\n')[0];
  const chooser = path.join(os.tmpdir(), brokenName);
  fs.writeFileSync(chooser, broken);
  await (await page.$('#surface-file')).uploadFile(chooser);
  s = await waitFor(page, (t) => t.runs === 5 && t.exit !== null, 90);
  fs.rmSync(chooser);
  check(s.notice === `${brokenName} was refused: ${reason}` && reason.includes(brokenName) &&
        !s.notice.includes('data/vorl.txt'),
        `a broken one is refused with the reader's reason, under its own name ("${s.notice}")`);
  check((await readSurface()) === mine && s.exit === 0 && s.frames > 0,
        'and the program runs again with the kept file');
  // Once the page runs again, nothing in the panel reads as a failure: the trial's end is
  // said as what it was.
  const panel = await page.evaluate(() => ({
    red: Array.from(document.querySelectorAll('#output .err')).map((e) => e.textContent),
    said: document.getElementById('output').innerText }));
  check(panel.red.length === 0 &&
        panel.said.includes(`broken-${process.pid}.txt was refused (the trial run ended`),
        `after the refusal the panel says so without a failure line (${panel.red.slice(0, 2).join(' | ')})`);

  await page.reload();
  s = await waitFor(page, (t) => t.exit !== null, 60);
  let line = await noticeShown(page);
  check(/kept in this browser is in use \(taller\.txt/.test(line.text) && !line.bad &&
        (await readSurface()) === mine,
        `after a reload the page says the kept surface file is in use, not as a failure ("${line.text}")`);
  const shipped = fs.readFileSync(path.join(dataFolder, 'vorl.txt'), 'utf8');
  await page.click('#shipped-surface');
  s = await waitFor(page, (t) => t.runs === 2 && t.exit !== null, 60);
  line = await noticeShown(page);
  check(s.exit === 0 && (await readSurface()) === shipped && /shipped surface file is back/.test(line.text) &&
        !line.bad, `"Shipped surface" puts the page's own surface file back ("${line.text}")`);
  sameBytes('the shipped surface put back', await canvasBytes(page), linuxRun(args));
  // The run has ended: the download is the file as it stands.
  const from = await downloadCount(page);
  await page.click('#download-surface');
  const given = await offered(page, from, 1);
  check(given.length === 1 && given[0].name === 'vorl.txt' && given[0].text === shipped,
        `after the run has ended "Download the surface file" offers the file as it stands ` +
        `(${given.map((d) => d.name)})`);
  await page.reload();
  s = await waitFor(page, (t) => t.exit !== null, 60);
  line = await noticeShown(page);
  check(line.text === '' && (await readSurface()) === shipped,
        `and the kept one is gone from the browser: after a reload nothing is said ("${line.text}")`);
  await clean(page, problems, 'surface files of one\'s own');
  await page.close();
}

async function keysAndStorage(browser, base) {
  const problems = [];
  const args = ['--fixed-clock', '16', '-res', '640x480', '--answer', 'ok'];
  let page = await openPage(browser, base + 'vorl.html' + query(args), problems);
  let s = await waitFor(page, (t) => t.frames >= 20, 60);
  await page.focus('#canvas');
  const before = await canvasBytes(page);
  await page.keyboard.press('F1');
  const f1 = s.frames;
  await waitFor(page, (t) => t.frames >= f1 + 10, 30);
  const afterHelp = await canvasBytes(page);
  const changed = pixelsDiffering(before, afterHelp);
  check(changed > 500, `keys typed into the page: F1 changes the picture (${changed} pixels)`);

  const shipped = fs.readFileSync(path.join(dataFolder, 'vorl.txt'), 'utf8');
  const from = await downloadCount(page);
  await page.keyboard.press('KeyS');
  s = await state(page);
  await waitFor(page, (t) => t.frames >= s.frames + 10, 30);
  await sleep(1000);   // the browser's storage is written after the save
  const readSurface = () => readFile(page, '/work/data/vorl.txt');
  const saved = await readSurface();
  check(saved.startsWith('B-Spline Surface') && saved !== shipped,
        'S saves the moving sea into the surface file');
  const given = await offered(page, from, 1);
  check(given.length === 1 && given[0].name === 'vorl.txt' && given[0].text === saved,
        `S offers the saved surface file as a download (${given.map((d) => d.name).join(', ')})`);
  await page.reload();
  await waitFor(page, (t) => t.frames >= 5, 60);
  const kept = await readSurface();
  const line = await noticeShown(page);
  check(kept === saved && /in use \(vorl\.txt, saved with S\)/.test(line.text) && !line.bad,
        `after a reload the saved surface file is still there, and the page says so ("${line.text}")`);
  await page.focus('#canvas');
  await page.keyboard.press('KeyL');
  s = await state(page);
  s = await waitFor(page, (t) => t.frames >= s.frames + 10, 30);
  check(s.exit === null, 'L reads it back and the page runs on');
  await clean(page, problems, 'keys and storage');
  await page.close();
}

// The surface file's buttons: S on the on-screen keys saves and offers the file (a real
// download lands on disk), "Download the surface file" does the same, L reads the file again,
// K exports an OBJ file and offers it; the format document beside the page is linked. At phone
// size the buttons show and are tall enough for a finger, and a tap on S offers the file.
async function surfaceButtons(browser, base) {
  const problems = [];
  const args = ['--fixed-clock', '16', '-res', '640x480'];
  const page = await openPage(browser, base + 'vorl.html' + query(args), problems);
  await waitFor(page, (t) => t.frames >= 5, 60);
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'vorl-downloads-'));
  const cdp = await page.createCDPSession();
  await cdp.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: folder });
  await page.click('#on-screen-keys');

  let from = await downloadCount(page);
  await page.click('#toggles button[data-key="83"]');
  let given = await offered(page, from, 1);
  const saved = await readFile(page, '/work/data/vorl.txt');
  const onDisk = await landed(folder, 'vorl.txt');
  check(given.length === 1 && given[0].name === 'vorl.txt' && given[0].text === saved &&
        saved.startsWith('B-Spline Surface') && onDisk === saved,
        `the S button saves the surface file and it downloads (${given.map((d) => d.name)}, ` +
        `${onDisk.length} bytes on disk)`);

  from = await downloadCount(page);
  await page.click('#download-surface');
  given = await offered(page, from, 1);
  check(given.length === 1 && given[0].name === 'vorl.txt' && given[0].text.startsWith('B-Spline Surface') &&
        given[0].text === await readFile(page, '/work/data/vorl.txt'),
        `"Download the surface file" saves it and offers it (${given.map((d) => d.name)})`);

  // L on a file that does not read: the program's refusal shows that the button pressed L.
  await page.evaluate(() => window.vorl.module.FS.writeFile('/work/data/vorl.txt', 'not a surface\n'));
  await page.click('#toggles button[data-key="76"]');
  let s = await waitFor(page, (t) => /couldn't reload surface file/.test(t.output), 20);
  check(s.exit === null && /couldn't reload surface file \(data\/vorl\.txt/.test(s.output),
        'the L button reads the surface file again (a broken one is refused and the program runs on)');
  await page.evaluate((text) => window.vorl.module.FS.writeFile('/work/data/vorl.txt', text), saved);

  from = await downloadCount(page);
  await page.click('#toggles button[data-key="75"]');
  given = await offered(page, from, 1);
  const obj = given.length === 1 ? given[0] : { name: '', text: '' };
  const vertices = obj.text.split('\n').filter((l) => l.startsWith('v ')).length;
  const faces = obj.text.split('\n').filter((l) => l.startsWith('f ')).length;
  check(/^export\d{4}\.obj$/.test(obj.name) && vertices > 100 && faces > 100 &&
        (await landed(folder, obj.name)) === obj.text,
        `the K button exports the surfaces as OBJ and offers the file (${obj.name}: ` +
        `${vertices} vertices, ${faces} faces)`);

  // The browser's export writes its numbers as Linux's does: the same run, the same file.
  const exportArgs = ['--fixed-clock', '16', '--frames', '12', '-res', '640x480', '--export', 'mesh.obj'];
  from = await downloadCount(page);
  await page.evaluate((line) => { window.vorl.args = line; window.vorl.runAgain({}); }, exportArgs);
  s = await waitFor(page, (t) => t.exit !== null && t.runs === 2, 60);
  given = await offered(page, from, 1);
  const mesh = given.find((d) => d.name === 'mesh.obj');
  const linuxMesh = linuxRun(exportArgs, {}, ['mesh.obj']).saved['mesh.obj'];
  check(s.exit === 0 && mesh !== undefined && linuxMesh.length > 100000 && mesh.text === linuxMesh,
        `--export in the page writes the OBJ file Linux writes (${mesh ? mesh.text.length : 0} and ` +
        `${linuxMesh.length} bytes)`);

  const link = await page.evaluate(async () => {
    const a = document.getElementById('surface-format');
    const response = await fetch(a.href);
    return { href: a.getAttribute('href'), status: response.status, text: await response.text() };
  });
  const doc = fs.readFileSync(path.join(dataFolder, '..', 'docs', 'surface-format.md'), 'utf8');
  check(link.status === 200 && link.text === doc,
        `the page links the surface file's format, shipped beside it (${link.href}: ${link.status})`);
  await cdp.send('Browser.setDownloadBehavior', { behavior: 'default' });
  fs.rmSync(folder, { recursive: true, force: true });
  await clean(page, problems, 'the surface file\'s buttons');
  await page.close();

  const phonePage = await openPage(browser, base + 'vorl.html' + query(args), problems,
                                   { width: 390, height: 700, isMobile: true, hasTouch: true });
  await waitFor(phonePage, (t) => t.frames >= 5, 60);
  const buttons = await phonePage.evaluate(() =>
    Array.from(document.querySelectorAll('#surface-bar button, #toggles button')).map((b) => {
      const box = b.getBoundingClientRect();
      const key = b.querySelector('b');
      return { text: (key || b).textContent.trim(), height: box.height, shown: box.width > 0 &&
               box.left >= 0 && box.right <= window.innerWidth };
    }));
  const small = buttons.filter((b) => !b.shown || b.height < 44).map((b) => b.text);
  const keys = buttons.map((b) => b.text);
  check(['S', 'L', 'K'].every((k) => keys.includes(k)) && buttons.length >= 25 && small.length === 0,
        `at phone size the surface file's buttons and the keys show, each at least 44 pixels tall` +
        (small.length ? ` (not: ${small.join(', ')})` : ''));
  from = await downloadCount(phonePage);
  await phonePage.tap('#toggles button[data-key="83"]');
  given = await offered(phonePage, from, 1);
  check(given.length === 1 && given[0].name === 'vorl.txt',
        `a tap on S at phone size offers the surface file (${given.map((d) => d.name)})`);
  await clean(phonePage, problems, 'the surface file\'s buttons at phone size');
  await phonePage.close();
}

async function main() {
  const { browser, base, close } =
    await openBrowser(puppeteer, webFolder, 8700 + (process.pid % 200));
  try {
    const isolated = base;
    const plain = `${base}plain/`;
    await sameAsLinux(browser, isolated, 'the default scene',
                      ['--fixed-clock', '16', '--frames', '60', '-res', '640x480'], null, true);
    await sameAsLinux(browser, isolated, 'a scripted session (F1, W, T, I, M)',
                      ['--fixed-clock', '16', '--frames', '80', '-res', '800x600',
                       '--input', 'web-session.txt'],
                      { name: 'web-session.txt',
                        text: '10 key F1\n20 key W\n30 key W\n40 key T\n50 key I\n60 key M\n' },
                      true);
    // Without vertical sync the page paints only the frames the display would take, and the
    // last one always.
    await sameAsLinux(browser, isolated, 'without vertical sync (V)',
                      ['--fixed-clock', '16', '--frames', '90', '-res', '640x480',
                       '--input', 'web-no-vsync.txt'],
                      { name: 'web-no-vsync.txt', text: '0 key V\n' }, true);
    // threads=off runs the one-thread build although the page is isolated.
    await sameAsLinux(browser, isolated, 'without vertical sync (V), on one thread (threads=off)',
                      ['--fixed-clock', '16', '--frames', '90', '-res', '640x480',
                       '--input', 'web-no-vsync.txt'],
                      { name: 'web-no-vsync.txt', text: '0 key V\n' }, false, '&threads=off');
    await sameAsLinux(browser, plain, 'without isolation',
                      ['--fixed-clock', '16', '--frames', '60', '-res', '640x480'], null, false);
    await keyPanel(browser, isolated);
    await programWords(browser, isolated);
    await pageDialog(browser, isolated, 'isolated');
    await pageDialog(browser, plain, 'on one thread');
    await pictures(browser, isolated);
    await escapeAndRunAgain(browser, isolated);
    await escapeAndRunAgain(browser, plain);
    await phone(browser, isolated);
    await phoneReading(browser, isolated, 390, 844);
    await phoneReading(browser, isolated, 360, 740);
    await ownSurface(browser, isolated);
    await keysAndStorage(browser, isolated);
    await surfaceButtons(browser, isolated);
  } finally {
    await close();
  }
  if (failures) {
    console.log(`test-web: ${failures} check(s) failed`);
    process.exit(1);
  }
  console.log('test-web: passed');
}

main().catch((e) => { console.error(e); process.exit(1); });
