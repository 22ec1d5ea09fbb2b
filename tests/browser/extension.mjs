// Drives the sample extension (examples/extension) in headless Chromium for the extension's
// end-to-end test (tests/app/BrowserExtensionTest.cpp registers `zelvorn native` for it, starts
// nginx and checks the file). Usage: node extension.mjs '<json>' with
//   extension   the extension's folder, loaded unpacked
//   profile     the browser's profile folder (its NativeMessagingHosts holds the host manifest)
//   id          the extension ID its manifest's key must give
//   url         the file to download through the extension's page
// Exits 0 once the page shows the download complete; otherwise prints the step that failed.
import { chromium } from 'playwright-core';

const job = JSON.parse(process.argv[2]);
const STEP_MS = 60000;

function step(text) {
  console.log(`[${new Date().toISOString().slice(11, 23)}] ${text}`);
}

const context = await chromium.launchPersistentContext(job.profile, {
  executablePath: '/usr/bin/chromium',
  headless: true,
  // Nothing but 127.0.0.1 is reachable: no background connections. Root cannot use the sandbox.
  args: ['--headless=new', `--disable-extensions-except=${job.extension}`, `--load-extension=${job.extension}`,
         '--disable-background-networking', '--disable-component-update', '--disable-sync', '--no-first-run']
    .concat(process.getuid && process.getuid() === 0 ? ['--no-sandbox'] : []),
});
let status = 1;
try {
  step('wait for the extension\'s service worker');
  const worker = context.serviceWorkers()[0] ||
    await context.waitForEvent('serviceworker', { timeout: STEP_MS });
  const id = new URL(worker.url()).host;
  if (id !== job.id)
    throw new Error(`the extension's ID is ${id}, not ${job.id}: the manifest's key does not give it`);

  step('open the extension\'s page and add the URL');
  const page = await context.newPage();
  page.on('pageerror', (error) => console.log(`page error: ${error.message}`));
  await page.goto(`chrome-extension://${id}/page.html`);
  await page.fill('#url', job.url);
  await page.click('#add');

  step('wait until the page shows the download complete');
  const row = '#tasks tr[data-id="1"]';
  await page.waitForSelector(`${row}[data-state="complete"], ${row}[data-state="error"]`, { timeout: STEP_MS });
  step(`the page shows: ${await page.textContent('#tasks')} ${await page.textContent('#host')}`);
  if (await page.getAttribute(row, 'data-state') === 'complete')
    status = 0;
} catch (error) {
  console.log(`failed: ${error.message}`);
} finally {
  await context.close();
}
process.exit(status);
