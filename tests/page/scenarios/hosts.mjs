// The two hosts a scenario runs on: the real program (WebKitGTK, the real bridge, the demo
// service on loopback) and Chromium with the page kit's simulator. Both serve the same page
// folder (the kit, page/runner.js and the scenario's run.json) and hand back the same result:
// the page's record, the notices it received, and what to print when the record is wrong.
import { execFileSync, spawn } from 'node:child_process';
import { createHash } from 'node:crypto';
import { once } from 'node:events';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { base } from './table.mjs';
import { launchChromium, serveFolder } from '../harness.mjs';

const here = import.meta.dirname;
const kitFolder = path.resolve(here, '../../../page/kit');
// Each run may take this long before its record is complete.
const RUN_LIMIT_MS = 60_000;
// The SHA-256 the simulated installer has; the real one is measured.
const SIMULATED_SHA256 = 'a1'.repeat(32);

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

async function waitFor(what, probe, limitMs = RUN_LIMIT_MS) {
  const deadline = Date.now() + limitMs;
  for (;;) {
    const value = await probe();
    if (value) return value;
    if (Date.now() > deadline) throw new Error(`timed out waiting for ${what}`);
    await sleep(50);
  }
}

// The page folder of one run, as both hosts serve it under /page/.
function preparePage(folder, run) {
  fs.mkdirSync(folder, { recursive: true });
  fs.cpSync(kitFolder, path.join(folder, 'kit'), { recursive: true });
  for (const name of ['index.html', 'runner.js']) fs.copyFileSync(path.join(here, 'page', name), path.join(folder, name));
  fs.writeFileSync(path.join(folder, 'run.json'), JSON.stringify(run));
}

// What the page reported, from its usage events in order.
function result(events, ended, diagnostics) {
  const record = events.filter((e) => e.startsWith('kit:')).map((e) => e.slice(4));
  const notices = events.filter((e) => e.startsWith('notice:')).map((e) => JSON.parse(e.slice(7)));
  return { record: ended ? [...record, 'ended'] : record, notices, diagnostics };
}

const complete = (events) => events.some((e) => e === 'kit:end' || e.startsWith('kit:error'));

// ---- Chromium with the simulator ----

export class SimulatedHost {
  static async start() {
    const host = new SimulatedHost();
    host.work = fs.mkdtempSync(path.join(os.tmpdir(), 'tarvik-sim-'));
    host.browser = await launchChromium();
    return host;
  }

  async run(scenario) {
    const folder = fs.mkdtempSync(path.join(this.work, 'run-'));
    const installer = scenario.installer ?? 'https://downloads.example.com/files/setup.run';
    preparePage(folder, { installer, sha256: SIMULATED_SHA256, steps: scenario.steps });
    const server = await serveFolder(folder);
    const context = await this.browser.newContext({ viewport: { width: 640, height: 420 } });
    try {
      const page = await context.newPage();
      const errors = [];
      page.on('pageerror', (error) => errors.push(String(error)));
      const script = [base.sim, `sha256:${SIMULATED_SHA256}`, scenario.sim].filter(Boolean).join(',');
      await page.goto(`http://127.0.0.1:${server.address().port}/page/index.html?tarvik-sim=${script}`);
      const state = () => page.evaluate(async () => {
        const { default: tarvik } = await import('./kit/tarvik.js');
        await tarvik.ready;
        return { events: [...tarvik.simulator.events], closed: tarvik.simulator.closed };
      });
      const seen = await waitFor('the page to finish its steps', async () => {
        const now = await state();
        return complete(now.events) || now.closed ? now : null;
      });
      return result(seen.events, seen.closed, errors.length ? `page errors: ${errors.join('; ')}` : '');
    } finally {
      await context.close();
      server.close();
    }
  }

  async close() {
    await this.browser?.close();
    fs.rmSync(this.work, { recursive: true, force: true });
  }
}

// ---- The real program ----

// A port nobody listens on.
async function closedPort() {
  const server = net.createServer().listen(0, '127.0.0.1');
  await once(server, 'listening');
  const { port } = server.address();
  server.close();
  await once(server, 'close');
  return port;
}

async function portIsFree(port) {
  return new Promise((resolve) => {
    const socket = net.connect({ host: '127.0.0.1', port });
    socket.once('connect', () => {
      socket.destroy();
      resolve(false);
    });
    socket.once('error', () => resolve(true));
  });
}

class Process {
  constructor(name, command, args, { env = process.env, log }) {
    this.name = name;
    this.log = log;
    const output = fs.openSync(log, 'a');
    // A process group of its own, so that what it starts (the web view's processes) ends with it.
    this.child = spawn(command, args, { env, detached: true, stdio: ['ignore', output, output] });
    fs.closeSync(output);
    // A program that cannot be started counts as one that ended at once.
    this.exit = new Promise((resolve) => {
      this.child.on('exit', (code, signal) => resolve({ code, signal }));
      this.child.on('error', (error) => resolve({ code: null, signal: null, error }));
    });
    this.exit.then(() => { this.done = true; });
  }

  async stop(signal = 'SIGTERM') {
    if (!this.done) this.child.kill(signal);
    const timer = setTimeout(() => this.kill(), 10_000);
    await this.exit;
    clearTimeout(timer);
    this.kill();
  }

  kill() {
    try {
      process.kill(-this.child.pid, 'SIGKILL');
    } catch {
      // nothing left
    }
  }

  tail() {
    return `--- ${this.name} ---\n${fs.existsSync(this.log) ? fs.readFileSync(this.log, 'utf8').split('\n').slice(-30).join('\n') : ''}`;
  }
}

export class RealProgram {
  // `origin` is the service origin the program was built for; the demo service takes its port.
  static start({ tarvik, demoService, origin }) {
    const host = new RealProgram();
    Object.assign(host, { tarvik, demoService, origin: new URL(origin) });
    host.work = fs.mkdtempSync(path.join(os.tmpdir(), 'tarvik-real-'));
    host.running = new Set();
    // However the test ends, no process group outlives it: a demo service left behind would
    // share the origin's port with the next one (the library binds it for reuse) and take half
    // of its event reports.
    host.onExit = () => {
      for (const child of host.running) child.kill();
    };
    host.onSignal = () => process.exit(1);
    process.on('exit', host.onExit);
    for (const signal of ['SIGINT', 'SIGTERM', 'SIGHUP']) process.on(signal, host.onSignal);
    return host;
  }

  #start(name, command, args, options) {
    const child = new Process(name, command, args, options);
    this.running.add(child);
    child.exit.then(() => this.running.delete(child));
    return child;
  }

  async #demoService(folder, name, args) {
    const service = this.#start(name, this.demoService, args, { log: path.join(folder, `${name}.log`) });
    const port = await waitFor(`${name} to listen`, () => {
      if (service.done) throw new Error(`${name} ended:\n${service.tail()}`);
      return /listening on http:\/\/127\.0\.0\.1:(\d+)/.exec(fs.readFileSync(service.log, 'utf8'))?.[1];
    }, 10_000);
    return { service, origin: `http://127.0.0.1:${port}` };
  }

  async run(scenario) {
    const folder = fs.mkdtempSync(path.join(this.work, 'run-'));
    const real = scenario.real ?? {};
    const processes = [];
    try {
      // The installer comes from a service of its own, so that it can go away on its own.
      const files = await this.#demoService(folder, 'installer service',
        ['--port', '0', '--page-dir', folder, ...base.files, ...(real.files ?? [])]);
      processes.push(files.service);
      let installer = `${files.origin}/files/setup.run`;
      if (real.installer === 'missing') installer = `${files.origin}/nothing/setup.run`;
      if (real.installer === 'unreachable') installer = `http://127.0.0.1:${await closedPort()}/files/setup.run`;
      if (scenario.installer) installer = scenario.installer;
      let sha256 = null;
      if (scenario.steps.some(([action, argument]) => action === 'download' && argument?.sha256 === 'right')) {
        const body = Buffer.from(await (await fetch(`${files.origin}/files/setup.run`)).arrayBuffer());
        sha256 = createHash('sha256').update(body).digest('hex');
      }
      preparePage(path.join(folder, 'page'), { installer, sha256, steps: scenario.steps });

      // The program asks for its page and reports its events to the origin it was built for.
      if (!(await portIsFree(Number(this.origin.port)))) {
        throw new Error(`port ${this.origin.port} is in use: the program is built for ${this.origin.origin} and needs it for the demo service`);
      }
      const events = path.join(folder, 'events.jsonl');
      const service = await this.#demoService(folder, 'service',
        ['--port', this.origin.port, '--page-dir', path.join(folder, 'page'), '--events-file', events]);
      processes.push(service.service);

      if (real.windowManager) processes.push(await this.#startWindowManager(folder));
      const program = this.#startProgram(folder, real);
      processes.push(program);
      const reported = () => (fs.existsSync(events) ? fs.readFileSync(events, 'utf8') : '')
        .split('\n').filter(Boolean).map((line) => JSON.parse(line).event);
      let wentAway = false;
      await waitFor('the page to finish its steps', () => {
        const seen = reported();
        if (real.goAway && !wentAway && seen.includes('kit:progress')) {
          wentAway = true;
          files.service.stop('SIGKILL');
        }
        return complete(seen) || program.done;
      });
      const ended = program.done;
      if (ended) {
        const { code, signal } = await program.exit;
        if (code !== 0) throw new Error(`the program ended with ${signal ?? `status ${code}`}`);
      }
      // Its last reports have gone out once it has ended (it waits for them), so it ends first.
      await program.stop();
      return result(reported(), ended, processes.map((p) => p.tail()).join('\n'));
    } catch (error) {
      error.message += `\n${processes.map((p) => p.tail()).join('\n')}`;
      throw error;
    } finally {
      for (const child of processes.reverse()) await child.stop();
    }
  }

  // Without a window manager nothing maximises or minimises a window on the virtual X server.
  async #startWindowManager(folder) {
    const home = path.join(folder, 'window-manager');
    fs.mkdirSync(home);
    const manager = this.#start('openbox', 'openbox', ['--sm-disable'], {
      env: { ...process.env, HOME: home, XDG_CONFIG_HOME: home, XDG_CACHE_HOME: home },
      log: path.join(folder, 'openbox.log'),
    });
    const managing = () => {
      try {
        return /window id # 0x/.test(execFileSync('xprop', ['-root', '_NET_SUPPORTING_WM_CHECK'], { encoding: 'utf8', timeout: 5000 }));
      } catch {
        return false;
      }
    };
    await waitFor('the window manager to take over the screen', () => {
      if (manager.done) throw new Error(`openbox ended:\n${manager.tail()}`);
      return managing();
    }, 10_000);
    return manager;
  }

  #startProgram(folder, real) {
    const app = path.join(folder, 'app');
    const config = path.join(folder, 'config');
    const downloads = path.join(folder, 'Downloads');
    for (const made of [app, config, path.join(folder, 'home')]) fs.mkdirSync(made);
    if (real.downloads !== 'missing') fs.mkdirSync(downloads);
    fs.copyFileSync(this.tarvik, path.join(app, 'tarvik'));
    fs.chmodSync(path.join(app, 'tarvik'), 0o755);
    fs.writeFileSync(path.join(app, 'config.ini'), '[root]\ndownloader_id=1001\n');
    // GLib takes the Downloads folder from here, whether or not it exists.
    fs.writeFileSync(path.join(config, 'user-dirs.dirs'), `XDG_DOWNLOAD_DIR="${downloads}"\n`);
    const env = { ...process.env };
    for (const name of ['WAYLAND_DISPLAY', 'GDK_SCALE', 'GDK_DPI_SCALE']) delete env[name];
    Object.assign(env, {
      GDK_BACKEND: 'x11',
      HOME: path.join(folder, 'home'),
      XDG_CONFIG_HOME: config,
      XDG_CACHE_HOME: path.join(folder, 'cache'),
      XDG_DATA_HOME: path.join(folder, 'data'),
      XDG_STATE_HOME: path.join(folder, 'state'),
      NO_AT_BRIDGE: '1',
      // No session bus, and none started on the side for the run.
      DBUS_SESSION_BUS_ADDRESS: `unix:path=${path.join(folder, 'no-bus')}`,
      TARVIK_LOG: '1',
    });
    return this.#start('tarvik', path.join(app, 'tarvik'), [], { env, log: path.join(folder, 'tarvik.log') });
  }

  async close() {
    for (const child of [...this.running]) await child.stop();
    process.off('exit', this.onExit);
    for (const signal of ['SIGINT', 'SIGTERM', 'SIGHUP']) process.off(signal, this.onSignal);
    fs.rmSync(this.work, { recursive: true, force: true });
  }
}
