// Tarvik host simulator: in an ordinary browser, answers the page's commands as the assistant
// would, with the same notices, so that every state of a page can be seen without the program.
// tarvik.js loads it when the page's query has `tarvik-sim`; the assistant itself never does.
//
// The value of `tarvik-sim` says what the next download meets, as items separated by commas
// (the names are the demo service's options where it has one):
//   size:BYTES        the installer's size (default 4M)
//   rate:BYTES        bytes per second (default 512K; 0: at once)
//   no-length         the server gives no length: the host sends no progress notices
//   drop-after:BYTES  each connection drops after BYTES; the host resumes after 1 s, telling
//                     the page nothing (without a length it starts over instead)
//   drop-once         only the first connection drops
//   fail:REASON       network, http, file or verify
//   fail-after:BYTES  where the failure comes (default: before the first byte; verify: at the
//                     end). After bytes, network means the server went away: the host tries
//                     three more times, 1, 2 and 4 s apart, before it says so
//   sha256:HEX        the installer's SHA-256: a page that asks for another one gets "verify"
//   dialog:cancel     the user cancels the save dialog (the host then says nothing)
// BYTES take K, M or G for binary multiples: 512K, 4M. Example: ?tarvik-sim=size:8M,rate:1M,drop-after:3M
// The panel in the page's corner changes the same settings (they apply to the next download
// and are kept in the address, so a reload keeps them) and plays the desktop: it minimises,
// maximises and restores the window as a user would outside the page.

const KIB = 1024;
const DEFAULTS = Object.freeze({
  size: 4 * KIB * KIB,
  rate: 512 * KIB,
  length: true,
  dropAfter: 0,
  dropOnce: false,
  fail: '',
  failAfter: null,
  sha256: '',
  dialog: 'save',
});
const REASONS = ['network', 'http', 'file', 'verify'];
// The host's own timings: progress at most every 50 ms; after a connection breaks, three more
// attempts that bring nothing new, the first after 1 s and each further one twice as long.
const TICK_MS = 50;
const RETRIES = 3;
const RETRY_WAIT_MS = 1000;
const SHA256 = /^[0-9a-fA-F]{64}$/;

function parseBytes(text) {
  const match = /^(\d+)([KMG]?)$/i.exec(text.trim());
  if (!match) return null;
  return Number(match[1]) * KIB ** ' KMG'.indexOf(match[2].toUpperCase() || ' ');
}

function formatBytes(bytes) {
  for (const [unit, size] of [['G', KIB ** 3], ['M', KIB ** 2], ['K', KIB]]) {
    if (bytes >= size && bytes % size === 0) return `${bytes / size}${unit}`;
  }
  return String(bytes);
}

// The settings a script gives, and what in it was not understood.
export function parseScript(script) {
  const settings = { ...DEFAULTS };
  const problems = [];
  for (const item of String(script ?? '').split(',').map((part) => part.trim()).filter(Boolean)) {
    const colon = item.indexOf(':');
    const key = colon < 0 ? item : item.slice(0, colon);
    const value = colon < 0 ? null : item.slice(colon + 1);
    const bytes = value === null ? null : parseBytes(value);
    if (key === 'no-length' && value === null) settings.length = false;
    else if (key === 'drop-once' && value === null) settings.dropOnce = true;
    else if (key === 'size' && bytes !== null) settings.size = bytes;
    else if (key === 'rate' && bytes !== null) settings.rate = bytes;
    else if (key === 'drop-after' && bytes !== null) settings.dropAfter = bytes;
    else if (key === 'fail-after' && bytes !== null) settings.failAfter = bytes;
    else if (key === 'fail' && REASONS.includes(value)) settings.fail = value;
    else if (key === 'sha256' && SHA256.test(value ?? '')) settings.sha256 = value.toLowerCase();
    else if (key === 'dialog' && (value === 'save' || value === 'cancel')) settings.dialog = value;
    else problems.push(item);
  }
  return { settings, problems };
}

// The shortest script for `settings`: only what differs from the defaults.
export function formatScript(settings) {
  const items = [];
  if (settings.size !== DEFAULTS.size) items.push(`size:${formatBytes(settings.size)}`);
  if (settings.rate !== DEFAULTS.rate) items.push(`rate:${formatBytes(settings.rate)}`);
  if (!settings.length) items.push('no-length');
  if (settings.dropAfter) items.push(`drop-after:${formatBytes(settings.dropAfter)}`);
  if (settings.dropAfter && settings.dropOnce) items.push('drop-once');
  if (settings.fail) items.push(`fail:${settings.fail}`);
  if (settings.fail && settings.failAfter !== null) items.push(`fail-after:${formatBytes(settings.failAfter)}`);
  if (settings.sha256) items.push(`sha256:${settings.sha256}`);
  if (settings.dialog !== DEFAULTS.dialog) items.push(`dialog:${settings.dialog}`);
  return items.join(',');
}

// ---- Reading commands as the host does ----

// A command the host drops whole: its reason goes to the console.
class Malformed extends Error {}

function member(data, name) {
  if (data === null || data === undefined) return null;
  if (typeof data !== 'object' || Array.isArray(data)) throw new Malformed('msg_data is not an object');
  return Object.hasOwn(data, name) ? data[name] : null;
}
function hasMember(data, name) {
  return data !== null && typeof data === 'object' && !Array.isArray(data) && Object.hasOwn(data, name);
}
function stringArgument(data, name) {
  const value = member(data, name);
  if (typeof value !== 'string') throw new Malformed(`${name} must be a string`);
  return value;
}
function booleanArgument(data, name) {
  const value = member(data, name);
  if (typeof value !== 'boolean') throw new Malformed(`${name} must be a boolean`);
  return value;
}
// A number or a boolean; the host keeps the low 32 bits of a whole number, cut towards zero.
function int32Argument(data, name) {
  const value = member(data, name);
  if (typeof value === 'boolean') return Number(value);
  if (typeof value !== 'number') throw new Malformed(`${name} must be a number`);
  return Math.trunc(value) | 0;
}
function isOpenableLink(url) {
  if (/[\u0000-\u0020\u007f]/.test(url)) return false;
  if (/^mailto:/i.test(url)) return isMailLink(url.slice(url.indexOf(':') + 1));
  try {
    const parsed = new URL(url);
    return (parsed.protocol === 'http:' || parsed.protocol === 'https:') && parsed.hostname !== '';
  } catch {
    return false;
  }
}

// As the host reads a mail link: characters a URL may hold as they are (or percent-encoded),
// and one or more addresses before any '?', each with something on both sides of its '@'.
function isMailLink(rest) {
  if (!/^([A-Za-z0-9\-._~!$&'()*+,;=:@/?]|%[0-9A-Fa-f]{2})*$/.test(rest)) return false;
  const addresses = rest.split('?')[0].split(',');
  return addresses.every((address) => {
    const at = address.indexOf('@');
    return at > 0 && at < address.length - 1;
  });
}

// The name the host saves a download under: the last segment of the address's path, decoded,
// "setup" when nothing is left (as the reference page works it out).
function fileNameOf(url) {
  let path = '';
  try {
    path = new URL(url).pathname;
  } catch {
    return 'setup';
  }
  let name = path.slice(path.lastIndexOf('/') + 1);
  try {
    name = decodeURIComponent(name);
  } catch {
    // kept as written
  }
  name = name.replace(/[/\\]/g, '_');
  return name === '' || name === '.' || name === '..' ? 'setup' : name;
}

// ---- Notices, in the host's member order ----

const notices = {
  start: () => ({ msg_type: 'dnld', status: 1, status_text: 'dnld_start' }),
  file: (name, folder) => ({ file_name: name, folder_name: folder, msg_type: 'dl_file' }),
  progress: (now, total) => ({ dl_now: now, dl_progress: (now / total) * 100, dl_total: total, msg_type: 'dl_progress', status: true }),
  received: (now) => ({ dl_now: now, msg_type: 'dl_received' }),
  retry: (attempt) => ({ attempt, msg_type: 'dl_retry' }),
  installStarted: () => ({ msg_type: 'install', status_text: 'install_started' }),
  installFailed: (reason) => ({ msg_type: 'install', reason, status_text: 'install_failed' }),
  finished: () => ({ msg_type: 'dnld', status: 2, status_text: 'dnld_finished' }),
  failed: (reason) => ({ msg_type: 'dnld', reason, status: 0, status_text: 'dnld_failed' }),
  closeQuestion: () => ({ msg_type: 'close', status: 1, status_text: 'dnld_running' }),
  window: (state) => ({ msg_type: 'window', state }),
};

// ---- The simulated host ----

export class HostSimulator {
  #listeners = [];
  #panel = null;

  constructor(settings) {
    this.settings = { ...settings };
    this.events = []; // every event the host would report to the service, in order
    this.log = []; // what went each way: {direction: 'command' | 'notice' | 'host', text}
    this.download = 'idle'; // as the host: "idle", "running", "finished"
    this.starting = false; // between an accepted "dnld" and its start notice
    this.transfer = null;
    this.partial = null; // what a failed download left, which a retry of the same address continues
    this.windowFlags = { minimized: false, maximized: false };
    this.windowKind = 'normal';
    this.windowSize = null; // {width, height, title} from resize_window
    this.closed = false;
  }

  // ---- The bridge's side: what tarvik.js talks to ----

  addEventListener(type, listener) {
    if (type === 'message' && listener && !this.#listeners.includes(listener)) this.#listeners.push(listener);
  }

  removeEventListener(type, listener) {
    if (type === 'message') this.#listeners = this.#listeners.filter((l) => l !== listener);
  }

  postMessage(message) {
    // A message that is not a string reaches the host as empty text, which is no JSON.
    const text = typeof message === 'string' ? message : '';
    if (this.closed) return;
    let command;
    try {
      if (text.includes('\0')) throw new Malformed('it holds a zero character');
      command = JSON.parse(text);
    } catch (error) {
      this.#ignore(text, error instanceof Malformed ? error.message : 'it is not JSON text');
      return;
    }
    if (!command || typeof command !== 'object' || Array.isArray(command) || !Object.hasOwn(command, 'msg_type')) {
      this.#ignore(text, 'it is not a command (no msg_type)');
      return;
    }
    if (typeof command.msg_type !== 'string') {
      this.#ignore(text, 'msg_type is not a string');
      return;
    }
    const mark = this.log.length;
    this.#record('command', text);
    try {
      this.#obey(command.msg_type, Object.hasOwn(command, 'msg_data') ? command.msg_data : null);
    } catch (error) {
      if (!(error instanceof Malformed)) throw error;
      // Every argument is read before anything is done, so nothing happened but this entry.
      this.log.splice(mark, 1);
      this.#ignore(text, error.message);
    }
    this.#render();
  }

  // ---- The desktop's side: what the panel and a test do ----

  // Sets what the next download meets; `script` as in the header.
  configure(script) {
    const { settings, problems } = parseScript(script);
    for (const item of problems) console.warn(`tarvik simulator: "${item}" is not a setting; see tarvik-simulator.js`);
    this.settings = settings;
    this.#render();
  }

  // The user minimises, maximises or restores the window outside the page.
  desktop(action) {
    if (action === 'minimize') this.windowFlags.minimized = true;
    else if (action === 'maximize') this.windowFlags.maximized = true;
    else if (action === 'restore') this.windowFlags.minimized = false; // from the taskbar
    this.#windowChanged();
    this.#render();
  }

  attachPanel(panel) {
    this.#panel = panel;
    this.#render();
  }

  // ---- The host's rules ----

  #obey(type, data) {
    switch (type) {
    case 'open_url': {
      const url = stringArgument(data, 'url');
      if (!isOpenableLink(url)) {
        this.#note(`not opened (only absolute http and https links and mail links are): ${url}`);
        return;
      }
      this.#note(`the default browser or mail program opens ${url}`);
      globalThis.open?.(url, '_blank', 'noopener');
      this.#report('4');
      return;
    }
    case 'install':
      if (this.download === 'finished') {
        this.#note('the installer starts (elevated)');
        this.#send(notices.installStarted());
      } else {
        this.#send(notices.installFailed('no_file'));
        this.#note('a message box says the installer could not be run; the file manager shows the Downloads folder');
      }
      return;
    case 'open_dnld_dir':
      this.#note(this.download === 'finished' ? 'the file manager shows the installer' : 'the file manager shows the Downloads folder');
      return;
    case 'dnld':
      this.#downloadCommand(data);
      return;
    case 'dnld_cancel':
      if (this.download === 'running' && this.transfer) this.#fail('cancelled');
      return;
    case 'post_data':
      this.#report(stringArgument(data, 'event_id'));
      return;
    case 'close': {
      const force = booleanArgument(data, 'force_close');
      if (this.download === 'running' && !force) {
        this.#send(notices.closeQuestion());
        return;
      }
      this.#stopTransfer();
      this.closed = true;
      this.#note('the program ends (status 0)');
      return;
    }
    case 'minimize':
      this.windowFlags.minimized = true;
      this.#windowChanged();
      return;
    case 'maximize':
      this.windowFlags.maximized = true;
      this.#windowChanged();
      return;
    case 'restore':
      this.windowFlags = { minimized: false, maximized: false };
      this.#windowChanged();
      return;
    case 'resize_window': {
      const width = hasMember(data, 'width') ? int32Argument(data, 'width') : 0;
      const height = hasMember(data, 'height') ? int32Argument(data, 'height') : 0;
      const title = hasMember(data, 'window_text') ? stringArgument(data, 'window_text') : this.windowSize?.title ?? '';
      this.windowSize = { width, height, title };
      this.#report('5');
      return;
    }
    case 'mousedown':
    case 'mouseup':
    case 'mousemove': {
      const x = int32Argument(data, 'x');
      const y = int32Argument(data, 'y');
      if (type !== 'mousemove') this.#note(`${type === 'mousedown' ? 'drag starts' : 'drag ends'} at ${x}, ${y}`);
      return;
    }
    default:
      throw new Malformed(`the host knows no command "${type}"`);
    }
  }

  #downloadCommand(data) {
    if (this.download === 'running') {
      this.#send(notices.start());
      return;
    }
    if (this.download === 'finished') {
      this.#send(notices.finished());
      return;
    }
    // One that arrives while another is being set up (its save dialog is open) is dropped.
    if (this.starting) return;
    const url = stringArgument(data, 'url');
    const silent = booleanArgument(data, 'silent');
    let sha256 = null;
    if (hasMember(data, 'sha256')) {
      sha256 = stringArgument(data, 'sha256');
      if (!SHA256.test(sha256)) throw new Malformed('sha256 is not 64 hexadecimal digits');
    }
    // A signature is checked only by a program built with a vendor's key, which a simulated host
    // is not; its form is read as the host reads it.
    if (hasMember(data, 'minisig')) stringArgument(data, 'minisig');
    if (!silent && this.settings.dialog === 'cancel') {
      this.#note('the save dialog was cancelled: nothing is sent');
      return;
    }
    if (!silent) this.#note('the user chose where to save');
    this.starting = true;
    // The start notice is queued before the transfer can say anything.
    this.#send(notices.start(), () => {
      this.starting = false;
      this.download = 'running';
    });
    // Where the file goes, by name and folder name: the host never tells the page a whole path.
    this.#send(notices.file(fileNameOf(url), silent ? 'Downloads' : 'Chosen folder'));
    this.#startTransfer({ url, sha256 });
  }

  #startTransfer(request) {
    const settings = { ...this.settings };
    // A retry of the same address continues what the last attempt left, as the host does.
    const resumed = this.partial && this.partial.url === request.url && settings.length ? this.partial.received : 0;
    this.partial = null;
    const transfer = {
      request,
      settings,
      received: resumed,
      furthest: resumed, // only an attempt that goes beyond this brought new bytes
      attemptStart: resumed,
      anyBytes: resumed > 0,
      dropped: false,
      gone: false, // the server went away (fail:network after bytes)
      fruitless: 0, // attempts in a row that brought no new bytes
      reconnections: 0, // told to the page, numbered over the download
      timer: 0,
      failAt: settings.fail && settings.fail !== 'verify' ? settings.failAfter ?? 0 : null,
    };
    // The host fetches http and https only; any other address fails as an unusable answer does.
    if (!/^https?:\/\/[^/]/i.test(request.url)) {
      transfer.settings = { ...settings, fail: 'http' };
      transfer.failAt = 0;
    }
    this.transfer = transfer;
    transfer.timer = setTimeout(() => this.#tick(transfer), TICK_MS);
  }

  #tick(transfer) {
    if (this.transfer !== transfer) return;
    const { settings } = transfer;
    if (transfer.gone) {
      this.#attemptBroke(transfer); // the server went away: no attempt gets a byte
      return;
    }
    if (transfer.failAt !== null && transfer.received >= transfer.failAt) {
      if (settings.fail !== 'network') {
        this.#fail(settings.fail);
        return;
      }
      transfer.gone = true;
      if (transfer.anyBytes) this.#note(`the server went away at ${transfer.received} bytes`);
      this.#attemptBroke(transfer);
      return;
    }
    if (transfer.received >= settings.size) {
      const wrongFile = transfer.request.sha256 && settings.sha256 && transfer.request.sha256.toLowerCase() !== settings.sha256;
      if (wrongFile || settings.fail === 'verify') this.#fail('verify');
      else this.#finish();
      return;
    }
    const perTick = settings.rate === 0 ? Infinity : Math.max(1, Math.floor((settings.rate * TICK_MS) / 1000));
    let next = Math.min(settings.size, transfer.received + perTick);
    if (transfer.failAt !== null) next = Math.min(next, transfer.failAt);
    const dropAt = transfer.attemptStart + settings.dropAfter;
    const drops = settings.dropAfter > 0 && !(settings.dropOnce && transfer.dropped) && dropAt < settings.size;
    if (drops && next >= dropAt) next = dropAt;
    transfer.received = next;
    transfer.anyBytes ||= next > 0;
    if (settings.length) this.#send(notices.progress(next, settings.size));
    else if (next > 0) this.#send(notices.received(next));
    if (drops && next === dropAt) {
      transfer.dropped = true;
      this.#attemptBroke(transfer);
      return;
    }
    transfer.timer = setTimeout(() => this.#tick(transfer), TICK_MS);
  }

  // A connection broke: after bytes have arrived the host tries again by itself, telling the
  // page each time it connects again, until three attempts in a row have brought nothing new.
  #attemptBroke(transfer) {
    if (transfer.received > transfer.furthest) {
      transfer.furthest = transfer.received;
      transfer.fruitless = 0;
    } else {
      transfer.fruitless += 1;
    }
    if (!transfer.anyBytes || transfer.fruitless >= RETRIES) {
      this.#fail('network');
      return;
    }
    const wait = RETRY_WAIT_MS * 2 ** transfer.fruitless;
    this.#note(`the connection broke at ${transfer.received} bytes; trying again in ${wait / 1000} s`);
    transfer.reconnections += 1;
    this.#send(notices.retry(transfer.reconnections));
    transfer.timer = setTimeout(() => {
      if (this.transfer !== transfer) return;
      // Without a length there is no validator, and so no resuming: the file starts over.
      if (!transfer.settings.length) transfer.received = 0;
      transfer.attemptStart = transfer.received;
      this.#tick(transfer);
    }, wait);
  }

  #stopTransfer() {
    if (this.transfer) clearTimeout(this.transfer.timer);
    this.transfer = null;
    this.starting = false;
  }

  #finish() {
    this.#stopTransfer();
    this.download = 'finished';
    this.#send(notices.finished());
  }

  #fail(reason) {
    const transfer = this.transfer;
    // What a broken connection left stays for a retry of the same address.
    if (reason === 'network' && transfer && transfer.received > 0) {
      this.partial = { url: transfer.request.url, received: transfer.received };
    }
    this.#stopTransfer();
    this.download = 'idle';
    this.#send(notices.failed(reason));
  }

  #windowChanged() {
    const { minimized, maximized } = this.windowFlags;
    const kind = minimized ? 'minimized' : maximized ? 'maximized' : 'normal';
    if (kind === this.windowKind) return;
    this.windowKind = kind;
    this.#send(notices.window(kind));
  }

  #report(code) {
    this.events.push(code);
    this.#record('host', `event "${code}" reported to the service`);
  }

  #note(text) {
    this.#record('host', text);
    console.info(`tarvik simulator: ${text}`);
  }

  #ignore(text, why) {
    this.#record('ignored', `${text} (${why})`);
    console.warn(`tarvik simulator: the host ignores ${JSON.stringify(text)}: ${why}`);
  }

  #record(direction, text) {
    this.log.push({ direction, text });
    if (this.log.length > 500) this.log.splice(0, this.log.length - 500);
  }

  // Notices reach the page later, never inside the command that caused them, as from the host.
  #send(notice, beforeDelivery) {
    const text = JSON.stringify(notice);
    setTimeout(() => {
      if (this.closed) return;
      beforeDelivery?.();
      this.#record('notice', text);
      const event = new MessageEvent('message', { data: notice });
      for (const listener of [...this.#listeners]) {
        try {
          if (typeof listener === 'function') listener.call(this, event);
          else listener.handleEvent(event);
        } catch (error) {
          setTimeout(() => { throw error; });
        }
      }
      this.#render();
    });
  }

  #render() {
    this.#panel?.render(this);
  }
}

// ---- The panel ----

const PANEL_STYLE = `
  :host { all: initial; }
  .panel { position: fixed; right: 8px; bottom: 8px; z-index: 2147483647; width: 280px; max-height: calc(100vh - 16px);
    overflow: auto; box-sizing: border-box; padding: 8px 10px; border-radius: 8px; background: #1b2230; color: #eef1f6;
    font: 12px/1.4 system-ui, sans-serif; box-shadow: 0 4px 16px rgba(0, 0, 0, 0.3); opacity: 0.96; }
  .panel.folded > :not(header) { display: none; }
  header { display: flex; justify-content: space-between; align-items: center; font-weight: 600; }
  button { font: inherit; color: inherit; background: #323c50; border: 1px solid #5b6578; border-radius: 4px; padding: 1px 6px; cursor: pointer; }
  button:hover { background: #414c63; }
  label { display: inline-flex; align-items: center; gap: 4px; margin: 2px 8px 2px 0; }
  input[type=text], select { font: inherit; width: 56px; color: #1b2230; background: #fff; border: 1px solid #848d9d; border-radius: 3px; padding: 0 3px; }
  input.wide { width: 150px; }
  .state { margin: 4px 0; color: #c9d2e3; }
  ol { list-style: none; margin: 4px 0 0; padding: 0; font: 11px/1.35 ui-monospace, monospace; color: #c9d2e3; }
  li { overflow: hidden; text-overflow: ellipsis; white-space: nowrap; }
  li.notice { color: #9fd3ff; } li.ignored { color: #ffb4a8; }
  .cover { position: fixed; inset: 0; z-index: 2147483646; display: flex; flex-direction: column; gap: 10px; align-items: center;
    justify-content: center; background: rgba(15, 20, 30, 0.82); color: #fff; font: 15px/1.4 system-ui, sans-serif; }
  .cover[hidden] { display: none; }
`;

class Panel {
  constructor(simulator) {
    this.simulator = simulator;
    const host = document.createElement('tarvik-simulator');
    const root = host.attachShadow({ mode: 'open' });
    root.innerHTML = `<style>${PANEL_STYLE}</style>
      <div class="cover" id="closed" hidden>The program has ended.<button id="reopen">Start it again</button></div>
      <div class="cover" id="minimized" hidden>The window is minimised.<button id="unminimize">Restore it from the taskbar</button></div>
      <section class="panel" aria-label="Tarvik simulator">
        <header><span>Tarvik simulator</span><button id="fold" aria-expanded="true">Hide</button></header>
        <div class="state" id="state"></div>
        <div>
          <label>Size <input type="text" id="size"></label>
          <label>Rate/s <input type="text" id="rate"></label>
          <label><input type="checkbox" id="length"> length known</label>
        </div>
        <div>
          <label>Drop after <input type="text" id="dropAfter"></label>
          <label><input type="checkbox" id="dropOnce"> once</label>
        </div>
        <div>
          <label>Fail <select id="fail"><option value="">no</option>${REASONS.map((r) => `<option>${r}</option>`).join('')}</select></label>
          <label>after <input type="text" id="failAfter"></label>
        </div>
        <div>
          <label>Save dialog <select id="dialog"><option value="save">saves</option><option value="cancel">is cancelled</option></select></label>
        </div>
        <div><label>SHA-256 <input type="text" class="wide" id="sha256" placeholder="any"></label></div>
        <div>Desktop: <button id="minimize">Minimise</button> <button id="maximize">Maximise</button> <button id="restore">Restore</button></div>
        <ol id="log"></ol>
      </section>`;
    this.root = root;
    this.$ = (id) => root.getElementById(id);
    (document.body ?? document.documentElement).append(host);

    // Folded, it stays folded over reloads of the tab.
    const fold = (folded) => {
      this.$('fold').closest('.panel').classList.toggle('folded', folded);
      this.$('fold').textContent = folded ? 'Show' : 'Hide';
      this.$('fold').setAttribute('aria-expanded', String(!folded));
      try {
        sessionStorage.setItem('tarvik-sim-folded', folded ? '1' : '');
      } catch {
        // storage may be off; the panel then opens unfolded
      }
    };
    let folded = false;
    try {
      folded = sessionStorage.getItem('tarvik-sim-folded') === '1';
    } catch {
      // as above
    }
    fold(folded);
    this.$('fold').addEventListener('click', () => fold(!this.$('fold').closest('.panel').classList.contains('folded')));
    for (const action of ['minimize', 'maximize', 'restore']) {
      this.$(action).addEventListener('click', () => simulator.desktop(action));
    }
    this.$('unminimize').addEventListener('click', () => simulator.desktop('restore'));
    this.$('reopen').addEventListener('click', () => location.reload());
    for (const id of ['size', 'rate', 'dropAfter', 'failAfter', 'sha256', 'fail', 'dialog', 'length', 'dropOnce']) {
      this.$(id).addEventListener('change', () => this.apply());
    }
    this.fill(simulator.settings);
  }

  fill(settings) {
    this.$('size').value = formatBytes(settings.size);
    this.$('rate').value = formatBytes(settings.rate);
    this.$('length').checked = settings.length;
    this.$('dropAfter').value = settings.dropAfter ? formatBytes(settings.dropAfter) : '';
    this.$('dropOnce').checked = settings.dropOnce;
    this.$('fail').value = settings.fail;
    this.$('failAfter').value = settings.failAfter === null ? '' : formatBytes(settings.failAfter);
    this.$('dialog').value = settings.dialog;
    this.$('sha256').value = settings.sha256;
  }

  // The fields as a script: for the next download, and in the address for the next reload.
  apply() {
    const items = [
      `size:${this.$('size').value}`, `rate:${this.$('rate').value}`,
      this.$('length').checked ? '' : 'no-length',
      this.$('dropAfter').value ? `drop-after:${this.$('dropAfter').value}` : '',
      this.$('dropOnce').checked ? 'drop-once' : '',
      this.$('fail').value ? `fail:${this.$('fail').value}` : '',
      this.$('failAfter').value ? `fail-after:${this.$('failAfter').value}` : '',
      this.$('sha256').value ? `sha256:${this.$('sha256').value}` : '',
      `dialog:${this.$('dialog').value}`,
    ];
    this.simulator.configure(items.filter(Boolean).join(','));
    this.fill(this.simulator.settings);
    const address = new URL(location.href);
    address.searchParams.set('tarvik-sim', formatScript(this.simulator.settings));
    history.replaceState(history.state, '', address);
  }

  render(simulator) {
    const size = simulator.windowSize;
    const transfer = simulator.transfer;
    const figures = transfer ? ` · ${transfer.received} of ${transfer.settings.size} bytes` : '';
    this.$('state').textContent = `Window: ${simulator.windowKind}${size ? `, ${size.width} × ${size.height}, “${size.title}”` : ', not shown yet'}`
      + ` · Download: ${simulator.starting ? 'starting' : simulator.download}${figures}`;
    const lines = simulator.log.filter((entry, i, all) => !(entry.text.includes('"dl_progress"') && all[i + 1]?.text.includes('"dl_progress"')));
    this.$('log').replaceChildren(...lines.slice(-8).map(({ direction, text }) => {
      const line = document.createElement('li');
      line.className = direction;
      line.textContent = `${{ command: '→', notice: '←', host: '·', ignored: '✗' }[direction]} ${text}`;
      line.title = text;
      return line;
    }));
    this.$('closed').hidden = !simulator.closed;
    this.$('minimized').hidden = simulator.closed || simulator.windowKind !== 'minimized';
  }
}

// Called by tarvik.js: the simulator that stands in for the host's bridge, with its panel.
export function startSimulator(script) {
  const simulator = new HostSimulator(DEFAULTS);
  simulator.configure(script);
  if (globalThis.document) {
    const attach = () => simulator.attachPanel(new Panel(simulator));
    if (document.body) attach();
    else document.addEventListener('DOMContentLoaded', attach, { once: true });
  }
  return simulator;
}
