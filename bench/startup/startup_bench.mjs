// Start-up time and memory of the assistant beside the floor (a bare WebKitGTK window with the
// same web view settings) and surf, a minimal browser on the same WebKitGTK; the assistant also
// with its product info answered 300 ms late; both again on a real link (the service over HTTPS
// from Debian's nginx, a 50 ms round trip away); and the lateness of the assistant's loop while
// idle, while the page posts 100 events to a service that takes 200 ms over each, and while it
// downloads 1 GiB at full speed with progress notices.
//
// One loopback server serves the bench page to every program and spawns them itself, so the
// spawn time and the page's marks are read from the same clock. Runs alternate between the
// programs (ABBA order, so neither always goes first after the other); every run gets a fresh,
// empty home folder, as a first start on a user's machine has. The assistant runs with its step
// log on, whose times say where its start-up went.
//
// Usage: node startup_bench.mjs --tarvik PATH --origin http://127.0.0.1:PORT --floor PATH
//                               --stall PATH [--surf PATH] [--rounds N] [--settle MS]
//                               [--stall-runs N] [--release PATH] [--folder DIR] [--json FILE]
//                               [--programs NAME,NAME...]
//   --programs the start-up rows to run (tarvik, tarvik-late-info, floor, surf, tarvik-link,
//              floor-link), for a quicker look at some of them; all by default
//   --release  the release build's executable, whose stripped size is the one a vendor ships
//   --folder   where a download run's Downloads folder goes: on disk, as it gets 1 GiB
// The runs' home folders are in the system's temporary folder: WebKit's sandbox cannot map a home
// under /var/tmp, and its bus proxy's socket under ~/.cache needs a short path.
// The real link needs the bench's HTTPS host (run under bench/common/bench-host.sh); without it
// those runs are left out.
import { spawn, execFileSync } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

import { startDelayProxy } from '../common/delay_proxy.mjs';
import { freePort, startNginx } from '../common/nginx.mjs';

const here = path.dirname(fileURLToPath(import.meta.url));
const pageHtml = fs.readFileSync(path.join(here, 'page', 'index.html'));

function parseArguments(argv) {
  const options = {
    surf: '/usr/bin/surf', rounds: 10, settle: 500, timeout: 30000, 'stall-runs': 3, folder: os.tmpdir(),
  };
  for (let i = 0; i < argv.length; i += 2) {
    const name = argv[i].replace(/^--/, '');
    const value = argv[i + 1];
    if (value === undefined) {
      throw new Error(`--${name} needs a value`);
    }
    options[name] = ['rounds', 'settle', 'timeout', 'stall-runs'].includes(name) ? Number(value) : value;
  }
  if (options.programs) {
    const asked = options.programs.split(',').filter(Boolean);
    const unknown = asked.filter((name) => !programs.includes(name));
    if (unknown.length > 0) {
      throw new Error(`unknown programs: ${unknown.join(', ')} (known: ${programs.join(', ')})`);
    }
    programs = programs.filter((name) => asked.includes(name));
  }
  if (!options.tarvik || !options.origin || !options.floor || !options.stall) {
    throw new Error('usage: startup_bench.mjs --tarvik PATH --origin URL --floor PATH --stall PATH [--surf PATH] [--rounds N]');
  }
  return options;
}

// Wall-clock milliseconds with sub-millisecond steps, the clock the page reports in too.
const now = () => performance.timeOrigin + performance.now();
// The monotonic clock in milliseconds, the one the assistant's step log names at its start.
const monotonic = () => Number(process.hrtime.bigint()) / 1e6;
const sleep = (ms) => new Promise((done) => setTimeout(done, ms));

// What the server has seen of each run, by run id.
class RunLog {
  constructor() {
    this.runs = new Map();
  }
  open(id) {
    const entry = { requests: {}, ready: null, phases: {}, waiters: [], phaseWaiters: [] };
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
  phase(id, name) {
    const entry = this.runs.get(id);
    if (!entry || entry.phases[name] !== undefined) {
      return;
    }
    entry.phases[name] = now();
    for (const wake of entry.phaseWaiters) {
      wake();
    }
  }
  // Resolves to the first of `names` the page reported, or null after `timeoutMs`.
  waitPhase(id, names, timeoutMs) {
    const entry = this.runs.get(id);
    return new Promise((done) => {
      const seen = () => names.find((name) => entry.phases[name] !== undefined) ?? null;
      if (seen()) {
        done(seen());
        return;
      }
      const timer = setTimeout(() => done(null), timeoutMs);
      entry.phaseWaiters.push(() => {
        if (seen()) {
          clearTimeout(timer);
          done(seen());
        }
      });
    });
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

// The page's address for a run: on this server, or on the real link's origin when the info
// request came over it. What the page is to do after showing (see page/index.html) follows.
function pageUrl(origin, run, extra = {}) {
  return `${origin}/page.html?` + new URLSearchParams({ run, ...extra }).toString();
}

function startPageServer(log, linkOrigin) {
  const server = http.createServer((request, response) => {
    const url = new URL(request.url, 'http://127.0.0.1');
    const run = url.searchParams.get('run') || '';
    const origin = url.searchParams.get('link') ? linkOrigin() : `http://127.0.0.1:${server.address().port}`;
    if (url.pathname === '/info') {
      log.note(run, 'info');
      const extra = {};
      for (const name of ['events', 'download', 'idle']) {
        if (url.searchParams.get(name)) {
          extra[name] = url.searchParams.get(name);
        }
      }
      const page = pageUrl(origin, run, extra);
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
    } else if (url.pathname === '/phase') {
      log.phase(run, url.searchParams.get('name') || '');
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
// floor, surf, and the assistant and the floor on the real link. The loop runs come after them.
const infoDelayMs = 300;
const linkRoundTripMs = 50;
let programs = ['tarvik', 'tarvik-late-info', 'floor', 'surf', 'tarvik-link', 'floor-link'];
// How long the page stays idle after showing before the loop's load starts: its own pace then is
// the anchor the load is compared with.
const idleMs = 2000;
// The loop runs: the page posts 100 events (watched for 3 s after posting: the burst of messages
// is where the loop could fall behind; the reports then go out one by one, 200 ms each), or
// downloads 1 GiB from nginx at full speed.
const loopRuns = {
  'loop-events': { events: 100 },
  'loop-download': { download: true },
};
const eventsWatchMs = 3000;
// Folders of a run outside its home, removed with it.
const extraFolders = new Map();
const downloadBytes = 1024 * 1024 * 1024;

function prepare(program, runId, options, world, scratch) {
  const { home, env } = freshHome(scratch, program);
  const link = program.endsWith('-link');
  if (loopRuns[program]?.download) {
    // The desktop's own setting for the Downloads folder, which the assistant follows.
    const downloads = fs.mkdtempSync(path.join(options.folder, 'downloads-'));
    fs.mkdirSync(env.XDG_CONFIG_HOME, { recursive: true });
    fs.writeFileSync(path.join(env.XDG_CONFIG_HOME, 'user-dirs.dirs'), `XDG_DOWNLOAD_DIR="${downloads}"\n`);
    extraFolders.set(runId, downloads);
  }
  if (program.startsWith('tarvik') || program.startsWith('loop-')) {
    // The assistant reads config.ini beside its executable, so each run gets its own copy.
    const source = program.startsWith('loop-') ? options.stall : options.tarvik;
    const executable = path.join(home, 'tarvik');
    fs.copyFileSync(source, executable);
    fs.chmodSync(executable, 0o755);
    const query = new URLSearchParams({ run: runId });
    if (program === 'tarvik-late-info') {
      query.set('delay', String(infoDelayMs));
    }
    if (link) {
      query.set('link', '1');
    }
    const load = loopRuns[program];
    if (load) {
      query.set('idle', String(idleMs));
      if (load.events) {
        query.set('events', String(load.events));
      }
      if (load.download) {
        query.set('download', world.bigFileUrl);
      }
    }
    const service = link ? world.linkOrigin : world.serverOrigin;
    fs.writeFileSync(
      path.join(home, 'config.ini'),
      `[root]\ndownloader_id=0\napi_url=${service}/info?${query}\n`,
    );
    // The step log says where the start-up went; the loop runs measure the program as shipped.
    return { home, command: executable, args: [], env: load ? env : { ...env, TARVIK_LOG: '1' } };
  }
  const command = program.startsWith('floor') ? options.floor : options.surf;
  const page = pageUrl(link ? world.linkOrigin : world.serverOrigin, runId);
  return { home, command, args: [page], env };
}

// The assistant's step log (and the floor's lines in its form): "tarvik: [<ms> ms] <step>", the
// first line naming the monotonic clock's reading at the log's zero. Returns each step's first time, in ms since the spawn.
function stepTimes(stderr, spawnedMonotonic) {
  const lines = [...stderr.matchAll(/^tarvik: \[ *([\d.]+) ms\] (.*)$/gm)];
  const start = lines.map((m) => /^log: started at ([\d.]+) ms/.exec(m[2])).find(Boolean);
  if (!start) {
    return null;
  }
  const zero = Number(start[1]) - spawnedMonotonic;
  const times = { 'log zero': zero };
  for (const [label, pattern] of logSteps) {
    const line = lines.find((m) => pattern.test(m[2]));
    if (line) {
      times[label] = zero + Number(line[1]);
    }
  }
  return times;
}

// The steps of the assistant's start-up that its log shows, in their usual order.
const logSteps = [
  ['display opened', /^start: display opened/],
  ['sandbox asked', /^web view: sandbox/],
  ['web view made', /^web view: made/],
  ['config read', /^config: /],
  ['info request made', /^service: info request/],
  ['info answer read', /^service: info answer/],
  ['navigation started', /^page: navigating/],
  ['page committed', /^page: committed/],
  ['page load finished', /^page: load finished/],
  ['resize_window handled', /^page command: resize_window/],
];

// Each tick of the loop-stall build: "tick <ms late> at <unix ms> ran <ms> waited <ms>": since
// the previous tick, the thread ran that long on a processor and waited that long for one.
function parseTicks(chunk, ticks) {
  for (const match of String(chunk).matchAll(/^tick ([\d.]+) at ([\d.]+) ran ([\d.]+) waited ([\d.]+)$/gm)) {
    ticks.push({ late: Number(match[1]), at: Number(match[2]), ran: Number(match[3]), waited: Number(match[4]) });
  }
}

async function runOnce(program, runId, options, world, log, scratch) {
  const launch = prepare(program, runId, options, world, scratch);
  const entry = log.open(runId);
  const spawnedAt = now();
  const spawnedMonotonic = monotonic();
  const child = spawn(launch.command, launch.args, {
    env: launch.env,
    cwd: launch.home,
    stdio: ['ignore', 'ignore', 'pipe'],
  });
  let stderr = '';
  let pending = '';
  const ticks = [];
  child.stderr.on('data', (chunk) => {
    // Whole lines only: a chunk may end inside one.
    const text = pending + chunk;
    const end = text.lastIndexOf('\n') + 1;
    pending = text.slice(end);
    const lines = text.slice(0, end);
    parseTicks(lines, ticks);
    stderr = (stderr + lines.replace(/^tick .*\n/gm, '')).slice(-20000);
  });
  const result = { program, runId };
  // A program that ends before its page reports fails the run at once.
  const ended = new Promise((done) => child.once('exit', () => done(false)));
  const ready = await Promise.race([log.waitReady(runId, options.timeout), ended]);
  if (ready) {
    const at = (time) => (time === undefined ? null : time - spawnedAt);
    result.marks = Object.fromEntries(
      Object.entries(entry.ready.marks).map(([name, value]) =>
        [name, name === 'sizedOk' ? value : value - spawnedAt]),
    );
    // The page's own clock says when it was showing; the report's trip back to this server is
    // no part of the start-up (on the real link it takes a round trip more).
    result.startupMs = result.marks.ready;
    result.firstRequestMs = at(entry.requests.info ?? entry.requests.page);
    result.infoRequestMs = at(entry.requests.info);
    result.pageRequestMs = at(entry.requests.page);
    const load = loopRuns[program];
    if (load) {
      const phase = await log.waitPhase(runId, ['start'], idleMs + 10000);
      let end = null;
      if (phase && load.events) {
        await log.waitPhase(runId, ['posted'], 10000);
        await sleep(eventsWatchMs);
        end = entry.phases.start + eventsWatchMs;
      } else if (phase) {
        const outcome = await log.waitPhase(runId, ['finished', 'failed-network', 'failed-http', 'failed-file'], 120000);
        if (outcome === 'finished') {
          end = entry.phases.finished;
          result.downloadSeconds = (end - entry.phases.start) / 1000;
        } else {
          result.error = `the download did not finish (${outcome ?? 'no answer'})`;
        }
      }
      if (end === null && !result.error) {
        result.error = 'the page never started its load';
      }
      // Idle: from shortly after the page showed (the last paint settles) to the load's start.
      const showed = spawnedAt + result.marks.ready;
      const idle = ticks.filter((t) => t.at > showed + 300 && t.at < entry.phases.start);
      const busy = ticks.filter((t) => t.at >= entry.phases.start && t.at <= end);
      result.idleTicks = idle.map((t) => t.late);
      result.busyTicks = busy.map((t) => t.late);
      // The loop's own part of each late tick: what is left once the time the thread spent
      // waiting for a processor is taken off.
      result.busyOwnTicks = busy.map((t) => Math.max(0, t.late - t.waited));
      // Where the lateness of each tick later than one frame went.
      result.overFrame = busy.filter((t) => t.late > 16).map((t) => {
        const waited = Math.min(t.waited, t.late);
        const ran = Math.min(t.ran, t.late - waited);
        return { late: t.late, waited, ran, slept: t.late - waited - ran };
      });
      // The late ones, with when they came, for the JSON output.
      result.lateTicks = busy.filter((t) => t.late > 8).map((t) => ({ ...t, at: t.at - entry.phases.start }));
    }
    if (program.startsWith('tarvik') || program.startsWith('floor')) {
      result.steps = stepTimes(stderr, spawnedMonotonic);
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
    result.error = `${why}; stderr: ${stderr.trim().slice(-4000)}`;
  }
  await stopTree(child, processTree(child.pid));
  fs.rmSync(launch.home, { recursive: true, force: true });
  if (extraFolders.has(runId)) {
    fs.rmSync(extraFolders.get(runId), { recursive: true, force: true });
  }
  return result;
}

// ---- figures ----------------------------------------------------------------------------------

function median(values) {
  const sorted = [...values].sort((a, b) => a - b);
  const middle = sorted.length >> 1;
  return sorted.length % 2 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2;
}

function percentile(values, fraction) {
  const sorted = [...values].sort((a, b) => a - b);
  return sorted[Math.min(sorted.length - 1, Math.floor(fraction * sorted.length))];
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

function printColumns(lines) {
  const widths = lines[0].map((_, column) => Math.max(...lines.map((line) => String(line[column]).length)));
  for (const line of lines) {
    console.log(line.map((text, column) => String(text).padEnd(widths[column])).join('  ').trimEnd());
  }
}

function printTable(results, options, sink) {
  const ok = (program) => results.filter((r) => r.program === program && !r.error);
  const pick = (program, get) => ok(program).map(get).filter((v) => v != null);
  const stats = (program, get) => summary(pick(program, get));
  const shown = programs.filter((program) => results.some((r) => r.program === program));
  const cell = (s, scale = 1) =>
    s ? `${(s.median / scale).toFixed(1)} [${(s.min / scale).toFixed(1)}–${(s.max / scale).toFixed(1)}]` : '–';
  const figures = {};

  // 1. Start-up and memory, each program's median [min–max].
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
  const table = [['', ...shown]];
  for (const [label, get, scale] of rows) {
    figures[label.trim()] = Object.fromEntries(shown.map((p) => [p, stats(p, get)]));
    table.push([label, ...shown.map((p) => cell(stats(p, get), scale))]);
  }
  printColumns(table);

  // 2. Where the time goes: each step's median time since the spawn, from the assistant's log,
  // the server's clock (requests) and the page's (load, paint, showing).
  console.log('\nwhere the time goes, median ms since the spawn (log: the step log, which the floor writes too; ' +
              'server: the request arrived; page: the page\'s own clock):');
  const timeline = [
    ['log starts (program loaded)', 'log', (r) => r.steps?.['log zero']],
    ...logSteps.slice(0, 5).map(([label]) => [label, 'log', (r) => r.steps?.[label]]),
    ['info request arrives', 'server', (r) => r.infoRequestMs],
    ...logSteps.slice(5, 7).map(([label]) => [label, 'log', (r) => r.steps?.[label]]),
    ['page request arrives', 'server', (r) => r.pageRequestMs],
    ...logSteps.slice(7, 8).map(([label]) => [label, 'log', (r) => r.steps?.[label]]),
    ['load event', 'page', (r) => r.marks.load],
    ['first paint', 'page', (r) => r.marks.painted],
    ['resize_window handled', 'log', (r) => r.steps?.['resize_window handled']],
    ['page showing (sized, painted)', 'page', (r) => r.marks.ready],
  ];
  const steps = [['step', 'clock', ...shown]];
  for (const [label, clock, get] of timeline) {
    const values = shown.map((p) => stats(p, get));
    if (values.some(Boolean)) {
      steps.push([label, clock, ...values.map((s) => (s ? s.median.toFixed(0) : ''))]);
    }
  }
  printColumns(steps);

  // 3. The loop's lateness: how late its 10 ms ticks came, over all runs of each kind.
  const loop = {};
  console.log('\nthe loop\'s lateness, ms a 10 ms tick came late (p50 / p99 / max over all ticks of all runs):');
  for (const program of Object.keys(loopRuns)) {
    const runs = ok(program);
    for (const [label, get] of [['idle (anchor)', (r) => r.idleTicks], ['loaded', (r) => r.busyTicks],
      ['loaded, less the wait for a processor', (r) => r.busyOwnTicks]]) {
      const ticks = runs.flatMap(get);
      if (ticks.length === 0) {
        continue;
      }
      const figure = { p50: percentile(ticks, 0.5), p99: percentile(ticks, 0.99), max: Math.max(...ticks), ticks: ticks.length };
      loop[`${program} ${label}`] = figure;
      const load = program === 'loop-events'
        ? `posting 100 events to a ${reportDelayMs} ms service (${eventsWatchMs / 1000} s)`
        : 'downloading 1 GiB at full speed with progress notices';
      const what = label === 'idle (anchor)' ? `idle, before ${load}` : `${load}${label === 'loaded' ? '' : `, less the wait for a processor`}`;
      console.log(`  ${what}: ${figure.p50.toFixed(1)} / ${figure.p99.toFixed(1)} / ${figure.max.toFixed(1)} ms, ` +
                  `${figure.ticks} ticks, ${runs.length} runs`);
    }
    const over = runs.flatMap((r) => r.overFrame || []);
    if (over.length > 0) {
      const sum = (key) => over.reduce((total, t) => total + t[key], 0);
      const share = (key) => `${((100 * sum(key)) / sum('late')).toFixed(0)} %`;
      console.log(`  ${over.length} ticks later than one frame (16 ms); of their lateness the thread waited for a ` +
                  `processor ${share('waited')}, ran ${share('ran')}, slept in a call ${share('slept')}`);
    }
    const seconds = runs.map((r) => r.downloadSeconds).filter(Boolean);
    if (seconds.length > 0) {
      console.log(`  (the download: ${(downloadBytes / 1024 / 1024 / median(seconds)).toFixed(0)} MiB/s median)`);
    }
  }
  figures.loopLateness = loop;
  if (!sink) {
    console.log(`  (the assistant's event reports went unanswered: ${options.origin} was taken)`);
  }

  // 4. Each process of the tree, to show where the memory is.
  console.log('\nmedian private dirty / PSS by process (MiB):');
  for (const program of shown) {
    const byName = new Map();
    for (const r of ok(program)) {
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

  // 5. The figures with their anchors and goals.
  console.log('\nsummary (medians; each beside its anchor from the same run):');
  const startup = (program) => stats(program, (r) => r.startupMs);
  const [plain, late, floor, link, floorLink] = ['tarvik', 'tarvik-late-info', 'floor', 'tarvik-link', 'floor-link'].map(startup);
  if (plain && floor) {
    console.log(`  start-up: tarvik ${plain.median.toFixed(0)} ms, floor ${floor.median.toFixed(0)} ms: ` +
                `${(plain.median / floor.median).toFixed(2)} × the floor (goal ≤ 1.00)`);
    const gap = (stats('tarvik', (r) => r.pageRequestMs)?.median ?? NaN) - (stats('floor', (r) => r.pageRequestMs)?.median ?? NaN);
    console.log(`    page request: tarvik ${stats('tarvik', (r) => r.pageRequestMs)?.median.toFixed(0)} ms, ` +
                `floor ${stats('floor', (r) => r.pageRequestMs)?.median.toFixed(0)} ms (${gap.toFixed(0)} ms later); ` +
                `info request at the service ${stats('tarvik', (r) => r.infoRequestMs)?.median.toFixed(0)} ms`);
  }
  if (plain && late) {
    // Only the web view's own start can hide behind a slow answer: the time from the host's
    // navigation to the page's request.
    const own = stats('tarvik', (r) => (r.steps?.['navigation started'] == null ? null : r.pageRequestMs - r.steps['navigation started']));
    console.log(`  info answer ${infoDelayMs} ms late: start-up grows by ${(late.median - plain.median).toFixed(0)} ms ` +
                `(goal ≤ ${infoDelayMs} ms less the web view's own start, navigation to page request: ` +
                `${own ? own.median.toFixed(0) : '?'} ms)`);
  }
  if (link && floorLink) {
    console.log(`  real link (HTTPS, ${linkRoundTripMs} ms round trip): tarvik ${link.median.toFixed(0)} ms, floor ` +
                `${floorLink.median.toFixed(0)} ms: floor + ${(link.median - floorLink.median).toFixed(0)} ms ` +
                `(goal ≤ floor + ${linkRoundTripMs} ms)`);
  }
  for (const [name, label] of [['loop-events', '100 events'], ['loop-download', '1 GiB download']]) {
    const busy = loop[`${name} loaded`];
    const own = loop[`${name} loaded, less the wait for a processor`];
    const idle = loop[`${name} idle (anchor)`];
    const triple = (f) => (f ? `${f.p50.toFixed(1)} / ${f.p99.toFixed(1)} / ${f.max.toFixed(1)}` : '?');
    if (busy) {
      console.log(`  loop lateness, ${label}, p50 / p99 / max: ${triple(busy)} ms; less the wait for a processor ` +
                  `${triple(own)} ms; idle ${triple(idle)} ms (goal: max ≤ 16 ms)`);
    }
  }
  const dirty = (program) => stats(program, (r) => r.memory.dirty);
  if (dirty('tarvik') && dirty('floor')) {
    console.log(`  memory, private dirty, all processes: tarvik ${(dirty('tarvik').median / 1024).toFixed(1)} MiB, ` +
                `floor ${(dirty('floor').median / 1024).toFixed(1)} MiB: ` +
                `${(dirty('tarvik').median / dirty('floor').median).toFixed(3)} × (goal ≤ 1.03)`);
  }
  const size = strippedSize(options.tarvik);
  const release = options.release ? strippedSize(options.release) : null;
  console.log(`  stripped executable: ${release ? `release ${(release / 1024).toFixed(1)} KiB (${release} bytes; goal ≤ 512 KiB), ` : ''}` +
              `this build ${(size / 1024).toFixed(1)} KiB`);

  const failures = results.filter((r) => r.error);
  for (const failure of failures) {
    console.log(`run ${failure.runId} (${failure.program}) failed: ${failure.error}`);
  }
  return { figures, strippedBytes: size, releaseStrippedBytes: release, failures: failures.length };
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
    console.log(`surf not found at ${options.surf}: measured without it`);
    programs = programs.filter((program) => program !== 'surf');
  }
  const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'tarvik-startup-bench-'));
  const log = new RunLog();
  const world = {};
  const server = await startPageServer(log, () => world.linkOrigin);
  const sink = await startReportSink(options.origin);
  world.serverOrigin = `http://127.0.0.1:${server.address().port}`;

  // nginx serves the 1 GiB file for the download (sparse: it takes no disk) and, where the bench
  // host exists, the service over HTTPS, passing each request on to this server; the delaying
  // relay in front of it makes the link.
  const served = fs.mkdtempSync(path.join(options.folder, 'served-'));
  fs.closeSync(fs.openSync(path.join(served, 'setup.bin'), 'w'));
  fs.truncateSync(path.join(served, 'setup.bin'), downloadBytes);
  const host = process.env.TARVIK_BENCH_HOST;
  const [plainPort, tlsPort] = await Promise.all([freePort(), freePort()]);
  const nginx = await startNginx({
    folder: path.join(served, 'nginx'),
    http: [{ port: plainPort, root: served }],
    https: host ? [{ port: tlsPort, proxy: server.address().port }] : [],
  });
  world.bigFileUrl = `http://127.0.0.1:${plainPort}/setup.bin`;
  let delay = null;
  if (host) {
    delay = await startDelayProxy({ to: tlsPort, roundTripMs: linkRoundTripMs });
    world.linkOrigin = `https://${host}:${delay.address().port}`;
  } else {
    console.log('no bench host (bench/common/bench-host.sh): measured without the real link');
    programs = programs.filter((program) => !program.endsWith('-link'));
  }
  console.log(`${options.rounds} rounds, page at ${world.serverOrigin}` +
              (host ? ` and ${world.linkOrigin} (${linkRoundTripMs} ms round trip)` : '') +
              `, settle ${options.settle} ms, display ${process.env.DISPLAY}`);

  const results = [];
  try {
    // One warm-up run each, not counted: the first start after a build or an install reads the
    // libraries from disk, and whichever program went first would pay for both.
    for (const program of programs) {
      await runOnce(program, `warm-${program}`, options, world, log, scratch);
    }
    for (let round = 0; round < options.rounds; round++) {
      // Each program goes first in turn, and every other round the order is reversed.
      const rotated = programs.map((_, i) => programs[(i + round) % programs.length]);
      const order = round % 2 === 0 ? rotated : rotated.reverse();
      for (const program of order) {
        const result = await runOnce(program, `${round}-${program}`, options, world, log, scratch);
        results.push(result);
        const line = result.error
          ? `failed: ${result.error}`
          : `${result.startupMs.toFixed(0)} ms, PSS ${(result.memory.pss / 1024).toFixed(1)} MiB, ` +
            `private dirty ${(result.memory.dirty / 1024).toFixed(1)} MiB`;
        console.log(`round ${round + 1} ${program.padEnd(16)} ${line}`);
      }
    }
    for (let run = 0; run < options['stall-runs']; run++) {
      for (const program of Object.keys(loopRuns)) {
        const result = await runOnce(program, `${program}-${run}`, options, world, log, scratch);
        results.push(result);
        const late = (ticks) => (ticks && ticks.length ? Math.max(...ticks).toFixed(1) : '?');
        console.log(`${program} run ${run + 1}: ` + (result.error
          ? `failed: ${result.error}`
          : `latest tick ${late(result.busyTicks)} ms loaded, ${late(result.idleTicks)} ms idle`));
      }
    }
  } finally {
    await nginx.stop();
    if (delay) {
      delay.close();
    }
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
  fs.rmSync(served, { recursive: true, force: true });
  process.exitCode = report.failures > 0 ? 1 : 0;
}

main().catch((error) => {
  console.error(`startup bench: ${error.message}`);
  process.exitCode = 1;
});
