// Makes the README's screenshots: the settings dialog, the tray with a
// bubble, and the hardware panel.
//   node tests/browser/screenshots.mjs [OUTPUT_DIR]
import { mkdirSync } from 'node:fs';
import { brokenImages, launchBrowser, startSimulator, stopSimulator } from './sim.mjs';

const out = process.argv[2] || new URL('../../docs/screenshots', import.meta.url).pathname;
mkdirSync(out, { recursive: true });
// Real time, so that the bubble is still open for its picture.
const sim = await startSimulator({ speed: 1 });
const browser = await launchBrowser();
// Each picture is taken once every image on the page has loaded; a broken
// one fails the run rather than end up in the README.
async function shoot(page, locator, path) {
  const broken = await brokenImages(page);
  if (broken.length) throw new Error(`broken images before ${path}: ${broken.join(', ')}`);
  await (locator ?? page).screenshot({ path });
}
try {
  const page = await browser.newPage({ viewport: { width: 1440, height: 800 } });
  await page.goto(sim.url);
  await page.waitForSelector('#client[data-view="dialog"] .icon img');
  await shoot(page, page.locator('#device'), `${out}/dialog.png`);

  await page.locator('[data-id="1010"]').click();  // notifications on
  await page.locator('#nav-ok').click();
  await page.waitForSelector('.tray-icon[data-icon="109"]');
  await page.locator('.tray-icon').click();
  await page.waitForSelector('.bubble[data-text="Speed set to 498 MHz"]');
  await shoot(page, page.locator('#device'), `${out}/tray-bubble.png`);

  await page.locator('#resume').click();
  await page.waitForFunction(() => document.getElementById('plot').dataset.series.endsWith('199.07,497.66'),
                             null, { timeout: 15000 });
  await shoot(page, page.locator('#hardware'), `${out}/hardware.png`);
  await shoot(page, null, `${out}/page.png`);
} finally {
  await browser.close();
  await stopSimulator(sim);
}
console.log(`screenshots in ${out}`);
