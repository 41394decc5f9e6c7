// Tarvik reference page: the whole user interface of the installation assistant.
//
// The page talks to the host through the page kit (kit/tarvik.js): its commands are the kit's
// functions, the host's notices the kit's events. It runs the same in Chromium and WebKitGTK,
// and in an ordinary browser with the kit's simulator (index.html?tarvik-sim, see
// kit/tarvik-simulator.js) or, without it, as a preview that only logs its commands.
//
import tarvik from './kit/tarvik.js';


// ---- Knobs for vendors -------------------------------------------------------------------
// Each setting comes from, in rising priority: PAGE_DEFAULTS below, a JSON file with the same
// keys (the `config` query parameter names it; without it and without `installer` in the query,
// `config.json` beside the page is tried), and the page's own query parameters, e.g.
//   index.html?product=My%20App&installer=https%3A%2F%2Fexample.com%2Fsetup.exe
const PAGE_DEFAULTS = {
  product: 'Setup', // product name: title bar, heading and window title
  installer: '', // address of the installer the Download button fetches (http or https)
  // The installer's SHA-256 as 64 hex digits, when you publish one: the host then keeps the
  // download only if its bytes match. A value that is not 64 hex digits disables the download
  // rather than skipping the check you asked for.
  sha256: '',
  tagline: null, // the line under the name; null: the language's own (TEXTS.*.tagline), '' none
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
  cancelClicked: 'cancel_clicked',
  installClicked: 'install_clicked',
};
// The page's wording in each language it speaks: English and Chinese, picked from the user's
// languages (navigator.languages, which the host fills from the desktop's locale). `static` holds
// the texts of index.html, by the names in its data-text (text) and data-label (aria-label and
// title) attributes; the rest the script writes. A failure's heading and message depend on its
// reason and on how far the download came: `reached` is 'yes' when bytes had arrived, 'no' when
// none had, and 'unknown' when the server gave no length (the host then reports no figures).
const TEXTS = {};
TEXTS.en = {
  static: {
    minimise: 'Minimise',
    close: 'Close',
    download: 'Download',
    saveAs: 'Save as…',
    idleHintBefore: 'Saves ',
    idleHintAfter: ' to your Downloads folder. Choose “Save as…” to pick another place.',
    progress: 'Download progress',
    complete: 'Download complete',
    showInFolder: 'Show in folder',
    install: 'Install',
    retry: 'Try again',
    links: 'Links',
    website: 'Website',
    privacy: 'Privacy',
    help: 'Help',
    confirmTitle: 'The installer is still downloading',
    confirmText: 'Closing the window stops the download and removes the unfinished file. You can also cancel the download and keep the window open.',
    keepDownloading: 'Keep downloading',
    cancelDownload: 'Cancel download',
  },
  tagline: 'Get the installer and set up in a minute.',
  time: { s: (n) => `${n} s`, min: (n) => `${n} min`, h: (n) => `${n} h` },
  failure: {
    network: {
      title: (c) => ({ yes: 'The download was interrupted', no: 'The download could not start' })[c.reached]
        ?? 'The connection was lost',
      text: (c) => (c.reached === 'no'
        ? 'The download server could not be reached. Check that this computer is online, then try again: the server may also be busy for a moment.'
        : `The connection to the download server was lost${c.progress ? ` after ${c.progress}` : ''}. That can happen at the server or anywhere on the way, not only on your connection. Try again.`),
    },
    http: {
      title: (c) => (c.reached === 'yes' ? 'The download did not finish' : 'The download could not start'),
      text: () => 'The download server did not hand out the installer. This is a problem on the server’s side, not yours: try again in a few minutes.',
    },
    file: {
      title: () => 'The installer could not be saved',
      text: (c) => `Writing to ${c.place} failed. Make sure the disk has free space and that the folder can be written to, then try again.`,
    },
    verify: {
      title: () => 'The download was damaged',
      text: () => 'The file that arrived is not the installer the vendor published, so it was not kept. It may have been damaged on the way: try again.',
    },
    cancelled: {
      title: () => 'Download cancelled',
      text: () => 'The download was stopped and the unfinished file removed. Download again whenever you are ready.',
    },
    other: {
      title: (c) => ({ yes: 'The download did not finish', no: 'The download could not start' })[c.reached]
        ?? 'The download failed',
      text: () => 'Something went wrong while downloading. Please try again.',
    },
  },
  noInstaller: 'No installer address is set for this page.',
  badChecksum: 'The installer’s SHA-256 setting is not 64 hex digits, so the download is off.',
  downloading: 'Downloading…',
  downloadingSizeUnknown: 'Downloading… (size unknown)',
  attempt: (n) => `Attempt ${n}`,
  elapsed: (duration) => `${duration} elapsed`,
  goesTo: (silent) => (silent ? 'to your Downloads folder' : 'to the place you chose'),
  goesToFolder: (folder) => `to the folder “${folder}”`,
  finishedPlace: (silent) => `Saved ${silent ? 'in your Downloads folder' : 'in the place you chose'}. Install it now, or later from there.`,
  finishedIn: (folder) => `Saved in the folder “${folder}”. Install it now, or later from there.`,
  place: (silent) => (silent ? 'your Downloads folder' : 'the place you chose'),
  placeFolder: (folder) => `the folder “${folder}”`,
  reconnecting: 'Reconnecting…',
  announceReconnecting: 'The connection was lost. Reconnecting…',
  bytesSoFar: (done) => `${done} so far`,
  installStarting: 'Starting the installer…',
  installStarted: 'The installer has started. Follow its steps to finish.',
  installFailed: {
    dismissed: 'The installer did not start: the request for administrator rights was dismissed.',
    not_authorized: 'The installer did not start: administrator rights could not be given.',
    not_executable: 'The installer cannot be run from where it was saved. Open its folder and start it yourself.',
    no_file: 'The installer file is no longer there. Download it again.',
    other: 'The installer could not be started. Open its folder and start it yourself.',
  },
  retry: 'Try again',
  downloadAgain: 'Download again',
  cancel: 'Cancel',
  cancelling: 'Cancelling…',
  announceStart: 'Download started.',
  announceAttempt: (n) => `Download started again, attempt ${n}.`,
  announceSizeUnknown: 'The server did not say how large the installer is.',
  announceProgress: (percent) => `Downloaded ${percent} percent.`,
  announceFinished: 'Download complete. The installer is ready.',
  bytesOf: (done, total) => `${done} of ${total}`,
  speed: (perSecond) => `${perSecond}/s`,
  timeLeft: (duration) => `${duration} left`,
  maximise: 'Maximise',
  restore: 'Restore',
};
TEXTS.zh = {
  static: {
    minimise: '最小化',
    close: '关闭',
    download: '下载',
    saveAs: '另存为…',
    idleHintBefore: '将 ',
    idleHintAfter: ' 保存到“下载”文件夹。选择“另存为…”可以保存到其他位置。',
    progress: '下载进度',
    complete: '下载完成',
    showInFolder: '在文件夹中显示',
    install: '安装',
    retry: '重试',
    links: '链接',
    website: '网站',
    privacy: '隐私',
    help: '帮助',
    confirmTitle: '安装程序仍在下载',
    confirmText: '关闭窗口会停止下载并删除未完成的文件。您也可以取消下载并保留窗口。',
    keepDownloading: '继续下载',
    cancelDownload: '取消下载',
  },
  tagline: '获取安装程序，一分钟即可完成安装。',
  time: { s: (n) => `${n} 秒`, min: (n) => `${n} 分钟`, h: (n) => `${n} 小时` },
  failure: {
    network: {
      title: (c) => ({ yes: '下载中断了', no: '无法开始下载' })[c.reached] ?? '连接已断开',
      text: (c) => (c.reached === 'no'
        ? '无法连接到下载服务器。请检查这台电脑是否已联网，然后重试；服务器也可能暂时繁忙。'
        : `与下载服务器的连接${c.progress ? `在下载 ${c.progress} 后` : ''}断开了。问题可能出在服务器或途中的任何地方，不一定是您的网络。请重试。`),
    },
    http: {
      title: (c) => (c.reached === 'yes' ? '下载未完成' : '无法开始下载'),
      text: () => '下载服务器没有提供安装程序。这是服务器端的问题，不是您的问题：请过几分钟再试。',
    },
    file: {
      title: () => '无法保存安装程序',
      text: (c) => `写入${c.place}失败。请确认磁盘有剩余空间并且该文件夹可以写入，然后重试。`,
    },
    verify: {
      title: () => '下载的文件已损坏',
      text: () => '收到的文件不是厂商发布的安装程序，因此没有保留。它可能在传输途中损坏了：请重试。',
    },
    cancelled: {
      title: () => '下载已取消',
      text: () => '下载已停止，未完成的文件已删除。准备好后可以重新下载。',
    },
    other: {
      title: (c) => ({ yes: '下载未完成', no: '无法开始下载' })[c.reached] ?? '下载失败',
      text: () => '下载时出了问题。请重试。',
    },
  },
  noInstaller: '此页面没有设置安装程序的地址。',
  badChecksum: '安装程序的 SHA-256 设置不是 64 位十六进制数字，因此下载已关闭。',
  downloading: '正在下载…',
  downloadingSizeUnknown: '正在下载…（大小未知）',
  attempt: (n) => `第 ${n} 次尝试`,
  elapsed: (duration) => `已用 ${duration}`,
  goesTo: (silent) => (silent ? '到“下载”文件夹' : '到您选择的位置'),
  goesToFolder: (folder) => `到文件夹“${folder}”`,
  finishedPlace: (silent) => `已保存${silent ? '到“下载”文件夹' : '到您选择的位置'}。现在安装，或以后从那里安装。`,
  finishedIn: (folder) => `已保存到文件夹“${folder}”。现在安装，或以后从那里安装。`,
  place: (silent) => (silent ? '“下载”文件夹' : '您选择的位置'),
  placeFolder: (folder) => `文件夹“${folder}”`,
  reconnecting: '正在重新连接…',
  announceReconnecting: '连接已断开，正在重新连接…',
  bytesSoFar: (done) => `已下载 ${done}`,
  installStarting: '正在启动安装程序…',
  installStarted: '安装程序已启动。请按照其步骤完成安装。',
  installFailed: {
    dismissed: '安装程序未启动：获取管理员权限的请求被取消。',
    not_authorized: '安装程序未启动：无法获得管理员权限。',
    not_executable: '安装程序无法在保存的位置运行。请打开其文件夹并手动启动。',
    no_file: '安装程序文件已不存在。请重新下载。',
    other: '无法启动安装程序。请打开其文件夹并手动启动。',
  },
  retry: '重试',
  downloadAgain: '重新下载',
  cancel: '取消',
  cancelling: '正在取消…',
  announceStart: '已开始下载。',
  announceAttempt: (n) => `已重新开始下载，第 ${n} 次尝试。`,
  announceSizeUnknown: '服务器没有告知安装程序的大小。',
  announceProgress: (percent) => `已下载百分之 ${percent}。`,
  announceFinished: '下载完成。安装程序已准备就绪。',
  bytesOf: (done, total) => `${done} / ${total}`,
  speed: (perSecond) => `${perSecond}/秒`,
  timeLeft: (duration) => `剩余 ${duration}`,
  maximise: '最大化',
  restore: '还原',
};

TEXTS.de = {
  static: {
    minimise: 'Minimieren',
    close: 'Schließen',
    download: 'Herunterladen',
    saveAs: 'Speichern unter…',
    idleHintBefore: 'Speichert ',
    idleHintAfter: ' in Ihrem Download-Ordner. Mit „Speichern unter…“ wählen Sie einen anderen Ort.',
    progress: 'Fortschritt des Downloads',
    complete: 'Download abgeschlossen',
    showInFolder: 'Im Ordner zeigen',
    install: 'Installieren',
    retry: 'Erneut versuchen',
    links: 'Links',
    website: 'Website',
    privacy: 'Datenschutz',
    help: 'Hilfe',
    confirmTitle: 'Das Installationsprogramm wird noch heruntergeladen',
    confirmText: 'Wenn Sie das Fenster schließen, wird der Download beendet und die unvollständige Datei entfernt. Sie können den Download auch abbrechen und das Fenster offen lassen.',
    keepDownloading: 'Weiter herunterladen',
    cancelDownload: 'Download abbrechen',
  },
  tagline: 'Holen Sie sich das Installationsprogramm und richten Sie alles in einer Minute ein.',
  time: { s: (n) => `${n} s`, min: (n) => `${n} min`, h: (n) => `${n} h` },
  failure: {
    network: {
      title: (c) => ({ yes: 'Der Download wurde unterbrochen', no: 'Der Download konnte nicht beginnen' })[c.reached]
        ?? 'Die Verbindung wurde getrennt',
      text: (c) => (c.reached === 'no'
        ? 'Der Download-Server war nicht erreichbar. Prüfen Sie, ob dieser Computer online ist, und versuchen Sie es erneut: Der Server kann auch kurz ausgelastet sein.'
        : `Die Verbindung zum Download-Server wurde${c.progress ? ` nach ${c.progress}` : ''} getrennt. Das kann am Server oder irgendwo auf dem Weg liegen, nicht nur an Ihrer Verbindung. Versuchen Sie es erneut.`),
    },
    http: {
      title: (c) => (c.reached === 'yes' ? 'Der Download wurde nicht abgeschlossen' : 'Der Download konnte nicht beginnen'),
      text: () => 'Der Download-Server hat das Installationsprogramm nicht ausgeliefert. Das ist ein Problem des Servers, nicht Ihres: Versuchen Sie es in einigen Minuten erneut.',
    },
    file: {
      title: () => 'Das Installationsprogramm konnte nicht gespeichert werden',
      text: (c) => `Das Schreiben in ${c.place} ist fehlgeschlagen. Stellen Sie sicher, dass auf dem Datenträger Platz ist und der Ordner beschreibbar ist, und versuchen Sie es erneut.`,
    },
    verify: {
      title: () => 'Der Download war beschädigt',
      text: () => 'Die empfangene Datei ist nicht das Installationsprogramm, das der Hersteller veröffentlicht hat, und wurde daher nicht behalten. Sie wurde vielleicht unterwegs beschädigt: Versuchen Sie es erneut.',
    },
    cancelled: {
      title: () => 'Download abgebrochen',
      text: () => 'Der Download wurde beendet und die unvollständige Datei entfernt. Laden Sie erneut herunter, wann immer Sie bereit sind.',
    },
    other: {
      title: (c) => ({ yes: 'Der Download wurde nicht abgeschlossen', no: 'Der Download konnte nicht beginnen' })[c.reached]
        ?? 'Der Download ist fehlgeschlagen',
      text: () => 'Beim Herunterladen ist etwas schiefgegangen. Bitte versuchen Sie es erneut.',
    },
  },
  noInstaller: 'Für diese Seite ist keine Adresse des Installationsprogramms festgelegt.',
  badChecksum: 'Die SHA-256-Einstellung des Installationsprogramms hat nicht 64 Hexadezimalziffern, daher ist der Download abgeschaltet.',
  downloading: 'Wird heruntergeladen…',
  downloadingSizeUnknown: 'Wird heruntergeladen… (Größe unbekannt)',
  attempt: (n) => `Versuch ${n}`,
  elapsed: (duration) => `seit ${duration}`,
  goesTo: (silent) => (silent ? 'in Ihren Download-Ordner' : 'an den gewählten Ort'),
  goesToFolder: (folder) => `in den Ordner „${folder}“`,
  finishedPlace: (silent) => `Gespeichert ${silent ? 'in Ihrem Download-Ordner' : 'am gewählten Ort'}. Installieren Sie es jetzt oder später von dort.`,
  finishedIn: (folder) => `Gespeichert im Ordner „${folder}“. Installieren Sie es jetzt oder später von dort.`,
  place: (silent) => (silent ? 'Ihren Download-Ordner' : 'den gewählten Ort'),
  placeFolder: (folder) => `den Ordner „${folder}“`,
  reconnecting: 'Verbindung wird wiederhergestellt…',
  announceReconnecting: 'Die Verbindung wurde getrennt. Sie wird wiederhergestellt…',
  bytesSoFar: (done) => `${done} bisher`,
  installStarting: 'Das Installationsprogramm wird gestartet…',
  installStarted: 'Das Installationsprogramm wurde gestartet. Folgen Sie seinen Schritten.',
  installFailed: {
    dismissed: 'Das Installationsprogramm wurde nicht gestartet: Die Anfrage nach Administratorrechten wurde abgebrochen.',
    not_authorized: 'Das Installationsprogramm wurde nicht gestartet: Administratorrechte konnten nicht erteilt werden.',
    not_executable: 'Das Installationsprogramm kann an seinem Speicherort nicht ausgeführt werden. Öffnen Sie seinen Ordner und starten Sie es selbst.',
    no_file: 'Die Datei des Installationsprogramms ist nicht mehr da. Laden Sie sie erneut herunter.',
    other: 'Das Installationsprogramm konnte nicht gestartet werden. Öffnen Sie seinen Ordner und starten Sie es selbst.',
  },
  retry: 'Erneut versuchen',
  downloadAgain: 'Erneut herunterladen',
  cancel: 'Abbrechen',
  cancelling: 'Wird abgebrochen…',
  announceStart: 'Der Download hat begonnen.',
  announceAttempt: (n) => `Der Download hat erneut begonnen, Versuch ${n}.`,
  announceSizeUnknown: 'Der Server hat die Größe des Installationsprogramms nicht genannt.',
  announceProgress: (percent) => `${percent} Prozent heruntergeladen.`,
  announceFinished: 'Download abgeschlossen. Das Installationsprogramm ist bereit.',
  bytesOf: (done, total) => `${done} von ${total}`,
  speed: (perSecond) => `${perSecond}/s`,
  timeLeft: (duration) => `noch ${duration}`,
  maximise: 'Maximieren',
  restore: 'Wiederherstellen',
};

// The user's first language among those the page speaks (any zh tag: zh-CN, zh-TW,
// zh-Hans-SG; any de tag: de-DE, de-AT, de-CH); English otherwise.
export function pickLanguage(languages) {
  for (const tag of languages) {
    const primary = String(tag).toLowerCase().split('-')[0];
    if (Object.hasOwn(TEXTS, primary)) return primary;
  }
  return 'en';
}
const USER_LANGUAGES = navigator.languages?.length ? navigator.languages : [navigator.language ?? ''];
const LANGUAGE = pickLanguage(USER_LANGUAGES);
const TEXT = TEXTS[LANGUAGE];
// Numbers as the user writes them ("1,2 MB/s" in German), with no grouping (a size has at most
// four digits before its unit), in the user's own locale when it is one of the page's language.
const NUMBER_LOCALE = USER_LANGUAGES.find((tag) => String(tag).toLowerCase().split('-')[0] === LANGUAGE) ?? LANGUAGE;
const NUMBERS = [0, 1].map((digits) => new Intl.NumberFormat(NUMBER_LOCALE,
  { minimumFractionDigits: digits, maximumFractionDigits: digits, useGrouping: false }));
// How long the page waits for its JSON settings before it shows itself with what it has.
const CONFIG_TIMEOUT_MS = 2000;
// The host sends figures only when the server gave a length. With none this long after the
// start, the page says that the size is unknown.
const SIZE_UNKNOWN_AFTER_MS = 1500;
// A new attempt stays on screen at least this long, so a "Try again" that fails at once is still
// seen to have happened.
const MIN_ATTEMPT_MS = 600;
// A host that does not know "dnld_cancel" ignores it; after this long Cancel is offered again.
const CANCEL_WAIT_MS = 3000;
// With no new bytes for this long, speed and time left are no longer true, and are dropped.
const STALL_MS = 2000;
// A host that does not tell how an install start ended: Install is offered again after this long.
const INSTALL_WAIT_MS = 5000;
// Names longer than these are set smaller, so more of them fits in the heading's two lines.
const LONG_NAME_CHARS = [30, 50];
// -------------------------------------------------------------------------------------------

// ---- Host ----

function reportEvent(code) {
  tarvik.report(code);
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

// Only absolute http and https addresses: the installer address goes to the host's download.
function isWebLink(url) {
  return hasScheme(url, ['http:', 'https:']);
}

// What the host hands to the desktop: web addresses, and mail links (a support address).
function isOpenableLink(url) {
  return hasScheme(url, ['http:', 'https:', 'mailto:']);
}

function hasScheme(url, schemes) {
  try {
    return schemes.includes(new URL(url).protocol);
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
  const digits = value < 100 ? 1 : 0;
  return `${NUMBERS[digits].format(value)} ${units[unit]}`;
}

function formatDuration(seconds) {
  const { s: sec, min, h } = TEXT.time;
  const s = Math.max(1, Math.ceil(seconds));
  if (s < 60) return sec(s);
  if (s < 3600) {
    const rest = s % 60;
    return rest ? `${min(Math.floor(s / 60))} ${sec(rest)}` : min(s / 60);
  }
  return `${h(Math.floor(s / 3600))} ${min(Math.floor((s % 3600) / 60))}`;
}

function formatElapsed(milliseconds) {
  const { s: sec, min, h } = TEXT.time;
  const s = Math.max(0, Math.floor(milliseconds / 1000));
  if (s < 60) return sec(s);
  if (s < 3600) return `${min(Math.floor(s / 60))} ${sec(s % 60)}`;
  return `${h(Math.floor(s / 3600))} ${min(Math.floor((s % 3600) / 60))}`;
}

// The name the host saves the installer under: the last segment of the address's path,
// percent-decoded, with slashes, backslashes and control characters made "_", and "setup" when
// nothing usable is left.
function installerFileName(url) {
  let path;
  try {
    path = new URL(url).pathname;
  } catch {
    return 'setup';
  }
  const segment = path.slice(path.lastIndexOf('/') + 1);
  // Runs of escapes are decoded together (one character may take several); a run that is not
  // UTF-8 stays as written.
  const decoded = segment.replace(/(?:%[0-9A-Fa-f]{2})+/g, (run) => {
    try {
      return decodeURIComponent(run);
    } catch {
      return run;
    }
  });
  // eslint-disable-next-line no-control-regex
  const name = decoded.replace(/[/\\\u0000-\u001f\u007f-\u009f]/g, '_');
  return name === '' || name === '.' || name === '..' ? 'setup' : name;
}

// A long file name cut in the middle, so that its version and extension at the end stay
// visible; the whole name goes into the element's title.
const FILE_NAME_CHARS = 44;
export function middleCut(name, limit = FILE_NAME_CHARS) {
  const chars = Array.from(name);
  if (chars.length <= limit) return name;
  const tail = Math.ceil((limit - 1) / 2);
  return `${chars.slice(0, limit - 1 - tail).join('')}…${chars.slice(chars.length - tail).join('')}`;
}

function showFileName(element, name) {
  element.textContent = middleCut(name);
  element.title = name;
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
  downloadTitle: $('download-title'),
  downloadHeading: $('download-heading'),
  downloadAttempt: $('download-attempt'),
  bar: $('progress-bar'),
  fill: $('progress-fill'),
  percent: $('progress-percent'),
  bytes: $('progress-bytes'),
  elapsed: $('progress-elapsed'),
  speed: $('progress-speed'),
  separator: $('progress-separator'),
  eta: $('progress-eta'),
  cancel: $('cancel-button'),
  failureTitle: $('failure-title'),
  failureAttempt: $('failure-attempt'),
  failureMessage: $('failure-message'),
  failureOutcome: $('failure-outcome'),
  retry: $('retry-button'),
  retrySaveAs: $('retry-save-as-button'),
  install: $('install-button'),
  installStatus: $('install-status'),
  confirm: $('confirm-close'),
};

// The control each state hands the keyboard focus to when it appears. Never a destructive one:
// while downloading, the heading takes it, so that an Enter pressed twice on Download cannot
// cancel the download it has just started.
const PRIMARY_CONTROL = {
  idle: 'download-button',
  downloading: 'download-heading',
  finished: 'install-button',
  failed: 'retry-button',
};

const page = {
  settings: { ...PAGE_DEFAULTS },
  fileName: 'setup',
  state: 'idle',
  silent: true, // how the last download was asked for, so "Try again" repeats it
  maximized: false,
  speed: new SpeedMeter(),
  announcedTenth: -1,
  attempts: 0, // downloads the host started on this page; the second and later are numbered
  attemptShownAt: 0,
  figures: null, // { done, total } of the current download, once the host sends any
  sizeUnknown: false,
  savedName: null, // the file's name and folder name as the host tells them (dl_file)
  savedFolder: null,
  reconnecting: false, // the host said it connects again, and no new bytes came since
  timers: { sizeUnknown: 0, elapsed: 0, failure: 0, cancel: 0, stall: 0, install: 0 },
};

function announce(text) {
  ui.announcer.textContent = text;
}

function focusPrimary() {
  const control = $(PRIMARY_CONTROL[page.state]);
  if (control && !control.disabled) control.focus();
}

function showState(name) {
  page.state = name;
  for (const [key, element] of Object.entries(ui.states)) element.hidden = key !== name;
  if (name !== 'downloading') {
    stopDownloadClocks();
    closeConfirm({ restoreFocus: false });
  }
  focusPrimary();
}

function stopDownloadClocks() {
  clearTimeout(page.timers.sizeUnknown);
  clearInterval(page.timers.elapsed);
  clearTimeout(page.timers.cancel);
  clearTimeout(page.timers.stall);
}

function startDownload(silent) {
  if (!page.settings.installer) return;
  page.silent = silent;
  const options = { silent };
  if (page.settings.sha256) options.sha256 = page.settings.sha256.toLowerCase();
  watchDownload(tarvik.download(page.settings.installer, options));
  // The page changes only when the host's start notice arrives: a cancelled save dialog sends
  // nothing, and the page must then still offer the buttons.
}

function cancelDownload() {
  reportEvent(EVENTS.cancelClicked);
  tarvik.currentDownload?.cancel();
  ui.cancel.textContent = TEXT.cancelling;
  clearTimeout(page.timers.cancel);
  page.timers.cancel = setTimeout(() => { ui.cancel.textContent = TEXT.cancel; }, CANCEL_WAIT_MS);
}

// ---- Downloading ----

function sizeText() {
  return page.figures ? formatBytes(Math.max(page.figures.total, page.figures.done)) : '';
}

// The name the file is saved under: the host's word once it came, else the address's.
function savedName() {
  return page.savedName ?? page.fileName;
}

function describeDownload() {
  const place = page.savedFolder ? TEXT.goesToFolder(page.savedFolder) : TEXT.goesTo(page.silent);
  showFileName($('download-file-name'), savedName());
  $('download-place').textContent = `· ${place}`;
  $('download-file').title = `${savedName()} ${place}`;
}

function renderDownloadHeading() {
  let title = TEXT.downloading;
  if (page.reconnecting) title = TEXT.reconnecting;
  else if (page.sizeUnknown && !page.figures) title = TEXT.downloadingSizeUnknown;
  ui.downloadTitle.textContent = title;
  ui.downloadAttempt.hidden = page.attempts < 2;
  ui.downloadAttempt.textContent = TEXT.attempt(page.attempts);
}

function renderElapsed() {
  ui.elapsed.textContent = TEXT.elapsed(formatElapsed(performance.now() - page.attemptShownAt));
}

function onDownloadStarted() {
  // The host repeats the start notice when "dnld" arrives during a download; the progress shown
  // so far stays.
  if (page.state === 'downloading' && !page.timers.failure) return;
  clearTimeout(page.timers.failure);
  page.timers.failure = 0;
  page.attempts += 1;
  page.attemptShownAt = performance.now();
  page.figures = null;
  page.sizeUnknown = false;
  page.savedName = null;
  page.savedFolder = null;
  page.reconnecting = false;
  page.speed.reset();
  page.announcedTenth = -1;

  // Until figures arrive, the time since the start is all there is to show; without a length
  // the host never sends any.
  ui.bar.hidden = true;
  ui.bar.classList.remove('unknown');
  ui.bar.removeAttribute('aria-valuenow');
  ui.bar.removeAttribute('aria-valuetext');
  ui.fill.style.width = '0%';
  for (const element of [ui.percent, ui.bytes, ui.speed, ui.eta]) element.textContent = '';
  ui.separator.hidden = true;
  ui.cancel.textContent = TEXT.cancel;
  renderElapsed();
  renderDownloadHeading();
  describeDownload();

  stopDownloadClocks();
  page.timers.elapsed = setInterval(renderElapsed, 1000);
  page.timers.sizeUnknown = setTimeout(() => {
    page.sizeUnknown = true;
    renderDownloadHeading();
    announce(TEXT.announceSizeUnknown);
  }, SIZE_UNKNOWN_AFTER_MS);

  showState('downloading');
  announce(page.attempts > 1 ? TEXT.announceAttempt(page.attempts) : TEXT.announceStart);
}

// Speed and time left hold only while bytes come: after STALL_MS without any they are dropped.
function watchForStall() {
  clearTimeout(page.timers.stall);
  page.timers.stall = setTimeout(() => {
    page.speed.reset();
    ui.speed.textContent = '';
    ui.eta.textContent = '';
    ui.separator.hidden = true;
  }, STALL_MS);
}

// Figures of either kind: `total` is null when the server gave no length.
function showFigures(done, total, percent) {
  if (page.timers.failure || page.state === 'finished') return; // late figures change nothing
  if (page.state !== 'downloading') onDownloadStarted();
  const grew = !page.figures || done > page.figures.done;
  if (!page.figures) {
    clearTimeout(page.timers.sizeUnknown);
    clearInterval(page.timers.elapsed);
    ui.elapsed.textContent = '';
    ui.bar.hidden = false;
  }
  page.figures = { done, total: total ?? 0 };
  if (grew) {
    page.reconnecting = false;
    watchForStall();
  }
  renderDownloadHeading();
  ui.bar.classList.toggle('unknown', total === null);
  if (total === null) {
    ui.bar.removeAttribute('aria-valuenow');
    ui.fill.style.width = '';
    ui.percent.textContent = '';
    ui.bytes.textContent = TEXT.bytesSoFar(formatBytes(done));
  } else {
    const shown = Math.floor(percent);
    ui.bar.setAttribute('aria-valuenow', String(shown));
    ui.fill.style.width = `${percent}%`;
    ui.percent.textContent = `${shown}%`;
    ui.bytes.textContent = TEXT.bytesOf(formatBytes(done), formatBytes(Math.max(total, done)));
  }

  if (grew) page.speed.add(done);
  const perSecond = grew ? page.speed.bytesPerSecond() : null;
  if (grew) {
    ui.speed.textContent = perSecond === null ? '' : TEXT.speed(formatBytes(perSecond));
    ui.eta.textContent = perSecond > 0 && total !== null && total > done
      ? TEXT.timeLeft(formatDuration((total - done) / perSecond)) : '';
  }
  ui.separator.hidden = !(ui.speed.textContent && ui.eta.textContent);
  // What a screen reader says for the bar: the same words the page shows.
  ui.bar.setAttribute('aria-valuetext',
    [ui.percent.textContent, ui.bytes.textContent, ui.speed.textContent, ui.eta.textContent].filter(Boolean).join(', '));

  // Screen readers hear every tenth, not every notice.
  if (total === null) return;
  const tenth = Math.floor(Math.floor(percent) / 10);
  if (tenth !== page.announcedTenth && tenth > 0 && tenth < 10) {
    page.announcedTenth = tenth;
    announce(TEXT.announceProgress(tenth * 10));
  }
}

function onProgress(notice) {
  const done = Number(notice.dl_now) || 0;
  const total = Number(notice.dl_total) || 0;
  // The host's percentage may pass 100 when the server's length was wrong.
  const percent = Math.min(100, Math.max(0, Number(notice.dl_progress) || 0));
  showFigures(done, total > 0 ? total : null, percent);
}

function onReceived(notice) {
  showFigures(Math.max(0, Number(notice.dl_now) || 0), null, 0);
}

function onReconnecting() {
  if (page.state !== 'downloading' || page.timers.failure) return;
  page.reconnecting = true;
  renderDownloadHeading();
  announce(TEXT.announceReconnecting);
}

function onSavedAs(notice) {
  if (typeof notice.file_name !== 'string' || typeof notice.folder_name !== 'string') return;
  page.savedName = notice.file_name;
  page.savedFolder = notice.folder_name;
  if (page.state === 'downloading') describeDownload();
}

function onFinished() {
  clearTimeout(page.timers.failure);
  page.timers.failure = 0;
  showFileName($('finished-file-name'), savedName());
  $('finished-size').textContent = sizeText();
  $('finished-place').textContent = page.savedFolder ? TEXT.finishedIn(page.savedFolder) : TEXT.finishedPlace(page.silent);
  ui.installStatus.hidden = true;
  ui.install.disabled = false;
  showState('finished');
  announce(TEXT.announceFinished);
}

function onFailed(reason) {
  if (page.timers.failure) return; // one failure per attempt is enough
  const wasDownloading = page.state === 'downloading';
  if (!wasDownloading) page.attempts += 1; // a download that failed before it could start
  const figures = page.figures;
  let reached = 'no';
  if (wasDownloading && figures && figures.done > 0) reached = 'yes';
  else if (wasDownloading && !figures && page.sizeUnknown) reached = 'unknown';
  const context = {
    reached,
    place: page.savedFolder ? TEXT.placeFolder(page.savedFolder) : TEXT.place(page.silent),
    // A size stays on one line with its unit inside a sentence.
    progress: reached === 'yes' && figures.total > 0
      ? TEXT.bytesOf(formatBytes(figures.done), formatBytes(Math.max(figures.total, figures.done)))
        .replace(/(\d) (?=[KMGT]?B\b)/g, '$1\u00a0') : '',
  };
  const wording = TEXT.failure[reason] || TEXT.failure.other;

  const show = () => {
    page.timers.failure = 0;
    ui.failureTitle.textContent = wording.title(context);
    ui.failureMessage.textContent = wording.text(context);
    ui.failureAttempt.hidden = page.attempts < 2;
    ui.failureAttempt.textContent = TEXT.attempt(page.attempts);
    ui.retry.textContent = reason === 'cancelled' ? TEXT.downloadAgain : TEXT.retry;
    // A cancel the user chose is no fault.
    ui.failureOutcome.classList.toggle('stopped', reason === 'cancelled');
    showState('failed');
    announce(`${ui.failureTitle.textContent}. ${ui.failureMessage.textContent}`);
  };
  const wait = wasDownloading ? page.attemptShownAt + MIN_ATTEMPT_MS - performance.now() : 0;
  if (wait > 0) page.timers.failure = setTimeout(show, wait);
  else show();
}

// ---- Installing ----

// Install waits for the host's word on how the start ended, so that a second Enter does not ask
// for a second start; a host that never says lets it be pressed again after a while.
function startInstaller() {
  if (ui.install.disabled) return;
  reportEvent(EVENTS.installClicked);
  ui.install.disabled = true;
  ui.installStatus.textContent = TEXT.installStarting;
  ui.installStatus.hidden = false;
  clearTimeout(page.timers.install);
  page.timers.install = setTimeout(() => {
    ui.install.disabled = false;
    ui.installStatus.hidden = true;
  }, INSTALL_WAIT_MS);
  tarvik.install();
}

function onInstallOutcome(notice) {
  clearTimeout(page.timers.install);
  ui.install.disabled = false;
  if (notice.status_text === 'install_started') {
    ui.installStatus.textContent = TEXT.installStarted;
  } else if (notice.status_text === 'install_failed') {
    ui.installStatus.textContent = TEXT.installFailed[notice.reason] ?? TEXT.installFailed.other;
  } else {
    return;
  }
  ui.installStatus.hidden = false;
  // The button was disabled under the focus; it goes back to it.
  if (page.state === 'finished' && (document.activeElement === document.body || !document.activeElement)) ui.install.focus();
}

// ---- Closing during a download ----

let focusBeforeConfirm = null;

function openConfirm() {
  if (!ui.confirm.hidden) return;
  focusBeforeConfirm = document.activeElement;
  ui.confirm.hidden = false;
  // Out of reach of the keyboard and of assistive technology while the question is open.
  $('content').inert = true;
  $('footer').inert = true;
  $('confirm-keep').focus(); // the safe choice is the default
}

function closeConfirm({ restoreFocus = true } = {}) {
  if (ui.confirm.hidden) return;
  ui.confirm.hidden = true;
  $('content').inert = false;
  $('footer').inert = false;
  if (restoreFocus) {
    const previous = focusBeforeConfirm;
    if (previous && previous !== document.body && previous.isConnected && previous.getClientRects().length) {
      previous.focus();
    } else {
      focusPrimary();
    }
  }
  focusBeforeConfirm = null;
}

function onConfirmKey(event) {
  if (event.key === 'Escape') {
    event.preventDefault();
    closeConfirm();
  } else if (event.key === 'Tab') {
    // Keeps the focus inside the question. Only the step out of either end is taken over; the
    // browser moves the focus between the buttons itself, which is what shows the focus ring
    // in every engine even when the question was opened with the mouse.
    const buttons = [...ui.confirm.querySelectorAll('button')];
    const index = buttons.indexOf(document.activeElement);
    const leaving = index < 0 || (event.shiftKey ? index === 0 : index === buttons.length - 1);
    if (leaving) {
      event.preventDefault();
      (event.shiftKey ? buttons.at(-1) : buttons[0]).focus();
    }
  }
}

// ---- Notices from the host ----

function onWindowState(state) {
  if (state !== 'maximized' && state !== 'normal' && state !== 'minimized') return;
  // A minimised window keeps whichever size it had; the button shows that one.
  if (state !== 'minimized') setMaximized(state === 'maximized');
}

// Each download is followed once, whether the page asked for it or the host told of one (a
// download that ran before the page was loaded again).
const watched = new WeakSet();
function watchDownload(download) {
  if (watched.has(download)) return;
  watched.add(download);
  download.addEventListener('start', () => onDownloadStarted());
  download.addEventListener('progress', (event) => onProgress(event.detail));
  download.addEventListener('received', (event) => onReceived(event.detail));
  download.addEventListener('retry', () => onReconnecting());
  download.addEventListener('file', (event) => onSavedAs(event.detail));
  download.addEventListener('finished', () => onFinished());
  download.addEventListener('failed', (event) => onFailed(event.detail.reason));
}

function listenToHost() {
  tarvik.addEventListener('download', (event) => watchDownload(event.detail));
  // The host's answer to a close while a download runs: the page asks the user.
  tarvik.addEventListener('close', (event) => {
    if (event.detail.status_text === 'dnld_running') openConfirm();
  });
  tarvik.addEventListener('window', (event) => onWindowState(event.detail.state));
  tarvik.addEventListener('install', (event) => onInstallOutcome(event.detail));
}

// ---- Window dragging and size ----

// The host moves the window while the button is held; it needs the client coordinates of the
// press and of each move, as whole numbers.
function wireTitleBarDrag(titleBar) {
  titleBar.addEventListener('mousedown', (event) => {
    if (!event.target.closest('button')) tarvik.window.startDrag(event);
  });
  titleBar.addEventListener('dblclick', (event) => {
    if (!event.target.closest('button')) toggleMaximized();
  });
}

function setMaximized(maximized) {
  page.maximized = maximized;
  document.body.classList.toggle('maximized', maximized);
  const label = maximized ? TEXT.restore : TEXT.maximise;
  $('maximize-button').setAttribute('aria-label', label);
  $('maximize-button').title = label;
}

function toggleMaximized() {
  const maximize = !page.maximized;
  if (maximize) tarvik.window.maximize();
  else tarvik.window.restore();
  // A host that reports the window's state has the last word (the window manager may refuse
  // or may have changed the state itself); with one that does not, the page assumes it obeyed.
  if (tarvik.window.state === null) setMaximized(maximize);
}

// ---- Start ----

// The name breaks only between words: a browser would otherwise break after the hyphen of
// "(64-bit)". A word too long for any line is left free to break wherever it must.
function wordsKeptWhole(name) {
  return name.split(/(\s+)/).filter(Boolean).map((part) => {
    if (/\s/.test(part) || Array.from(part).length > 24) return document.createTextNode(part);
    const word = document.createElement('span');
    word.className = 'nowrap';
    word.textContent = part;
    return word;
  });
}

// A name cut short by the layout shows in full as a tooltip.
function updateNameTooltips() {
  const name = page.settings.product;
  const heading = $('product-name');
  const title = $('window-title');
  if (heading.scrollHeight > heading.clientHeight + 1) heading.title = name;
  else heading.removeAttribute('title');
  if (title.scrollWidth > title.clientWidth) title.title = name;
  else title.removeAttribute('title');
}

function applySettings(settings) {
  page.settings = settings;
  const name = settings.product;
  document.title = name;
  $('window-title').textContent = name;
  $('product-name').replaceChildren(...wordsKeptWhole(name));
  const length = Array.from(name).length;
  $('product-name').classList.toggle('long', length > LONG_NAME_CHARS[0] && length <= LONG_NAME_CHARS[1]);
  $('product-name').classList.toggle('longer', length > LONG_NAME_CHARS[1]);
  $('product-initial').textContent = Array.from(name.trim())[0] || '';
  const tagline = settings.tagline ?? TEXT.tagline;
  $('tagline').textContent = tagline;
  $('tagline').hidden = !tagline;
  for (const [key, id] of [['homepage', 'homepage-link'], ['privacy', 'privacy-link'], ['help', 'help-link']]) {
    const link = $(id);
    link.hidden = !isOpenableLink(settings[key]);
    if (!link.hidden) link.href = settings[key];
  }
  // A landmark with nothing in it is still announced; the footer keeps its room in the layout.
  const noLinks = ['homepage-link', 'privacy-link', 'help-link'].every((id) => $(id).hidden);
  if (noLinks) $('footer').setAttribute('aria-hidden', 'true');
  else $('footer').removeAttribute('aria-hidden');
  updateNameTooltips();

  page.fileName = installerFileName(settings.installer);
  showFileName($('idle-file-name'), page.fileName);
  let problem = '';
  if (!isWebLink(settings.installer)) problem = TEXT.noInstaller;
  else if (settings.sha256 && !/^[0-9a-fA-F]{64}$/.test(settings.sha256)) problem = TEXT.badChecksum;
  if (problem) {
    settings.installer = '';
    $('download-button').disabled = true;
    $('save-as-button').disabled = true;
    $('idle-hint').textContent = problem;
  }
}

// Tab from the last control goes round to the first, and Shift+Tab the other way: leaving the
// page would put the focus on the window around the web view, where nothing shows it.
function keepTabInPage(event) {
  if (event.key !== 'Tab' || event.defaultPrevented || !ui.confirm.hidden) return;
  const controls = [...document.querySelectorAll('button, a[href]')]
    .filter((control) => !control.disabled && !control.closest('[hidden], [inert]') && control.getClientRects().length);
  if (!controls.length) return;
  const index = controls.indexOf(document.activeElement);
  if (event.shiftKey ? index <= 0 : index === controls.length - 1) {
    event.preventDefault();
    (event.shiftKey ? controls.at(-1) : controls[0]).focus();
  }
}

function wireControls() {
  document.addEventListener('keydown', keepTabInPage);
  $('minimize-button').addEventListener('click', () => tarvik.window.minimize());
  $('maximize-button').addEventListener('click', toggleMaximized);
  // When nothing is downloading the host simply closes; otherwise it answers with the close
  // notice and the page asks first.
  $('close-button').addEventListener('click', () => tarvik.window.close());

  $('download-button').addEventListener('click', () => {
    reportEvent(EVENTS.downloadClicked);
    startDownload(true);
  });
  $('save-as-button').addEventListener('click', () => {
    reportEvent(EVENTS.saveAsClicked);
    startDownload(false);
  });
  ui.retry.addEventListener('click', () => {
    reportEvent(EVENTS.retryClicked);
    startDownload(page.silent);
  });
  ui.retrySaveAs.addEventListener('click', () => {
    reportEvent(EVENTS.saveAsClicked);
    startDownload(false);
  });
  ui.cancel.addEventListener('click', cancelDownload);
  ui.install.addEventListener('click', startInstaller);
  $('show-folder-button').addEventListener('click', () => tarvik.reveal());

  $('confirm-keep').addEventListener('click', () => closeConfirm());
  $('confirm-cancel-download').addEventListener('click', () => {
    closeConfirm();
    cancelDownload();
  });
  $('confirm-stop').addEventListener('click', () => {
    tarvik.window.close({ force: true });
    closeConfirm();
  });
  ui.confirm.addEventListener('keydown', onConfirmKey);

  // Every web link opens in the default browser, a mail link in the mail program; the window
  // itself never navigates away.
  document.addEventListener('click', (event) => {
    const link = event.target.closest('a[href]');
    if (!link) return;
    event.preventDefault();
    if (isOpenableLink(link.href)) tarvik.openUrl(link.href);
  });

  wireTitleBarDrag($('titlebar'));
  new ResizeObserver(updateNameTooltips).observe($('product-name'));
}

// The wording of index.html in the page's language.
function applyLanguage() {
  document.documentElement.lang = { zh: 'zh-CN', de: 'de' }[LANGUAGE] ?? 'en';
  for (const element of document.querySelectorAll('[data-text]')) {
    element.textContent = TEXT.static[element.dataset.text];
  }
  for (const element of document.querySelectorAll('[data-label]')) {
    const label = TEXT.static[element.dataset.label];
    element.setAttribute('aria-label', label);
    if (element.hasAttribute('title')) element.title = label;
  }
  setMaximized(false);
}

async function start() {
  applyLanguage();
  wireControls();
  listenToHost();
  applySettings(await loadSettings());
  // The host keeps the window hidden until it knows its size.
  tarvik.window.resize({ width: WINDOW_SIZE.width, height: WINDOW_SIZE.height, title: page.settings.product });
  reportEvent(EVENTS.pageShown);
  // Enter starts the download at once; Tab is not needed to get past the window buttons.
  focusPrimary();
}

start();
