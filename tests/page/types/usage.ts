// How a page uses the kit, as the compiler sees it: what must compile, and mistakes the types
// must refuse, each marked as an expected error (the check fails if one of them compiles).
import tarvik, { download, hostWindow, openUrl, report, type Download, type Notice } from '../../../page/kit/tarvik.js';

const installer = 'https://downloads.example.com/files/Setup.exe';
const run: Download = tarvik.download(installer, { silent: false, sha256: 'ab'.repeat(32) });
run.addEventListener('progress', (event) => {
  const share: number = event.detail.dl_now / event.detail.dl_total;
  const percent: number | null = run.percent;
  console.log(share, percent, event.detail.status === true);
});
run.addEventListener('failed', (event) => {
  const reason: 'network' | 'http' | 'file' | 'verify' | 'cancelled' = event.detail.reason;
  console.log(reason);
});
run.addEventListener('start', function () {
  const self: Download = this;
  console.log(self.state);
});
void run.done.then((outcome) => {
  if (outcome.state === 'failed') console.log(outcome.reason);
});
void download(installer).cancel();

tarvik.addEventListener('window', (event) => console.log(event.detail.state));
tarvik.addEventListener('close', (event) => console.log(event.detail.status_text));
tarvik.addEventListener('download', (event) => console.log(event.detail.url));
tarvik.addEventListener('notice', (event) => {
  const notice: Notice = event.detail;
  if (notice.msg_type === 'dl_progress') console.log(notice.dl_total);
  else if (notice.msg_type === 'window') console.log(notice.state);
});
void hostWindow.close({ force: false }).then((answer) => console.log(answer.status_text));
hostWindow.resize({ width: 640, height: 420, title: 'Demo' });
document.addEventListener('mousedown', (event) => hostWindow.startDrag(event));
openUrl('https://example.com/help');
report('page_shown');
tarvik.install();
tarvik.reveal();
console.log(tarvik.mode, tarvik.isHosted, tarvik.window.state, tarvik.simulator?.events.length);

// @ts-expect-error silent is a boolean
tarvik.download(installer, { silent: 'yes' });
// @ts-expect-error the option is sha256
tarvik.download(installer, { checksum: 'ab' });
run.addEventListener('progress', (event) => {
  // @ts-expect-error progress notices carry no reason
  console.log(event.detail.reason);
});
run.addEventListener('failed', (event) => {
  // @ts-expect-error the host sends no such reason
  if (event.detail.reason === 'timeout') console.log('never');
});
// @ts-expect-error force is a boolean
void hostWindow.close({ force: 1 });
// @ts-expect-error the window state is read-only
hostWindow.state = 'normal';
// @ts-expect-error a download's figures are the host's, not the page's
run.received = 1;
tarvik.addEventListener('window', (event) => {
  // @ts-expect-error window states are the host's three
  if (event.detail.state === 'fullscreen') console.log('never');
});
