// Serves the reference page on loopback and opens it in Debian's Chromium with a stand-in for the
// host bridge: every command the page posts is recorded as the raw text it sent, and tests
// deliver notices as the host would (parsed objects in 'message' events).
import { createServer } from 'node:http';
import { readFile } from 'node:fs/promises';
import { extname, join, normalize } from 'node:path';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';

const pageDir = fileURLToPath(new URL('../../page/', import.meta.url));
const types = { '.html': 'text/html', '.css': 'text/css', '.js': 'text/javascript', '.json': 'application/json' };

// Extra routes a test can add: path → a JSON body (a settings file), or {type, body}.
export const extraFiles = new Map();

// Serves `folder` under /page/ on a free loopback port, and the extra routes.
export function serveFolder(folder) {
  const server = createServer(async (request, response) => {
    const path = decodeURIComponent(new URL(request.url, 'http://x').pathname);
    if (extraFiles.has(path)) {
      const file = extraFiles.get(path);
      const { type, body } = typeof file === 'string' ? { type: 'application/json', body: file } : file;
      response.writeHead(200, { 'content-type': type });
      response.end(body);
      return;
    }
    const relative = normalize(path.replace(/^\/page\//, ''));
    if (!path.startsWith('/page/') || relative.startsWith('..')) {
      response.writeHead(404).end();
      return;
    }
    try {
      const body = await readFile(join(folder, relative));
      response.writeHead(200, { 'content-type': types[extname(relative)] ?? 'application/octet-stream' });
      response.end(body);
    } catch {
      response.writeHead(404).end();
    }
  });
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve(server)));
}

function installBridge() {
  const listeners = [];
  window.__sent = [];
  window.chrome = window.chrome || {};
  window.chrome.webview = {
    postMessage(message) {
      window.__sent.push(message);
    },
    addEventListener(type, listener) {
      if (type === 'message') listeners.push(listener);
    },
    removeEventListener() {},
  };
  window.__deliver = (data) => {
    for (const listener of listeners) listener({ data });
  };
}

// Debian's Chromium, headless, with a fresh temporary profile of playwright's own.
export function launchChromium() {
  return chromium.launch({
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-background-networking',
      '--disable-component-update', '--no-first-run'],
  });
}

export async function startHarness() {
  const server = await serveFolder(pageDir);
  const origin = `http://127.0.0.1:${server.address().port}`;
  const browser = await launchChromium();

  return {
    origin,
    installerUrl: `${origin}/files/setup.run`,

    // Opens the page with the given query in a window of the host's size and waits until it
    // has introduced itself. `scale` is the screen's device pixel ratio.
    // `locale` sets the user's languages (navigator.languages, Accept-Language); English unless
    // a test asks, whatever the machine's own locale. `bridge: false` opens it as in an
    // ordinary browser; `path` another page of the folder, which need not introduce itself.
    async open(query = {}, {
      beforeLoad, scale = 1, colorScheme = 'light', locale = 'en-US', bridge = true, path = 'index.html',
    } = {}) {
      const context = await browser.newContext({
        viewport: { width: 640, height: 420 }, deviceScaleFactor: scale, colorScheme, locale,
      });
      const page = await context.newPage();
      const errors = [];
      page.on('pageerror', (error) => errors.push(error));
      if (bridge) await page.addInitScript(installBridge);
      if (beforeLoad) await beforeLoad(page);
      const search = new URLSearchParams(query).toString();
      await page.goto(`${origin}/page/${path}${search ? `?${search}` : ''}`);
      const view = new PageView(page, context, errors);
      if (bridge && path === 'index.html') await view.waitForCommand('resize_window');
      return view;
    },

    async close() {
      await browser.close();
      await new Promise((resolve) => server.close(resolve));
    },
  };
}

export class PageView {
  constructor(page, context, errors) {
    this.page = page;
    this.context = context;
    this.errors = errors;
  }

  // Every command so far, parsed; each must have been posted as a string of JSON text.
  async commands() {
    const raw = await this.page.evaluate(() => window.__sent.slice());
    return raw.map((text) => {
      if (typeof text !== 'string') throw new Error(`posted a ${typeof text}, not JSON text`);
      return JSON.parse(text);
    });
  }

  // Commands posted after this call, for checks of what one action sends.
  async mark() {
    this.seen = (await this.commands()).length;
  }

  async commandsSinceMark() {
    return (await this.commands()).slice(this.seen ?? 0);
  }

  async waitForCommand(type) {
    await this.page.waitForFunction(
      (t) => window.__sent.some((text) => JSON.parse(text).msg_type === t), type);
  }

  async notify(notice) {
    await this.page.evaluate((n) => window.__deliver(n), notice);
  }

  text(selector) {
    return this.page.locator(selector).innerText();
  }

  visible(selector) {
    return this.page.locator(selector).isVisible();
  }

  async close() {
    await this.context.close();
    if (this.errors.length) throw new Error(`page errors: ${this.errors.join('; ')}`);
  }
}

// The host's notices, exactly as it serialises them.
export const notices = {
  start: { msg_type: 'dnld', status: 1, status_text: 'dnld_start' },
  finished: { msg_type: 'dnld', status: 2, status_text: 'dnld_finished' },
  failed: (reason) => ({ msg_type: 'dnld', reason, status: 0, status_text: 'dnld_failed' }),
  progress: (now, total) => ({
    dl_now: now, dl_progress: (now / total) * 100, dl_total: total, msg_type: 'dl_progress', status: true,
  }),
  file: (name, folder) => ({ file_name: name, folder_name: folder, msg_type: 'dl_file' }),
  received: (now) => ({ dl_now: now, msg_type: 'dl_received' }),
  retry: (attempt) => ({ attempt, msg_type: 'dl_retry' }),
  installStarted: { msg_type: 'install', status_text: 'install_started' },
  installFailed: (reason) => ({ msg_type: 'install', reason, status_text: 'install_failed' }),
  closeRunning: { msg_type: 'close', status: 1, status_text: 'dnld_running' },
  window: (state) => ({ msg_type: 'window', state }),
};
