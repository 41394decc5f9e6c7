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

// The same on a clock that only the test moves on.
async function openDownloadingOnClock(extra = {}, options = {}) {
  view = await openDemo(extra, { ...options, beforeLoad: (page) => page.clock.install({ time: 0 }) });
  await view.page.clock.pauseAt(60_000);
  await view.page.click('#download-button');
  await view.notify(notices.start);
  return view;
}

const focused = () => view.page.evaluate(() => document.activeElement.id);

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

describe('language', () => {
  // The page speaks the user's first language among English and Chinese; the browser's locale
  // sets navigator.languages as the host does from the desktop's.
  const cases = [
    {
      locale: 'en-US',
      expected: {
        lang: 'en', tagline: 'Get the installer and set up in a minute.', download: 'Download', saveAs: 'Save as…',
        hint: 'Saves setup.run to your Downloads folder. Choose “Save as…” to pick another place.',
        minimise: 'Minimise', maximise: 'Maximise', progressLabel: 'Download progress',
        downloading: 'Downloading… (size unknown)', elapsed: '1 min 15 s elapsed',
        failureTitle: 'The download could not start', retry: 'Try again',
        confirm: 'The installer is still downloading',
      },
    },
    {
      locale: 'zh-CN',
      expected: {
        lang: 'zh-CN', tagline: '获取安装程序，一分钟即可完成安装。', download: '下载', saveAs: '另存为…',
        hint: '将 setup.run 保存到“下载”文件夹。选择“另存为…”可以保存到其他位置。',
        minimise: '最小化', maximise: '最大化', progressLabel: '下载进度',
        downloading: '正在下载…（大小未知）', elapsed: '已用 1 分钟 15 秒',
        failureTitle: '无法开始下载', retry: '重试',
        confirm: '安装程序仍在下载',
      },
    },
    {
      locale: 'de-DE',
      expected: {
        lang: 'de', tagline: 'Holen Sie sich das Installationsprogramm und richten Sie alles in einer Minute ein.',
        download: 'Herunterladen', saveAs: 'Speichern unter…',
        hint: 'Speichert setup.run in Ihrem Download-Ordner. Mit „Speichern unter…“ wählen Sie einen anderen Ort.',
        minimise: 'Minimieren', maximise: 'Maximieren', progressLabel: 'Fortschritt des Downloads',
        downloading: 'Wird heruntergeladen… (Größe unbekannt)', elapsed: 'seit 1 min 15 s',
        failureTitle: 'Der Download konnte nicht beginnen', retry: 'Erneut versuchen',
        confirm: 'Das Installationsprogramm wird noch heruntergeladen',
      },
    },
  ];
  for (const { locale, expected } of cases) {
    it(`speaks ${locale}`, async () => {
      view = await openDemo({}, { locale, beforeLoad: (page) => page.clock.install({ time: 0 }) });
      await view.page.clock.pauseAt(60_000);
      const attribute = (selector, name) => view.page.locator(selector).getAttribute(name);
      const seen = {
        lang: await attribute('html', 'lang'),
        tagline: await view.text('#tagline'),
        download: await view.text('#download-button'),
        saveAs: await view.text('#save-as-button'),
        hint: (await view.text('#idle-hint')).replace(/\s+/g, ' '),
        minimise: await attribute('#minimize-button', 'title'),
        maximise: await attribute('#maximize-button', 'aria-label'),
        progressLabel: await attribute('#progress-bar', 'aria-label'),
      };
      await view.page.click('#download-button');
      await view.notify(notices.start);
      await view.page.clock.runFor(75_000);
      seen.downloading = await view.text('#download-title');
      seen.elapsed = await view.text('#progress-elapsed');
      await view.notify(notices.closeRunning);
      seen.confirm = await view.text('#confirm-title');
      await view.page.click('#confirm-keep');
      await view.notify(notices.failed('http'));
      seen.failureTitle = await view.text('#failure-title');
      seen.retry = await view.text('#retry-button');
      assert.deepEqual(seen, expected);
    });
  }

  it('takes the first of English and Chinese among the user\'s languages', async () => {
    view = await openDemo();
    // The page's own module, already running: importing it again runs nothing twice.
    const picked = await view.page.evaluate(async () => {
      const { pickLanguage } = await import('./app.js');
      return [
        ['de-DE', 'zh-CN'], ['zh-Hant-TW'], ['ZH'], ['en-GB', 'zh-CN'], ['de-DE', 'fr'], [],
      ].map((languages) => pickLanguage(languages));
    });
    assert.deepEqual(picked, ['de', 'zh', 'zh', 'en', 'de', 'en']);
  });

  for (const [locale, bytes] of [['de-DE', '1,5 MB von 12,0 MB'], ['en-US', '1.5 MB of 12.0 MB']]) {
    it(`writes numbers as ${locale} does: ${bytes}`, async () => {
      view = await openDemo({}, { locale });
      await view.page.click('#download-button');
      await view.notify(notices.start);
      await view.notify(notices.progress(1.5 * 1024 * 1024, 12 * 1024 * 1024));
      assert.equal(await view.text('#progress-bytes'), bytes);
    });
  }

  it('keeps a vendor\'s tagline, and none when it is empty', async () => {
    view = await openDemo({ tagline: '自定义' }, { locale: 'zh-CN' });
    assert.equal(await view.text('#tagline'), '自定义');
    await view.close();
    view = await openDemo({ tagline: '' }, { locale: 'zh-CN' });
    assert.equal(await view.visible('#tagline'), false);
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

  it('works from the keyboard: Download has the focus from the start', async () => {
    view = await openDemo();
    await view.mark();
    await view.page.keyboard.press('Enter');
    assert.deepEqual((await view.commandsSinceMark()).at(-1), post('dnld', { silent: true, url: harness.installerUrl }));
  });

  const checksums = [
    { name: 'passed on in lower case', sha256: 'AB'.repeat(32), sent: 'ab'.repeat(32) },
    { name: 'left out when not set', sha256: '', sent: undefined },
    { name: 'too short: no download rather than none checked', sha256: 'ab'.repeat(31), disabled: true },
    { name: 'not hex: no download', sha256: 'xy'.repeat(32), disabled: true },
  ];
  for (const c of checksums) {
    it(`the installer's SHA-256 setting is ${c.name}`, async () => {
      view = await openDemo(c.sha256 ? { sha256: c.sha256 } : {});
      assert.equal(await view.page.isDisabled('#download-button'), Boolean(c.disabled));
      if (c.disabled) {
        assert.match(await view.text('#idle-hint'), /SHA-256/);
        return;
      }
      await view.mark();
      await view.page.click('#download-button');
      const expected = { silent: true, url: harness.installerUrl };
      if (c.sent) expected.sha256 = c.sent;
      assert.deepEqual((await view.commandsSinceMark()).at(-1), post('dnld', expected));
    });
  }
});

describe('progress', () => {
  it('without figures says the size is unknown and counts the time, with no bar, then finishes', async () => {
    await openDownloadingOnClock();
    const seen = async () => ({
      title: await view.text('#download-title'),
      elapsed: await view.text('#progress-elapsed'),
      bar: await view.visible('#progress-bar'),
      percent: await view.text('#progress-percent'),
    });
    assert.deepEqual(await seen(), { title: 'Downloading…', elapsed: '0 s elapsed', bar: false, percent: '' });
    await view.page.clock.runFor(75_000);
    assert.deepEqual(await seen(), {
      title: 'Downloading… (size unknown)', elapsed: '1 min 15 s elapsed', bar: false, percent: '',
    });
    await view.notify(notices.finished);
    assert.equal(await view.visible('#state-finished'), true);
    assert.equal(await view.text('#finished-size'), '', 'no size was ever known');
  });

  it('switches to the bar when figures arrive after all, and stops counting the time', async () => {
    await openDownloadingOnClock();
    await view.page.clock.runFor(5000);
    await view.notify(notices.progress(512, 2048));
    assert.equal(await view.text('#download-title'), 'Downloading…');
    assert.equal(await view.visible('#progress-bar'), true);
    assert.equal(await view.text('#progress-elapsed'), '');
    await view.page.clock.runFor(5000);
    assert.equal(await view.text('#progress-elapsed'), '');
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
      assert.equal(await view.visible('#progress-bar'), true);
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
  // How far the download came before the failure: bytes counted, none, or a server that gave no
  // length (the host then sends no figures and the page cannot tell).
  const reach = {
    yes: (v) => v.notify(notices.progress(100, 2048)),
    no: async () => {},
    unknown: (v) => v.page.clock.runFor(2000),
  };
  const reasons = [
    { reason: 'network', reached: 'yes', title: 'The download was interrupted',
      message: /^The connection to the download server was lost after 100\u00a0B of 2\.0\u00a0KB\. .*not only on your connection\. Try again\.$/ },
    { reason: 'network', reached: 'no', title: 'The download could not start',
      message: /^The download server could not be reached\. Check that this computer is online/ },
    { reason: 'network', reached: 'unknown', title: 'The connection was lost',
      message: /^The connection to the download server was lost\. That can happen at the server/ },
    { reason: 'http', reached: 'no', title: 'The download could not start', message: /server’s side, not yours: try again in a few minutes/ },
    { reason: 'http', reached: 'yes', title: 'The download did not finish', message: /server’s side, not yours/ },
    { reason: 'file', reached: 'yes', title: 'The installer could not be saved',
      message: /^Writing to your Downloads folder failed\. Make sure the disk has free space/ },
    { reason: 'file', reached: 'no', button: '#save-as-button', title: 'The installer could not be saved',
      message: /^Writing to the place you chose failed\./ },
    { reason: 'verify', reached: 'yes', title: 'The download was damaged',
      message: /not the installer the vendor published, so it was not kept\. .*try again\.$/ },
    { reason: 'cancelled', reached: 'yes', title: 'Download cancelled', message: /stopped and the unfinished file removed/,
      retry: 'Download again' },
    { reason: 'something-new', reached: 'no', title: 'The download could not start', message: /^Something went wrong/ },
    { reason: 'something-new', reached: 'yes', title: 'The download did not finish', message: /^Something went wrong/ },
  ];
  for (const r of reasons) {
    it(`reason ${r.reason}, bytes arrived: ${r.reached}: "${r.title}" and ${r.retry ?? 'Try again'}`, async () => {
      view = await openDemo({}, { beforeLoad: (page) => page.clock.install({ time: 0 }) });
      await view.page.clock.pauseAt(60_000);
      await view.page.click(r.button ?? '#download-button');
      await view.notify(notices.start);
      await reach[r.reached](view);
      await view.notify(notices.failed(r.reason));
      await view.page.clock.runFor(600);
      assert.deepEqual({
        failed: await view.visible('#state-failed'),
        title: await view.text('#failure-title'),
        retry: await view.text('#retry-button'),
        focused: await focused(),
        attempt: await view.visible('#failure-attempt'),
      }, { failed: true, title: r.title, retry: r.retry ?? 'Try again', focused: 'retry-button', attempt: false });
      assert.match(await view.text('#failure-message'), r.message);
      assert.match(await view.page.textContent('#announcer'), new RegExp(`^${r.title}\\. `));
    });
  }

  it('a failure that comes before any start notice is not called unfinished', async () => {
    view = await openDemo();
    await view.page.click('#download-button');
    await view.notify(notices.failed('http'));
    assert.equal(await view.text('#failure-title'), 'The download could not start');
  });

  it('Try again stays on screen for a moment and counts the attempt, even when it fails at once', async () => {
    view = await openDemo({}, { beforeLoad: (page) => page.clock.install({ time: 0 }) });
    await view.page.clock.pauseAt(60_000);
    await view.page.click('#download-button');
    await view.notify(notices.start);
    await view.notify(notices.failed('network'));
    await view.page.clock.runFor(600);
    await view.page.click('#retry-button');
    await view.notify(notices.start);
    await view.notify(notices.failed('network'));
    const seen = async () => ({
      downloading: await view.visible('#state-downloading'),
      attempt: await view.visible('#state-downloading') ? await view.text('#download-attempt') : await view.text('#failure-attempt'),
    });
    assert.deepEqual(await seen(), { downloading: true, attempt: 'Attempt 2' });
    await view.page.clock.runFor(590);
    assert.deepEqual(await seen(), { downloading: true, attempt: 'Attempt 2' });
    await view.page.clock.runFor(10);
    assert.deepEqual(await seen(), { downloading: false, attempt: 'Attempt 2' });
    assert.equal(await focused(), 'retry-button');
  });

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
      // The new download starts from nothing, and says which attempt it is.
      await view.notify(notices.start);
      assert.equal(await view.visible('#state-downloading'), true);
      assert.equal(await view.visible('#progress-bar'), false);
      assert.equal(await view.text('#download-attempt'), 'Attempt 2');
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
    { name: 'keeping on posts nothing', act: (v) => v.page.click('#confirm-keep'), sent: [] },
    {
      name: 'cancelling the download keeps the window',
      act: (v) => v.page.click('#confirm-cancel-download'),
      sent: [post('post_data', { event_id: 'cancel_clicked' }), post('dnld_cancel')],
    },
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
      assert.equal(await focused(), 'confirm-keep');
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

  it('without window notices the maximise button switches between maximise and restore', async () => {
    view = await openDemo();
    await view.mark();
    await view.page.click('#maximize-button');
    assert.equal(await view.page.getAttribute('#maximize-button', 'aria-label'), 'Restore');
    await view.page.click('#maximize-button');
    assert.deepEqual(await view.commandsSinceMark(), [post('maximize'), post('restore')]);
    assert.equal(await view.page.getAttribute('#maximize-button', 'aria-label'), 'Maximise');
  });

  it('follows the host\'s window notices for the maximise button instead of guessing', async () => {
    view = await openDemo();
    const seen = async () => ({
      label: await view.page.getAttribute('#maximize-button', 'aria-label'),
      frame: await view.page.evaluate(() => getComputedStyle(document.body, '::after').display !== 'none'),
    });
    // The window manager maximised the window (a double click on its edge, a shortcut).
    await view.notify(notices.window('maximized'));
    assert.deepEqual(await seen(), { label: 'Restore', frame: false });
    await view.mark();
    await view.page.click('#maximize-button');
    assert.deepEqual(await view.commandsSinceMark(), [post('restore')]);
    assert.deepEqual(await seen(), { label: 'Restore', frame: false }, 'nothing changes before the host says so');
    await view.notify(notices.window('normal'));
    assert.deepEqual(await seen(), { label: 'Maximise', frame: true });
    // Minimising keeps the size the window comes back with; odd states are ignored.
    for (const state of ['minimized', 'fullscreen', undefined]) await view.notify(notices.window(state));
    assert.deepEqual(await seen(), { label: 'Maximise', frame: true });
    await view.mark();
    await view.page.dblclick('#window-title');
    const sent = (await view.commandsSinceMark()).filter((m) => !m.msg_type.startsWith('mouse'));
    assert.deepEqual(sent, [post('maximize')]);
  });
});

describe('links', () => {
  it('open in the default browser through the host, and the page stays', async () => {
    view = await openDemo({ homepage: 'https://example.com/home', privacy: 'javascript:alert(1)' });
    assert.equal(await view.visible('#privacy-link'), false, 'only web and mail links are shown');
    assert.equal(await view.visible('#help-link'), false, 'an empty link is hidden');
    await view.mark();
    await view.page.click('#homepage-link');
    assert.deepEqual(await view.commandsSinceMark(), [post('open_url', { url: 'https://example.com/home' })]);
    assert.match(view.page.url(), /\/page\/index\.html/);
  });

  it('a mail link goes to the host too', async () => {
    view = await openDemo({ help: 'mailto:support@example.com?subject=Setup', privacy: 'file:///etc/passwd' });
    assert.equal(await view.visible('#privacy-link'), false, 'a file link is not shown');
    await view.mark();
    await view.page.click('#help-link');
    assert.deepEqual(await view.commandsSinceMark(), [post('open_url', { url: 'mailto:support@example.com?subject=Setup' })]);
    assert.match(view.page.url(), /\/page\/index\.html/);
  });
});

describe('cancelling', () => {
  it('Cancel asks the host to stop, and the host\'s answer shows the cancelled state', async () => {
    await openDownloading();
    await view.notify(notices.progress(512, 2048));
    await view.mark();
    await view.page.click('#cancel-button');
    assert.deepEqual(await view.commandsSinceMark(), [post('post_data', { event_id: 'cancel_clicked' }), post('dnld_cancel')]);
    assert.equal(await view.text('#cancel-button'), 'Cancelling…');
    await view.notify(notices.failed('cancelled'));
    await view.page.waitForSelector('#state-failed', { state: 'visible' });
    assert.equal(await view.text('#failure-title'), 'Download cancelled');
    assert.equal(await focused(), 'retry-button');
  });

  it('with a host that ignores it, Cancel is offered again after a while', async () => {
    await openDownloadingOnClock();
    await view.page.click('#cancel-button');
    await view.page.clock.runFor(3000);
    assert.equal(await view.text('#cancel-button'), 'Cancel');
    assert.equal(await view.visible('#state-downloading'), true);
  });
});

describe('keyboard focus', () => {
  it('moves to the primary control of each new state', async () => {
    view = await openDemo();
    const record = [['start', await focused()]];
    await view.page.keyboard.press('Enter');
    await view.notify(notices.start);
    record.push(['started', await focused()]);
    await view.notify(notices.closeRunning);
    record.push(['close asked', await focused()]);
    await view.page.keyboard.press('Escape');
    record.push(['question dismissed', await focused()]);
    await view.notify(notices.failed('network'));
    await view.page.waitForSelector('#state-failed', { state: 'visible' });
    record.push(['failed', await focused()]);
    await view.page.keyboard.press('Enter');
    await view.notify(notices.start);
    record.push(['started again', await focused()]);
    await view.notify(notices.closeRunning);
    await view.notify(notices.finished);
    record.push(['finished while asking', await focused()]);
    assert.deepEqual(record, [
      ['start', 'download-button'],
      ['started', 'download-heading'],
      ['close asked', 'confirm-keep'],
      ['question dismissed', 'download-heading'],
      ['failed', 'retry-button'],
      ['started again', 'download-heading'],
      ['finished while asking', 'install-button'],
    ]);
  });

  it('Tab goes round inside the page, both ways, with no stop outside it', async () => {
    view = await openDemo();
    await view.page.focus('#save-as-button'); // the last control: the page has no links
    await view.page.keyboard.press('Tab');
    const forward = await focused();
    await view.page.keyboard.press('Shift+Tab');
    assert.deepEqual([forward, await focused()], ['minimize-button', 'save-as-button']);
  });

  it('Ctrl+A selects the texts worth copying, not the buttons', async () => {
    view = await openDemo();
    await view.page.focus('#content');
    await view.page.keyboard.press('Control+A');
    const selected = await view.page.evaluate(() => window.getSelection().toString());
    assert.match(selected, /setup\.run/);
    // The hint names “Save as…”; the buttons themselves are not in the selection.
    const lines = selected.split('\n').map((line) => line.trim());
    assert.deepEqual(['Download', 'Save as…', 'Tarvik Demo Minimise'].filter((label) => lines.includes(label)), []);
    assert.doesNotMatch(selected, /Minimise|Maximise/);
  });

  it('the close question opened with the mouse shows the focus ring on Tab, and keeps the focus inside', async () => {
    await openDownloading();
    await view.page.click('#close-button');
    await view.notify(notices.closeRunning);
    const ring = () => view.page.evaluate(() => {
      const element = document.activeElement;
      return [element.id, element.matches(':focus-visible') && getComputedStyle(element).outlineStyle !== 'none'];
    });
    const record = [];
    for (const key of ['Tab', 'Tab', 'Tab', 'Shift+Tab']) {
      await view.page.keyboard.press(key);
      record.push([key, ...(await ring())]);
    }
    assert.deepEqual(record, [
      ['Tab', 'confirm-cancel-download', true],
      ['Tab', 'confirm-stop', true],
      ['Tab', 'confirm-keep', true],
      ['Shift+Tab', 'confirm-stop', true],
    ]);
    assert.equal(await view.page.evaluate(() => document.getElementById('content').inert), true,
      'the page under the question is out of reach');
  });
});

describe('the first minute', () => {
  it('Enter pressed twice starts the download and never cancels it', async () => {
    view = await openDemo();
    await view.mark();
    await view.page.keyboard.press('Enter');
    await view.notify(notices.start);
    await view.page.keyboard.press('Enter');
    const sent = (await view.commandsSinceMark()).map((m) => m.msg_type);
    assert.deepEqual(sent, ['post_data', 'dnld']);
    assert.equal(await focused(), 'download-heading');
  });

  const ends = [
    { reason: 'cancelled', stopped: true, retry: 'Download again' },
    { reason: 'network', stopped: false, retry: 'Try again' },
  ];
  for (const end of ends) {
    it(`after ${end.reason}: ${end.stopped ? 'a neutral mark' : 'the failure mark'}, and both Download and Save as… again`, async () => {
      await openDownloading();
      await view.notify(notices.failed(end.reason));
      await view.page.waitForSelector('#state-failed', { state: 'visible' });
      const seen = await view.page.evaluate(() => ({
        stopped: document.getElementById('failure-outcome').classList.contains('stopped'),
        buttons: [...document.querySelectorAll('#state-failed button')].filter((b) => b.getClientRects().length)
          .map((b) => b.textContent.trim()),
      }));
      assert.deepEqual(seen, { stopped: end.stopped, buttons: [end.retry, 'Save as…'] });
      await view.mark();
      await view.page.click('#retry-save-as-button');
      assert.deepEqual((await view.commandsSinceMark()).at(-1), post('dnld', { silent: false, url: harness.installerUrl }));
    });
  }

  const cuts = [
    { name: 'setup.run', shown: 'setup.run' },
    { name: 'Tarvik Demo Professional Edition Setup 2026.12.3-x86_64.run', shown: 'Tarvik Demo Professio…p 2026.12.3-x86_64.run' },
  ];
  for (const c of cuts) {
    it(`a long name is cut in the middle, keeping its version and extension: ${c.name}`, async () => {
      await openDownloading();
      await view.notify(notices.file(c.name, 'Downloads'));
      assert.deepEqual(await view.page.evaluate(() => {
        const element = document.getElementById('download-file-name');
        return [element.textContent, element.title];
      }), [c.shown, c.name]);
    });
  }

  it('announces no empty landmark when the page has no links', async () => {
    view = await openDemo();
    assert.equal(await view.page.getAttribute('#footer', 'aria-hidden'), 'true');
  });

  it('shows the name and folder the host saves under, from the start to the end', async () => {
    await openDownloading();
    await view.notify(notices.file('setup (1).run', 'Downloads'));
    assert.equal(await view.text('#download-file'), 'setup (1).run · to the folder “Downloads”');
    await view.notify(notices.file('setup (2).run', 'Downloads'));
    await view.notify(notices.finished);
    assert.deepEqual([await view.text('#finished-file-name'), await view.text('#finished-place')],
      ['setup (2).run', 'Saved in the folder “Downloads”. Install it now, or later from there.']);
  });

  it('says Reconnecting… when the host connects again, drops speed and time left after 2 s without bytes, and goes on', async () => {
    await openDownloadingOnClock();
    const seen = async () => [await view.text('#download-title'), await view.text('#progress-speed'), await view.text('#progress-eta')];
    await view.notify(notices.progress(1024 * 1024, 10 * 1024 * 1024));
    await view.page.clock.runFor(1000);
    await view.notify(notices.progress(2 * 1024 * 1024, 10 * 1024 * 1024));
    assert.deepEqual(await seen(), ['Downloading…', '1.0 MB/s', '8 s left']);
    await view.notify(notices.retry(1));
    await view.page.clock.runFor(1900);
    assert.deepEqual(await seen(), ['Reconnecting…', '1.0 MB/s', '8 s left']);
    await view.page.clock.runFor(200);
    assert.deepEqual(await seen(), ['Reconnecting…', '', '']);
    await view.notify(notices.progress(3 * 1024 * 1024, 10 * 1024 * 1024));
    assert.equal(await view.text('#download-title'), 'Downloading…');
  });

  it('without a length shows the bytes so far and the speed on a moving bar, and no percentage', async () => {
    await openDownloadingOnClock();
    await view.notify(notices.received(512 * 1024));
    await view.page.clock.runFor(1000);
    await view.notify(notices.received(1536 * 1024));
    const seen = await view.page.evaluate(() => ({
      bar: !document.getElementById('progress-bar').hidden,
      moving: document.getElementById('progress-bar').classList.contains('unknown'),
      valuenow: document.getElementById('progress-bar').getAttribute('aria-valuenow'),
      valuetext: document.getElementById('progress-bar').getAttribute('aria-valuetext'),
      percent: document.getElementById('progress-percent').textContent,
      bytes: document.getElementById('progress-bytes').textContent,
      speed: document.getElementById('progress-speed').textContent,
    }));
    assert.deepEqual(seen, {
      bar: true, moving: true, valuenow: null, valuetext: '1.5 MB so far, 1.0 MB/s', percent: '', bytes: '1.5 MB so far', speed: '1.0 MB/s',
    });
  });

  const installs = [
    { notice: notices.installStarted, status: 'The installer has started. Follow its steps to finish.' },
    { notice: notices.installFailed('dismissed'), status: 'The installer did not start: the request for administrator rights was dismissed.' },
    { notice: notices.installFailed('something new'), status: 'The installer could not be started. Open its folder and start it yourself.' },
  ];
  for (const c of installs) {
    it(`Install waits for the host's word, then says: ${c.status}`, async () => {
      await openDownloading();
      await view.notify(notices.finished);
      await view.mark();
      await view.page.keyboard.press('Enter');
      await view.page.keyboard.press('Enter');
      assert.deepEqual((await view.commandsSinceMark()).map((m) => m.msg_type), ['post_data', 'install']);
      assert.deepEqual([await view.text('#install-status'), await view.page.isDisabled('#install-button')],
        ['Starting the installer…', true]);
      await view.notify(c.notice);
      assert.deepEqual([await view.text('#install-status'), await view.page.isDisabled('#install-button'), await focused()],
        [c.status, false, 'install-button']);
    });
  }
});

describe('what and where', () => {
  // The page shows the name the host saves under: the address's last path segment, decoded.
  const names = [
    { installer: 'https://example.com/files/setup.run', name: 'setup.run' },
    { installer: 'https://example.com/files/My%20App%20Setup%C3%A9.exe?x=1#y', name: 'My App Setupé.exe' },
    { installer: 'https://example.com/files/a%2Fb%5Cc.exe', name: 'a_b_c.exe' },
    { installer: 'https://example.com/files/odd%ZZname%FF.exe', name: 'odd%ZZname%FF.exe' },
    { installer: 'https://example.com/files/', name: 'setup' },
    { installer: 'https://example.com', name: 'setup' },
  ];
  for (const n of names) {
    it(`${n.installer} is saved as "${n.name}"`, async () => {
      view = await harness.open({ product, installer: n.installer });
      assert.equal(await view.text('#idle-file-name'), n.name);
    });
  }

  for (const [button, place] of [['#download-button', 'your Downloads folder'], ['#save-as-button', 'the place you chose']]) {
    it(`${button}: name, size once known, and ${place}; Show in folder next to the name`, async () => {
      view = await openDemo();
      await view.page.click(button);
      await view.notify(notices.start);
      const seen = async () => view.text('#download-file');
      assert.equal(await seen(), `setup.run · to ${place}`);
      await view.notify(notices.progress(3 * 1024 * 1024, 12 * 1024 * 1024));
      assert.equal(await view.text('#progress-bytes'), '3.0 MB of 12.0 MB');
      await view.notify(notices.finished);
      assert.deepEqual([await view.text('#finished-file-name'), await view.text('#finished-size')],
        ['setup.run', '12.0 MB']);
      assert.match(await view.text('#finished-place'), new RegExp(`^Saved in ${place}\\.`));
      const [name, folder] = await Promise.all(['#finished-file-name', '#show-folder-button']
        .map((s) => view.page.locator(s).boundingBox()));
      assert.ok(Math.abs(name.y - folder.y) < 8 && folder.x > name.x + name.width,
        'Show in folder sits on the name\'s line, after it');
    });
  }
});

// Every visible control and text block of the page in its current state, as boxes: none may
// overlap another, lie outside the window, or be cut off by the scrolling content area.
function layoutProblems(v) {
  return v.page.evaluate(() => {
    const question = document.querySelector('#confirm-close:not([hidden]) .dialog');
    const roots = question ? [document.querySelector('.titlebar'), question] : [document.body];
    const selector = 'button, a[href], h1, h2, p, .status-line > span, .progress, .file-row > *, .file-line > *';
    const name = (e) => e.id || `${e.tagName.toLowerCase()}.${[...e.classList].join('.')}`;
    const items = roots.flatMap((root) => [...root.querySelectorAll(selector)])
      .filter((e) => !e.closest('[hidden]') && !e.closest('.visually-hidden') && e.getClientRects().length)
      .map((e) => ({ e, r: e.getBoundingClientRect() }))
      .filter(({ r }) => r.width > 0 && r.height > 0);
    const problems = [];
    const content = document.getElementById('content');
    if (content.scrollHeight > content.clientHeight + 1) problems.push('the content needs scrolling');
    for (const { e, r } of items) {
      if (r.left < 0 || r.top < 0 || r.right > innerWidth + 0.5 || r.bottom > innerHeight + 0.5) {
        problems.push(`${name(e)} lies outside the window`);
      }
    }
    for (let i = 0; i < items.length; i += 1) {
      for (let j = i + 1; j < items.length; j += 1) {
        const [a, b] = [items[i], items[j]];
        if (a.e.contains(b.e) || b.e.contains(a.e)) continue;
        const overlapX = Math.min(a.r.right, b.r.right) - Math.max(a.r.left, b.r.left);
        const overlapY = Math.min(a.r.bottom, b.r.bottom) - Math.max(a.r.top, b.r.top);
        if (overlapX > 0.5 && overlapY > 0.5) problems.push(`${name(a.e)} overlaps ${name(b.e)}`);
      }
    }
    return problems;
  });
}

describe('long names', () => {
  // 80 characters, with a word a browser would like to break after its hyphen.
  const longName = 'Northwind Photo Studio Professional Edition 2025 for Creative Teams (64-bit) Beta';
  const links = { homepage: 'https://example.com/', privacy: 'https://example.com/p', help: 'https://example.com/h' };
  const M = 1024 * 1024;
  // Every state, in an order one page can go through.
  const steps = [
    ['idle', async () => {}],
    ['downloading', async (v) => {
      await v.page.click('#save-as-button');
      await v.notify(notices.start);
      await v.notify(notices.progress(4 * M, 12 * M));
      await v.page.clock.runFor(1000);
      await v.notify(notices.progress(5 * M, 12 * M));
    }],
    ['failed after bytes', async (v) => {
      await v.notify(notices.failed('network'));
      await v.page.clock.runFor(600);
    }],
    ['second attempt without a length', async (v) => {
      await v.page.click('#retry-button');
      await v.notify(notices.start);
      await v.page.clock.runFor(12_000);
    }],
    ['close question', (v) => v.notify(notices.closeRunning)],
    ['failed again', async (v) => {
      await v.page.keyboard.press('Escape');
      await v.notify(notices.failed('file'));
      await v.page.clock.runFor(600);
    }],
    ['finished', async (v) => {
      await v.page.click('#retry-button');
      await v.notify(notices.start);
      await v.notify(notices.progress(12 * M, 12 * M));
      await v.notify(notices.finished);
    }],
  ];
  for (const scale of [1, 1.5, 2]) {
    it(`at ${scale}× no box overlaps another or leaves the window, in any state`, async () => {
      view = await harness.open({ product: longName, installer: harness.installerUrl, ...links },
        { scale, beforeLoad: (page) => page.clock.install({ time: 0 }) });
      await view.page.clock.pauseAt(60_000);
      const record = [];
      for (const [state, act] of steps) {
        await act(view);
        record.push([state, await layoutProblems(view)]);
      }
      assert.deepEqual(record, steps.map(([state]) => [state, []]));
    });
  }

  const headings = [
    { name: longName, lines: 2, tooltip: false },
    { name: 'Setup', lines: 1, tooltip: false },
    // Wide letters: 80 characters that cannot fit in two lines.
    { name: Array(8).fill('WMWMWMWMW').join(' ').padEnd(80, 'W'), lines: 2, tooltip: true },
  ];
  for (const h of headings) {
    it(`a name of ${h.name.length} characters takes ${h.lines} line(s)${h.tooltip ? ', an ellipsis and a tooltip' : ''}`, async () => {
      view = await harness.open({ product: h.name, installer: harness.installerUrl });
      const seen = await view.page.evaluate(() => {
        const heading = document.getElementById('product-name');
        const lineHeight = parseFloat(getComputedStyle(heading).lineHeight);
        return { lines: Math.round(heading.getBoundingClientRect().height / lineHeight), tooltip: heading.title };
      });
      assert.deepEqual(seen, { lines: h.lines, tooltip: h.tooltip ? h.name : '' });
      assert.equal(await view.page.title(), h.name);
    });
  }

  it('does not break "(64-bit)" across lines, wherever the line ends', async () => {
    // Narrowing the window moves the end of the first line through the word: somewhere a
    // browser would break after its hyphen unless the page keeps it whole.
    view = await harness.open({ product: 'Northwind Photo Studio (64-bit)', installer: harness.installerUrl });
    const splits = [];
    for (let width = 640; width >= 480; width -= 4) {
      await view.page.setViewportSize({ width, height: 420 });
      const lines = await view.page.evaluate(() => {
        const heading = document.getElementById('product-name');
        const walker = document.createTreeWalker(heading, NodeFilter.SHOW_TEXT);
        let holder = walker.nextNode();
        while (holder && !holder.data.includes('(64-bit)')) holder = walker.nextNode();
        const range = document.createRange();
        const start = holder.data.indexOf('(64-bit)');
        range.setStart(holder, start);
        range.setEnd(holder, start + '(64-bit)'.length);
        return new Set([...range.getClientRects()].map((r) => Math.round(r.top))).size;
      });
      if (lines !== 1) splits.push(width);
    }
    assert.deepEqual(splits, []);
  });
});

// Relative luminance and contrast ratio as WCAG defines them, from CSS rgb()/rgba() colours.
function parseColour(text) {
  const parts = text.match(/[\d.]+/g).map(Number);
  return { r: parts[0], g: parts[1], b: parts[2], a: parts.length > 3 ? parts[3] : 1 };
}
function over(top, bottom) {
  const mix = (x, y) => x * top.a + y * (1 - top.a);
  return { r: mix(top.r, bottom.r), g: mix(top.g, bottom.g), b: mix(top.b, bottom.b), a: 1 };
}
function luminance({ r, g, b }) {
  const channel = (v) => {
    const s = v / 255;
    return s <= 0.04045 ? s / 12.92 : ((s + 0.055) / 1.055) ** 2.4;
  };
  return 0.2126 * channel(r) + 0.7152 * channel(g) + 0.0722 * channel(b);
}
function contrast(a, b) {
  const [light, dark] = [luminance(a), luminance(b)].sort((x, y) => y - x);
  return Math.round(((light + 0.05) / (dark + 0.05)) * 100) / 100;
}

// Colours as the browser computed them: the element's own (or a pseudo-element's) property, and
// the background behind an element, layers with alpha composed down to the first opaque one.
function readColours(v, selector, property, pseudo = null) {
  return v.page.evaluate(([sel, prop, pseudoElement]) => {
    const element = document.querySelector(sel);
    const layers = [];
    for (let e = pseudoElement ? element : element.parentElement; e; e = e.parentElement) {
      layers.push(getComputedStyle(e).backgroundColor);
    }
    const style = getComputedStyle(element, pseudoElement);
    // A border colour counts only where a border is drawn: without one the computed colour is
    // just the text colour. A filter changes colours after they are computed.
    const drawn = !prop.startsWith('border') ||
      (parseFloat(style.borderTopWidth) >= 1 && style.borderTopStyle !== 'none' &&
       (!pseudoElement || style.content !== 'none'));
    return { colour: drawn ? style[prop] : null, behind: layers, filter: style.filter };
  }, [selector, property, pseudo]);
}
function behind(layers, desktop) {
  return layers.map(parseColour).reduceRight((below, layer) => over(layer, below), desktop);
}

describe('contrast', () => {
  const white = { r: 255, g: 255, b: 255, a: 1 };
  const black = { r: 0, g: 0, b: 0, a: 1 };
  // [what, selector, property, minimum, background]: the background is what lies behind the
  // element, or for a control's own fill, the fill itself; the frame is seen against the desktop.
  const pairs = [
    ['text on the page', '#product-name', 'color', 4.5],
    ['muted text on a panel', '#idle-hint', 'color', 4.5],
    ['button text on Download', '#download-button', 'color', 4.5, 'own'],
    ['button text on Download, hovered', '#download-button', 'color', 4.5, 'own', 'hover'],
    ['edge of Save as… on a panel', '#save-as-button', 'borderTopColor', 3],
    ['footer link', '#homepage-link', 'color', 4.5],
    ['percentage on a panel', '#progress-percent', 'color', 4.5, null, 'downloading'],
    ['focus ring around Cancel', '#cancel-button', 'outlineColor', 3, null, 'downloading focus'],
    ['button text on Close', '#confirm-stop', 'color', 4.5, 'own', 'question'],
    ['button text on Close, hovered', '#confirm-stop', 'color', 4.5, 'own', 'question hover'],
    ['edge of the question on the dimmed page', '.dialog', 'borderTopColor', 3, 'overlay', 'question'],
    ['Show in folder on a panel', '#show-folder-button', 'color', 4.5, null, 'finished'],
    ['window frame on the desktop', 'body', 'borderTopColor', 3, 'desktop', null, '::after'],
  ];
  for (const scheme of ['light', 'dark']) {
    it(`${scheme}: the main pairs reach WCAG AA`, async () => {
      view = await openDemo({ homepage: 'https://example.com/' }, { colorScheme: scheme });
      await view.page.emulateMedia({ colorScheme: scheme, reducedMotion: 'reduce' });
      const desktop = scheme === 'light' ? white : black;
      const ratios = [];
      let state = null;
      for (const [what, selector, property, minimum, background, when = null, pseudo = null] of pairs) {
        if (when?.startsWith('downloading') && state !== 'downloading') {
          await view.page.click('#download-button');
          await view.notify(notices.start);
          await view.notify(notices.progress(512, 2048));
          state = 'downloading';
        }
        if (when === 'downloading focus') await view.page.keyboard.press('Shift+Tab').then(() => view.page.keyboard.press('Tab'));
        if (when?.startsWith('question') && state !== 'question') {
          await view.notify(notices.closeRunning);
          state = 'question';
        }
        if (when === 'finished' && state !== 'finished') {
          await view.page.keyboard.press('Escape');
          await view.notify(notices.finished);
          state = 'finished';
        }
        if (when?.endsWith('hover')) await view.page.hover(selector);
        const { colour, behind: layers, filter } = await readColours(view, selector, property, pseudo);
        let ground;
        let under; // what a translucent colour is seen over, when that is not the ground
        if (background === 'own') {
          ground = behind([(await readColours(view, selector, 'backgroundColor')).colour, ...layers], desktop);
        } else if (background === 'overlay') {
          // The question's edge (its border over its own fill) against the dimmed page.
          const dialog = await readColours(view, '.dialog', 'backgroundColor');
          ground = behind(dialog.behind, desktop);
          under = over(parseColour(dialog.colour), ground);
        } else if (background === 'desktop') {
          ground = desktop;
        } else {
          ground = behind(layers, desktop);
        }
        const ratio = colour === null ? 1 : contrast(over(parseColour(colour), under ?? ground), ground);
        if (filter !== 'none') ratios.push([what, `a filter (${filter}) changes the colours`]);
        else ratios.push([what, ratio >= minimum ? `≥ ${minimum}` : `${ratio} < ${minimum}`]);
        if (when?.endsWith('hover')) await view.page.mouse.move(1, 400);
      }
      assert.deepEqual(ratios, pairs.map(([what, , , minimum]) => [what, `≥ ${minimum}`]));
    });
  }
});
