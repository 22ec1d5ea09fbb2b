// zelvorn.js: the page's side of the Zelvorn download control, served by `zelvorn serve`.
//
// A page talks to the control as it would to the in-process control: it creates the object,
// sets `recvMessage` to a function that receives every event text, and sends commands with
// `postMessage(text)`. Here the object reaches its control over a WebSocket to the server the
// script came from (each connection gets a control of its own). Commands sent before the
// socket is open, or while it is lost, wait and go out in order once it is (re)connected; a
// lost connection is tried again with growing pauses.
//
// Where the browser has no ActiveXObject, the script provides one that makes this object for
// the control's ProgID, so that a page written for the in-process control runs unchanged.
(function (global) {
  'use strict';

  var PROG_ID = 'dravik.downloaderpartition';
  var VERSION = '1,2,56,31650';
  var FIRST_PAUSE_MS = 250;
  var LONGEST_PAUSE_MS = 8000;

  // The control's endpoint on the server that served this script.
  var scriptUrl = (global.document && global.document.currentScript && global.document.currentScript.src) ||
                  global.location.href;
  function controlUrl() {
    var url = new URL('/control', scriptUrl);
    url.protocol = url.protocol === 'https:' ? 'wss:' : 'ws:';
    return url.href;
  }

  function Zelvorn(url) {
    this.Version = VERSION;
    // The page's function for events: called with each event text.
    this.recvMessage = null;
    // Optional: called with true or false as the connection to the control comes and goes.
    this.onconnection = null;
    this.connected = false;
    this._url = url || controlUrl();
    this._waiting = [];
    this._socket = null;
    this._pause = FIRST_PAUSE_MS;
    this._connect();
  }

  Zelvorn.prototype.postMessage = function (text) {
    text = String(text);
    if (this.connected && this._socket.readyState === WebSocket.OPEN)
      this._socket.send(text);
    else
      this._waiting.push(text);
  };

  // Hands `text` to the page's own function, as an event of the control would.
  Zelvorn.prototype.FireRecvMessage = function (text) {
    var receive = this.recvMessage;
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

  Zelvorn.prototype._connect = function () {
    var self = this;
    var socket = new WebSocket(this._url);
    this._socket = socket;
    socket.onopen = function () {
      self._pause = FIRST_PAUSE_MS;
      self._setConnected(true);
      while (self._waiting.length && socket.readyState === WebSocket.OPEN)
        socket.send(self._waiting.shift());
    };
    socket.onmessage = function (message) {
      self.FireRecvMessage(message.data);
    };
    socket.onclose = function () {
      self._setConnected(false);
      setTimeout(function () { self._connect(); }, self._pause);
      self._pause = Math.min(self._pause * 2, LONGEST_PAUSE_MS);
    };
  };

  Zelvorn.prototype._setConnected = function (connected) {
    if (this.connected === connected)
      return;
    this.connected = connected;
    if (typeof this.onconnection === 'function')
      this.onconnection(connected);
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
