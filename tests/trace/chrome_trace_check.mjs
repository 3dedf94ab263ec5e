// Runs a scenario with --trace-out and reads the file back against the
// Chrome trace event format's rules: the JSON object form with a
// traceEvents array; every event with a name, a phase, a pid and a
// timestamp in microseconds; complete events (X) with a duration, nested or
// apart on their thread; instant events (i) with a scope; counters (C) with
// numeric series; async spans (b/e) with a category and an id, each begun
// once and ended once; metadata (M) naming the process and every thread
// used. Then what this trace promises: the tracks, Sleeps as spans of the
// slept device time, and a clock counter that matches every "expect mhz" of
// the scenario at the device time it was checked.
//   node chrome_trace_check.mjs CORVANE_SIM SCENARIO
import { execFileSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';

const [sim, scenario] = process.argv.slice(2);
let failures = 0;
const check = (ok, what) => {
  if (!ok) {
    console.log(`FAIL ${what}`);
    failures++;
  }
  return ok;
};

const dir = mkdtempSync(join(tmpdir(), 'corvane-trace-'));
const file = join(dir, 'trace.json');
let stdout;
try {
  stdout = execFileSync(sim, ['--script', scenario, '--trace-out', file], { maxBuffer: 1 << 28 }).toString();
} catch (e) {
  console.log(`FAIL the scenario did not pass: exit ${e.status}`);
  process.exit(1);
}
const doc = JSON.parse(readFileSync(file, 'utf8'));
rmSync(dir, { recursive: true });

// --- The format's rules ------------------------------------------------------
check(typeof doc === 'object' && Array.isArray(doc.traceEvents), 'an object with a traceEvents array');
check(['ms', 'ns'].includes(doc.displayTimeUnit), 'displayTimeUnit is ms or ns');
const events = doc.traceEvents;
const phases = new Set(['X', 'i', 'C', 'M', 'b', 'e']);
const isInt = Number.isInteger;
for (const [n, e] of events.entries()) {
  const at = `event ${n} (${JSON.stringify(e).slice(0, 120)})`;
  check(phases.has(e.ph), `${at}: a phase this trace uses`);
  check(typeof e.name === 'string' && e.name.length > 0, `${at}: a name`);
  check(isInt(e.pid), `${at}: an integer pid`);
  if (e.ph === 'M') {
    check(['process_name', 'thread_name'].includes(e.name) && typeof e.args?.name === 'string',
          `${at}: names a process or thread in args.name`);
    continue;
  }
  // Device time is whole milliseconds: whole thousands of microseconds.
  check(isInt(e.ts) && e.ts >= 0 && e.ts % 1000 === 0, `${at}: ts in microseconds of device time`);
  if (e.ph !== 'C') check(isInt(e.tid), `${at}: an integer tid`);
  if (e.ph === 'X') check(isInt(e.dur) && e.dur >= 0, `${at}: a duration`);
  if (e.ph === 'i') check(['g', 'p', 't'].includes(e.s), `${at}: an instant's scope`);
  if (e.ph === 'C') {
    check(typeof e.args === 'object' && Object.values(e.args).length > 0 &&
          Object.values(e.args).every((v) => typeof v === 'number'), `${at}: numeric counter series`);
  }
  if (e.ph === 'b' || e.ph === 'e') {
    check(typeof e.cat === 'string' && e.id !== undefined, `${at}: an async span's cat and id`);
  }
}

// Metadata: one process name, each thread used named exactly once.
const named = new Map();
for (const e of events.filter((e) => e.ph === 'M' && e.name === 'thread_name')) {
  check(!named.has(e.tid), `thread ${e.tid} named once`);
  named.set(e.tid, e.args.name);
}
check(events.filter((e) => e.ph === 'M' && e.name === 'process_name').length === 1, 'the process is named once');
for (const tid of new Set(events.filter((e) => e.ph !== 'M' && e.ph !== 'C').map((e) => e.tid))) {
  check(named.has(tid), `thread ${tid} has a name`);
}

// Async spans: every b ended once by an e of the same cat, id and name, later.
const open = new Map();
for (const e of [...events].filter((e) => e.ph === 'b' || e.ph === 'e').sort((a, b) => a.ts - b.ts)) {
  const key = `${e.cat}/${e.id}/${e.name}`;
  if (e.ph === 'b') {
    check(!open.has(key), `async span ${key} begun while open`);
    open.set(key, e.ts);
  } else {
    check(open.has(key), `async span ${key} ended without a begin`);
    open.delete(key);
  }
}
check(open.size === 0, `every async span ends (open: ${[...open.keys()]})`);

// Complete events on one thread nest or are apart.
const byTid = new Map();
for (const e of events.filter((e) => e.ph === 'X')) {
  if (!byTid.has(e.tid)) byTid.set(e.tid, []);
  byTid.get(e.tid).push(e);
}
for (const [tid, slices] of byTid) {
  slices.sort((a, b) => a.ts - b.ts || b.dur - a.dur);
  const stack = [];
  for (const s of slices) {
    while (stack.length && stack.at(-1).ts + stack.at(-1).dur <= s.ts) stack.pop();
    const parent = stack.at(-1);
    check(!parent || s.ts + s.dur <= parent.ts + parent.dur,
          `thread ${named.get(tid)}: ${s.name}@${s.ts}+${s.dur} overlaps ${parent?.name}@${parent?.ts}+${parent?.dur}`);
    stack.push(s);
  }
}

// --- This trace's tracks -------------------------------------------------------
const names = [...named.values()];
for (const track of ['UI thread', 'clock hardware', 'shell', 'input']) {
  check(names.includes(track), `a "${track}" track`);
}
const programThreads = names.filter((n) => n.startsWith('thread '));
check(programThreads.length >= 1, 'a track for the monitor thread');
const trackOf = (name) => [...named].find(([, n]) => n === name)?.[0];
const clockTrack = events.filter((e) => e.tid === trackOf('clock hardware') && e.ph === 'i').map((e) => e.name);
for (const kind of ['cccr-store', 'cclkcfg-write', 'sleep-resume', 'foreign-cccr']) {
  check(clockTrack.includes(kind), `the clock hardware track shows ${kind}`);
}
check(events.some((e) => e.tid === trackOf('shell') && e.ph === 'i' && e.name === 'tray'), 'tray changes on the shell track');
check(events.some((e) => e.tid === trackOf('shell') && e.ph === 'b' && e.name === 'bubble'), 'bubbles on the shell track');
check(events.some((e) => e.ph === 'X' && e.cat === 'wait' && e.name === 'blocked' && e.dur > 0 &&
                         e.tid === trackOf('UI thread')), 'the UI thread blocked waiting for a message');

// Each Sleep call is followed by a span of the time slept, on its thread,
// unless the trace ends first.
const end = Math.max(...events.filter((e) => e.ph !== 'M').map((e) => e.ts + (e.dur ?? 0)));
const sleeps = events.filter((e) => e.ph === 'X' && e.name === 'Sleep');
check(sleeps.length > 0, 'the monitor sleeps');
for (const call of sleeps) {
  const ms = call.args.args[0];
  const span = events.find((e) => e.ph === 'X' && e.name === 'sleeping' && e.tid === call.tid && e.ts === call.ts);
  check(span ? span.dur === ms * 1000 : call.ts + ms * 1000 > end,
        `Sleep(${ms}) at ${call.ts} µs: a span of ${ms * 1000} µs (got ${span?.dur})`);
}

// --- The clock counter against the scenario's "expect mhz" lines ---------------
// Samples in the order the clock changed; several may share a millisecond
// (an input and the program's answer), so a check at time T may see any
// sample from the last one before T to the last one at T, but never one
// earlier than the sample a previous check saw.
const counter = events.filter((e) => e.ph === 'C' && e.name === 'core clock');
let seen = 0;
const matchAt = (t, want) => {
  for (let j = seen; j < counter.length && counter[j].ts <= t; j++) {
    const current = j + 1 === counter.length || counter[j + 1].ts >= t;
    if (current && counter[j].args.MHz === want) return j;
  }
  return -1;
};
let now = 0;
let checked = 0;
for (const line of stdout.split('\n').filter(Boolean).map((l) => JSON.parse(l))) {
  if (line.command !== undefined) {
    const wait = /^wait (\d+)(ms|s)\b/.exec(line.command);
    now = line.t + (wait ? Number(wait[1]) * (wait[2] === 's' ? 1000 : 1) : 0);
  } else if (line.expect !== undefined && line.expect.startsWith('expect mhz ')) {
    const want = Number(line.expect.slice('expect mhz '.length));
    const j = matchAt(now * 1000, want);
    if (check(j >= 0, `the counter shows ${want} MHz at ${now} ms (samples: ${
      counter.filter((c) => Math.abs(c.ts - now * 1000) <= 2000000).map((c) => `${c.ts}:${c.args.MHz}`)})`)) {
      seen = j;
    }
    checked++;
  }
}
check(checked > 0, 'the scenario checks the clock');
console.log(`${events.length} events; tracks: ${names.join(', ')}; ${checked} clock checks`);
process.exit(failures === 0 ? 0 : 1);
