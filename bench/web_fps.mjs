// The comparison scene (frame_bench's 32 x 32 surface, static detail, waves paused, no
// vertical sync) in the page in headless Chromium, beside the native build on the same scene
// and size: pairs of runs in turn, native then page, each side's figure the statistics line
// the program prints at exit (its frame rate over its last second of frames). The page's own
// count of painted frames a second is printed beside it. With --profile FILE.json one more
// page run is traced (CPU samples of every thread, the program's and the workers' included)
// and the busiest functions of each thread are listed.
//
// With --one-thread each pair is three runs on one thread without a picture, which split the
// page's share into its parts: the native build with VEXA_THREADS=0 on its own processor path
// (AVX2 where there is one), the same on the 128-bit path (VEXA_PATH=v128), and the page's
// one-thread build (threads=off) with --headless. 128-bit/native is what the narrower vectors
// cost, page/128-bit what running as WebAssembly in the browser costs, and page/native both;
// the page's painting and threads are left out.
//
// Usage: node bench/web_fps.mjs BUILD_WEB NATIVE_VORL FRAME_BENCH [--pairs N] [--frames N]
//        [--detail N] [--size WxH] [--viewport WxH] [--headless-page] [--one-thread]
//        [--profile FILE.json]
// --viewport sets the size of the browser's window (1280x1000 by default). The page fits the
// picture to the window, and scaling it costs the page's painting time: the first pair's line
// says how wide the picture was shown.
//
// On Linux each page run's line is followed by where the machine's time went while the page
// drew (from its third second to a look at most a second before its end): the browser's
// threads by name, as shares of one core, and the machine's idle share. The program's thread
// and the rasterizer's workers are the three busiest DedicatedWorker threads; the page's
// painting is the main thread (chromium) and the two compositors.
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { createRequire } from 'node:module';
import { openBrowser } from '../scripts/browser.mjs';

const [webFolder, nativeProgram, frameBench] = process.argv.slice(2, 5).map((p) => path.resolve(p));
const settings = { pairs: 3, frames: 1500, detail: 6, size: '1024x768', viewport: '1280x1000',
                   headlessPage: false, oneThread: false, profile: null };
for (let i = 5; i < process.argv.length; ++i) {
  const option = process.argv[i];
  const value = process.argv[i + 1];
  if (option === '--pairs') settings.pairs = Math.max(1, parseInt(value, 10)), ++i;
  else if (option === '--frames') settings.frames = Math.max(1, parseInt(value, 10)), ++i;
  else if (option === '--detail') settings.detail = Math.min(20, Math.max(1, parseInt(value, 10))), ++i;
  else if (option === '--size') settings.size = value, ++i;
  else if (option === '--viewport') settings.viewport = value, ++i;
  else if (option === '--headless-page') settings.headlessPage = true;
  else if (option === '--one-thread') settings.oneThread = true;
  else if (option === '--profile') settings.profile = path.resolve(value), ++i;
  else {
    console.error(`web_fps: unknown option ${option}`);
    process.exit(2);
  }
}
const require = createRequire(path.resolve(webFolder, 'package.json'));
const puppeteer = require('puppeteer-core');
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
const median = (values) => {
  const v = values.slice().sort((a, b) => a - b);
  return v.length % 2 ? v[(v.length - 1) / 2] : (v[v.length / 2 - 1] + v[v.length / 2]) / 2;
};
// The last statistics line in `text` ("fps: F, ppf: P, ..."), or an empty string.
const statisticsLine = (text) => {
  const lines = text.split('\n').filter((line) => /^fps: /.test(line));
  return lines.length ? lines[lines.length - 1] : '';
};
// The frame rate of the last statistics line in `text`, or NaN.
const statisticsFps = (text) => parseFloat(statisticsLine(text).slice(5));

// Every run must draw the scene the first one drew: the polygons a frame of its statistics
// line must match. A page that found no surface file beside it, for one, draws the default
// surface, and its frame rate would mean nothing against the native one.
let scenePolygons = null;
function checkScene(who, text) {
  const found = /ppf:\s*(\d+)/.exec(statisticsLine(text));
  if (!found) throw new Error(`${who} printed no statistics line with polygons a frame`);
  const polygons = parseInt(found[1], 10);
  if (scenePolygons === null) scenePolygons = { polygons, who };
  if (polygons !== scenePolygons.polygons) {
    throw new Error(`${who} drew ${polygons} polygons a frame, ${scenePolygons.who} ` +
                    `${scenePolygons.polygons}: not the same scene, so no ratio`);
  }
}

// The files the page fetches from beside itself into the program's working folder.
const SCRIPT_NAME = 'web-fps-script.txt';
const SURFACE_NAME = 'web-fps-surface.txt';

// The same keys as frame_bench --scene comparison: static detail, waves paused, no vsync, then
// PLUS or MINUS from the default detail 6.
function comparisonScript(detail) {
  let text = '# the comparison scene\n0 key X\n0 key P\n0 key V\n';
  for (let n = 6; n < detail; ++n) text += '0 key PLUS\n';
  for (let n = 6; n > detail; --n) text += '0 key MINUS\n';
  return text;
}

// The native build's frame rate, `env` added to its environment.
function nativeRun(folder, env = {}) {
  const run = spawnSync(nativeProgram, ['--headless', '-res', settings.size, '--frames',
                                        String(settings.frames), '--input', SCRIPT_NAME],
                        { cwd: folder, env: { ...process.env, DISPLAY: '', ...env },
                          encoding: 'latin1' });
  if (run.status !== 0) throw new Error(`the native build ended with ${run.status}: ${run.stderr}`);
  checkScene('the native build', run.stdout);
  return statisticsFps(run.stdout);
}

// A process's or thread's stat file (/proc/.../stat): its name and the fields after it (the
// name, in parentheses, may hold spaces), or null when it has ended.
function readStat(file) {
  try {
    const stat = fs.readFileSync(file, 'utf8');
    return { name: stat.slice(stat.indexOf('(') + 1, stat.lastIndexOf(')')),
             fields: stat.slice(stat.lastIndexOf(')') + 2).split(' ') };
  } catch {
    return null;
  }
}

// The processes of the browser: the process `rootPid` and those below it (Linux's /proc;
// none where there is none).
function browserProcesses(rootPid) {
  const parents = new Map();
  let entries = [];
  try { entries = fs.readdirSync('/proc').filter((e) => /^\d+$/.test(e)); } catch { return []; }
  for (const pid of entries) {
    const stat = readStat(`/proc/${pid}/stat`);
    if (stat) parents.set(pid, stat.fields[1]);
  }
  const inBrowser = (pid) => {
    for (let p = pid, hops = 0; p && hops < 32; p = parents.get(p), ++hops) {
      if (p === String(rootPid)) return true;
    }
    return false;
  };
  return [...parents.keys()].filter(inBrowser);
}

// The processor time so far of every thread of the processes `pids`: name and clock ticks
// (user and system) by process/thread id.
function threadTicks(pids) {
  const ticks = new Map();
  for (const pid of pids) {
    let tasks = [];
    try { tasks = fs.readdirSync(`/proc/${pid}/task`); } catch { continue; }
    for (const tid of tasks) {
      const stat = readStat(`/proc/${pid}/task/${tid}/stat`);
      if (stat) {
        ticks.set(`${pid}/${tid}`, { name: stat.name,
                                     ticks: Number(stat.fields[11]) + Number(stat.fields[12]) });
      }
    }
  }
  return ticks;
}

// The machine's clock ticks so far, all and idle, summed over its processors (/proc/stat's
// first line), and its processor count; null where there is no /proc.
function machineTicks() {
  try {
    const lines = fs.readFileSync('/proc/stat', 'utf8').split('\n');
    const all = lines[0].split(/\s+/).slice(1).filter(Boolean).map(Number);
    const cpus = lines.filter((line) => /^cpu\d/.test(line)).length;
    return { total: all.reduce((a, b) => a + b, 0), idle: all[3] + (all[4] || 0), cpus };
  } catch {
    return null;
  }
}

// A snapshot of both, for threadShares().
function timeSnapshot(pids) {
  return { threads: threadTicks(pids), machine: machineTicks() };
}

// Where the machine's time went between snapshots a and b: the busiest threads by name (the
// DedicatedWorker threads one by one), then the rest and the idle time, in per cent of one core.
function threadShares(a, b) {
  if (!a.machine || !b.machine || b.machine.total <= a.machine.total) return null;
  const core = (b.machine.total - a.machine.total) / b.machine.cpus;   // ticks of one core
  const share = (t) => Math.round(100 * t / core);
  const workers = [];
  const byName = new Map();
  for (const [id, now] of b.threads) {
    const used = now.ticks - (a.threads.get(id)?.ticks || 0);
    if (used <= 0) continue;
    if (now.name === 'DedicatedWorker') workers.push(used);
    else byName.set(now.name, (byName.get(now.name) || 0) + used);
  }
  workers.sort((x, y) => y - x);
  const named = [...byName].sort((x, y) => y[1] - x[1]);
  const shown = named.slice(0, 3);
  const rest = named.slice(3).reduce((sum, [, t]) => sum + t, 0);
  const idle = share(b.machine.idle - a.machine.idle);
  return `DedicatedWorker ${workers.slice(0, 3).map(share).join(', ')}; ` +
         shown.map(([name, t]) => `${name} ${share(t)}`).join(', ') +
         `, others ${share(rest + workers.slice(3).reduce((x, y) => x + y, 0))}; ` +
         `idle ${idle} (% of one core, ${b.machine.cpus} cores)`;
}

// Counts the page's painted frames with their times, from the page's own record (window.vorl,
// whose frames field the page increments on each frame shown).
function countPaintedFrames() {
  let record = null;
  Object.defineProperty(window, 'vorl', {
    configurable: true,
    get() { return record; },
    set(value) {
      record = value;
      let frames = value.frames;
      const times = [];
      value.frameTimes = times;
      Object.defineProperty(value, 'frames', {
        get() { return frames; },
        set(n) {
          if (n > frames) times.push(performance.now());
          else times.length = 0;
          frames = n;
        },
      });
    },
  });
}

async function pageRun(browser, base, tracePath) {
  const args = ['-res', settings.size, '--frames', String(settings.frames), '--input', SCRIPT_NAME];
  if (settings.headlessPage || settings.oneThread) args.unshift('--headless');
  const url = `${base}vorl.html?args=${encodeURIComponent(args.join(' '))}&surface=${SURFACE_NAME}` +
              (settings.oneThread ? '&threads=off' : '');
  const page = await browser.newPage();
  const [viewWidth, viewHeight] = settings.viewport.split('x').map((n) => parseInt(n, 10));
  await page.setViewport({ width: viewWidth, height: viewHeight });
  await page.evaluateOnNewDocument(countPaintedFrames);
  if (tracePath) {
    await page.tracing.start({ path: tracePath, categories: [
      'devtools.timeline', 'disabled-by-default-devtools.timeline', 'v8.execute', 'toplevel',
      'disabled-by-default-v8.cpu_profiler', 'blink', 'cc', 'gpu'] });
  }
  await page.goto(url);
  const start = Date.now();
  const end = start + 600 * 1000;
  // The time the page's threads take, from its third second to the last look before it ends
  // (its threads end with it). A look reads every thread's figures (milliseconds of the
  // machine), so it is taken once a second, not at every poll.
  const rootPid = browser.process()?.pid;
  let pids = null, before = null, last = null, lookedAt = 0;
  let s = null;
  while (Date.now() < end) {
    let taken = null;
    if (!pids && rootPid && Date.now() - start >= 2000) {
      pids = browserProcesses(rootPid);
      before = timeSnapshot(pids);
      lookedAt = Date.now();
    } else if (pids && Date.now() - lookedAt >= 1000) {
      taken = timeSnapshot(pids);
      lookedAt = Date.now();
    }
    s = await page.evaluate(() => ({
      exit: window.vorl.exitStatus, threaded: window.vorl.threaded,
      isolated: self.crossOriginIsolated, shared: typeof SharedArrayBuffer !== 'undefined',
      cores: navigator.hardwareConcurrency, times: window.vorl.frameTimes || [],
      shownWidth: Math.round(document.getElementById('canvas').getBoundingClientRect().width),
      output: document.getElementById('output').innerText }));
    if (s.exit !== null) break;
    if (taken) last = taken;   // taken while the page still ran
    await sleep(200);
  }
  const shares = before && last ? threadShares(before, last) : null;
  if (tracePath) await page.tracing.stop();
  await page.close();
  if (s.exit !== 0) throw new Error(`the page ended with ${s.exit}: ${s.output.slice(-500)}`);
  checkScene('the page', s.output);
  // Painted frames a second over the run's second half, when the page painted any.
  const t = s.times;
  const from = Math.floor(t.length / 2);
  const painted = t.length > 10 ? (t.length - 1 - from) * 1000 / (t[t.length - 1] - t[from]) : NaN;
  return { fps: statisticsFps(s.output), painted, threaded: s.threaded, isolated: s.isolated,
           shared: s.shared, cores: s.cores, shownWidth: s.shownWidth, shares };
}

// The trace's CPU samples by thread and function (self time), the busiest first.
function summariseTrace(tracePath) {
  const events = JSON.parse(fs.readFileSync(tracePath, 'utf8')).traceEvents;
  const threadNames = new Map();
  for (const e of events) {
    if (e.ph === 'M' && e.name === 'thread_name') threadNames.set(`${e.pid}:${e.tid}`, e.args.name);
  }
  // Profile chunks arrive in pieces: nodes accumulate per profile id, samples name node ids.
  const profiles = new Map();
  for (const e of events) {
    if (e.name !== 'Profile' && e.name !== 'ProfileChunk') continue;
    const key = `${e.pid}:${e.id}`;
    if (!profiles.has(key)) profiles.set(key, { thread: `${e.pid}:${e.tid}`, nodes: new Map(), counts: new Map(), total: 0, deltas: 0 });
    const p = profiles.get(key);
    if (e.name === 'Profile') { p.thread = `${e.pid}:${e.tid}`; continue; }
    const data = e.args.data || {};
    const cpu = data.cpuProfile || {};
    for (const node of cpu.nodes || []) p.nodes.set(node.id, node.callFrame);
    const deltas = data.timeDeltas || [];
    (cpu.samples || []).forEach((id, i) => {
      const d = deltas[i] || 0;
      p.counts.set(id, (p.counts.get(id) || 0) + d);
      p.total += d;
    });
  }
  const lines = [];
  for (const p of profiles.values()) {
    const byName = new Map();
    for (const [id, us] of p.counts) {
      const frame = p.nodes.get(id) || { functionName: '?' };
      const name = frame.functionName || `(anonymous ${path.basename(frame.url || '')})`;
      byName.set(name, (byName.get(name) || 0) + us);
    }
    const idle = (byName.get('(idle)') || 0);
    const busy = p.total - idle;
    if (busy < 50000) continue;   // threads that did almost nothing
    lines.push(`  thread ${threadNames.get(p.thread) || p.thread}: ${(busy / 1000).toFixed(0)} ms ` +
               `busy of ${(p.total / 1000).toFixed(0)} ms sampled`);
    const top = [...byName].filter(([n]) => n !== '(idle)').sort((a, b) => b[1] - a[1]).slice(0, 12);
    for (const [name, us] of top) {
      lines.push(`    ${(100 * us / p.total).toFixed(1).padStart(5)}%  ${(us / 1000).toFixed(0).padStart(6)} ms  ${name}`);
    }
  }
  return lines.join('\n');
}

// --one-thread: the three one-thread runs of each pair, their ratios and the medians.
async function oneThreadPairs(browser, base, folder) {
  console.log(`web_fps --one-thread: the comparison scene at static detail ${settings.detail}, ` +
              `${settings.size}, ${settings.frames} frames a run, ${settings.pairs} pairs, each ` +
              'run on one thread without a picture: native, native on the 128-bit path, the page');
  const runs = { native: [], narrow: [], page: [] };
  const ratios = { '128-bit/native': [], 'page/128-bit': [], 'page/native': [] };
  const ratioText = (which) => Object.entries(ratios)
    .map(([name, values]) => `${name} ${which(values).toFixed(2)}x`).join(', ');
  for (let r = 0; r < settings.pairs; ++r) {
    const native = nativeRun(folder, { VEXA_THREADS: '0' });
    const narrow = nativeRun(folder, { VEXA_THREADS: '0', VEXA_PATH: 'v128' });
    const page = await pageRun(browser, base, null);
    if (page.threaded) throw new Error('the page ran its threaded build despite threads=off');
    runs.native.push(native);
    runs.narrow.push(narrow);
    runs.page.push(page.fps);
    ratios['128-bit/native'].push(narrow / native);
    ratios['page/128-bit'].push(page.fps / narrow);
    ratios['page/native'].push(page.fps / native);
    console.log(`  pair ${r + 1}: native ${native.toFixed(1)} fps, native 128-bit ` +
                `${narrow.toFixed(1)} fps, page ${page.fps.toFixed(1)} fps; ` +
                ratioText((values) => values[values.length - 1]));
  }
  console.log(`  median: native ${median(runs.native).toFixed(1)} fps, native 128-bit ` +
              `${median(runs.narrow).toFixed(1)} fps, page ${median(runs.page).toFixed(1)} fps; ` +
              `median ratios ${ratioText(median)}`);
}

async function main() {
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'vorl-web-fps-'));
  const written = spawnSync(frameBench, ['--write-comparison', folder], { encoding: 'utf8' });
  if (written.status !== 0) throw new Error(`frame_bench --write-comparison: ${written.stderr}`);
  const script = comparisonScript(settings.detail);
  fs.writeFileSync(path.join(folder, SCRIPT_NAME), script);
  fs.writeFileSync(path.join(webFolder, SCRIPT_NAME), script);
  fs.copyFileSync(path.join(folder, 'data', 'vorl.txt'), path.join(webFolder, SURFACE_NAME));

  // The page's timers and painting keep their full rate although no window shows it.
  const { browser, base, close } = await openBrowser(
    puppeteer, webFolder, 8500 + (process.pid % 200),
    ['--disable-background-timer-throttling', '--disable-renderer-backgrounding',
     '--disable-backgrounding-occluded-windows']);
  try {
    if (settings.oneThread) {
      await oneThreadPairs(browser, base, folder);
      return;
    }
    console.log(`web_fps: the comparison scene at static detail ${settings.detail}, ` +
                `${settings.size}, ${settings.frames} frames a run, ${settings.pairs} pairs ` +
                `(native, then the page${settings.headlessPage ? ' run with --headless' : ''}); ` +
                'figures: the statistics line at exit');
    const ratios = [], natives = [], pages = [];
    for (let r = 0; r < settings.pairs; ++r) {
      const native = nativeRun(folder);
      const page = await pageRun(browser, base, null);
      if (r === 0) {
        console.log(`  page: crossOriginIsolated ${page.isolated}, SharedArrayBuffer ` +
                    `${page.shared}, threaded variant ${page.threaded}, ` +
                    `hardwareConcurrency ${page.cores}, picture shown ${page.shownWidth} ` +
                    `pixels wide in a ${settings.viewport} window`);
      }
      natives.push(native);
      pages.push(page.fps);
      ratios.push(page.fps / native);
      console.log(`  pair ${r + 1}: native ${native.toFixed(1)} fps, page ${page.fps.toFixed(1)} fps ` +
                  `(painted ${Number.isNaN(page.painted) ? '-' : page.painted.toFixed(1)} a second), ` +
                  `ratio ${(page.fps / native).toFixed(2)}x`);
      if (page.shares) console.log(`    the page's run: ${page.shares}`);
    }
    console.log(`  median: native ${median(natives).toFixed(1)} fps, page ` +
                `${median(pages).toFixed(1)} fps; median ratio page/native ` +
                `${median(ratios).toFixed(2)}x`);
    if (settings.profile) {
      const page = await pageRun(browser, base, settings.profile);
      console.log(`\nprofiled page run: ${page.fps.toFixed(1)} fps; the trace is in ` +
                  `${settings.profile}; CPU samples by thread, self time:`);
      console.log(summariseTrace(settings.profile));
    }
  } finally {
    await close();
    fs.rmSync(folder, { recursive: true, force: true });
    fs.rmSync(path.join(webFolder, SCRIPT_NAME), { force: true });
    fs.rmSync(path.join(webFolder, SURFACE_NAME), { force: true });
  }
}

main().catch((e) => { console.error(e); process.exit(1); });
