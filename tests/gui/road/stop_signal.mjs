#!/usr/bin/env node
// A stop signal in the middle of a download (SIGTERM at log-out, SIGINT from Ctrl+C, SIGHUP from a
// closed terminal) must end the real program the way a close does: exit status 0, the transfer
// stopped, and no unfinished file left in the Downloads folder.
//
// usage: stop_signal.mjs TARVIK
// Runs on the X display in DISPLAY (CTest starts it under xvfb_run.sh). One loopback server plays
// the vendor's service: the info answer, a page that asks for a silent download at once, and an
// installer that trickles out so slowly that the download is still running when the signal comes.

import { spawn } from 'node:child_process';
import { once } from 'node:events';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';

const [tarvikBinary] = process.argv.slice(2);
if (!tarvikBinary || !process.env.DISPLAY) {
  console.error('usage: stop_signal.mjs TARVIK (with DISPLAY set)');
  process.exit(2);
}

const INSTALLER_SIZE = 64 * 1024 * 1024;
const SLICE = 16 * 1024; // every 100 ms: the whole file would take more than an hour
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'tarvik-stop-'));
const running = new Set();

process.on('exit', () => {
  for (const child of running) {
    try {
      process.kill(-child.pid, 'SIGKILL');
    } catch {
      // already gone
    }
  }
  fs.rmSync(work, { recursive: true, force: true });
});

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

async function waitFor(what, probe, timeoutMs = 20000) {
  const deadline = Date.now() + timeoutMs;
  for (;;) {
    const value = probe();
    if (value) return value;
    if (Date.now() > deadline) throw new Error(`timed out waiting for ${what}`);
    await sleep(50);
  }
}

// ---- The service ----

const server = http.createServer((request, response) => {
  const origin = `http://127.0.0.1:${server.address().port}`;
  if (request.url.startsWith('/info')) {
    response.setHeader('Content-Type', 'application/json');
    response.end(JSON.stringify({ code: 200, data: { name: 'Stop signal', url1: `${origin}/page` } }));
  } else if (request.url === '/page') {
    response.setHeader('Content-Type', 'text/html');
    response.end(`<!doctype html><html><body><script>
      window.chrome.webview.postMessage(JSON.stringify({ msg_type: 'dnld',
        msg_data: { url: '${origin}/files/setup.run', silent: true } }));
    </script></body></html>`);
  } else if (request.url === '/files/setup.run') {
    response.writeHead(200, { 'Content-Type': 'application/octet-stream', 'Content-Length': INSTALLER_SIZE });
    const slice = Buffer.alloc(SLICE, 'x');
    const timer = setInterval(() => response.write(slice), 100);
    response.on('close', () => clearInterval(timer));
  } else {
    response.statusCode = 404;
    response.end();
  }
});
server.listen(0, '127.0.0.1');
await once(server, 'listening');
const origin = `http://127.0.0.1:${server.address().port}`;

// ---- One run of the program ----

const partFiles = (folder) => fs.readdirSync(folder).filter((name) => name.endsWith('.part'));

async function runUntilSignalled(signal) {
  const run = fs.mkdtempSync(path.join(work, `${signal}-`));
  const app = path.join(run, 'app');
  const downloads = path.join(run, 'Downloads');
  const config = path.join(run, 'config');
  for (const folder of [app, downloads, config, path.join(run, 'home')]) fs.mkdirSync(folder);
  fs.copyFileSync(tarvikBinary, path.join(app, 'tarvik'));
  fs.chmodSync(path.join(app, 'tarvik'), 0o755);
  fs.writeFileSync(path.join(app, 'config.ini'), `[root]\ndownloader_id=0\napi_url=${origin}/info\n`);
  // GLib takes the Downloads folder from here.
  fs.writeFileSync(path.join(config, 'user-dirs.dirs'), `XDG_DOWNLOAD_DIR="${downloads}"\n`);

  const env = { ...process.env };
  for (const name of ['WAYLAND_DISPLAY', 'GDK_SCALE', 'GDK_DPI_SCALE']) delete env[name];
  Object.assign(env, {
    GDK_BACKEND: 'x11',
    HOME: path.join(run, 'home'),
    XDG_CONFIG_HOME: config,
    XDG_CACHE_HOME: path.join(run, 'cache'),
    XDG_DATA_HOME: path.join(run, 'data'),
    XDG_STATE_HOME: path.join(run, 'state'),
    NO_AT_BRIDGE: '1',
    // No session bus, and none started on the side for this run.
    DBUS_SESSION_BUS_ADDRESS: `unix:path=${path.join(run, 'no-bus')}`,
  });
  const log = path.join(run, 'tarvik.log');
  const output = fs.openSync(log, 'a');
  const child = spawn(path.join(app, 'tarvik'), [], { env, detached: true, stdio: ['ignore', output, output] });
  fs.closeSync(output);
  running.add(child);
  const exited = once(child, 'exit').then(([code, exitSignal]) => ({ code, signal: exitSignal }));

  try {
    // The download runs: its temporary file is there and growing.
    await waitFor('the download to write its temporary file', () => {
      const parts = partFiles(downloads);
      return parts.length === 1 && fs.statSync(path.join(downloads, parts[0])).size > 0;
    });
    child.kill(signal);
    // A bound for a program that does not end, far beyond what a busy machine takes.
    const end = await Promise.race([exited, sleep(30000).then(() => null)]);
    if (!end) throw new Error(`the program did not end within 30 s of ${signal}`);
    const left = fs.readdirSync(downloads);
    return { code: end.code, signal: end.signal, downloads: left };
  } catch (error) {
    console.error(`--- tarvik output ---\n${fs.readFileSync(log, 'utf8')}`);
    throw error;
  } finally {
    try {
      process.kill(-child.pid, 'SIGKILL'); // the web view's processes, if any are left
    } catch {
      // nothing left
    }
    running.delete(child);
  }
}

let failed = false;
for (const signal of ['SIGTERM', 'SIGINT', 'SIGHUP']) {
  try {
    const observed = await runUntilSignalled(signal);
    const expected = { code: 0, signal: null, downloads: [] };
    if (JSON.stringify(observed) !== JSON.stringify(expected)) {
      failed = true;
      console.error(`stop_signal: ${signal}: got ${JSON.stringify(observed)}, expected ${JSON.stringify(expected)}`);
    } else {
      console.log(`stop_signal: ${signal}: ended with status 0 and left no file behind`);
    }
  } catch (error) {
    failed = true;
    console.error(`stop_signal: ${signal}: ${error.stack ?? error}`);
  }
}
server.closeAllConnections();
server.close();
process.exit(failed ? 1 : 0);
