// The document's side of the bridge: what it sends for edits, restores and presets, and what its
// receivers do with values from the native side.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { page } from './page.mjs';
import { plainToPos, toNormalised } from '../src/core/params.js';
import { defaultSound } from '../src/core/sound.js';
import { captureSnapshotRecord, snapshotWireJson } from '../src/core/snapshot.js';
import { writePreset } from '../src/core/presetWrite.js';

test('start-up sends ready, the tuning list request and a stored degree selection, then waits for the view state', () => {
  const storage = new Map([['mlib_ratioSel', '[[2,0],[5,1]]']]);
  const p = page({ restore: false, storage: { getItem: (k) => storage.get(k) ?? null, setItem: (k, v) => storage.set(k, v) } });
  assert.deepEqual(p.take(), [{ name: '__ready', value: 0 }, { name: '__listTunings', value: 0 },
    { name: '__ratioSelection', value: '[[2,0],[5,1]]' }]);
  p.editor.editKnob('resonanceA', 0.5);
  p.editor.setGlideMode('smooth');
  assert.deepEqual(p.take(), []);
  p.win.mlibSetUIState('{not json');
  assert.deepEqual(p.take(), [{ name: '__envFeel', value: 2 }]);
  p.editor.editKnob('resonanceA', 0.5);
  assert.deepEqual(p.take(), [{ name: 'resonanceA', value: 0.5 }]);
});

test('a start state handed over with the document is in before "__ready"; one that fails is left to the sync', () => {
  const p = page({ restore: false, startState: "try{if(window.mlibSetParam) window.mlibSetParam('drive', 0.7);\n}catch(e){}\n"
    + 'try{if(window.mlibSetEnvFeel) window.mlibSetEnvFeel(1);\n}catch(e){}\ntry{if(window.mlibSetUIState) window.mlibSetUIState(null);\n}catch(e){}\n' });
  assert.equal(p.editor.getState().sound.knobs.driveA, 0.7);
  assert.equal(p.win.mlibStartState, undefined);
  assert.deepEqual(p.names(), ['__envFeel', '__ready', '__listTunings']);
  assert.equal(p.sent[0].value, 1);
  for (const broken of ['throw 1', 'if(', 7]) {
    const q = page({ restore: false, startState: broken });
    assert.deepEqual(q.names(), ['__ready', '__listTunings'], String(broken));
    assert.deepEqual(q.editor.getState().sound, page({ restore: false }).editor.getState().sound);
  }
});

test('with no stored view state the page sends the envelope feel the engine reported, else a new sound\'s', () => {
  for (const [told, stored, feel] of [[1, null, 1], [2, '{}', 2], [1, '{not json', 1], [undefined, null, 2], ['x', null, 2]]) {
    const p = page({ restore: false });
    p.take();
    if (told !== undefined) p.win.mlibSetEnvFeel(told);
    p.win.mlibSetUIState(stored);
    assert.deepEqual(p.take(), [{ name: '__envFeel', value: feel }], `told ${told}, stored ${stored}`);
    assert.equal(p.editor.getState().sound.envFeel, feel);
  }
});

test('repeats and echoes are dropped through the sent-value map', () => {
  const p = page();
  p.take();
  p.editor.editKnob('cutoffA', 0.3);
  p.editor.editKnob('cutoffA', 0.3 + 1e-9);
  assert.equal(p.take().length, 1);
  p.win.mlibSetParam('cutoffA', 0.25);
  p.editor.editKnob('cutoffA', p.editor.getState().sound.knobs.cutoffA);
  assert.deepEqual(p.take(), []);
  p.win.mlibSetParam('drive', 0.7);
  p.win.mlibSetParam('lfo2Pattern', 5 / 9);
  p.win.mlibSetParam('modFoldEnd', 0.6);
  p.win.mlibSetParam('bogus', 0.5);
  p.win.mlibSetParam('cutoffA', 'x');
  const { sound } = p.editor.getState();
  assert.deepEqual([sound.knobs.driveA, sound.lfos[1].pattern, sound.modDepths.fold], [0.7, 5, 0.6]);
  p.editor.editKnob('cutoffA', plainToPos('cutoffA', 10010));
  assert.deepEqual(p.take(), [{ name: 'cutoffA', value: toNormalised('cutoffA', plainToPos('cutoffA', 10010)) }]);
});

test('the fader follows the engine on the next frame, or at once from the engine itself', () => {
  const p = page();
  p.win.mlibSetParam('crossfader', 0.4);
  assert.equal(p.editor.getState().sound.fader, 0);
  p.flushFrames();
  assert.equal(p.editor.getState().sound.fader, 0.4);
  p.win.mlibSetParamFromDsp('crossfader', 0.8);
  assert.equal(p.editor.getState().sound.fader, 0.8);
});

test('lane edits send their control messages', () => {
  const p = page();
  p.take();
  p.editor.editLane(1, { runMode: 2 });
  p.editor.editLane(1, { runMode: 0 });
  p.editor.editLane(0, { runMode: 2 });
  p.editor.editLane(0, { delayDiv: 0.5 });
  p.editor.editLane(0, { stepCount: 3 });
  const sent = p.take();
  assert.deepEqual(sent.slice(0, 6), [{ name: '__seqRunMode_1', value: 2 }, { name: '__seqTriggerKey_1', value: 73 },
    { name: '__seqRunMode_1', value: 0 }, { name: '__seqTriggerKey_1', value: -1 }, { name: '__seqRunMode_0', value: 2 },
    { name: '__seqTriggerKey_0', value: 72 }]);
  assert.deepEqual(sent.slice(6), [{ name: '__seqDelay_0', value: 0.5 }, { name: '__seqDelayMul_0', value: 1 },
    { name: '__seqSteps_0', value: '[0,0,0]' }, { name: '__seqTies_0', value: '[0,0,0]' }]);
});

test('the view state is sent 100 ms after the last change', () => {
  const p = page();
  p.editor.setTheme('kinari');
  p.editor.setEnvFeel(1);
  p.take();
  p.flushTimers();
  const sent = p.take();
  assert.equal(sent.length, 1);
  assert.equal(sent[0].name, '__uiState');
  const u = JSON.parse(sent[0].value);
  assert.deepEqual([u.theme, u.envFeel], ['kinari', 1]);
});

test('restoring the view state sends what the engine lacks and keeps older snapshots to the page', () => {
  const p = page({ restore: false });
  p.take();
  const record = captureSnapshotRecord(defaultSound());
  p.win.mlibSetSnapshotSeq(9, 2);
  p.win.mlibSetUIState(JSON.stringify({ ratioLocked: true, theme: 'botanical', presetName: 'a\u0001b',
    snapshotA: { ...record, _seq: 4 }, snapshotB: { ...record, _seq: 5 }, glideMode: 'smooth', filterLockA: true,
    selectedDegrees: [[1, 0], [1, 0], [3]], crossfaderPos: 2, envFeel: 3, localTuningFile: 'just' }));
  const state = p.editor.getState();
  assert.deepEqual([state.theme, state.presetName, state.sound.selectedDegrees, state.sound.fader],
    ['kinari', 'ab', [[1, 0], [3, 0]], 1]);
  const names = p.names();
  assert.equal(names[0], '__uiRestoring');
  assert.ok(!names.includes('__snapshotA'));
  assert.ok(names.includes('__snapshotB'));
  assert.equal(JSON.parse(p.sent.find((m) => m.name === '__snapshotB').value).__seq, 5);
  assert.ok(!names.includes('__filterLockA'));
  assert.deepEqual(p.sent.filter((m) => ['__ratioLock', '__glideMode', '__envFeel', '__loadTuning'].includes(m.name)),
    [{ name: '__ratioLock', value: 1 }, { name: '__glideMode', value: 1 }, { name: '__loadTuning', value: '{"name":"just"}' },
      { name: '__envFeel', value: 2 }]);
});

test('applying a preset sends the whole sound inside a restoring bracket', () => {
  const p = page();
  p.take();
  const sound = defaultSound();
  sound.knobs.cutoffA = 0.2;
  sound.snapshotB = captureSnapshotRecord(sound);
  sound.tuning = { name: 't', period: 2, intervals: [1, 1.5] };
  p.win.mlibPresetContent(writePreset(sound, 'Loaded'));
  const names = p.names();
  assert.equal(names[0], '__uiRestoring');
  assert.equal(names.at(-1), '__loadEpoch');
  for (const key of ['cutoffA', 'voiceCount', 'lfo1Rate', 'modRatioStart', 'crossfader', '__snapshotClear_A', '__snapshotB',
    '__seqSteps_0', '__seqTies_1', '__filterLockB', '__glideMode', '__envFeel', '__tuningEmbed']) {
    assert.ok(names.includes(key), key);
  }
  assert.equal(p.editor.getState().presetName, 'Loaded');
  p.take();
  p.flushFrames();
  assert.deepEqual(p.take()[0], { name: '__uiRestoring', value: 0 });
  p.win.mlibImportNobrel('{"name": "not a preset"}');
  assert.deepEqual(p.take(), []);
});

test('a switched-off LFO silences its routes on the wire', () => {
  const p = page();
  p.editor.editRoute('fold', 'depth', 0.8);
  p.take();
  p.editor.editLfo(1, { enabled: false });
  const sent = p.take();
  assert.ok(sent.some((m) => m.name === 'modFoldEnd' && m.value === 0));
  assert.ok(!sent.some((m) => m.name === 'modRatioEnd'));
  const state = p.editor.getState().sound;
  const wire = JSON.parse(snapshotWireJson(captureSnapshotRecord(state), state, 3));
  assert.deepEqual([wire.modFoldEnd, wire.__seq], [0, 3]);
  p.editor.editLfo(1, { enabled: true });
  assert.ok(p.take().some((m) => m.name === 'modFoldEnd' && m.value === 0.8));
});
