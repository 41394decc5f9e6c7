#!/usr/bin/env node
// The whole road of a typical download, with the real program on its own virtual X server and
// the demo service on loopback, driven from outside like a user with the keyboard:
//   the window appears centred with the product's title, the page's events reach the service,
//   a silent download lands in the Downloads folder with exactly the served bytes and the page
//   sees start, progress and finished, "Install" fails here (no authentication agent) with the
//   real message box, which is dismissed, and "Close" ends the program with status 0.
//
// usage: whole_road.mjs TARVIK DEMO_SERVICE SERVICE_ORIGIN PAGE_DIR XWD_TO_PNG [--dropped]
// With --dropped the service breaks the download once at 1 MiB: the program resumes it by
// itself, and the road must look the same to the page (no failure notice, the same bytes).
// The program only talks to the origin it was built for, so the demo service takes that port.
// TARVIK_ROAD_SCREENSHOT=FILE.png keeps a picture of the finished page with the message box.
// On failure the test prints the logs and leaves whole_road_failure.png in the working folder.

import { execFileSync, spawn } from 'node:child_process';
import { once } from 'node:events';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const [tarvikBinary, demoServiceBinary, serviceOrigin, pageSource, xwdToPng, variant] =
  process.argv.slice(2);
const dropped = variant === '--dropped';
if (!xwdToPng) {
  console.error('usage: whole_road.mjs TARVIK DEMO_SERVICE SERVICE_ORIGIN PAGE_DIR XWD_TO_PNG');
  process.exit(2);
}

// Small enough to stay quick, slow enough that the page sees a handful of progress notices.
const INSTALLER_SIZE = 2 * 1024 * 1024;
const RATE = 2 * 1024 * 1024;
const PRODUCT = 'Tarvik Démo'; // not plain ASCII: the title goes through the host's text forms
const DOWNLOADER_ID = '1001';
const INSTALLER_NAME = 'tarvik-demo-setup.run';
const WINDOW_SIZE = { width: 640, height: 420 }; // the reference page's, at 96 dpi
// The program's own "Connecting…" page, and how long it waits for the vendor's page before it
// shows it: a busy machine may take longer than that to load the page, and then the window
// rightly shows it first.
const CONNECTING_SIZE = { width: 480, height: 325 };
const CONNECTING_DELAY_MS = 3000;
// The program runs in a Chinese locale, so its own texts are the ones it has always shown.
const FAILURE_BOX_TITLE = '运行失败';

const here = path.dirname(fileURLToPath(import.meta.url));
const origin = new URL(serviceOrigin);
if (origin.protocol !== 'http:' || origin.hostname !== '127.0.0.1' || !origin.port) {
  console.error(`whole_road: needs a build for a loopback http origin, not ${serviceOrigin}`);
  process.exit(2);
}
const port = Number(origin.port);
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'tarvik-road-'));
const files = {
  page: path.join(work, 'page'),
  app: path.join(work, 'app'),
  downloads: path.join(work, 'Downloads'),
  home: path.join(work, 'home'),
  events: path.join(work, 'events.jsonl'),
  serviceLog: path.join(work, 'service.log'),
  appLog: path.join(work, 'tarvik.log'),
  xvfbLog: path.join(work, 'xvfb.log'),
  screen: path.join(work, 'Xvfb_screen0'),
};

// ---- Processes: each in its own process group, so whatever it starts ends with it ----

const started = [];

function start(name, command, args, options = {}) {
  const log = fs.openSync(options.log ?? '/dev/null', 'a');
  const child = spawn(command, args, {
    detached: true, // a process group of its own
    env: options.env ?? process.env,
    stdio: ['ignore', log, log, ...(options.extraStdio ?? [])],
  });
  fs.closeSync(log);
  const entry = { name, child, exit: once(child, 'exit').then(([code, signal]) => ({ code, signal })) };
  entry.exit.then(() => { entry.done = true; });
  started.push(entry);
  return entry;
}

function signalGroup(entry, signal) {
  if (entry.done) return;
  try {
    process.kill(-entry.child.pid, signal);
  } catch {
    // already gone
  }
}

async function stopAll() {
  for (const entry of [...started].reverse()) {
    signalGroup(entry, 'SIGTERM');
    const timer = setTimeout(() => signalGroup(entry, 'SIGKILL'), 3000);
    await entry.exit;
    clearTimeout(timer);
    // The group may outlive its leader (a web process, a bus service): end the rest too.
    try {
      process.kill(-entry.child.pid, 'SIGKILL');
    } catch {
      // nothing left
    }
  }
}

// However the test ends (an interruption by ctest's time limit or Ctrl-C, an uncaught error
// such as a closed output pipe), no process group and no temporary file outlives it.
process.on('exit', () => {
  for (const entry of started) {
    try {
      process.kill(-entry.child.pid, 'SIGKILL');
    } catch {
      // already gone
    }
  }
  fs.rmSync(work, { recursive: true, force: true });
});
for (const signal of ['SIGINT', 'SIGTERM', 'SIGHUP']) process.on(signal, () => process.exit(1));

// ---- Waiting ----

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// Polls `probe` until it returns something other than undefined/false/null; fails after
// `timeoutMs` (a bound for a run that went wrong, far beyond what a busy machine takes), or at
// once when one of the processes the road relies on has ended.
async function waitFor(what, probe, timeoutMs = 20000) {
  const deadline = Date.now() + timeoutMs;
  for (;;) {
    const value = await probe();
    if (value !== undefined && value !== false && value !== null) return value;
    const ended = started.find((entry) => entry.done && entry.mustRun);
    if (ended) throw new Error(`${ended.name} ended while waiting for ${what}`);
    if (Date.now() > deadline) throw new Error(`timed out after ${timeoutMs} ms waiting for ${what}`);
    await sleep(50);
  }
}

function check(condition, message) {
  if (!condition) throw new Error(message);
}

function step(text) {
  console.log(`whole_road: ${text}`);
}

// ---- X ----

let xEnv = null;

function x(command, args) {
  try {
    return execFileSync(command, args, { env: xEnv, timeout: 5000, encoding: 'utf8' });
  } catch (error) {
    if (error.status === 1 && command === 'xdotool' && args[0] === 'search') return '';
    throw error;
  }
}

function windowsNamed(name, onlyVisible = false) {
  const pattern = `^${name.replace(/[.*+?^${}()|[\]\\]/g, '\\$&')}$`;
  const args = ['search', ...(onlyVisible ? ['--onlyvisible'] : []), '--name', pattern];
  return x('xdotool', args).split('\n').filter(Boolean);
}

// Position, size and map state as the X server has them (no window manager adds a frame).
function windowInfo(id) {
  let text;
  try {
    text = x('xwininfo', ['-id', id]);
  } catch {
    return null; // destroyed meanwhile
  }
  const field = (label) => Number(new RegExp(`${label}:\\s+(-?\\d+)`).exec(text)?.[1]);
  return {
    x: field('Absolute upper-left X'),
    y: field('Absolute upper-left Y'),
    width: field('Width'),
    height: field('Height'),
    viewable: /Map State:\s+IsViewable/.test(text),
  };
}

function focusWindow(id) {
  x('xdotool', ['windowfocus', '--sync', id]);
}

function key(name) {
  x('xdotool', ['key', '--clearmodifiers', name]);
}

function screenshot(target) {
  execFileSync(process.execPath, [xwdToPng, files.screen, target], { timeout: 20000 });
}

// ---- The service's events ----

function readEvents() {
  if (!fs.existsSync(files.events)) return [];
  return fs.readFileSync(files.events, 'utf8').split('\n').filter(Boolean).map((line) => JSON.parse(line));
}

const eventNames = () => readEvents().map((entry) => entry.event);

// Presses `keyName` until the page reports the focus on `elementId`. The page's own tab order
// decides how many presses that takes; a press that moves the focus nowhere visible is fine.
async function focusElement(elementId, keyName) {
  const focusEvents = () => eventNames().filter((name) => name.startsWith('focus:'));
  for (let press = 0; press < 12; press += 1) {
    // Checked before each press, so a report that arrives late is not pressed past.
    if (focusEvents().at(-1) === `focus:${elementId}`) return;
    const before = focusEvents().length;
    key(keyName);
    await waitFor('the page to report a focus change', () => focusEvents().length > before, 3000)
      .catch(() => {});
  }
  if (focusEvents().at(-1) === `focus:${elementId}`) return;
  throw new Error(`${keyName} never brought the focus to #${elementId}; focus events: ${focusEvents().join(' ')}`);
}

// ---- Set-up ----

function preparePage() {
  fs.cpSync(pageSource, files.page, { recursive: true });
  const index = path.join(files.page, 'index.html');
  const html = fs.readFileSync(index, 'utf8');
  const probed = html.replace('</head>', '  <script src="road-probe.js" defer></script>\n</head>');
  check(probed !== html, 'the page has no </head> to add the probe script to');
  fs.writeFileSync(index, probed);
  fs.copyFileSync(path.join(here, 'road-probe.js'), path.join(files.page, 'road-probe.js'));
}

async function portIsFree() {
  return new Promise((resolve) => {
    const socket = net.connect({ host: '127.0.0.1', port });
    socket.once('connect', () => { socket.destroy(); resolve(false); });
    socket.once('error', () => resolve(true));
  });
}

async function startXvfb() {
  // -noreset: by default the server resets whenever its last client leaves, and a client that
  // connects at that moment is dropped. The xdotool probes here come and go while the program
  // connects, and twice in CI the program ended with "cannot open the X display". A loop of a
  // probe leaving while another client connects failed 5 times in 1500 rounds without it and
  // never in 1200 with it.
  const entry = start('Xvfb', 'Xvfb', ['-displayfd', '3', '-screen', '0', '1280x1024x24', '-nolisten', 'tcp',
    '-noreset', '-fbdir', work], { log: files.xvfbLog, extraStdio: ['pipe'] });
  entry.mustRun = true;
  let announced = '';
  entry.child.stdio[3].on('data', (chunk) => { announced += chunk; });
  const display = await waitFor('Xvfb to announce its display', () => /^\d+\n/.test(announced) && `:${announced.trim()}`);
  xEnv = { ...process.env, DISPLAY: display };
  // The number is announced once the server listens; a client of ours connects before the
  // program does, so a server that cannot take clients fails here and not as the program's
  // "cannot open display".
  await waitFor(`a client to connect to ${display}`, () => {
    try {
      return x('xdotool', ['getdisplaygeometry']);
    } catch {
      return false;
    }
  });
  return display;
}

// Whether a server could listen on the service's port now. The port lies in the system's range
// for outgoing connections, so another test's client connection may hold it for a while as its
// local port (a CI run failed with "cannot listen" while the transfer tests ran beside this one).
function portCanBeTaken() {
  return new Promise((resolve) => {
    const probe = net.createServer();
    probe.once('error', () => resolve(false));
    probe.listen(port, '127.0.0.1', () => probe.close(() => resolve(true)));
  });
}

async function startService() {
  await waitFor(`the port ${port} to be free`, portCanBeTaken, 120000);
  const entry = start('the demo service', demoServiceBinary, [
    '--port', String(port), '--page-dir', files.page, '--rate', String(RATE),
    '--installer-size', String(INSTALLER_SIZE), '--downloader-id', DOWNLOADER_ID,
    '--product-name', PRODUCT, '--events-file', files.events,
    ...(dropped ? ['--drop-after', '1M', '--drop-once'] : []),
  ], { log: files.serviceLog });
  entry.mustRun = true;
  await waitFor('the demo service to answer', async () => {
    try {
      const answer = await fetch(`${origin.origin}/downloader.php/index/info?id=${DOWNLOADER_ID}`,
        { signal: AbortSignal.timeout(1000) });
      return answer.ok;
    } catch {
      return false;
    }
  });
}

function startProgram(display) {
  fs.mkdirSync(files.app);
  fs.copyFileSync(tarvikBinary, path.join(files.app, 'tarvik'));
  fs.chmodSync(path.join(files.app, 'tarvik'), 0o755);
  fs.writeFileSync(path.join(files.app, 'config.ini'), `[root]\ndownloader_id=${DOWNLOADER_ID}\n`);
  fs.mkdirSync(files.downloads);
  const config = path.join(work, 'config');
  fs.mkdirSync(config, { recursive: true });
  // GLib takes the Downloads folder from here.
  fs.writeFileSync(path.join(config, 'user-dirs.dirs'), `XDG_DOWNLOAD_DIR="${files.downloads}"\n`);
  fs.mkdirSync(files.home);

  const env = { ...process.env };
  for (const name of ['WAYLAND_DISPLAY', 'DBUS_SESSION_BUS_ADDRESS', 'GDK_SCALE', 'GDK_DPI_SCALE']) delete env[name];
  Object.assign(env, {
    DISPLAY: display,
    GDK_BACKEND: 'x11',
    HOME: files.home,
    XDG_CONFIG_HOME: config,
    XDG_CACHE_HOME: path.join(work, 'cache'),
    XDG_DATA_HOME: path.join(work, 'data'),
    XDG_STATE_HOME: path.join(work, 'state'),
    NO_AT_BRIDGE: '1', // no accessibility bus to start and leave behind
    LANGUAGE: 'zh_CN',
    TARVIK_LOG: '1', // the step log, checked at the end
  });
  // A session bus of its own for the web view and the file-manager call; it ends with the run.
  const entry = start('tarvik', 'dbus-run-session', ['--', path.join(files.app, 'tarvik')],
    { env, log: files.appLog });
  entry.mustRun = true;
  return entry;
}

// ---- The road ----

async function road() {
  preparePage();
  check(await portIsFree(), `port ${port} is in use: the program is built for ${origin.origin} and needs it for the demo service`);
  const display = await startXvfb();
  step(`Xvfb on ${display}`);
  await startService();
  step(`demo service on ${origin.origin}`);
  // ?fail_after=0 keeps this reference copy whole, and leaves the one drop to the program.
  const servedBytes = fetch(`${origin.origin}/files/${INSTALLER_NAME}${dropped ? '?fail_after=0' : ''}`)
    .then((answer) => answer.arrayBuffer()).then((body) => Buffer.from(body));
  const startedAt = Date.now();
  const program = startProgram(display);

  // 1. The window: hidden off-screen until the page sizes it, then centred with the title.
  const [screenWidth, screenHeight] = x('xdotool', ['getdisplaygeometry']).trim().split(/\s+/).map(Number);
  const centred = {
    x: Math.floor((screenWidth - WINDOW_SIZE.width) / 2),
    y: Math.floor((screenHeight - WINDOW_SIZE.height) / 2),
  };
  const placesSeen = [];
  const firstSeenAt = new Map(); // place -> ms after the start
  const windowId = await waitFor('the window centred on screen', () => {
    for (const id of windowsNamed(PRODUCT)) {
      const info = windowInfo(id);
      if (!info?.viewable) continue;
      const place = `${info.x},${info.y} ${info.width}x${info.height}`;
      if (placesSeen.at(-1) !== place) placesSeen.push(place);
      if (!firstSeenAt.has(place)) firstSeenAt.set(place, Date.now() - startedAt);
      if (Math.abs(info.x - centred.x) <= 1 && Math.abs(info.y - centred.y) <= 1 &&
          info.width === WINDOW_SIZE.width && info.height === WINDOW_SIZE.height) return id;
    }
    return undefined;
  }, 45000);
  step(`window ${windowId} centred after ${Date.now() - startedAt} ms; places seen: ${placesSeen.join(' | ')}`);
  // Before the page sized it, the window was kept where nobody sees it, or, once the page had
  // taken longer than the connecting delay, showed the program's "Connecting…" page centred.
  const connecting = `${Math.floor((screenWidth - CONNECTING_SIZE.width) / 2)},` +
    `${Math.floor((screenHeight - CONNECTING_SIZE.height) / 2)} ${CONNECTING_SIZE.width}x${CONNECTING_SIZE.height}`;
  for (const place of placesSeen.slice(0, -1)) {
    const [left, , width] = place.split(/[ ,x]/).map(Number);
    if (left + width <= 0) continue;
    check(place === connecting,
      `the window was on screen at ${place} before the page sized it`);
    check(firstSeenAt.get(place) >= CONNECTING_DELAY_MS,
      `the connecting page showed ${firstSeenAt.get(place)} ms after the start, before its ${CONNECTING_DELAY_MS} ms`);
    step(`the page was slower than the connecting delay: the connecting page showed after ${firstSeenAt.get(place)} ms`);
  }
  check(x('xdotool', ['getwindowname', windowId]).trim() === PRODUCT, 'the window title is not the product name');

  // 2. The page is shown and its events reach the service.
  await waitFor('"page_shown" and the host\'s "5" at the service', () => {
    const names = eventNames();
    return names.includes('page_shown') && names.includes('5');
  });
  step('page_shown and 5 reached the service');

  // 3. and 4. A silent download, started with the keyboard.
  focusWindow(windowId);
  await focusElement('download-button', 'Tab');
  key('Return');
  await waitFor('the finished notice on the page', () => {
    const names = eventNames();
    if (names.includes('seen:dnld_failed')) throw new Error('the download failed');
    return names.includes('seen:dnld_finished');
  }, 20000);
  const expected = await servedBytes;
  check(expected.length === INSTALLER_SIZE, `the service served ${expected.length} bytes`);
  const downloaded = fs.readdirSync(files.downloads);
  check(downloaded.length === 1 && downloaded[0] === INSTALLER_NAME,
    `the Downloads folder holds [${downloaded.join(', ')}], not just ${INSTALLER_NAME}`);
  check(fs.readFileSync(path.join(files.downloads, INSTALLER_NAME)).equals(expected),
    'the downloaded installer differs from what the service serves');
  check(eventNames().includes(`seen:last_progress:${INSTALLER_SIZE}/${INSTALLER_SIZE}`),
    'the last progress notice before the finished one did not carry the final byte count');
  step(`the installer arrived whole (${INSTALLER_SIZE} bytes) after ${Date.now() - startedAt} ms`);

  // 5. Install fails (no authentication agent): the real message box, dismissed by the user.
  const main = windowInfo(windowId);
  await focusElement('install-button', 'Tab'); // the finished page focuses it already
  key('Return');
  const box = await waitFor(`the "${FAILURE_BOX_TITLE}" message box`, () => windowsNamed(FAILURE_BOX_TITLE, true)[0], 15000);
  const boxInfo = windowInfo(box);
  check(boxInfo, 'the message box went away by itself');
  const boxCentre = { x: boxInfo.x + boxInfo.width / 2, y: boxInfo.y + boxInfo.height / 2 };
  check(boxCentre.x > main.x && boxCentre.x < main.x + main.width &&
        boxCentre.y > main.y && boxCentre.y < main.y + main.height,
    `the message box at ${boxInfo.x},${boxInfo.y} is not over the window`);
  step('the launch failure shows its message box');
  if (process.env.TARVIK_ROAD_SCREENSHOT) {
    // The frame may be a paint behind; wait for two identical dumps.
    let previous = null;
    await waitFor('a settled screen', () => {
      const current = fs.readFileSync(files.screen);
      const settled = previous !== null && current.equals(previous);
      previous = current;
      return settled;
    });
    screenshot(process.env.TARVIK_ROAD_SCREENSHOT);
    step(`screenshot in ${process.env.TARVIK_ROAD_SCREENSHOT}`);
  }
  focusWindow(box);
  key('Return');
  await waitFor('the message box to close', () => windowsNamed(FAILURE_BOX_TITLE, true).length === 0);
  check(!program.done, 'the program ended after the message box');
  check(windowInfo(windowId)?.viewable, 'the window is gone after the message box');
  step('message box dismissed, the program runs on');

  // 6. Close: the page's close button, with no download running, ends the program at once.
  focusWindow(windowId);
  await focusElement('close-button', 'shift+Tab');
  const closedAt = Date.now();
  key('Return');
  // The reports still waiting get 2 s at the close; the rest is the margin a busy machine needs
  // to end the web view's processes.
  const { code, signal } = await Promise.race([
    program.exit,
    sleep(15000).then(() => { throw new Error('the program did not end within 15 s of "close"'); }),
  ]);
  check(code === 0, `the program ended with status ${code}${signal ? ` (signal ${signal})` : ''}`);
  step(`closed with status 0 after ${Date.now() - closedAt} ms`);

  // 7. Every event reached the service, once each and in the order of the road.
  const events = readEvents();
  const names = events.map((entry) => entry.event);
  const road = ['download_clicked', 'seen:dnld_start', 'seen:dl_progress', 'seen:dnld_finished', 'install_clicked'];
  for (const name of ['5', 'page_shown', ...road]) {
    check(names.filter((n) => n === name).length === 1, `"${name}" reached the service ${names.filter((n) => n === name).length} times`);
  }
  for (let i = 1; i < road.length; i += 1) {
    check(names.indexOf(road[i - 1]) < names.indexOf(road[i]), `"${road[i - 1]}" came after "${road[i]}"`);
  }
  check(names.indexOf('5') < names.indexOf('download_clicked') && names.indexOf('page_shown') < names.indexOf('download_clicked'),
    'the page was used before it was shown');
  check(!names.some((n) => n.startsWith('seen:dnld_failed')), 'the page saw a failure notice');
  const uuid = /^uuid\s*=\s*(\S+)\s*$/m.exec(fs.readFileSync(path.join(files.app, 'config.ini'), 'utf8'))?.[1];
  check(uuid && uuid.length === 32, 'config.ini holds no 32-character installation id after the run');
  for (const entry of events) {
    check(entry.downloader_id === DOWNLOADER_ID && entry.uuid === uuid,
      `event "${entry.event}" came with downloader ${entry.downloader_id} and id ${entry.uuid}`);
  }
  step(`events: ${names.filter((n) => !n.startsWith('focus:')).join(', ')}`);

  // 8. The step log has a line for each step, each with its time since the start, the times in
  // order; never the page's messages or the whole uuid.
  const stamped = fs.readFileSync(files.appLog, 'utf8').split('\n').filter((line) => line.startsWith('tarvik: ['));
  const times = stamped.map((line) => Number(/^tarvik: \[ *(\d+\.\d) ms\] /.exec(line)?.[1]));
  check(times.length > 10 && times.every((time, i) => time >= (i === 0 ? 0 : times[i - 1])),
    `the step log's times are missing or out of order: ${times.slice(0, 20).join(', ')}`);
  check(/^tarvik: \[ *\d+\.\d ms\] log: started at [\d.]+ ms of the monotonic clock/.test(stamped[0] ?? ''),
    `the step log does not begin by naming its clock: ${stamped[0]}`);
  const log = stamped.map((line) => line.replace(/^tarvik: \[ *\d+\.\d ms\] /, 'tarvik: ')).join('\n');
  for (const line of [
    `tarvik: config: ${path.join(files.app, 'config.ini')}: downloader_id ${DOWNLOADER_ID}, info URL ${serviceOrigin}/downloader.php/index/info?id=${DOWNLOADER_ID}, uuid ${uuid.slice(0, 4)}... (32 characters)`,
    'tarvik: service: info answer: HTTP 200, No error',
    'tarvik: page: load finished',
    'tarvik: page command: resize_window',
    'tarvik: page command: dnld',
    'tarvik: notice: {"msg_type":"dnld","status":2,"status_text":"dnld_finished"}',
    'tarvik: service: event 5 reported: ok',
    'tarvik: service: event install_clicked reported: ok',
    'tarvik: install: the installer could not be started',
  ]) {
    check(log.split('\n').includes(line), `the step log lacks "${line}"`);
  }
  check(/^tarvik: page: committed http:\/\/127\.0\.0\.1:\d+\//m.test(log), 'the step log lacks the page commit');
  check(/^tarvik: download: http:\/\/127\.0\.0\.1:\d+\/\S+ to \S+$/m.test(log), 'the step log lacks the download');
  check(!log.includes('msg_data') && !log.includes(uuid), 'the step log shows a page message or the whole uuid');
  step('step log complete');
  step(`the whole road took ${Date.now() - startedAt} ms`);
}

function tail(file, lines = 40) {
  if (!fs.existsSync(file)) return '(none)';
  return fs.readFileSync(file, 'utf8').split('\n').slice(-lines).join('\n');
}

let failed = false;
try {
  await road();
  step('passed');
} catch (error) {
  failed = true;
  console.error(`whole_road: FAILED: ${error.stack ?? error}`);
  try {
    if (fs.existsSync(files.screen)) {
      screenshot(path.resolve('whole_road_failure.png'));
      console.error(`whole_road: the screen at the failure: ${path.resolve('whole_road_failure.png')}`);
    }
  } catch (shotError) {
    console.error(`whole_road: no screenshot: ${shotError.message}`);
  }
  console.error(`--- events ---\n${tail(files.events, 60)}`);
  console.error(`--- tarvik output ---\n${tail(files.appLog)}`);
  console.error(`--- demo service output ---\n${tail(files.serviceLog)}`);
  console.error(`--- X server output ---\n${tail(files.xvfbLog)}`);
} finally {
  await stopAll();
  fs.rmSync(work, { recursive: true, force: true });
}
process.exit(failed ? 1 : 0);
