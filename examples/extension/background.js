// The extension's one connection to `zelvorn native`. It lives here, in the service worker: a
// port opened by a popup dies when the popup closes, and the browser ends the host with its last
// port. While the port is open the browser keeps this worker running.
//
// The worker owns every task's state (chrome.storage.local, so it outlives the worker): what the
// events tell, so that a task left unfinished is sent again with its lengths and local path and
// resumes where it stopped. Pages (page.html) connect with chrome.runtime.connect, send
// {type: "add", url} or {type: "stop", id}, and get {type: "state", ...} after every change.
const HOST = 'com.dravik.zelvorn';

let native = null;
let hostError = '';
const pages = new Set();
let saved = { nextId: 1, tasks: {} };
const loaded = chrome.storage.local.get('zelvorn').then((stored) => {
  if (stored.zelvorn && stored.zelvorn.tasks)
    saved = stored.zelvorn;
});

function broadcast() {
  const state = { type: 'state', connected: native !== null, error: hostError, tasks: saved.tasks };
  for (const page of pages)
    page.postMessage(state);
}

function changed() {
  chrome.storage.local.set({ zelvorn: saved });
  broadcast();
}

// The command that queues a task again from what its events told.
function commandFor(task) {
  const command = { name: 'add_file', id: task.id, fileUrl: task.url };
  for (const key of ['pathLoc', 'lenSvr', 'lenLoc', 'etag', 'lastModified'])
    if (task[key])
      command[key] = task[key];
  return command;
}

function onEvent(event) {
  const task = saved.tasks[event.id];
  if (!task)
    return;
  switch (event.name) {
  case 'down_recv_size':
    task.lenSvr = event.len;
    break;
  case 'down_recv_name':
    task.pathLoc = event.pathLoc;
    break;
  case 'down_process':
    task.lenLoc = event.lenLoc;
    task.percent = event.percent;
    task.speed = event.speed;
    break;
  case 'down_complete':
    task.state = 'complete';
    task.percent = '100%';
    break;
  case 'down_error':
    task.state = 'error';
    task.reason = event.reason || 'code ' + event.code;
    break;
  case 'down_stoped':
    if (task.state !== 'error')
      task.state = 'stopped';
    break;
  }
  if (event.etag)
    task.etag = event.etag;
  if (event.lastModified)
    task.lastModified = event.lastModified;
  if (event.name === 'down_begin' || event.name === 'down_process')
    task.state = 'running';
  changed();
}

// Starts the host, if it is not running, with every unfinished task queued again.
function connect() {
  if (native)
    return;
  native = chrome.runtime.connectNative(HOST);
  hostError = '';
  native.onMessage.addListener(onEvent);
  native.onDisconnect.addListener(() => {
    hostError = chrome.runtime.lastError ? chrome.runtime.lastError.message : 'the host ended';
    native = null;
    broadcast();
  });
  // An empty "Folder": the user's download folder.
  native.postMessage({ name: 'init', config: { ThreadCount: 2 } });
  const unfinished = Object.values(saved.tasks).filter((task) => task.state !== 'complete');
  for (const task of unfinished) {
    task.state = 'queued';
    native.postMessage(commandFor(task));
  }
  if (unfinished.length > 0)
    native.postMessage({ name: 'start_queue' });
}

function add(url) {
  connect();
  const task = { id: saved.nextId++, url, state: 'queued', lenLoc: 0, lenSvr: 0, percent: '0%' };
  saved.tasks[task.id] = task;
  native.postMessage(commandFor(task));
  native.postMessage({ name: 'start_queue' });
}

chrome.runtime.onConnect.addListener((page) => {
  pages.add(page);
  page.onDisconnect.addListener(() => pages.delete(page));
  page.onMessage.addListener(async (message) => {
    await loaded;
    if (message.type === 'add' && message.url)
      add(message.url);
    else if (message.type === 'stop' && native)
      native.postMessage({ name: 'stop_file', id: message.id });
    changed();
  });
  loaded.then(() => {
    connect();
    broadcast();
  });
});
