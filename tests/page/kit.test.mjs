// The page kit (page/kit/tarvik.js) in headless Chromium, on a bare page with the stand-in host
// bridge: the exact text of each command, the arguments it refuses, where each notice goes, the
// download's life as the host's notices tell it, the close answer, dragging, and the modes
// without a host.
import { after, afterEach, before, describe, it } from 'node:test';
import assert from 'node:assert/strict';
import { extraFiles, notices, startHarness } from './harness.mjs';
import { compile, schema } from './protocol_schema.mjs';
import { entries, noticeRoute } from '../../tools/protocol-gen.mjs';

const protocol = compile();
const URL_ = 'https://downloads.example.com/files/Setup.exe';

// A page with nothing but the kit, as window.kit.
extraFiles.set('/page/kit-test.html', {
  type: 'text/html',
  body: '<!doctype html><meta charset="utf-8"><title>kit</title>'
    + '<script type="module">import tarvik from "./kit/tarvik.js"; window.kit = tarvik;</script>',
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
  await view?.close(); // also fails the test if the page threw
  view = undefined;
});

async function openKit({ bridge = true, query = {} } = {}) {
  view = await harness.open(query, { path: 'kit-test.html', bridge });
  await view.page.waitForFunction(() => window.kit);
  return view;
}
const sent = () => view.page.evaluate(() => window.__sent.slice());

// Runs `code` in the page (with `kit` and `URL_` in scope) and returns what it posted meanwhile.
async function postsOf(code) {
  const before = (await sent()).length;
  await view.page.evaluate(([body, url]) => new Function('kit', 'URL_', body)(window.kit, url), [code, URL_]);
  return (await sent()).slice(before);
}

describe('commands', () => {
  const cases = [
    ['download', 'kit.download(URL_)', [`{"msg_type":"dnld","msg_data":{"url":"${URL_}","silent":true}}`]],
    // Asked again before the host has started it (a cancelled save dialog): asked again.
    ['download to a chosen place, with a checksum', 'kit.download(URL_, {silent: false, sha256: "AB".repeat(32)})',
      [`{"msg_type":"dnld","msg_data":{"url":"${URL_}","silent":false,"sha256":"${'AB'.repeat(32)}"}}`]],
    ['download with its signature', 'kit.download(URL_, {minisig: "untrusted comment: x\\nRW..."})',
      [`{"msg_type":"dnld","msg_data":{"url":"${URL_}","silent":true,"minisig":"untrusted comment: x\\nRW..."}}`]],
    ['cancel', 'kit.currentDownload.cancel()', ['{"msg_type":"dnld_cancel"}']],
    ['install', 'kit.install()', ['{"msg_type":"install"}']],
    ['reveal', 'kit.reveal()', ['{"msg_type":"open_dnld_dir"}']],
    ['openUrl', 'kit.openUrl("https://example.com/help?a=1")', ['{"msg_type":"open_url","msg_data":{"url":"https://example.com/help?a=1"}}']],
    ['openUrl with a mail link', 'kit.openUrl("mailto:support@example.com?subject=Setup")',
      ['{"msg_type":"open_url","msg_data":{"url":"mailto:support@example.com?subject=Setup"}}']],
    ['report', 'kit.report("page_shown")', ['{"msg_type":"post_data","msg_data":{"event_id":"page_shown"}}']],
    ['resize', 'kit.window.resize({width: 640, height: 420, title: "Démo"})',
      ['{"msg_type":"resize_window","msg_data":{"width":640,"height":420,"window_text":"Démo"}}']],
    ['resize to the default size', 'kit.window.resize()', ['{"msg_type":"resize_window","msg_data":{}}']],
    ['minimize', 'kit.window.minimize()', ['{"msg_type":"minimize"}']],
    ['maximize', 'kit.window.maximize()', ['{"msg_type":"maximize"}']],
    ['restore', 'kit.window.restore()', ['{"msg_type":"restore"}']],
    ['close', 'kit.window.close()', ['{"msg_type":"close","msg_data":{"force_close":false}}']],
    ['close with force', 'kit.window.close({force: true})', ['{"msg_type":"close","msg_data":{"force_close":true}}']],
  ];
  it('each call posts one command as exact JSON text, and each fits the schema', async () => {
    await openKit();
    const seen = [];
    for (const [name, code] of cases) seen.push([name, await postsOf(code)]);
    assert.deepEqual(seen, cases.map(([name, , texts]) => [name, texts]));
    const unfit = seen.flatMap(([, texts]) => texts).filter((text) => protocol.fits('command', JSON.parse(text)).length !== 1);
    assert.deepEqual(unfit, []);
  });

  it('send() passes on a command the kit does not wrap', async () => {
    await openKit();
    assert.deepEqual(await postsOf('kit.send("later_command", {a: 1}); kit.send("bare")'),
      ['{"msg_type":"later_command","msg_data":{"a":1}}', '{"msg_type":"bare"}']);
  });

  // The host would drop these whole and say nothing, so the page would wait for ever.
  const refused = [
    ['an address that is not a string', 'kit.download(42)'],
    ['silent that is not a boolean', 'kit.download(URL_, {silent: "yes"})'],
    ['a short checksum', 'kit.download(URL_, {sha256: "ab"})'],
    ['a signature that is not text', 'kit.download(URL_, {minisig: 7})'],
    ['a checksum that is not hex', 'kit.download(URL_, {sha256: "xy".repeat(32)})'],
    ['a file link', 'kit.openUrl("file:///etc/passwd")'],
    ['a script link', 'kit.openUrl("javascript:alert(1)")'],
    ['a relative link', 'kit.openUrl("/help")'],
    ['a mail link without an address', 'kit.openUrl("mailto:?subject=Setup")'],
    ['a mail link with a character a URL must encode', 'kit.openUrl("mailto:a@example.com?subject=<x>")'],
    ['a link with a line break', 'kit.openUrl("https://example.com/\\nx")'],
    ['an event code that is a number', 'kit.report(5)'],
    ['a width in text', 'kit.window.resize({width: "640"})'],
    ['a height that is no number', 'kit.window.resize({height: NaN})'],
    ['a title that is no text', 'kit.window.resize({title: 3})'],
    ['force that is not a boolean', 'kit.window.close({force: 1})'],
    ['a command name that is not text', 'kit.send(3)'],
  ];
  it('refuses arguments the host would ignore with a TypeError, and sends nothing', async () => {
    await openKit();
    const seen = await view.page.evaluate((rows) => rows.map(([name, code]) => {
      try {
        new Function('kit', 'URL_', code)(window.kit, 'https://downloads.example.com/files/Setup.exe');
        return [name, 'no error'];
      } catch (error) {
        return [name, error.name];
      }
    }), refused);
    assert.deepEqual(seen, refused.map(([name]) => [name, 'TypeError']));
    assert.deepEqual(await sent(), []);
  });
});

describe('notices', () => {
  // In the page: every event of the kit and of each download, in order, as "target:type".
  function recordEvents() {
    return view.page.evaluate(() => {
      window.__events = [];
      const names = {
        kit: ['notice', 'download', 'window', 'close', 'install'],
        download: ['start', 'file', 'progress', 'received', 'retry', 'finished', 'failed'],
      };
      const numbers = new Map();
      const follow = (download) => {
        if (numbers.has(download)) return;
        numbers.set(download, numbers.size + 1);
        for (const type of names.download) {
          download.addEventListener(type, (event) => window.__events.push(
            `download${numbers.get(download)}:${type}${event.detail.reason ? `:${event.detail.reason}` : ''}`));
        }
      };
      window.__follow = follow;
      for (const type of names.kit) {
        window.kit.addEventListener(type, (event) => {
          if (type === 'download') follow(event.detail);
          const detail = type === 'notice' ? event.detail.msg_type : event.detail?.reason;
          window.__events.push(`kit:${type}${typeof detail === 'string' ? `:${detail}` : ''}`);
        });
      }
    });
  }
  const events = () => view.page.evaluate(() => window.__events.splice(0));
  const call = (code) => view.page.evaluate(([body, url]) => {
    const result = new Function('kit', 'URL_', body)(window.kit, url);
    if (result instanceof EventTarget) window.__follow(result);
  }, [code, URL_]);

  it('each notice of the schema reaches the target and event its types name, and the kit as a notice', async () => {
    await openKit();
    await recordEvents();
    const seen = [];
    for (const entry of entries(schema, 'notice')) {
      // A download notice goes to the download the page asked for.
      if (noticeRoute(entry).target === 'download') {
        await call('if (!kit.currentDownload || kit.currentDownload.ended) return kit.download(URL_)');
      }
      await view.notify(JSON.parse(entry['x-wire'][0]));
      seen.push([entry.title, (await events()).map((e) => e.replace(/^download\d+/, 'download'))]);
    }
    assert.deepEqual(seen, entries(schema, 'notice').map((entry) => {
      const { target, event } = noticeRoute(entry);
      const example = JSON.parse(entry['x-wire'][0]);
      return [entry.title, [`kit:notice:${example.msg_type}`, `${target}:${event}${example.reason ? `:${example.reason}` : ''}`]];
    }));
  });

  // A download's life as the host's notices tell it: each row's calls and notices in order, and
  // every event the page gets, with each download numbered.
  const { start, progress, finished, failed, file, received, retry } = notices;
  const lives = [
    {
      name: 'a repeated start notice (asked again) is not a second start, and the figures stay',
      steps: [['call', 'return kit.download(URL_)'], start, progress(512, 2048), start, ['state']],
      events: ['download1:start', 'download1:progress', 'state:running 512/2048 25'],
    },
    {
      name: 'finished once: a repeat of it changes nothing, and done says finished',
      steps: [['call', 'return kit.download(URL_)'], start, progress(2048, 2048), finished, finished, ['done']],
      events: ['download1:start', 'download1:progress', 'download1:finished', 'done:finished'],
    },
    {
      name: 'asked for again after it finished: the host only repeats that it finished',
      steps: [['call', 'return kit.download(URL_)'], start, finished, ['call', 'return kit.download(URL_)'], finished, ['done']],
      events: ['download1:start', 'download1:finished', 'download2:finished', 'done:finished'],
    },
    {
      name: 'a failure ends it; a stray one after the end is nobody\'s; a new start is a new download',
      steps: [['call', 'return kit.download(URL_)'], start, failed('network'), failed('http'), ['done'], start],
      events: ['download1:start', 'download1:failed:network', 'done:failed:network', 'kit:download', 'download2:start'],
    },
    {
      name: 'a failure before any start (the transfer could not begin)',
      steps: [['call', 'return kit.download(URL_)'], failed('file'), ['state']],
      events: ['download1:failed:file', 'state:failed 0/null null'],
    },
    {
      name: 'figures of a download the page never asked for: the kit announces it',
      steps: [progress(100, 1000), ['state']],
      events: ['kit:download', 'download1:progress', 'state:running 100/1000 10'],
    },
    {
      name: 'asked again while it runs: the same download, and nothing is sent',
      steps: [['call', 'return kit.download(URL_)'], start, ['call', 'window.__same = kit.download(URL_) === kit.currentDownload'], ['same']],
      events: ['download1:start', 'same:true', 'sent:1'],
    },
    {
      name: 'asked again before it started (its save dialog was cancelled): the same download, asked for anew',
      steps: [['call', 'return kit.download(URL_, {silent: false})'], ['call', 'window.__same = kit.download(URL_) === kit.currentDownload'], ['same'], start, ['state']],
      events: ['same:true', 'sent:2', 'download1:start', 'state:running 0/null null'],
    },
    {
      name: 'where it is saved, reconnections, and bytes without a length: no total, no percent',
      steps: [['call', 'return kit.download(URL_)'], start, file('Setup (1).run', 'Downloads'), received(4096),
        retry(1), received(8192), ['where'], ['state']],
      events: ['download1:start', 'download1:file', 'download1:received', 'download1:retry', 'download1:received',
        'where:Setup (1).run in Downloads, 1 reconnection', 'state:running 8192/null null'],
    },
    {
      name: 'late figures after the end change nothing that ended',
      steps: [['call', 'return kit.download(URL_)'], start, failed('cancelled'), ['state'], ['done']],
      events: ['download1:start', 'download1:failed:cancelled', 'state:failed 0/null null', 'done:failed:cancelled'],
    },
  ];
  for (const life of lives) {
    it(life.name, async () => {
      await openKit();
      await recordEvents();
      const seen = [];
      for (const step of life.steps) {
        if (!Array.isArray(step)) {
          await view.notify(step);
          seen.push(...(await events()).filter((e) => !e.startsWith('kit:notice')));
          continue;
        }
        const [what, code] = step;
        if (what === 'call') await call(code);
        else if (what === 'state') {
          seen.push(await view.page.evaluate(() => {
            const d = window.kit.currentDownload;
            return `state:${d.state} ${d.received}/${d.total} ${d.percent}`;
          }));
        } else if (what === 'done') {
          seen.push(await view.page.evaluate(async () => {
            const outcome = await window.kit.currentDownload.done;
            return `done:${outcome.state}${outcome.reason ? `:${outcome.reason}` : ''}`;
          }));
        } else if (what === 'where') {
          seen.push(await view.page.evaluate(() => {
            const d = window.kit.currentDownload;
            return `where:${d.fileName} in ${d.folderName}, ${d.reconnections} reconnection`;
          }));
        } else if (what === 'same') {
          seen.push(`same:${await view.page.evaluate(() => window.__same)}`);
          seen.push(`sent:${(await sent()).filter((text) => text.includes('"dnld"')).length}`);
        }
      }
      assert.deepEqual(seen, life.events);
    });
  }

  it('notices that are no notice reach nobody', async () => {
    await openKit();
    await recordEvents();
    for (const odd of [null, 'not json', 42, [1], {}, { msg_type: 5 }, { msg_type: 'dnld' }, { msg_type: 'dnld', status_text: 'start' }]) {
      await view.notify(odd);
    }
    assert.deepEqual((await events()).filter((e) => !e.startsWith('kit:notice')), []);
  });

  it('takes a notice sent as JSON text too, and one listener that throws keeps it from no other', async () => {
    await openKit();
    await recordEvents();
    await view.page.evaluate(() => window.kit.addEventListener('window', () => { throw new Error('a page\'s own fault'); }));
    await view.notify(JSON.stringify(notices.window('maximized')));
    assert.deepEqual(await events(), ['kit:notice:window', 'kit:window']);
    assert.equal(await view.page.evaluate(() => window.kit.window.state), 'maximized');
    view.errors.splice(0); // the listener's error, reported as the page's
  });
});

describe('the window', () => {
  it('close() resolves with the host\'s answer; the state follows the window notices, the three known states only', async () => {
    await openKit();
    await view.page.evaluate(() => {
      window.__answer = window.kit.window.close().then((notice) => notice.status_text);
    });
    await view.notify(notices.closeRunning);
    const seen = [await view.page.evaluate(() => window.__answer), await view.page.evaluate(() => window.kit.window.state)];
    for (const state of ['maximized', 'fullscreen', 'minimized', undefined, 'normal']) {
      await view.notify(notices.window(state));
      seen.push(await view.page.evaluate(() => window.kit.window.state));
    }
    assert.deepEqual(seen, ['dnld_running', null, 'maximized', 'maximized', 'minimized', 'minimized', 'normal']);
  });

  it('startDrag: the left button drags with client coordinates until released; others do nothing', async () => {
    await openKit();
    await view.page.evaluate(() => {
      document.body.style.height = '100vh';
      document.addEventListener('mousedown', (event) => window.kit.window.startDrag(event));
    });
    const mouse = view.page.mouse;
    await mouse.move(100, 21);
    await mouse.down({ button: 'right' });
    await mouse.up({ button: 'right' });
    await mouse.down();
    await mouse.move(130, 25);
    await mouse.up();
    await mouse.move(200, 40);
    const drag = (await sent()).map((text) => JSON.parse(text)).filter((m) => m.msg_type !== 'mousemove' || m.msg_data.x === 130);
    assert.deepEqual(drag, [
      { msg_type: 'mousedown', msg_data: { x: 100, y: 21 } },
      { msg_type: 'mousemove', msg_data: { x: 130, y: 25 } },
      { msg_type: 'mouseup', msg_data: { x: 130, y: 25 } },
    ]);
  });
});

describe('without a host', () => {
  it('in an ordinary browser it is a preview: commands go to the console, nothing throws', async () => {
    const logged = [];
    view = await harness.open({}, {
      path: 'kit-test.html', bridge: false,
      beforeLoad: (page) => page.on('console', (message) => logged.push(message.text())),
    });
    await view.page.waitForFunction(() => window.kit);
    const seen = await view.page.evaluate(() => {
      window.kit.download('https://example.com/a.exe');
      return [window.kit.mode, window.kit.isHosted, window.kit.simulator];
    });
    assert.deepEqual(seen, ['preview', false, null]);
    assert.ok(logged.some((text) => text.startsWith('tarvik: no host; not sent:')), logged.join('\n'));
  });

  it('with tarvik-sim in the query the simulator answers, also what was sent before it was loaded', async () => {
    view = await harness.open({ 'tarvik-sim': 'size:1K,rate:0' }, { path: 'kit-test.html', bridge: false });
    const seen = await view.page.evaluate(async () => {
      const kit = window.kit;
      kit.report('early'); // before the simulator has been loaded
      const download = kit.download('https://example.com/a.exe');
      const outcome = await download.done;
      await kit.ready;
      return [kit.mode, kit.isHosted, outcome.state, download.received, kit.simulator.events];
    });
    assert.deepEqual(seen, ['simulated', false, 'finished', 1024, ['early']]);
  });
});
