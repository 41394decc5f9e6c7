// The page protocol's one source, page/protocol.schema.json: its examples are what travels,
// every notice the host's own tests make fits it, it refuses what the host ignores, and what is
// made from it (README.md's tables, the kit's types) is current and compiles.
//
// TARVIK_HOST_TESTS names the host test program (CTest sets it): it is run once with its
// notices written to a file, which is then checked here.
import { execFile } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { describe, it } from 'node:test';
import assert from 'node:assert/strict';
import { promisify } from 'node:util';
import { entries, generate, root } from '../../tools/protocol-gen.mjs';
import { compile, schema } from './protocol_schema.mjs';

const run = promisify(execFile);
const protocol = compile();

describe('the schema', () => {
  it('has a title and examples for every entry, and each example fits its own entry only', () => {
    const seen = [];
    for (const kind of ['command', 'notice']) {
      for (const entry of entries(schema, kind)) {
        assert.ok(entry.title && entry.description && entry['x-wire']?.length, `${kind} ${entry.title} is incomplete`);
        for (const text of entry['x-wire']) seen.push([entry.title, protocol.fits(kind, JSON.parse(text))]);
      }
    }
    assert.deepEqual(seen, seen.map(([title]) => [title, [title]]));
  });

  // What the host drops whole must not pass as a command either.
  const ignoredByTheHost = [
    ['close without msg_data', { msg_type: 'close' }],
    ['close with a string for force_close', { msg_type: 'close', msg_data: { force_close: 'true' } }],
    ['dnld without silent', { msg_type: 'dnld', msg_data: { url: 'https://example.com/a.exe' } }],
    ['dnld with a short sha256', { msg_type: 'dnld', msg_data: { url: 'https://example.com/a.exe', silent: true, sha256: 'ab'.repeat(31) } }],
    ['dnld with a sha256 that is not hex', { msg_type: 'dnld', msg_data: { url: 'https://example.com/a.exe', silent: true, sha256: 'xy'.repeat(32) } }],
    ['mousedown without y', { msg_type: 'mousedown', msg_data: { x: 1 } }],
    ['resize_window with a string width', { msg_type: 'resize_window', msg_data: { width: '640' } }],
    ['open_url to a file', { msg_type: 'open_url', msg_data: { url: 'file:///etc/passwd' } }],
    ['post_data with a number', { msg_type: 'post_data', msg_data: { event_id: 5 } }],
    ['an unknown command', { msg_type: 'Open_url', msg_data: { url: 'https://example.com/' } }],
    ['no msg_type', { msg_data: {} }],
    ['an array', [1, 2]],
  ];
  it('refuses every command the host ignores', () => {
    const accepted = ignoredByTheHost.filter(([, message]) => protocol.valid('command', message)).map(([name]) => name);
    assert.deepEqual(accepted, []);
  });

  it('refuses a notice with a member the host never sends, or a reason it does not know', () => {
    const odd = [
      { msg_type: 'dnld', status: 1, status_text: 'dnld_start', extra: true },
      { msg_type: 'dnld', reason: 'timeout', status: 0, status_text: 'dnld_failed' },
      { msg_type: 'window', state: 'fullscreen' },
      { dl_now: 1, dl_progress: 1, dl_total: 0, msg_type: 'dl_progress', status: true },
    ];
    assert.deepEqual(odd.map((notice) => protocol.fits('notice', notice)), odd.map(() => []));
  });
});

describe('the host', () => {
  const hostTests = process.env.TARVIK_HOST_TESTS;
  it('sends only notices that fit the schema, every kind of them, and the examples byte for byte',
    { skip: hostTests ? false : 'TARVIK_HOST_TESTS does not name the host test program' }, async () => {
      const dump = path.join(fs.mkdtempSync(path.join(os.tmpdir(), 'tarvik-notices-')), 'notices.jsonl');
      try {
        // Its own result does not matter here (the host tests report it themselves); what it sent does.
        await run(hostTests, [], { env: { ...process.env, TARVIK_NOTICE_DUMP: dump }, maxBuffer: 64 << 20 })
          .catch(() => {});
        const lines = fs.readFileSync(dump, 'utf8').split('\n').filter(Boolean);
        const kinds = new Map(entries(schema, 'notice').map((entry) => [entry.title, 0]));
        const unfit = [];
        for (const line of lines) {
          const fits = protocol.fits('notice', JSON.parse(line));
          if (fits.length === 1) kinds.set(fits[0], kinds.get(fits[0]) + 1);
          else unfit.push(line);
        }
        assert.deepEqual(unfit, []);
        assert.deepEqual([...kinds].filter(([, count]) => count === 0).map(([title]) => title), [],
          'the host tests made none of these');
        const sent = new Set(lines);
        const examples = entries(schema, 'notice').flatMap((entry) => entry['x-wire']);
        assert.deepEqual(examples.filter((text) => !sent.has(text)), [], 'examples the host never sent as written');
      } finally {
        fs.rmSync(path.dirname(dump), { recursive: true, force: true });
      }
    });
});

describe('made from the schema', () => {
  it('README.md\'s tables and the kit\'s types are current (node tools/protocol-gen.mjs --write)', () => {
    const stale = [...generate()].filter(([, { current, wanted }]) => current !== wanted).map(([file]) => path.relative(root, file));
    assert.deepEqual(stale, []);
  });

  it('the kit\'s types compile, with a page written against them, and refuse misuse', async () => {
    const tsc = path.join(import.meta.dirname, 'node_modules/.bin/tsc');
    const result = await run(tsc, ['-p', import.meta.dirname]).catch((error) => error);
    assert.equal(`${result.stdout ?? ''}${result.stderr ?? ''}`, '');
  });
});
