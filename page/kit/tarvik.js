// Tarvik page kit: the host's commands as functions, its notices as events and promises.
//
// Copy this file beside your page and import it from a module script:
//
//   import tarvik from './tarvik.js';
//   const download = tarvik.download('https://downloads.example.com/files/Setup.exe');
//   download.addEventListener('progress', () => bar.value = download.percent);
//   const outcome = await download.done; // {state: 'finished'} or {state: 'failed', reason}
//
// It only wraps the messages the host has always understood (window.chrome.webview, JSON text
// out, parsed objects in), so a page written without it keeps working, and one page may mix
// both. tarvik.d.ts beside it gives the types.
//
// Opened in an ordinary browser, the page has no host. With `tarvik-sim` in the page's query
// (index.html?tarvik-sim, or ?tarvik-sim=size:8M,rate:1M,fail:http) the kit loads
// tarvik-simulator.js from its own folder, which answers every command as the host would;
// without it, commands are only logged to the console.
//
// How notices become events, so that a new notice needs no change here: a notice whose
// msg_type is "dnld" goes to the download as an event named after its status_text without the
// "dnld_" ("dnld_start" → "start"), one whose msg_type starts with "dl_" likewise
// ("dl_progress" → "progress", "dl_file" → "file"); any other notice goes to the kit itself as
// an event named after its msg_type ("window", "close", "install"). Each event's `detail` is the notice as the host sent it, and
// every notice is also dispatched to the kit as a "notice" event.

const SIMULATOR_PARAMETER = 'tarvik-sim';
const SHA256 = /^[0-9a-fA-F]{64}$/;
const WINDOW_STATES = ['normal', 'maximized', 'minimized'];

// Captured at once: the host puts its bridge in place before any script of the page runs.
const bridge = globalThis.chrome?.webview ?? null;
const simulatorScript = bridge ? null : new URLSearchParams(globalThis.location?.search ?? '').get(SIMULATOR_PARAMETER);

let channel = bridge; // where commands go: the host's bridge, or the simulator once loaded
const waiting = []; // commands sent before the simulator was ready, in order
let current = null; // the host runs one download at a time: this is the page's view of it
let windowState = null; // unknown until the host's first window notice
const closeAnswers = [];

function typeError(message) {
  return new TypeError(`tarvik: ${message}`);
}

// Every command goes through here as the host expects it: one string of JSON text.
function post(msgType, msgData) {
  const message = msgData === undefined ? { msg_type: msgType } : { msg_type: msgType, msg_data: msgData };
  const text = JSON.stringify(message);
  if (channel) channel.postMessage(text);
  else if (kit.mode === 'simulated') waiting.push(text);
  else console.info('tarvik: no host; not sent:', message);
}

// Where a notice goes and under which event name, by the rule in the header.
function routeOf(notice) {
  const type = notice.msg_type;
  if (type === 'dnld') {
    const text = notice.status_text;
    return typeof text === 'string' && text.startsWith('dnld_') ? { target: 'download', type: text.slice(5) } : null;
  }
  if (type.startsWith('dl_')) return { target: 'download', type: type.slice(3) };
  return { target: 'kit', type };
}

const DELIVER = Symbol('deliver');
const ENDED = new Set(['finished', 'failed']);

// One installer download as the host reports it. States: "requested" (the command went out; a
// cancelled save dialog leaves it there, as the host says nothing then), "running", "finished",
// "failed". Events: "start", "file" (where it is saved), "progress" (with a length), "received"
// (without one), "retry" (the host connects again), "finished", "failed", and whatever further
// "dnld" and "dl_" notices the host sends.
export class Download extends EventTarget {
  #settle;

  constructor(request) {
    super();
    this.url = request.url ?? null; // null for a download the page learned of from a notice
    this.silent = request.silent ?? null;
    this.sha256 = request.sha256 ?? null;
    this.state = 'requested';
    this.received = 0;
    this.total = null; // bytes; null until the host sends figures (never, without a length)
    this.percent = null;
    // Where the file is saved, as the host tells it ("file" event): its name and its folder's
    // name (never a whole path); null until told, and from a host that does not tell.
    this.fileName = null;
    this.folderName = null;
    this.reconnections = 0; // how often the host connected again ("retry" event)
    this.reason = null; // why it failed: "network", "http", "file", "verify", "cancelled"
    this.done = new Promise((resolve) => { this.#settle = resolve; });
  }

  get ended() {
    return ENDED.has(this.state);
  }

  // Asks the host to stop; it answers with the failure, reason "cancelled". A download that ends
  // otherwise meanwhile ends that way. Resolves as `done` does.
  cancel() {
    if (!this.ended) post('dnld_cancel');
    return this.done;
  }

  [DELIVER](type, notice) {
    if (type === 'start') {
      // The host repeats the start notice when asked again during a download; the page has it.
      if (this.state !== 'requested') return;
      this.state = 'running';
    } else if (type === 'progress') {
      if (this.ended) return;
      this.state = 'running';
      this.received = notice.dl_now;
      this.total = notice.dl_total;
      this.percent = notice.dl_progress;
    } else if (type === 'received') {
      // Without a length only the bytes so far are known; total and percent stay null.
      if (this.ended) return;
      this.state = 'running';
      this.received = notice.dl_now;
    } else if (type === 'file') {
      if (this.ended) return;
      this.fileName = notice.file_name;
      this.folderName = notice.folder_name;
    } else if (type === 'retry') {
      if (this.ended) return;
      this.reconnections = notice.attempt;
    } else if (type === 'finished' || type === 'failed') {
      // Asked again after the end, the host repeats the finished notice.
      if (this.ended) return;
      this.state = type;
      if (type === 'failed') this.reason = typeof notice.reason === 'string' ? notice.reason : 'unknown';
      this.#settle(type === 'failed' ? { state: 'failed', reason: this.reason } : { state: 'finished' });
    } else if (this.ended) {
      return;
    }
    this.dispatchEvent(new CustomEvent(type, { detail: notice }));
  }
}

function deliverToDownload(type, notice) {
  if (current && current.ended) {
    // Asked again after the end, the host repeats that the download finished; and it never
    // fails a download it has not started. Anything else is about a new download.
    if (type === 'failed' || (type === 'finished' && current.state === 'finished')) return;
    current = null;
  }
  if (!current) {
    // A download the page did not ask for through the kit: one that ran before a reload, or
    // one asked for with a raw command.
    current = new Download({});
    kit.dispatchEvent(new CustomEvent('download', { detail: current }));
  }
  current[DELIVER](type, notice);
}

function receive(data) {
  let notice = data;
  // The host sends objects; JSON text is taken too, so that another bridge still works.
  if (typeof notice === 'string') {
    try {
      notice = JSON.parse(notice);
    } catch {
      return;
    }
  }
  if (!notice || typeof notice !== 'object' || Array.isArray(notice) || typeof notice.msg_type !== 'string') return;
  notice = Object.freeze({ ...notice }); // one listener cannot change what the next one sees
  kit.dispatchEvent(new CustomEvent('notice', { detail: notice }));
  const route = routeOf(notice);
  if (!route) return;
  if (route.target === 'download') {
    deliverToDownload(route.type, notice);
    return;
  }
  if (route.type === 'window' && WINDOW_STATES.includes(notice.state)) windowState = notice.state;
  if (route.type === 'close') {
    for (const answer of closeAnswers.splice(0)) answer(notice);
  }
  kit.dispatchEvent(new CustomEvent(route.type, { detail: notice }));
}

function listen(source) {
  source.addEventListener('message', (event) => receive(event.data));
}

function checkNumber(value, name) {
  if (typeof value !== 'number' || !Number.isFinite(value)) throw typeError(`${name} must be a finite number`);
  return value;
}

function checkWebLink(url, what) {
  let parsed = null;
  try {
    parsed = new URL(url);
  } catch {
    // not absolute
  }
  if (typeof url !== 'string' || !parsed || (parsed.protocol !== 'http:' && parsed.protocol !== 'https:') || /[\s\u0000-\u001f\u007f]/.test(url)) {
    throw typeError(`${what} must be an absolute http or https address, not ${JSON.stringify(url)}`);
  }
}

// The host opens a mail link that names at least one address and holds only what a URL may hold
// as it is; it drops any other without a word.
function checkMailLink(url) {
  const rest = url.slice(url.indexOf(':') + 1);
  const plain = /^([A-Za-z0-9\-._~!$&'()*+,;=:@/?]|%[0-9A-Fa-f]{2})*$/.test(rest);
  const addressed = rest.split('?')[0].split(',').every((address) => {
    const at = address.indexOf('@');
    return at > 0 && at < address.length - 1;
  });
  if (!plain || !addressed) {
    throw typeError(`a mail link must name an address and hold only URL characters, not ${JSON.stringify(url)}`);
  }
}

// The frameless window. The page draws its title bar and buttons and asks the host through these.
const hostWindow = Object.freeze({
  // "normal", "maximized" or "minimized" as the host last said (by a command or by the
  // desktop); null before its first window notice.
  get state() {
    return windowState;
  },

  // Sizes (logical pixels at 96 dpi), titles, centres and shows the window. The host keeps the
  // window hidden until the page has sent this once.
  resize({ width, height, title } = {}) {
    const data = {};
    if (width !== undefined) data.width = checkNumber(width, 'width');
    if (height !== undefined) data.height = checkNumber(height, 'height');
    if (title !== undefined) {
      if (typeof title !== 'string') throw typeError('title must be a string');
      data.window_text = title;
    }
    post('resize_window', data);
  },

  // Call from a "mousedown" (or "pointerdown") on the page's title bar: the host moves the
  // window while the left button is held. Other buttons are left alone.
  startDrag(event) {
    if (!event || event.button !== 0) return;
    const family = event.type.startsWith('pointer') ? 'pointer' : 'mouse';
    const point = (e) => ({ x: Math.round(e.clientX), y: Math.round(e.clientY) });
    event.preventDefault(); // no text selection while dragging
    const onMove = (e) => post('mousemove', point(e));
    const onUp = (e) => {
      globalThis.removeEventListener(`${family}move`, onMove);
      globalThis.removeEventListener(`${family}up`, onUp);
      post('mouseup', point(e));
    };
    post('mousedown', point(event));
    globalThis.addEventListener(`${family}move`, onMove);
    globalThis.addEventListener(`${family}up`, onUp);
  },

  minimize() {
    post('minimize');
  },
  maximize() {
    post('maximize');
  },
  restore() {
    post('restore');
  },

  // Ends the program. While a download runs and `force` is false the host keeps the window
  // open instead, and the promise resolves with its close notice: the page then asks the user
  // and calls close({force: true}) to leave anyway. When the program ends it never resolves.
  close({ force = false } = {}) {
    if (typeof force !== 'boolean') throw typeError('force must be a boolean');
    const answer = new Promise((resolve) => closeAnswers.push(resolve));
    post('close', { force_close: force });
    return answer;
  },
});

class Tarvik extends EventTarget {
  constructor() {
    super();
    // "hosted" in the assistant's window, "simulated" with the simulator, "preview" otherwise.
    this.mode = bridge ? 'hosted' : simulatorScript !== null ? 'simulated' : 'preview';
    this.isHosted = bridge !== null;
    this.window = hostWindow;
    this.simulator = null;
    this.ready = Promise.resolve();
  }

  // The download the host runs or ran last, as far as the page knows; null before any.
  get currentDownload() {
    return current;
  }

  // Downloads the installer: silently into the Downloads folder, or where the user chooses in
  // the host's save dialog when `silent` is false. With `sha256`, the host keeps the file only if
  // it has that SHA-256 (reason "verify" otherwise); `minisig`, the text of the installer's
  // signature file, is checked by a program built with the vendor's key (without it, that program
  // fetches the signature beside the installer). The host runs one download at a time: while
  // one runs, this returns it and asks nothing; one that was asked for but has not started (its
  // save dialog is open, or was cancelled) is asked for again and returned. After a finished
  // download the host only repeats that it finished.
  download(url, { silent = true, sha256, minisig } = {}) {
    if (typeof url !== 'string') throw typeError('the installer address must be a string');
    if (typeof silent !== 'boolean') throw typeError('silent must be a boolean');
    if (sha256 !== undefined && (typeof sha256 !== 'string' || !SHA256.test(sha256))) {
      throw typeError('sha256 must be 64 hexadecimal digits');
    }
    if (minisig !== undefined && typeof minisig !== 'string') throw typeError('minisig must be a string');
    if (current && current.state === 'running') return current;
    const request = { url, silent };
    if (sha256 !== undefined) request.sha256 = sha256;
    if (minisig !== undefined) request.minisig = minisig;
    if (current && current.state === 'requested') {
      Object.assign(current, { sha256: null }, request);
    } else {
      current = new Download(request);
    }
    post('dnld', request);
    return current;
  }

  // Starts the downloaded installer (elevated); before a download has finished, or when it
  // cannot be started, the host says so in a message box and shows the file or its folder.
  install() {
    post('install');
  }

  // Shows the downloaded file in the file manager (before one has finished: its folder).
  reveal() {
    post('open_dnld_dir');
  }

  // Opens an http or https address in the default browser, a mail link (with an address) in the
  // mail program.
  openUrl(url) {
    if (typeof url === 'string' && /^mailto:/i.test(url)) checkMailLink(url);
    else checkWebLink(url, 'the address');
    post('open_url', { url });
  }

  // Reports a usage event to the vendor's service.
  report(event) {
    if (typeof event !== 'string') throw typeError('an event code must be a string');
    post('post_data', { event_id: event });
  }

  // Any command as it is, for one this kit does not wrap.
  send(msgType, msgData) {
    if (typeof msgType !== 'string') throw typeError('msg_type must be a string');
    post(msgType, msgData);
  }
}

const kit = new Tarvik();
export default kit;

export const { isHosted } = kit;
export const download = (url, options) => kit.download(url, options);
export const install = () => kit.install();
export const reveal = () => kit.reveal();
export const openUrl = (url) => kit.openUrl(url);
export const report = (event) => kit.report(event);
export { hostWindow };

if (bridge) {
  listen(bridge);
} else if (simulatorScript !== null) {
  kit.ready = import('./tarvik-simulator.js').then(({ startSimulator }) => {
    const simulator = startSimulator(simulatorScript);
    kit.simulator = simulator;
    listen(simulator);
    channel = simulator;
    for (const text of waiting.splice(0)) simulator.postMessage(text);
  }, (error) => {
    console.warn('tarvik: the simulator (tarvik-simulator.js beside tarvik.js) could not be loaded:', error);
    kit.mode = 'preview';
    for (const text of waiting.splice(0)) console.info('tarvik: no host; not sent:', JSON.parse(text));
  });
}
