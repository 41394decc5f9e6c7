// Start-up time and memory of the assistant beside the floor (a bare WebKitGTK window with the
// same web view settings) and surf, a minimal browser on the same WebKitGTK; the assistant also
// with its product info answered 300 ms late; and the longest stall of its loop while the page
// posts 100 events to a service that takes 200 ms over each.
//
// One loopback server serves the bench page to both programs and spawns them itself, so the
// spawn time and the arrival of the page's "ready" report are read from the same clock. Runs
// alternate between the programs (ABBA order, so neither always goes first after the other);
// every run gets a fresh, empty home folder, as a first start on a user's machine has.
//
// Usage: node startup_bench.mjs --tarvik PATH --origin http://127.0.0.1:PORT --floor PATH
//                               --stall PATH [--surf PATH] [--rounds N] [--settle MS]
//                               [--stall-runs N] [--json FILE]
import { spawn, execFileSync } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const pageHtml = fs.readFileSync(path.join(here, 'page', 'index.html'));

function parseArguments(argv) {
  const options = { surf: '/usr/bin/surf', rounds: 10, settle: 500, timeout: 30000, 'stall-runs': 3 };
  for (let i = 0; i < argv.length; i += 2) {
    const name = argv[i].replace(/^--/, '');
    const value = argv[i + 1];
    if (value === undefined) {
      throw new Error(`--${name} needs a value`);
    }
    options[name] = ['rounds', 'settle', 'timeout', 'stall-runs'].includes(name) ? Number(value) : value;
  }
  if (!options.tarvik || !options.origin || !options.floor || !options.stall) {
    throw new Error('usage: startup_bench.mjs --tarvik PATH --origin URL --floor PATH --stall PATH [--surf PATH] [--rounds N]');
  }
  return options;
}

// Wall-clock milliseconds with sub-millisecond steps, the clock the page reports in too.
const now = () => performance.timeOrigin + performance.now();
const sleep = (ms) => new Promise((done) => setTimeout(done, ms));

// What the server has seen of each run, by run id.
class RunLog {
  constructor() {
    this.runs = new Map();
  }
  open(id) {
    const entry = { requests: {}, ready: null, posted: null, waiters: [] };
    this.runs.set(id, entry);
    return entry;
  }
  note(id, what) {
    const entry = this.runs.get(id);
    if (entry && entry.requests[what] === undefined) {
      entry.requests[what] = now();
    }
  }
  ready(id, marks) {
    const entry = this.runs.get(id);
    if (!entry || entry.ready) {
      return;
    }
    entry.ready = { at: now(), marks };
    for (const wake of entry.waiters) {
      wake();
    }
  }
  waitReady(id, timeoutMs) {
    const entry = this.runs.get(id);
    if (entry.ready) {
      return Promise.resolve(true);
    }
    return new Promise((done) => {
      const timer = setTimeout(() => done(false), timeoutMs);
      entry.waiters.push(() => {
        clearTimeout(timer);
        done(true);
      });
    });
  }
}

function startPageServer(log) {
  const server = http.createServer((request, response) => {
    const url = new URL(request.url, 'http://127.0.0.1');
    const run = url.searchParams.get('run') || '';
    const origin = `http://127.0.0.1:${server.address().port}`;
    if (url.pathname === '/info') {
      log.note(run, 'info');
      const events = url.searchParams.get('events');
      const page = `${origin}/page.html?run=${encodeURIComponent(run)}` + (events ? `&events=${events}` : '');
      const body = JSON.stringify({ code: 200, data: { name: 'Bench Product', url1: page } });
      // A slow service: the answer comes this many milliseconds late.
      setTimeout(() => {
        response.writeHead(200, { 'Content-Type': 'application/json' });
        response.end(body);
      }, Number(url.searchParams.get('delay') || 0));
    } else if (url.pathname === '/page.html') {
      log.note(run, 'page');
      response.writeHead(200, { 'Content-Type': 'text/html; charset=utf-8', 'Cache-Control': 'no-store' });
      response.end(pageHtml);
    } else if (url.pathname === '/posted') {
      const entry = log.runs.get(run);
      if (entry && !entry.posted) {
        entry.posted = now();
      }
      response.writeHead(204);
      response.end();
    } else if (url.pathname === '/ready') {
      const marks = {};
      for (const [name, value] of url.searchParams) {
        if (name !== 'run') {
          marks[name] = Number(value);
        }
      }
      log.ready(run, marks);
      response.writeHead(204);
      response.end();
    } else {
      response.writeHead(404);
      response.end();
    }
  });
  return new Promise((done, fail) => {
    server.once('error', fail);
    server.listen(0, '127.0.0.1', () => done(server));
  });
}

// The assistant sends its event reports to the origin compiled into it. They are answered when
// the port is free, each 200 ms late like a slow service; when the port is taken (the tests use
// it) they go unanswered, and the loop stall figure is not measured.
const reportDelayMs = 200;
function startReportSink(origin) {
  const port = Number(new URL(origin).port || 80);
  const server = http.createServer((request, response) => {
    request.resume();
    request.on('end', () => {
      setTimeout(() => {
        response.writeHead(200, { 'Content-Type': 'application/json' });
        response.end('{"code":200}');
      }, reportDelayMs);
    });
  });
  return new Promise((done) => {
    server.once('error', () => done(null));
    server.listen(port, '127.0.0.1', () => done(server));
  });
}

// ---- processes --------------------------------------------------------------------------------

function parentsByPid() {
  const parents = new Map();
  for (const name of fs.readdirSync('/proc')) {
    if (!/^\d+$/.test(name)) {
      continue;
    }
    try {
      const stat = fs.readFileSync(`/proc/${name}/stat`, 'utf8');
      // The command name may hold spaces and parentheses; the fields after its last ')' do not.
      const fields = stat.slice(stat.lastIndexOf(')') + 2).split(' ');
      parents.set(Number(name), Number(fields[1]));
    } catch {
      // The process ended while the list was read.
    }
  }
  return parents;
}

function processTree(rootPid) {
  const children = new Map();
  for (const [pid, parent] of parentsByPid()) {
    if (!children.has(parent)) {
      children.set(parent, []);
    }
    children.get(parent).push(pid);
  }
  const tree = [];
  const pending = [rootPid];
  while (pending.length > 0) {
    const pid = pending.pop();
    tree.push(pid);
    pending.push(...(children.get(pid) || []));
  }
  return tree;
}

function alive(pid) {
  try {
    process.kill(pid, 0);
    return true;
  } catch {
    return false;
  }
}

// Sizes in KiB. Rss counts a shared library's pages once in every process that maps them. Pss
// divides each shared page between the processes mapping it, so it sums to a fair total, but it
// shrinks while other programs on the machine map the same libraries (other WebKit processes).
// Private_Dirty (heap, stacks, relocated library data) is the one figure that does not depend on
// what else runs: clean library pages count as private only while no other process maps them.
function memoryOf(pid) {
  try {
    const rollup = fs.readFileSync(`/proc/${pid}/smaps_rollup`, 'utf8');
    const field = (name) => Number((rollup.match(new RegExp(`^${name}:\\s+(\\d+) kB`, 'm')) || [])[1] || 0);
    const name = fs.readFileSync(`/proc/${pid}/comm`, 'utf8').trim();
    return { pid, name, rss: field('Rss'), pss: field('Pss'), dirty: field('Private_Dirty') };
  } catch {
    return null;
  }
}

// WebKit processes of other programs (tests running beside the bench) share library pages with
// the measured ones and so lower their Pss; the count is printed with the figures.
function otherWebKitProcesses(rootPid) {
  const ours = new Set(processTree(rootPid));
  let count = 0;
  for (const name of fs.readdirSync('/proc')) {
    if (!/^\d+$/.test(name) || ours.has(Number(name))) {
      continue;
    }
    try {
      if (fs.readFileSync(`/proc/${name}/comm`, 'utf8').startsWith('WebKit')) {
        count++;
      }
    } catch {
      // The process ended while the list was read.
    }
  }
  return count;
}

function memoryOfTree(rootPid) {
  const parts = processTree(rootPid).map(memoryOf).filter(Boolean);
  return {
    rss: parts.reduce((sum, part) => sum + part.rss, 0),
    pss: parts.reduce((sum, part) => sum + part.pss, 0),
    dirty: parts.reduce((sum, part) => sum + part.dirty, 0),
    parts,
    others: otherWebKitProcesses(rootPid),
  };
}

async function stopTree(child, tree) {
  const exited = new Promise((done) => {
    if (child.exitCode !== null || child.signalCode !== null) {
      done();
    } else {
      child.once('exit', done);
    }
  });
  if (alive(child.pid)) {
    process.kill(child.pid, 'SIGTERM');
  }
  await Promise.race([exited, sleep(3000)]);
  // WebKit's helpers end by themselves once their parent is gone; wait for them, then make sure.
  const deadline = now() + 3000;
  for (;;) {
    const left = tree.filter(alive);
    if (left.length === 0) {
      return;
    }
    if (now() > deadline) {
      for (const pid of left) {
        try {
          process.kill(pid, 'SIGKILL');
        } catch {
          // Already gone.
        }
      }
      await sleep(100);
      return;
    }
    await sleep(50);
  }
}

// ---- one run ----------------------------------------------------------------------------------

function freshHome(parent, name) {
  const home = fs.mkdtempSync(path.join(parent, `${name}-`));
  const env = {
    ...process.env,
    HOME: home,
    XDG_CONFIG_HOME: path.join(home, '.config'),
    XDG_CACHE_HOME: path.join(home, '.cache'),
    XDG_DATA_HOME: path.join(home, '.local', 'share'),
    XDG_STATE_HOME: path.join(home, '.local', 'state'),
  };
  return { home, env };
}

// The programs measured side by side: the assistant, the assistant with a slow info answer, the
// floor and surf.
const infoDelayMs = 300;
let programs = ['tarvik', 'tarvik-late-info', 'floor', 'surf'];

function prepare(program, runId, options, serverOrigin, scratch) {
  const { home, env } = freshHome(scratch, program);
  if (program.startsWith('tarvik')) {
    // The assistant reads config.ini beside its executable, so each run gets its own copy.
    const source = program === 'tarvik-loop-stall' ? options.stall : options.tarvik;
    const executable = path.join(home, 'tarvik');
    fs.copyFileSync(source, executable);
    fs.chmodSync(executable, 0o755);
    const extra = program === 'tarvik-late-info' ? `&delay=${infoDelayMs}`
      : program === 'tarvik-loop-stall' ? '&events=100' : '';
    fs.writeFileSync(
      path.join(home, 'config.ini'),
      `[root]\ndownloader_id=0\napi_url=${serverOrigin}/info?run=${runId}${extra}\n`,
    );
    return { home, command: executable, args: [], env };
  }
  const command = program === 'floor' ? options.floor : options.surf;
  return { home, command, args: [`${serverOrigin}/page.html?run=${runId}`], env };
}

async function runOnce(program, runId, options, serverOrigin, log, scratch) {
  const launch = prepare(program, runId, options, serverOrigin, scratch);
  const entry = log.open(runId);
  const spawnedAt = now();
  const child = spawn(launch.command, launch.args, {
    env: launch.env,
    cwd: launch.home,
    stdio: ['ignore', 'ignore', 'pipe'],
  });
  let stderr = '';
  const stalls = [];
  child.stderr.on('data', (chunk) => {
    stderr = (stderr + chunk).slice(-4000);
    for (const match of String(chunk).matchAll(/loop stall ([\d.]+) ending ([\d.]+)/g)) {
      stalls.push({ ms: Number(match[1]), endedAt: Number(match[2]) });
    }
  });
  const result = { program, runId };
  // A program that ends before its page reports fails the run at once.
  const ended = new Promise((done) => child.once('exit', () => done(false)));
  const ready = await Promise.race([log.waitReady(runId, options.timeout), ended]);
  if (ready) {
    result.startupMs = entry.ready.at - spawnedAt;
    const at = (time) => (time === undefined ? null : time - spawnedAt);
    result.firstRequestMs = at(entry.requests.info ?? entry.requests.page);
    result.pageRequestMs = at(entry.requests.page);
    result.marks = Object.fromEntries(
      Object.entries(entry.ready.marks).map(([name, value]) =>
        [name, name === 'sizedOk' ? value : value - spawnedAt]),
    );
    if (program === 'tarvik-loop-stall') {
      // The page posts its events once it is showing; the loop is watched from then on, while
      // the sender works through them.
      const deadline = now() + 10000;
      while (!entry.posted && now() < deadline) {
        await sleep(20);
      }
      await sleep(3000);
      const during = stalls.filter((stall) => entry.posted && stall.endedAt >= entry.posted);
      result.longestStallMs = during.reduce((longest, stall) => Math.max(longest, stall.ms), 0);
      result.posted = entry.posted !== null;
    }
    await sleep(options.settle);
    result.memory = memoryOfTree(child.pid);
    if (result.marks.sizedOk === 0) {
      // The window never came on screen at its size, so the page was never shown.
      result.error = 'the window never took the size the page asked for';
    }
  } else {
    const why = child.exitCode !== null || child.signalCode !== null
      ? `ended (${child.exitCode ?? child.signalCode}) before its page reported`
      : `no ready report within ${options.timeout} ms`;
    result.error = `${why}; stderr: ${stderr.trim()}`;
  }
  await stopTree(child, processTree(child.pid));
  fs.rmSync(launch.home, { recursive: true, force: true });
  return result;
}

// ---- figures ----------------------------------------------------------------------------------

function median(values) {
  const sorted = [...values].sort((a, b) => a - b);
  const middle = sorted.length >> 1;
  return sorted.length % 2 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2;
}

function summary(values) {
  return values.length === 0
    ? null
    : { median: median(values), min: Math.min(...values), max: Math.max(...values) };
}

function strippedSize(executable) {
  const stripped = path.join(os.tmpdir(), `tarvik-stripped-${process.pid}`);
  try {
    execFileSync('strip', ['-o', stripped, executable]);
    return fs.statSync(stripped).size;
  } finally {
    fs.rmSync(stripped, { force: true });
  }
}

function printTable(results, options, sink) {
  const pick = (program, get) =>
    results.filter((r) => r.program === program && !r.error).map(get).filter((v) => v != null);
  const rows = [
    ['start-up: spawn to page showing (ms)', (r) => r.startupMs, 1],
    ['  spawn to first request (ms)', (r) => r.firstRequestMs, 1],
    ['  spawn to page request (ms)', (r) => r.pageRequestMs, 1],
    ['  spawn to load event (ms)', (r) => r.marks.load, 1],
    ['  spawn to first paint (ms)', (r) => r.marks.painted, 1],
    ['memory: PSS, all processes (MiB)', (r) => r.memory.pss, 1024],
    ['memory: private dirty, all (MiB)', (r) => r.memory.dirty, 1024],
    ['memory: RSS, all processes (MiB)', (r) => r.memory.rss, 1024],
    ['processes', (r) => r.memory.parts.length, 1],
    ['other WebKit processes running', (r) => r.memory.others, 1],
  ];
  const cell = (s, scale) =>
    s ? `${(s.median / scale).toFixed(1)} [${(s.min / scale).toFixed(1)}–${(s.max / scale).toFixed(1)}]` : '–';
  const lines = [];
  const header = ['', ...['tarvik', 'tarvik-late-info', 'floor', 'surf'].map((p) => `${p} median [min–max]`), 'tarvik / floor', 'tarvik / surf'];
  lines.push(header);
  const figures = {};
  for (const [label, get, scale] of rows) {
    const stats = ['tarvik', 'tarvik-late-info', 'floor', 'surf'].map((p) => summary(pick(p, get)));
    figures[label.trim()] = Object.fromEntries(['tarvik', 'tarvik-late-info', 'floor', 'surf'].map((p, i) => [p, stats[i]]));
    const ratio = (a, b) => (a && b && b.median ? (a.median / b.median).toFixed(2) : '–');
    lines.push([label, ...stats.map((s) => cell(s, scale)), ratio(stats[0], stats[2]), ratio(stats[0], stats[3])]);
  }
  const widths = header.map((_, column) => Math.max(...lines.map((line) => line[column].length)));
  for (const line of lines) {
    console.log(line.map((text, column) => text.padEnd(widths[column])).join('  '));
  }

  // Each process of the tree, to show where the memory is.
  console.log('\nmedian private dirty / PSS by process (MiB):');
  for (const program of programs) {
    const byName = new Map();
    for (const r of results.filter((x) => x.program === program && !x.error)) {
      for (const part of r.memory.parts) {
        if (!byName.has(part.name)) {
          byName.set(part.name, []);
        }
        byName.get(part.name).push(part);
      }
    }
    const mib = (values, key) => (median(values.map((part) => part[key])) / 1024).toFixed(1);
    const parts = [...byName].map(([name, values]) => `${name} ${mib(values, 'dirty')} / ${mib(values, 'pss')}`);
    console.log(`  ${program}: ${parts.join(', ')}`);
  }

  const startup = (program) => summary(pick(program, (r) => r.startupMs));
  const [plain, late, floor] = ['tarvik', 'tarvik-late-info', 'floor'].map(startup);
  if (plain && late && floor) {
    console.log(`\nstart-up against the floor: ${(plain.median / floor.median).toFixed(2)} × (goal ≤ 1.05)`);
    console.log(`growth with the info answer ${infoDelayMs} ms late: ${(late.median - plain.median).toFixed(0)} ms ` +
                `(goal ≤ ${infoDelayMs} ms minus the web view's own start, about 190 ms)`);
  }
  const stallRuns = results.filter((r) => r.program === 'tarvik-loop-stall' && !r.error && r.posted);
  const stall = summary(stallRuns.map((r) => r.longestStallMs));
  figures.longestLoopStallMs = stall;
  console.log(stall && sink
    ? `longest loop stall while the page posts 100 events, each answered in ${reportDelayMs} ms: ` +
      `${stall.median.toFixed(1)} ms median [${stall.min.toFixed(1)}–${stall.max.toFixed(1)}] over ${stallRuns.length} runs (goal < 50 ms)`
    : 'longest loop stall: not measured (no stall runs, or the report port was taken)');

  const size = strippedSize(options.tarvik);
  console.log(`\nstripped size of tarvik: ${(size / 1024).toFixed(1)} KiB (${size} bytes; goal < 500 KiB)`);
  const failures = results.filter((r) => r.error);
  for (const failure of failures) {
    console.log(`run ${failure.runId} (${failure.program}) failed: ${failure.error}`);
  }
  if (!sink) {
    console.log(`(the assistant's event reports went unanswered: ${options.origin} was taken)`);
  }
  return { figures, strippedBytes: size, failures: failures.length };
}

// ---- main -------------------------------------------------------------------------------------

async function main() {
  const options = parseArguments(process.argv.slice(2));
  for (const file of [options.tarvik, options.floor, options.stall]) {
    fs.accessSync(file, fs.constants.X_OK);
  }
  try {
    fs.accessSync(options.surf, fs.constants.X_OK);
  } catch {
    // The table keeps surf's column, empty, so that the floor stays the one to compare with.
    console.log(`surf not found at ${options.surf}: measured without it`);
    programs = programs.filter((program) => program !== 'surf');
  }
  const log = new RunLog();
  const server = await startPageServer(log);
  const sink = await startReportSink(options.origin);
  const serverOrigin = `http://127.0.0.1:${server.address().port}`;
  const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'tarvik-startup-bench-'));
  console.log(`${options.rounds} rounds, page at ${serverOrigin}, settle ${options.settle} ms, ` +
              `display ${process.env.DISPLAY}`);

  // One warm-up run each, not counted: the first start after a build or an install reads the
  // libraries from disk, and whichever program went first would pay for both.
  for (const program of programs) {
    await runOnce(program, `warm-${program}`, options, serverOrigin, log, scratch);
  }

  const results = [];
  for (let round = 0; round < options.rounds; round++) {
    // Each program goes first in turn, and every other round the order is reversed.
    const rotated = programs.map((_, i) => programs[(i + round) % programs.length]);
    const order = round % 2 === 0 ? rotated : rotated.reverse();
    for (const program of order) {
      const result = await runOnce(program, `${round}-${program}`, options, serverOrigin, log, scratch);
      results.push(result);
      const line = result.error
        ? `failed: ${result.error}`
        : `${result.startupMs.toFixed(0)} ms, PSS ${(result.memory.pss / 1024).toFixed(1)} MiB, ` +
          `private dirty ${(result.memory.dirty / 1024).toFixed(1)} MiB, ` +
          `RSS ${(result.memory.rss / 1024).toFixed(1)} MiB`;
      console.log(`round ${round + 1} ${program.padEnd(6)} ${line}`);
    }
  }
  for (let run = 0; run < options['stall-runs']; run++) {
    const result = await runOnce('tarvik-loop-stall', `stall-${run}`, options, serverOrigin, log, scratch);
    results.push(result);
    console.log(`stall run ${run + 1}: ` + (result.error ? `failed: ${result.error}` : `longest stall ${result.longestStallMs.toFixed(1)} ms`));
  }
  console.log('');
  const report = printTable(results, options, sink);
  if (options.json) {
    fs.writeFileSync(options.json, JSON.stringify({ options, results, ...report }, null, 2));
  }
  server.close();
  if (sink) {
    sink.close();
  }
  fs.rmSync(scratch, { recursive: true, force: true });
  process.exitCode = report.failures > 0 ? 1 : 0;
}

main().catch((error) => {
  console.error(`startup bench: ${error.message}`);
  process.exitCode = 1;
});
