// A TCP relay that delays every byte by a fixed time in each direction, so that a loopback server
// looks like one a round trip away: a connection, a TLS handshake and each request then take the
// round trips they take on a real link. Bytes keep their order and nothing is limited but time.
import net from 'node:net';

// Relays connections on an ephemeral loopback port to 127.0.0.1:`to`, delaying each direction by
// half of `roundTripMs`. Resolves to the server; its address().port is where to connect.
export function startDelayProxy({ to, roundTripMs }) {
  const oneWay = roundTripMs / 2;
  const sockets = new Set();
  const server = net.createServer((client) => {
    const upstream = net.connect(to, '127.0.0.1');
    for (const socket of [client, upstream]) {
      socket.setNoDelay(true);
      sockets.add(socket);
      socket.once('close', () => sockets.delete(socket));
      // A reset on either side ends both, as it would end the one connection of a real link.
      socket.on('error', () => {
        client.destroy();
        upstream.destroy();
      });
    }
    // Node runs timers of the same delay in the order they were set, so the chunks stay in order
    // and the end follows the last of them.
    const relay = (from, into) => {
      from.on('data', (chunk) => setTimeout(() => into.destroyed || into.write(chunk), oneWay));
      from.once('end', () => setTimeout(() => into.destroyed || into.end(), oneWay));
    };
    relay(client, upstream);
    relay(upstream, client);
  });
  const close = server.close.bind(server);
  server.close = (callback) => {
    for (const socket of sockets) {
      socket.destroy();
    }
    return close(callback);
  };
  return new Promise((done, fail) => {
    server.once('error', fail);
    server.listen(0, '127.0.0.1', () => done(server));
  });
}
