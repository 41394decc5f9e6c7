// The demo service that `make demo` runs, checked from outside as the assistant and a browser
// see it: product info, event reports, the page, the throttled installer and a clean stop.
// Usage: node --test demo_service.test.mjs, with TARVIK_DEMO_SERVICE naming the executable.
import { after, before, describe, it } from 'node:test';
import assert from 'node:assert/strict';
import { spawn, execFileSync } from 'node:child_process';
import { once } from 'node:events';
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { request } from 'node:http';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { fileURLToPath } from 'node:url';

const executable = process.env.TARVIK_DEMO_SERVICE;
const pageDir = fileURLToPath(new URL('../../page/', import.meta.url));
// An odd size shows padding mistakes; the rate keeps downloads short but measurable.
const installerSize = 1000003;
const rate = 4000000;

let work;
let service;
let output = '';
let origin;

async function startService() {
  service = spawn(executable, ['--port', '0', '--page-dir', pageDir, '--rate', String(rate),
    '--installer-size', String(installerSize), '--downloader-id', '1001',
    '--events-file', join(work, 'events.jsonl')], { stdio: ['ignore', 'pipe', 'inherit'] });
  service.stdout.setEncoding('utf8');
  service.stdout.on('data', (chunk) => { output += chunk; });
  while (!/listening on (http:\/\/127\.0\.0\.1:\d+)/.test(output)) {
    const [chunk] = await Promise.race([once(service.stdout, 'data'), once(service, 'exit')]);
    if (chunk === undefined || typeof chunk === 'number') throw new Error(`service ended: ${output}`);
  }
  origin = output.match(/listening on (http:\/\/127\.0\.0\.1:\d+)/)[1];
}

// A GET with the path sent as written, so "/page/../x" is not tidied away by the client.
function rawGet(path) {
  return new Promise((resolve, reject) => {
    request(`${origin}${path}`, { path }, (response) => {
      response.resume();
      response.on('end', () => resolve(response.statusCode));
    }).on('error', reject).end();
  });
}

async function report(fields) {
  const form = new FormData();
  for (const [name, value] of Object.entries(fields)) form.append(name, value);
  const response = await fetch(`${origin}/downloader.php/index/log`, { method: 'POST', body: form });
  return response.json();
}

before(async () => {
  assert.ok(executable, 'set TARVIK_DEMO_SERVICE to the tarvik-demo-service executable');
  work = mkdtempSync(join(tmpdir(), 'tarvik-demo-'));
  await startService();
});
after(() => {
  if (service.exitCode === null) service.kill('SIGKILL');
  rmSync(work, { recursive: true, force: true });
});

describe('product info', () => {
  it('answers the demo id with the name and a page address that carries the installer', async () => {
    const answer = await (await fetch(`${origin}/downloader.php/index/info?id=1001`)).json();
    const installer = `${origin}/files/tarvik-demo-setup.run`;
    assert.deepEqual(answer, {
      code: 200,
      data: {
        name: 'Tarvik Demo',
        url1: `${origin}/page/index.html?product=Tarvik%20Demo&installer=${encodeURIComponent(installer)}`,
      },
    });
  });

  for (const query of ['id=1002', 'id=', 'id=-1001', '']) {
    it(`answers code 404 for "${query}"`, async () => {
      assert.deepEqual(await (await fetch(`${origin}/downloader.php/index/info?${query}`)).json(), { code: 404 });
    });
  }
});

describe('the page', () => {
  const cases = [
    { path: '/page/index.html?product=x', status: 200 },
    { path: '/page/app.js', status: 200 },
    { path: '/page/missing.html', status: 404 },
    { path: '/page/../CMakeLists.txt', status: 404 },
    { path: '/page/%2e%2e/CMakeLists.txt', status: 404 },
  ];
  for (const c of cases) {
    it(`${c.path} → ${c.status}`, async () => {
      assert.equal(await rawGet(c.path), c.status);
    });
  }

  it('serves a settings file for a page opened without a query', async () => {
    assert.deepEqual(await (await fetch(`${origin}/page/config.json`)).json(),
      { installer: `${origin}/files/tarvik-demo-setup.run`, product: 'Tarvik Demo' });
  });
});

describe('event reports', () => {
  it('prints one line per event and appends it to the events file', async () => {
    assert.deepEqual(await report({ downloader_id: '1001', event: 'page_shown', uuid: 'U1' }), { code: 200 });
    assert.deepEqual(await report({ downloader_id: '4294967295', event: '安装', uuid: 'U2' }), { code: 200 });
    assert.deepEqual(await report({ downloader_id: '1001', uuid: 'U3' }), { code: 400 });
    assert.match(output, /event "page_shown" {2}\(downloader "1001", install id "U1"\)\n/);
    assert.match(output, /event "安装" {2}\(downloader "4294967295", install id "U2"\)\n/);
    const lines = readFileSync(join(work, 'events.jsonl'), 'utf8').trim().split('\n').map((l) => JSON.parse(l));
    assert.deepEqual(lines.map(({ event, downloader_id, uuid }) => [event, downloader_id, uuid]),
      [['page_shown', '1001', 'U1'], ['安装', '4294967295', 'U2']]);
    assert.ok(lines.every((l) => Number.isInteger(l.time_ms)));
  });
});

describe('the demo installer', () => {
  let fetched;

  it('has a content length, the full size, and runs as a script', async () => {
    const started = performance.now();
    const response = await fetch(`${origin}/files/tarvik-demo-setup.run`);
    assert.equal(response.headers.get('content-length'), String(installerSize));
    fetched = Buffer.from(await response.arrayBuffer());
    const seconds = (performance.now() - started) / 1000;
    assert.equal(fetched.length, installerSize);
    // Throttled: about a quarter of a second at this rate, never instant.
    assert.ok(seconds >= 0.2, `took ${seconds} s`);
    const script = join(work, 'setup.run');
    writeFileSync(script, fetched);
    assert.equal(execFileSync('sh', [script], { encoding: 'utf8' }),
      'Tarvik Demo: the demo installer ran. Nothing was installed.\n');
  });

  it('?length=0 sends the same bytes without a content length', async () => {
    const response = await fetch(`${origin}/files/other-name.run?length=0`);
    assert.equal(response.headers.get('content-length'), null);
    assert.ok(Buffer.from(await response.arrayBuffer()).equals(fetched));
  });

  it('?fail_after=N breaks the transfer after N bytes', async () => {
    const response = await fetch(`${origin}/files/x.run?fail_after=5000`);
    await assert.rejects(response.arrayBuffer());
  });
});

describe('stopping', () => {
  it('ends promptly with status 0 on SIGTERM, even in the middle of a slow download', async () => {
    const slow = fetch(`${origin}/files/x.run`).then((r) => r.arrayBuffer()).catch(() => 'broken');
    await new Promise((resolve) => setTimeout(resolve, 100));
    const started = performance.now();
    service.kill('SIGTERM');
    const [code] = await once(service, 'exit');
    assert.equal(code, 0);
    assert.ok(performance.now() - started < 5000);
    assert.equal(await slow, 'broken');
    assert.match(output, /demo service stopped\n$/);
  });
});
