// Debian's nginx for the benches, run in the foreground with a configuration written for the run:
// HTTPS with HTTP/2 on the bench's host name, plain HTTP/1.1, and TCP relays that cap what each
// connection may carry (the stream module's proxy_download_rate), as a content network shapes each
// flow. Its pid file, logs and temporary files stay in the run's folder.
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import path from 'node:path';

const sleep = (ms) => new Promise((done) => setTimeout(done, ms));

// A port the system gives out now; nginx binds it a moment later (nothing else on the machine
// asks for ports from the same range in between, as the benches' own servers take ephemeral ones
// the same way).
export function freePort() {
  return new Promise((done, fail) => {
    const server = net.createServer();
    server.once('error', fail);
    server.listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => done(port));
    });
  });
}

function waitForPort(port, deadlineMs) {
  const deadline = Date.now() + deadlineMs;
  return new Promise((done, fail) => {
    const attempt = () => {
      const socket = net.connect(port, '127.0.0.1');
      socket.once('connect', () => {
        socket.destroy();
        done();
      });
      socket.once('error', () => {
        socket.destroy();
        if (Date.now() > deadline) {
          fail(new Error(`nginx did not listen on port ${port}`));
        } else {
          setTimeout(attempt, 20);
        }
      });
    };
    attempt();
  });
}

// Starts nginx. Each of `https` and `http` is { port, root?, proxy? }: files from `root`, or
// every request passed on to the plain HTTP server at `proxy` (a port on 127.0.0.1). Each of
// `relays` is { port, to, bytesPerSecond }: a TCP relay from `port` to `to` that sends at most
// that many bytes a second on each connection; every connection it carried is logged in the
// file `relayLog` returns, one line each: "<bytes sent to the client> <seconds>".
export async function startNginx({ folder, https = [], http = [], relays = [] }) {
  fs.mkdirSync(path.join(folder, 'temp'), { recursive: true });
  const certificate = process.env.TARVIK_BENCH_CERT;
  const key = process.env.TARVIK_BENCH_KEY;
  if (https.length > 0 && !(certificate && key)) {
    throw new Error('HTTPS needs the bench host (run under bench/common/bench-host.sh)');
  }
  const location = (server) => server.proxy
    ? `location / { proxy_pass http://127.0.0.1:${server.proxy}; proxy_buffering off; ` +
      'proxy_http_version 1.1; proxy_set_header Connection ""; }'
    : `root ${server.root}; location / { }`;
  const relayLog = path.join(folder, 'relays.log');
  const lines = [
    'daemon off;',
    'master_process on;',
    'worker_processes 1;',
    // Under `unshare -r` only root exists, and nginx started as root would switch to nobody.
    'user root root;',
    `pid ${path.join(folder, 'nginx.pid')};`,
    `error_log ${path.join(folder, 'error.log')} warn;`,
    relays.length > 0 ? 'load_module /usr/lib/nginx/modules/ngx_stream_module.so;' : '',
    'events { worker_connections 256; }',
    'http {',
    '  access_log off;',
    '  sendfile on;',
    '  keepalive_requests 10000;',
    `  client_body_temp_path ${folder}/temp/body; proxy_temp_path ${folder}/temp/proxy;`,
    `  fastcgi_temp_path ${folder}/temp/fastcgi; uwsgi_temp_path ${folder}/temp/uwsgi;`,
    `  scgi_temp_path ${folder}/temp/scgi;`,
    '  types { text/html html; application/octet-stream bin; }',
    ...https.map((server) =>
      `  server { listen 127.0.0.1:${server.port} ssl http2; ssl_certificate ${certificate}; ` +
      `ssl_certificate_key ${key}; ssl_protocols TLSv1.3; ${location(server)} }`),
    ...http.map((server) => `  server { listen 127.0.0.1:${server.port}; ${location(server)} }`),
    '}',
  ];
  if (relays.length > 0) {
    lines.push(
      'stream {',
      '  log_format relay "$bytes_sent $session_time";',
      `  access_log ${relayLog} relay;`,
      ...relays.map((relay) =>
        `  server { listen 127.0.0.1:${relay.port}; proxy_pass 127.0.0.1:${relay.to}; ` +
        `proxy_download_rate ${relay.bytesPerSecond}; }`),
      '}');
  }
  const configuration = path.join(folder, 'nginx.conf');
  fs.writeFileSync(configuration, lines.filter(Boolean).join('\n') + '\n');
  const child = spawn('nginx', ['-e', path.join(folder, 'error.log'), '-p', folder, '-c', configuration],
    { stdio: ['ignore', 'ignore', 'pipe'] });
  let stderr = '';
  child.stderr.on('data', (chunk) => { stderr += chunk; });
  const ended = new Promise((done) => child.once('exit', done));
  const ports = [...https, ...http, ...relays].map((server) => server.port);
  try {
    await Promise.race([
      Promise.all(ports.map((port) => waitForPort(port, 10000))),
      ended.then((code) => { throw new Error(`nginx ended (${code}): ${stderr.trim()}`); }),
    ]);
  } catch (error) {
    child.kill('SIGTERM');
    throw error;
  }
  return {
    relayLog,
    // The relays' connections logged since the last call: [{ bytes, seconds }]. nginx writes a
    // connection's line when it closes.
    takeRelayConnections() {
      if (!fs.existsSync(relayLog)) {
        return [];
      }
      const text = fs.readFileSync(relayLog, 'utf8');
      fs.truncateSync(relayLog, 0);
      return text.split('\n').filter(Boolean).map((line) => {
        const [bytes, seconds] = line.split(' ').map(Number);
        return { bytes, seconds };
      });
    },
    async stop() {
      child.kill('SIGQUIT');
      await Promise.race([ended, sleep(5000)]);
      if (child.exitCode === null && child.signalCode === null) {
        child.kill('SIGKILL');
      }
    },
  };
}
