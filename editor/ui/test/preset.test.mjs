// Preset files: writing, reading back, defaults, upgrades of older versions, file names and the list.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { plainToPos, posToPlain, toNormalised, fromNormalised, kKnobKeys } from '../src/core/params.js';
import { defaultSound } from '../src/core/sound.js';
import { kPresetMarker, roundTo, writePreset } from '../src/core/presetWrite.js';
import { readPreset } from '../src/core/presetRead.js';
import { exportFileName, groupPresetList, newPresetPath, presetFolder, presetSlug } from '../src/core/presetFiles.js';

const near = (a, b, eps = 1e-9) => assert.ok(Math.abs(a - b) <= eps, `${a} != ${b}`);
const preset = (members) => JSON.stringify({ nobrel: kPresetMarker, name: 'P', ...members });

function soundWith(plain) {
  const sound = defaultSound();
  for (const [key, value] of Object.entries(plain)) sound.knobs[key] = plainToPos(key, value);
  return sound;
}

test('knob scales map positions and plain values both ways', () => {
  near(posToPlain('ratio', 0.6), 3);
  near(plainToPos('ratio', 8), 0.6 + 0.4 * Math.log(8 / 3) / Math.log(16 / 3));
  near(posToPlain('cutoffA', 0.5), Math.sqrt(20 * 20000), 1e-6);
  near(toNormalised('cutoffA', plainToPos('cutoffA', 10010)), 0.5);
  near(fromNormalised('cutoffA', 0.5), plainToPos('cutoffA', 10010));
  assert.equal(toNormalised('filterModeB', 1), 1 / 3);
  assert.equal(fromNormalised('voiceMode', 0.4), 1);
  assert.equal(kKnobKeys.length, 88);
});

test('a written preset has the fixed header, member order, rounding and indentation', () => {
  const sound = soundWith({ glide: 12.345, ratio: 2.346, cutoffA: 1234.6, sustain: 0.555, attack: 0.0125, octave: -2 });
  sound.knobs.voiceCount = 3;
  sound.filterLockB = true;
  const text = writePreset(sound, 'Deep');
  const p = JSON.parse(text);
  assert.deepEqual(Object.keys(p), ['nobrel', 'version', 'envFeel', 'name', 'voice', 'oscillator', 'envelope', 'envelope2',
    'filterA', 'filterB', 'filter', 'noise', 'reverb', 'eq', 'output', 'lfo1', 'lfo2', 'modulation', 'seqLanes', 'glideMode']);
  assert.equal(p.nobrel, kPresetMarker);
  assert.equal(p.version, 6);
  assert.equal(p.envFeel, 2);
  assert.deepEqual([p.voice.count, p.voice.glide, p.voice.octave, p.oscillator.ratio, p.filterA.cutoff,
    p.envelope.sustain, p.envelope.attack, p.envelope.model], [4, 12.3, -2, 2.35, 1235, 0.56, 0.013, 'adsr']);
  assert.deepEqual(p.modulation.sources, { ratio: 'lfo1', fold: 'lfo2', foldBias: 'lfo2', feedback: 'lfo1', shape: 'lfo1',
    fm: 'lfo1', foldChar: 'lfo2', cutoffA: 'lfo1', cutoffB: 'lfo2' });
  assert.deepEqual(Object.keys(p.seqLanes.ratio), ['steps', 'stepCount', 'triggerKey', 'enabled', 'runMode', 'freeRate',
    'syncDiv', 'delayDiv', 'delayMul', 'ties', 'snapEnabled', 'mode', 'rankEncoded']);
  assert.ok(text.startsWith('{\n  "nobrel": '));
  assert.equal(roundTo(0.125, 2), 0.13);
  assert.equal(roundTo(-0.5, 0), 0);
});

test('writing and reading a preset gives back every written value', () => {
  const sound = defaultSound();
  Object.assign(sound.knobs, { voiceMode: 2, voiceCount: 7, shapeMode: 2, filterModeA: 3, filterModeB: 1, env1TrigMode: 2,
    env2TrigMode: 1, env1Sync: 1, env2DivHold: 17, modSourceRatio: 3, modSourceCutB: 2, modSourcePitch: 0 });
  for (const key of ['cutoffA', 'resonanceB', 'fold', 'env2Release', 'eqMid', 'revSpace', 'clickAmt', 'filterSat', 'modPitchEnd']) {
    sound.knobs[key] = 0.37;
  }
  sound.lfos[1] = { rate: 0.123, phase: 0.25, delay: 0.5, pattern: 7, mode: 1, slew: true, enabled: false };
  sound.modStarts.cutoffA = 0.4;
  sound.modDepths.foldChar = 0.9;
  sound.lanes[0] = { ...sound.lanes[0], steps: [0.1, 0.2, 0.3, 0, 0, 0, 0, 0], stepCount: 3, ties: [true, false, true],
    enabled: true, runMode: 3, mode: 'absolute', rankEncoded: true };
  sound.lanes[1] = { ...sound.lanes[1], target: 4, delayDiv: 0.5, delayMul: 3 };
  sound.snapshotA = { ...sound.knobs };
  sound.fader = 0.25;
  sound.ratioLocked = true;
  sound.selectedDegrees = [[0, 0], [7, 1]];
  sound.glideMode = 'smooth';
  sound.tuning = { name: 'pyth', period: 2, intervals: [1, 1.125, 1.5], labels: ['1/1', '9/8', '3/2'] };
  const back = readPreset(writePreset(sound, 'Round Trip'));
  for (const key of kKnobKeys) near(back.knobs[key], sound.knobs[key], 2e-3);
  assert.equal(back.knobs.voiceCount, 7);
  assert.deepEqual(back.lfos[1], { rate: 0.123, phase: 0.25, delay: 0.5, pattern: 7, mode: 1, slew: true, enabled: false });
  assert.deepEqual([back.modStarts.cutoffA, back.modDepths.foldChar, back.lanes[0].ties, back.lanes[0].steps.slice(0, 3),
    back.lanes[0].mode, back.lanes[0].rankEncoded, back.lanes[1].target, back.lanes[1].delayMul, back.snapshotB, back.fader,
    back.ratioLocked, back.selectedDegrees, back.glideMode, back.tuning, back.name],
  [0.4, 0.9, [true, false, true], [0.1, 0.2, 0.3], 'absolute', true, 4, 3, null, 0.25, true, [[0, 0], [7, 1]], 'smooth',
    sound.tuning, 'Round Trip']);
  near(back.snapshotA.cutoffA, 0.37);
});

test('an almost empty preset reads with the documented defaults', () => {
  const s = readPreset(preset({}));
  const plain = (key) => posToPlain(key, s.knobs[key]);
  near(plain('cutoffA'), 4500, 1e-6);
  near(plain('fold'), 1.8);
  assert.equal(s.knobs.voiceCount, 7);
  assert.equal(s.knobs.modSourceFold, 1);
  assert.equal(s.lanes[1].snapEnabled, false);
  assert.equal(s.glideMode, 'step');
  assert.equal(s.tuning, null);
  assert.equal(readPreset(JSON.stringify({ nobrel: kPresetMarker, name: '' })).name, 'Untitled');
});

test('things that are not presets are refused', () => {
  assert.equal(readPreset('{"name": "x"}'), null);
  for (const text of [JSON.stringify({ nobrel: kPresetMarker, name: 5 }), JSON.stringify({ nobrel: 'other', name: 'x' }),
    '{"nobrel": ', '[]', 'null', '']) assert.equal(readPreset(text), null, text);
});

test('older files are upgraded', () => {
  const v4 = readPreset(preset({ version: 4, morph: { snapshotA: { shapeMode: 4, env1TrigMode: 0.5, env2TrigMode: 1 },
    snapshotB: { shapeMode: 3 }, linked: true, position: 0.5 } }));
  assert.deepEqual([v4.snapshotA.shapeMode, v4.snapshotA.env1TrigMode, v4.snapshotA.env2TrigMode, v4.snapshotB.shapeMode,
    v4.fader], [1, 1, 2, 2, 0.5]);
  const v5 = readPreset(preset({ version: 5, morph: { snapshotA: { shapeMode: 4, env1TrigMode: 1 }, linked: true } }));
  assert.equal(v5.snapshotA.shapeMode, 2);
  assert.equal(v5.snapshotA.env1TrigMode, 2);
  const pluck = readPreset(preset({ envelope: { model: 'pluck', decay: 0.2, sustain: 0.9, release: 3 } }));
  near(posToPlain('sustain', pluck.knobs.sustain), 0);
  near(posToPlain('release', pluck.knobs.release), 0.2);
  assert.equal(pluck.knobs.envModel, 0);
  const old = readPreset(preset({ filter: { drive: 0.4, keyTrack: true }, oscillator: { shapeMode: 'phasedist' },
    modulation: { sources: { ratio: 'env', fold: 'nope', cutoffB: 'env1' } } }));
  near(posToPlain('driveA', old.knobs.driveA), 0.4);
  near(posToPlain('keyTrackA', old.knobs.keyTrackA), 1);
  assert.equal(old.knobs.shapeMode, 1);
  assert.equal(readPreset(preset({ oscillator: { shapeMode: 'formant' } })).knobs.shapeMode, 1);
  assert.deepEqual([old.knobs.modSourceRatio, old.knobs.modSourceFold, old.knobs.modSourceCutB], [2, 1, 2]);
});

test('an unlinked snapshot pair is repaired against the preset', () => {
  const a = { env1Delay: 0.1, attack: 0.3, env2Attack: 0.3, env1TrigMode: 1, decay: 0.2, sustain: 0.4 };
  const b = { env1Delay: 0.2, attack: 0.3, env2Attack: 0.5, decay: 0.2, sustain: 0.5 };
  const s = readPreset(preset({ version: 6, envelope: { delay: 0.5, attack: 0.008 }, morph: { snapshotA: a, snapshotB: b } }));
  const own = s.knobs;
  assert.deepEqual([s.snapshotA.env1Delay, s.snapshotB.env1Delay, s.snapshotA.attack, s.snapshotA.env2Attack,
    s.snapshotA.env1TrigMode, s.snapshotA.decay, s.snapshotA.sustain],
  [own.env1Delay, own.env1Delay, own.attack, 0.3, own.env1TrigMode, own.decay, 0.4]);
  const linked = readPreset(preset({ version: 6, morph: { snapshotA: a, snapshotB: b, linked: true } }));
  assert.equal(linked.snapshotA.env1Delay, 0.1);
});

test('lanes are laid over their defaults with ties fitted to the step count', () => {
  const s = readPreset(preset({ seqLanes: {
    ratio: { steps: [0.5, 2, 'x', -1], stepCount: 6, ties: [true, 1] },
    lane1: { stepCount: 2, ties: [true, false, true, true], target: 9 } } }));
  assert.deepEqual(s.lanes[0].ties, [true, true, false, false, false, false]);
  assert.deepEqual(s.lanes[0].steps, [0.5, 1, 0, 0, 0, 0, 0, 0]);
  assert.deepEqual(s.lanes[1].ties, [true, false]);
  assert.equal(s.lanes[1].target, 4);
});

test('preset files are named from slugs and categories', () => {
  assert.equal(presetSlug('  Deep Bass #2  '), 'deep-bass-2');
  assert.equal(presetSlug('###'), 'untitled');
  assert.equal(presetSlug('Ünïcode Pad'), 'n-code-pad');
  assert.equal(presetFolder('..Bass//Leads\\x'), 'Bass Leads x');
  assert.equal(presetFolder('User'), '');
  assert.equal(newPresetPath('Deep Bass #2', 'Bass'), 'User/Bass/deep-bass-2.nobrel');
  assert.equal(newPresetPath('Deep', 'User'), 'User/deep.nobrel');
  assert.equal(exportFileName(''), 'untitled.nobrel');
});

test('the preset list is grouped by section and category and sorted naturally', () => {
  const e = (name, category, section) => ({ name, category, section, isFactory: section === 'Factory', path: `/${name}` });
  const groups = groupPresetList([e('pad 10', 'Pads', 'User'), e('Pad 9', 'Pads', 'User'), e('Éclair', 'Pads', 'User'),
    e('bass', undefined, 'User'), e('Lead', 'Leads', 'Factory'), e('Alpha', 'Bass', 'Factory')]);
  assert.deepEqual(groups.map((s) => s.section), ['Factory', 'User']);
  assert.deepEqual(groups[0].groups.map((g) => g.category), ['Bass', 'Leads']);
  assert.deepEqual(groups[1].groups.map((g) => g.category), ['Pads', 'Uncategorized']);
  assert.deepEqual(groups[1].groups[0].presets.map((p) => p.name), ['Éclair', 'Pad 9', 'pad 10']);
});
