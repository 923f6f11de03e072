#!/usr/bin/env -S node --test
// A UCI client library from npm drives Stockfish through kestrowan, as a GUI built on it would.
// The library starts one program without arguments, so it gets a two-line launcher script.
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { test } = require('node:test');
const { Engine } = require('node-uci');

test('node-uci drives Stockfish through kestrowan', { timeout: 60000 }, async () => {
  const launcher = path.join(fs.mkdtempSync(path.join(os.tmpdir(), 'kestrowan-')), 'engine');
  const command = `exec ${process.env.KESTROWAN_LOADER ?? ''} '${process.env.KESTROWAN_FILTER}' /usr/games/stockfish`;
  fs.writeFileSync(launcher, `#!/bin/sh\n${command}\n`, { mode: 0o755 });
  const engine = new Engine(launcher);
  await engine.init();
  assert.match(engine.id.name, /^Stockfish/);
  assert.deepEqual(engine.options.get('TimeQuit@Kestrowan'), { type: 'spin', default: 1000, min: 200, max: 1800 });
  assert.deepEqual(engine.options.get('RemoveStop@Kestrowan'), { type: 'check', default: true });
  await engine.setoption('TimeInfo@Kestrowan', 0);
  const result = await engine.go({ depth: 10 });
  assert.match(result.bestmove, /^[a-h][1-8][a-h][1-8][qrbn]?$/);
  // TimeInfo 0 has opened the window: the search's progress reaches the client.
  assert.ok(result.info.some((info) => info.depth === 10 && info.pv));
  const exited = new Promise((resolve) => engine.proc.once('exit', resolve));
  await engine.quit();
  assert.equal(await exited, 0);
});
