// The live scope page of ru3 serve: pulls records from /api/frame (long
// poll, binary), draws both traces with uPlot, shows the settings the
// instrument holds (whoever changed them) and sends changes to
// /api/control. One browser controls at a time; the others watch.
'use strict';

const params = new URLSearchParams(location.search);
const token = params.get('token') || '';
const client = (crypto.randomUUID ? crypto.randomUUID() : String(Math.random()).slice(2));
const headers = token ? { Authorization: 'Bearer ' + token } : {};
const $ = (id) => document.getElementById(id);

const view = {
  frames: 0,        // records drawn (the tests read this)
  header: null,     // the last record's header
  role: 'view',
  cursors: [],      // times of cursors A and B, seconds
  drawTimes: [],
};
window.ru3 = view;
// For the page's tests: the axis labels as drawn, and the divisions.
view.labels = () => scopeAxes.labels();
view.divisions = () => {
  const [t0, t1] = span();
  return { time: (t1 - t0) / scopeAxes.DIVISIONS_X, volts: [rangeOf(1) * 2 / scopeAxes.DIVISIONS_Y, rangeOf(2) * 2 / scopeAxes.DIVISIONS_Y],
    x: plot.axes[0]._splits.length - 1, y: plot.axes[1]._splits.length - 1,
    canvas: [plot.ctx.canvas.width / (plot.pxRatio || 1), plot.ctx.canvas.height / (plot.pxRatio || 1)],
    tdiv: $('tdiv').textContent, vdiv: [$('ch1-vdiv').textContent, $('ch2-vdiv').textContent] };
};

let plot = null;
let dragLevel = null;  // level in volts while the marker is dragged

function fmt(v, unit) {
  if (v === null || v === undefined || !isFinite(v)) return '—';
  const a = Math.abs(v);
  const [s, d] = a >= 1e6 ? [1e-6, 'M'] : a >= 1e3 ? [1e-3, 'k'] : a >= 1 || a === 0 ? [1, ''] : a >= 1e-3 ? [1e3, 'm'] : [1e6, 'µ'];
  return (v * s).toPrecision(4) + ' ' + d + unit;
}

function say(text) { $('message').textContent = text || ''; }

async function control(pairs, take) {
  const body = { client, set: pairs };
  if (take) body.take = true;
  const r = await fetch('/api/control', {
    method: 'POST', headers: { ...headers, 'Content-Type': 'application/json' }, body: JSON.stringify(body),
  });
  const answer = await r.json().catch(() => ({}));
  if (r.status === 409) { say('another browser has control: press "Take control"'); showRole('view'); return; }
  say(answer.errors && answer.errors.length ? answer.errors.join('; ') : (answer.error || ''));
  if (answer.settings) showSettings(answer.settings, true);
  if (answer.role) showRole(answer.role);
}

function showRole(role) {
  view.role = role;
  $('role').textContent = role === 'control' ? 'you control' : role === 'free' ? 'nobody controls' : 'viewing';
  $('take').hidden = role === 'control';
}

// The instrument's ranges at each channel's probe tip.
let ranges = [];
const probes = [1, 1];
function fillRanges(k) {
  const select = $(`ch${k + 1}-range`), value = select.value;
  select.innerHTML = '<option value="auto">auto</option>' +
    ranges.map((r) => r * probes[k]).map((r) => `<option value="${r}">±${fmt(r, 'V')}</option>`).join('');
  select.value = value;
}

// Settings into the controls, but not into one the user is editing.
function showSettings(s, force) {
  const set = (id, value) => {
    const el = $(id);
    if (!force && document.activeElement === el) return;
    if (el.type === 'checkbox') el.checked = !!value; else el.value = String(value);
  };
  for (const k of [0, 1]) {
    const c = s.channels[k], p = 'ch' + (k + 1);
    set(p + '-on', c.on);
    if (c.probe !== probes[k]) { probes[k] = c.probe; fillRanges(k); }
    set(p + '-range', c.auto ? 'auto' : String(c.range));
    set(p + '-coupling', c.coupling);
    $(p + '-vdiv').textContent = fmt(c.range * 2 / scopeAxes.DIVISIONS_Y, 'V');
  }
  set('rate', s.rate);
  set('length', s.length);
  set('pre', s.pre);
  $('pre-out').textContent = Math.round(s.pre * 100) + ' %';
  $('tdiv').textContent = fmt(s.length / s.rate / scopeAxes.DIVISIONS_X, 's');
  set('source', s.source);
  if (dragLevel === null) set('level', +s.level.toPrecision(6));
  set('kind', s.kind);
  set('hysteresis', +s.hysteresis.toPrecision(6));
  set('timeout', s.timeout);
  $('state').textContent = s.state.toUpperCase();
}

function decode(buffer) {
  const data = new DataView(buffer);
  const length = data.getUint32(0, true);
  const header = JSON.parse(new TextDecoder().decode(new Uint8Array(buffer, 4, length)));
  const n = header.points;
  const traces = header.traces.map((t, i) => {
    const raw = new Float32Array(buffer, 4 + length + i * n * 4, n);
    return { ...t, values: Array.from(raw, (v) => (isNaN(v) ? null : v)) };
  });
  const x = Array.from({ length: n }, (_, i) => header.t0 + i * header.dt);
  return { header, traces, x };
}

function rangeOf(ch) {
  const s = view.header && view.header.settings;
  return s ? s.channels[ch - 1].range : 1;
}

// The record's time span, [first, last] in seconds (0 at the trigger).
function span() {
  const h = view.header;
  if (!h || !h.rate) return [0, 1];
  return [h.t0, h.t0 + h.length / h.rate];
}

const noLabels = (u, splits) => splits.map(() => '');

function drawMarks(u) {
  const h = view.header;
  if (!h) return;
  const ctx = u.ctx, { left, top, width, height } = u.bbox;
  ctx.save();
  // Positions without a sample: a shaded band over the leading ones.
  const first = view.data ? view.data.findIndex((v) => v !== null) : -1;
  if (first > 0) {
    const x1 = u.valToPos(u.data[0][first], 'x', true);
    ctx.fillStyle = 'rgba(160,160,160,0.15)';
    ctx.fillRect(left, top, x1 - left, height);
  }
  // Trigger position and level marker on the trigger channel's scale.
  const x0 = u.valToPos(0, 'x', true);
  ctx.strokeStyle = '#f80';
  ctx.setLineDash([4, 4]);
  ctx.beginPath(); ctx.moveTo(x0, top); ctx.lineTo(x0, top + height); ctx.stroke();
  const s = h.settings;
  if (s.source !== 'none') {
    const level = dragLevel !== null ? dragLevel : s.level;
    const y = u.valToPos(level, s.source === 'ch1' ? 'v1' : 'v2', true);
    ctx.beginPath(); ctx.moveTo(left, y); ctx.lineTo(left + width, y); ctx.stroke();
    ctx.setLineDash([]);
    ctx.fillStyle = '#f80';
    ctx.beginPath(); ctx.moveTo(left + width, y); ctx.lineTo(left + width - 12, y - 7); ctx.lineTo(left + width - 12, y + 7); ctx.fill();
  }
  ctx.setLineDash([]);
  ctx.strokeStyle = '#8f8';
  view.cursors.forEach((t, i) => {
    const x = u.valToPos(t, 'x', true);
    ctx.beginPath(); ctx.moveTo(x, top); ctx.lineTo(x, top + height); ctx.stroke();
    ctx.fillStyle = '#8f8';
    ctx.fillText(i ? 'B' : 'A', x + 3, top + 12);
  });
  ctx.restore();
}

function makePlot() {
  const width = $('scope').clientWidth || 900;
  const opts = {
    width, height: Math.max(300, Math.min(560, window.innerHeight - 260)),
    scales: {
      x: { time: false, range: () => span() },
      v1: { range: () => [-rangeOf(1), rangeOf(1)] },
      v2: { range: () => [-rangeOf(2), rangeOf(2)] },
    },
    // The graticule: 10 divisions across, 8 down; the labels are drawn by
    // scopeAxes (axes.js), so uPlot's own stay empty.
    axes: [
      { stroke: '#aaa', grid: { stroke: '#333' }, size: 30, splits: () => scopeAxes.splits(...span(), scopeAxes.DIVISIONS_X), values: noLabels },
      { scale: 'v1', stroke: '#f2d200', grid: { stroke: '#333' }, size: () => scopeAxes.axisSize(rangeOf(1)),
        splits: () => scopeAxes.splits(-rangeOf(1), rangeOf(1), scopeAxes.DIVISIONS_Y), values: noLabels },
      { scale: 'v2', side: 1, stroke: '#29d3ff', grid: { show: false }, size: () => scopeAxes.axisSize(rangeOf(2)),
        splits: () => scopeAxes.splits(-rangeOf(2), rangeOf(2), scopeAxes.DIVISIONS_Y), values: noLabels },
    ],
    series: [
      { label: 'time', value: (u, v) => fmt(v, 's') },
      { label: 'CH1', scale: 'v1', stroke: '#f2d200', width: 1.5, value: (u, v) => fmt(v, 'V') },
      { label: 'CH2', scale: 'v2', stroke: '#29d3ff', width: 1.5, value: (u, v) => fmt(v, 'V') },
    ],
    hooks: { draw: [drawMarks, (u) => scopeAxes.draw(u, span(), [rangeOf(1), rangeOf(2)], ['#f2d200', '#29d3ff'])] },
  };
  plot = new uPlot(opts, [[0], [null], [null]], $('plot'));
  const over = plot.over;
  const levelY = () => {
    const s = view.header && view.header.settings;
    if (!s || s.source === 'none') return null;
    return plot.valToPos(dragLevel !== null ? dragLevel : s.level, s.source === 'ch1' ? 'v1' : 'v2');
  };
  over.addEventListener('mousedown', (e) => {
    const y = levelY();
    if (y !== null && Math.abs(e.offsetY - y) < 8) {
      dragLevel = view.header.settings.level;
      e.preventDefault(); e.stopPropagation();
    }
  }, true);
  window.addEventListener('mousemove', (e) => {
    if (dragLevel === null) return;
    const s = view.header.settings, scale = s.source === 'ch1' ? 'v1' : 'v2';
    const rect = over.getBoundingClientRect();
    const r = rangeOf(s.source === 'ch1' ? 1 : 2);
    dragLevel = Math.max(-r, Math.min(r, plot.posToVal(e.clientY - rect.top, scale)));
    $('level').value = +dragLevel.toPrecision(4);
    plot.redraw(false);
  });
  window.addEventListener('mouseup', () => {
    if (dragLevel === null) return;
    const level = +dragLevel.toPrecision(4);
    dragLevel = null;
    control([['trigger.level', level]]);
  });
  over.addEventListener('click', (e) => {
    if (dragLevel !== null) return;
    const t = plot.posToVal(e.offsetX, 'x');
    view.cursors = view.cursors.length >= 2 ? [t] : [...view.cursors, t];
    showCursors();
    plot.redraw(false);
  });
}

function showCursors() {
  const [a, b] = view.cursors;
  if (a === undefined) return;
  let text = 'A ' + fmt(a, 's');
  if (b !== undefined) text += ', B ' + fmt(b, 's') + ', Δt ' + fmt(b - a, 's') + ', 1/Δt ' + fmt(1 / Math.abs(b - a), 'Hz');
  $('cursors').textContent = text;
}

function render(frame) {
  const { header, traces, x } = frame;
  view.header = header;
  const ch = (n) => traces.find((t) => t.channel === n);
  const y1 = ch(1) ? ch(1).values : x.map(() => null);
  const y2 = ch(2) ? ch(2).values : x.map(() => null);
  view.data = (ch(1) || ch(2) || { values: [] }).values;
  plot.setData([x, y1, y2]);
  showSettings(header.settings, false);
  showRole(header.role);
  const marks = [];
  if (header.forced) marks.push('trigger forced');
  for (const t of traces) if (t.clipped) marks.push('CH' + t.channel + ' clipped');
  const missing = Math.max(0, ...traces.map((t) => t.missing));
  if (missing) marks.push(missing + ' positions without a sample');
  $('marks').innerHTML = marks.map((m) => `<span>${m}</span>`).join('');
  for (const n of [1, 2]) {
    const t = ch(n);
    const cells = t ? [fmt(t.min, 'V'), fmt(t.max, 'V'), fmt(t.mean, 'V'), fmt(t.rms, 'V'), fmt(t.pp, 'V'), fmt(t.frequency, 'Hz')]
      : ['off', '', '', '', '', ''];
    $('m' + n).innerHTML = `<th class="ch${n}">CH${n}</th>` + cells.map((c) => `<td>${c}</td>`).join('');
  }
  const now = performance.now();
  view.drawTimes.push(now);
  while (view.drawTimes.length > 2 && now - view.drawTimes[0] > 3000) view.drawTimes.shift();
  const span = (now - view.drawTimes[0]) / 1000;
  const pageRate = span > 0 ? (view.drawTimes.length - 1) / span : 0;
  $('fps').textContent = `${pageRate.toFixed(1)} records/s drawn, instrument ${header.fps.toFixed(1)}/s`;
  view.frames++;
}

async function loop() {
  let seq = 0;
  for (;;) {
    try {
      const r = await fetch(`/api/frame?after=${seq}&client=${client}`, { headers });
      if (!r.ok) { say((await r.json().catch(() => ({}))).error || 'HTTP ' + r.status); await sleep(500); continue; }
      const frame = decode(await r.arrayBuffer());
      seq = frame.header.seq;
      render(frame);
    } catch (e) {
      say('connection lost, retrying');
      await sleep(1000);
    }
  }
}

const sleep = (ms) => new Promise((done) => setTimeout(done, ms));

function valueOf(el) {
  if (el.type === 'checkbox') return el.checked;
  if (el.tagName === 'SELECT' && el.classList.contains('range')) return el.value === 'auto' ? 'auto' : +el.value;
  if (el.id === 'kind') return +el.value;
  if (el.type === 'number' || el.type === 'range') return +el.value;
  return el.value;
}

async function save() {
  const format = $('save-format').value;
  const seq = view.header ? view.header.seq : '';
  const r = await fetch(`/api/save?format=${format}&seq=${seq}`, { headers });
  if (!r.ok) { say('save: HTTP ' + r.status); return; }
  const blob = await r.blob();
  const a = document.createElement('a');
  a.href = URL.createObjectURL(blob);
  a.download = `ru3-${seq}.${format}`;
  document.body.appendChild(a);
  a.click();
  a.remove();
  view.saved = { format, size: blob.size };
}

async function start() {
  const r = await fetch(`/api/state?client=${client}`, { headers });
  const state = await r.json();
  if (!r.ok) { say(state.error || 'HTTP ' + r.status); return; }
  $('serial').textContent = 'serial ' + state.serial;
  ranges = state.ranges;
  fillRanges(0);
  fillRanges(1);
  showSettings(state.settings, true);
  showRole(state.role);
  makePlot();
  for (const el of document.querySelectorAll('[data-key]')) {
    el.addEventListener('change', () => control([[el.dataset.key, valueOf(el)]]));
  }
  for (const s of ['run', 'stop', 'single', 'force']) $(s).addEventListener('click', () => control([['state', s]]));
  $('autoscale').addEventListener('click', () => control([['autoscale', 1]]));
  $('take').addEventListener('click', () => control([], true));
  $('save').addEventListener('click', save);
  window.addEventListener('resize', () => plot.setSize({ width: $('scope').clientWidth, height: plot.height }));
  loop();
}

start();
