// The kit panel and controller learn: each action's message checked against the steps the native bridge
// test replays, and what the page shows of the native side's kit and controller map.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { page } from './page.mjs';
import * as kit from '../src/core/kit.js';
import { cancelLearn, learnController } from '../src/core/controllers.js';

const { steps } = JSON.parse(readFileSync(new URL('./fixtures/kit-and-learn-messages.json', import.meta.url), 'utf8'));
const kActions = { ...kit, learnController, cancelLearn };

test('each kit and learn action posts the message the native side is tested with', () => {
  const p = page();
  p.take();
  for (const { action: [name, ...args], posts } of steps) {
    kActions[name](p.editor, ...args);
    const sent = p.take();
    assert.equal(sent.length, 1, name);
    const [message] = sent;
    if (name === 'snapSlot') {
      // The current sound in the snapshot wire form; the native test stands in a short one.
      assert.equal(typeof JSON.parse(message.value).cutoffA, 'number');
      message.value = posts.value;
    }
    assert.deepEqual(message, posts, name);
  }
});

test('the kit shows the slots the native side reports and the edits made here', () => {
  const p = page();
  p.win.mlibRestoreSlots({ afxMode: true, baseKey: 40, slots: [{ slot: 2, note: 50, gain: 2, pan: 0 }, { slot: 30 }, null] });
  p.win.mlibLoadSlot(5, { cutoffA: 0.5 }, 'x', 1, 1);
  const state = () => p.editor.getState();
  assert.deepEqual(kit.kitSlot(state().kit, 2), { slot: 2, note: 50, gain: 2, pan: 0, present: true });
  assert.deepEqual([kit.kitSlot(state().kit, 5).note, state().kit.slots.length, state().kitArmed], [45, 2, 5]);
  assert.deepEqual(kit.kitSlot(state().kit, 7), { slot: 7, note: 47, gain: 1, pan: 0.5, present: false });

  p.take();
  kit.setSlotGain(p.editor, 7, 9);
  kit.snapSlot(p.editor, 7);
  kit.clearSlot(p.editor, 2);
  kit.armSlot(p.editor, 24);
  kit.setSlotNote(p.editor, 1, NaN);
  const sent = p.take();
  assert.deepEqual(sent.map((m) => [m.name, m.name.startsWith('__slotSnap_') ? m.note : m.value]),
    [['__slotGain_7', 4], ['__slotSnap_7', 47], ['__slotClear_2', 1]]);
  assert.deepEqual(kit.kitSlot(state().kit, 7), { slot: 7, note: 47, gain: 4, pan: 0.5, present: true, params: null });
  assert.equal(kit.kitSlot(state().kit, 2).present, false);
});

test('the controller map names the controllers of each parameter and the one learn waits for', () => {
  const p = page();
  p.win.mlibSetControllerMap({ map: [[74, 7], [20, 19], [21, 19], [5, 999], 'x'], learn: 19 });
  assert.deepEqual(p.editor.getState().controllers, { cutoffA: [74], cutoffB: [20, 21] });
  assert.equal(p.editor.getState().learning, 'cutoffB');
  p.win.mlibSetControllerMap({ map: 3 });
  p.win.mlibSetControllerMap(null);
  assert.equal(p.editor.getState().learning, 'cutoffB');
  p.win.mlibSetControllerMap({ map: [], learn: -1 });
  assert.deepEqual([p.editor.getState().controllers, p.editor.getState().learning], [{}, null]);
  learnController(p.editor, 'notAParameter');
  assert.equal(p.take().filter((m) => m.name === '__ccLearn').length, 0);
});
