'use strict';
// The panel in a browser: boards arrive over a WebSocket as they change; each click is
// a command to the bridge, whose answer comes back on the same socket. Received text is
// only ever set as text (textContent), never as markup.

const boards = new Map();  // address -> {section, relays: [relay elements]}
let socket = null;
let role = 'viewer';
let nextId = 1;
const pending = new Map();  // command id -> what it was, for the status line
// The pulses this page sent, by 'address/relay', until the bridge reports their end: the
// relay closed after it was seen opened. Until then a board that stops answering, a lost
// connection or an end long overdue may leave the relay on, and its note says so until
// the relay is reported closed.
const pulses = new Map();
const overdueMs = 5000;  // past a pulse's end: the bridge reports it within a poll or two

function $(id) { return document.getElementById(id); }

function say(text) { $('status').textContent = text; }

function send(command, what) {
  if (!socket || socket.readyState !== WebSocket.OPEN) { say('Not connected'); return null; }
  const id = nextId++;
  pending.set(id, what);
  socket.send(JSON.stringify(Object.assign({id: id}, command)));
  return id;
}

function durationMs(text) {
  const match = /^(\d+(?:\.\d+)?)(ms|s|m|h)$/.exec(text);
  return match ? parseFloat(match[1]) * {ms: 1, s: 1000, m: 60000, h: 3600000}[match[2]] : null;
}

function shownState(pulse) {
  return boards.get(pulse.address).relays[pulse.relay - 1].querySelector('.indicator').dataset.state;
}

function setNote(pulse, text) {
  boards.get(pulse.address).relays[pulse.relay - 1].querySelector('.note').textContent = text;
}

// The relay's pulse is over: seen through, refused, or replaced by a later command.
function pulseOver(address, relay) {
  const pulse = pulses.get(address + '/' + relay);
  if (!pulse) return;
  clearTimeout(pulse.timer);
  pulses.delete(address + '/' + relay);
  setNote(pulse, '');
}

function pulseUnsure(pulse, why) {
  if (pulse.unsure) return;
  pulse.unsure = true;
  clearTimeout(pulse.timer);
  setNote(pulse, 'relay ' + pulse.relay + ' may be left on: ' + why);
}

// What the bridge answered to a pulse: done once the relay is on, refused or not sent
// when nothing was switched, not done when it was taken and then lost on its way.
function pulseAnswered(id, answer) {
  const pulse = [...pulses.values()].find((p) => p.id === id);
  if (!pulse) return;
  if (answer.result === 'refused' || answer.result === 'not sent') {
    pulseOver(pulse.address, pulse.relay);
  } else if (answer.result === 'done') {
    pulse.opened = true;
    const length = durationMs(pulse.length);
    if (length !== null) {
      pulse.timer = setTimeout(() => pulseUnsure(pulse, 'its end was not reported'),
        length + overdueMs);
    }
  } else if (shownState(pulse) === 'closed') {
    pulseOver(pulse.address, pulse.relay);
  } else {
    pulseUnsure(pulse, answer.reason || 'the pulse was not done');
  }
}

function pulsesShown(board) {
  for (const pulse of [...pulses.values()]) {
    if (pulse.address !== board.address) continue;
    const state = board.relays[pulse.relay - 1].state;
    if (state === 'opened') {
      pulse.opened = true;
    } else if (state === 'closed' && (pulse.opened || pulse.unsure)) {
      pulseOver(pulse.address, pulse.relay);
    } else if (state === 'unknown') {
      pulseUnsure(pulse, 'board ' + board.address + ' does not answer');
    }
  }
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
      pulseOver(address, relay);
      send({op: 'set', address: address, relay: relay, value: value},
        'Relay ' + relay + ' ' + (value === 'ON' ? 'open' : 'close'));
    });
    item.querySelector('.pulse').addEventListener('click', () => {
      const time = section.querySelector('.pulse-time').value.trim();
      pulseOver(address, relay);
      const id = send({op: 'pulse', address: address, relay: relay, value: time},
        'Relay ' + relay + ' pulse ' + time);
      if (id !== null) {
        pulses.set(address + '/' + relay,
          {id: id, address: address, relay: relay, length: time, opened: false, unsure: false});
      }
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
  const all = (value, what) => {
    for (let relay = 1; relay <= 16; relay++) pulseOver(address, relay);
    send({op: 'all', address: address, value: value}, what);
  };
  section.querySelector('.open-all').addEventListener('click', () => all('ON', 'Open all'));
  section.querySelector('.close-all').addEventListener('click', () => all('OFF', 'Close all'));
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
  pulsesShown(board);
}

function showResult(message) {
  const what = pending.get(message.id) || 'Command';
  pending.delete(message.id);
  const answer = message.answer || {};
  say(what + ': ' + answer.result + (answer.reason ? ' (' + answer.reason + ')' : ''));
  pulseAnswered(message.id, answer);
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
    for (const pulse of pulses.values()) pulseUnsure(pulse, 'the connection to the bridge was lost');
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
