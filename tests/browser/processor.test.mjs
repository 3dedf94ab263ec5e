// The page of a device with a processor the program does not serve: the
// processor named with its main ID, the program's message box on the screen
// with its OK, and the program ended once it is dismissed, the clock never
// touched.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { closeDevicePage, openDevicePage } from './sim.mjs';

let session;
let page;

before(async () => {
  session = await openDevicePage({ speed: 4, args: ['--cpu', 'pxa270'] });
  ({ page } = session);
});

after(() => closeDevicePage(session));

test('the processor and the message box that names its ID are on the page', async () => {
  await page.waitForFunction(() => document.getElementById('processor').textContent !== '');
  assert.equal(await page.locator('#processor').textContent(), 'Intel PXA270 (C5), main ID 0x69054117');
  assert.equal(await page.locator('#processor-name').textContent(), 'Intel PXA270 (C5)');
  await page.waitForSelector('#client .control.text');
  const text = (await page.locator('#client .control.text').allTextContents()).join('');
  assert.match(text, /has the ID 0x69054117, which is not one of them/);
  assert.equal(await page.locator('#nav-caption').textContent(), 'Corvane');
  assert.ok(await page.locator('#nav-ok').isVisible(), 'the message box has its OK');
});

test('OK dismisses the box and the program ends, with no fault and the clock at reset', async () => {
  await page.locator('#nav-ok').click();
  await page.waitForSelector('#program-state[data-state="ended"]');
  assert.equal(await page.locator('#program-state').textContent(), 'ended (exit code 0)');
  assert.equal(await page.locator('#cccr').textContent(), '0x108');
  assert.equal(await page.locator('#hardware-faults').textContent(), 'none');
});
