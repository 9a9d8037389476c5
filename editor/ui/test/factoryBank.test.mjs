// The factory bank: every preset is exactly what the page writes, has a phrase, converts to a state
// stream, differs from every other preset, and together they show what the instrument does.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { existsSync, readFileSync } from 'node:fs';
import { kRoutes, posToPlain } from '../src/core/params.js';
import { readPreset } from '../src/core/presetRead.js';
import { kPresetMarker, writePreset } from '../src/core/presetWrite.js';
import { factoryTuning } from '../../../tools/bank/design.mjs';
import { factoryPresets } from '../../../tools/bank/renderBank.mjs';
import { presetStateParts, presetToState } from '../../../tools/bank/presetState.mjs';

const bank = factoryPresets().map((p) => ({ ...p, text: readFileSync(p.preset, 'utf8') }));

test('every factory preset reads back and writes the same text, has a phrase and a factory tuning', () => {
  assert.ok(bank.length >= 32, `${bank.length} presets`);
  for (const p of bank) {
    const sound = readPreset(p.text);
    assert.ok(sound, p.name);
    assert.equal(sound.name, p.name);
    assert.equal(writePreset(sound, p.name), p.text, `${p.category}/${p.name} is not as the page writes it`);
    assert.ok(existsSync(p.phrase), `${p.name} has no phrase`);
    if (sound.tuning) assert.deepEqual(sound.tuning, factoryTuning(sound.tuning.name), `${p.name}'s tuning`);
  }
});

test('no two factory presets share their parameter values', () => {
  const seen = new Map();
  for (const p of bank) {
    const key = presetStateParts(p.text).values.join(',');
    assert.ok(!seen.has(key), `${p.name} sounds like ${seen.get(key)}`);
    seen.set(key, p.name);
  }
});

test('the bank shows every part of the instrument', () => {
  const sounds = bank.map((p) => readPreset(p.text));
  const plain = (s, key) => posToPlain(key, s.knobs[key]);
  const folded = (s, character) => plain(s, 'fold') > 1.2 && Math.abs(plain(s, 'foldChar') - character) < 1e-6;
  const shows = {
    'phase modulation with feedback': (s) => plain(s, 'fmIndex') > 0 && plain(s, 'feedback') > 0,
    'the sine fold': (s) => folded(s, 0), 'the Serge fold': (s) => folded(s, 0.5), 'the Lockhart fold': (s) => folded(s, 1),
    'the fold character morph': (s) => s.modDepths.foldChar > 0,
    'the carrier bank': (s) => s.knobs.shapeMode === 2,
    'both filters on the nonlinear core': (s) => plain(s, 'filterSat') > 0 && plain(s, 'cutoffB') < 20000,
    'the ladder': (s) => plain(s, 'resonanceA') > 0.7 || plain(s, 'resonanceB') > 0.7,
    'an LFO route': (s) => kRoutes.some((r) => s.modDepths[r.route] > 0 && s.knobs[r.source] < 2),
    'an envelope route': (s) => kRoutes.some((r) => s.modDepths[r.route] > 0 && s.knobs[r.source] >= 2),
    'the ratio lane': (s) => s.lanes[0].enabled,
    'lane 1 on FM, fold, filter and morph': (s) => s.lanes[1].enabled,
    'ratio lock to a tuning': (s) => s.ratioLocked && s.tuning !== null && s.selectedDegrees.length > 1,
    'A/B snapshots': (s) => s.snapshotA !== null && s.snapshotB !== null,
    'drift': (s) => plain(s, 'drift') > 0, 'the reverb': (s) => plain(s, 'revMix') > 0.3,
  };
  for (const [feature, holds] of Object.entries(shows)) assert.ok(sounds.some(holds), `no preset shows ${feature}`);
  const targets = new Set(sounds.filter((s) => s.lanes[1].enabled).map((s) => s.lanes[1].target));
  assert.deepEqual([...targets].sort(), [0, 1, 2, 4], 'lane 1 targets');
});

test('a preset becomes a version-6 state stream with its side data', () => {
  const morph = bank.find((p) => readPreset(p.text).snapshotA);
  const stream = presetToState(morph.text);
  assert.equal(stream.toString('latin1', 0, 4), 'TVRN');
  assert.deepEqual([stream.readUInt32LE(4), stream.readUInt32LE(8)], [6, 119]);
  const textAt = 12 + 119 * 8 + 128 * 4;
  const side = JSON.parse(stream.toString('utf8', textAt + 4, textAt + 4 + stream.readUInt32LE(textAt)));
  assert.equal(side.morphAuthority, 1);
  assert.equal(typeof side.snapshotADsp.cutoffA, 'number');
  assert.equal(stream.length, textAt + 4 + stream.readUInt32LE(textAt) + 9 + 24);

  const tuned = presetStateParts(bank.find((p) => readPreset(p.text).tuning).text).side;
  assert.equal(tuned.localTuning.intervals[0], 1);
  assert.equal(tuned.localTuning.scaleSize, tuned.localTuning.intervals.length);
  assert.equal(tuned.localTuning.source, 'embed');
  assert.ok(tuned.ratioLocked && tuned.selectedDegrees.every(([, octave]) => octave === 0));
});

test('a preset with a lane delay, a trigger-key lane or a degree octave is refused', () => {
  const preset = (members) => JSON.stringify({ nobrel: kPresetMarker, name: 'P', ...members });
  assert.throws(() => presetToState(preset({ seqLanes: { lane1: { delayDiv: 1 } } })), /start delay/);
  assert.throws(() => presetToState(preset({ seqLanes: { ratio: { runMode: 2 } } })), /trigger key/);
  assert.throws(() => presetToState(preset({ ratioLock: { locked: true, selectedDegrees: [[0, 0], [4, 1]] } })), /octave/);
  assert.throws(() => presetToState('{"name":"P"}'), /not a preset/);
  assert.ok(presetToState(preset({ seqLanes: { ratio: { runMode: 3, enabled: true } } })).length > 0);
});
