// The head unit's phone screen: its state is built from the library's events
// (the console's JSON objects, by Server-Sent Events) and every button sends
// one command to /api/command, whose outcome shows in the footer.
'use strict';

const TOKEN = document.querySelector('meta[name="kz-token"]').content;
const SIMULATOR = document.body.dataset.simulator === '1';
const $ = (id) => document.getElementById(id);

const state = {
  ready: false,
  phone: { connected: false, name: '', address: '' },
  profiles: { hfp: false, a2dp: false, avrcp: false, pbap: false },
  signal: 0, battery: 0,
  call: null,          // { number, name, kind, since }
  held: null,          // { number, name }
  waiting: null,       // { number, name }
  audioInCar: null, micMuted: false,   // null: not reported yet
  lists: { contact: [], received: [], dialed: [], missed: [] },
  sizes: {},
  downloading: false,
  music: { state: 'stopped', title: '', artist: '', album: '' },
  found: [], slots: [null, null, null, null, null],
  pairing: '',
  settings: { pin: '', autoanswer: false, autoconnect: false, micmode: 0, micgain: null, version: '' },
  recentTab: 'received',
  keypadOpen: false,
};

// ------------------------------------------------------------- commands

async function command(name, args = []) {
  showOutcome(name, null, 'sending');
  let reply;
  try {
    const res = await fetch('/api/command', {
      method: 'POST',
      headers: { 'Content-Type': 'application/json', 'X-KZ-Token': TOKEN },
      body: JSON.stringify({ command: name, args }),
    });
    reply = await res.json().catch(() => ({ ok: false, message: 'HTTP ' + res.status }));
  } catch (e) {
    reply = { ok: false, message: 'no answer from kztarn serve' };
  }
  showOutcome(name, reply.ok, reply.message);
  return reply;
}

function showOutcome(name, ok, message) {
  const f = $('outcome');
  f.dataset.ok = ok === null ? 'none' : ok ? 'yes' : 'no';
  // Outcomes that name their command ("dial failed: ...") are shown as they are.
  const line = !name || message.startsWith(name) ? message : name + ': ' + message;
  $('outcome-text').textContent = line;
  if (ok !== null) log((ok ? '\u2713 ' : '\u2717 ') + line, ok ? 'ok' : 'bad');
}

function log(text, kind) {
  const list = $('log');
  const li = document.createElement('li');
  li.textContent = text;
  if (kind) li.className = kind;
  list.prepend(li);
  while (list.children.length > 40) list.lastChild.remove();
}

// ------------------------------------------------------------- events

const handlers = {
  ready: (e) => { state.ready = e.value === 1; state.linkLost = false; },
  module: (e) => { state.linkLost = e.state === 'lost'; },
  phone: (e) => {
    state.phone.connected = e.value === 0;
    state.profiles.hfp = state.phone.connected;
    if (!state.phone.connected) {
      state.profiles = { hfp: false, a2dp: false, avrcp: false, pbap: false };
      state.call = state.held = state.waiting = null;
    }
  },
  device: (e) => {
    const slot = parseInt(e.slot, 10);
    if (slot >= 0 && slot < 5) state.slots[slot] = { name: e.name, address: e.address, connected: e.connected === 1 };
    if (e.connected === 1) {
      state.phone = { connected: true, name: e.name, address: e.address };
      state.slots.forEach((s, i) => { if (s && i !== slot) s.connected = false; });
    } else if (state.phone.address === e.address && !state.phone.connected) {
      state.phone.name = e.name;
    }
  },
  deleted: (e) => { const slot = parseInt(e.slot, 10); if (slot >= 0 && slot < 5) state.slots[slot] = null; },
  found: (e) => {
    const index = parseInt(e.slot, 10);
    state.found = state.found.filter((f) => f.index !== index).concat([{ index, name: e.name, address: e.address }]);
    state.found.sort((a, b) => a.index - b.index);
  },
  inquiry: () => { state.pairing = state.found.length ? 'Search finished.' : 'No phones found.'; },
  pairing: (e) => {
    const words = { 1: 'Pairing with ', 2: 'Paired with ', 3: 'Pairing failed with ' };
    const f = state.found.find((x) => x.index === parseInt(e.position, 10));
    state.pairing = (words[e.value] || 'Pairing ') + (f ? f.name : 'result ' + e.position) + '.';
  },
  signal: (e) => { state.signal = e.value; },
  battery: (e) => { state.battery = e.value; },
  call: (e) => {
    const who = { number: e.number, name: e.name || '' };
    if (e.kind === 'held') {
      state.held = who;
      if (state.call && state.call.number === e.number) state.call = null;
      return;
    }
    if (e.kind === 'waiting' || (e.kind === 'incoming' && state.call && state.call.kind === 'active' &&
        e.number && e.number !== state.call.number)) {
      state.waiting = who;
      return;
    }
    if (!e.number && state.call && state.call.number) return;   // a first record before the number
    const since = state.call && state.call.kind === e.kind && state.call.number === e.number ? state.call.since : Date.now();
    state.call = { ...who, kind: e.kind, since };
    if (state.waiting && state.waiting.number === e.number) state.waiting = null;
    if (state.held && state.held.number === e.number) state.held = null;
  },
  calls: (e) => { if (e.value === 0) state.call = state.held = state.waiting = null; },
  held: (e) => { if (e.value === 0) state.held = null; },
  bar: (e) => {
    if (e.call === 'ended') state.call = state.held = state.waiting = null;
    if (e.state && e.title !== undefined) Object.assign(state.music, { title: e.title, artist: e.artist, album: e.album });
  },
  status: (e) => {
    if (e.wParam === 2 && e.lParam === 5) state.call = state.held = state.waiting = null;
    if (e.wParam === 2 && e.lParam === 2) { state.music.state = 'playing'; state.profiles.a2dp = true; }
    if (e.wParam === 2 && e.lParam === 3) state.music.state = 'paused';
  },
  audio: (e) => { state.audioInCar = e.value === 1; },
  mic: (e) => { state.micMuted = e.value === 0; },
  size: (e) => { state.sizes[e.list] = e.count; },
  download: (e) => { state.downloading = e.value === 0; if (e.value === 1) state.downloadDone = true; },
  music: (e) => { state.music.state = e.state || 'stopped'; state.profiles.a2dp = true; state.profiles.avrcp = true; },
  track: (e) => { Object.assign(state.music, { title: e.title, artist: e.artist, album: e.album }); state.profiles.avrcp = true; },
  pbap: (e) => { state.profiles.pbap = e.value === 1; },
  pin: (e) => { state.settings.pin = e.pin; },
  autoanswer: (e) => { state.settings.autoanswer = e.value === 0; },
  autoconnect: (e) => { state.settings.autoconnect = e.value === 0; },
  micmode: (e) => { state.settings.micmode = e.value; },
  micgain: (e) => { state.settings.micgain = e.value; },
  version: (e) => { state.settings.version = e.version; },
};

// Phonebook and call-list entries, and further numbers of a contact.
function onEntry(e) {
  const list = state.lists[e.list];
  if (!list) return;
  const entry = { index: e.index, name: e.name, number: e.number, type: e.numberType, date: e.date, clock: e.clock, more: [] };
  const old = list[e.index];
  if (old && old.number === e.number) entry.more = old.more;
  list[e.index] = entry;
  if (e.list === 'contact') { state.profiles.pbap = true; state.downloading = e.total > 0 && e.index + 1 < e.total; }
}
function onNumber(e) {
  const c = state.lists.contact[e.entry];
  if (!c || e.number === c.number || c.more.some((m) => m.number === e.number)) return;
  c.more.push({ number: e.number, type: e.numberType });
}

// How long call events took from the library to this page (events that
// carry their ISO arrival time), for the browser test's figures.
const callDelays = [];

function onEvent(e) {
  const sent = e.event === 'call' ? Date.parse(e.time) : NaN;
  if (!isNaN(sent) && callDelays.length < 1000) callDelays.push(Date.now() - sent);
  if (['contact', 'received', 'dialed', 'missed'].includes(e.event)) onEntry(e);
  else if (e.event === 'number') onNumber(e);
  else if (handlers[e.event]) handlers[e.event](e);
  if (URGENT.has(e.event)) render();
  else scheduleRender();
}

// Calls are drawn at once; the rest (a long download) once per frame.
const URGENT = new Set(['call', 'calls', 'bar', 'status', 'held', 'audio', 'mic']);
let renderPending = false;
function scheduleRender() {
  if (renderPending) return;
  renderPending = true;
  requestAnimationFrame(() => { renderPending = false; render(); });
}

function connectEvents() {
  const source = new EventSource('/api/events?token=' + encodeURIComponent(TOKEN));
  source.onmessage = (m) => {
    let e;
    try { e = JSON.parse(m.data); } catch (err) { return; }
    onEvent(e);
  };
  source.onopen = () => { state.streamUp = true; state.streamClosed = false; scheduleRender(); };
  // A refused stream (a restarted server has a new token) is not retried.
  source.onerror = () => { state.streamUp = false; state.streamClosed = source.readyState === EventSource.CLOSED; scheduleRender(); };
}

// ------------------------------------------------------------- drawing

function text(id, value) { const el = $(id); if (el.textContent !== value) el.textContent = value; }
function show(id, on) { $(id).hidden = !on; }

function initials(name) {
  const words = (name || '').split(/\s+/).filter((w) => /\p{L}/u.test(w[0] || ''));
  return words.length ? (words[0][0] + (words.length > 1 ? words[words.length - 1][0] : '')).toUpperCase() : '#';
}

function clock() {
  const d = new Date();
  text('sb-clock', d.toLocaleTimeString([], { hour: '2-digit', minute: '2-digit', hourCycle: 'h23' }));
}

function duration(ms) {
  const s = Math.max(0, Math.floor(ms / 1000));
  return String(Math.floor(s / 60)).padStart(2, '0') + ':' + String(s % 60).padStart(2, '0');
}

function renderStatusBar() {
  const link = $('sb-link');
  link.dataset.state = !state.streamUp || state.linkLost ? 'down' : state.ready ? 'up' : 'wait';
  text('sb-link-text', state.streamClosed ? 'disconnected: reload the page' : !state.streamUp ? 'kztarn serve unreachable'
    : state.linkLost ? 'module lost' : state.ready ? 'module ready' : 'module starting');
  text('sb-phone', state.phone.connected ? (state.phone.name || 'Phone connected') : 'No phone');
  for (const i of $('sb-profiles').children) i.classList.toggle('on', !!state.profiles[i.dataset.profile]);
  $('sb-signal').dataset.level = state.phone.connected ? state.signal : 0;
  $('sb-battery').dataset.level = state.phone.connected ? state.battery : 0;
  const inCall = !!state.call;
  show('sb-audio', inCall && state.audioInCar !== null);
  text('sb-audio', state.audioInCar ? 'audio in car' : 'audio on phone');
  show('sb-mic', inCall && state.micMuted);
}

const CALL_WORDS = { incoming: 'Incoming call', outgoing: 'Calling\u2026', alerting: 'Ringing\u2026', active: 'On call', held: 'On hold', waiting: 'Waiting' };

function renderCall() {
  const c = state.call || (state.held ? { ...state.held, kind: 'held', since: Date.now() } : null);
  show('call', !!c);
  if (!c) return;
  const display = c.name || c.number || 'Unknown caller';
  text('call-name', display);
  text('call-number', c.name ? c.number : '');
  text('call-avatar', initials(c.name));
  text('call-state', CALL_WORDS[c.kind] || c.kind);
  text('call-timer', c.kind === 'active' ? duration(Date.now() - c.since) : '');
  const incoming = c.kind === 'incoming';
  show('call-incoming-actions', incoming);
  show('call-active-actions', !incoming);
  show('dtmf-keys', !incoming && state.keypadOpen);
  $('call').classList.toggle('with-keypad', !incoming && state.keypadOpen);
  $('btn-keypad').setAttribute('aria-pressed', String(state.keypadOpen));
  $('btn-mute').setAttribute('aria-pressed', String(state.micMuted));
  text('btn-mute', state.micMuted ? 'Unmute' : 'Mute');
  text('btn-audio', state.audioInCar === false ? 'Audio: phone' : 'Audio: car');
  show('call-held', !!state.held && state.call !== null);
  if (state.held) text('call-held', 'On hold: ' + (state.held.name || state.held.number));
  show('call-waiting', !!state.waiting);
  if (state.waiting) text('call-waiting-text', 'Waiting: ' + (state.waiting.name || state.waiting.number));
}

function entryRow(entry, sub, onTap) {
  const li = document.createElement('li');
  const av = document.createElement('span');
  av.className = 'avatar-s';
  av.textContent = initials(entry.name);
  const main = document.createElement('span');
  main.className = 'main';
  const n = document.createElement('b');
  n.textContent = entry.name || entry.number || '(no number)';
  const s = document.createElement('small');
  s.textContent = sub;
  main.append(n, s);
  const go = document.createElement('span');
  go.className = 'go';
  go.textContent = '\u260E';
  li.append(av, main, go);
  li.addEventListener('click', onTap);
  return li;
}

// Rows are kept while their content is the same, so that a tap on a row is
// not lost when the list is drawn again (a search still finding phones, a
// download still adding contacts). rows: [{ key, sig, build }].
function syncList(ul, rows) {
  const old = new Map([...ul.children].map((li) => [li.dataset.key, li]));
  const nodes = rows.map((r) => {
    const kept = old.get(r.key);
    if (kept && kept.dataset.sig === r.sig) return kept;
    const li = r.build();
    li.dataset.key = r.key;
    li.dataset.sig = r.sig;
    return li;
  });
  if (nodes.length === ul.children.length && nodes.every((n, i) => ul.children[i] === n)) return;
  ul.replaceChildren(...nodes);
}

let lastRecentKey = '';
function renderRecents() {
  const list = state.lists[state.recentTab].filter(Boolean);
  const key = state.recentTab + JSON.stringify(list);
  if (key === lastRecentKey) return;
  lastRecentKey = key;
  for (const b of $('recent-tabs').children) b.classList.toggle('active', b.dataset.list === state.recentTab);
  syncList($('recent-list'), list.map((e) => ({
    key: state.recentTab + e.index, sig: JSON.stringify(e),
    build: () => entryRow(e, [e.name ? e.number : '', e.date, e.clock].filter(Boolean).join('  '), () => dial(e.number)),
  })));
  show('recent-empty', list.length === 0);
}

// Search as you type: every word must begin a word of the name, or the
// digits must appear in one of the numbers.
function matches(c, query) {
  const q = query.trim().toLowerCase();
  if (!q) return true;
  const digits = q.replace(/[^0-9]/g, '');
  if (digits && digits.length === q.replace(/[\s+()-]/g, '').length) {
    return [c.number, ...c.more.map((m) => m.number)].some((n) => (n || '').replace(/[^0-9]/g, '').includes(digits));
  }
  const words = (c.name || '').toLowerCase().split(/\s+/);
  return q.split(/\s+/).every((part) => words.some((w) => w.startsWith(part)));
}

let lastContactKey = '';
function renderContacts() {
  const all = state.lists.contact.filter(Boolean);
  const query = $('contact-search').value;
  const total = state.sizes.contact || 0;
  const loaded = all.length;
  show('contact-progress', state.downloading || (total > 0 && loaded < total));
  const pct = total ? Math.min(100, Math.round((loaded * 100) / total)) : 0;
  $('contact-bar').style.width = pct + '%';
  text('contact-progress-text', loaded + ' of ' + (total || '?') + ' contacts');
  const key = query + '|' + JSON.stringify(all);
  if (key === lastContactKey) return;
  lastContactKey = key;
  const shown = all.filter((c) => matches(c, query)).sort((a, b) => (a.name || '').localeCompare(b.name || ''));
  syncList($('contact-list'), shown.map((c) => ({
    key: String(c.index), sig: JSON.stringify(c),
    build: () => {
      const numbers = [c.number + (c.type ? ' (' + c.type + ')' : '')].concat(c.more.map((m) => m.number + ' (' + m.type + ')'));
      return entryRow(c, numbers.join(' \u00b7 '), () => dial(c.number));
    },
  })));
  text('contact-empty', all.length ? 'No contact matches \u201c' + query + '\u201d.' : 'No contacts yet: connect a phone and download its phonebook.');
  show('contact-empty', shown.length === 0);
}

function renderMusic() {
  const m = state.music;
  text('music-state', m.state === 'playing' ? 'Playing' : m.state === 'paused' ? 'Paused' : 'Stopped');
  text('music-title', m.title || 'No track');
  text('music-artist', m.artist || '\u00a0');
  text('music-album', m.album || '\u00a0');
  text('music-initials', m.title ? initials(m.album || m.title) : '\u266B');
  const playing = m.state === 'playing';
  $('music-play-icon').className = 'ico ' + (playing ? 'ico-pause' : 'ico-play');
  $('music-play').title = playing ? 'pause' : 'play';
  $('music-cover').classList.toggle('spinning', playing);
}

let lastPhonesKey = '';
function renderPhones() {
  const key = JSON.stringify([state.slots, state.found, state.phone]);
  text('pair-state', state.pairing);
  if (key === lastPhonesKey) return;
  lastPhonesKey = key;
  syncList($('slot-list'), state.slots.map((s, i) => ({ key: String(i), sig: JSON.stringify(s), build: () => {
    const li = document.createElement('li');
    const label = document.createElement('span');
    label.className = 'main';
    const b = document.createElement('b');
    b.textContent = s ? s.name || s.address : 'Empty slot';
    const small = document.createElement('small');
    small.textContent = 'Slot ' + i + (s ? '  ' + s.address + (s.connected ? '  \u2022 connected' : '') : '');
    label.append(b, small);
    li.append(label);
    if (s) {
      li.classList.toggle('connected', !!s.connected);
      const c = document.createElement('button');
      c.className = 'btn small';
      c.textContent = s.connected ? 'Disconnect' : 'Connect';
      c.addEventListener('click', () => (s.connected ? command('disconnect') : command('connect', [String(i)])));
      const d = document.createElement('button');
      d.className = 'btn small ghost';
      d.textContent = 'Delete';
      d.addEventListener('click', () => command('delete', [String(i)]));
      li.append(c, d);
    } else {
      li.classList.add('free');
    }
    return li;
  } })));
  syncList($('found-list'), state.found.map((f) => ({ key: String(f.index), sig: JSON.stringify(f), build: () => {
    const li = document.createElement('li');
    const label = document.createElement('span');
    label.className = 'main';
    const b = document.createElement('b');
    b.textContent = f.name || '(no name)';
    const small = document.createElement('small');
    small.textContent = f.address;
    label.append(b, small);
    const p = document.createElement('button');
    p.className = 'btn small';
    p.textContent = 'Pair';
    p.addEventListener('click', () => command('pair', [String(f.index), $('pair-pin').value]));
    li.append(label, p);
    return li;
  } })));
  show('found-empty', state.found.length === 0);
}

function renderSettings() {
  const s = state.settings;
  if (document.activeElement !== $('set-pin')) $('set-pin').value = s.pin;
  $('set-autoanswer').setAttribute('aria-pressed', String(s.autoanswer));
  $('set-autoconnect').setAttribute('aria-pressed', String(s.autoconnect));
  for (const b of $('set-micmode').children)
    b.classList.toggle('active', (b.dataset.mode === 'external') === (s.micmode === 1));
  text('set-gain-value', s.micgain === null ? '-' : String(s.micgain));
  if (s.micgain !== null && document.activeElement !== $('set-gain')) $('set-gain').value = s.micgain;
  text('set-version', s.version || '-');
}

function render() {
  renderStatusBar();
  renderCall();
  renderRecents();
  renderContacts();
  renderMusic();
  renderPhones();
  renderSettings();
}

// ------------------------------------------------------------- controls

function dial(number) {
  const n = (number || '').trim();
  if (!n) { showOutcome('dial', false, 'enter a number first'); return; }
  command('dial', [n]);
}

function keypad(container, keys, onKey) {
  for (const k of keys) {
    const b = document.createElement('button');
    b.className = 'key';
    b.textContent = k;
    b.addEventListener('click', () => onKey(k));
    container.append(b);
  }
}

// A list's size, then that many entries.
const LIST_ARG = { contact: 'contacts', received: 'received', dialed: 'dialed', missed: 'missed' };
async function fetchList(list) {
  delete state.sizes[list];
  const size = await command('phonebook', ['size', LIST_ARG[list]]);
  if (!size.ok) return;
  for (let waited = 0; state.sizes[list] === undefined && waited < 2000; waited += 50)
    await new Promise((r) => setTimeout(r, 50));
  if (state.sizes[list] > 0) command('phonebook', ['download', LIST_ARG[list], String(state.sizes[list])]);
  else state.downloading = false;
}

function showRecents(list) {
  state.recentTab = list;
  render();
  if (state.phone.connected && !state.lists[list].some(Boolean)) fetchList(list);
}

function on(id, fn) { $(id).addEventListener('click', fn); }

function showScreen(name) {
  for (const b of $('rail').children) b.classList.toggle('active', b.dataset.screen === name);
  for (const s of document.querySelectorAll('.screen')) s.hidden = s.id !== 'screen-' + name;
  if (name === 'dial') showRecents(state.recentTab);
}

function wire() {
  for (const b of $('rail').children) b.addEventListener('click', () => showScreen(b.dataset.screen));
  const keys = ['1', '2', '3', '4', '5', '6', '7', '8', '9', '*', '0', '#'];
  keypad($('dial-keys'), keys, (k) => { $('dial-number').value += k; });
  keypad($('dtmf-keys'), keys, (k) => command('dtmf', [k]));
  on('dial-back', () => { const i = $('dial-number'); i.value = i.value.slice(0, -1); });
  on('dial-call', () => dial($('dial-number').value));
  $('dial-number').addEventListener('keydown', (e) => { if (e.key === 'Enter') dial($('dial-number').value); });
  for (const b of $('recent-tabs').children) b.addEventListener('click', () => showRecents(b.dataset.list));

  $('contact-search').addEventListener('input', renderContacts);
  on('contact-download', () => { state.lists.contact = []; state.downloading = true; fetchList('contact'); });
  on('contact-load', () => command('phonebook', ['load']));

  on('music-play', () => command(state.music.state === 'playing' ? 'pause' : 'play'));
  on('music-prev', () => command('previous'));
  on('music-next', () => command('next'));
  on('music-source', () => command('source', ['a2dp']));

  on('phones-scan', () => { state.found = []; state.pairing = 'Searching\u2026'; render(); command('scan'); });
  on('phones-paired', () => command('paired'));
  on('phones-disconnect', () => command('disconnect'));

  on('set-pin-save', () => command('pin', [$('set-pin').value]));
  on('set-autoanswer', () => command('autoanswer', [state.settings.autoanswer ? 'off' : 'on']).then(() => command('init')));
  on('set-autoconnect', () => command('autoconnect', [state.settings.autoconnect ? 'off' : 'on']).then(() => command('init')));
  for (const b of $('set-micmode').children) b.addEventListener('click', () => command('micmode', [b.dataset.mode]));
  $('set-gain').addEventListener('input', () => text('set-gain-value', $('set-gain').value));
  on('set-gain-save', () => command('micgain', [$('set-gain').value]));
  on('set-name', () => command('name'));

  on('btn-answer', () => command('answer'));
  on('btn-reject', () => command('hangup'));
  on('btn-end', () => command('hangup'));
  on('btn-hold', () => command('hold'));
  on('btn-switch', () => command('switch'));
  on('btn-mute', () => command('mute', [state.micMuted ? 'off' : 'on']));
  on('btn-audio', () => command('audio', [state.audioInCar === false ? 'car' : 'phone']));
  on('btn-keypad', () => { state.keypadOpen = !state.keypadOpen; render(); });
  on('call-waiting-accept', () => command('switch'));
  on('call-waiting-reject', () => command('end', ['waiting']));

  if (!SIMULATOR) return;
  show('sim', true);
  const phone = (action, args = []) => command('phone ' + action, args);
  on('sim-ring', () => phone('ring', [$('sim-number').value]));
  on('sim-ring-erika', () => phone('ring', ['0151 98765432']));
  on('sim-ring-unknown', () => phone('ring', ['+44 20 7946 0000']));
  on('sim-waiting', () => phone('waiting', ['+49 30 1234567']));
  on('sim-remote-answer', () => phone('remote-answer'));
  on('sim-answer', () => phone('answer'));
  on('sim-hangup', () => phone('hangup'));
  on('sim-play', () => phone('play'));
  on('sim-pause', () => phone('pause'));
  on('sim-open', () => phone('open'));
  on('sim-track', () => phone('track', [$('sim-title').value, $('sim-artist').value, $('sim-album').value].filter((v, i) => i === 0 || v)));
  $('sim-battery').addEventListener('change', () => phone('battery', [$('sim-battery').value]));
  $('sim-signal').addEventListener('change', () => phone('signal', [$('sim-signal').value]));
  on('sim-hfp-drop', () => phone('disconnect', ['hfp']));
  on('sim-hfp-connect', () => phone('connect', ['hfp']));
  on('sim-contact-add', () => phone('contact', [$('sim-contact-name').value, $('sim-contact-number').value]));
}

window.kz = { command, state, showScreen, callDelays };
wire();
connectEvents();
clock();
render();
setInterval(() => { clock(); if (state.call) renderCall(); }, 1000);
