// The page protocol's schema (page/protocol.schema.json) as validators for the page tests: which
// of its entries a command or notice fits. Strict, so a schema that says something Ajv cannot
// check fails to load rather than checking less.
import Ajv2020 from 'ajv/dist/2020.js';
import { entries, readSchema } from '../../tools/protocol-gen.mjs';

export const schema = readSchema();

function makeAjv() {
  const ajv = new Ajv2020({ strict: true, allErrors: true });
  ajv.addKeyword({ keyword: 'x-wire', schemaType: 'array' });
  return ajv;
}

// The whole schema compiled once (it fails here when it is not a valid 2020-12 schema), and each
// entry on its own.
export function compile() {
  const ajv = makeAjv();
  ajv.addSchema(schema, 'protocol');
  const whole = {
    command: ajv.getSchema('protocol#/$defs/command'),
    notice: ajv.getSchema('protocol#/$defs/notice'),
  };
  const single = {};
  for (const kind of ['command', 'notice']) {
    single[kind] = entries(schema, kind).map((entry, index) =>
      [entry.title, ajv.getSchema(`protocol#/$defs/${kind}/oneOf/${index}`)]);
  }
  return {
    // The titles of the entries of `kind` that `value` fits; a valid message fits exactly one.
    fits(kind, value) {
      return single[kind].filter(([, validate]) => validate(value)).map(([title]) => title);
    },
    valid(kind, value) {
      return whole[kind](value);
    },
  };
}
