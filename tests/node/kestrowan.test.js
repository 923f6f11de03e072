// A UCI client library from npm talks to Stockfish through kestrowan, the way a GUI written
// on top of it would. The library starts one program without arguments, so, like a user of
// such a GUI, the test gives it a two-line script that runs kestrowan with the engine's path.
'use strict';

const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { test } = require('node:test');
const { Engine } = require('node-uci');

const filter = process.env.KESTROWAN_FILTER || '';
const stockfish = process.env.KESTROWAN_STOCKFISH || '/usr/games/stockfish';

const ourOptions = {
  'TimeCurrmove@Kestrowan': { type: 'spin', default: 1500, min: 0, max: 5000 },
  'TimeInfo@Kestrowan': { type: 'spin', default: 300, min: 0, max: 5000 },
  'TimeQuit@Kestrowan': { type: 'spin', default: 1000, min: 200, max: 1800 },
  'RemoveNonUci@Kestrowan': { type: 'check', default: true },
  'RemoveStop@Kestrowan': { type: 'check', default: true },
};

function skipReason() {
  if (filter === '') return 'KESTROWAN_FILTER does not name the built filter';
  if (!fs.existsSync(stockfish)) return `${stockfish} is not installed`;
  return null;
}

function quoted(word) {
  return `'${word.replaceAll("'", "'\\''")}'`;
}

// Settles with what the promise gave, or fails the test once `ms` have passed: a filter that
// swallows an answer must not hang the run.
function within(ms, what, promise) {
  let timer;
  const timeout = new Promise((_, reject) => {
    timer = setTimeout(() => reject(new Error(`${what}: no answer within ${ms} ms`)), ms);
  });
  return Promise.race([promise, timeout]).finally(() => clearTimeout(timer));
}

test('node-uci drives Stockfish through kestrowan', { skip: skipReason() ?? false }, async (t) => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'kestrowan-node-'));
  t.after(() => fs.rmSync(dir, { recursive: true, force: true }));
  const launcher = path.join(dir, 'kestrowan-stockfish');
  fs.writeFileSync(
    launcher,
    `#!/bin/sh\nexec ${filter.split(' ').map(quoted).join(' ')} ${quoted(stockfish)}\n`,
    { mode: 0o755 },
  );

  const engine = new Engine(launcher);
  const deadline = 20000;
  const handshake = engine.init();
  // A failed check must not leave the filter and its engine behind to keep the run alive.
  const proc = engine.proc;
  t.after(() => {
    if (proc.exitCode === null && proc.signalCode === null) proc.kill('SIGKILL');
  });
  await within(deadline, 'uci', handshake);
  let stderr = '';
  proc.stderr.setEncoding('utf8');
  proc.stderr.on('data', (text) => (stderr += text));
  const exited = new Promise((resolve) => proc.once('exit', (code, signal) => resolve({ code, signal })));

  assert.match(engine.id.name, /^Stockfish/);
  // The engine's own options come first, ours are added to them.
  assert.deepEqual(engine.options.get('Hash')?.type, 'spin');
  for (const [name, expected] of Object.entries(ourOptions)) {
    assert.deepEqual(engine.options.get(name), expected, name);
  }

  // Ours is taken by the filter, the engine's goes through; isready comes back after both.
  await within(deadline, 'setoption', engine.setoption('TimeInfo@Kestrowan', 0));
  await within(deadline, 'setoption', engine.setoption('Hash', 32));
  await within(deadline, 'isready', engine.isready());

  await within(deadline, 'position', engine.position('startpos', ['e2e4', 'e7e5']));
  const result = await within(deadline, 'go', engine.go({ depth: 10 }));
  assert.match(result.bestmove, /^[a-h][1-8][a-h][1-8][qrbn]?$/);
  // TimeInfo 0 has opened the window: the search's progress reaches the client.
  assert.ok(
    result.info.some((info) => info.depth === 10 && info.pv),
    JSON.stringify(result.info),
  );

  await within(deadline, 'quit', engine.quit());
  assert.deepEqual(await within(deadline, 'exit', exited), { code: 0, signal: null });
  assert.equal(stderr, '');
});
