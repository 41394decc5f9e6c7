#!/usr/bin/env node
// What is made from the page protocol's one source, page/protocol.schema.json: the tables of
// commands and notices in README.md, and the message types in page/kit/tarvik.d.ts. Each sits
// between two marker lines ("protocol-gen: NAME" and "protocol-gen: end NAME") and is replaced
// whole. The page tests check that both are current.
//
// usage: node tools/protocol-gen.mjs [--write]
//   without --write, only checks: names what is out of date and exits with 1.
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

export const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..');
export const schemaPath = path.join(root, 'page/protocol.schema.json');

export function readSchema() {
  return JSON.parse(fs.readFileSync(schemaPath, 'utf8'));
}

// The entries of one kind, "command" or "notice", in the schema's order.
export function entries(schema, kind) {
  return schema.$defs[kind].oneOf;
}

// The msg_type values an entry stands for.
export function messageTypes(entry) {
  const type = entry.properties.msg_type;
  return type.enum ?? [type.const];
}

// Where the page kit delivers a notice, by the rule in tarvik.js: "dnld" notices and "dl_*"
// notices to the download, named after the status_text or msg_type without its prefix; any
// other to the kit itself, named after its msg_type.
export function noticeRoute(entry) {
  const [type] = messageTypes(entry);
  if (type === 'dnld') return { target: 'download', event: entry.properties.status_text.const.replace(/^dnld_/, '') };
  if (type.startsWith('dl_')) return { target: 'download', event: type.slice(3) };
  return { target: 'kit', event: type };
}

// ---- README.md ----

const cell = (text) => text.replaceAll('|', '\\|').replaceAll('\n', ' ');

function argumentsCell(entry) {
  const data = entry.properties.msg_data;
  if (!data?.properties) return 'none';
  const required = new Set(data.required ?? []);
  return Object.entries(data.properties).map(([name, member]) => {
    const notes = [required.has(name) ? '' : 'optional', member.description ?? ''].filter(Boolean);
    return notes.length ? `\`${name}\` (${notes.join(': ')})` : `\`${name}\``;
  }).join(', ');
}

export function readmeCommands(schema) {
  const rows = entries(schema, 'command').map((entry) =>
    `| ${messageTypes(entry).map((type) => `\`${type}\``).join(', ')} | ${cell(argumentsCell(entry))} | ${cell(entry.description)} |`);
  return ['| Command | Arguments | Effect |', '|---|---|---|', ...rows].join('\n');
}

export function readmeNotices(schema) {
  const rows = entries(schema, 'notice').map((entry) => `| ${cell(entry.description)} | \`${entry['x-wire'][0]}\` |`);
  return ['| Notice | JSON |', '|---|---|', ...rows].join('\n');
}

// ---- tarvik.d.ts ----

function typeOf(member, indent) {
  if (member === undefined || member === true) return 'unknown';
  if ('const' in member) return JSON.stringify(member.const);
  if (member.enum) return member.enum.map((value) => JSON.stringify(value)).join(' | ');
  switch (member.type) {
  case 'string':
    return 'string';
  case 'number':
  case 'integer':
    return 'number';
  case 'boolean':
    return 'boolean';
  case 'object':
    return objectType(member, indent);
  default:
    return 'unknown';
  }
}

function objectType(schema, indent) {
  const inner = `${indent}  `;
  const required = new Set(schema.required ?? []);
  const lines = Object.entries(schema.properties ?? {}).flatMap(([name, member]) => [
    ...(member.description ? [`${inner}/** ${member.description} */`] : []),
    `${inner}${name}${required.has(name) ? '' : '?'}: ${typeOf(member, inner)};`,
  ]);
  return `{\n${lines.join('\n')}\n${indent}}`;
}

function eventMap(name, description, routes) {
  const byEvent = new Map();
  for (const { event, title } of routes) byEvent.set(event, [...(byEvent.get(event) ?? []), title]);
  const members = [...byEvent].map(([event, titles]) => `  ${event}: CustomEvent<${titles.join(' | ')}>;`);
  return [`/** ${description} */`, `export interface ${name} {`, ...members, '}'].join('\n');
}

export function declarations(schema) {
  const parts = [];
  for (const kind of ['command', 'notice']) {
    for (const entry of entries(schema, kind)) {
      parts.push(`/** ${entry.description} */\nexport interface ${entry.title} ${objectType(entry, '')}`);
    }
  }
  for (const [kind, name] of [['command', 'Command'], ['notice', 'Notice']]) {
    parts.push(`/** ${schema.$defs[kind].description} */\nexport type ${name} =\n${entries(schema, kind).map((entry) => `  | ${entry.title}`).join('\n')};`);
  }
  const routes = entries(schema, 'notice').map((entry) => ({ ...noticeRoute(entry), title: entry.title }));
  parts.push(eventMap('DownloadNoticeEventMap', 'The events a download gets from the host\'s notices.',
    routes.filter((route) => route.target === 'download')));
  parts.push(eventMap('KitNoticeEventMap', 'The events the kit itself gets from the notices that are not about the download.',
    routes.filter((route) => route.target === 'kit')));
  return parts.join('\n\n');
}

// ---- The regions ----

export const targets = [
  { file: 'README.md', region: 'commands', make: readmeCommands, comment: '<!-- %s -->' },
  { file: 'README.md', region: 'notices', make: readmeNotices, comment: '<!-- %s -->' },
  { file: 'page/kit/tarvik.d.ts', region: 'types', make: declarations, comment: '// %s' },
];

// `text` with the region's content replaced by `content`; throws when its markers are missing.
export function replaceRegion(text, target, content) {
  const begin = target.comment.replace('%s', `protocol-gen: ${target.region} (made from page/protocol.schema.json; edit it there)`);
  const end = target.comment.replace('%s', `protocol-gen: end ${target.region}`);
  const from = text.indexOf(`${begin}\n`);
  const to = text.indexOf(`${end}\n`, from);
  if (from < 0 || to < 0) throw new Error(`${target.file}: no "${begin}" ... "${end}" lines`);
  return `${text.slice(0, from + begin.length + 1)}${content}\n${text.slice(to)}`;
}

// Each file as it is and as it should be.
export function generate(schema = readSchema()) {
  const files = new Map();
  for (const target of targets) {
    const file = path.join(root, target.file);
    if (!files.has(file)) files.set(file, { current: fs.readFileSync(file, 'utf8') });
    const entry = files.get(file);
    entry.wanted = replaceRegion(entry.wanted ?? entry.current, target, target.make(schema));
  }
  return files;
}

if (process.argv[1] && path.resolve(process.argv[1]) === fileURLToPath(import.meta.url)) {
  const write = process.argv.includes('--write');
  let stale = 0;
  for (const [file, { current, wanted }] of generate()) {
    if (current === wanted) continue;
    if (write) {
      fs.writeFileSync(file, wanted);
      console.log(`protocol-gen: wrote ${path.relative(root, file)}`);
    } else {
      stale += 1;
      console.error(`protocol-gen: ${path.relative(root, file)} is out of date; run node tools/protocol-gen.mjs --write`);
    }
  }
  process.exit(stale ? 1 : 0);
}
