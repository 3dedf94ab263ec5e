// The simulated Pocket PC's page: draws the device's screen, its clock
// hardware and the program's side from the view the server pushes, and
// sends the user's input back.
'use strict';

const $ = (id) => document.getElementById(id);

// --- Input ------------------------------------------------------------------

async function send(body) {
  let message = '';
  try {
    const response = await fetch('/api/action', {
      method: 'POST',
      headers: {'Content-Type': 'application/json'},
      body: JSON.stringify(body),
    });
    if (!response.ok) {
      const error = await response.json().catch(() => ({error: response.statusText}));
      message = error.error;
    }
  } catch (e) {
    message = 'the simulator is not reachable';
  }
  $('action-error').textContent = message;
}

// Inputs reach the device one after another, in the order the user made
// them (a lift never overtakes its touch).
let inputQueue = Promise.resolve();
function act(body) {
  record(body);
  inputQueue = inputQueue.then(() => send(body));
  return inputQueue;
}

// --- The session as a scenario ----------------------------------------------
//
// Each input is kept with the device time it was made at: the latest view's
// time, moved on by the wall time since that view times the speed. Saved,
// the session is a scenario: the inputs with the device time between them
// as waits, then expect lines for the state the device is in.

// The program's words for its buttons, by control id, from /api/program.
const buttonWords = {};
const programNames = fetch('/api/program').then((r) => (r.ok ? r.json() : {buttons: []}))
  .then((names) => {
    for (const b of names.buttons) buttonWords[b.id] = b.word;
    if (names.processor) {
      $('processor').textContent = `${names.processor.label}, main ID ${names.processor.main_id}`;
      $('processor-name').textContent = names.processor.label;
    }
  }).catch(() => {});
let latestView = null;
let latestViewAt = 0;
const session = [];

function deviceNow() {
  if (!latestView) return 0;
  return latestView.device.t + Math.round((performance.now() - latestViewAt) * latestView.speed);
}

function scenarioWord(body) {
  switch (body.action) {
    case 'click': return buttonWords[body.id] ?? null;
    case 'foreign': return `foreign ${body.cccr}`;
    case 'map-fail': return `map-fail ${body.count}`;
    default: return body.action;
  }
}

// The input is kept as sent; its scenario word is found when the session
// is saved, by when the program's names have arrived.
function record(body) {
  session.push({t: deviceNow(), body});
}

function scenarioLine(body) {
  return scenarioWord(body) ?? `# ${JSON.stringify(body)} (no scenario word)`;
}

function waitLine(ms) {
  return ms > 0 ? [`wait ${ms}ms`] : [];
}

function sessionScenario(view) {
  const lines = ['# A session on the simulated Pocket PC, saved from the page.',
                 `# Run it with: corvane-sim --script FILE`];
  let t = 0;
  for (const input of session) {
    const at = Math.max(t, input.t);
    lines.push(...waitLine(at - t), scenarioLine(input.body));
    t = at;
  }
  const device = view.device;
  lines.push(...waitLine(Math.max(0, device.t - t)));
  lines.push('# The state reached:');
  const program = device.program;
  lines.push(program.state === 'running' ? 'expect program running'
             : `expect program ended ${program.exit_code ?? 0}`);
  const dialog = device.screen.dialog;
  lines.push(`expect dialog ${dialog && dialog.visible ? 'visible' : 'hidden'}`);
  const tray = device.screen.tray;
  lines.push(tray.length ? `expect tray ${tray[0].icon} "${tray[0].tip}"` : 'expect tray none');
  lines.push(`expect mhz ${device.hardware.mhz.toFixed(2)}`);
  lines.push(`expect cccr ${device.hardware.cccr}`);
  lines.push(`expect turbo ${device.hardware.turbo ? 'on' : 'off'}`);
  lines.push(`expect bubbles ${device.screen.bubbles.length}`);
  return lines.join('\n') + '\n';
}

async function saveSession() {
  if (!latestView) return;
  await programNames;
  const blob = new Blob([sessionScenario(latestView)], {type: 'text/plain'});
  const link = element('a');
  link.href = URL.createObjectURL(blob);
  link.download = 'session.scn';
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(link.href), 1000);
}

// The stylus on the tray icon: the device's shell gets the touch and the
// lift as they happen and decides itself whether a touch is the second of a
// double tap, so a tap shows its effect at once. The lift is sent wherever
// the pointer is released: the icon may be redrawn or gone by then.
function trayPointerDown(event) {
  if (event.button !== 0) return;
  event.preventDefault();
  act({action: 'touch'});
  const lift = () => {
    window.removeEventListener('pointerup', lift);
    window.removeEventListener('pointercancel', lift);
    act({action: 'lift'});
  };
  window.addEventListener('pointerup', lift);
  window.addEventListener('pointercancel', lift);
}

// --- Drawing helpers ----------------------------------------------------------

function element(tag, className, text) {
  const e = document.createElement(tag);
  if (className) e.className = className;
  if (text !== undefined) e.textContent = text;
  return e;
}

function iconImage(id, size) {
  const img = element('img');
  img.src = `/api/icon/${id}?size=${size}`;
  img.alt = `icon ${id}`;
  img.dataset.icon = id;
  img.width = size;
  img.height = size;
  return img;
}

// The bubble's HTML, keeping only harmless formatting.
const BUBBLE_TAGS = new Set(['B', 'I', 'U', 'CENTER', 'BR', 'P', 'FONT', 'SMALL', 'BIG', 'EM', 'STRONG', 'DIV', 'SPAN']);
function bubbleBody(html) {
  const source = new DOMParser().parseFromString(html, 'text/html');
  const copy = (from, into) => {
    for (const node of from.childNodes) {
      if (node.nodeType === Node.TEXT_NODE) {
        into.append(node.textContent);
      } else if (node.nodeType === Node.ELEMENT_NODE) {
        if (BUBBLE_TAGS.has(node.tagName)) {
          const kept = document.createElement(node.tagName.toLowerCase());
          copy(node, kept);
          into.append(kept);
        } else {
          copy(node, into);
        }
      }
    }
  };
  const body = element('div', 'body');
  copy(source.body, body);
  return body;
}

// --- The screen ---------------------------------------------------------------

let drawnScreen = '';  // what the screen was last built from

function drawControl(control) {
  const [left, top, width, height] = control.rect;
  let e;
  switch (control.kind) {
    case 'push-button':
      e = element('button', 'control push-button', control.text);
      e.type = 'button';
      e.addEventListener('click', () => act({action: 'click', id: control.id}));
      break;
    case 'auto-check-box':
    case 'check-box': {
      e = element('div', `control ${control.kind}`);
      e.setAttribute('role', 'checkbox');
      e.append(element('span', 'check'), element('span', 'label', control.text));
      e.addEventListener('click', () => act({action: 'click', id: control.id}));
      break;
    }
    case 'group-box':
      e = element('div', 'control group-box');
      e.append(element('span', '', control.text));
      e.style.pointerEvents = 'none';
      break;
    case 'icon':
      e = element('div', 'control icon');
      e.append(iconImage(control.icon, 32));
      break;
    default:
      e = element('div', `control text ${control.align || 'l'}`, control.text);
  }
  e.dataset.id = control.id;
  e.style.left = `${left}px`;
  e.style.top = `${top}px`;
  e.style.width = `${width}px`;
  e.style.height = `${height}px`;
  if (!control.visible) e.hidden = true;
  return e;
}

function drawToday(screen, program) {
  const today = element('div');
  today.id = 'today';
  today.append(element('div', 'date', new Date().toDateString()), element('div', 'owner', 'Owner: Pocket PC user'));
  if (program.state !== 'running') {
    today.append(element('div', 'ended', `Corvane has ended (exit code ${program.exit_code ?? '?'})`));
  }
  const taskbar = element('div');
  taskbar.id = 'taskbar';
  for (const icon of screen.tray) {
    const img = iconImage(icon.icon, 16);
    img.title = icon.tip;
    img.dataset.tip = icon.tip;
    img.id = `tray-${icon.id}`;
    img.classList.add('tray-icon');
    if (!icon.owner_alive) img.classList.add('dead');
    img.addEventListener('pointerdown', trayPointerDown);
    taskbar.append(img);
  }
  today.append(taskbar);
  return today;
}

function drawScreen(device) {
  const screen = device.screen;
  // A message box covers the dialog while it is up.
  const dialog = screen.message_box ?? (screen.dialog && screen.dialog.visible ? screen.dialog : null);
  $('nav-caption').textContent = screen.nav_bar.caption;
  $('nav-ok').hidden = !screen.nav_bar.ok_button;

  // Rebuilt only when what is drawn changes, so that a click is never cut
  // short by a redraw.
  const key = JSON.stringify(dialog
      ? {dialog: dialog.hwnd, controls: dialog.controls.map((c) => [c.id, c.kind, c.text, c.rect, c.visible])}
      : {tray: screen.tray, program: device.program.state});
  if (key !== drawnScreen) {
    drawnScreen = key;
    const client = $('client');
    client.replaceChildren();
    if (dialog) {
      client.dataset.view = 'dialog';
      for (const control of dialog.controls) client.append(drawControl(control));
    } else {
      client.dataset.view = 'today';
      client.append(drawToday(screen, device.program));
    }
  }
  if (dialog) {
    for (const control of dialog.controls) {
      if (!('checked' in control)) continue;
      const e = $('client').querySelector(`[data-id="${control.id}"]`);
      e.setAttribute('aria-checked', String(control.checked));
      e.querySelector('.check').textContent = control.checked ? '\u2713' : '';
    }
  }

  // Bubbles: open ones over the screen, collapsed ones as an icon in the bar.
  const layer = $('bubble-layer');
  const collapsed = $('nav-bubbles');
  layer.replaceChildren();
  collapsed.replaceChildren();
  for (const b of screen.bubbles) {
    if (b.open) {
      const bubble = element('div', 'bubble');
      bubble.dataset.text = b.text;
      const title = element('div', 'title');
      title.append(iconImage(1, 16), element('span', '', b.title));
      bubble.append(title, bubbleBody(b.html));
      layer.append(bubble);
    } else {
      const img = iconImage(1, 16);
      img.title = b.text;
      collapsed.append(img);
    }
  }
}

// --- Hardware -------------------------------------------------------------------

function drawPlot(points, now) {
  const svg = $('plot');
  const W = 400, H = 160, left = 30, bottom = 14, top = 6;
  const span = 120000;  // the last two minutes of device time
  const from = Math.max(0, now - span);
  const x = (t) => left + ((t - from) / span) * (W - left - 4);
  const y = (mhz) => H - bottom - (mhz / 520) * (H - bottom - top);
  // The clock as a step line: each change holds until the next.
  const visible = [];
  let last = null;
  for (const p of points) {
    if (p.t < from) {
      last = p;
    } else {
      visible.push(p);
    }
  }
  if (last) visible.unshift({t: from, mhz: last.mhz});
  let path = '';
  let series = [];
  visible.forEach((p, i) => {
    path += `${i ? 'L' : 'M'}${x(p.t).toFixed(1)},${(i ? y(visible[i - 1].mhz) : y(p.mhz)).toFixed(1)} `;
    path += `L${x(p.t).toFixed(1)},${y(p.mhz).toFixed(1)} `;
    if (series[series.length - 1] !== p.mhz) series.push(p.mhz);
  });
  if (visible.length) path += `L${x(now).toFixed(1)},${y(visible[visible.length - 1].mhz).toFixed(1)}`;
  let grid = '';
  for (const mhz of [100, 200, 300, 400, 500]) {
    grid += `<line class="axis" x1="${left}" x2="${W}" y1="${y(mhz)}" y2="${y(mhz)}"/>` +
            `<text x="2" y="${y(mhz) + 3}">${mhz}</text>`;
  }
  grid += `<text x="${left}" y="${H - 2}">${(from / 1000).toFixed(0)} s</text>` +
          `<text x="${W - 40}" y="${H - 2}">${(now / 1000).toFixed(0)} s</text>`;
  svg.innerHTML = `${grid}<path class="line" d="${path}"/>`;
  // The clock values the plot shows, oldest first, for anyone reading it.
  svg.dataset.series = series.join(',');
}

function drawHardware(view) {
  const hw = view.device.hardware;
  $('cccr').textContent = hw.cccr;
  $('cccr-fields').textContent = `L ${hw.l}, M ${hw.m}, N ${hw.n}`;
  $('cclkcfg').textContent = hw.cclkcfg;
  $('cclkcfg-bits').textContent = `TURBO ${hw.turbo ? 'on' : 'off'}, FCS ${hw.fcs ? 'set' : 'clear'}`;
  $('mhz').textContent = hw.mhz.toFixed(2);
  $('device-time').textContent = `${(view.device.t / 1000).toFixed(1)} s (${view.speed}x)`;
  // As Linux's cpufreq statistics: time in each state, and transitions.
  $('time-in-state').textContent = (hw.time_in_state ?? [])
      .map((s) => `${(s.khz / 1000).toFixed(2)} MHz ${(s.ms / 1000).toFixed(1)} s`).join(', ');
  $('total-trans').textContent = String(hw.total_trans ?? 0);
  // What the program did to hardware of another processor (none on the
  // PXA25x family).
  $('hardware-faults').textContent = (hw.faults ?? []).join('; ') || 'none';
  drawPlot(view.clock, view.device.t);
}

// --- The program's side -----------------------------------------------------------

function describeEvent(e) {
  const at = `${(e.t / 1000).toFixed(3)}s`;
  const who = e.thread ? ` ${e.thread}` : '';
  if (e.call) {
    const args = (e.args || []).map((a) => (typeof a === 'object' ? JSON.stringify(a) : String(a))).join(', ');
    const ret = e.ret === null || e.ret === undefined ? '' : ` \u2192 ${JSON.stringify(e.ret)}`;
    return `${at}${who} ${e.call}(${args})${ret}${e.note ? `  (${e.note})` : ''}`;
  }
  if (e.input) return `${at} input: ${e.input}${e.control ? ` ${e.control}` : ''}${e.ignored ? ` (ignored: ${e.ignored})` : ''}`;
  if (e.hw) return `${at}${who} hardware: ${e.hw} CCCR ${e.cccr} CCLKCFG ${e.cclkcfg} ${e.mhz} MHz${e.note ? ` (${e.note})` : ''}`;
  if (e.screen) return `${at}${who} screen: ${e.screen}${e.caption ? ` "${e.caption}"` : ''}`;
  if (e.process) return `${at} process ${e.process}${e.exit_code !== undefined ? ` (exit code ${e.exit_code})` : ''}`;
  if (e.dispatch) return `${at}${who} message ${e.dispatch.message} wParam ${e.dispatch.wParam} lParam ${e.dispatch.lParam}`;
  return `${at}${who} ${JSON.stringify(e)}`;
}

let drawnLog = -1;
function drawProgram(view) {
  const program = view.device.program;
  $('program-state').textContent = program.state === 'ended'
      ? `ended (exit code ${program.exit_code})` : program.state;
  $('program-state').dataset.state = program.state;
  $('threads').textContent = program.threads.map((t) => `${t.name} (${t.state})`).join(', ') || 'none';
  $('bubble-count').textContent = view.device.screen.bubbles.length;
  const record = program.state_record || {};
  $('pending').textContent = record.pendingNotifications ?? '?';
  if (view.log_seq !== drawnLog) {
    drawnLog = view.log_seq;
    const log = $('log');
    log.replaceChildren(...view.log.slice(-150).reverse().map((e) => element('li', '', describeEvent(e))));
  }
}

function render(view) {
  if (!view || !view.device) return;
  latestView = view;
  latestViewAt = performance.now();
  drawScreen(view.device);
  drawHardware(view);
  drawProgram(view);
  document.body.dataset.version = String(view.device.t);
}

// --- Start ----------------------------------------------------------------------

// The view arrives as server-sent events, each the whole latest state. When
// the stream cannot open (the server allows four at once and answers 503
// beyond) or drops, the page opens a new one after a back-off that grows
// from half a second to five, and catches up from its first event (and from
// /api/state meanwhile).
let events = null;
let retryDelay = 500;
let retryTimer = null;

function catchUp() {
  fetch('/api/state').then((r) => (r.ok ? r.json() : null)).then(render).catch(() => {});
}

function connect() {
  clearTimeout(retryTimer);
  retryTimer = null;
  catchUp();
  events = new EventSource('/api/events');
  events.addEventListener('view', (e) => render(JSON.parse(e.data)));
  events.onopen = () => {
    retryDelay = 500;
    $('connection').textContent = 'live';
    $('connection').dataset.state = 'live';
  };
  events.onerror = () => {
    // EventSource retries a dropped stream by itself but gives up after a
    // refusal; closing it and opening a new one handles both alike.
    events.close();
    $('connection').textContent = 'reconnecting…';
    $('connection').dataset.state = 'reconnecting';
    if (retryTimer === null) {
      retryTimer = setTimeout(connect, retryDelay);
      retryDelay = Math.min(retryDelay * 2, 5000);
    }
  };
}

document.addEventListener('DOMContentLoaded', () => {
  $('nav-ok').addEventListener('click', () => act({action: 'ok'}));
  $('resume').addEventListener('click', () => act({action: 'resume'}));
  $('turbo-off').addEventListener('click', () => act({action: 'turbo-off'}));
  $('save-session').addEventListener('click', saveSession);
  $('foreign-choice').addEventListener('change', () => {
    $('foreign-word').hidden = $('foreign-choice').value !== 'other';
  });
  $('foreign-form').addEventListener('submit', (e) => {
    e.preventDefault();
    const choice = $('foreign-choice').value;
    act({action: 'foreign', cccr: choice === 'other' ? $('foreign-word').value.trim() : choice});
  });
  $('map-fail-form').addEventListener('submit', (e) => {
    e.preventDefault();
    act({action: 'map-fail', count: Number($('map-fail-count').value)});
  });
  connect();
});
