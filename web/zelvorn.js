// zelvorn.js: the page's side of the Zelvorn download control, served by `zelvorn serve`.
//
// A page talks to the control as it would to the in-process control: it creates the object,
// sets `recvMessage` to a function that receives every event text, and sends commands with
// `postMessage(text)`. Here the object reaches its control over a WebSocket to the server the
// script came from.
//
// Every tab has a session of its own at the server: its control, with its queue, settings and
// events. The tab keeps its session key in sessionStorage, so a reload comes back to the same
// session, whose downloads went on meanwhile; a copy of the tab gets a session of its own. The
// socket speaks the framed protocol "zelvorn.1" (app/serve/PageFrame.h): commands and events are
// numbered, and each side acknowledges what it received, so that a command in flight when the
// socket drops runs once, and a page that comes back receives, in order, every event it missed.
// Events wait here until `recvMessage` is set, and count as received once handed to it.
//
// `onconnection(connected, resumed, why)`, when set, is called as the connection comes and goes:
// `resumed` tells whether the session knew this tab already (its downloads went on), or is a new
// one (the host restarted, or the session ended), or lost events: the page then sends its tasks
// again. `why` ({code, reason, retrying}) says why a connection closed. A page without it is
// looked after here: after a new session replaced the one it had, its settings and unfinished
// tasks go out again with what their events told of them, as a page would send them to resume.
//
// A lost connection is tried again with growing pauses; a full server with longer ones; a page
// whose origin the server refuses stops trying after a few refusals, and a page whose tab took
// its session over (a reload elsewhere) stops at once.
//
// `Zelvorn.requestAccess()` asks the server to have the user allow the page's origin: it returns
// a Promise of {allowed, reason}. The server asks the user on the desktop when it can; once the
// origin is allowed, the page's controls that had stopped trying connect again.
//
// Where the browser has no ActiveXObject, the script provides one that makes this object for
// the control's ProgID, so that a page written for the in-process control runs unchanged.
(function (global) {
  'use strict';

  var PROG_ID = 'dravik.downloaderpartition';
  var VERSION = '1,2,56,31650';
  var PROTOCOL = 'zelvorn.1';
  var KEY_ITEM = 'zelvorn.session';
  var FIRST_PAUSE_MS = 250;
  var LONGEST_PAUSE_MS = 8000;
  var LONGEST_FULL_PAUSE_MS = 60000;
  var REFUSALS_TO_GIVE_UP = 3;
  var CLOSE = { refused: 1008, takenOver: 4000, sessionEnded: 4001, full: 4029 };

  // The control's endpoint on the server that served this script.
  var scriptUrl = (global.document && global.document.currentScript && global.document.currentScript.src) ||
                  global.location.href;
  function endpoint(path) {
    var url = new URL(path, scriptUrl);
    url.protocol = url.protocol === 'https:' ? 'wss:' : 'ws:';
    return url.href;
  }
  function controlUrl() { return endpoint('/control'); }

  var controls = [];  // every control of the page, told when its origin is allowed

  function randomId() {
    var bytes = new Uint8Array(16);
    global.crypto.getRandomValues(bytes);
    return Array.prototype.map.call(bytes, function (b) { return (b + 256).toString(16).slice(1); }).join('');
  }

  // The tab's session key: kept for the tab's life; a storage that cannot be used gives a key per page.
  function tabKey(replacement) {
    var key = replacement;
    try {
      if (!key)
        key = global.sessionStorage.getItem(KEY_ITEM);
      if (!/^[A-Za-z0-9_-]{16,64}$/.test(key || ''))
        key = randomId();
      global.sessionStorage.setItem(KEY_ITEM, key);
    } catch (ignored) {
      key = key || randomId();
    }
    return key;
  }

  function Zelvorn(url) {
    this.Version = VERSION;
    this.onconnection = null;
    this.connected = false;
    this._receive = null;
    this._url = url || controlUrl();
    this._page = randomId();
    this._session = tabKey();
    this._unsent = [];      // commands the session has not acknowledged: {number, text}
    this._nextCommand = 1;
    this._held = [];        // events not yet handed to recvMessage: {number, text}
    this._received = 0;     // the last event number received from this session
    this._handed = 0;       // the last event number handed to recvMessage
    this._acked = 0;        // the last event number acknowledged
    this._greeted = false;  // the current socket's session has said hello
    this._hadSession = false;
    this._delivering = false;
    this._record = { init: null, tasks: {}, started: {}, queue: false };
    this._pause = FIRST_PAUSE_MS;
    this._refusals = 0;
    this._refused = false;  // gave up after refusals, until the origin is allowed
    this._stopped = false;
    controls.push(this);
    var self = this;
    // A page that goes acknowledges what it has handled and lets its session go at once, so that
    // the page that replaces it (a reload) need not wait.
    global.addEventListener('pagehide', function () {
      self._acknowledge();
      self._hidden = true;
      if (self._socket)
        self._socket.close(1000);
    });
    global.addEventListener('pageshow', function (event) {
      if (event.persisted && self._hidden) {
        self._hidden = false;
        self._connect();
      }
    });
    this._connect();
  }

  // The page's function for events: called with each event text. Events wait until it is set.
  Object.defineProperty(Zelvorn.prototype, 'recvMessage', {
    get: function () { return this._receive; },
    set: function (receive) {
      this._receive = receive;
      var self = this;
      setTimeout(function () { self._deliver(); }, 0);
    },
  });

  Zelvorn.prototype.postMessage = function (text) {
    text = String(text);
    this._remember(text);
    var command = { number: this._nextCommand++, text: text };
    this._unsent.push(command);
    if (this._greeted)
      this._sendCommand(command);
  };

  // Hands `text` to the page's own function, as an event of the control would.
  Zelvorn.prototype.FireRecvMessage = function (text) {
    var receive = this._receive;
    if (typeof receive !== 'function')
      return;
    try {
      receive(String(text));
    } catch (error) {
      // As with the control, a failing callback does not stop later events.
      if (global.console)
        global.console.error(error);
    }
  };

  // The tab's session key, as the server knows it.
  Object.defineProperty(Zelvorn.prototype, 'session', { get: function () { return this._session; } });

  Zelvorn.prototype._connect = function () {
    if (this._stopped || this._refused || this._hidden)
      return;
    var self = this;
    var url = this._url + '?session=' + encodeURIComponent(this._session) + '&page=' + this._page;
    var socket = new WebSocket(url, PROTOCOL);
    this._socket = socket;
    this._greeted = false;
    socket.onmessage = function (message) {
      if (socket === self._socket && typeof message.data === 'string')
        self._onMessage(message.data);
    };
    socket.onclose = function (event) {
      if (socket === self._socket)
        self._onClose(event);
    };
  };

  Zelvorn.prototype._onMessage = function (data) {
    var kind = data.charAt(0);
    if (kind === 'e') {
      var space = data.indexOf(' ');
      var number = Number(data.slice(1, space));
      if (number > this._received) {  // one sent again after a lost connection is skipped
        this._received = number;
        this._learn(data.slice(space + 1));
        this._held.push({ number: number, text: data.slice(space + 1) });
        this._deliver();
      }
    } else if (kind === 'a') {
      var upTo = Number(data.slice(1));
      this._unsent = this._unsent.filter(function (command) { return command.number > upTo; });
    } else if (kind === 'p') {
      this._socket.send(data);
    } else if (kind === 'h') {
      this._onHello(JSON.parse(data.slice(1)));
    } else if (kind === 'l') {
      this._sessionLost();
    }
  };

  Zelvorn.prototype._onHello = function (hello) {
    this._session = tabKey(hello.session);
    this._greeted = true;
    this._pause = FIRST_PAUSE_MS;
    this._refusals = 0;
    var replaced = !hello.resumed && this._hadSession;
    this._hadSession = true;
    if (!hello.resumed) {
      // A new session numbers its events from 1; those still held came from the one before.
      this._received = this._handed = this._acked = 0;
      this._held.forEach(function (event) { event.number = 0; });
    }
    if (replaced) {
      // What the old session did not acknowledge went with it: the page sends its tasks again
      // (below), so nothing is sent twice.
      this._unsent = [];
    } else {
      var acked = hello.acked;
      this._unsent = this._unsent.filter(function (command) { return command.number > acked; });
    }
    for (var i = 0; i < this._unsent.length; ++i)
      this._sendCommand(this._unsent[i]);
    this._setConnected(true, !!hello.resumed);
    if (replaced && typeof this.onconnection !== 'function')
      this._sendRecordAgain();
  };

  // The session lost events this page did not see: as for a new session, the page sends its
  // tasks again (the session knows those that run and answers them from what it has).
  Zelvorn.prototype._sessionLost = function () {
    if (typeof this.onconnection === 'function')
      this.onconnection(true, false);
    else
      this._sendRecordAgain();
  };

  Zelvorn.prototype._onClose = function (event) {
    this._greeted = false;
    var code = event.code;
    if (code === CLOSE.refused)
      ++this._refusals;
    this._stopped = this._stopped || code === CLOSE.takenOver;
    this._refused = this._refusals >= REFUSALS_TO_GIVE_UP;
    var retrying = !this._stopped && !this._refused && !this._hidden;
    this._setConnected(false, false, { code: code, reason: event.reason, retrying: retrying });
    if (!retrying)
      return;
    var pause = code === CLOSE.sessionEnded ? 0 : this._pause;
    var longest = code === CLOSE.full ? LONGEST_FULL_PAUSE_MS : LONGEST_PAUSE_MS;
    this._pause = Math.min(this._pause * 2, longest);
    var self = this;
    setTimeout(function () { self._connect(); }, pause);
  };

  Zelvorn.prototype._allowed = function () {
    this._refusals = 0;
    if (!this._refused)
      return;  // it is connected, or tries again by itself
    this._refused = false;
    this._pause = FIRST_PAUSE_MS;
    this._connect();
  };

  // The server answers at "/access" by closing the socket: 1000 "allowed", else 1008 and why not
  // (the origin is denied, the user said no or cannot be asked now).
  Zelvorn.requestAccess = function () {
    return new Promise(function (resolve) {
      var socket;
      try {
        socket = new WebSocket(endpoint('/access'));
      } catch (error) {
        resolve({ allowed: false, reason: String(error && error.message) });
        return;
      }
      socket.onclose = function (event) {
        var allowed = event.code === 1000 && event.reason === 'allowed';
        if (allowed)
          controls.forEach(function (control) { control._allowed(); });
        resolve({ allowed: allowed, reason: event.reason || 'the server could not be reached (' + event.code + ')' });
      };
    });
  };

  Zelvorn.prototype._setConnected = function (connected, resumed, why) {
    this.connected = connected;
    if (typeof this.onconnection === 'function')
      this.onconnection(connected, resumed, why);
  };

  Zelvorn.prototype._sendCommand = function (command) {
    if (this._socket.readyState !== WebSocket.OPEN)
      return;  // it goes again after the hello of the next connection
    this._acknowledge();  // a command sent from inside a callback follows the event it answers
    this._socket.send('c' + command.number + ' ' + command.text);
  };

  // Hands the held events to recvMessage, in order, while it is set.
  Zelvorn.prototype._deliver = function () {
    if (this._delivering)
      return;
    this._delivering = true;
    while (this._held.length && typeof this._receive === 'function') {
      var event = this._held.shift();
      if (event.number)
        this._handed = event.number;
      this.FireRecvMessage(event.text);
    }
    this._delivering = false;
    var self = this;
    if (this._handed > this._acked && !this._ackSoon)
      this._ackSoon = setTimeout(function () { self._acknowledge(); }, 0);
  };

  Zelvorn.prototype._acknowledge = function () {
    clearTimeout(this._ackSoon);
    this._ackSoon = null;
    if (this._greeted && this._handed > this._acked && this._socket.readyState === WebSocket.OPEN) {
      this._acked = this._handed;
      this._socket.send('a' + this._handed);
    }
  };

  // What a page without `onconnection` has asked for, kept up to date from the events the way a
  // page keeps its tasks to resume them: its last "init", its unfinished tasks, and whether it
  // started the queue.
  Zelvorn.prototype._remember = function (text) {
    var command;
    try {
      command = JSON.parse(text);
    } catch (ignored) {
      return;
    }
    if (!command || typeof command !== 'object')
      return;
    var record = this._record;
    if (command.name === 'init' && command.config && Object.keys(command.config).length) {
      record.init = text;
      Object.keys(record.tasks).forEach(function (id) {  // as the control drops those not started
        if (!record.started[id])
          delete record.tasks[id];
      });
    } else if (command.name === 'add_file' || command.name === 'add_folder') {
      record.tasks[command.id] = command;
      delete record.started[command.id];
    } else if (command.name === 'stop_file' && !record.started[command.id]) {
      delete record.tasks[command.id];
    } else if (command.name === 'start_queue' || command.name === 'stop_queue') {
      record.queue = command.name === 'start_queue';
    }
  };

  Zelvorn.prototype._learn = function (text) {
    var event;
    try {
      event = JSON.parse(text);
    } catch (ignored) {
      return;
    }
    var task = event && this._record.tasks[event.id];
    if (!task)
      return;
    this._record.started[event.id] = true;
    var folder = task.name === 'add_folder';
    switch (event.name) {
    case 'init_end':
      var layout = JSON.parse(text);
      layout.name = 'add_folder';
      this._record.tasks[event.id] = layout;
      break;
    case 'down_recv_size':
    case 'down_begin':
      if (!folder && event.len > 0)
        task.lenSvr = event.len;
      if (!folder && event.etag)
        task.etag = event.etag;
      if (!folder && event.lastModified)
        task.lastModified = event.lastModified;
      if (folder && event.file && task.files && task.files[event.file.id]) {
        if (event.file.etag)
          task.files[event.file.id].etag = event.file.etag;
        if (event.file.lastModified)
          task.files[event.file.id].lastModified = event.file.lastModified;
      }
      break;
    case 'down_recv_name':
      if (!folder)
        task.pathLoc = event.pathLoc;
      break;
    case 'down_process':
      task.lenLoc = event.lenLoc;
      if (folder && event.file && task.files && task.files[event.file.id])
        task.files[event.file.id].lenLoc = event.file.lenLoc;
      break;
    case 'down_complete':
      if (folder && event.all === false) {
        if (task.files && task.files[event.file.id])
          task.files[event.file.id].complete = true;
        break;
      }
      delete this._record.tasks[event.id];
      break;
    case 'down_error':
    case 'down_stoped':
      delete this._record.tasks[event.id];  // the page knows how it ended
      break;
    }
  };

  Zelvorn.prototype._sendRecordAgain = function () {
    var record = this._record;
    var again = [];
    if (record.init)
      again.push(record.init);
    Object.keys(record.tasks).forEach(function (id) { again.push(JSON.stringify(record.tasks[id])); });
    if (record.queue)
      again.push('{"name":"start_queue"}');
    for (var i = 0; i < again.length; ++i) {
      var command = { number: this._nextCommand++, text: again[i] };
      this._unsent.push(command);
      this._sendCommand(command);
    }
  };

  global.Zelvorn = Zelvorn;

  if (typeof global.ActiveXObject === 'undefined') {
    global.ActiveXObject = function (progId) {
      var name = String(progId).toLowerCase();
      if (name === PROG_ID || name === PROG_ID + '.1')
        return new Zelvorn();
      throw new Error("Automation server can't create object");
    };
  }
})(window);
