// The kit as the document edits it: kit mode, base key and the 24 slots, each edit sent to the engine.
// The page keeps the slots it knows of (those the native side reported, and those edited here); a slot
// holds a sound when `present` is not false. Kit files are chosen in native panels.
import { captureSnapshotRecord, snapshotWireJson } from './snapshot.js';
import { clamp, isNum } from './params.js';

export const kKitSlots = 24;
export const kSlotGainMax = 4;

const validSlot = (slot) => Number.isInteger(slot) && slot >= 0 && slot < kKitSlots;
const noteOf = (n) => clamp(Math.round(n), 0, 127);

// A slot as the page shows it: what it knows of the slot, else an empty slot on its key.
export function kitSlot(kit, slot) {
  const known = kit.slots.find((s) => s.slot === slot);
  const empty = { slot, note: noteOf(kit.baseKey + slot), gain: 1, pan: 0.5, present: false };
  return known ? { ...empty, ...known, present: known.present !== false } : empty;
}

function editSlot(editor, slot, patch) {
  const { kit } = editor.getState();
  const slots = kit.slots.filter((s) => s.slot !== slot);
  if (patch !== null) slots.push({ ...kitSlot(kit, slot), ...patch });
  slots.sort((a, b) => a.slot - b.slot);
  editor.set({ kit: { ...kit, slots } });
}

export function setKitMode(editor, on) {
  editor.set({ kit: { ...editor.getState().kit, afxMode: on } });
  editor.sender.send('__afxMode', on ? 1 : 0);
}

export function setBaseKey(editor, key) {
  if (!isNum(key)) return;
  const baseKey = noteOf(key);
  editor.set({ kit: { ...editor.getState().kit, baseKey } });
  editor.sender.send('__afxBaseKey', baseKey);
}

// Arms a slot for editing; the native side answers with its sound when it holds one (mlibLoadSlot).
export function armSlot(editor, slot) {
  if (!validSlot(slot)) return;
  editor.set({ kitArmed: slot });
  editor.sender.send(`__armSlot_${slot}`, 1);
}

export function setSlotNote(editor, slot, note) {
  if (!validSlot(slot) || !isNum(note)) return;
  editSlot(editor, slot, { note: noteOf(note) });
  editor.sender.send(`__slotNote_${slot}`, noteOf(note));
}

export function setSlotGain(editor, slot, gain) {
  if (!validSlot(slot) || !isNum(gain)) return;
  const g = clamp(gain, 0, kSlotGainMax);
  editSlot(editor, slot, { gain: g });
  editor.sender.send(`__slotGain_${slot}`, g);
}

// Pan as the page keeps it: 0 left, 0.5 centre, 1 right.
export function setSlotPan(editor, slot, pan) {
  if (!validSlot(slot) || !isNum(pan)) return;
  const p = clamp(pan, 0, 1);
  editSlot(editor, slot, { pan: p });
  editor.sender.send(`__slotPan_${slot}`, p);
}

export function auditionSlot(editor, slot) {
  if (validSlot(slot)) editor.sender.send(`__auditionSlot_${slot}`, 1);
}

// Stores the current sound in the slot, on the slot's note.
export function snapSlot(editor, slot) {
  if (!validSlot(slot)) return;
  const { sound, kit } = editor.getState();
  const { note } = kitSlot(kit, slot);
  editSlot(editor, slot, { present: true, params: null });
  editor.sender.send(`__slotSnap_${slot}`, snapshotWireJson(captureSnapshotRecord(sound), sound), { note });
}

export function clearSlot(editor, slot) {
  if (!validSlot(slot)) return;
  editSlot(editor, slot, null);
  editor.sender.send(`__slotClear_${slot}`, 1);
}

// Native save and open panels for kit files; the chosen file is saved or loaded there.
export const saveKitFile = (editor) => editor.sender.send('__saveKitPanel', 1);
export const loadKitFile = (editor) => editor.sender.send('__loadKitPanel', 1);
