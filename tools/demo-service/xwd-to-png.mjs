#!/usr/bin/env node
// Turns an X window dump into a PNG, with nothing but Node. Xvfb started with `-fbdir DIR` keeps
// its screen as an XWD file (DIR/Xvfb_screen0), so this takes a screenshot of an invisible
// display: node tools/demo-service/xwd-to-png.mjs demo-run/Xvfb_screen0 demo.png
// Handles the TrueColor ZPixmap dumps Xvfb writes (16, 24 or 32 bits per pixel).
// Options: --crop LEFT,TOP,WIDTH,HEIGHT keeps only that part of the screen (a window);
// --need-content refuses (exit status 3) a picture of nearly one colour, such as a page that is
// not drawn yet.
import { readFileSync, writeFileSync } from 'node:fs';
import { deflateSync } from 'node:zlib';

const args = process.argv.slice(2);
const option = (name) => {
  const at = args.indexOf(name);
  return at < 0 ? undefined : args.splice(at, name === '--need-content' ? 1 : 2)[1] ?? true;
};
const crop = option('--crop');
const needContent = option('--need-content') !== undefined;
const [input, output] = args;
if (!input || !output) {
  console.error('usage: xwd-to-png.mjs [--crop L,T,W,H] [--need-content] INPUT.xwd OUTPUT.png');
  process.exit(2);
}

const xwd = readFileSync(input);
const field = (index) => xwd.readUInt32BE(index * 4);
const header = {
  size: field(0), format: field(2), width: field(4), height: field(5), byteOrder: field(7),
  bitsPerPixel: field(11), bytesPerLine: field(12), masks: [field(14), field(15), field(16)],
  colormapEntries: field(19),
};
if (header.format !== 2) throw new Error('only ZPixmap dumps are supported');
const pixelsAt = header.size + header.colormapEntries * 12;
const bytesPerPixel = header.bitsPerPixel / 8;

// Each mask gives a channel's position and width; scale it to 8 bits.
const channels = header.masks.map((mask) => {
  const shift = Math.log2(mask & -mask);
  const max = mask >>> shift;
  return (pixel) => Math.round((((pixel & mask) >>> shift) * 255) / max);
});

// The part of the screen to keep, clamped to the screen.
const [left, top, width, height] = (() => {
  if (typeof crop !== 'string') return [0, 0, header.width, header.height];
  const [l, t, w, h] = crop.split(',').map((n) => Math.max(0, Number(n) || 0));
  const cl = Math.min(l, header.width);
  const ct = Math.min(t, header.height);
  return [cl, ct, Math.min(w, header.width - cl), Math.min(h, header.height - ct)];
})();

const rows = Buffer.alloc((width * 3 + 1) * height);
const colours = new Set();
for (let y = 0; y < height; y += 1) {
  const out = y * (width * 3 + 1); // first byte of each row: filter type 0
  for (let x = 0; x < width; x += 1) {
    const at = pixelsAt + (top + y) * header.bytesPerLine + (left + x) * bytesPerPixel;
    let pixel = 0;
    for (let b = 0; b < bytesPerPixel; b += 1) {
      const byte = xwd[at + (header.byteOrder === 0 ? bytesPerPixel - 1 - b : b)];
      pixel = pixel * 256 + byte;
    }
    for (let c = 0; c < 3; c += 1) rows[out + 1 + x * 3 + c] = channels[c](pixel);
    if (needContent && colours.size < 64 && (y * width + x) % 7 === 0) colours.add(pixel);
  }
}
if (needContent && colours.size < 64) process.exit(3);

const crcTable = Array.from({ length: 256 }, (_, n) => {
  let c = n;
  for (let k = 0; k < 8; k += 1) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
  return c >>> 0;
});
function crc32(bytes) {
  let c = 0xffffffff;
  for (const byte of bytes) c = crcTable[(c ^ byte) & 0xff] ^ (c >>> 8);
  return (c ^ 0xffffffff) >>> 0;
}
function chunk(type, data) {
  const body = Buffer.concat([Buffer.from(type, 'ascii'), data]);
  const length = Buffer.alloc(4);
  length.writeUInt32BE(data.length);
  const crc = Buffer.alloc(4);
  crc.writeUInt32BE(crc32(body));
  return Buffer.concat([length, body, crc]);
}

const ihdr = Buffer.alloc(13);
ihdr.writeUInt32BE(width, 0);
ihdr.writeUInt32BE(height, 4);
ihdr.set([8, 2, 0, 0, 0], 8); // 8-bit RGB, no interlace
writeFileSync(output, Buffer.concat([
  Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]),
  chunk('IHDR', ihdr),
  chunk('IDAT', deflateSync(rows)),
  chunk('IEND', Buffer.alloc(0)),
]));
