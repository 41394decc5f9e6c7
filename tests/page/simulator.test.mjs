// The page kit's simulator (page/kit/tarvik-simulator.js) in headless Chromium, as a page in an
// ordinary browser meets it: it ignores what the host ignores, reports the host's own events,
// keeps the host's timings (on a clock the test moves), and its panel changes what the next
// download meets; and `make page-dev` serves the reference page to it. What it shares with the
// real host is checked by the scenario table.
//
// TARVIK_DEMO_SERVICE names the demo service program for the page-dev check (CTest sets it).
import { spawn } from 'node:child_process';
import { once } from 'node:events';
import path from 'node:path';
import { after, afterEach, before, describe, it } from 'node:test';
import assert from 'node:assert/strict';
import { extraFiles, launchChromium, startHarness } from './harness.mjs';

extraFiles.set('/page/sim-test.html', {
  type: 'text/html',
  body: '<!doctype html><meta charset="utf-8"><title>simulator</title>'
    + '<script type="module">import tarvik from "./kit/tarvik.js"; window.kit = tarvik;'
    + 'tarvik.ready.then(() => { window.sim = tarvik.simulator; });</script>',
});

let harness;
let view;
before(async () => {
  harness = await startHarness();
});
after(async () => {
  await harness?.close();
});
afterEach(async () => {
  await view?.close();
  view = undefined;
});

async function openSimulator(script = '', { clock = false } = {}) {
  view = await harness.open({ 'tarvik-sim': script }, {
    path: 'sim-test.html', bridge: false,
    beforeLoad: clock ? (page) => page.clock.install({ time: 0 }) : undefined,
  });
  await view.page.waitForFunction(() => window.sim);
  // From here on only the test moves the page's time.
  if (clock) await view.page.clock.pauseAt(60_000);
  // Every notice the page gets, as JSON text, in window.__notices.
  await view.page.evaluate(() => {
    window.__notices = [];
    window.kit.addEventListener('notice', (event) => window.__notices.push(JSON.stringify(event.detail)));
  });
  return view;
}
const inPage = (code) => view.page.evaluate((body) => new Function('kit', 'sim', body)(window.kit, window.sim), code);
const takeNotices = () => view.page.evaluate(() => window.__notices.splice(0));

describe('commands', () => {
  // Each is dropped whole by the host, which then does nothing at all.
  const ignored = [
    ['not JSON', '{"msg_type":"minimize"'],
    ['not a string', 42],
    ['a zero character', '{"msg_type":"minimize"}\u0000'],
    ['an array', '[1,2]'],
    ['no msg_type', '{"msg_data":{}}'],
    ['a msg_type that is no text', '{"msg_type":1}'],
    ['another letter case', '{"msg_type":"Minimize"}'],
    ['close without msg_data', '{"msg_type":"close"}'],
    ['close with force_close as text', '{"msg_type":"close","msg_data":{"force_close":"true"}}'],
    ['dnld without silent', '{"msg_type":"dnld","msg_data":{"url":"https://e.com/a"}}'],
    ['dnld with a short sha256', '{"msg_type":"dnld","msg_data":{"url":"https://e.com/a","silent":true,"sha256":"ab"}}'],
    ['dnld with msg_data that is no object', '{"msg_type":"dnld","msg_data":"x"}'],
    ['mousedown without y', '{"msg_type":"mousedown","msg_data":{"x":1}}'],
    ['resize_window with a width in text', '{"msg_type":"resize_window","msg_data":{"width":"640"}}'],
    ['post_data with a number', '{"msg_type":"post_data","msg_data":{"event_id":5}}'],
  ];
  it('ignores, and says why, every message the host ignores', async () => {
    await openSimulator();
    const seen = [];
    for (const [name, message] of ignored) {
      const before = await inPage('return sim.log.length');
      await view.page.evaluate((m) => window.sim.postMessage(m), message);
      const log = await inPage(`return sim.log.slice(${before}).map((e) => e.direction)`);
      seen.push([name, log]);
    }
    await new Promise((resolve) => setTimeout(resolve, 100)); // any notice would have come by now
    assert.deepEqual({ seen, notices: await takeNotices(), events: await inPage('return sim.events') },
      { seen: ignored.map(([name]) => [name, ['ignored']]), notices: [], events: [] });
  });

  it('reports the host\'s own events: 5 for a sized window, 4 for an opened link, and none for a link it may not open', async () => {
    await openSimulator();
    await inPage('kit.window.resize({width: 500}); kit.report("mine")');
    await view.page.evaluate(() => {
      window.sim.postMessage('{"msg_type":"open_url","msg_data":{"url":"file:///etc/passwd"}}');
      window.kit.openUrl('https://example.com/help');
    });
    await view.page.waitForFunction(() => window.sim.events.length === 3);
    assert.deepEqual(await inPage('return [sim.events, sim.windowSize]'),
      [['5', 'mine', '4'], { width: 500, height: 0, title: '' }]);
  });

  it('tells each change of the window once, whether the page or the desktop made it', async () => {
    await openSimulator();
    await inPage(`
      kit.window.maximize(); kit.window.maximize(); kit.window.minimize();
      sim.desktop('restore'); // from the taskbar: back to the maximised window
      kit.window.restore(); sim.desktop('maximize');`);
    await view.page.waitForFunction(() => window.__notices.length === 5);
    assert.deepEqual((await takeNotices()).map((text) => JSON.parse(text).state),
      ['maximized', 'minimized', 'maximized', 'normal', 'maximized']);
  });

  it('the save dialog: cancelled, nothing is sent and the page may ask again; a second request while one starts is dropped', async () => {
    await openSimulator('dialog:cancel,size:1K,rate:0');
    await inPage('kit.download("https://e.com/a.exe", {silent: false})');
    await new Promise((resolve) => setTimeout(resolve, 100));
    const afterCancel = await takeNotices();
    await inPage('sim.postMessage(JSON.stringify({msg_type: "dnld", msg_data: {url: "https://e.com/a.exe", silent: true}})); sim.postMessage(JSON.stringify({msg_type: "dnld", msg_data: {url: "https://e.com/b.exe", silent: true}}))');
    await view.page.waitForFunction(() => window.__notices.some((text) => text.includes('dnld_finished')));
    assert.deepEqual([afterCancel, (await takeNotices()).map((text) => JSON.parse(text).status_text ?? JSON.parse(text).msg_type)],
      [[], ['dnld_start', 'dl_file', 'dl_progress', 'dnld_finished']]);
  });
});

describe('the host\'s timings', () => {
  const figures = async () => (await takeNotices()).map((text) => JSON.parse(text)).map((n) => {
    if (n.msg_type === 'dl_retry') return `retry:${n.attempt}`;
    if (n.msg_type === 'dl_file') return `file:${n.file_name} in ${n.folder_name}`;
    return n.dl_now ?? n.status_text;
  });

  it('a dropped connection: told at once, no figures for 1 s, then on from where it broke', async () => {
    await openSimulator('size:100K,rate:200K,drop-after:20K,drop-once', { clock: true });
    await inPage('kit.download("https://e.com/a.exe")');
    await view.page.clock.runFor(150); // 10 KiB a tick: the second reaches the drop, at 100 ms
    const untilDrop = await figures();
    await view.page.clock.runFor(940);
    const during = await figures();
    await view.page.clock.runFor(20);
    assert.deepEqual([untilDrop, during, await figures()],
      [['dnld_start', 'file:a.exe in Downloads', 10240, 20480, 'retry:1'], [], [30720]]);
  });

  it('a server that goes away: given up after 1, 2 and 4 s more', async () => {
    await openSimulator('size:100K,rate:200K,fail:network,fail-after:10K', { clock: true });
    await inPage('kit.download("https://e.com/a.exe")');
    await view.page.clock.runFor(100);
    const first = await figures();
    await view.page.clock.runFor(6990);
    const before = await figures();
    await view.page.clock.runFor(20);
    assert.deepEqual([first, before, await figures()],
      [['dnld_start', 'file:a.exe in Downloads', 10240], ['retry:1', 'retry:2', 'retry:3'], ['dnld_failed']]);
  });

  it('asked again after a network failure, the same address continues where it broke; another starts over', async () => {
    await openSimulator('size:40K,rate:200K,fail:network,fail-after:20K', { clock: true });
    await inPage('kit.download("https://e.com/a.exe")');
    await view.page.clock.runFor(8000);
    await takeNotices();
    await inPage('sim.configure("size:40K,rate:200K,fail:network,fail-after:30K"); kit.download("https://e.com/a.exe")');
    await view.page.clock.runFor(60);
    const same = await figures();
    await view.page.clock.runFor(8000);
    await takeNotices();
    await inPage('kit.download("https://e.com/b.exe")');
    await view.page.clock.runFor(60);
    assert.deepEqual([same, await figures()],
      [['dnld_start', 'file:a.exe in Downloads', 30720], ['dnld_start', 'file:b.exe in Downloads', 10240]]);
  });
});

describe('the panel', () => {
  it('its settings apply to the next download and stay in the address for the next reload', async () => {
    await openSimulator('size:1K,rate:0');
    const panel = view.page.locator('tarvik-simulator');
    await panel.locator('#fail').selectOption('http');
    await panel.locator('#size').fill('2K');
    await panel.locator('#size').dispatchEvent('change');
    assert.equal(new URL(view.page.url()).searchParams.get('tarvik-sim'), 'size:2K,rate:0,fail:http');
    await inPage('kit.download("https://e.com/a.exe")');
    await view.page.waitForFunction(() => window.__notices.length === 3);
    assert.deepEqual((await takeNotices()).map((text) => JSON.parse(text)).map((n) => n.reason ?? n.status_text ?? n.msg_type),
      ['dnld_start', 'dl_file', 'http']);
  });

  it('plays the desktop, and covers the page while the window is minimised or the program has ended', async () => {
    await openSimulator();
    const panel = view.page.locator('tarvik-simulator');
    await panel.locator('#minimize').click();
    const minimised = await panel.locator('#minimized').isVisible();
    await panel.locator('#unminimize').click();
    const restored = await panel.locator('#minimized').isVisible();
    await inPage('kit.window.close()');
    await panel.locator('#closed').waitFor();
    await inPage('kit.report("after the end")');
    assert.deepEqual([minimised, restored, await inPage('return [sim.closed, sim.events]')], [true, false, [true, []]]);
    assert.deepEqual((await takeNotices()).map((text) => JSON.parse(text).state), ['minimized', 'normal']);
  });

  it('understands the script it writes, and names what it does not understand', async () => {
    await openSimulator();
    const seen = await view.page.evaluate(async () => {
      const { parseScript, formatScript } = await import('./kit/tarvik-simulator.js');
      return [
        'size:8M,rate:1M,no-length,drop-after:3M,drop-once,fail:verify,fail-after:1K,dialog:cancel',
        'rate:0,sha256:' + 'AB'.repeat(32),
        'size:lots,fail:timeout,speed:1M,no-length:yes',
        '',
      ].map((script) => {
        const { settings, problems } = parseScript(script);
        return [formatScript(settings), problems];
      });
    });
    assert.deepEqual(seen, [
      ['size:8M,rate:1M,no-length,drop-after:3M,drop-once,fail:verify,fail-after:1K,dialog:cancel', []],
      [`rate:0,sha256:${'ab'.repeat(32)}`, []],
      ['', ['size:lots', 'fail:timeout', 'speed:1M', 'no-length:yes']],
      ['', []],
    ]);
  });
});

describe('the reference page', () => {
  it('runs in an ordinary browser with the simulator, through a whole download', async () => {
    view = await harness.open({ installer: harness.installerUrl, product: 'Demo', 'tarvik-sim': 'size:64K,rate:256K' },
      { bridge: false });
    await view.page.waitForSelector('#download-button:focus');
    await view.page.click('#download-button');
    await view.page.waitForSelector('#state-finished', { state: 'visible' });
    const events = await view.page.evaluate(async () => {
      const { default: tarvik } = await import('./kit/tarvik.js');
      return tarvik.simulator.events;
    });
    assert.deepEqual([await view.text('#finished-size'), events], ['64.0 KB', ['5', 'page_shown', 'download_clicked']]);
  });
});

describe('make page-dev', () => {
  const demoService = process.env.TARVIK_DEMO_SERVICE;
  it('serves page/ with the demo service, and the address it gives opens the reference page in the simulator',
    { skip: demoService ? false : 'TARVIK_DEMO_SERVICE does not name the demo service' }, async () => {
      const script = path.resolve(import.meta.dirname, '../../tools/page-dev.sh');
      const child = spawn(script, [], {
        detached: true,
        env: { ...process.env, DEMO_SERVICE: demoService, SERVICE_PORT: '0', PAGE_DEV_OPEN: '0' },
        stdio: ['ignore', 'pipe', 'inherit'],
      });
      const ended = once(child, 'exit');
      try {
        let output = '';
        child.stdout.on('data', (chunk) => { output += chunk; });
        const address = await new Promise((resolve, reject) => {
          const timer = setTimeout(() => reject(new Error(`no address in:\n${output}`)), 20_000);
          child.stdout.on('data', () => {
            const found = /the page in the simulator: (\S+)/.exec(output)?.[1];
            if (found) {
              clearTimeout(timer);
              resolve(found);
            }
          });
        });
        const browser = await launchChromium();
        try {
          const page = await browser.newPage({ viewport: { width: 640, height: 420 } });
          await page.goto(address.replace('?tarvik-sim', '?tarvik-sim=rate:0'));
          await page.waitForSelector('#download-button:focus');
          const product = await page.locator('#product-name').innerText();
          await page.click('#download-button');
          await page.waitForSelector('#state-finished', { state: 'visible' });
          assert.deepEqual([product, await page.locator('#finished-file-name').innerText()], ['Tarvik Demo', 'tarvik-demo-setup.run']);
        } finally {
          await browser.close();
        }
        // Ctrl+C ends it, and the service with it.
        process.kill(-child.pid, 'SIGINT');
        assert.deepEqual((await ended)[0], 130);
        await assert.rejects(fetch(address));
      } finally {
        try {
          process.kill(-child.pid, 'SIGKILL');
        } catch {
          // already gone
        }
      }
    });
});
