#!/usr/bin/env node
// Turns an X window dump into a PNG, with nothing but Node. Xvfb started with `-fbdir DIR` keeps
// its screen as an XWD file (DIR/Xvfb_screen0), so this takes a screenshot of an invisible
// display: node tools/demo-service/xwd-to-png.mjs demo-run/Xvfb_screen0 demo.png
// Handles the TrueColor ZPixmap dumps Xvfb writes (16, 24 or 32 bits per pixel).
import { readFileSync, writeFileSync } from 'node:fs';
import { deflateSync } from 'node:zlib';

const [input, output] = process.argv.slice(2);
if (!input || !output) {
  console.error('usage: xwd-to-png.mjs INPUT.xwd OUTPUT.png');
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

const rows = Buffer.alloc((header.width * 3 + 1) * header.height);
for (let y = 0; y < header.height; y += 1) {
  const out = y * (header.width * 3 + 1); // first byte of each row: filter type 0
  for (let x = 0; x < header.width; x += 1) {
    const at = pixelsAt + y * header.bytesPerLine + x * bytesPerPixel;
    let pixel = 0;
    for (let b = 0; b < bytesPerPixel; b += 1) {
      const byte = xwd[at + (header.byteOrder === 0 ? bytesPerPixel - 1 - b : b)];
      pixel = pixel * 256 + byte;
    }
    for (let c = 0; c < 3; c += 1) rows[out + 1 + x * 3 + c] = channels[c](pixel);
  }
}

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
ihdr.writeUInt32BE(header.width, 0);
ihdr.writeUInt32BE(header.height, 4);
ihdr.set([8, 2, 0, 0, 0], 8); // 8-bit RGB, no interlace
writeFileSync(output, Buffer.concat([
  Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]),
  chunk('IHDR', ihdr),
  chunk('IDAT', deflateSync(rows)),
  chunk('IEND', Buffer.alloc(0)),
]));
