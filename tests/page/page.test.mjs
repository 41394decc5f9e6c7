// The reference page in headless Chromium: what it posts to the host for each user action, and
// how it shows each notice the host sends.
import { after, afterEach, before, describe, it } from 'node:test';
import assert from 'node:assert/strict';
import { extraFiles, notices, startHarness } from './harness.mjs';

let harness;
let view;

before(async () => {
  harness = await startHarness();
});
after(async () => {
  await harness?.close();
});
afterEach(async () => {
  await view?.close(); // also fails the test if the page threw
  view = undefined;
});

const product = 'Tarvik Demo';
const openDemo = (extra = {}, options) =>
  harness.open({ product, installer: harness.installerUrl, ...extra }, options);
const post = (msg_type, msg_data) => (msg_data === undefined ? { msg_type } : { msg_type, msg_data });

async function openDownloading() {
  view = await openDemo();
  await view.page.click('#download-button');
  await view.notify(notices.start);
  return view;
}

describe('start-up', () => {
  it('sizes and titles the window, then reports that it was shown', async () => {
    view = await openDemo();
    await view.waitForCommand('post_data');
    assert.deepEqual(await view.commands(), [
      post('resize_window', { width: 640, height: 420, window_text: product }),
      post('post_data', { event_id: 'page_shown' }),
    ]);
    assert.equal(await view.text('#product-name'), product);
    assert.equal(await view.text('#window-title'), product);
  });

  const settingsCases = [
    {
      name: 'a named JSON file supplies what the query leaves out',
      files: { '/cfg/one.json': { product: 'From File', installer: 'https://example.com/a.run' } },
      query: { config: '/cfg/one.json' },
      title: 'From File',
      installer: 'https://example.com/a.run',
    },
    {
      name: 'the query wins over the JSON file',
      files: { '/cfg/two.json': { product: 'From File', installer: 'https://example.com/a.run' } },
      query: { config: '/cfg/two.json', product: 'From Query' },
      title: 'From Query',
      installer: 'https://example.com/a.run',
    },
    {
      name: 'config.json beside the page is read when the query names no installer',
      files: { '/page/config.json': { product: 'Beside', installer: 'https://example.com/b.run' } },
      query: {},
      title: 'Beside',
      installer: 'https://example.com/b.run',
    },
    {
      name: 'a broken JSON file leaves the defaults and the query',
      files: { '/cfg/bad.json': '{not json' },
      query: { config: '/cfg/bad.json', installer: 'https://example.com/c.run' },
      title: 'Setup',
      installer: 'https://example.com/c.run',
    },
  ];
  for (const c of settingsCases) {
    it(`settings: ${c.name}`, async () => {
      for (const [path, body] of Object.entries(c.files)) {
        extraFiles.set(path, typeof body === 'string' ? body : JSON.stringify(body));
      }
      try {
        view = await harness.open(c.query);
        const [resize] = await view.commands();
        assert.deepEqual(resize, post('resize_window', { width: 640, height: 420, window_text: c.title }));
        await view.mark();
        await view.page.click('#download-button');
        const sent = await view.commandsSinceMark();
        assert.deepEqual(sent.at(-1), post('dnld', { silent: true, url: c.installer }));
      } finally {
        for (const path of Object.keys(c.files)) extraFiles.delete(path);
      }
    });
  }

  it('without a usable installer address offers no download', async () => {
    view = await harness.open({ product, installer: 'file:///etc/passwd' });
    assert.equal(await view.page.isDisabled('#download-button'), true);
    assert.equal(await view.page.isDisabled('#save-as-button'), true);
  });
});

describe('starting a download', () => {
  const cases = [
    { button: '#download-button', event: 'download_clicked', silent: true },
    { button: '#save-as-button', event: 'save_as_clicked', silent: false },
  ];
  for (const c of cases) {
    it(`${c.button} reports ${c.event} and asks for a ${c.silent ? 'silent' : 'save-dialog'} download`, async () => {
      view = await openDemo();
      await view.mark();
      await view.page.click(c.button);
      assert.deepEqual(await view.commandsSinceMark(), [
        post('post_data', { event_id: c.event }),
        post('dnld', { silent: c.silent, url: harness.installerUrl }),
      ]);
      // Until the host confirms, the choice stays open (a cancelled save dialog sends nothing).
      assert.equal(await view.visible('#state-idle'), true);
    });
  }

  it('works from the keyboard', async () => {
    view = await openDemo();
    await view.mark();
    for (let i = 0; i < 10; i += 1) {
      await view.page.keyboard.press('Tab');
      if (await view.page.evaluate(() => document.activeElement.id === 'download-button')) break;
    }
    await view.page.keyboard.press('Enter');
    assert.deepEqual((await view.commandsSinceMark()).at(-1), post('dnld', { silent: true, url: harness.installerUrl }));
  });
});

describe('progress', () => {
  it('starts indeterminate and stays so when no figures arrive, then finishes', async () => {
    await openDownloading();
    assert.equal(await view.visible('#state-downloading'), true);
    assert.match(await view.page.getAttribute('#progress-bar', 'class'), /indeterminate/);
    assert.equal(await view.page.getAttribute('#progress-bar', 'aria-valuenow'), null);
    assert.equal(await view.text('#progress-percent'), '');
    await view.notify(notices.finished);
    assert.equal(await view.visible('#state-finished'), true);
  });

  const figures = [
    { now: 0, total: 2048, percent: '0%', bytes: '0 B of 2.0 KB' },
    { now: 512, total: 2048, percent: '25%', bytes: '512 B of 2.0 KB' },
    { now: 1572864, total: 4194304, percent: '37%', bytes: '1.5 MB of 4.0 MB' },
    { now: 3 * 1024 ** 3, total: 4 * 1024 ** 3, percent: '75%', bytes: '3.0 GB of 4.0 GB' },
    { now: 300 * 1024 * 1024, total: 600 * 1024 * 1024, percent: '50%', bytes: '300 MB of 600 MB' },
    // Just under a unit step rounds up into the next unit, never to "1024".
    { now: 1048300, total: 4194304, percent: '24%', bytes: '1.0 MB of 4.0 MB' },
    // A server that under-reports its length: the host's percentage passes 100.
    { now: 3000, total: 2048, percent: '100%', bytes: '2.9 KB of 2.9 KB' },
  ];
  for (const f of figures) {
    it(`shows ${f.now} of ${f.total} as ${f.percent}, ${f.bytes}`, async () => {
      await openDownloading();
      await view.notify(notices.progress(f.now, f.total));
      assert.equal(await view.text('#progress-percent'), f.percent);
      assert.equal(await view.text('#progress-bytes'), f.bytes);
      assert.equal(await view.page.getAttribute('#progress-bar', 'aria-valuenow'), f.percent.slice(0, -1));
      assert.doesNotMatch(await view.page.getAttribute('#progress-bar', 'class'), /indeterminate/);
    });
  }

  it('works out the speed and the time left from the figures over time', async () => {
    view = await openDemo({}, { beforeLoad: (page) => page.clock.install({ time: 0 }) });
    await view.page.clock.pauseAt(60_000); // from here on only runFor moves the page's time
    await view.page.click('#download-button');
    await view.notify(notices.start);
    const total = 4 * 1024 * 1024;
    await view.notify(notices.progress(0, total));
    assert.equal(await view.text('#progress-speed'), '', 'no speed before there is a measure');
    for (const second of [1, 2]) {
      await view.page.clock.runFor(1000);
      await view.notify(notices.progress(second * 1024 * 1024, total));
    }
    assert.equal(await view.text('#progress-speed'), '1.0 MB/s');
    assert.equal(await view.text('#progress-eta'), '2 s left');
  });

  it('keeps its figures when the host repeats the start notice', async () => {
    await openDownloading();
    await view.notify(notices.progress(1024, 2048));
    await view.notify(notices.start);
    assert.equal(await view.text('#progress-percent'), '50%');
  });

  it('announces progress to screen readers in steps, not on every notice', async () => {
    await openDownloading();
    assert.equal(await view.page.getAttribute('#announcer', 'aria-live'), 'polite');
    const announced = [];
    for (const now of [100, 150, 210, 220, 990]) {
      await view.notify(notices.progress(now, 1000));
      announced.push(await view.page.textContent('#announcer'));
    }
    assert.deepEqual(announced, [
      'Downloaded 10 percent.', 'Downloaded 10 percent.', 'Downloaded 20 percent.',
      'Downloaded 20 percent.', 'Downloaded 90 percent.',
    ]);
  });

  it('ignores notices it does not know', async () => {
    await openDownloading();
    for (const odd of [null, 'not json', 42, {}, { msg_type: 'dnld' }, { msg_type: 'other', status: 1 }]) {
      await view.notify(odd);
    }
    await view.notify(notices.progress(1024, 2048));
    assert.equal(await view.text('#progress-percent'), '50%');
  });
});

describe('finished', () => {
  const cases = [
    { button: '#install-button', sent: [post('post_data', { event_id: 'install_clicked' }), post('install')] },
    { button: '#show-folder-button', sent: [post('open_dnld_dir')] },
  ];
  for (const c of cases) {
    it(`${c.button} posts ${c.sent.map((m) => m.msg_type).join(', ')}`, async () => {
      await openDownloading();
      await view.notify(notices.progress(2048, 2048));
      await view.notify(notices.finished);
      assert.equal(await view.visible('#state-finished'), true);
      assert.equal(await view.visible('#state-downloading'), false);
      await view.mark();
      await view.page.click(c.button);
      assert.deepEqual(await view.commandsSinceMark(), c.sent);
    });
  }
});

describe('failed', () => {
  const reasons = [
    { reason: 'network', message: /internet connection/ },
    { reason: 'http', message: /could not provide the installer/ },
    { reason: 'file', message: /free disk space/ },
    { reason: 'something-new', message: /Something went wrong/ },
  ];
  for (const r of reasons) {
    it(`reason ${r.reason} shows its message and Try again`, async () => {
      await openDownloading();
      await view.notify(notices.progress(100, 2048));
      await view.notify(notices.failed(r.reason));
      assert.equal(await view.visible('#state-failed'), true);
      assert.match(await view.text('#failure-message'), r.message);
      assert.equal(await view.visible('#retry-button'), true);
    });
  }

  for (const [button, silent] of [['#download-button', true], ['#save-as-button', false]]) {
    it(`Try again repeats the download the way ${button} asked for it`, async () => {
      view = await openDemo();
      await view.page.click(button);
      await view.notify(notices.start);
      await view.notify(notices.failed('network'));
      await view.mark();
      await view.page.click('#retry-button');
      assert.deepEqual(await view.commandsSinceMark(), [
        post('post_data', { event_id: 'retry_clicked' }),
        post('dnld', { silent, url: harness.installerUrl }),
      ]);
      // The new download starts from nothing.
      await view.notify(notices.start);
      assert.equal(await view.visible('#state-downloading'), true);
      assert.match(await view.page.getAttribute('#progress-bar', 'class'), /indeterminate/);
    });
  }
});

describe('closing', () => {
  it('asks the host to close without force when nothing runs', async () => {
    view = await openDemo();
    await view.mark();
    await view.page.click('#close-button');
    assert.deepEqual(await view.commandsSinceMark(), [post('close', { force_close: false })]);
    assert.equal(await view.visible('#confirm-close'), false);
  });

  const answers = [
    { name: 'confirming closes with force', act: (v) => v.page.click('#confirm-stop'), sent: [post('close', { force_close: true })] },
    { name: 'cancelling posts nothing', act: (v) => v.page.click('#confirm-cancel'), sent: [] },
    { name: 'Escape cancels', act: (v) => v.page.keyboard.press('Escape'), sent: [] },
  ];
  for (const a of answers) {
    it(`during a download asks first: ${a.name}`, async () => {
      await openDownloading();
      await view.mark();
      await view.page.click('#close-button');
      assert.deepEqual(await view.commandsSinceMark(), [post('close', { force_close: false })]);
      await view.notify(notices.closeRunning);
      assert.equal(await view.visible('#confirm-close'), true);
      assert.equal(await view.page.evaluate(() => document.activeElement.id), 'confirm-cancel');
      await view.mark();
      await a.act(view);
      assert.deepEqual(await view.commandsSinceMark(), a.sent);
      assert.equal(await view.visible('#confirm-close'), false);
    });
  }

  it('drops the question when the download ends meanwhile', async () => {
    await openDownloading();
    await view.notify(notices.closeRunning);
    await view.notify(notices.finished);
    assert.equal(await view.visible('#confirm-close'), false);
    assert.equal(await view.visible('#state-finished'), true);
  });
});

describe('window', () => {
  it('the title bar drags with whole-number client coordinates', async () => {
    view = await openDemo();
    await view.mark();
    const mouse = view.page.mouse;
    await mouse.move(200, 21);
    await mouse.down();
    await mouse.move(230, 25);
    await mouse.move(260, 31);
    await mouse.up();
    const sent = await view.commandsSinceMark();
    assert.deepEqual(sent[0], post('mousedown', { x: 200, y: 21 }));
    assert.deepEqual(sent.at(-1), post('mouseup', { x: 260, y: 31 }));
    const moves = sent.slice(1, -1);
    assert.ok(moves.length >= 1 && moves.every((m) => m.msg_type === 'mousemove'));
    for (const m of sent) assert.ok(Number.isInteger(m.msg_data.x) && Number.isInteger(m.msg_data.y));
    // Moves after the release are no longer the host's business.
    await view.mark();
    await mouse.move(300, 35);
    assert.deepEqual(await view.commandsSinceMark(), []);
  });

  it('a press on the content or a window button does not start a drag', async () => {
    view = await openDemo();
    await view.mark();
    await view.page.click('#product-name');
    await view.page.click('#minimize-button');
    assert.deepEqual(await view.commandsSinceMark(), [post('minimize')]);
  });

  it('the maximise button switches between maximise and restore', async () => {
    view = await openDemo();
    await view.mark();
    await view.page.click('#maximize-button');
    assert.equal(await view.page.getAttribute('#maximize-button', 'aria-label'), 'Restore');
    await view.page.click('#maximize-button');
    assert.deepEqual(await view.commandsSinceMark(), [post('maximize'), post('restore')]);
    assert.equal(await view.page.getAttribute('#maximize-button', 'aria-label'), 'Maximise');
  });
});

describe('links', () => {
  it('open in the default browser through the host, and the page stays', async () => {
    view = await openDemo({ homepage: 'https://example.com/home', privacy: 'javascript:alert(1)' });
    assert.equal(await view.visible('#privacy-link'), false, 'only web links are shown');
    assert.equal(await view.visible('#help-link'), false, 'an empty link is hidden');
    await view.mark();
    await view.page.click('#homepage-link');
    assert.deepEqual(await view.commandsSinceMark(), [post('open_url', { url: 'https://example.com/home' })]);
    assert.match(view.page.url(), /\/page\/index\.html/);
  });
});
