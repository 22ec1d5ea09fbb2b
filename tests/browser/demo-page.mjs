// Drives the demo page in headless Chromium the way a person would, for the end-to-end test
// (tests/app/BrowserDemoTest.cpp sets up nginx and `zelvorn serve`, then checks the files and
// nginx's log). Usage: node demo-page.mjs '<json>' with
//   page        the demo page's address
//   folder      the download folder to set on the page
//   small, big  two file URLs: the first is downloaded whole, the second stopped part-way,
//               still stopped after a reload, then resumed and finished
//   legacy      a page written for the in-process control (served from another origin)
//   refused     a page of an origin the host does not allow, that watches its connection, then
//               asks for access (the test's desktop says yes) and connects
//   screenshot  where to write a screenshot of the finished page
// Exits 0 when every step went as expected; otherwise prints the step that failed.
import { chromium } from 'playwright-core';

const job = JSON.parse(process.argv[2]);
const STEP_MS = 60000;

function step(text) {
  console.log(`[${new Date().toISOString().slice(11, 23)}] ${text}`);
}

// The page's saved state of one task, as it keeps it in localStorage.
async function saved(page, id) {
  return page.evaluate((taskId) => JSON.parse(localStorage.getItem('zelvorn.demo.task.' + taskId)), id);
}

async function rowState(page, id, state) {
  await page.waitForSelector(`#tasks tr[data-id="${id}"][data-state="${state}"]`, { timeout: STEP_MS });
}

async function connected(page) {
  await page.waitForSelector('#connection.on', { timeout: STEP_MS });
}

async function addFile(page, url) {
  await page.fill('#url', url);
  await page.click('#add-file');
}

const browser = await chromium.launch({
  executablePath: '/usr/bin/chromium',
  // Nothing but 127.0.0.1 is reachable: no background connections. Root cannot use the sandbox.
  args: ['--disable-background-networking', '--disable-component-update', '--disable-sync', '--no-first-run',
         '--disable-quic'].concat(process.getuid && process.getuid() === 0 ? ['--no-sandbox'] : []),
});
const failures = [];
try {
  const context = await browser.newContext({ viewport: { width: 1280, height: 860 } });
  const page = await context.newPage();
  page.on('pageerror', (error) => failures.push(`page error: ${error.message}`));

  step('the legacy page creates the control through ActiveXObject');
  await page.goto(job.legacy);
  await page.waitForFunction(() => document.title === 'done', null, { timeout: STEP_MS });
  const legacy = await page.textContent('#result');
  step(`legacy page says: ${legacy}`);
  if (!legacy.includes('load_complete') || !legacy.includes('refused Other.Thing'))
    failures.push(`legacy page: ${legacy}`);

  step('a page of an origin the host refuses is told why, and zelvorn.js gives up');
  await page.goto(job.refused);
  await page.waitForFunction(() => document.title === 'gave up', null, { timeout: STEP_MS });
  const calls = await page.textContent('#calls');
  step(`it was told: ${calls.split('\n').join(' | ')}`);
  const told = calls.split('\n');
  if (!told[0].startsWith('1008 true ') || !told[told.length - 1].startsWith('1008 false ') ||
      !told.every((line) => line.includes('is not allowed')))
    failures.push(`the refused page: ${calls}`);

  step('the refused page asks for access; once the user allows it, the page connects');
  const answer = await page.evaluate(() => Zelvorn.requestAccess());
  step(`it was answered: ${JSON.stringify(answer)}`);
  if (!answer.allowed || answer.reason !== 'allowed')
    failures.push(`the request for access: ${JSON.stringify(answer)}`);
  await page.waitForFunction(() => document.title === 'connected', null, { timeout: STEP_MS });

  step('open the demo page');
  await page.goto(job.page);
  await connected(page);
  await page.fill('#folder', job.folder);
  await page.selectOption('#threads', '2');
  await page.click('#apply');

  step('download the small file');
  await addFile(page, job.small);
  await page.click('#start');
  await rowState(page, 1, 'complete');

  step('start the big file and stop it part-way');
  await addFile(page, job.big);
  await page.click('#start');
  await page.waitForFunction(() => {
    const text = document.querySelector('#tasks tr[data-id="2"] .percent');
    return text && parseInt(text.textContent, 10) >= 20;
  }, null, { timeout: STEP_MS, polling: 50 });
  await page.click('#tasks tr[data-id="2"] button.stop');
  await rowState(page, 2, 'stopped');
  const stopped = await saved(page, 2);
  step(`stopped at ${stopped.lenLoc} of ${stopped.lenSvr} bytes, in ${stopped.pathLoc}`);
  if (!(stopped.lenLoc > 0 && stopped.lenLoc < stopped.lenSvr && stopped.pathLoc))
    failures.push(`the stopped task's saved state: ${JSON.stringify(stopped)}`);

  step('reload: the stopped task stays stopped until it is resumed, and then fetches only the rest');
  await page.reload();
  await connected(page);
  await rowState(page, 2, 'stopped');
  await page.click('#tasks tr[data-id="2"] button.resume');
  await rowState(page, 2, 'complete');
  const finished = await saved(page, 2);
  step(`finished: ${finished.lenLoc} of ${finished.lenSvr} bytes`);
  if (finished.lenLoc !== finished.lenSvr)
    failures.push(`the finished task's saved state: ${JSON.stringify(finished)}`);
  if ((await saved(page, 1)).state !== 'complete')
    failures.push('the small file is no longer complete after the reload');

  await page.screenshot({ path: job.screenshot, fullPage: true });
  step(`screenshot: ${job.screenshot}`);
} catch (error) {
  failures.push(error.stack || String(error));
} finally {
  await browser.close();
}
for (const failure of failures)
  console.log(`FAILED: ${failure}`);
process.exit(failures.length ? 1 : 0);
