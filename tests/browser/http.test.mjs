// The web server's refusals: foreign host names (DNS rebinding), requests
// from another site or origin, framing, bad input of every kind, bodies
// over the limit (refused before they are read), paths that are not the
// page's, too many event streams, a port in use; that slow clients do not
// hold up the page; and that it stops at once on Ctrl+C.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import http from 'node:http';
import net from 'node:net';
import os from 'node:os';
import { SIM, startSimulator, stopSimulator } from './sim.mjs';

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

// Raw bytes on a fresh connection (for what node's client would not send:
// two Host headers, a header without its body); resolves with the answer
// once the server closes the connection.
function raw(text) {
  return new Promise((resolve, reject) => {
    const socket = net.connect({ host: '127.0.0.1', port: sim.port }, () => socket.write(text));
    let data = '';
    socket.setEncoding('latin1');
    socket.on('data', (d) => { data += d; });
    socket.on('error', reject);
    socket.on('close', () => {
      const [head, ...rest] = data.split('\r\n\r\n');
      const [statusLine, ...lines] = head.split('\r\n');
      const headers = {};
      for (const line of lines) {
        const at = line.indexOf(':');
        headers[line.slice(0, at).toLowerCase()] = line.slice(at + 1).trim();
      }
      resolve({ status: Number(statusLine.split(' ')[1]), headers, body: rest.join('\r\n\r\n') });
    });
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

test("the program's names come from the device", async () => {
  const res = await request({ path: '/api/program' });
  assert.equal(res.status, 200);
  const names = JSON.parse(res.body);
  assert.deepEqual(names.buttons.map((b) => b.word).sort(), ['allow100', 'notify', 'quit']);
  assert.ok(names.buttons.every((b) => Number.isInteger(b.id)));
  assert.ok(names.state_fields.includes('pendingNotifications'));
});

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
    [post('{"action": "click", "id": 18446744073709551615}'), 400, 'a control id of 64 bits (not -1)'],
    [post('{"action": "click", "id": 65536}'), 400, 'a control id of 17 bits'],
    [post('{"action": "click", "id": -32769}'), 400, 'a control id below 16 bits signed'],
    [post('{"action": "click", "id": 1005.5}'), 400, 'a fractional control id'],
    [post('{"action": "click", "id": "1005"}'), 400, 'a control id that is text'],
    [post('{"action": "map-fail", "count": 18446744073709551617}'), 400, 'a count beyond 64 bits'],
    [post('{"action":"ok"}', { 'Content-Type': 'application/jsonp' }), 415, 'a type that starts like JSON'],
    [post('{"action":"ok"}', { 'Content-Type': 'application/json-seq' }), 415, 'another JSON type'],
    [post('{"action":"ok"}', { 'Content-Encoding': 'gzip' }), 415, 'a compressed body'],
    [post('{"action":"ok"}', { 'Content-Encoding': 'identity' }), 415, 'any encoding'],
    [post('{"action":"ok"}', { 'Sec-Fetch-Site': 'cross-site' }), 403, 'input from another site'],
    [post('{"action":"ok"}', { 'Sec-Fetch-Site': 'same-site' }), 403, 'input from another port of this host'],
    [post('{"action":"ok"}', { Referer: 'http://evil.example/page' }), 403, 'input from another page'],
    [post('{"action":"ok"}', { Origin: 'null' }), 403, 'input from an opaque origin'],
    [request({ path: '/api/action' }), 405, 'input by GET'],
  ];
  for (const [response, status, what] of cases) assertRefused(await response, status, what);
  assert.deepEqual(await quietState(), before, 'the device is as it was');
});

test('the media type of the input is matched exactly, in any case, with parameters', async () => {
  // A body the server parses (and refuses as an unknown action) shows the
  // type was taken.
  for (const type of ['application/json', 'Application/JSON', 'application/json; charset=utf-8',
                      'APPLICATION/JSON ;charset="UTF-8"']) {
    const res = await post('{"action":"dance"}', { 'Content-Type': type });
    assert.equal(res.status, 400, `${type}: ${res.body}`);
    assert.match(JSON.parse(res.body).error, /unknown action/, type);
  }
});

test('every API route answers only its own page', async () => {
  const own = `http://127.0.0.1:${sim.port}`;
  for (const path of ['/api/state', '/api/events', '/api/icon/109', '/api/trace']) {
    for (const [headers, what] of [[{ 'Sec-Fetch-Site': 'cross-site' }, 'another site'],
                                   [{ 'Sec-Fetch-Site': 'same-site' }, 'another port'],
                                   [{ Origin: 'http://evil.example' }, 'another origin'],
                                   [{ Referer: 'http://evil.example/' }, 'a page elsewhere'],
                                   [{ Referer: `http://127.0.0.1:${sim.port}0/` }, 'a page on another port']]) {
      assertRefused(await request({ path, headers }), 403, `${path} from ${what}`);
    }
  }
  // The page's own requests, as a browser sends them.
  const res = await request({ path: '/api/state', headers: { 'Sec-Fetch-Site': 'same-origin', Referer: `${own}/` } });
  assert.equal(res.status, 200);
  assert.equal((await request({ path: '/api/state', headers: { 'Sec-Fetch-Site': 'none' } })).status, 200);
});

test('the page may not be framed', async () => {
  for (const path of ['/', '/app.js', '/api/state']) {
    const res = await request({ path });
    assert.equal(res.status, 200, path);
    assert.equal(res.headers['x-frame-options'], 'DENY', path);
    assert.match(res.headers['content-security-policy'], /frame-ancestors 'none'/, path);
  }
});

test('a request needs exactly one Host', async () => {
  const host = `Host: 127.0.0.1:${sim.port}\r\n`;
  const twice = await raw(`GET /api/state HTTP/1.1\r\n${host}${host}\r\n`);
  assertRefused(twice, 400, 'two Host headers');
  const otherSecond = await raw(`GET /api/state HTTP/1.1\r\n${host}Host: evil.example\r\n\r\n`);
  assertRefused(otherSecond, 400, 'a second, foreign Host');
  assertRefused(await raw('GET /api/state HTTP/1.1\r\n\r\n'), 400, 'no Host');
});

test('an input body is limited, and refused before any byte of it is sent', async () => {
  const before = await quietState();
  const head = (headers) => `POST /api/action HTTP/1.1\r\nHost: 127.0.0.1:${sim.port}\r\n${headers}\r\n`;
  // Only the header is sent: the answer cannot wait for the body.
  assertRefused(await raw(head('Content-Type: application/json\r\nContent-Length: 200000000\r\n')), 413,
                'a body of 200 MB');
  assertRefused(await raw(head('Content-Type: application/json\r\nContent-Length: 4097\r\n')), 413,
                'a body one byte over');
  assertRefused(await raw(head('Content-Type: application/json\r\nContent-Length: 200000000\r\n' +
                               'Origin: http://evil.example\r\n')), 403, 'a large body from another origin');
  assertRefused(await raw(head('Content-Type: application/json\r\nContent-Length: 1000000\r\n' +
                               'Content-Encoding: gzip\r\n')), 415, 'a gzip body');
  // A chunked body has no length up front: it is refused as it passes the limit.
  const chunk = 'x'.repeat(3000);
  const chunked = head('Content-Type: application/json\r\nTransfer-Encoding: chunked\r\n') +
      `${chunk.length.toString(16)}\r\n${chunk}\r\n`.repeat(2) + '0\r\n\r\n';
  assertRefused(await raw(chunked), 413, 'a chunked body over the limit');
  // Up to the limit, the body is read and parsed.
  const padded = JSON.stringify({ action: 'dance', pad: '' });
  const full = JSON.stringify({ action: 'dance', pad: 'x'.repeat(4096 - padded.length) });
  assert.equal(full.length, 4096);
  const res = await post(full);
  assert.equal(res.status, 400);
  assert.match(JSON.parse(res.body).error, /unknown action/);
  assert.deepEqual(await quietState(), before, 'the device is as it was');
});

test('the trace is a file to save; four downloads at most at once, sharing traces made at most once a second', async () => {
  const many = await Promise.all(Array.from({ length: 20 }, () => request({ path: '/api/trace' })));
  const sent = many.filter((r) => r.status === 200);
  const refused = many.filter((r) => r.status === 503);
  assert.ok(sent.length >= 1 && sent.length <= 4, `${sent.length} downloads at once`);
  assert.equal(sent.length + refused.length, 20);
  for (const res of sent) {
    assert.match(res.headers['content-type'], /^application\/json/);
    assert.equal(res.headers['content-disposition'], 'attachment; filename="corvane-trace.json"');
    assert.ok(Array.isArray(JSON.parse(res.body).traceEvents));
  }
  for (const res of refused) assert.match(JSON.parse(res.body).error, /too many trace downloads/);
  assert.ok(new Set(sent.map((r) => r.body)).size <= 2, 'the downloads share their traces');
  // Once those are sent and their connections closed, their places are free
  // again (a place frees when the server sees its connection close).
  let again = await request({ path: '/api/trace' });
  for (const giveUp = Date.now() + 5000; again.status === 503 && Date.now() < giveUp;) {
    await new Promise((resolve) => setTimeout(resolve, 50));
    again = await request({ path: '/api/trace' });
  }
  assert.equal(again.status, 200);
  assert.equal((await request({ method: 'POST', path: '/api/trace', headers: { 'Content-Type': 'application/json' }, body: '{}' })).status, 405);
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

test('a stream whose reader stops reading is closed, and its place freed', async () => {
  const stalled = [];
  for (let i = 0; i < 4; i++) {
    const socket = net.connect({ host: '127.0.0.1', port: sim.port });
    socket.on('error', () => {});
    await new Promise((r) => socket.on('connect', r));
    socket.write(`GET /api/events HTTP/1.1\r\nHost: 127.0.0.1:${sim.port}\r\n\r\n`);
    socket.pause();  // reads nothing from now on
    stalled.push(socket);
  }
  try {
    for (;;) {
      const status = await new Promise((resolve, reject) => {
        const req = http.get({ host: '127.0.0.1', port: sim.port, path: '/api/events' }, (res) => {
          req.destroy();
          resolve(res.statusCode);
        });
        req.on('error', reject);
      });
      if (status === 200) break;
      assert.equal(status, 503);
      await new Promise((r) => setTimeout(r, 200));
    }
  } finally {
    for (const socket of stalled) socket.destroy();
  }
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

// Connections that send nothing, or a header byte now and then; each is
// reopened when the server closes it.
function holdSlowClients(idle, dripping) {
  const sockets = new Set();
  let closedByServer = 0;
  let running = true;
  const open = (drip) => {
    const socket = net.connect({ host: '127.0.0.1', port: sim.port });
    sockets.add(socket);
    let timer = null;
    socket.on('connect', () => {
      if (!drip) return;
      socket.write(`GET /api/state HTTP/1.1\r\nHost: 127.0.0.1:${sim.port}\r\nX-Drip: `);
      timer = setInterval(() => socket.write('a'), 200);
    });
    socket.on('error', () => {});
    socket.on('close', () => {
      clearInterval(timer);
      sockets.delete(socket);
      if (!running) return;
      closedByServer++;
      open(drip);
    });
  };
  for (let i = 0; i < idle; i++) open(false);
  for (let i = 0; i < dripping; i++) open(true);
  return {
    closedByServer: () => closedByServer,
    release() {
      running = false;
      for (const socket of sockets) socket.destroy();
    },
  };
}

test('idle and dripping connections do not hold up the page, and are closed', async () => {
  const slow = holdSlowClients(50, 12);
  try {
    for (let i = 0; i < 5; i++) {
      const res = await request({ path: '/api/state' });
      assert.equal(res.status, 200);
      assert.ok(JSON.parse(res.body).device, 'the whole view');
    }
    // Every request has a deadline: the server closes each of them.
    while (slow.closedByServer() < 62) await new Promise((r) => setTimeout(r, 100));
  } finally {
    slow.release();
  }
});

test('the view is whole from the first request after start-up', async () => {
  const sims = await Promise.all([1, 2, 3].map(() => startSimulator({ speed: 1 })));
  try {
    for (const other of sims) {
      const res = await new Promise((resolve, reject) => {
        http.get({ host: '127.0.0.1', port: other.port, path: '/api/state' }, (r) => {
          let body = '';
          r.on('data', (d) => { body += d; });
          r.on('end', () => resolve(body));
        }).on('error', reject);
      });
      const view = JSON.parse(res);
      assert.ok(view.device && view.device.screen && Array.isArray(view.log), 'a whole view');
    }
  } finally {
    await Promise.all(sims.map(stopSimulator));
  }
});

test('a second server on the same port is refused, with exit status 1', async () => {
  const second = spawn(SIM, ['--port', String(sim.port)], { stdio: ['ignore', 'pipe', 'pipe'] });
  let err = '';
  second.stderr.on('data', (d) => { err += d; });
  // 'close', not 'exit': the process may exit before its stderr has been read.
  const code = await new Promise((resolve) => second.on('close', resolve));
  assert.equal(code, 1, err);
  assert.match(err, new RegExp(`127\\.0\\.0\\.1:${sim.port} is in use`));
  // The first one still serves.
  assert.equal((await request({ path: '/api/state' })).status, 200);
});

test('Ctrl+C stops the server within a second, with a stream open and clients dripping', async () => {
  const stream = await new Promise((resolve) => {
    const req = http.get({ host: '127.0.0.1', port: sim.port, path: '/api/events',
                           headers: { Host: `127.0.0.1:${sim.port}` } }, (res) => { res.resume(); resolve(req); });
  });
  const slow = holdSlowClients(20, 12);
  const stopped = await stopSimulator(sim);
  slow.release();
  stream.destroy();
  assert.ok(stopped.ms < 1000, `stopped in ${stopped.ms} ms`);
  assert.equal(stopped.code, 0);
});
