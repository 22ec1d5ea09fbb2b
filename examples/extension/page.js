// The extension's page (its popup): adds a URL and shows every task's progress. It holds no
// state of its own; the service worker sends the whole state after every change.
const worker = chrome.runtime.connect({ name: 'page' });

document.getElementById('add-form').addEventListener('submit', (submitted) => {
  submitted.preventDefault();
  const url = document.getElementById('url');
  worker.postMessage({ type: 'add', url: url.value });
  url.value = '';
});

function cell(row, text, className) {
  const td = row.insertCell();
  td.textContent = text;
  if (className)
    td.className = className;
}

worker.onMessage.addListener((state) => {
  const host = document.getElementById('host');
  host.textContent = state.connected ? '' : 'zelvorn native is not running: ' + state.error;
  host.className = state.connected ? '' : 'error';
  const table = document.getElementById('tasks');
  table.replaceChildren();
  for (const task of Object.values(state.tasks).sort((a, b) => b.id - a.id)) {
    const row = table.insertRow();
    row.dataset.id = task.id;
    row.dataset.state = task.state;
    cell(row, task.pathLoc || task.url);
    cell(row, task.percent, 'percent');
    cell(row, task.state === 'error' ? task.reason : task.state, task.state === 'error' ? 'error' : '');
    if (task.state === 'running' || task.state === 'queued') {
      const stop = document.createElement('button');
      stop.textContent = 'Stop';
      stop.addEventListener('click', () => worker.postMessage({ type: 'stop', id: task.id }));
      row.insertCell().appendChild(stop);
    }
  }
});
