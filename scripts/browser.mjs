// Headless Chromium and a local server of the page, for the page tests (make test-web) and
// bench-web: scripts/serve-web serves the page's folder cross-origin isolated on 127.0.0.1,
// and Debian's Chromium (CHROMIUM overrides the path) runs through puppeteer-core, passed in
// by the caller, which loads it from build-web/node_modules, in a profile folder of its own.
// close() ends the browser and the server and removes the profile.
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';

export async function openBrowser(puppeteer, webFolder, port, extraArgs = []) {
  const server = spawn('python3', [path.join(path.dirname(new URL(import.meta.url).pathname),
                                             'serve-web'), webFolder, String(port)],
                       { env: { ...process.env, SERVE_QUIET: '1' }, stdio: 'ignore' });
  await new Promise((resolve) => setTimeout(resolve, 1000));
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'vorl-chromium-'));
  const removeProfile = () => fs.rmSync(profile, { recursive: true, force: true });
  let browser;
  try {
    browser = await puppeteer.launch({
      executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
      headless: true,
      userDataDir: profile,
      args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
             '--disable-background-networking', '--disable-component-update', '--disable-sync',
             '--disable-dev-shm-usage', ...extraArgs],
    });
  } catch (error) {
    server.kill();
    removeProfile();
    throw error;
  }
  return {
    browser,
    base: `http://127.0.0.1:${port}/`,
    async close() {
      await browser.close();
      server.kill();
      removeProfile();
    },
  };
}
