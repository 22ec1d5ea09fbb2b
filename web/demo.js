// The demo page: a person's front end to the download control. The page owns the durable state
// of every task: it keeps what the events tell (lengths, local path, validators, a folder's
// layout and the progress of its files) in localStorage, one entry per task, shared by every
// tab of the page.
//
// Each tab has a session of its own at the host (zelvorn.js). A reload comes back to it and
// resends nothing: the session's downloads went on, and the events the page missed arrive first.
// Only a new session (the host restarted) gets the tasks that were queued or running again;
// tasks the user stopped, and failed ones, stay so until the user resumes them. Two tabs never
// run one task: a tab runs a task only while it holds the task's Web Lock, which it keeps until
// the task ends or the tab goes.
(function () {
  'use strict';

  var TASK_KEY = 'zelvorn.demo.task.';
  var SETTINGS_KEY = 'zelvorn.demo.settings';
  var NEXT_ID_KEY = 'zelvorn.demo.nextId';
  var OLD_STORE_KEY = 'zelvorn.demo';
  var LOCK_PREFIX = 'zelvorn.demo.task.';
  var LOG_LINES = 300;
  var PROGRESS_SAVE_MS = 500;
  var BUSY_RETRY_MS = 10000;

  var control = new ActiveXObject('Dravik.DownloaderPartition');
  var tasks = {};     // id -> task, as saved
  var rows = {};
  var owned = {};     // id -> releases the task's lock: this tab runs it
  var dirty = {};     // ids whose progress waits to be saved
  var saveTimer = null;
  var hostAway = true;

  function $(id) { return document.getElementById(id); }

  function readJson(key) {
    try {
      return JSON.parse(localStorage.getItem(key));
    } catch (ignored) {
      return null;  // a damaged entry is left out
    }
  }

  function loadTasks() {
    var old = readJson(OLD_STORE_KEY);  // the single entry of earlier versions
    if (old && old.tasks) {
      Object.keys(old.tasks).forEach(function (id) { saveTask(old.tasks[id]); });
      localStorage.setItem(SETTINGS_KEY, JSON.stringify(old.settings || {}));
      localStorage.setItem(NEXT_ID_KEY, String(old.nextId || 1));
      localStorage.removeItem(OLD_STORE_KEY);
    }
    for (var i = 0; i < localStorage.length; ++i) {
      var key = localStorage.key(i);
      if (key.indexOf(TASK_KEY) === 0) {
        var task = readJson(key);
        if (task && task.id)
          tasks[task.id] = task;
      }
    }
  }

  function settings() {
    return readJson(SETTINGS_KEY) || { folder: '', threads: 2 };
  }

  function saveTask(task) {
    delete dirty[task.id];
    localStorage.setItem(TASK_KEY + task.id, JSON.stringify(task));
  }

  // Progress comes after every block: written at most every PROGRESS_SAVE_MS.
  function saveSoon(task) {
    dirty[task.id] = true;
    if (!saveTimer)
      saveTimer = setTimeout(saveDirty, PROGRESS_SAVE_MS);
  }

  function saveDirty() {
    clearTimeout(saveTimer);
    saveTimer = null;
    Object.keys(dirty).forEach(function (id) {
      if (tasks[id])
        saveTask(tasks[id]);
    });
  }

  function newId() {
    var next = Math.max(Number(localStorage.getItem(NEXT_ID_KEY)) || 1,
                        Math.max.apply(null, Object.keys(tasks).map(Number).concat([0])) + 1);
    localStorage.setItem(NEXT_ID_KEY, String(next + 1));
    return next;
  }

  function send(command) {
    control.postMessage(JSON.stringify(command));
  }

  function taskList() {
    return Object.keys(tasks).map(function (id) { return tasks[id]; }).sort(function (a, b) { return a.id - b.id; });
  }

  // Runs `then(true)` once this tab holds the task's lock, `then(false)` when another tab does.
  function own(task, then) {
    if (owned[task.id])
      return then(true);
    if (!navigator.locks) {  // without Web Locks a tab cannot know of the others
      owned[task.id] = function () {};
      return then(true);
    }
    navigator.locks.request(LOCK_PREFIX + task.id, { ifAvailable: true }, function (lock) {
      if (!lock)
        return then(false);
      return new Promise(function (release) {
        owned[task.id] = release;
        then(true);
      });
    });
  }

  function letGo(task) {
    if (owned[task.id]) {
      owned[task.id]();
      delete owned[task.id];
    }
  }

  // The command that queues a task from what the page knows of it.
  function commandFor(task) {
    if (task.kind === 'file') {
      var file = { name: 'add_file', id: task.id, fileUrl: task.url };
      ['pathLoc', 'etag', 'lastModified'].forEach(function (member) {
        if (task[member])
          file[member] = task[member];
      });
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
        if (progress.etag) entry.etag = progress.etag;
        if (progress.lastModified) entry.lastModified = progress.lastModified;
      });
    }
    return folder;
  }

  // Sends the task to this tab's session when no other tab runs it; `then(sent)`.
  function run(task, then) {
    own(task, function (mine) {
      if (mine) {
        task.state = 'queued';
        task.owner = control.session;
        task.stopAsked = false;
        send(commandFor(task));
      }
      saveTask(task);
      renderRow(task);
      if (then)
        then(mine);
    });
  }

  function sendInit() {
    var chosen = settings();
    send({ name: 'init', config: { Folder: chosen.folder, ThreadCount: Number(chosen.threads) } });
  }

  // A session that does not know this tab's tasks: the ones it had queued or running go again;
  // stopped and failed ones wait for the user.
  function startSession() {
    sendInit();
    var again = taskList().filter(function (task) {
      return ['queued', 'running', 'interrupted', 'busy'].indexOf(task.state) >= 0 && !task.stopAsked;
    });
    var pending = again.length;
    var any = false;
    if (!pending)
      return;
    again.forEach(function (task) {
      run(task, function (sent) {
        any = any || sent;
        if (--pending === 0 && any)
          send({ name: 'start_queue' });
      });
    });
  }

  // The same session, with this tab's tasks: they run on; this page takes their locks again.
  function resumeSession() {
    taskList().forEach(function (task) {
      if (task.owner === control.session && ['queued', 'running', 'busy'].indexOf(task.state) >= 0)
        own(task, function () {});
    });
  }

  function onConnection(connected, resumed, why) {
    hostAway = !connected;
    var badge = $('connection');
    badge.className = 'badge ' + (connected ? 'on' : 'off');
    if (connected) {
      badge.textContent = resumed ? 'connected (session resumed)' : 'connected';
      if (resumed)
        resumeSession();
      else
        startSession();
    } else if (why && why.code === 4000) {
      badge.textContent = 'another page of this tab took over';
    } else if (why && !why.retrying) {
      badge.textContent = 'refused: ' + (why.reason || 'code ' + why.code);
    } else {
      badge.textContent = 'waiting for the host…' + (why && why.reason ? ' (' + why.reason + ')' : '');
    }
    badge.title = why && why.reason ? why.reason : '';
    render();
  }

  function renderQueue() {
    var running = 0, queued = 0;
    taskList().forEach(function (task) {
      if (!owned[task.id])
        return;
      if (task.state === 'running') ++running;
      if (task.state === 'queued' || task.state === 'busy') ++queued;
    });
    var badge = $('queue');
    var parts = [];
    if (running) parts.push(running + ' downloading');
    if (queued) parts.push(queued + ' queued');
    badge.textContent = hostAway && (running || queued) ? 'waiting for the host' : parts.join(', ') || 'idle';
    badge.className = 'badge' + (running || queued ? ' busy' : '');
  }

  function time() {
    return new Date().toTimeString().slice(0, 8);
  }

  // One line per event: its time, its task and what it says; the raw JSON one click away.
  function log(text, event) {
    var list = $('log');
    var line = document.createElement('li');
    var details = document.createElement('details');
    var summary = document.createElement('summary');
    var task = event && event.id !== undefined ? '#' + event.id : '';
    summary.textContent = time() + '  ' + (task ? task + '  ' : '') + (event ? describe(event) : text.trim());
    var raw = document.createElement('pre');
    raw.textContent = text.trim();
    details.appendChild(summary);
    details.appendChild(raw);
    line.appendChild(details);
    list.insertBefore(line, list.firstChild);
    while (list.children.length > LOG_LINES)
      list.removeChild(list.lastChild);
  }

  function describe(event) {
    switch (event.name) {
    case 'down_process': return 'progress ' + event.percent + ', ' + event.sizeLoc + ' at ' + event.speed;
    case 'down_recv_size': return 'size ' + event.size;
    case 'down_recv_name': return 'saving as ' + event.pathLoc;
    case 'down_begin': return event.folder ? 'folder begins' : 'transfer begins';
    case 'down_complete': return event.all === false ? 'file ' + event.file.id + ' complete' : 'complete in ' + (event.time || '');
    case 'down_error': return 'error ' + event.code + (event.status ? ' (' + event.status + ')' : '') +
                              (event.reason ? ': ' + event.reason : '');
    case 'down_stoped': return 'stopped';
    case 'folder_chosen': return event.folder ? 'folder chosen: ' + event.folder : 'no folder chosen';
    default: return event.name.replace(/_/g, ' ');
    }
  }

  function onEvent(text) {
    var event;
    try {
      event = JSON.parse(text);
    } catch (ignored) {
      return log(text);
    }
    if (event.name !== 'down_process' && event.name !== 'down_part')
      log(text, event);
    if (event.name === 'folder_chosen') {
      if (event.folder)
        chooseFolder(event.folder);
      return;
    }
    var task = tasks[event.id];
    if (!task) {
      renderQueue();
      return;  // one removed here
    }
    apply(task, event);
    if (event.name === 'down_process')
      saveSoon(task);
    else
      saveTask(task);
    renderRow(task);
    renderQueue();
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
        keepValidators(task, event);
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
      if (!folder)
        keepValidators(task, event);
      else if (event.file)
        keepValidators(progressOf(task, event.file.id), event.file);
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
      task.speed = task.time = '';
      if (task.lenSvr > 0)
        task.lenLoc = task.lenSvr;
      letGo(task);
      break;
    case 'down_error':
      task.speed = '';
      if (event.code === 3) {  // another download writes the file now: not a failure
        task.state = 'busy';
        setTimeout(function () {
          if (tasks[task.id] && tasks[task.id].state === 'busy' && !hostAway) {
            run(tasks[task.id]);
            send({ name: 'start_queue' });
          }
        }, BUSY_RETRY_MS);
        break;
      }
      task.state = 'error';
      task.code = event.code;
      task.status = event.status;
      task.reason = event.reason;
      letGo(task);
      break;
    case 'down_stoped':
      task.speed = '';
      if (task.state === 'error' || task.state === 'busy')
        break;
      // Stopped by the user, it stays so; stopped by the host going away, it goes on later.
      task.state = task.stopAsked ? 'stopped' : 'interrupted';
      if (task.stopAsked)
        letGo(task);
      break;
    }
  }

  function keepValidators(into, event) {
    if (event.etag) into.etag = event.etag;
    if (event.lastModified) into.lastModified = event.lastModified;
  }

  function progressOf(task, index) {
    task.files = task.files || [];
    return task.files[index] || (task.files[index] = { lenLoc: 0, complete: false });
  }

  function chooseFolder(folder) {
    var chosen = settings();
    chosen.folder = folder;
    localStorage.setItem(SETTINGS_KEY, JSON.stringify(chosen));
    $('folder').value = folder;
  }

  function addTask(task) {
    tasks[task.id] = task;
    run(task);
    render();
  }

  function addFile() {
    var url = $('url').value.trim();
    if (!url)
      return;
    addTask({ id: newId(), kind: 'file', url: url, lenLoc: 0, lenSvr: 0, state: 'queued',
              name: decodeURIComponent(url.replace(/[?#].*$/, '').split('/').pop()) || url });
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
    addTask({ id: newId(), kind: 'folder', listing: listing, name: listing.nameLoc, files: [], lenLoc: 0,
              lenSvr: listing.lenSvr || 0, state: 'queued' });
    $('listing').value = '';
  }

  function stopTask(task) {
    task.stopAsked = true;
    send({ name: 'stop_file', id: task.id });
    // Dropped before it ran, or with the host away: no event may say so.
    if (task.state !== 'running' || hostAway) {
      task.state = 'stopped';
      letGo(task);
    }
    saveTask(task);
    renderRow(task);
    renderQueue();
  }

  function resumeTask(task) {
    run(task, function (sent) {
      if (sent)
        send({ name: 'start_queue' });
    });
  }

  function removeTask(task) {
    if (owned[task.id] && task.state !== 'complete')
      send({ name: 'stop_file', id: task.id });
    letGo(task);
    delete tasks[task.id];
    localStorage.removeItem(TASK_KEY + task.id);
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

  function stateText(task) {
    var mine = owned[task.id];
    if (task.state === 'error')
      return (task.code === 2 ? 'local file error' : 'server error') +
             (task.status ? ' ' + task.status : '') + (task.reason ? ': ' + task.reason : '');
    if (task.state === 'busy')
      return 'file in use by another download; trying again';
    if ((task.state === 'queued' || task.state === 'running' || task.state === 'interrupted') && !mine)
      return task.owner && task.owner !== control.session ? 'in another tab' : 'waiting';
    if ((task.state === 'queued' || task.state === 'running' || task.state === 'interrupted') && hostAway)
      return 'waiting for the host';
    return task.state === 'interrupted' ? 'waiting for the host' : task.state;
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
    var mine = !!owned[task.id];
    var active = mine && task.state === 'running' && !hostAway;
    var percent = task.percent ||
      (task.lenSvr > 0 ? Math.floor(100 * task.lenLoc / task.lenSvr) + '%' : '0%');
    row.dataset.state = task.state;
    row.dataset.owned = mine ? 'yes' : 'no';
    row.querySelector('.id').textContent = task.id;
    var name = row.querySelector('.name');
    name.textContent = (task.kind === 'folder' ? '📁 ' : '') + (task.nameSvr || task.name);
    var where = document.createElement('small');
    where.textContent = task.pathLoc || task.url || '';
    name.appendChild(where);
    row.querySelector('.bar > div').style.width = percent;
    row.querySelector('.percent').textContent = percent;
    row.querySelector('.speed').textContent = active ? (task.speed || '') : '';
    row.querySelector('.time').textContent = active ? (task.time || '') : '';
    row.querySelector('.size').textContent = task.size ? (task.sizeLoc || '0 bytes') + ' of ' + task.size : (task.sizeLoc || '');
    row.querySelector('.state').textContent = stateText(task);
    var actions = row.querySelector('.actions');
    actions.textContent = '';
    var runs = task.state === 'queued' || task.state === 'running' || task.state === 'busy' ||
               task.state === 'interrupted';
    if (runs && mine)
      actions.appendChild(button('Stop', 'stop', function () { stopTask(task); }));
    if (task.state === 'stopped' || task.state === 'error')
      actions.appendChild(button('Resume', 'resume', function () { resumeTask(task); }));
    if (!runs || !mine)
      actions.appendChild(button('Remove', 'remove', function () { removeTask(task); }));
  }

  function render() {
    Object.keys(rows).forEach(function (id) {
      if (!tasks[id]) {
        rows[id].remove();
        delete rows[id];
      }
    });
    var list = taskList();
    list.forEach(renderRow);
    $('empty').style.display = list.length ? 'none' : '';
    renderQueue();
  }

  // Another tab changed a task: this tab shows what it knows now.
  window.addEventListener('storage', function (event) {
    if (!event.key || event.key.indexOf(TASK_KEY) !== 0 || owned[event.key.slice(TASK_KEY.length)])
      return;
    var task = readJson(event.key);
    var id = event.key.slice(TASK_KEY.length);
    if (task)
      tasks[id] = task;
    else
      delete tasks[id];
    render();
  });
  window.addEventListener('pagehide', saveDirty);

  loadTasks();
  var initial = settings();
  $('folder').value = initial.folder;
  $('threads').value = String(initial.threads);
  $('apply').addEventListener('click', function () {
    localStorage.setItem(SETTINGS_KEY, JSON.stringify({ folder: $('folder').value.trim(),
                                                        threads: Number($('threads').value) }));
    // "init" drops the tasks the control has not started: they are queued again after it.
    sendInit();
    taskList().forEach(function (task) {
      if (owned[task.id] && task.state === 'queued')
        send(commandFor(task));
    });
  });
  $('pick-folder').addEventListener('click', function () { send({ name: 'open_folder' }); });
  $('add-file').addEventListener('click', addFile);
  $('url').addEventListener('keydown', function (e) { if (e.key === 'Enter') addFile(); });
  $('add-folder').addEventListener('click', addFolder);
  $('start').addEventListener('click', function () { send({ name: 'start_queue' }); });
  $('stop-queue').addEventListener('click', function () {
    taskList().forEach(function (task) {
      if (owned[task.id] && task.state === 'running') {
        task.stopAsked = true;
        saveTask(task);
      }
    });
    send({ name: 'stop_queue' });
  });
  $('clear-done').addEventListener('click', function () {
    taskList().forEach(function (task) {
      if (task.state === 'complete')
        removeTask(task);
    });
  });

  control.recvMessage = onEvent;
  control.onconnection = onConnection;
  render();
})();
