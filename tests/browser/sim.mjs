// Starting corvane-sim's web page on a free port, and Debian's Chromium
// driven by playwright-core, for the browser and HTTP tests.
import { spawn } from 'node:child_process';
import { chromium } from 'playwright-core';

export const SIM = process.env.CORVANE_SIM || new URL('../../build/dev/corvane-sim', import.meta.url).pathname;
export const CHROMIUM = process.env.CORVANE_CHROMIUM || '/usr/bin/chromium';

// Starts the simulator (device time `speed` times faster, with more
// options in `args`) and resolves once it prints its address.
export function startSimulator({ speed = 20, args = [] } = {}) {
  return new Promise((resolve, reject) => {
    const child = spawn(SIM, ['--port', '0', '--speed', String(speed), ...args],
                        { stdio: ['ignore', 'pipe', 'pipe'] });
    let out = '';
    let err = '';
    const fail = (why) => reject(new Error(`${why}\nstdout: ${out}\nstderr: ${err}`));
    child.stderr.on('data', (d) => { err += d; });
    child.stdout.on('data', (d) => {
      out += d;
      const m = out.match(/http:\/\/127\.0\.0\.1:(\d+)\//);
      if (m) resolve({ child, port: Number(m[1]), url: m[0], output: () => out });
    });
    child.on('exit', (code) => fail(`corvane-sim exited with ${code} before serving`));
    child.on('error', fail);
  });
}

// Stops the simulator with Ctrl+C (SIGINT); resolves with how long it took.
export function stopSimulator(sim) {
  return new Promise((resolve) => {
    const started = Date.now();
    if (sim.child.exitCode !== null) return resolve(0);
    sim.child.once('exit', (code, signal) => resolve({ ms: Date.now() - started, code, signal }));
    sim.child.kill('SIGINT');
  });
}

// Debian's Chromium, headless, in a fresh profile that playwright makes and
// removes; no background traffic (the machine has no network).
export function launchBrowser() {
  return chromium.launch({
    executablePath: CHROMIUM,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
           '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
}

// The simulator (with `startSimulator`'s options) and a browser page on it,
// each step of the page given 20 s; `closeDevicePage` ends both.
export async function openDevicePage({ speed, args, pageOptions } = {}) {
  const sim = await startSimulator({ speed, args });
  const browser = await launchBrowser();
  const page = await browser.newPage(pageOptions);
  page.setDefaultTimeout(20000);
  await page.goto(sim.url);
  return { sim, browser, page };
}

export async function closeDevicePage(session) {
  await session?.browser?.close();
  if (session?.sim) await stopSimulator(session.sim);
}

// Waits until every image on the page has loaded or failed, then returns the
// sources of those that failed (a broken image has no natural size).
export async function brokenImages(page) {
  await page.waitForFunction(() => [...document.images].every((img) => img.complete));
  return page.evaluate(() => [...document.images]
      .filter((img) => img.naturalWidth === 0 || img.naturalHeight === 0)
      .map((img) => img.getAttribute('src')));
}
