// Tarvik reference page: the whole user interface of the installation assistant.
//
// The page talks to the host through window.chrome.webview: commands go out as strings of JSON
// text ({msg_type, msg_data}), notices come back as objects in 'message' events. It runs the
// same in Chromium and WebKitGTK, and in a plain browser as a preview (commands are then only
// logged to the console).
//
// ---- Knobs for vendors -------------------------------------------------------------------
// Each setting comes from, in rising priority: PAGE_DEFAULTS below, a JSON file with the same
// keys (the `config` query parameter names it; without it and without `installer` in the query,
// `config.json` beside the page is tried), and the page's own query parameters, e.g.
//   index.html?product=My%20App&installer=https%3A%2F%2Fexample.com%2Fsetup.exe
const PAGE_DEFAULTS = {
  product: 'Setup', // product name: title bar, heading and window title
  installer: '', // address of the installer the Download button fetches (http or https)
  tagline: 'Get the installer and set up in a minute.',
  homepage: '', // footer links, hidden when empty; they open in the default browser
  privacy: '',
  help: '',
};
// The window's size in logical pixels, sent to the host on load.
const WINDOW_SIZE = { width: 640, height: 420 };
// Usage events sent through "post_data"; the vendor's service counts them by these codes.
const EVENTS = {
  pageShown: 'page_shown',
  downloadClicked: 'download_clicked',
  saveAsClicked: 'save_as_clicked',
  retryClicked: 'retry_clicked',
  installClicked: 'install_clicked',
};
// Texts that the script writes; the rest of the wording is in index.html.
const TEXT = {
  failure: {
    network: 'The connection to the download server was lost or could not be made. Check your internet connection and try again.',
    http: 'The download server could not provide the installer right now. Please try again in a little while.',
    file: 'The installer could not be saved. Make sure there is enough free disk space and that the folder can be written to.',
    other: 'Something went wrong while downloading. Please try again.',
  },
  noInstaller: 'No installer address is set for this page.',
  announceStart: 'Download started.',
  announceProgress: (percent) => `Downloaded ${percent} percent.`,
  announceFinished: 'Download complete. The installer is ready.',
  announceFailed: 'The download did not finish.',
  bytesOf: (done, total) => `${done} of ${total}`,
  speed: (perSecond) => `${perSecond}/s`,
  timeLeft: (duration) => `${duration} left`,
  maximise: 'Maximise',
  restore: 'Restore',
};
// How long the page waits for its JSON settings before it shows itself with what it has.
const CONFIG_TIMEOUT_MS = 2000;
// -------------------------------------------------------------------------------------------

// ---- Host bridge ----

const host = (() => {
  const webview = window.chrome && window.chrome.webview;
  if (!webview) console.info('Tarvik page: no host bridge, running as a preview');
  return {
    send(msgType, msgData) {
      const message = msgData === undefined ? { msg_type: msgType } : { msg_type: msgType, msg_data: msgData };
      if (webview) webview.postMessage(JSON.stringify(message));
      else console.info('Tarvik page → host:', message);
    },
    onNotice(handler) {
      if (!webview) {
        // In a plain browser, notices can be tried from the console, e.g.
        // tarvikPreviewNotice({msg_type: 'dnld', status: 1, status_text: 'dnld_start'})
        window.tarvikPreviewNotice = handler;
        return;
      }
      webview.addEventListener('message', (event) => {
        let notice = event.data;
        // The host sends objects; a string is accepted too so a different bridge still works.
        if (typeof notice === 'string') {
          try { notice = JSON.parse(notice); } catch { return; }
        }
        if (notice && typeof notice === 'object') handler(notice);
      });
    },
  };
})();

function reportEvent(code) {
  host.send('post_data', { event_id: code });
}

// ---- Settings ----

function querySettings() {
  const query = new URLSearchParams(window.location.search);
  const settings = {};
  for (const key of [...Object.keys(PAGE_DEFAULTS), 'config']) {
    if (query.has(key)) settings[key] = query.get(key);
  }
  return settings;
}

async function fetchJsonSettings(url) {
  const controller = new AbortController();
  const timer = setTimeout(() => controller.abort(), CONFIG_TIMEOUT_MS);
  try {
    const response = await fetch(url, { signal: controller.signal, cache: 'no-store' });
    if (!response.ok) return {};
    const json = await response.json();
    return json && typeof json === 'object' && !Array.isArray(json) ? json : {};
  } catch {
    return {}; // missing or broken settings: the defaults and the query still apply
  } finally {
    clearTimeout(timer);
  }
}

async function loadSettings() {
  const fromQuery = querySettings();
  let configUrl = fromQuery.config;
  if (!configUrl && !fromQuery.installer && window.location.protocol.startsWith('http')) {
    configUrl = 'config.json';
  }
  const fromFile = configUrl ? await fetchJsonSettings(configUrl) : {};
  const settings = { ...PAGE_DEFAULTS };
  for (const source of [fromFile, fromQuery]) {
    for (const key of Object.keys(PAGE_DEFAULTS)) {
      if (typeof source[key] === 'string') settings[key] = source[key];
    }
  }
  return settings;
}

// Only absolute http and https addresses: the host hands links to the desktop, and the
// installer address goes to the host's download.
function isWebLink(url) {
  try {
    const parsed = new URL(url);
    return parsed.protocol === 'http:' || parsed.protocol === 'https:';
  } catch {
    return false;
  }
}

// ---- Formatting ----

// Binary units with the labels people know from file managers: 1.5 MB is 1.5 × 1024 × 1024.
function formatBytes(bytes) {
  const units = ['B', 'KB', 'MB', 'GB', 'TB'];
  let value = Math.max(0, Number(bytes) || 0);
  let unit = 0;
  // 1023.5 and up would round to "1024" of a unit: that is one of the next unit.
  while (value >= 1023.5 && unit < units.length - 1) {
    value /= 1024;
    unit += 1;
  }
  if (unit === 0) return `${Math.round(value)} B`;
  return `${value < 100 ? value.toFixed(1) : Math.round(value)} ${units[unit]}`;
}

function formatDuration(seconds) {
  const s = Math.max(1, Math.ceil(seconds));
  if (s < 60) return `${s} s`;
  if (s < 3600) {
    const rest = s % 60;
    return rest ? `${Math.floor(s / 60)} min ${rest} s` : `${s / 60} min`;
  }
  return `${Math.floor(s / 3600)} h ${Math.floor((s % 3600) / 60)} min`;
}

// ---- Download speed ----

// Speed over the last few seconds, so a short stall or burst does not swing the time left.
class SpeedMeter {
  constructor(windowMs = 4000) {
    this.windowMs = windowMs;
    this.samples = [];
  }

  reset() {
    this.samples = [];
  }

  add(bytes, now = performance.now()) {
    this.samples.push({ bytes, now });
    while (this.samples.length > 2 && now - this.samples[0].now > this.windowMs) this.samples.shift();
  }

  // Bytes per second, or null until enough time has passed to say.
  bytesPerSecond() {
    if (this.samples.length < 2) return null;
    const first = this.samples[0];
    const last = this.samples[this.samples.length - 1];
    const elapsed = (last.now - first.now) / 1000;
    if (elapsed < 0.5) return null;
    return Math.max(0, (last.bytes - first.bytes) / elapsed);
  }
}

// ---- The page ----

const $ = (id) => document.getElementById(id);

const ui = {
  states: {
    idle: $('state-idle'),
    downloading: $('state-downloading'),
    finished: $('state-finished'),
    failed: $('state-failed'),
  },
  announcer: $('announcer'),
  bar: $('progress-bar'),
  fill: $('progress-fill'),
  percent: $('progress-percent'),
  bytes: $('progress-bytes'),
  speed: $('progress-speed'),
  separator: $('progress-separator'),
  eta: $('progress-eta'),
  failureMessage: $('failure-message'),
  confirm: $('confirm-close'),
};

const page = {
  settings: { ...PAGE_DEFAULTS },
  state: 'idle',
  silent: true, // how the last download was asked for, so "Try again" repeats it
  maximized: false,
  speed: new SpeedMeter(),
  announcedTenth: -1,
};

function announce(text) {
  ui.announcer.textContent = text;
}

function showState(name) {
  page.state = name;
  for (const [key, element] of Object.entries(ui.states)) element.hidden = key !== name;
  if (name !== 'downloading') closeConfirm();
}

function showIndeterminate() {
  ui.bar.classList.add('indeterminate');
  ui.bar.removeAttribute('aria-valuenow');
  ui.fill.style.width = '';
  ui.percent.textContent = '';
  ui.bytes.textContent = '';
  ui.speed.textContent = '';
  ui.eta.textContent = '';
  ui.separator.hidden = true;
}

function startDownload(silent) {
  if (!page.settings.installer) return;
  page.silent = silent;
  host.send('dnld', { url: page.settings.installer, silent });
  // The page changes only when the host's start notice arrives: a cancelled save dialog sends
  // nothing, and the page must then still offer the buttons.
}

function onDownloadStarted() {
  // The host repeats the start notice when "dnld" arrives during a download; the progress shown
  // so far stays.
  if (page.state === 'downloading') return;
  page.speed.reset();
  page.announcedTenth = -1;
  showIndeterminate();
  showState('downloading');
  announce(TEXT.announceStart);
}

function onProgress(notice) {
  if (page.state !== 'downloading') {
    if (page.state === 'finished') return; // a late figure after the end changes nothing
    onDownloadStarted();
  }
  const done = Number(notice.dl_now) || 0;
  const total = Number(notice.dl_total) || 0;
  // The host's percentage may pass 100 when the server's length was wrong.
  const percent = Math.min(100, Math.max(0, Number(notice.dl_progress) || 0));
  const shown = Math.floor(percent);

  ui.bar.classList.remove('indeterminate');
  ui.bar.setAttribute('aria-valuenow', String(shown));
  ui.fill.style.width = `${percent}%`;
  ui.percent.textContent = `${shown}%`;
  ui.bytes.textContent = TEXT.bytesOf(formatBytes(done), formatBytes(Math.max(total, done)));

  page.speed.add(done);
  const perSecond = page.speed.bytesPerSecond();
  if (perSecond === null) {
    ui.speed.textContent = '';
    ui.eta.textContent = '';
  } else {
    ui.speed.textContent = TEXT.speed(formatBytes(perSecond));
    ui.eta.textContent = perSecond > 0 && total > done ? TEXT.timeLeft(formatDuration((total - done) / perSecond)) : '';
  }
  ui.separator.hidden = !(ui.speed.textContent && ui.eta.textContent);

  // Screen readers hear every tenth, not every notice.
  const tenth = Math.floor(shown / 10);
  if (tenth !== page.announcedTenth && tenth > 0 && tenth < 10) {
    page.announcedTenth = tenth;
    announce(TEXT.announceProgress(tenth * 10));
  }
}

function onFinished() {
  showState('finished');
  announce(TEXT.announceFinished);
  $('install-button').focus();
}

function onFailed(reason) {
  ui.failureMessage.textContent = TEXT.failure[reason] || TEXT.failure.other;
  showState('failed');
  announce(`${TEXT.announceFailed} ${ui.failureMessage.textContent}`);
  $('retry-button').focus();
}

// ---- Closing during a download ----

let focusBeforeConfirm = null;

function openConfirm() {
  if (!ui.confirm.hidden) return;
  focusBeforeConfirm = document.activeElement;
  ui.confirm.hidden = false;
  $('confirm-cancel').focus(); // the safe choice is the default
}

function closeConfirm() {
  if (ui.confirm.hidden) return;
  ui.confirm.hidden = true;
  if (focusBeforeConfirm && document.contains(focusBeforeConfirm)) focusBeforeConfirm.focus();
  focusBeforeConfirm = null;
}

function onConfirmKey(event) {
  if (event.key === 'Escape') {
    event.preventDefault();
    closeConfirm();
  } else if (event.key === 'Tab') {
    // Keeps the focus inside the question while it is open.
    const buttons = [$('confirm-cancel'), $('confirm-stop')];
    const index = buttons.indexOf(document.activeElement);
    const next = (index + (event.shiftKey ? -1 : 1) + buttons.length) % buttons.length;
    event.preventDefault();
    buttons[next].focus();
  }
}

// ---- Notices from the host ----

function onNotice(notice) {
  if (notice.msg_type === 'dl_progress') {
    onProgress(notice);
  } else if (notice.msg_type === 'dnld') {
    if (notice.status_text === 'dnld_start') onDownloadStarted();
    else if (notice.status_text === 'dnld_finished') onFinished();
    else if (notice.status_text === 'dnld_failed') onFailed(notice.reason);
  } else if (notice.msg_type === 'close' && notice.status_text === 'dnld_running') {
    openConfirm();
  }
}

// ---- Window dragging ----

// The host moves the window while the button is held; it needs the client coordinates of the
// press and of each move, as whole numbers.
function wireTitleBarDrag(titleBar) {
  const point = (event) => ({ x: Math.round(event.clientX), y: Math.round(event.clientY) });
  const onMove = (event) => host.send('mousemove', point(event));
  const onUp = (event) => {
    window.removeEventListener('mousemove', onMove);
    window.removeEventListener('mouseup', onUp);
    host.send('mouseup', point(event));
  };
  titleBar.addEventListener('mousedown', (event) => {
    if (event.button !== 0 || event.target.closest('button')) return;
    event.preventDefault(); // no text selection while dragging
    host.send('mousedown', point(event));
    window.addEventListener('mousemove', onMove);
    window.addEventListener('mouseup', onUp);
  });
  titleBar.addEventListener('dblclick', (event) => {
    if (!event.target.closest('button')) toggleMaximized();
  });
}

function toggleMaximized() {
  page.maximized = !page.maximized;
  host.send(page.maximized ? 'maximize' : 'restore');
  document.body.classList.toggle('maximized', page.maximized);
  const label = page.maximized ? TEXT.restore : TEXT.maximise;
  $('maximize-button').setAttribute('aria-label', label);
  $('maximize-button').title = label;
}

// ---- Start ----

function applySettings(settings) {
  page.settings = settings;
  const name = settings.product;
  document.title = name;
  $('window-title').textContent = name;
  $('product-name').textContent = name;
  $('product-initial').textContent = Array.from(name.trim())[0] || '';
  $('tagline').textContent = settings.tagline;
  $('tagline').hidden = !settings.tagline;
  for (const [key, id] of [['homepage', 'homepage-link'], ['privacy', 'privacy-link'], ['help', 'help-link']]) {
    const link = $(id);
    link.hidden = !isWebLink(settings[key]);
    if (!link.hidden) link.href = settings[key];
  }
  if (!isWebLink(settings.installer)) {
    settings.installer = '';
    $('download-button').disabled = true;
    $('save-as-button').disabled = true;
    $('idle-hint').textContent = TEXT.noInstaller;
  }
}

function wireControls() {
  $('minimize-button').addEventListener('click', () => host.send('minimize'));
  $('maximize-button').addEventListener('click', toggleMaximized);
  // When nothing is downloading the host simply closes; otherwise it answers with the close
  // notice and the page asks first.
  $('close-button').addEventListener('click', () => host.send('close', { force_close: false }));

  $('download-button').addEventListener('click', () => {
    reportEvent(EVENTS.downloadClicked);
    startDownload(true);
  });
  $('save-as-button').addEventListener('click', () => {
    reportEvent(EVENTS.saveAsClicked);
    startDownload(false);
  });
  $('retry-button').addEventListener('click', () => {
    reportEvent(EVENTS.retryClicked);
    startDownload(page.silent);
  });
  $('install-button').addEventListener('click', () => {
    reportEvent(EVENTS.installClicked);
    host.send('install');
  });
  $('show-folder-button').addEventListener('click', () => host.send('open_dnld_dir'));

  $('confirm-cancel').addEventListener('click', closeConfirm);
  $('confirm-stop').addEventListener('click', () => {
    host.send('close', { force_close: true });
    closeConfirm();
  });
  ui.confirm.addEventListener('keydown', onConfirmKey);

  // Every web link opens in the default browser; the window itself never navigates away.
  document.addEventListener('click', (event) => {
    const link = event.target.closest('a[href]');
    if (!link) return;
    event.preventDefault();
    if (isWebLink(link.href)) host.send('open_url', { url: link.href });
  });

  wireTitleBarDrag($('titlebar'));
}

async function start() {
  wireControls();
  host.onNotice(onNotice);
  applySettings(await loadSettings());
  // The host keeps the window hidden until it knows its size.
  host.send('resize_window', { width: WINDOW_SIZE.width, height: WINDOW_SIZE.height, window_text: page.settings.product });
  reportEvent(EVENTS.pageShown);
}

start();
