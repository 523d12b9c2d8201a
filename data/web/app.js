'use strict';
// The panel in a browser: boards arrive over a WebSocket as they change; each click is
// a command to the bridge, whose answer comes back on the same socket and is shown at
// the control that sent it and at its board. Received text is only ever set as text
// (textContent), never as markup.

const boards = new Map();  // address -> {section, relays: [relay elements]}
let socket = null;
let role = 'viewer';
let nextId = 1;
// Commands sent and not answered yet, by id: what they were and where their result shows.
const commands = new Map();
// The pulses this page sent, by 'address/relay', until the bridge reports their end: the
// relay closed after it was seen opened. Until then a board that stops answering, a lost
// connection or an end long overdue may leave the relay on, and its note says so until
// the relay is reported closed.
const pulses = new Map();
const overdueMs = 5000;  // past a pulse's end: the bridge reports it within a poll or two
// The bridge is asked now and then whether it still hears the page: a phone that lost its
// network gets no close from the socket, only silence.
const pingMs = 10000;
const silentMs = 25000;
let heard = 0;
const eventsShown = 20;

function $(id) { return document.getElementById(id); }

function banner(connection, text) {
  $('banner').dataset.connection = connection;
  $('banner').textContent = text;
}

// Whether "Open all" and "Close all" ask first; the page remembers it where it may.
let askFirst = true;
try { askFirst = localStorage.getItem('relayboard-ask-first') !== 'no'; } catch (e) { /* asks */ }
function asksFirst() { return askFirst; }

function showAskFirst() {
  const ask = asksFirst();
  $('ask-first').setAttribute('aria-pressed', String(ask));
  $('ask-first').textContent = 'Ask before Open all and Close all: ' + (ask ? 'yes' : 'no');
}

// A command's result at each of its places, unless a later command has taken that place.
function showResult(places, id, what, result, reason) {
  const text = what + ': ' + result + (reason ? ' (' + reason + ')' : '');
  for (const place of places) {
    if (place.dataset.command !== String(id)) continue;
    place.textContent = text;
    place.dataset.result = result;
  }
}

function send(command, what, places) {
  const id = nextId++;
  for (const place of places) place.dataset.command = id;
  if (!socket || socket.readyState !== WebSocket.OPEN) {
    showResult(places, id, what, 'not sent', 'not connected to the bridge');
    return null;
  }
  commands.set(id, {what: what, places: places});
  showResult(places, id, what, 'pending');
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
  const boardResult = section.querySelector('.board-result');
  const list = section.querySelector('.relays');
  const relays = [];
  for (let relay = 1; relay <= 16; relay++) {
    const item = $('relay-template').content.firstElementChild.cloneNode(true);
    item.dataset.relay = relay;
    item.querySelector('.relay-number').textContent = relay + '.';
    const places = [item.querySelector('.relay-result'), boardResult];
    const what = 'Board ' + address + ', relay ' + relay + ' ';
    const indicator = item.querySelector('.indicator');
    indicator.addEventListener('click', () => {
      const state = indicator.dataset.state;
      if (role !== 'operator' || (state !== 'opened' && state !== 'closed')) return;
      // As in the panel: a click on an opened relay closes it, on a closed one opens it.
      const value = state === 'opened' ? 'OFF' : 'ON';
      pulseOver(address, relay);
      send({op: 'set', address: address, relay: relay, value: value},
        what + (value === 'ON' ? 'open' : 'close'), places);
    });
    item.querySelector('.pulse').addEventListener('click', () => {
      const time = section.querySelector('.pulse-time').value.trim();
      pulseOver(address, relay);
      const id = send({op: 'pulse', address: address, relay: relay, value: time},
        what + 'pulse' + (time ? ' ' + time : ''), places);
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
      send({op: 'rename', address: address, relay: relay, value: text.value}, what + 'rename',
        places);
    });
    list.appendChild(item);
    relays.push(item);
  }
  const confirm = section.querySelector('.confirm');
  let asked = null;  // what "yes" does
  const all = (value, what) => {
    confirm.hidden = true;
    for (let relay = 1; relay <= 16; relay++) pulseOver(address, relay);
    send({op: 'all', address: address, value: value}, 'Board ' + address + ', ' + what,
      [boardResult]);
  };
  // One tap switches 16 relays: asked in the page first, unless the operator said not to.
  const ask = (value, what) => {
    if (!asksFirst()) { all(value, what); return; }
    asked = () => all(value, what);
    section.querySelector('.confirm-text').textContent =
      what.charAt(0).toUpperCase() + what.slice(1) + ' 16 relays of board ' + address + '?';
    section.querySelector('.confirm-yes').textContent = what.charAt(0).toUpperCase() + what.slice(1);
    confirm.hidden = false;
    section.querySelector('.confirm-no').focus();
  };
  section.querySelector('.open-all').addEventListener('click', () => ask('ON', 'open all'));
  section.querySelector('.close-all').addEventListener('click', () => ask('OFF', 'close all'));
  section.querySelector('.confirm-yes').addEventListener('click', () => { if (asked) asked(); });
  section.querySelector('.confirm-no').addEventListener('click', () => { confirm.hidden = true; });
  $('boards').appendChild(section);
  view = {section: section, relays: relays};
  boards.set(address, view);
  return view;
}

function showBoard(board) {
  const view = boardView(board.address);
  view.section.classList.remove('stale');
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

// Until the bridge sends a board again, its states are what they were, not what they are.
function markStale() {
  for (const [address, view] of boards) {
    if (view.section.classList.contains('stale')) continue;
    view.section.classList.add('stale');
    view.section.querySelector('.board-address').textContent =
      'address ' + address + ' (not current: no connection to the bridge)';
    for (const item of view.relays) {
      const indicator = item.querySelector('.indicator');
      indicator.disabled = true;
      indicator.querySelector('.caption').textContent = 'was ' + indicator.dataset.state;
      indicator.setAttribute('aria-label', indicator.getAttribute('aria-label') + ', not current');
    }
  }
}

function answered(message) {
  const command = commands.get(message.id);
  commands.delete(message.id);
  const answer = message.answer || {};
  if (command) {
    showResult(command.places, message.id, command.what, answer.result || 'no answer',
      answer.reason);
  }
  pulseAnswered(message.id, answer);
}

function showEvent(text) {
  const list = $('events');
  const row = document.createElement('li');
  row.textContent = text;
  list.insertBefore(row, list.firstChild);  // newest first
  while (list.children.length > eventsShown) list.lastChild.remove();
  $('events-section').hidden = false;
}

function lost() {
  if (!socket) return;
  const old = socket;
  socket = null;
  old.onmessage = old.onclose = null;
  try { old.close(); } catch (e) { /* already closed */ }
  markStale();
  for (const [id, command] of commands) {
    showResult(command.places, id, command.what, 'no answer', 'the connection was lost');
  }
  commands.clear();
  for (const pulse of pulses.values()) pulseUnsure(pulse, 'the connection to the bridge was lost');
  // A login that expired waits for the operator; otherwise the page comes back by itself
  // once the bridge does.
  if (!$('login').hidden) { banner('login', 'Log in to see the boards'); return; }
  banner('lost', 'Connection lost; trying again');
  setTimeout(start, 2000);
}

function connect() {
  const scheme = location.protocol === 'https:' ? 'wss://' : 'ws://';
  const opened = new WebSocket(scheme + location.host + '/live');
  socket = opened;
  heard = Date.now();
  opened.onmessage = (event) => {
    heard = Date.now();
    const message = JSON.parse(event.data);
    if (message.type === 'hello') {
      role = message.role;
      document.body.classList.toggle('viewer', role !== 'operator');
      $('user').textContent = message.user ? message.user + ' (' + role + ')' : '';
      $('who').hidden = !message.user;
      $('events').replaceChildren();
      banner('connected', 'Connected');
    } else if (message.type === 'board') {
      showBoard(message);
      // For the timings: when the first states were on the page.
      if (!performance.getEntriesByName('first-states').length) performance.mark('first-states');
    } else if (message.type === 'result') {
      answered(message);
    } else if (message.type === 'event') {
      showEvent(message.text);
    } else if (message.type === 'expired') {
      showLogin();
    }
  };
  opened.onclose = lost;
}

setInterval(() => {
  if (!socket || socket.readyState !== WebSocket.OPEN) return;
  if (Date.now() - heard > silentMs) { lost(); return; }
  socket.send(JSON.stringify({op: 'ping'}));
}, pingMs);
window.addEventListener('offline', lost);

function showLogin() {
  banner('login', 'Log in to see the boards');
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
  }).catch(() => null);
  $('login-password').value = '';
  if (!response) { $('login-result').textContent = 'Not connected to the bridge'; return; }
  if (!response.ok) {
    // A throttled or busy bridge says why; the page shows it as text.
    const answer = await response.json().catch(() => ({}));
    const reason = typeof answer.reason === 'string' ? answer.reason : '';
    $('login-result').textContent = response.status === 401 || !reason
        ? 'Wrong user name or password' : reason[0].toUpperCase() + reason.slice(1);
    return;
  }
  $('login-result').textContent = '';
  start();
});

$('logout').addEventListener('click', async () => {
  await fetch('/logout', {method: 'POST', credentials: 'same-origin'});
  location.reload();
});

$('ask-first').addEventListener('click', () => {
  askFirst = !askFirst;
  try {
    localStorage.setItem('relayboard-ask-first', askFirst ? 'yes' : 'no');
  } catch (e) { /* then for this visit only */ }
  showAskFirst();
});

showAskFirst();
start();
