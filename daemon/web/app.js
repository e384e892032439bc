// SPDX-License-Identifier: GPL-3.0-or-later
// The remote. Every change of the radio arrives as a `status` event carrying
// the whole status, so the page only draws what it heard last; a button posts
// a command and its effect comes back through the same stream.
'use strict';

const $ = (id) => document.getElementById(id);

const STATE_WORDS = {
  starting: 'Starting',
  playing: 'Playing',
  stopped: 'Stopped',
  scanning: 'Scanning',
  standby: 'Standby',
  'no-receiver': 'No receiver',
};

let status = null; // the last status object
let statusCount = 0; // status objects drawn so far, to drop a fetched one that is older
let stations = []; // the list, in menu order
let stationsVersion; // the status's `stations_version`, for a service that sends one
let lastScan = null; // the last progress seen, to show what a scan found once it ends
let volumeHeldUntil = 0;
let volumeTimer = 0;
let events = null;
let retryMs = 1000;
let paired = true;
let toastTimer = 0;

async function api(path, body) {
  const init = {credentials: 'same-origin', cache: 'no-store'};
  if (body !== undefined) {
    // Writes are POSTs with a JSON body: the service refuses anything else.
    init.method = 'POST';
    init.headers = {'Content-Type': 'application/json'};
    init.body = JSON.stringify(body);
  }
  let reply;
  try {
    reply = await fetch('/api/v1/' + path, init);
  } catch (e) {
    throw new Error('The radio cannot be reached.');
  }
  let data = null;
  try {
    data = await reply.json();
  } catch (e) {
    // Not JSON: the status code alone says what happened.
  }
  if (reply.status === 401) unpaired();
  if (!reply.ok) throw new Error((data && data.error) || `The radio answered ${reply.status}.`);
  return data;
}

function command(path, body) {
  return api(path, body).catch((e) => toast(e.message));
}

function toast(message) {
  const t = $('toast');
  t.textContent = message;
  t.hidden = false;
  clearTimeout(toastTimer);
  toastTimer = setTimeout(() => { t.hidden = true; }, 5000);
}

function unpaired() {
  paired = false;
  if (events) events.close();
  linkState('Not paired', true);
  showNotice('This browser is not paired with the radio any more. Reload the page to see how to pair it.');
}

function showNotice(text) {
  $('notice').textContent = text;
  $('notice').hidden = !text;
}

function linkState(text, down) {
  $('link').textContent = text;
  $('link').classList.toggle('down', down);
}

// The event stream. The browser reconnects by itself after a dropped
// connection, but gives up for good on an HTTP error (a service answering
// 503 while it starts): then the page opens a new stream, later and later.
function connect() {
  events = new EventSource('/api/v1/events');
  events.addEventListener('open', () => {
    retryMs = 1000;
    linkState('Connected', false);
    // Whatever changed while the stream was down (a restart, a scan from
    // another phone) is in a fresh status and a fresh list.
    refresh();
  });
  events.addEventListener('status', (e) => draw(JSON.parse(e.data)));
  events.addEventListener('error', () => {
    if (!paired) return;
    linkState('Reconnecting…', true);
    if (events.readyState === EventSource.CLOSED) {
      setTimeout(() => api('status').then(() => paired && connect(), () => paired && connect()), retryMs);
      retryMs = Math.min(retryMs * 2, 15000);
    }
  });
}

async function refresh() {
  const seen = statusCount;
  loadStations();
  try {
    const s = await api('status');
    if (statusCount === seen) draw(s);
  } catch (e) {
    // The stream's next event carries the status anyway.
  }
}

async function loadStations() {
  try {
    const data = await api('stations');
    stations = data.stations || [];
  } catch (e) {
    return;
  }
  drawStations();
}

function draw(s) {
  const prev = status;
  status = s;
  statusCount++;
  document.body.dataset.state = s.state;
  drawNow(s);
  drawVolume(s.volume);
  drawScan(s, prev);
  drawSleep(s.sleep_minutes_left);
  drawReceiver(s);
  markPlaying();
  if (s.stations_version !== undefined) {
    if (s.stations_version !== stationsVersion) {
      stationsVersion = s.stations_version;
      if (prev) loadStations();
    }
  } else if (prev && prev.state === 'scanning' && s.state !== 'scanning') {
    loadStations();
  }
}

function drawNow(s) {
  const st = s.station;
  $('state').textContent = STATE_WORDS[s.state] || s.state;
  $('now-label').textContent = st ? labelOf(st) : s.state === 'standby' ? 'Standby' : 'Nothing playing';
  $('now-where').textContent = st ? `${st.ensemble.trim()} · ${(st.frequency_khz / 1000).toFixed(3)} MHz` : '';
  const song = s.artist && s.title ? `${s.artist} – ${s.title}` : s.title || '';
  $('now-song').textContent = song;
  $('now-song').hidden = !st || !song;
  $('now-text').textContent = st ? s.text || '' : '';
  drawReception(s.state === 'playing' ? s.reception : null);
}

function labelOf(station) {
  return station.label.trim() || `Service ${station.service_id.toString(16).toUpperCase()}`;
}

// Four bars from the signal-to-noise ratio, fewer when the FIC (the
// ensemble's own directory) comes through damaged: that is when the sound
// breaks up whatever the SNR says.
function receptionBars(r) {
  let bars = r.snr >= 20 ? 4 : r.snr >= 14 ? 3 : r.snr >= 8 ? 2 : r.snr >= 3 ? 1 : 0;
  if (r.fic_quality < 50) bars = Math.min(bars, 1);
  else if (r.fic_quality < 90) bars = Math.min(bars, 3);
  return bars;
}

function drawReception(r) {
  const button = $('reception');
  button.hidden = !r;
  if (!r) return;
  const bars = receptionBars(r);
  button.querySelectorAll('.bars i').forEach((bar, i) => bar.classList.toggle('on', i < bars));
  $('reception-numbers').textContent = `RSSI ${r.rssi} dBµV · SNR ${r.snr} dB · FIC ${r.fic_quality} %`;
  const open = button.getAttribute('aria-expanded') === 'true';
  button.setAttribute('aria-label',
    `Reception: ${bars} of 4 bars. ${open ? 'Hide' : 'Show'} the numbers`);
}

function drawVolume(volume) {
  // While a thumb or a key moves the slider, an event from before the move
  // would pull it back.
  if (Date.now() < volumeHeldUntil || typeof volume !== 'number') return;
  showVolume(volume);
}

function showVolume(volume) {
  const slider = $('volume');
  slider.value = volume;
  slider.setAttribute('aria-valuetext', `${volume} of ${slider.max}`);
  $('vol-value').textContent = volume;
  $('vol-down').disabled = volume <= 0;
  $('vol-up').disabled = volume >= Number(slider.max);
}

function drawScan(s, prev) {
  const bar = $('scan-bar');
  if (s.state === 'scanning') {
    $('scan').hidden = false;
    $('scan-close').hidden = true;
    $('scan-title').textContent = 'Scanning Band III';
    if (s.scan && s.scan.total > 0) {
      lastScan = s.scan;
      bar.max = s.scan.total;
      bar.value = s.scan.done;
      $('scan-count').textContent = `Channel ${s.scan.done} of ${s.scan.total} · ` + found(s.scan);
    } else {
      bar.removeAttribute('value'); // the bring-up before the first channel: no measure yet
      $('scan-count').textContent = 'Starting the receiver…';
    }
  } else if (prev && prev.state === 'scanning') {
    // Leave the result up until it is closed: a scan is worth a look.
    $('scan-close').hidden = false;
    if (s.state === 'no-receiver') {
      $('scan-title').textContent = 'The scan stopped';
      $('scan-count').textContent = 'The receiver stopped answering.';
    } else {
      $('scan-title').textContent = 'Scan finished';
      bar.max = 1;
      bar.value = 1;
      $('scan-count').textContent = lastScan ? found(lastScan) : '';
    }
  }
}

function found(scan) {
  const plural = (n, one, many) => `${n} ${n === 1 ? one : many}`;
  return `${plural(scan.ensembles, 'ensemble', 'ensembles')}, ${plural(scan.services, 'station', 'stations')} found`;
}

function drawSleep(minutes) {
  const set = typeof minutes === 'number';
  $('sleep-cancel').hidden = !set;
  $('sleep-left').hidden = !set;
  if (set) $('sleep-left').textContent = `Standby in ${minutes} min`;
}

function drawReceiver(s) {
  const missing = s.state === 'no-receiver';
  const busy = s.state === 'scanning' || s.state === 'starting';
  $('restart').hidden = !missing;
  $('scan-start').disabled = busy || missing;
  $('scan-empty').disabled = busy || missing;
  $('standby').disabled = busy || missing || s.state === 'standby';
  if (paired) {
    showNotice(missing ? 'The receiver does not answer. The radio tries again every 30 seconds, or now with the button below.'
      : s.notice || '');
  }
}

// Accents and the Polish ł do not stop "lodz" finding "Łódź".
function fold(text) {
  return text.normalize('NFD').replace(/\p{M}/gu, '').replace(/ł/gi, 'l').toLowerCase();
}

function drawStations() {
  const list = $('list');
  list.replaceChildren();
  const groups = new Map();
  for (const station of stations) {
    const name = station.ensemble.trim();
    if (!groups.has(name)) groups.set(name, []);
    groups.get(name).push(station);
  }
  for (const [name, members] of groups) {
    const group = document.createElement('section');
    group.className = 'ensemble';
    const title = document.createElement('h3');
    title.textContent = name || 'Unnamed ensemble';
    const ul = document.createElement('ul');
    ul.setAttribute('aria-label', title.textContent);
    for (const station of members) {
      const li = document.createElement('li');
      const button = document.createElement('button');
      button.type = 'button';
      button.dataset.serviceId = station.service_id;
      button.dataset.frequency = station.frequency_khz;
      button.dataset.filter = fold(`${station.label} ${station.ensemble}`);
      const label = document.createElement('span');
      label.className = 'label';
      label.textContent = labelOf(station);
      button.append(label);
      button.addEventListener('click', () => play(station));
      li.append(button);
      ul.append(li);
    }
    group.append(title, ul);
    list.append(group);
  }
  $('stations-empty').hidden = stations.length > 0;
  applyFilter();
  markPlaying();
}

function applyFilter() {
  const words = fold($('filter').value.trim());
  let shown = 0;
  for (const group of $('list').children) {
    let inGroup = 0;
    for (const li of group.querySelectorAll('li')) {
      const match = li.firstChild.dataset.filter.includes(words);
      li.hidden = !match;
      if (match) inGroup++;
    }
    group.hidden = inGroup === 0;
    shown += inGroup;
  }
  const none = stations.length > 0 && shown === 0;
  $('no-match').hidden = !none;
  if (none) $('no-match').textContent = `No station matches “${$('filter').value.trim()}”.`;
}

function markPlaying() {
  const st = status && status.state === 'playing' ? status.station : null;
  // The same service can be on two ensembles: the frequency tells which one plays.
  for (const button of $('list').querySelectorAll('li button')) {
    const playing = st !== null && Number(button.dataset.serviceId) === st.service_id
      && Number(button.dataset.frequency) === st.frequency_khz;
    if (playing) button.setAttribute('aria-current', 'true');
    else button.removeAttribute('aria-current');
  }
}

function play(station) {
  $('state').textContent = `Tuning to ${labelOf(station)}…`;
  command('play', {service_id: station.service_id});
}

function sendVolume() {
  volumeTimer = 0;
  command('volume', {volume: Number($('volume').value)});
}

function setUp() {
  $('volume').addEventListener('input', () => {
    showVolume(Number($('volume').value));
    volumeHeldUntil = Date.now() + 1500;
    // A drag fires many inputs: one command every 150 ms keeps the chip
    // following the thumb without a queue of stale volumes behind it.
    if (!volumeTimer) volumeTimer = setTimeout(sendVolume, 150);
  });
  $('vol-down').addEventListener('click', () => command('volume', {change: -1}));
  $('vol-up').addEventListener('click', () => command('volume', {change: 1}));
  $('reception').addEventListener('click', () => {
    const button = $('reception');
    const open = button.getAttribute('aria-expanded') !== 'true';
    button.setAttribute('aria-expanded', String(open));
    $('reception-numbers').hidden = !open;
    if (status) drawNow(status);
  });
  for (const id of ['scan-start', 'scan-empty']) $(id).addEventListener('click', () => command('scan', {}));
  $('scan-close').addEventListener('click', () => { $('scan').hidden = true; });
  $('standby').addEventListener('click', () => command('standby', {}));
  $('restart').addEventListener('click', () => command('restart-receiver', {}));
  for (const button of document.querySelectorAll('.sleep button')) {
    button.addEventListener('click', () => command('sleep', {minutes: Number(button.dataset.minutes)}));
  }
  $('filter').addEventListener('input', applyFilter);
  connect();
}

setUp();
