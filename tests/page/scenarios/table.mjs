// One table of scenarios for a page written only against the page kit (page/runner.js), run in
// the real program and in Chromium with the kit's simulator. Each row gives the steps the page
// takes, how each host is made to meet the same conditions, and the record the page must see:
// the same on both, so where the simulator and the host differ, the row fails.
//
//   steps   run.json's steps (see page/runner.js)
//   installer  the address the page asks for on both hosts, instead of each one's own
//   real    for the real program: `files`, options of the demo service that serves the
//           installer (besides the base ones below); `installer`: "missing" (a 404) or
//           "unreachable" (a closed port); `downloads: 'missing'`: no Downloads folder;
//           `goAway: true`: the installer's server is killed once the page has figures;
//           `windowManager: true`: a window manager runs on the X display
//   sim     the simulator's settings (besides the base ones below), as in ?tarvik-sim=
//   record  what the page reports, in order ("ended": the program ended, or the simulated one)

const MiB = 1024 * 1024;
export const INSTALLER_SIZE = 2 * MiB;
// Fast enough to keep the table quick, and the same on both hosts.
export const base = {
  files: ['--installer-size', '2M', '--rate', '4M'],
  sim: 'size:2M,rate:4M',
};
// Slow enough that the page can act while the download runs.
const slow = { files: ['--rate', '256K'], sim: 'rate:256K' };

const finishedWhole = ['start', 'progress', 'finished', 'done:finished', `figures:${INSTALLER_SIZE}/${INSTALLER_SIZE}`];
const failed = (reason, { figures = false } = {}) =>
  ['start', ...(figures ? ['progress'] : []), `failed:${reason}`, `done:failed:${reason}`];

export const scenarios = [
  {
    name: 'a download with a length finishes, with figures up to the whole size',
    steps: [['download'], ['wait', 'end']],
    record: [...finishedWhole, 'end'],
  },
  {
    name: 'without a length it finishes with no figures at all',
    steps: [['download'], ['wait', 'end']],
    real: { files: ['--no-length'] },
    sim: 'no-length',
    record: ['start', 'finished', 'done:finished', 'figures:none', 'end'],
  },
  {
    name: 'a connection dropped once is resumed without the page hearing of it',
    steps: [['download'], ['wait', 'end']],
    real: { files: ['--drop-after', '1M', '--drop-once'] },
    sim: 'drop-after:1M,drop-once',
    record: [...finishedWhole, 'end'],
  },
  {
    name: 'the installer\'s SHA-256 given by the page matches: it finishes',
    steps: [['download', { sha256: 'right' }], ['wait', 'end']],
    record: [...finishedWhole, 'end'],
  },
  {
    name: 'another SHA-256: it fails with verify',
    steps: [['download', { sha256: 'wrong' }], ['wait', 'end']],
    record: [...failed('verify', { figures: true }), 'end'],
  },
  {
    name: 'a missing installer fails with http',
    steps: [['download'], ['wait', 'end']],
    real: { installer: 'missing' },
    sim: 'fail:http',
    record: [...failed('http'), 'end'],
  },
  {
    name: 'an address that is not http or https fails with http',
    steps: [['download'], ['wait', 'end']],
    installer: 'ftp://127.0.0.1/files/setup.run',
    record: [...failed('http'), 'end'],
  },
  {
    name: 'an unreachable server fails with network',
    steps: [['download'], ['wait', 'end']],
    real: { installer: 'unreachable' },
    sim: 'fail:network',
    record: [...failed('network'), 'end'],
  },
  {
    name: 'a server that goes away mid-download fails with network, after the host has tried again',
    steps: [['download'], ['wait', 'end']],
    real: { files: slow.files, goAway: true },
    sim: `${slow.sim},fail:network,fail-after:256K`,
    record: [...failed('network', { figures: true }), 'end'],
  },
  {
    name: 'no Downloads folder to write to fails with file',
    steps: [['download'], ['wait', 'end']],
    real: { downloads: 'missing' },
    sim: 'fail:file',
    record: [...failed('file'), 'end'],
  },
  {
    name: 'the page cancels a running download',
    steps: [['download'], ['wait', 'progress'], ['cancel'], ['wait', 'end']],
    real: { files: slow.files },
    sim: slow.sim,
    record: [...failed('cancelled', { figures: true }), 'end'],
  },
  {
    name: 'asked again while it runs, the kit keeps the one download',
    steps: [['download'], ['wait', 'progress'], ['download'], ['wait', 'end']],
    record: [...finishedWhole, 'end'],
  },
  {
    name: 'asked again after it finished, the host only says that it finished',
    steps: [['download'], ['wait', 'end'], ['download'], ['wait', 'end']],
    record: [...finishedWhole, '2:finished', '2:done:finished', '2:figures:none', 'end'],
  },
  {
    name: 'close during a download is answered; the page cancels, then closes the program',
    steps: [
      ['download'], ['wait', 'progress'], ['close', { force: false, answered: true }],
      ['cancel'], ['wait', 'end'], ['close', { force: false }],
    ],
    real: { files: slow.files },
    sim: slow.sim,
    record: [
      'start', 'progress', 'close:dnld_running', 'close-answer:dnld_running',
      'failed:cancelled', 'done:failed:cancelled', 'closing', 'ended',
    ],
  },
  {
    name: 'close with force during a download ends the program',
    steps: [['download'], ['wait', 'progress'], ['close', { force: true }]],
    real: { files: slow.files },
    sim: slow.sim,
    record: ['start', 'progress', 'closing', 'ended'],
  },
  {
    name: 'the window maximised, restored and minimised: the page hears each state',
    steps: [
      ['window', 'maximize'], ['wait', 'window:maximized'], ['window', 'restore'], ['wait', 'window:normal'],
      ['window', 'minimize'], ['wait', 'window:minimized'], ['window', 'restore'], ['wait', 'window:normal'],
    ],
    real: { windowManager: true },
    record: ['window:maximized', 'window:normal', 'window:minimized', 'window:normal', 'end'],
  },
];
