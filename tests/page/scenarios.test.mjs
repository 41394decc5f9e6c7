// The scenario table (scenarios/table.mjs) on both hosts: Chromium with the page kit's simulator,
// and the real program under the X display in DISPLAY with the demo service. Each row's record
// must be the one the table gives on both, and every notice the page received must fit the
// protocol's schema.
//
// The real program runs when TARVIK_EXECUTABLE, TARVIK_DEMO_SERVICE and TARVIK_SERVICE_ORIGIN
// (a loopback http origin it was built for) are set, as CTest does.
import { after, before, describe, it } from 'node:test';
import assert from 'node:assert/strict';
import { RealProgram, SimulatedHost } from './scenarios/hosts.mjs';
import { scenarios } from './scenarios/table.mjs';
import { compile } from './protocol_schema.mjs';

const protocol = compile();
const { TARVIK_EXECUTABLE: tarvik, TARVIK_DEMO_SERVICE: demoService, TARVIK_SERVICE_ORIGIN: origin } = process.env;
const realSkip = tarvik && demoService && origin && process.env.DISPLAY
  ? false : 'needs TARVIK_EXECUTABLE, TARVIK_DEMO_SERVICE, TARVIK_SERVICE_ORIGIN and DISPLAY';

let simulated;
let real;
before(async () => {
  simulated = await SimulatedHost.start();
  if (!realSkip) real = RealProgram.start({ tarvik, demoService, origin });
});
after(async () => {
  await simulated?.close();
  await real?.close();
});

async function check(host, scenario) {
  const seen = await host.run(scenario);
  const unfit = seen.notices.filter((notice) => protocol.fits('notice', notice).length !== 1);
  assert.deepEqual({ record: seen.record, unfit }, { record: scenario.record, unfit: [] }, seen.diagnostics);
}

for (const scenario of scenarios) {
  describe(scenario.name, () => {
    it('in Chromium with the simulator', () => check(simulated, scenario));
    it('in the real program', { skip: realSkip }, () => check(real, scenario));
  });
}
