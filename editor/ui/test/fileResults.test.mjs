// The native side's answers to the page's file operations: a failure is shown in words and never taken
// for a success; a success changes the page only once it is told.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { page } from './page.mjs';
import { savePreset, deletePreset } from '../src/core/apply.js';

const kUser = '/home/u/.local/share/Nobrels/Tavrin/User';

test('a preset save on a full disk shows the failure and keeps the page as it was', () => {
  const p = page();
  p.editor.setPresetName('Deep Bass');
  p.take();
  savePreset(p.editor, 'Bass');
  assert.deepEqual(p.names(), ['__savePreset']);
  assert.equal(JSON.parse(p.sent[0].value).path, 'User/Bass/deep-bass.nobrel');
  p.take();
  p.win.mlibFileResult({ op: 'savePreset', path: `${kUser}/Bass/deep-bass.nobrel`, ok: false, reason: 'File too large' });
  const state = p.editor.getState();
  assert.deepEqual(state.fileNotice, { op: 'savePreset', ok: false, text: 'Could not save the preset deep-bass.nobrel: File too large' });
  assert.equal(state.presetPath, null);
  assert.deepEqual(p.take(), []);

  p.win.mlibFileResult({ op: 'savePreset', path: `${kUser}/Bass/deep-bass.nobrel`, ok: true, reason: '' });
  assert.equal(p.editor.getState().presetPath, `${kUser}/Bass/deep-bass.nobrel`);
  assert.equal(p.editor.getState().fileNotice.text, 'Saved deep-bass.nobrel');
  assert.deepEqual(p.take(), [{ name: '__listPresets', value: 0 }]);
  // The next save goes to the file it saved.
  savePreset(p.editor, 'Other');
  assert.equal(JSON.parse(p.take()[0].value).path, `${kUser}/Bass/deep-bass.nobrel`);
});

test('deletes list again only when done, and a failed tuning load puts the menu back', () => {
  const p = page();
  p.take();
  deletePreset(p.editor, `${kUser}/a.nobrel`);
  p.win.mlibFileResult({ op: 'deletePreset', path: `${kUser}/a.nobrel`, ok: false, reason: 'Read-only file system' });
  assert.deepEqual(p.names(), ['__deletePreset']);
  assert.equal(p.editor.getState().fileNotice.text, 'Could not delete a.nobrel: Read-only file system');
  p.take();
  p.win.mlibFileResult({ op: 'deletePreset', path: `${kUser}/a.nobrel`, ok: true, reason: '' });
  assert.deepEqual([p.names(), p.editor.getState().fileNotice], [['__listPresets'], null]);

  p.editor.chooseTuning('Just');
  p.editor.chooseTuning('Broken');
  p.win.mlibFileResult({ op: 'loadTuning', path: '/t/Tunings/Broken.scl', ok: false, reason: 'not a Scala tuning' });
  assert.equal(p.editor.getState().tuningFile, 'Just');
  assert.equal(p.editor.getState().fileNotice.text, 'Could not load the tuning Broken.scl: not a Scala tuning');
});

test('answers that are not well formed change nothing', () => {
  const p = page();
  for (const bad of [null, 'text', {}, { op: 'format', ok: false }, { op: 'savePreset', ok: 'no' }, { op: 'toString', ok: false }]) {
    p.win.mlibFileResult(bad);
  }
  assert.equal(p.editor.getState().fileNotice, null);
  p.win.mlibFileResult({ op: 'loadKit', ok: false });
  assert.equal(p.editor.getState().fileNotice.text, 'Could not load the kit: no reason given');
});
