'use strict';
// The panel in a browser: boards arrive over a WebSocket as they change; each click is
// a command to the bridge, whose answer comes back on the same socket. Received text is
// only ever set as text (textContent), never as markup.

const boards = new Map();  // address -> {section, relays: [relay elements]}
let socket = null;
let role = 'viewer';
let nextId = 1;
const pending = new Map();  // command id -> what it was, for the status line

function $(id) { return document.getElementById(id); }

function say(text) { $('status').textContent = text; }

function send(command, what) {
  if (!socket || socket.readyState !== WebSocket.OPEN) { say('Not connected'); return; }
  const id = nextId++;
  pending.set(id, what);
  socket.send(JSON.stringify(Object.assign({id: id}, command)));
}

function boardView(address) {
  let view = boards.get(address);
  if (view) return view;
  const section = $('board-template').content.firstElementChild.cloneNode(true);
  section.dataset.address = address;
  const list = section.querySelector('.relays');
  const relays = [];
  for (let relay = 1; relay <= 16; relay++) {
    const item = $('relay-template').content.firstElementChild.cloneNode(true);
    item.dataset.relay = relay;
    item.querySelector('.relay-number').textContent = relay + '.';
    const indicator = item.querySelector('.indicator');
    indicator.addEventListener('click', () => {
      const state = indicator.dataset.state;
      if (role !== 'operator' || (state !== 'opened' && state !== 'closed')) return;
      // As in the panel: a click on an opened relay closes it, on a closed one opens it.
      const value = state === 'opened' ? 'OFF' : 'ON';
      send({op: 'set', address: address, relay: relay, value: value},
        'Relay ' + relay + ' ' + (value === 'ON' ? 'open' : 'close'));
    });
    item.querySelector('.pulse').addEventListener('click', () => {
      const time = section.querySelector('.pulse-time').value.trim();
      send({op: 'pulse', address: address, relay: relay, value: time}, 'Relay ' + relay + ' pulse ' + time);
    });
    const form = item.querySelector('.rename-form');
    const text = item.querySelector('.rename-text');
    item.querySelector('.rename').addEventListener('click', () => {
      text.value = item.querySelector('.name').textContent;
      form.hidden = false;
      text.focus();
    });
    item.querySelector('.rename-cancel').addEventListener('click', () => { form.hidden = true; });
    form.addEventListener('submit', (event) => {
      event.preventDefault();
      form.hidden = true;
      send({op: 'rename', address: address, relay: relay, value: text.value}, 'Relay ' + relay + ' rename');
    });
    list.appendChild(item);
    relays.push(item);
  }
  section.querySelector('.open-all').addEventListener('click', () =>
    send({op: 'all', address: address, value: 'ON'}, 'Open all'));
  section.querySelector('.close-all').addEventListener('click', () =>
    send({op: 'all', address: address, value: 'OFF'}, 'Close all'));
  $('boards').appendChild(section);
  view = {section: section, relays: relays};
  boards.set(address, view);
  return view;
}

function showBoard(board) {
  const view = boardView(board.address);
  view.section.querySelector('.board-title').textContent = board.title || 'Board';
  view.section.querySelector('.board-address').textContent =
    'address ' + board.address + (board.online ? '' : ' (not answering)');
  if (board.title) $('line-title').textContent = board.title;
  board.relays.forEach((relay, i) => {
    const item = view.relays[i];
    const indicator = item.querySelector('.indicator');
    indicator.dataset.state = relay.state;
    indicator.style.backgroundColor = relay.colour;
    indicator.querySelector('.caption').textContent = relay.caption;
    indicator.setAttribute('aria-label', relay.label);
    indicator.disabled = role !== 'operator' || relay.state === 'unknown';
    item.querySelector('.name').textContent = relay.name;
  });
}

function showResult(message) {
  const what = pending.get(message.id) || 'Command';
  pending.delete(message.id);
  const answer = message.answer || {};
  say(what + ': ' + answer.result + (answer.reason ? ' (' + answer.reason + ')' : ''));
}

function connect() {
  const scheme = location.protocol === 'https:' ? 'wss://' : 'ws://';
  socket = new WebSocket(scheme + location.host + '/live');
  socket.addEventListener('message', (event) => {
    const message = JSON.parse(event.data);
    if (message.type === 'hello') {
      role = message.role;
      document.body.classList.toggle('viewer', role !== 'operator');
      $('user').textContent = message.user ? message.user + ' (' + role + ')' : '';
      $('who').hidden = !message.user;
      say('Connected');
    } else if (message.type === 'board') {
      showBoard(message);
      // For the timings: when the first states were on the page.
      if (!performance.getEntriesByName('first-states').length) performance.mark('first-states');
    } else if (message.type === 'result') {
      showResult(message);
    } else if (message.type === 'expired') {
      showLogin();
    }
  });
  socket.addEventListener('close', () => {
    socket = null;
    say('Connection lost; trying again');
    // The page comes back by itself once the bridge does.
    setTimeout(start, 2000);
  });
}

function showLogin() {
  $('login').hidden = false;
  $('boards').hidden = true;
  $('login-user').focus();
}

async function start() {
  const response = await fetch('/session', {credentials: 'same-origin'}).catch(() => null);
  if (!response) { setTimeout(start, 2000); return; }
  if (response.status === 401) { showLogin(); return; }
  $('login').hidden = true;
  $('boards').hidden = false;
  connect();
}

$('login').addEventListener('submit', async (event) => {
  event.preventDefault();
  const response = await fetch('/login', {
    method: 'POST', credentials: 'same-origin', headers: {'Content-Type': 'application/json'},
    body: JSON.stringify({user: $('login-user').value, password: $('login-password').value}),
  });
  $('login-password').value = '';
  if (!response.ok) { say('Wrong user name or password'); return; }
  start();
});

$('logout').addEventListener('click', async () => {
  await fetch('/logout', {method: 'POST', credentials: 'same-origin'});
  location.reload();
});

start();
