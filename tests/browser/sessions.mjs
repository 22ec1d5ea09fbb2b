// Two tabs of the demo page and a page written for the in-process control, in headless Chromium,
// through what happens to pages: both tabs download at once, one reloads mid-download, the other
// loses its connection for a few seconds, and the host is killed and started again
// (tests/app/BrowserSessionsTest.cpp sets up nginx, then checks the files and nginx's log).
// The script starts `zelvorn serve` itself, so that it can kill and restart it, and puts a
// proxy of its own between the pages and the host, where it cuts one tab's connection.
// Usage: node sessions.mjs '<json>' with
//   zelvorn   the zelvorn executable
//   proxy     a free port for the proxy
//   nginx     nginx's origin
//   folder    the download folder
//   files     {name: url}: s (tab 1, stopped part-way), f1, f2 (tab 1), g1, g2 (tab 2), l1 (legacy)
//   legacy    the legacy page's address (on nginx; it loads zelvorn.js through the proxy)
// Exits 0 when every page saw every task end as it would have without the interruptions: each
// "down_complete" once, no "down_error", the stopped task still stopped.
import { chromium } from 'playwright-core';
import { spawn } from 'node:child_process';
import http from 'node:http';
import net from 'node:net';

const job = JSON.parse(process.argv[2]);
const STEP_MS = 60000;
const proxyOrigin = `http://127.0.0.1:${job.proxy}`;

function step(text) {
  console.log(`[${new Date().toISOString().slice(11, 23)}] ${text}`);
}

// `zelvorn serve` on `port` (0: a free one); resolves once it listens.
let serve = null;
let servePort = 0;
const serveErrors = [];
function startServe(port) {
  const child = spawn(job.zelvorn, ['serve', '--port', String(port), '--allow-origin', proxyOrigin,
                                    '--allow-origin', job.nginx], { stdio: ['ignore', 'pipe', 'pipe'] });
  child.stderr.on('data', (data) => serveErrors.push(String(data)));
  serve = child;
  return new Promise((resolve, reject) => {
    let printed = '';
    child.stdout.on('data', (data) => {
      printed += data;
      const found = /127\.0\.0\.1:(\d+)\//.exec(printed);
      if (found)
        resolve(Number(found[1]));
    });
    child.on('exit', (code) => reject(new Error(`zelvorn serve exited with ${code}: ${serveErrors.join('')}`)));
  });
}

// The proxy: HTTP and WebSocket upgrades passed on to the host under its own Host name.
// Connections of a session in `cut` are refused.
const cut = new Set();
const tunnels = [];
const proxy = http.createServer((request, response) => {
  const upstream = http.request({ host: '127.0.0.1', port: servePort, method: request.method, path: request.url,
                                  headers: { ...request.headers, host: `127.0.0.1:${servePort}` } }, (answer) => {
    response.writeHead(answer.statusCode, answer.headers);
    answer.pipe(response);
  });
  upstream.on('error', () => { response.writeHead(502); response.end(); });
  request.pipe(upstream);
});
proxy.on('upgrade', (request, client, head) => {
  const session = new URL(request.url, proxyOrigin).searchParams.get('session');
  if (cut.has(session))
    return client.destroy();
  const upstream = net.connect(servePort, '127.0.0.1', () => {
    const lines = [`${request.method} ${request.url} HTTP/1.1`];
    for (let i = 0; i < request.rawHeaders.length; i += 2) {
      const name = request.rawHeaders[i];
      lines.push(`${name}: ${name.toLowerCase() === 'host' ? `127.0.0.1:${servePort}` : request.rawHeaders[i + 1]}`);
    }
    upstream.write(lines.join('\r\n') + '\r\n\r\n');
    upstream.write(head);
    upstream.pipe(client);
    client.pipe(upstream);
  });
  const end = () => { client.destroy(); upstream.destroy(); };
  upstream.on('error', end);
  client.on('error', end);
  upstream.on('close', end);
  client.on('close', end);
  tunnels.push({ session, end });
});

// Cuts every connection of `session` and refuses new ones for `ms`.
function cutFor(session, ms) {
  cut.add(session);
  tunnels.filter((tunnel) => tunnel.session === session).forEach((tunnel) => tunnel.end());
  setTimeout(() => cut.delete(session), ms);
}

// Every event each page hands its script, by page and task: {label: {id: [names]}}.
const seen = {};
const labels = new Map();
function record(page, text) {
  let event;
  try {
    event = JSON.parse(text);
  } catch (ignored) {
    return;
  }
  if (event.id === undefined)
    return;
  const label = labels.get(page) || 'other';
  const tasks = (seen[label] = seen[label] || {});
  (tasks[event.id] = tasks[event.id] || []).push(event.name + (event.name === 'down_error' ? ` ${event.code}` : ''));
}

async function rowState(page, id, state) {
  await page.waitForSelector(`#tasks tr[data-id="${id}"][data-state="${state}"]`, { timeout: STEP_MS });
}

async function percentAtLeast(page, id, least) {
  await page.waitForFunction(([taskId, atLeast]) => {
    const text = document.querySelector(`#tasks tr[data-id="${taskId}"] .percent`);
    return text && parseInt(text.textContent, 10) >= atLeast;
  }, [id, least], { timeout: STEP_MS, polling: 50 });
}

async function addFile(page, url) {
  await page.fill('#url', url);
  await page.click('#add-file');
}

const failures = [];
let browser = null;
try {
  servePort = await startServe(0);
  await new Promise((resolve) => proxy.listen(job.proxy, '127.0.0.1', resolve));
  browser = await chromium.launch({
    executablePath: '/usr/bin/chromium',
    args: ['--disable-background-networking', '--disable-component-update', '--disable-sync', '--no-first-run',
           '--disable-quic'].concat(process.getuid && process.getuid() === 0 ? ['--no-sandbox'] : []),
  });
  const context = await browser.newContext({ viewport: { width: 1280, height: 900 } });
  // Each event a page's script receives, through zelvorn.js, as the page receives it.
  await context.exposeBinding('zelvornSeen', (source, text) => record(source.page, text));
  await context.addInitScript(() => {
    Object.defineProperty(window, 'Zelvorn', {
      configurable: true,
      set(value) {
        const fire = value.prototype.FireRecvMessage;
        value.prototype.FireRecvMessage = function (text) {
          window.zelvornSeen(String(text));
          return fire.call(this, text);
        };
        Object.defineProperty(window, 'Zelvorn', { value, writable: true, configurable: true });
      },
    });
  });
  const open = async (label, url) => {
    const page = await context.newPage();
    labels.set(page, label);
    page.on('pageerror', (error) => failures.push(`${label}: page error: ${error.message}`));
    await page.goto(url);
    return page;
  };

  step('tab 1: a task stopped part-way, then two downloads');
  const tab1 = await open('tab1', `${proxyOrigin}/`);
  await tab1.waitForSelector('#connection.on', { timeout: STEP_MS });
  await tab1.fill('#folder', job.folder);
  await tab1.selectOption('#threads', '2');
  await tab1.click('#apply');
  await addFile(tab1, job.files.s);
  await tab1.click('#start');
  await percentAtLeast(tab1, 1, 5);
  await tab1.click('#tasks tr[data-id="1"] button.stop');
  await rowState(tab1, 1, 'stopped');
  await addFile(tab1, job.files.f1);
  await addFile(tab1, job.files.f2);
  await tab1.click('#start');

  step('the legacy page and tab 2 download at the same time');
  const legacy = await open('legacy', job.legacy);
  const tab2 = await open('tab2', `${proxyOrigin}/`);
  await tab2.waitForSelector('#connection.on', { timeout: STEP_MS });
  await rowState(tab2, 1, 'stopped');  // the shared list: tab 1's tasks are there, and left alone
  await addFile(tab2, job.files.g1);
  await addFile(tab2, job.files.g2);
  await tab2.click('#start');
  await percentAtLeast(tab2, 4, 5);

  step('tab 1 reloads mid-download');
  await percentAtLeast(tab1, 2, 15);
  await tab1.reload();
  await tab1.waitForSelector('#connection.on', { timeout: STEP_MS });
  const badge = await tab1.textContent('#connection');
  if (!badge.includes('resumed'))
    failures.push(`tab 1 after its reload: ${badge}`);

  step('tab 2 loses its connection for 3 s');
  const key2 = await tab2.evaluate(() => sessionStorage.getItem('zelvorn.session'));
  cutFor(key2, 3000);
  await tab2.waitForSelector('#connection.off', { timeout: STEP_MS });
  await tab2.waitForSelector('#connection.on', { timeout: STEP_MS });

  step('the host is killed while downloads run, and started again');
  await percentAtLeast(tab2, 5, 5);
  serve.removeAllListeners('exit');
  serve.kill('SIGKILL');
  await new Promise((resolve) => serve.once('exit', resolve));
  await tab1.waitForSelector('#connection.off', { timeout: STEP_MS });
  servePort = await startServe(servePort);

  step('every task ends');
  for (const [page, ids] of [[tab1, [2, 3]], [tab2, [4, 5]]]) {
    for (const id of ids)
      await rowState(page, id, 'complete');
  }
  await legacy.waitForFunction(() => document.title === 'done', null, { timeout: STEP_MS });
  await rowState(tab1, 1, 'stopped');
  await rowState(tab2, 1, 'stopped');
  await tab1.screenshot({ path: job.screenshot, fullPage: true });

  const expected = { tab1: [2, 3], tab2: [4, 5], legacy: [1] };
  for (const [label, ids] of Object.entries(expected)) {
    for (const id of ids) {
      const names = (seen[label] || {})[id] || [];
      const completions = names.filter((name) => name === 'down_complete').length;
      const errors = names.filter((name) => name.startsWith('down_error'));
      if (completions !== 1 || errors.length)
        failures.push(`${label} task ${id}: ${completions} down_complete, errors ${errors.join(', ')}: ${names.join(' ')}`);
    }
  }
  const stopped = (seen.tab1 || {})[1] || [];
  if (stopped.includes('down_complete') || stopped.filter((name) => name === 'down_stoped').length !== 1)
    failures.push(`the stopped task: ${stopped.join(' ')}`);
  step(`events: ${JSON.stringify(seen)}`);
} catch (error) {
  failures.push(error.stack || String(error));
} finally {
  if (browser)
    await browser.close();
  proxy.close();
  if (serve && serve.exitCode === null) {
    serve.removeAllListeners('exit');
    serve.kill('SIGTERM');
    await new Promise((resolve) => serve.once('exit', resolve));
  }
}
for (const failure of failures)
  console.log(`FAILED: ${failure}`);
if (failures.length)
  console.log(`zelvorn serve said:\n${serveErrors.join('')}`);
process.exit(failures.length ? 1 : 0);
