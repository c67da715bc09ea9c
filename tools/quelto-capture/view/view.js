// The live view's page: reads the frames of /stream (the server reduces
// the data for display) and draws them. It sends nothing to the device.
"use strict";

const COLORS = ["#1f77b4", "#d62728", "#2ca02c", "#9467bd"];
const $ = (id) => document.getElementById(id);

let setup = null;        // the server's "hello"
let store = null;        // the last window of every series
let quality = new Map(); // label -> row of the last report
let lastT = 0;           // device seconds shown so far
let lastSeq = -1, missed = 0, frameTimes = [];
let charts = [];         // uPlot charts of the picked sensors and the feet
let picked = new Set();
let dirty = false;

// A series: times and rows of values, the last `window_s` seconds.
function newSeries(rows, names) {
  const s = { t: [], dt: 0 };
  for (const n of names) s[n] = Array.from({ length: rows }, () => []);
  s.names = names;
  return s;
}

function append(series, part) {
  if (!part) return;
  series.dt = part.dt;
  const n = part[series.names[0]][0] ? part[series.names[0]][0].length : 0;
  const t = series.t;
  // A gap (frames dropped for a slow viewer) breaks the line.
  if (t.length && part.t0 > t[t.length - 1] + 1.5 * part.dt) {
    t.push(t[t.length - 1] + part.dt);
    for (const name of series.names) for (const row of series[name]) row.push(null);
  }
  for (let i = 0; i < n; i++) t.push(part.t0 + i * part.dt);
  for (const name of series.names) {
    part[name].forEach((values, r) => { for (const v of values) series[name][r].push(v); });
  }
}

function trim(series, from) {
  let cut = 0;
  while (cut < series.t.length && series.t[cut] < from) cut++;
  if (cut === 0) return;
  series.t.splice(0, cut);
  for (const name of series.names) for (const row of series[name]) row.splice(0, cut);
}

function onHello(hello) {
  setup = hello;
  const rows = hello.sensors.length;
  store = {
    emg: newSeries(rows, ["min", "max"]),
    envelope: newSeries(rows, ["v"]),
    acc: newSeries(rows, ["x", "y", "z"]),
    footswitch: newSeries(2, ["v"]),
    insole: newSeries(2, ["v"]),
  };
  $("recording").textContent = hello.recording ? hello.recording : (hello.lsl ? "LSL only" : "not recording");
  buildPicker();
  buildGrid();
  buildCharts();
}

function buildPicker() {
  const picker = $("picker");
  picker.querySelectorAll("label").forEach((l) => l.remove());
  picked = new Set(setup.sensors.slice(0, 4).map((s) => s.label));
  for (const s of setup.sensors) {
    const label = document.createElement("label");
    const box = document.createElement("input");
    box.type = "checkbox";
    box.value = s.label;
    box.checked = picked.has(s.label);
    box.addEventListener("change", () => {
      if (box.checked) picked.add(s.label); else picked.delete(s.label);
      buildCharts();
    });
    label.append(box, " " + s.label);
    picker.append(label);
  }
}

function buildGrid() {
  const grid = $("grid");
  grid.replaceChildren();
  for (const s of setup.sensors) {
    const tile = document.createElement("figure");
    tile.className = "tile";
    tile.dataset.label = s.label;
    tile.style.margin = "0";
    const name = document.createElement("figcaption");
    name.className = "name";
    const text = document.createElement("span");
    text.textContent = s.label;
    const verdict = document.createElement("span");
    verdict.className = "verdict";
    name.append(text, verdict);
    const canvas = document.createElement("canvas");
    canvas.width = 300;
    canvas.height = 96;
    canvas.setAttribute("role", "img");
    canvas.setAttribute("aria-label", `EMG envelope of ${s.label}`);
    tile.append(name, canvas);
    grid.append(tile);
  }
}

function rangeX() {
  const w = setup.window_s;
  return () => [Math.max(0, lastT - w), Math.max(w, lastT)];
}

function chart(el, title, series, unit, extraScales) {
  const opts = {
    title, width: 460, height: 170,
    scales: Object.assign({ x: { time: false, range: rangeX() } }, extraScales || {}),
    series: [{ label: "s" }].concat(series),
    axes: [{ label: "s", size: 30 }, { label: unit, size: 60 }],
    cursor: { show: false },
    legend: { show: true },
  };
  if (extraScales) opts.axes.push({ scale: Object.keys(extraScales)[0], side: 1, label: Object.keys(extraScales)[0], size: 50, grid: { show: false } });
  const div = document.createElement("div");
  div.className = "trace";
  el.append(div);
  return new uPlot(opts, [[]].concat(series.map(() => [])), div);
}

function buildCharts() {
  for (const c of charts) c.plot.destroy();
  charts = [];
  $("traces").replaceChildren();
  $("feet").replaceChildren();
  setup.sensors.forEach((s, row) => {
    if (!picked.has(s.label)) return;
    if (setup.emg) {
      charts.push({ kind: "emg", row, plot: chart($("traces"), `${s.label} EMG`, [
        { label: "raw", stroke: COLORS[0], width: 1 },
        { label: "envelope", stroke: COLORS[1], width: 2 }], "µV") });
    }
    if (setup.acc) {
      charts.push({ kind: "acc", row, plot: chart($("traces"), `${s.label} accelerometer`,
        ["x", "y", "z"].map((a, i) => ({ label: a, stroke: COLORS[i], width: 1 })), "g") });
    }
  });
  if (setup.footswitch || setup.insole) {
    const series = [], which = [];
    if (setup.footswitch) setup.footswitch_on.forEach((on, i) => { if (on) { series.push({ label: `FSW${i + 1} contacts`, stroke: COLORS[i], width: 1, scale: "contacts" }); which.push(["footswitch", i]); } });
    if (setup.insole) setup.insole_on.forEach((on, i) => { if (on) { series.push({ label: `INS${i + 1} kPa`, stroke: COLORS[i + 2], width: 1.5 }); which.push(["insole", i]); } });
    if (series.length) {
      charts.push({ kind: "feet", which, plot: chart($("feet"), "Foot switches and insoles", series, "kPa",
        setup.footswitch ? { contacts: { range: [0, 16] } } : null) });
    }
  }
  dirty = true;
}

// Values of `series` row `r` on the times `xs`, the last one before each.
function sampleOn(series, name, r, xs) {
  const out = new Array(xs.length).fill(null);
  const t = series.t, v = series[name][r];
  let j = 0;
  for (let i = 0; i < xs.length; i++) {
    while (j + 1 < t.length && t[j + 1] <= xs[i]) j++;
    if (t.length && t[j] <= xs[i]) out[i] = v[j];
  }
  return out;
}

function draw() {
  for (const c of charts) {
    if (c.kind === "emg") {
      const e = store.emg, xs = [], ys = [];
      const half = e.dt / 2;
      for (let i = 0; i < e.t.length; i++) {
        xs.push(e.t[i], e.t[i] + half);
        ys.push(e.min[c.row][i], e.max[c.row][i]);
      }
      c.plot.setData([xs, ys, sampleOn(store.envelope, "v", c.row, xs)]);
    } else if (c.kind === "acc") {
      const a = store.acc;
      c.plot.setData([a.t, a.x[c.row], a.y[c.row], a.z[c.row]]);
    } else {
      const base = store.insole.t.length ? store.insole : store.footswitch;
      c.plot.setData([base.t].concat(c.which.map(([k, i]) => sampleOn(store[k], "v", i, base.t))));
    }
  }
  drawGrid();
}

function drawGrid() {
  const env = store.envelope;
  document.querySelectorAll("#grid .tile").forEach((tile, row) => {
    const canvas = tile.querySelector("canvas");
    const g = canvas.getContext("2d");
    g.clearRect(0, 0, canvas.width, canvas.height);
    const v = env.v[row];
    if (!v || !v.length) return;
    let top = 10;
    for (const x of v) if (x !== null && x > top) top = x;
    const w = setup.window_s, from = lastT - w;
    g.strokeStyle = "#1f3b57";
    g.lineWidth = 1.5;
    g.beginPath();
    let pen = false;
    for (let i = 0; i < v.length; i++) {
      if (v[i] === null) { pen = false; continue; }
      const x = ((env.t[i] - from) / w) * canvas.width;
      const y = canvas.height - 2 - (v[i] / top) * (canvas.height - 4);
      if (pen) g.lineTo(x, y); else g.moveTo(x, y);
      pen = true;
    }
    g.stroke();
    g.fillStyle = "#56606b";
    g.font = "18px system-ui";
    g.fillText(`${top.toFixed(0)} µV`, 4, 18);
  });
}

function fmt(x, digits) { return x === null || x === undefined ? "–" : Number(x).toFixed(digits); }

function onQuality(report) {
  const body = document.querySelector("#quality tbody");
  const rows = [];
  let bad = 0, check = 0, lowest = null;
  for (const q of report.sensors) {
    quality.set(q.label, q);
    if (q.verdict === "bad") bad++;
    if (q.verdict === "check") check++;
    if (q.battery_percent !== null && (lowest === null || q.battery_percent < lowest.battery_percent)) lowest = q;
    const tr = document.createElement("tr");
    tr.className = q.verdict;
    tr.dataset.label = q.label;
    const cells = [q.label, q.verdict, fmt(q.noise_floor_uV, 1),
      q.mains_uV === undefined ? "–" : fmt(q.mains_uV, 1) + (q.mains_hz ? ` (${q.mains_hz} Hz)` : ""),
      fmt(q.baseline_uV, 0), q.offset_uV === undefined ? "–" : fmt(q.offset_uV / 1000, 2),
      q.clipped_fraction === undefined ? "–" : fmt(q.clipped_fraction * 100, 2), fmt(q.battery_percent, 0), q.reason];
    cells.forEach((text, i) => {
      const td = document.createElement(i === 0 ? "th" : "td");
      if (i === 0) td.scope = "row";
      if (i === 1) td.className = "verdict";
      if (i === 8) td.className = "reason";
      td.textContent = text;
      tr.append(td);
    });
    rows.push(tr);
  }
  body.replaceChildren(...rows);
  const summary = bad || check
    ? `${bad} bad, ${check} to check: ` + report.sensors.filter((q) => q.verdict !== "good").map((q) => `${q.label} ${q.verdict} (${q.reason})`).join("; ")
    : `All ${report.sensors.length} sensors good.`;
  if ($("quality-summary").textContent !== summary) $("quality-summary").textContent = summary;
  $("battery").textContent = lowest ? `${lowest.battery_percent} % (${lowest.label})` : "–";
  document.querySelectorAll("#grid .tile").forEach((tile) => {
    const q = quality.get(tile.dataset.label);
    tile.className = "tile " + (q ? q.verdict : "");
    tile.querySelector(".verdict").textContent = q ? q.verdict : "";
  });
}

function onFrame(f) {
  if (lastSeq >= 0 && f.seq > lastSeq + 1) missed += f.seq - lastSeq - 1;
  lastSeq = f.seq;
  const now = performance.now();
  frameTimes.push(now);
  while (frameTimes.length && frameTimes[0] < now - 2000) frameTimes.shift();
  for (const key of Object.keys(store)) append(store[key], f[key]);
  lastT = Math.max(lastT, f.t);
  for (const key of Object.keys(store)) trim(store[key], lastT - setup.window_s);
  const s = f.status;
  $("state").textContent = s.state;
  $("time").textContent = `${Math.floor(s.time_s / 60)}:${(s.time_s % 60).toFixed(1).padStart(4, "0")}`;
  $("lost").textContent = String(s.lost_packets);
  $("viewers").textContent = String(s.viewers);
  $("rate").textContent = `${(frameTimes.length / 2).toFixed(1)}/s` + (missed ? `, ${missed} missed` : "");
  if (f.quality) onQuality(f.quality);
  dirty = true;
}

function connect() {
  const ws = new WebSocket(`ws://${location.host}/stream`);
  ws.onmessage = (m) => {
    const msg = JSON.parse(m.data);
    if (msg.type === "hello" && msg.ready) onHello(msg);
    else if (msg.type === "frame" && setup) onFrame(msg);
  };
  ws.onclose = () => { $("state").textContent = setup && $("state").textContent === "ended" ? "ended" : "disconnected"; };
}

function animate() {
  if (dirty && setup) { dirty = false; draw(); }
  requestAnimationFrame(animate);
}

connect();
requestAnimationFrame(animate);
