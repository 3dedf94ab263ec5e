// The Chrome trace event format's rules, as Perfetto's UI and
// chrome://tracing read it: the JSON object form with a traceEvents array;
// every event with a name, a phase, a pid and a timestamp in microseconds;
// complete events (X) with a duration, nested or apart on their thread;
// instant events (i) with a scope; counters (C) with numeric series; async
// spans (b/e) with a category and an id, each begun once and ended once;
// metadata (M) naming the process and every thread used.
//
// checkTraceFormat(doc, check) calls check(ok, what) for each rule and
// returns the thread names by tid.
export function checkTraceFormat(doc, check) {
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
  return named;
}
