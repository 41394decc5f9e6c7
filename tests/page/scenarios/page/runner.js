// @ts-check
// A page written only against the page kit and its types (tsc checks this file). It runs the
// steps of one scenario, from run.json beside it, and reports what it saw, in order, as usage
// events: "kit:<entry>" for what the kit told it, "notice:<json>" for each notice as it arrived
// (of the progress notices only the first and the last of a run). In the real program those
// events reach the service; in an ordinary browser the kit's simulator keeps them. The test
// compares the entries with the scenario's expected record.
//
// run.json: {installer, sha256, steps}; each step is [action, argument]:
//   ["download", {silent, sha256: "right" | "wrong"}]   ask for the installer
//   ["wait", "progress" | "end" | "window:<state>"]     until the download has figures or has
//                                                        ended, or the window is in that state
//   ["cancel"]                                          cancel the current download
//   ["close", {force, answered}]  close the window; `answered`: the host is expected to keep it
//                                 open and answer, which is reported; otherwise the program
//                                 ends, and this is the last step
//   ["window", "minimize" | "maximize" | "restore"]
import tarvik from './kit/tarvik.js';

/** @typedef {import('./kit/tarvik.js').Download} Download */
/** @typedef {import('./kit/tarvik.js').ProgressNotice} ProgressNotice */

/** @param {string} entry */
const say = (entry) => tarvik.report(`kit:${entry}`);

/** @type {Download[]} */
const downloads = [];

// Entries of the second and later downloads carry their number: "2:finished".
/** @param {Download} download @param {string} entry */
function label(download, entry) {
  const number = downloads.indexOf(download) + 1;
  return number > 1 ? `${number}:${entry}` : entry;
}

/** @param {Download} download */
function follow(download) {
  if (downloads.includes(download)) return;
  downloads.push(download);
  /** @type {ProgressNotice | null} */
  let last = null;
  let odd = false;
  /** @param {string} what */
  const oddity = (what) => {
    if (!odd) say(label(download, `odd:${what}`));
    odd = true;
  };
  download.addEventListener('start', () => say(label(download, 'start')));
  download.addEventListener('progress', (event) => {
    const notice = event.detail;
    // Figures as the host promises them: one total, bytes that never go back, the percentage
    // computed from them, and the download object showing the same.
    if (notice.dl_progress !== (notice.dl_now / notice.dl_total) * 100) oddity('percent');
    if (last && notice.dl_total !== last.dl_total) oddity('total');
    if (last && notice.dl_now < last.dl_now) oddity('backwards');
    if (download.received !== notice.dl_now || download.total !== notice.dl_total) oddity('object');
    if (!last) say(label(download, 'progress'));
    last = notice;
  });
  download.addEventListener('finished', () => say(label(download, 'finished')));
  download.addEventListener('failed', (event) => say(label(download, `failed:${event.detail.reason}`)));
  download.done.then((outcome) => {
    say(label(download, outcome.state === 'failed' ? `done:failed:${outcome.reason}` : 'done:finished'));
    if (outcome.state === 'finished') {
      say(label(download, download.total === null ? 'figures:none' : `figures:${download.received}/${download.total}`));
    }
  });
}

// The raw notices, for the test to check against the protocol's schema.
/** @type {string | null} */
let heldProgress = null;
tarvik.addEventListener('notice', (event) => {
  const text = JSON.stringify(event.detail);
  if (event.detail.msg_type === 'dl_progress') {
    if (heldProgress === null) tarvik.report(`notice:${text}`);
    heldProgress = text;
    return;
  }
  if (heldProgress !== null) tarvik.report(`notice:${heldProgress}`);
  heldProgress = null;
  tarvik.report(`notice:${text}`);
});
tarvik.addEventListener('download', (event) => {
  say('implicit-download');
  follow(event.detail);
});
tarvik.addEventListener('close', (event) => say(`close:${event.detail.status_text}`));
tarvik.addEventListener('window', (event) => say(`window:${event.detail.state}`));

/** @param {string} what */
function waitFor(what) {
  const download = tarvik.currentDownload;
  if (what.startsWith('window:')) {
    const state = what.slice('window:'.length);
    return new Promise((resolve) => {
      if (tarvik.window.state === state) resolve(undefined);
      const check = () => {
        if (tarvik.window.state !== state) return;
        tarvik.removeEventListener('window', check);
        resolve(undefined);
      };
      tarvik.addEventListener('window', check);
    });
  }
  if (!download) throw new Error(`nothing to wait for: ${what}`);
  if (what === 'end') return download.done.then(() => undefined);
  // "progress": figures, or an end that means there will be none.
  return new Promise((resolve) => {
    if (download.received > 0 || download.ended) resolve(undefined);
    download.addEventListener('progress', () => resolve(undefined));
    download.done.then(() => resolve(undefined));
  });
}

async function run() {
  const scenario = await (await fetch('run.json', { cache: 'no-store' })).json();
  // The host keeps the window hidden until the page sizes it.
  tarvik.window.resize({ width: 640, height: 420, title: 'Kit scenario' });
  for (const [action, argument] of scenario.steps) {
    if (action === 'download') {
      /** @type {{silent: boolean, sha256?: string}} */
      const options = { silent: argument?.silent ?? true };
      if (argument?.sha256) options.sha256 = argument.sha256 === 'right' ? scenario.sha256 : '0'.repeat(64);
      follow(tarvik.download(scenario.installer, options));
    } else if (action === 'wait') {
      await waitFor(argument);
    } else if (action === 'cancel') {
      tarvik.currentDownload?.cancel();
    } else if (action === 'close') {
      if (!argument.answered) {
        // The program ends: nothing after this is the page's to see.
        say('closing');
        tarvik.window.close({ force: argument.force });
        return;
      }
      const answer = await tarvik.window.close({ force: argument.force });
      say(`close-answer:${answer.status_text}`);
    } else if (action === 'window') {
      if (argument === 'minimize') tarvik.window.minimize();
      else if (argument === 'maximize') tarvik.window.maximize();
      else tarvik.window.restore();
    } else {
      throw new Error(`unknown step ${action}`);
    }
  }
  say('end');
}

run().catch((error) => say(`error:${error}`));
