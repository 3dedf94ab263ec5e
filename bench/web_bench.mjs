// The web server under hostile and careless clients, on loopback: each probe
// starts its own corvane-sim on a free port and prints what it measured.
//
//   node bench/web_bench.mjs [--sim PATH] [PROBE...]
//
// Probes (all by default):
//   slow    the page's answer time (/api/state) while 200 idle connections
//           and 12 that drip a header byte every half second are held open
//           (each reopened when the server closes it), then how long Ctrl+C
//           takes to end the process with them still dripping
//   burst   300 connections opened at once, each asking for /api/state:
//           how many fail or wait for a SYN retry (over 900 ms)
//   speed   at --speed 10000 with the program in the tray, one event stream
//           read for 5 s: views and bytes a second, the process's CPU, and
//           how long a double tap takes to show on the stream
//   stall   four event streams that stop reading: how long until the server
//           closes one and a fifth can open
//   body    bodies sent to /api/action: 200 MB from another origin, 1 MB of
//           gzip (1 GB inflated), 10 MB of nested JSON: the answer, its time,
//           and the server's peak memory
//   startup 20 starts, each asked for /api/state the moment it prints its
//           address: how many answers lack the device's view
//   touch   50 stylus taps on the tray icon (touch, then lift), 600 ms apart
//           (past the double-tap time), at --speed 1: from the touch sent to
//           the event stream showing the new icon, median and 95th percentile
import { spawn } from 'node:child_process';
import { readFileSync } from 'node:fs';
import http from 'node:http';
import net from 'node:net';
import zlib from 'node:zlib';

const args = process.argv.slice(2);
let sim = new URL('../build/dev/corvane-sim', import.meta.url).pathname;
const simAt = args.indexOf('--sim');
if (simAt >= 0) {
  sim = args[simAt + 1];
  args.splice(simAt, 2);
}
const probes = args.length ? args : ['slow', 'burst', 'speed', 'stall', 'body', 'startup', 'touch'];
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

function start(speed = 1) {
  return new Promise((resolve, reject) => {
    const child = spawn(sim, ['--port', '0', '--speed', String(speed)], { stdio: ['ignore', 'pipe', 'inherit'] });
    let out = '';
    child.stdout.on('data', (d) => {
      out += d;
      const m = out.match(/http:\/\/127\.0\.0\.1:(\d+)\//);
      if (m) resolve({ child, port: Number(m[1]) });
    });
    child.on('error', reject);
  });
}

// Ctrl+C; resolves with how long the process took to end (killed after 20 s).
function stop(s) {
  return new Promise((resolve) => {
    if (s.child.exitCode !== null) return resolve(0);
    const t0 = Date.now();
    const kill = setTimeout(() => s.child.kill('SIGKILL'), 20000);
    s.child.once('exit', () => { clearTimeout(kill); resolve(Date.now() - t0); });
    s.child.kill('SIGINT');
  });
}

function status(pid) {
  const text = readFileSync(`/proc/${pid}/status`, 'utf8');
  const kb = (name) => Number(text.match(new RegExp(`${name}:\\s+(\\d+)`))[1]);
  return { rssMB: kb('VmRSS') / 1024, peakMB: kb('VmHWM') / 1024 };
}

function cpuSeconds(pid) {
  const fields = readFileSync(`/proc/${pid}/stat`, 'utf8').split(') ')[1].split(' ');
  return (Number(fields[11]) + Number(fields[12])) / 100;  // utime + stime, in ticks of 10 ms
}

// One request on a fresh connection; resolves with status, body and time.
function get(port, path = '/api/state', timeout = 30000) {
  return new Promise((resolve) => {
    const t0 = Date.now();
    const req = http.get({ host: '127.0.0.1', port, path, agent: false, headers: { Host: `127.0.0.1:${port}` } }, (res) => {
      let body = '';
      res.on('data', (d) => { body += d; });
      res.on('end', () => resolve({ status: res.statusCode, body, ms: Date.now() - t0 }));
    });
    req.setTimeout(timeout, () => req.destroy(new Error('timeout')));
    req.on('error', (e) => resolve({ status: 0, error: e.code || e.message, ms: Date.now() - t0 }));
  });
}

const median = (xs) => [...xs].sort((a, b) => a - b)[Math.floor(xs.length / 2)];

async function slow() {
  const s = await start(1);
  let running = true;
  const sockets = new Set();
  const hold = (drip) => {
    if (!running) return;
    const socket = net.connect({ host: '127.0.0.1', port: s.port });
    sockets.add(socket);
    let timer = null;
    socket.on('connect', () => {
      if (!drip) return;
      socket.write(`GET /api/state HTTP/1.1\r\nHost: 127.0.0.1:${s.port}\r\nX-Drip: `);
      timer = setInterval(() => socket.write('a'), 500);
    });
    socket.on('data', () => {});
    socket.on('error', () => {});
    socket.on('close', () => { clearInterval(timer); sockets.delete(socket); setTimeout(() => hold(drip), 50); });
  };
  const quiet = (await get(s.port)).ms;
  for (let i = 0; i < 200; i++) hold(false);
  for (let i = 0; i < 12; i++) hold(true);
  await sleep(2000);
  const times = [];
  let failed = 0;
  for (let i = 0; i < 10; i++) {
    const r = await get(s.port, '/api/state', 15000);
    if (r.status !== 200) failed++;
    times.push(r.ms);
    await sleep(500);
  }
  const stopMs = await stop(s);
  running = false;
  for (const socket of sockets) socket.destroy();
  console.log(JSON.stringify({ probe: 'slow', idle: 200, dripping: 12, quiet_ms: quiet,
                               answer_ms_median: median(times), answer_ms_max: Math.max(...times),
                               failed, of: times.length, ctrl_c_ms: stopMs }));
}

async function burst() {
  const s = await start(1);
  const t0 = Date.now();
  const results = await Promise.all(Array.from({ length: 300 }, () => get(s.port, '/api/state', 20000)));
  const total = Date.now() - t0;
  console.log(JSON.stringify({ probe: 'burst', connections: 300,
                               failed: results.filter((r) => r.status !== 200).length,
                               over_900ms: results.filter((r) => r.ms > 900).length,
                               max_ms: Math.max(...results.map((r) => r.ms)), total_ms: total }));
  await stop(s);
}

// An event stream: calls onView(view, bytes so far) for each view.
function stream(port, onView) {
  return new Promise((resolve) => {
    const req = http.get({ host: '127.0.0.1', port, path: '/api/events', agent: false,
                           headers: { Host: `127.0.0.1:${port}` } }, (res) => {
      let pending = '';
      let bytes = 0;
      res.setEncoding('utf8');
      res.on('data', (d) => {
        bytes += Buffer.byteLength(d);
        pending += d;
        let end;
        while ((end = pending.indexOf('\n\n')) >= 0) {
          const event = pending.slice(0, end);
          pending = pending.slice(end + 2);
          const data = event.split('\n').find((l) => l.startsWith('data: '));
          if (data) onView(JSON.parse(data.slice(6)), bytes);
        }
      });
      resolve({ req, res });
    });
    req.on('error', () => {});
  });
}

function post(port, body) {
  return new Promise((resolve) => {
    const req = http.request({ host: '127.0.0.1', port, path: '/api/action', method: 'POST', agent: false,
                               headers: { Host: `127.0.0.1:${port}`, 'Content-Type': 'application/json' } }, (res) => {
      res.resume();
      res.on('end', () => resolve(res.statusCode));
    });
    req.on('error', () => resolve(0));
    req.end(body);
  });
}

async function speed() {
  const s = await start(10000);
  let views = 0;
  let bytes = 0;
  let tapSent = 0;
  let tapShown = 0;
  const { req } = await stream(s.port, (view, total) => {
    views++;
    bytes = total;
    const dialog = view.device.screen.dialog;
    if (tapSent && !tapShown && dialog && dialog.visible) tapShown = Date.now();
  });
  // OK sends the program to the tray, where its monitor runs every 1.5 s of
  // device time (6,667 times a second of wall time).
  await post(s.port, '{"action":"ok"}');
  await sleep(1000);
  const [v0, b0, c0, t0] = [views, bytes, cpuSeconds(s.child.pid), Date.now()];
  await sleep(5000);
  const seconds = (Date.now() - t0) / 1000;
  const cpu = (cpuSeconds(s.child.pid) - c0) / seconds;
  // A double tap brings the dialog back: how long until the stream shows it.
  tapSent = Date.now();
  await post(s.port, '{"action":"doubletap"}');
  for (let i = 0; i < 400 && !tapShown; i++) await sleep(25);
  req.destroy();
  console.log(JSON.stringify({ probe: 'speed', speed: 10000, views_per_s: +((views - v0) / seconds).toFixed(1),
                               bytes_per_s: Math.round((bytes - b0) / seconds), cpu_percent: Math.round(cpu * 100),
                               doubletap_shown_ms: tapShown ? tapShown - tapSent : 'not within 10 s' }));
  await stop(s);
}

async function touch() {
  const s = await start(1);
  let icon = null;
  let waiting = null;  // {from, resolve}: the icon a tap must change
  const { req } = await stream(s.port, (view) => {
    const tray = view.device.screen.tray;
    icon = tray.length ? tray[0].icon : null;
    if (waiting && icon !== null && icon !== waiting.from) {
      waiting.resolve(Date.now());
      waiting = null;
    }
  });
  await post(s.port, '{"action":"ok"}');
  for (let i = 0; i < 400 && icon === null; i++) await sleep(25);
  const times = [];
  for (let i = 0; i < 50; i++) {
    const shown = new Promise((resolve) => { waiting = { from: icon, resolve }; });
    const sent = Date.now();
    await post(s.port, '{"action":"touch"}');
    await post(s.port, '{"action":"lift"}');
    const at = await Promise.race([shown, sleep(5000).then(() => 0)]);
    if (!at) {
      console.log(JSON.stringify({ probe: 'touch', error: `tap ${i}: no new icon within 5 s` }));
      break;
    }
    times.push(at - sent);
    await sleep(600);
  }
  req.destroy();
  times.sort((a, b) => a - b);
  const pick = (q) => times[Math.min(times.length - 1, Math.ceil(q * times.length) - 1)];
  console.log(JSON.stringify({ probe: 'touch', taps: times.length, median_ms: pick(0.5), p95_ms: pick(0.95),
                               max_ms: times.at(-1) }));
  await stop(s);
}

async function stall() {
  const s = await start(1);
  const stalled = [];
  for (let i = 0; i < 4; i++) {
    const socket = net.connect({ host: '127.0.0.1', port: s.port });
    socket.on('error', () => {});
    await new Promise((r) => socket.on('connect', r));
    socket.write(`GET /api/events HTTP/1.1\r\nHost: 127.0.0.1:${s.port}\r\n\r\n`);
    socket.pause();  // never reads again
    stalled.push(socket);
  }
  const t0 = Date.now();
  let freed = null;
  while (Date.now() - t0 < 120000) {
    const opened = await new Promise((resolve) => {
      const req = http.get({ host: '127.0.0.1', port: s.port, path: '/api/events', agent: false,
                             headers: { Host: `127.0.0.1:${s.port}` } }, (res) => { req.destroy(); resolve(res.statusCode); });
      req.on('error', () => resolve(0));
    });
    if (opened === 200) { freed = Date.now() - t0; break; }
    await sleep(250);
  }
  for (const socket of stalled) socket.destroy();
  console.log(JSON.stringify({ probe: 'stall', slot_freed_ms: freed ?? 'not within 120 s' }));
  await stop(s);
}

// Sends `body` (a Buffer, or a size of zeros to stream) with `headers`;
// resolves with the answer's status (0: the connection failed first) and time.
function send(port, headers, body) {
  return new Promise((resolve) => {
    const t0 = Date.now();
    const size = typeof body === 'number' ? body : body.length;
    const req = http.request({ host: '127.0.0.1', port, path: '/api/action', method: 'POST', agent: false,
                               headers: { Host: `127.0.0.1:${port}`, 'Content-Length': size, ...headers } }, (res) => {
      res.resume();
      res.on('end', () => resolve({ status: res.statusCode, ms: Date.now() - t0 }));
    });
    req.on('error', (e) => resolve({ status: 0, error: e.code, ms: Date.now() - t0 }));
    if (typeof body !== 'number') return req.end(body);
    const chunk = Buffer.alloc(1 << 20);
    let sent = 0;
    const pump = () => {
      while (sent < size) {
        sent += chunk.length;
        if (!req.write(chunk)) return req.once('drain', pump);
      }
      req.end();
    };
    pump();
  });
}

async function body() {
  const cases = [
    ['200 MB from another origin', { 'Content-Type': 'application/json', Origin: 'http://evil.example' }, 200 << 20],
    ['1 MB of gzip (1 GB inflated)', { 'Content-Type': 'application/json', 'Content-Encoding': 'gzip' },
     zlib.gzipSync(Buffer.alloc(1 << 30, ' '), { level: 9 })],
    ['10 MB of nested JSON', { 'Content-Type': 'application/json' },
     Buffer.from('['.repeat(5 << 20) + ']'.repeat(5 << 20))],
  ];
  for (const [what, headers, payload] of cases) {
    const s = await start(1);
    const before = status(s.child.pid);
    const c0 = cpuSeconds(s.child.pid);
    const r = await send(s.port, headers, payload);
    await sleep(500);
    const after = status(s.child.pid);
    console.log(JSON.stringify({ probe: 'body', what, body_bytes: typeof payload === 'number' ? payload : payload.length,
                                 status: r.status, error: r.error, answer_ms: r.ms,
                                 cpu_s: +(cpuSeconds(s.child.pid) - c0).toFixed(2),
                                 peak_mb_before: Math.round(before.peakMB), peak_mb_after: Math.round(after.peakMB),
                                 rss_mb_after: Math.round(after.rssMB) }));
    await stop(s);
  }
}

async function startup() {
  let incomplete = 0;
  for (let i = 0; i < 20; i++) {
    const s = await start(1);
    const r = await get(s.port);
    try {
      if (!JSON.parse(r.body).device) incomplete++;
    } catch {
      incomplete++;
    }
    await stop(s);
  }
  console.log(JSON.stringify({ probe: 'startup', starts: 20, incomplete }));
}

const all = { slow, burst, speed, stall, body, startup, touch };
for (const probe of probes) {
  if (!all[probe]) {
    console.error(`unknown probe ${probe}; the probes: ${Object.keys(all).join(' ')}`);
    process.exit(2);
  }
  await all[probe]();
}
