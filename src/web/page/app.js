// Tavmirok's page: the station's state and its live ionograms, from the program's own JSON API
// and its event stream. No framework, nothing from elsewhere.
"use strict";

const sweeps = new Map(); // by sounder: {info, columns: [{index, khz, snr_db}], scaled, complete}
let current = null;       // the sounder whose tab is shown
let statusNow = null;     // the last /api/status
let archivedList = [];    // today's archived sweeps of the current sounder
let archivedAt = -1;      // the one shown, -1 for the live picture
let stream = null;

const $ = (id) => document.getElementById(id);
const utcText = (iso) => (iso ? iso.slice(11, 19) : "–");

function getJson(path) {
  return fetch(path, { cache: "no-store" }).then((r) => (r.ok ? r.json() : null));
}

// ---- the ionogram ----

// SNR in dB over the column's median to a colour: dark below 3 dB, then blue, green, yellow, red.
function cellColour(db) {
  if (db === null) return "#202428";
  const t = Math.max(0, Math.min(1, (db - 3) / 27));
  if (t === 0) return "#05070a";
  const stops = [[10, 20, 90], [20, 150, 200], [60, 200, 80], [250, 220, 40], [250, 60, 30]];
  const x = t * (stops.length - 1);
  const i = Math.min(stops.length - 2, Math.floor(x));
  const f = x - i;
  const c = stops[i].map((v, k) => Math.round(v + (stops[i + 1][k] - v) * f));
  return `rgb(${c[0]},${c[1]},${c[2]})`;
}

function frame(sweep) {
  const canvas = $("ionogram");
  const info = sweep.info;
  let low = info.low_khz, high = info.high_khz;
  if (!(high > low)) {
    const khz = sweep.columns.map((c) => c.khz);
    low = Math.min(...khz, 0);
    high = Math.max(...khz, low + 1);
  }
  const left = 50, bottom = 30, top = 10, right = 10;
  return {
    canvas, ctx: canvas.getContext("2d"), low, high, left, top,
    width: canvas.width - left - right, height: canvas.height - top - bottom,
    x(khz) { return left + ((khz - low) / (high - low)) * this.width; },
  };
}

function drawAxes(f, info) {
  const { ctx } = f;
  ctx.fillStyle = "#000";
  ctx.fillRect(0, 0, f.canvas.width, f.canvas.height);
  ctx.strokeStyle = "#556";
  ctx.fillStyle = "#9ab";
  ctx.font = "12px sans-serif";
  ctx.strokeRect(f.left, f.top, f.width, f.height);
  const stepMhz = (f.high - f.low) / 1000 > 12 ? 2 : 1;
  for (let mhz = Math.ceil(f.low / 1000); mhz <= f.high / 1000; mhz += stepMhz) {
    const x = f.x(mhz * 1000);
    ctx.fillText(String(mhz), x - 4, f.top + f.height + 16);
  }
  ctx.fillText("MHz", f.left + f.width - 28, f.top + f.height + 28);
  const from = info.delay_from_ms, to = info.delay_to_ms;
  for (let ms = Math.ceil(from); ms <= to; ms += 1) {
    const y = f.top + f.height - ((ms - from) / (to - from)) * f.height;
    ctx.fillText(ms + " ms", 2, y + 4);
  }
}

function drawColumn(f, sweep, column, at) {
  const cells = column.snr_db;
  if (!cells || cells.length === 0) return;
  const columns = sweep.columns;
  const neighbour = columns[at > 0 ? at - 1 : at + 1];
  const gap = neighbour ? Math.abs(f.x(column.khz) - f.x(neighbour.khz)) : 4;
  const w = Math.max(1, Math.min(gap, 24));
  const x = f.x(column.khz) - w / 2;
  const h = f.height / cells.length;
  for (let i = 0; i < cells.length; i++) {
    f.ctx.fillStyle = cellColour(cells[i]);
    f.ctx.fillRect(x, f.top + f.height - (i + 1) * h, w, Math.ceil(h));
  }
}

function drawScaled(f, sweep) {
  const { ctx } = f;
  const traces = (sweep.scaled && sweep.scaled.traces) || [];
  ctx.font = "bold 13px sans-serif";
  traces.forEach((t, n) => {
    if (t.mof_khz === null) return;
    const x = f.x(t.mof_khz);
    ctx.strokeStyle = "#ffd479";
    ctx.setLineDash([4, 3]);
    ctx.beginPath();
    ctx.moveTo(x, f.top);
    ctx.lineTo(x, f.top + f.height);
    ctx.stroke();
    ctx.setLineDash([]);
    ctx.fillStyle = "#ffd479";
    const label = (t.mode ? t.mode + " " : "") + "MOF " + (t.mof_khz / 1000).toFixed(2);
    ctx.fillText(label, Math.min(x + 4, f.left + f.width - 110), f.top + 16 + 16 * n);
  });
}

function drawIonogram() {
  const sweep = sweeps.get(current);
  const canvas = $("ionogram");
  canvas.dataset.columns = sweep ? String(sweep.columns.length) : "0";
  if (!sweep) {
    const ctx = canvas.getContext("2d");
    ctx.fillStyle = "#000";
    ctx.fillRect(0, 0, canvas.width, canvas.height);
    return;
  }
  const f = frame(sweep);
  drawAxes(f, sweep.info);
  sweep.columns.forEach((c, i) => drawColumn(f, sweep, c, i));
  drawScaled(f, sweep);
  showSweepLine(sweep);
}

function showSweepLine(sweep) {
  const name = sweep.info.sounder || "The sounder";
  const state = sweep.complete === undefined ? "receiving" : sweep.complete ? "complete" : "cut short";
  $("sweep-title").textContent = `${name}: sweep of ${utcText(sweep.info.sweep_start_utc)} UTC, ` +
    `${sweep.columns.length} steps, ${state}`;
  const traces = (sweep.scaled && sweep.scaled.traces) || [];
  const mofs = traces.filter((t) => t.mof_khz !== null)
    .map((t) => (t.mode ? t.mode + " " : "") + (t.mof_khz / 1000).toFixed(2) + " MHz");
  $("mof").textContent = sweep.scaled ? (mofs.length ? "MOF " + mofs.join(", ") : "no trace") : "";
}

function sweepOf(info) {
  const sweep = { info, columns: [], scaled: null, complete: undefined };
  sweeps.set(info.sounder, sweep);
  if (current === null) selectTab(info.sounder);
  renderTabs();
  return sweep;
}

function takeLatest(latest) {
  if (!latest) return;
  const sweep = sweepOf(latest);
  sweep.columns = latest.columns;
  sweep.scaled = latest.scaled;
  if (latest.scaled) sweep.complete = !latest.cut_short;
}

// ---- tabs and the earlier sweeps of the day ----

function renderTabs() {
  const tabs = $("tabs");
  tabs.replaceChildren();
  for (const name of sweeps.keys()) {
    const b = document.createElement("button");
    b.type = "button";
    b.textContent = name || "Sounder";
    b.className = name === current ? "active" : "";
    b.addEventListener("click", () => selectTab(name));
    tabs.appendChild(b);
  }
}

function selectTab(name) {
  current = name;
  archivedAt = -1;
  renderTabs();
  showArchived();
  drawIonogram();
  loadArchived();
}

function loadArchived() {
  getJson("/api/ionograms").then((list) => {
    if (!list) return;
    // The single sounder's files carry no name.
    archivedList = list.sweeps.filter((s) => s.png && (!s.sounder || s.sounder === current));
    showArchived();
  });
}

function showArchived() {
  const img = $("archived");
  const live = archivedAt < 0 || archivedAt >= archivedList.length;
  img.hidden = live;
  $("ionogram").hidden = !live;
  if (live) {
    archivedAt = -1;
    $("archived-title").textContent = `Live (${archivedList.length} earlier today)`;
    return;
  }
  const s = archivedList[archivedAt];
  img.src = s.png;
  $("archived-title").textContent = `${utcText(s.sweep_start_utc)} UTC (${archivedAt + 1} of ${archivedList.length})`;
}

function page(by) {
  if (archivedList.length === 0) return;
  if (archivedAt < 0) archivedAt = archivedList.length;
  archivedAt = Math.max(0, archivedAt + by);
  showArchived();
}

// ---- the station card, the heard list, the day plot ----

function duration(s) {
  if (s === null || s === undefined) return "–";
  s = Math.round(s);
  const d = Math.floor(s / 86400), h = Math.floor((s % 86400) / 3600), m = Math.floor((s % 3600) / 60);
  return (d ? d + " d " : "") + (d || h ? h + " h " : "") + (d || h || m ? m + " min " : "") + (s % 60) + " s";
}

function renderStatus(s) {
  statusNow = s;
  statusNow.receivedAt = Date.now();
  $("activity").textContent = s.activity;
  const r = s.radio;
  $("radio").textContent = `${r.backend} ${r.endpoint}: ` + (r.connected
    ? (r.answering ? "answering" : "not answering") + (r.radio ? ` (${r.radio})` : "")
    : r.problem || (r.reconnecting ? "reconnecting" : "not connected"));
  $("audio").textContent = s.audio.input ? `${s.audio.input}: ${s.audio.running ? "running" : "stopped"}` : "none chosen";
  $("archive").textContent = s.archive.saving
    ? (s.archive.free_bytes === null ? "saving" : `saving, ${(s.archive.free_bytes / 1e9).toFixed(1)} GB free`)
    : "not saved";
  $("version").textContent = s.program_version;
  const list = $("problems");
  list.replaceChildren(...s.problems.map((p) => {
    const li = document.createElement("li");
    li.textContent = p;
    return li;
  }));
  for (const f of s.followed) if (!sweeps.has(f.name)) sweepOf({ sounder: f.name, columns: [] });
  tick();
}

function tick() {
  $("clock").textContent = new Date().toISOString().slice(11, 19) + " UTC";
  if (!statusNow) return;
  const since = (Date.now() - statusNow.receivedAt) / 1000;
  const next = statusNow.next_sweep_in_s;
  $("next-sweep").textContent = next === null ? "–" : duration(Math.max(0, next - since));
  $("uptime").textContent = duration(statusNow.uptime_s === null ? null : statusNow.uptime_s + since);
}

function renderHeard(heard) {
  $("heard").replaceChildren(...heard.map((h) => {
    const tr = document.createElement("tr");
    const cells = [h.rate_khz_per_s, (h.period_s ?? "?") + ":" + (h.chirp_time_s ?? "?"), h.heard,
      h.snr_db === null ? "–" : h.snr_db.toFixed(1), utcText(h.last_heard_utc), h.listen_khz];
    for (const c of cells) {
      const td = document.createElement("td");
      td.textContent = String(c);
      tr.appendChild(td);
    }
    return tr;
  }));
}

function drawDay(day) {
  const canvas = $("dayplot");
  const ctx = canvas.getContext("2d");
  const left = 40, top = 10, w = canvas.width - 50, h = canvas.height - 40, topMhz = 30;
  const x = (hours) => left + (hours / 24) * w;
  const y = (mhz) => top + h - (mhz / topMhz) * h;
  ctx.fillStyle = "#000";
  ctx.fillRect(0, 0, canvas.width, canvas.height);
  ctx.font = "11px sans-serif";
  for (const b of (statusNow && statusNow.bands) || []) {
    ctx.fillStyle = "rgba(90,120,160,0.25)";
    ctx.fillRect(left, y(b.high_khz / 1000), w, Math.max(1, y(b.low_khz / 1000) - y(b.high_khz / 1000)));
    ctx.fillStyle = "#7f93a8";
    ctx.fillText(b.name, left + w - 34, y(b.low_khz / 1000) - 1);
  }
  ctx.strokeStyle = "#556";
  ctx.strokeRect(left, top, w, h);
  ctx.fillStyle = "#9ab";
  for (let hr = 0; hr <= 24; hr += 3) ctx.fillText(String(hr).padStart(2, "0"), x(hr) - 6, top + h + 14);
  for (let m = 0; m <= topMhz; m += 5) ctx.fillText(String(m), 8, y(m) + 4);
  const colours = ["#ffd479", "#79d2ff", "#ff8f8f", "#a6ff8f", "#d79bff"];
  const names = [...new Set(day.rows.map((r) => r.sounder))];
  for (const r of day.rows) {
    const t = new Date(r.sweep_start_utc);
    const hours = t.getUTCHours() + t.getUTCMinutes() / 60 + t.getUTCSeconds() / 3600;
    ctx.fillStyle = colours[names.indexOf(r.sounder) % colours.length];
    if (r.mof_khz !== null && r.mof_khz !== undefined) ctx.fillRect(x(hours) - 2, y(r.mof_khz / 1000) - 2, 4, 4);
    if (r.fof2_mhz !== null && r.fof2_mhz !== undefined) {
      ctx.beginPath();
      ctx.arc(x(hours), y(r.fof2_mhz), 2.5, 0, 2 * Math.PI);
      ctx.stroke();
    }
  }
  names.forEach((n, i) => {
    ctx.fillStyle = colours[i % colours.length];
    ctx.fillText(n, left + 6, top + 14 + 14 * i);
  });
}

function loadDay() {
  getJson("/api/scaled").then((day) => day && drawDay(day));
}

// ---- the collector's map of the network ----

let land = null;    // rings of [lon, lat], fetched once
let network = null; // the last /api/network

// foF2 to the colour of the collector's PNG map: blue through green and yellow to red.
function fof2Colour(mhz, scale, alpha) {
  if (mhz === null) return `rgba(160,160,160,${alpha})`;
  const t = Math.max(0, Math.min(1, (mhz - scale[0]) / (scale[1] - scale[0])));
  return `hsla(${Math.round((1 - t) * 240)},90%,50%,${alpha})`;
}

function drawNetwork() {
  const canvas = $("netmap");
  const ctx = canvas.getContext("2d");
  const w = canvas.width, h = canvas.height;
  const x = (lon) => ((lon + 180) / 360) * w;
  const y = (lat) => ((90 - lat) / 180) * h;
  // A line of [lon, lat] (or [lat, lon] when latFirst), broken where it crosses the map's edge.
  const trace = (points, latFirst) => {
    ctx.beginPath();
    let last = null;
    for (const p of points) {
      const lon = latFirst ? p[1] : p[0], lat = latFirst ? p[0] : p[1];
      if (last === null || Math.abs(lon - last) > 180) ctx.moveTo(x(lon), y(lat));
      else ctx.lineTo(x(lon), y(lat));
      last = lon;
    }
  };
  ctx.fillStyle = "#0d2233";
  ctx.fillRect(0, 0, w, h);
  ctx.fillStyle = "#2b3a2e";
  ctx.strokeStyle = "#52665a";
  for (const ring of (land && land.rings) || []) {
    // Unwrapped across the date line and drawn on each side of it.
    let shift = 0;
    const unwrapped = ring.map((p, i) => {
      if (i > 0) {
        const step = p[0] - ring[i - 1][0];
        shift += step > 180 ? -360 : step < -180 ? 360 : 0;
      }
      return [p[0] + shift, p[1]];
    });
    for (const offset of [-360, 0, 360]) {
      ctx.beginPath();
      unwrapped.forEach((p, i) => (i ? ctx.lineTo : ctx.moveTo).call(ctx, x(p[0] + offset), y(p[1])));
      ctx.closePath();
      ctx.fill();
      ctx.stroke();
    }
  }
  if (!network) return;
  const scale = network.fof2_scale_mhz;
  ctx.lineWidth = 1.2;
  for (const p of network.paths) {
    ctx.strokeStyle = fof2Colour(p.fof2_mhz, scale, 0.45);
    trace(p.line, true);
    ctx.stroke();
  }
  ctx.strokeStyle = "#111";
  for (const p of network.paths) {
    ctx.fillStyle = fof2Colour(p.fof2_mhz, scale, 1);
    ctx.beginPath();
    ctx.arc(x(p.midpoint_lon), y(p.midpoint_lat), 5, 0, 2 * Math.PI);
    ctx.fill();
    ctx.stroke();
  }
  canvas.dataset.paths = String(network.paths.length);
}

function renderNetwork(map) {
  network = map;
  $("network-title").textContent = `The network on ${map.day} UTC: each path's last sweep in the hour to ` +
    `${utcText(map.latest_utc).slice(0, 5)}, foF2 at its midpoint (${map.fof2_scale_mhz[0]} MHz blue to ` +
    `${map.fof2_scale_mhz[1]} MHz red, grey unknown); ${map.stations.length} station(s)`;
  $("stations").replaceChildren(...map.stations.map((s) => {
    const tr = document.createElement("tr");
    for (const c of [s.station, s.locator, s.sweeps, utcText(s.last_utc)]) {
      const td = document.createElement("td");
      td.textContent = String(c);
      tr.appendChild(td);
    }
    return tr;
  }));
  drawNetwork();
}

function loadNetwork() {
  getJson("/api/network").then((map) => {
    if (!map || !map.collecting) return;
    document.body.classList.add("collector");
    document.querySelector(".network").hidden = false;
    const drawn = land ? Promise.resolve() : getJson("/api/network/land").then((l) => { land = l; });
    drawn.then(() => renderNetwork(map));
  });
}

// ---- the live stream ----

function catchUp() {
  loadNetwork();
  getJson("/api/status").then((s) => {
    if (!s) return;
    renderStatus(s);
    for (const f of s.followed) {
      getJson("/api/ionogram/latest?sounder=" + encodeURIComponent(f.name)).then((l) => {
        takeLatest(l);
        if (f.name === current) drawIonogram();
      });
    }
    loadDay();
  });
  getJson("/api/sounders").then((s) => s && renderHeard(s.heard));
  loadArchived();
}

function connect() {
  stream = new EventSource("/api/events");
  const on = (name, handler) => stream.addEventListener(name, (e) => handler(JSON.parse(e.data)));
  stream.onopen = () => {
    $("link").textContent = "live";
    $("link").className = "link up";
    catchUp();
  };
  stream.onerror = () => {
    $("link").textContent = "connection lost: reconnecting";
    $("link").className = "link down";
    // A stream the browser gave up on is opened again here.
    if (stream.readyState === EventSource.CLOSED) {
      stream.close();
      setTimeout(connect, 3000);
    }
  };
  on("state", renderStatus);
  on("sweep-started", (info) => {
    sweepOf(info);
    if (info.sounder === current) drawIonogram();
  });
  on("column", (c) => {
    const sweep = sweeps.get(c.sounder);
    if (!sweep) return;
    sweep.columns.push(c);
    if (c.sounder === current && archivedAt < 0) {
      if (sweep.columns.length === 1) drawIonogram();
      else drawColumn(frame(sweep), sweep, c, sweep.columns.length - 1);
      $("ionogram").dataset.columns = String(sweep.columns.length);
      showSweepLine(sweep);
    }
  });
  on("sweep-ended", (e) => {
    const sweep = sweeps.get(e.sounder);
    if (!sweep) return;
    sweep.complete = e.complete;
    if (e.sounder === current) showSweepLine(sweep);
  });
  on("scaled", (s) => {
    const sweep = sweeps.get(s.sounder);
    if (sweep) {
      sweep.scaled = s;
      if (s.sounder === current) drawIonogram();
    }
    loadDay();
  });
  on("heard", (h) => renderHeard(h.heard));
  on("problem", (p) => {
    if (statusNow) {
      statusNow.problems.unshift(p.message);
      renderStatus(statusNow);
    }
  });
  on("archived", loadArchived);
  on("network", loadNetwork);
}

$("earlier").addEventListener("click", () => page(-1));
$("later").addEventListener("click", () => page(1));
$("live").addEventListener("click", () => {
  archivedAt = -1;
  showArchived();
  drawIonogram();
});
setInterval(tick, 1000);
connect();
