// The device on the web page, in real headless Chromium: one session that
// goes from the settings dialog to the tray and back, and quits. Every step
// waits for what it expects to appear; none waits for a fixed time.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import http from 'node:http';
import { brokenImages, closeDevicePage, openDevicePage } from './sim.mjs';

let sim;
let browser;
let page;

let session;

before(async () => {
  // Four times real time: a bubble stays open for a second of wall time and
  // the monitor passes every 1.5 s.
  session = await openDevicePage({ speed: 4 });
  ({ sim, browser, page } = session);
});

after(() => closeDevicePage(session));

const trayIcon = () => page.locator('#taskbar .tray-icon');
const series = () => page.locator('#plot').getAttribute('data-series');

test('the settings dialog shows with its caption, texts and three legend icons', async () => {
  await page.waitForSelector('#client[data-view="dialog"]');
  assert.equal(await page.locator('#nav-caption').textContent(), 'Corvane');
  assert.ok(await page.locator('#nav-ok').isVisible(), 'the OK button is in the navigation bar');
  const texts = await page.locator('#client .control.text').allTextContents();
  assert.ok(texts[0].startsWith('Hit OK to minimize Corvane to the system tray.  By default'));
  for (const label of ['100 MHz', '400 MHz', '498 MHz', 'Questions: corvane@example.com   Ver 0.91']) {
    assert.ok(texts.includes(label), `the dialog shows "${label}"`);
  }
  assert.equal(await page.locator('[data-id="1005"]').textContent(), 'Allow 100 MHz');
  assert.equal(await page.locator('[data-id="1010"]').textContent(), 'Show Speed Change Notification');
  assert.equal(await page.locator('[data-id="2"]').textContent(), 'Quit (return to 400 Mhz)');
  // The legend: the 100, 400 and 498 MHz pictures, drawn from the resources.
  const icons = page.locator('#client .control.icon img');
  assert.equal(await icons.count(), 3);
  await page.waitForFunction(() => [...document.querySelectorAll('#client .control.icon img')]
      .every((img) => img.complete && img.naturalWidth === 32));
  const ids = await icons.evaluateAll((imgs) => imgs.map((img) => Number(img.dataset.icon)));
  assert.deepEqual(ids.sort((a, b) => a - b), [101, 115, 119]);
  assert.deepEqual(await brokenImages(page), [], 'no broken image in the dialog view');
});

test('a click on a check box checks it', async () => {
  await page.locator('[data-id="1010"]').click();
  await page.waitForSelector('[data-id="1010"][aria-checked="true"]');
});

test('OK hides the dialog and shows the 400 MHz tray icon', async () => {
  await page.locator('#nav-ok').click();
  await page.waitForSelector('#client[data-view="today"]');
  await page.waitForSelector('#taskbar .tray-icon[data-icon="109"][data-tip="Turbo On"]');
  await page.waitForFunction(() => document.getElementById('mhz').textContent === '398.13');
});

test('a click on the tray icon shows the 498 MHz icon and its bubble', async () => {
  await trayIcon().click();
  await page.waitForSelector('#taskbar .tray-icon[data-icon="110"]');
  await page.waitForSelector('.bubble[data-text="Speed set to 498 MHz"]');
  assert.equal(await page.locator('.bubble .title').textContent(), 'Corvane');
  assert.deepEqual(await brokenImages(page), [], 'no broken image in the tray view');
  await page.waitForFunction(() => document.getElementById('mhz').textContent === '497.66');
});

test('a resume drops the clock to 199 MHz and the monitor brings back 498 MHz', async () => {
  await page.locator('#resume').click();
  await page.waitForFunction(() => document.getElementById('plot').dataset.series.endsWith('199.07,497.66'));
  const values = (await series()).split(',').map(Number);
  assert.ok(values.includes(199.07) && values.at(-1) === 497.66, `plot: ${values}`);
  assert.equal(await page.locator('#cclkcfg-bits').textContent(), 'TURBO on, FCS set');
});

test('a double click on the tray icon brings the dialog back', async () => {
  await trayIcon().dblclick();
  await page.waitForSelector('#client[data-view="dialog"]');
  assert.equal(await page.locator('#nav-caption').textContent(), 'Corvane');
  // The dialog kept its state: notifications are still on.
  await page.waitForSelector('[data-id="1010"][aria-checked="true"]');
});

test('Quit ends the program with the clock at 398.13 MHz, and the device stays on view', async () => {
  await page.locator('[data-id="2"]').click();
  await page.waitForSelector('#program-state[data-state="ended"]');
  assert.equal(await page.locator('#program-state').textContent(), 'ended (exit code 0)');
  await page.waitForFunction(() => document.getElementById('mhz').textContent === '398.13');
  await page.waitForSelector('#client[data-view="today"] .ended');
  assert.deepEqual(await brokenImages(page), [], 'no broken image once the program has ended');
  // Quit's own bubble is left with the shell.
  await page.waitForSelector('.bubble[data-text="Speed set to 400 MHz"], #nav-bubbles img[title="Speed set to 400 MHz"]');
});

test('a page refused an event stream (503) reconnects once one is free, and catches up', async () => {
  // Take every stream the first page left free.
  const taken = [];
  for (;;) {
    const { req, res } = await new Promise((resolve, reject) => {
      const r = http.get({ host: '127.0.0.1', port: sim.port, path: '/api/events', agent: false },
                         (response) => resolve({ req: r, res: response }));
      r.on('error', reject);
    });
    res.resume();
    if (res.statusCode !== 200) {
      assert.equal(res.statusCode, 503);
      req.destroy();
      break;
    }
    taken.push(req);
  }
  const second = await browser.newPage();
  second.setDefaultTimeout(20000);
  try {
    await second.goto(sim.url);
    await second.waitForSelector('#connection[data-state="reconnecting"]');
    for (const req of taken) req.destroy();
    await second.waitForSelector('#connection[data-state="live"]');
    // The whole state: the program ended by the test before, its log, the clock.
    await second.waitForSelector('#program-state[data-state="ended"]');
    await second.waitForFunction(() => document.getElementById('mhz').textContent === '398.13');
    await second.waitForFunction(() => document.querySelectorAll('#log li').length > 0);
  } finally {
    await second.close();
  }
});
