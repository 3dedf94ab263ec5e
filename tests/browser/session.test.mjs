// A session on the page saved as a scenario and replayed by the scenario
// runner: a double tap on the tray icon, a power cycle and another
// program's CCCR write, then "Save the session as a scenario"; the file
// must end with expect lines for the state the page shows, and running it
// with corvane-sim --script must reach that state (exit 0). Then the same
// session's trace, downloaded from the page, read back against the trace
// event format. Every step waits for what it expects; none waits for a
// fixed time.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { execFile } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { checkTraceFormat } from '../trace/trace_format.mjs';
import { SIM, closeDevicePage, openDevicePage } from './sim.mjs';

let page;
const dir = mkdtempSync(join(tmpdir(), 'corvane-session-'));

let session;

before(async () => {
  session = await openDevicePage({ speed: 4, pageOptions: { acceptDownloads: true } });
  ({ page } = session);
});

after(async () => {
  await closeDevicePage(session);
  rmSync(dir, { recursive: true, force: true });
});

// The number of clock changes so far (the hardware panel's cpufreq count).
const changes = async () => Number(await page.locator('#total-trans').textContent());
// Waits until the clock has dropped and come back to `mhz`: two more changes.
const dipAndBack = (from, mhz) => page.waitForFunction(([n, v]) =>
  Number(document.getElementById('total-trans').textContent) >= n + 2 &&
  document.getElementById('mhz').textContent === v, [from, mhz]);
const mhz = (value) => page.waitForFunction((v) => document.getElementById('mhz').textContent === v, value);

test('a session with a double tap, a power cycle and a CCCR write replays to the same state', async () => {
  await page.waitForSelector('#client[data-view="dialog"]');
  await page.locator('#nav-ok').click();
  await page.waitForSelector('#taskbar .tray-icon[data-icon="109"]');
  await mhz('398.13');
  // A power cycle: the monitor brings 398 MHz back.
  let before = await changes();
  await page.locator('#resume').click();
  await dipAndBack(before, '398.13');
  // Another program's word: replaced by the program's.
  await page.locator('#foreign-choice').selectOption('0x141');
  before = await changes();
  await page.locator('#foreign-form button[type="submit"]').click();
  await dipAndBack(before, '398.13');
  // A double tap: the first touch taps (to 498 MHz), the second opens the dialog.
  await page.locator('#taskbar .tray-icon').dblclick();
  await page.waitForSelector('#client[data-view="dialog"]');
  await mhz('497.66');
  // A check box, saved by the word the program's names give it.
  await page.locator('[data-id="1005"]').click();
  await page.waitForSelector('[data-id="1005"][aria-checked="true"]');

  const [download] = await Promise.all([page.waitForEvent('download'), page.locator('#save-session').click()]);
  const file = join(dir, 'session.scn');
  await download.saveAs(file);
  const text = readFileSync(file, 'utf8');
  const lines = text.trim().split('\n');
  for (const line of ['ok', 'resume', 'foreign 0x141', 'touch', 'lift', 'allow100']) {
    assert.ok(lines.includes(line), `the scenario has "${line}":\n${text}`);
  }
  assert.equal(lines.filter((l) => l === 'touch').length, 2, 'two touches');
  for (const expect of ['expect program running', 'expect dialog visible', 'expect tray none', 'expect mhz 497.66']) {
    assert.ok(lines.includes(expect), `the scenario ends with "${expect}":\n${text}`);
  }
  assert.ok(lines.at(-1).startsWith('expect '), 'it ends with expect lines');

  const replay = await new Promise((resolve) => {
    execFile(SIM, ['--script', file, '--quiet'], (error, stdout, stderr) =>
      resolve({ code: error ? error.code : 0, stdout, stderr }));
  });
  assert.equal(replay.code, 0, `the replay passes:\n${text}\n${replay.stdout}${replay.stderr}`);
  assert.match(replay.stdout, /"result":"pass"/);
});

test('the trace downloaded from the page holds the session, in the trace event format', async () => {
  const [download] = await Promise.all([page.waitForEvent('download'), page.locator('#download-trace').click()]);
  assert.equal(download.suggestedFilename(), 'corvane-trace.json');
  const file = join(dir, 'trace.json');
  await download.saveAs(file);
  const doc = JSON.parse(readFileSync(file, 'utf8'));
  const problems = [];
  const named = checkTraceFormat(doc, (ok, what) => { if (!ok) problems.push(what); });
  assert.deepEqual(problems.slice(0, 10), [], 'the trace keeps the format\'s rules');

  const names = [...named.values()];
  for (const track of ['UI thread', 'clock hardware', 'shell', 'input']) {
    assert.ok(names.includes(track), `a "${track}" track in ${names}`);
  }
  const events = doc.traceEvents;
  const clockTrack = [...named].find(([, n]) => n === 'clock hardware')[0];
  const kinds = events.filter((e) => e.tid === clockTrack && e.ph === 'i').map((e) => e.name);
  for (const kind of ['sleep-resume', 'foreign-cccr', 'cclkcfg-write']) {
    assert.ok(kinds.includes(kind), `the clock hardware track shows ${kind}`);
  }
  // The counter ends at the clock the page shows.
  const counter = events.filter((e) => e.ph === 'C' && e.name === 'core clock');
  assert.equal(counter.at(-1).args.MHz.toFixed(2), await page.locator('#mhz').textContent());
  // The double tap's touches are on the input track.
  assert.ok(events.filter((e) => e.cat === 'input' && e.name === 'touch').length >= 2, 'the touches');
});
