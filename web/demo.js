// The demo page: a person's front end to the download control. The page owns the durable state
// of every task: it keeps what the events tell (lengths, local path, a folder's layout and the
// progress of its files) in localStorage, and whenever it (re)connects to its control it sends
// every unfinished task again with that state, so downloads resume across page reloads and
// host restarts.
(function () {
  'use strict';

  var STORE_KEY = 'zelvorn.demo';
  var LOG_LINES = 200;
  var PROGRESS_SAVE_MS = 500;

  var saved = load();
  var control = new ActiveXObject('Dravik.DownloaderPartition');
  var rows = {};
  var saveTimer = null;

  function $(id) { return document.getElementById(id); }

  function load() {
    try {
      var value = JSON.parse(localStorage.getItem(STORE_KEY));
      if (value && value.tasks)
        return value;
    } catch (ignored) {
      // A damaged store starts afresh.
    }
    return { settings: { folder: '', threads: 2 }, nextId: 1, tasks: {} };
  }

  function save() {
    clearTimeout(saveTimer);
    saveTimer = null;
    localStorage.setItem(STORE_KEY, JSON.stringify(saved));
  }

  // Progress comes after every block: written at most every PROGRESS_SAVE_MS.
  function saveSoon() {
    if (!saveTimer)
      saveTimer = setTimeout(save, PROGRESS_SAVE_MS);
  }

  function send(command) {
    control.postMessage(JSON.stringify(command));
  }

  function taskList() {
    return Object.keys(saved.tasks).map(function (id) { return saved.tasks[id]; })
      .sort(function (a, b) { return a.id - b.id; });
  }

  function unfinished(task) { return task.state !== 'complete'; }

  // The command that queues a task again from what the page knows of it.
  function commandFor(task) {
    if (task.kind === 'file') {
      var file = { name: 'add_file', id: task.id, fileUrl: task.url };
      if (task.pathLoc) file.pathLoc = task.pathLoc;
      if (task.lenSvr > 0) file.lenSvr = task.lenSvr;
      if (task.lenLoc > 0) file.lenLoc = task.lenLoc;
      return file;
    }
    var folder = JSON.parse(JSON.stringify(task.layout || task.listing));
    folder.name = 'add_folder';
    folder.id = task.id;
    if (task.layout) {
      folder.lenLoc = task.lenLoc;
      (folder.files || []).forEach(function (entry, index) {
        var progress = task.files[index];
        if (!progress)
          return;
        entry.lenLoc = progress.lenLoc || 0;
        entry.complete = !!progress.complete;
      });
    }
    return folder;
  }

  function queueTask(task) {
    task.state = 'queued';
    send(commandFor(task));
  }

  // "init" drops the tasks the control has not started: they are queued again after it.
  function sendInit(queueAgain) {
    var settings = saved.settings;
    send({ name: 'init', config: { Folder: settings.folder, ThreadCount: Number(settings.threads) } });
    var queued = taskList().filter(queueAgain);
    queued.forEach(queueTask);
    return queued.length;
  }

  function onConnection(connected) {
    var badge = $('connection');
    badge.textContent = connected ? 'connected' : 'disconnected, retrying…';
    badge.className = 'badge ' + (connected ? 'on' : 'off');
    if (!connected)
      return;
    if (sendInit(unfinished) > 0)
      send({ name: 'start_queue' });
    save();
    render();
  }

  function setQueue(text, busy) {
    var badge = $('queue');
    badge.textContent = text;
    badge.className = 'badge' + (busy ? ' busy' : '');
  }

  function log(text) {
    var list = $('log');
    var line = document.createElement('li');
    line.textContent = text.trim();
    list.insertBefore(line, list.firstChild);
    while (list.children.length > LOG_LINES)
      list.removeChild(list.lastChild);
  }

  function onEvent(text) {
    log(text);
    var event;
    try {
      event = JSON.parse(text);
    } catch (ignored) {
      return;
    }
    if (event.name === 'queue_begin')
      return setQueue('queue running', true);
    if (event.name === 'queue_complete' || event.name === 'queue_end')
      return setQueue('queue idle', false);
    var task = saved.tasks[event.id];
    if (!task)
      return;  // another page's task, or one removed here
    apply(task, event);
    if (event.name === 'down_process')
      saveSoon();
    else
      save();
    renderRow(task);
  }

  function apply(task, event) {
    var folder = task.kind === 'folder';
    switch (event.name) {
    case 'init_end':
      task.layout = event;
      delete task.layout.name;
      task.files = [];
      task.lenSvr = event.lenSvr;
      task.pathLoc = event.pathLoc;
      break;
    case 'down_recv_size':
      if (!folder) {
        task.lenSvr = event.len;
        task.size = event.size;
      }
      break;
    case 'down_recv_name':
      if (!folder) {
        task.pathLoc = event.pathLoc;
        task.nameSvr = event.nameSvr;
      }
      break;
    case 'down_begin':
      task.state = 'running';
      break;
    case 'down_process':
      task.state = 'running';
      task.lenLoc = event.lenLoc;
      task.percent = event.percent;
      task.speed = event.speed;
      task.time = event.time;
      task.sizeLoc = event.sizeLoc;
      if (folder && event.file)
        progressOf(task, event.file.id).lenLoc = event.file.lenLoc;
      break;
    case 'down_complete':
      if (folder && event.all === false) {
        progressOf(task, event.file.id).complete = true;
        break;
      }
      task.state = 'complete';
      task.percent = '100%';
      task.speed = '';
      task.time = '';
      if (task.lenSvr > 0)
        task.lenLoc = task.lenSvr;
      break;
    case 'down_error':
      task.state = 'error';
      task.code = event.code;
      task.speed = '';
      break;
    case 'down_stoped':
      if (task.state !== 'error')
        task.state = 'stopped';
      task.speed = '';
      break;
    }
  }

  function progressOf(task, index) {
    task.files = task.files || [];
    return task.files[index] || (task.files[index] = { lenLoc: 0, complete: false });
  }

  function addTask(task, command) {
    saved.tasks[task.id] = task;
    saved.nextId = task.id + 1;
    send(command);
    save();
    render();
  }

  function addFile() {
    var url = $('url').value.trim();
    if (!url)
      return;
    var task = { id: saved.nextId, kind: 'file', url: url, lenLoc: 0, lenSvr: 0, state: 'queued',
                 name: decodeURIComponent(url.replace(/[?#].*$/, '').split('/').pop()) || url };
    addTask(task, commandFor(task));
    $('url').value = '';
  }

  function addFolder() {
    var listing;
    $('listing-error').textContent = '';
    try {
      listing = JSON.parse($('listing').value);
      if (!listing || !Array.isArray(listing.files) || !listing.nameLoc)
        throw new Error('it needs "nameLoc" and a "files" array');
    } catch (error) {
      $('listing-error').textContent = 'Not a folder listing: ' + error.message;
      return;
    }
    var task = { id: saved.nextId, kind: 'folder', listing: listing, name: listing.nameLoc, files: [],
                 lenLoc: 0, lenSvr: listing.lenSvr || 0, state: 'queued' };
    addTask(task, commandFor(task));
    $('listing').value = '';
  }

  function stopTask(task) {
    send({ name: 'stop_file', id: task.id });
    if (task.state === 'queued') {  // dropped before it ran: no event will say so
      task.state = 'stopped';
      save();
      renderRow(task);
    }
  }

  function resumeTask(task) {
    queueTask(task);
    send({ name: 'start_queue' });
    save();
    renderRow(task);
  }

  function removeTask(task) {
    if (task.state === 'queued')
      send({ name: 'stop_file', id: task.id });
    delete saved.tasks[task.id];
    save();
    render();
  }

  function cell(row, className) {
    var td = document.createElement('td');
    if (className)
      td.className = className;
    row.appendChild(td);
    return td;
  }

  function button(label, className, onClick) {
    var b = document.createElement('button');
    b.type = 'button';
    b.className = 'small ' + className;
    b.textContent = label;
    b.addEventListener('click', onClick);
    return b;
  }

  function renderRow(task) {
    var row = rows[task.id];
    if (!row) {
      row = document.createElement('tr');
      row.dataset.id = task.id;
      ['id', 'name', 'progress', 'speed', 'time', 'size', 'state', 'actions'].forEach(function (name) {
        cell(row, name);
      });
      row.querySelector('.progress').innerHTML = '<div class="bar"><div></div><span class="percent"></span></div>';
      rows[task.id] = row;
      $('tasks').tBodies[0].appendChild(row);
    }
    var percent = task.percent ||
      (task.lenSvr > 0 ? Math.floor(100 * task.lenLoc / task.lenSvr) + '%' : '0%');
    row.dataset.state = task.state;
    row.querySelector('.id').textContent = task.id;
    var name = row.querySelector('.name');
    name.textContent = (task.kind === 'folder' ? '📁 ' : '') + (task.nameSvr || task.name);
    var where = document.createElement('small');
    where.textContent = task.pathLoc || task.url || '';
    name.appendChild(where);
    row.querySelector('.bar > div').style.width = percent;
    row.querySelector('.percent').textContent = percent;
    row.querySelector('.speed').textContent = task.state === 'running' ? (task.speed || '') : '';
    row.querySelector('.time').textContent = task.state === 'running' ? (task.time || '') : '';
    row.querySelector('.size').textContent = task.size ? (task.sizeLoc || '0 bytes') + ' of ' + task.size : (task.sizeLoc || '');
    row.querySelector('.state').textContent =
      task.state === 'error' ? (task.code === 2 ? 'local file error' : 'server error') : task.state;
    var actions = row.querySelector('.actions');
    actions.textContent = '';
    if (task.state === 'queued' || task.state === 'running')
      actions.appendChild(button('Stop', 'stop', function () { stopTask(task); }));
    if (task.state === 'stopped' || task.state === 'error')
      actions.appendChild(button('Resume', 'resume', function () { resumeTask(task); }));
    if (task.state !== 'running')
      actions.appendChild(button('Remove', 'remove', function () { removeTask(task); }));
  }

  function render() {
    Object.keys(rows).forEach(function (id) {
      if (!saved.tasks[id]) {
        rows[id].remove();
        delete rows[id];
      }
    });
    var tasks = taskList();
    tasks.forEach(renderRow);
    $('empty').style.display = tasks.length ? 'none' : '';
  }

  $('folder').value = saved.settings.folder;
  $('threads').value = String(saved.settings.threads);
  $('apply').addEventListener('click', function () {
    saved.settings = { folder: $('folder').value.trim(), threads: Number($('threads').value) };
    sendInit(function (task) { return task.state === 'queued'; });
    save();
  });
  $('pick-folder').addEventListener('click', function () { send({ name: 'open_folder' }); });
  $('add-file').addEventListener('click', addFile);
  $('url').addEventListener('keydown', function (e) { if (e.key === 'Enter') addFile(); });
  $('add-folder').addEventListener('click', addFolder);
  $('start').addEventListener('click', function () { send({ name: 'start_queue' }); });
  $('stop-queue').addEventListener('click', function () { send({ name: 'stop_queue' }); });
  $('clear-done').addEventListener('click', function () {
    taskList().forEach(function (task) {
      if (task.state === 'complete')
        delete saved.tasks[task.id];
    });
    save();
    render();
  });

  control.recvMessage = onEvent;
  control.onconnection = onConnection;
  render();
})();
