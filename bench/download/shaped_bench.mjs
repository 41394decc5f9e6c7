// Several connections where each TCP connection is shaped: Debian's nginx serves one file over
// HTTP/1.1 and over HTTPS with HTTP/2, each behind a relay of nginx's stream module that lets
// every TCP connection carry at most 4 MiB/s, as content networks and some links shape each flow.
// Per request (nginx's limit_rate) would be the wrong cap: an HTTP/2 connection carries several
// requests at once. The installer transfer with four connections runs beside `curl -o` (one
// connection) and `aria2c -x4` (four), alternating round after round; the relays' log counts the
// TCP connections each download opened.
//
// Usage: node shaped_bench.mjs --job PATH [--rounds N] [--folder DIR]
//   --job     the transfer bench, whose "job" command runs one download as the program does
// Run under bench/common/bench-host.sh, which makes the HTTPS host name and its certificate.
import { spawn } from 'node:child_process';
import crypto from 'node:crypto';
import fs from 'node:fs';
import path from 'node:path';

import { freePort, startNginx } from '../common/nginx.mjs';

const MiB = 1024 * 1024;
const fileSize = 64 * MiB;
const capPerConnection = 4 * MiB;

function parseArguments(argv) {
  const options = { rounds: 3, folder: '/var/tmp' };
  for (let i = 0; i < argv.length; i += 2) {
    options[argv[i].replace(/^--/, '')] = argv[i + 1];
  }
  options.rounds = Number(options.rounds);
  if (!options.job) {
    throw new Error('usage: shaped_bench.mjs --job PATH [--rounds N] [--folder DIR]');
  }
  return options;
}

const now = () => performance.now();
const sleep = (ms) => new Promise((done) => setTimeout(done, ms));

function run(command, args) {
  return new Promise((done) => {
    const child = spawn(command, args, { stdio: ['ignore', 'ignore', 'pipe'] });
    let stderr = '';
    child.stderr.on('data', (chunk) => { stderr = (stderr + chunk).slice(-2000); });
    child.once('error', (error) => done({ ok: false, why: error.message }));
    child.once('exit', (code, signal) =>
      done({ ok: code === 0, why: code === 0 ? '' : `status ${code ?? signal}: ${stderr.trim()}` }));
  });
}

function median(values) {
  const sorted = [...values].sort((a, b) => a - b);
  const middle = sorted.length >> 1;
  return sorted.length % 2 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2;
}

async function main() {
  const options = parseArguments(process.argv.slice(2));
  const folder = fs.mkdtempSync(path.join(options.folder, 'tarvik-shaped-bench-'));
  const served = path.join(folder, 'served');
  const landing = path.join(folder, 'landing');
  fs.mkdirSync(served);
  fs.mkdirSync(landing);
  // Bytes that do not repeat, so that a piece written at the wrong place shows.
  const content = crypto.randomBytes(fileSize);
  fs.writeFileSync(path.join(served, 'setup.bin'), content);
  const digest = crypto.createHash('sha256').update(content).digest('hex');

  const [https, http, httpsRelay, httpRelay] = await Promise.all([0, 1, 2, 3].map(freePort));
  const nginx = await startNginx({
    folder,
    https: [{ port: https, root: served }],
    http: [{ port: http, root: served }],
    relays: [
      { port: httpsRelay, to: https, bytesPerSecond: capPerConnection },
      { port: httpRelay, to: http, bytesPerSecond: capPerConnection },
    ],
  });
  const host = process.env.TARVIK_BENCH_HOST;
  const target = path.join(landing, 'setup.bin');
  const protocols = [
    { name: 'HTTP/1.1', url: `http://${host}:${httpRelay}/setup.bin` },
    { name: 'HTTP/2 (TLS)', url: `https://${host}:${httpsRelay}/setup.bin` },
  ];
  const clients = [
    { name: 'tarvik, 4 connections', command: (url) => [options.job, ['job', url, target, '4']] },
    { name: 'curl -o', command: (url) => ['curl', ['-s', '-o', target, url]] },
    {
      name: 'aria2c -x4 -s4 -k1M',
      command: (url) => ['aria2c', ['-q', '-x4', '-s4', '-k1M', '--file-allocation=none',
        '--allow-overwrite=true', '--auto-file-renaming=false', '-d', landing, '-o', 'setup.bin', url]],
    },
  ];
  console.log(`${fileSize / MiB} MiB from nginx, each TCP connection capped at ` +
              `${capPerConnection / MiB} MiB/s, ${options.rounds} rounds, files in ${folder}`);

  const results = new Map(); // "protocol|client" -> [{ seconds, connections }]
  let failures = 0;
  try {
    for (const protocol of protocols) {
      for (let round = 0; round < options.rounds; round++) {
        // ABC, then CBA: no client always follows the same one.
        const order = round % 2 === 0 ? clients : [...clients].reverse();
        for (const client of order) {
          fs.rmSync(target, { force: true });
          nginx.takeRelayConnections();
          const [command, args] = client.command(protocol.url);
          const started = now();
          const outcome = await run(command, args);
          const seconds = (now() - started) / 1000;
          let why = outcome.why;
          if (outcome.ok) {
            const got = fs.existsSync(target) ? fs.readFileSync(target) : Buffer.alloc(0);
            if (got.length !== fileSize || crypto.createHash('sha256').update(got).digest('hex') !== digest) {
              why = `the file is not the served one (${got.length} bytes)`;
            }
          }
          // nginx logs a relayed connection when both of its sides have closed.
          await sleep(300);
          const connections = nginx.takeRelayConnections();
          const key = `${protocol.name}|${client.name}`;
          if (!results.has(key)) {
            results.set(key, []);
          }
          if (why) {
            failures++;
            console.log(`  ${protocol.name}, round ${round + 1}, ${client.name}: FAILED: ${why}`);
            continue;
          }
          results.get(key).push({ seconds, connections: connections.length });
          console.log(`  ${protocol.name}, round ${round + 1}, ${client.name}: ${seconds.toFixed(2)} s, ` +
                      `${(fileSize / MiB / seconds).toFixed(1)} MiB/s, ${connections.length} TCP connections`);
        }
      }
    }
  } finally {
    await nginx.stop();
    fs.rmSync(folder, { recursive: true, force: true });
  }

  console.log(`\nsummary: medians of ${options.rounds} rounds, MiB/s (TCP connections)`);
  const rate = (protocol, client) => {
    const runs = results.get(`${protocol.name}|${client.name}`) || [];
    return runs.length === 0 ? null : {
      rate: fileSize / MiB / median(runs.map((r) => r.seconds)),
      connections: median(runs.map((r) => r.connections)),
    };
  };
  const width = Math.max(...clients.map((c) => c.name.length)) + 2;
  console.log(''.padEnd(width) + protocols.map((p) => p.name.padEnd(18)).join(''));
  for (const client of clients) {
    console.log(client.name.padEnd(width) + protocols.map((protocol) => {
      const figure = rate(protocol, client);
      return (figure ? `${figure.rate.toFixed(1)} (${figure.connections})` : '–').padEnd(18);
    }).join(''));
  }
  for (const protocol of protocols) {
    const [job, curl, aria] = clients.map((client) => rate(protocol, client));
    if (job && curl && aria) {
      console.log(`${protocol.name}: tarvik, 4 connections = ${(job.rate / curl.rate).toFixed(2)} × curl -o ` +
                  `(goal ≥ 3.5), ${(job.rate / aria.rate).toFixed(2)} × aria2c -x4 (goal ≥ 1.0)`);
    }
  }
  process.exitCode = failures > 0 ? 1 : 0;
}

main().catch((error) => {
  console.error(`shaped bench: ${error.message}`);
  process.exitCode = 1;
});
