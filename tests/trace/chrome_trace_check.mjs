// Runs a scenario with --trace-out and reads the file back against the
// Chrome trace event format's rules (trace_format.mjs). Then what this trace
// promises: the tracks, Sleeps as spans of the slept device time, and a
// clock counter that matches every "expect mhz" of the scenario at the
// device time it was checked.
//   node chrome_trace_check.mjs CORVANE_SIM SCENARIO
import { execFileSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { checkTraceFormat } from './trace_format.mjs';

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
const named = checkTraceFormat(doc, check);
const events = doc.traceEvents;

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
