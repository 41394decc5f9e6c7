// The demo service that `make demo` runs, checked from outside as the assistant and a browser
// see it: product info, event reports, the page, the throttled installer, byte ranges, the
// options that make it misbehave on purpose, and a clean stop.
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

// Starts the service with these options and waits until it says where it listens.
async function launch(args) {
  const child = spawn(executable, ['--port', '0', '--page-dir', pageDir, ...args],
    { stdio: ['ignore', 'pipe', 'inherit'] });
  const started = { child, output: '' };
  child.stdout.setEncoding('utf8');
  child.stdout.on('data', (chunk) => { started.output += chunk; });
  const listening = /listening on (http:\/\/127\.0\.0\.1:\d+)/;
  while (!listening.test(started.output)) {
    const [chunk] = await Promise.race([once(child.stdout, 'data'), once(child, 'exit')]);
    if (chunk === undefined || typeof chunk === 'number') throw new Error(`service ended: ${started.output}`);
  }
  started.origin = started.output.match(listening)[1];
  return started;
}

async function startService() {
  const started = await launch(['--rate', String(rate), '--installer-size', String(installerSize),
    '--downloader-id', '1001', '--events-file', join(work, 'events.jsonl')]);
  service = started.child;
  origin = started.origin;
  // The checks read what the service printed so far.
  output = started.output;
  service.stdout.on('data', (chunk) => { output += chunk; });
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

// Reads a body as far as it comes: the bytes that arrived, and whether the transfer broke.
async function readAll(response) {
  const chunks = [];
  const reader = response.body.getReader();
  try {
    for (;;) {
      const { done, value } = await reader.read();
      if (done) return { bytes: Buffer.concat(chunks), broken: false };
      chunks.push(value);
    }
  } catch {
    return { bytes: Buffer.concat(chunks), broken: true };
  }
}

// The installer address the service hands out, which is what the page downloads.
async function installerAddress(at) {
  const answer = await (await fetch(`${at}/downloader.php/index/info?id=1001`)).json();
  return new URL(answer.data.url1).searchParams.get('installer');
}

describe('byte ranges of the installer', () => {
  let whole;
  let etag;
  let lastModified;
  before(async () => {
    const response = await fetch(`${origin}/files/tarvik-demo-setup.run`);
    whole = Buffer.from(await response.arrayBuffer());
    etag = response.headers.get('etag');
    lastModified = response.headers.get('last-modified');
    assert.equal(response.headers.get('accept-ranges'), 'bytes');
    assert.ok(etag && lastModified);
  });
  const size = installerSize;
  const cases = [
    { range: 'bytes=1000-', status: 206, first: 1000, last: size - 1 },
    { range: 'bytes=0-99', status: 206, first: 0, last: 99 },
    { range: `bytes=${size - 10}-${size + 500}`, status: 206, first: size - 10, last: size - 1 },
    { range: 'bytes=-100', status: 206, first: size - 100, last: size - 1 },
    { range: `bytes=-${size + 1}`, status: 206, first: 0, last: size - 1 },
    { range: 'bytes=1000-', ifRange: 'etag', status: 206, first: 1000, last: size - 1 },
    { range: 'bytes=1000-', ifRange: 'date', status: 206, first: 1000, last: size - 1 },
    // The file changed since the client's copy: all of it again.
    { range: 'bytes=1000-', ifRange: '"another"', status: 200 },
    // Several ranges: the whole file, as HTTP allows. (A header the library cannot read at all,
    // such as another unit, it refuses with 416 before the service sees it.)
    { range: 'bytes=0-1,5-6', status: 200 },
    { range: `bytes=${size}-`, status: 416 },
    { range: 'bytes=-0', status: 416 },
  ];
  for (const c of cases) {
    it(`${c.range}${c.ifRange ? ` if ${c.ifRange}` : ''} → ${c.status}`, async () => {
      const headers = { range: c.range };
      if (c.ifRange) headers['if-range'] = { etag, date: lastModified }[c.ifRange] ?? c.ifRange;
      const response = await fetch(`${origin}/files/tarvik-demo-setup.run`, { headers });
      const body = Buffer.from(await response.arrayBuffer());
      const expected = {
        200: { status: 200, range: null, length: String(size), body: true },
        206: { status: 206, range: `bytes ${c.first}-${c.last}/${size}`, length: String(c.last - c.first + 1), body: true },
        416: { status: 416, range: `bytes */${size}`, length: '0', body: true },
      }[c.status];
      const part = c.status === 206 ? whole.subarray(c.first, c.last + 1) : c.status === 200 ? whole : Buffer.alloc(0);
      assert.deepEqual({
        status: response.status,
        range: response.headers.get('content-range'),
        length: response.headers.get('content-length'),
        body: body.equals(part),
      }, expected);
    });
  }
});

describe('options', () => {
  // Each row starts a service of its own with the options and looks at the installer address the
  // service hands out, as a plain HTTP client.
  const size = 10001;
  const plain = ['--rate', '0', '--installer-size', String(size)];
  const rows = [
    {
      options: ['--drop-after', '4K'],
      sees: 'every download cut off after 4096 bytes',
      check: async (at, url) => {
        for (const attempt of [1, 2]) {
          const { bytes, broken } = await readAll(await fetch(url));
          assert.deepEqual({ attempt, received: bytes.length, broken }, { attempt, received: 4096, broken: true });
        }
      },
    },
    {
      options: ['--drop-after', '4K', '--drop-once'],
      sees: 'the first download cut off, the next one whole',
      check: async (at, url) => {
        const first = await readAll(await fetch(url));
        const second = await readAll(await fetch(url));
        assert.deepEqual([first.bytes.length, first.broken, second.bytes.length, second.broken],
          [4096, true, size, false]);
      },
    },
    {
      options: ['--drop-after', '4096'],
      sees: 'a download resumed with ranges after each cut gets the whole file',
      check: async (at, url) => {
        const reference = await readAll(await fetch(`${url}?fail_after=${size}`));
        let received = Buffer.alloc(0);
        let etag;
        const statuses = [];
        while (received.length < size) {
          const headers = received.length ? { range: `bytes=${received.length}-`, 'if-range': etag } : {};
          const response = await fetch(url, { headers });
          etag = response.headers.get('etag');
          statuses.push(response.status);
          received = Buffer.concat([received, (await readAll(response)).bytes]);
        }
        assert.deepEqual(statuses, [200, 206, 206]);
        assert.ok(received.equals(reference.bytes));
      },
    },
    {
      options: ['--no-length'],
      sees: 'no content length, chunks, no ranges, the whole file',
      check: async (at, url) => {
        const response = await fetch(url, { headers: { range: 'bytes=100-' } });
        const { bytes, broken } = await readAll(response);
        assert.deepEqual({
          status: response.status,
          length: response.headers.get('content-length'),
          encoding: response.headers.get('transfer-encoding'),
          ranges: response.headers.get('accept-ranges'),
          received: bytes.length,
          broken,
        }, { status: 200, length: null, encoding: 'chunked', ranges: null, received: size, broken: false });
      },
    },
    {
      options: ['--no-length', '--drop-after', '4K'],
      sees: 'a chunked download cut off after 4096 bytes',
      check: async (at, url) => {
        const { bytes, broken } = await readAll(await fetch(url));
        assert.deepEqual({ received: bytes.length, broken }, { received: 4096, broken: true });
      },
    },
    {
      options: ['--delay-ms', '400'],
      sees: 'info and event answers after at least 400 ms',
      check: async (at) => {
        const timed = async (request) => {
          const started = performance.now();
          const answer = await (await request()).json();
          return [answer.code, performance.now() - started >= 400];
        };
        const form = new FormData();
        form.append('event', 'page_shown');
        assert.deepEqual([
          await timed(() => fetch(`${at}/downloader.php/index/info?id=1001`)),
          await timed(() => fetch(`${at}/downloader.php/index/log`, { method: 'POST', body: form })),
        ], [[200, true], [200, true]]);
      },
    },
    {
      options: ['--rate', '20K', '--installer-size', '10K'],
      sees: 'the download paced to about half a second',
      check: async (at, url) => {
        const started = performance.now();
        const { bytes } = await readAll(await fetch(url));
        const seconds = (performance.now() - started) / 1000;
        assert.equal(bytes.length, 10240);
        assert.ok(seconds >= 0.4, `took ${seconds} s`);
      },
    },
  ];
  for (const row of rows) {
    it(`${row.options.join(' ')}: ${row.sees}`, async () => {
      const started = await launch([...plain, ...row.options]);
      try {
        await row.check(started.origin, await installerAddress(started.origin));
      } finally {
        started.child.kill('SIGTERM');
        await once(started.child, 'exit');
      }
    });
  }

  const refused = [
    ['--drop-after', '0'],
    ['--drop-once'],
    ['--drop-after', '4X'],
    ['--rate', 'fast'],
    ['--delay-ms', '-1'],
    ['--installer-size', '99999999999999999999G'],
  ];
  for (const args of refused) {
    it(`refuses ${args.join(' ')} with a message and the usage`, async () => {
      const child = spawn(executable, ['--page-dir', pageDir, ...args], { stdio: ['ignore', 'pipe', 'pipe'] });
      let errors = '';
      child.stderr.setEncoding('utf8');
      child.stderr.on('data', (chunk) => { errors += chunk; });
      const [code] = await once(child, 'exit');
      assert.equal(code, 2);
      assert.match(errors, /^tarvik-demo-service: .+\nusage: /);
    });
  }
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
