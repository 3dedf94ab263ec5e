// The web server's refusals: foreign host names (DNS rebinding), input from
// another origin, bad input of every kind, paths that are not the page's,
// too many event streams; and that it stops at once on Ctrl+C.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import http from 'node:http';
import net from 'node:net';
import os from 'node:os';
import { startSimulator, stopSimulator } from './sim.mjs';

let sim;
before(async () => { sim = await startSimulator({ speed: 1 }); });
after(async () => { if (sim && sim.child.exitCode === null) await stopSimulator(sim); });

// A raw request, with any Host and headers (fetch would not send a foreign
// Host); resolves with status, headers and body.
function request({ method = 'GET', path = '/', headers = {}, body } = {}) {
  return new Promise((resolve, reject) => {
    const req = http.request({
      host: '127.0.0.1', port: sim.port, method, path,
      headers: { Host: `127.0.0.1:${sim.port}`, ...headers },
    }, (res) => {
      let data = '';
      res.setEncoding('utf8');
      res.on('data', (d) => { data += d; });
      res.on('end', () => resolve({ status: res.statusCode, headers: res.headers, body: data }));
    });
    req.on('error', reject);
    if (body !== undefined) req.write(body);
    req.end();
  });
}

const post = (body, headers = {}) => request({
  method: 'POST', path: '/api/action', body,
  headers: { 'Content-Type': 'application/json', ...headers },
});

// A refusal: the status, and a JSON body with an error message.
function assertRefused(res, status, what) {
  assert.equal(res.status, status, `${what}: ${res.body}`);
  assert.match(res.headers['content-type'], /^application\/json/, what);
  const error = JSON.parse(res.body).error;
  assert.ok(typeof error === 'string' && error.length > 0, `${what} says why`);
}

async function quietState() {
  const view = JSON.parse((await request({ path: '/api/state' })).body);
  return { log: view.log_seq, hardware: view.device.hardware, screen: view.device.screen };
}

test('a request for another host name is refused', async () => {
  for (const host of ['evil.example', `evil.example:${sim.port}`, `127.0.0.1:${sim.port + 1}`, '127.0.0.1',
                      `localhost.evil.example:${sim.port}`]) {
    assertRefused(await request({ path: '/api/state', headers: { Host: host } }), 421, `Host ${host}`);
  }
  assertRefused(await post('{"action":"ok"}', { Host: `evil.example:${sim.port}` }), 421, 'input to another host');
  assert.equal((await request({ path: '/', headers: { Host: `localhost:${sim.port}` } })).status, 200);
});

test('bad input is refused with a clear error and changes nothing', async () => {
  const before = await quietState();
  const cases = [
    [post('{"action":"ok"}', { Origin: 'http://evil.example' }), 403, 'another origin'],
    [post('{"action":"ok"}', { Origin: `http://127.0.0.1:${sim.port + 1}` }), 403, 'another port'],
    [post('{"action":"ok"}', { 'Content-Type': 'text/plain' }), 415, 'not JSON'],
    [post('{"action": "ok"'), 400, 'malformed JSON'],
    [post('[1, 2]'), 400, 'not an object'],
    [post('{"action": "dance"}'), 400, 'unknown action'],
    [post('{"act": "ok"}'), 400, 'no action'],
    [post('{"action": "foreign", "cccr": "0x100000000"}'), 400, 'a word of 33 bits'],
    [post('{"action": "foreign", "cccr": "banana"}'), 400, 'a word that is no number'],
    [post('{"action": "foreign", "cccr": -1}'), 400, 'a negative word'],
    [post('{"action": "foreign", "cccr": 1.5}'), 400, 'a fractional word'],
    [post('{"action": "foreign"}'), 400, 'no word'],
    [post('{"action": "map-fail", "count": 0}'), 400, 'no mappings to fail'],
    [post('{"action": "map-fail", "count": "3"}'), 400, 'a count that is text'],
    [post('{"action": "click"}'), 400, 'a click on nothing'],
    [request({ path: '/api/action' }), 405, 'input by GET'],
  ];
  for (const [response, status, what] of cases) assertRefused(await response, status, what);
  assert.deepEqual(await quietState(), before, 'the device is as it was');
});

test('paths outside the page are not found', async () => {
  for (const path of ['/../../etc/passwd', '/%2e%2e/%2e%2e/etc/passwd', '/index.html', '/app.js/..',
                      '/api/icon/999', '/api/icon/99999999', '/simulator/web/page/app.js']) {
    assertRefused(await request({ path }), 404, path);
  }
  assertRefused(await request({ path: '/api/icon/109?size=7' }), 400, 'an icon size the icons lack');
  const icon = await request({ path: '/api/icon/109?size=16' });
  assert.equal(icon.status, 200);
  assert.equal(icon.headers['content-type'], 'image/png');
});

test('event streams are limited, and a closed one is freed', async () => {
  const open = () => new Promise((resolve, reject) => {
    const req = http.get({ host: '127.0.0.1', port: sim.port, path: '/api/events',
                           headers: { Host: `127.0.0.1:${sim.port}` } }, (res) => resolve({ req, res }));
    req.on('error', reject);
  });
  const streams = [];
  for (let i = 0; i < 4; i++) {
    const s = await open();
    assert.equal(s.res.statusCode, 200);
    assert.match(s.res.headers['content-type'], /^text\/event-stream/);
    streams.push(s);
  }
  const fifth = await open();
  assert.equal(fifth.res.statusCode, 503);
  fifth.res.resume();
  // Closing a stream frees its place (the server notices within a second).
  streams.pop().req.destroy();
  let reopened;
  for (;;) {
    reopened = await open();
    if (reopened.res.statusCode === 200) break;
    reopened.res.resume();
    await new Promise((r) => setTimeout(r, 100));
  }
  streams.push(reopened);
  // Each open stream delivers the view as events.
  const first = await new Promise((resolve) => {
    let data = '';
    reopened.res.on('data', (d) => {
      data += d;
      if (data.includes('\n\n')) resolve(data);
    });
  });
  assert.match(first, /^event: view\ndata: \{/);
  for (const s of streams) s.req.destroy();
});

test('it listens on the loopback address only', async (t) => {
  const other = Object.values(os.networkInterfaces()).flat()
      .find((a) => a && a.family === 'IPv4' && !a.internal);
  if (!other) return t.skip('no other IPv4 address on this machine');
  const connected = await new Promise((resolve) => {
    const socket = net.connect({ host: other.address, port: sim.port });
    socket.on('connect', () => { socket.destroy(); resolve(true); });
    socket.on('error', () => resolve(false));
  });
  assert.equal(connected, false, `nothing answers on ${other.address}:${sim.port}`);
});

test('Ctrl+C stops the server within a second, with a stream open', async () => {
  const stream = await new Promise((resolve) => {
    const req = http.get({ host: '127.0.0.1', port: sim.port, path: '/api/events',
                           headers: { Host: `127.0.0.1:${sim.port}` } }, (res) => { res.resume(); resolve(req); });
  });
  const stopped = await stopSimulator(sim);
  stream.destroy();
  assert.ok(stopped.ms < 1000, `stopped in ${stopped.ms} ms`);
  assert.equal(stopped.code, 0);
});
