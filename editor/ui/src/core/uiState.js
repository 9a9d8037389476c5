// The view state the native side keeps for the page (UI-state JSON): building it, and restoring it when
// the native side answers the page's start with `window.mlibSetUIState`.
import { clamp, isNum } from './params.js';
import { readSnapshotRecord } from './snapshot.js';
import { defaultLfo, readLane } from './sound.js';

const kThemes = { nightshade: 'nightshade', dark: 'nightshade', midnight: 'nightshade', kinari: 'kinari',
  light: 'kinari', botanical: 'kinari' };

// The theme a stored name means, or null for a name that is not known.
export function mapTheme(name) {
  return typeof name === 'string' ? kThemes[name] ?? null : null;
}

export function buildUiState(state, snapSeq) {
  const { sound } = state;
  const snap = (which) => (sound[`snapshot${which}`] ? { ...sound[`snapshot${which}`], _seq: snapSeq[which] } : null);
  return {
    ratioLocked: sound.ratioLocked, selectedDegrees: sound.selectedDegrees, presetName: state.presetName,
    theme: state.theme, ratioSeq: sound.lanes[0], seqLane1: sound.lanes[1], snapshotA: snap('A'), snapshotB: snap('B'),
    crossfaderPos: sound.fader, glideMode: sound.glideMode, filterLockA: sound.filterLockA,
    filterLockB: sound.filterLockB, lfo1: sound.lfos[0], lfo2: sound.lfos[1], localTuningFile: state.tuningFile,
    envFeel: sound.envFeel,
  };
}

// Degrees from stored pairs: the first number is the degree, the second the octave (0 when absent);
// repeated pairs dropped; at most 8.
export function readDegreePairs(list) {
  const out = [];
  for (const p of Array.isArray(list) ? list : []) {
    const degree = Array.isArray(p) ? p[0] : p;
    if (!isNum(degree)) continue;
    const pair = [Math.trunc(degree), Array.isArray(p) && isNum(p[1]) ? Math.trunc(p[1]) : 0];
    if (!out.some(([d, o]) => d === pair[0] && o === pair[1])) out.push(pair);
    if (out.length === 8) break;
  }
  return out;
}

function readLfoRecord(stored) {
  const lfo = defaultLfo();
  if (!stored || typeof stored !== 'object') return lfo;
  for (const key of ['rate', 'phase', 'delay']) if (isNum(stored[key])) lfo[key] = clamp(stored[key], 0, 1);
  if (isNum(stored.pattern)) lfo.pattern = clamp(Math.round(stored.pattern), 0, 9);
  if (isNum(stored.mode)) lfo.mode = clamp(Math.round(stored.mode), 0, 1);
  lfo.slew = stored.slew === true;
  lfo.enabled = stored.enabled !== false;
  return lfo;
}

const cleanName = (text) => text.replace(/[\u0000-\u001f\u007f]/g, '').slice(0, 64);

// Restores the view state from its JSON text. Each step is guarded on its own, so one bad member does
// not stop the others. Answers whether anything was restored.
export function restoreUiState(editor, text) {
  const { sender } = editor;
  let u = null;
  try { u = typeof text === 'string' ? JSON.parse(text) : null; } catch { u = null; }
  if (!u || typeof u !== 'object' || Array.isArray(u) || Object.keys(u).length === 0) {
    // Nothing stored: keep the feel the engine plays, so opening the editor never changes the sound.
    const feel = editor.engineEnvFeel;
    editor.setSound({ envFeel: feel });
    sender.send('__envFeel', feel);
    return false;
  }
  sender.send('__uiRestoring', 1);
  editor.frame(() => sender.send('__uiRestoring', 0));
  const step = (fn) => { try { fn(); } catch { /* a bad member leaves the rest restorable */ } };
  const newer = { A: false, B: false };
  step(() => {
    if (typeof u.ratioLocked !== 'boolean') return;
    editor.setSound({ ratioLocked: u.ratioLocked });
    sender.send('__ratioLock', u.ratioLocked ? 1 : 0);
  });
  step(() => {
    if (!Array.isArray(u.selectedDegrees)) return;
    editor.setSound({ selectedDegrees: readDegreePairs(u.selectedDegrees) });
    editor.sendSelection();
  });
  step(() => { if (typeof u.presetName === 'string') editor.set({ presetName: cleanName(u.presetName) }); });
  step(() => {
    const theme = typeof u.theme === 'string' && u.theme.length <= 32 ? mapTheme(u.theme) : null;
    if (theme) editor.set({ theme });
  });
  step(() => {
    const lanes = editor.getState().sound.lanes.slice();
    if (u.ratioSeq && typeof u.ratioSeq === 'object') lanes[0] = readLane(0, u.ratioSeq, 64);
    if (u.seqLane1 && typeof u.seqLane1 === 'object') lanes[1] = readLane(1, u.seqLane1, 64);
    editor.setSound({ lanes });
  });
  for (const which of ['A', 'B']) {
    step(() => {
      const stored = u[`snapshot${which}`];
      if (stored === undefined) return;
      const record = readSnapshotRecord(stored);
      const seq = record && isNum(stored._seq) && stored._seq > 0 ? Math.trunc(stored._seq) : 0;
      editor.setSound({ [`snapshot${which}`]: record });
      editor.snapSeq[which] = seq;
      newer[which] = editor.engineSnapSeq[which] > seq;
      if (record && !newer[which]) editor.sendSnapshot(which, seq > 0 ? seq : undefined);
    });
  }
  step(() => {
    const fader = isNum(editor.lastEngineFader) ? editor.lastEngineFader : u.crossfaderPos;
    if (isNum(fader)) editor.setSound({ fader: clamp(fader, 0, 1) });
  });
  step(() => {
    if (u.glideMode !== 'step' && u.glideMode !== 'smooth') return;
    editor.setSound({ glideMode: u.glideMode });
    sender.send('__glideMode', u.glideMode === 'smooth' ? 1 : 0);
  });
  for (const which of ['A', 'B']) {
    step(() => {
      const locked = u[`filterLock${which}`];
      if (typeof locked !== 'boolean') return;
      editor.setSound({ [`filterLock${which}`]: locked });
      if (!newer.A && !newer.B) sender.send(`__filterLock${which}`, locked ? 1 : 0);
    });
  }
  step(() => {
    const lfos = editor.getState().sound.lfos.slice();
    if ('lfo1' in u) lfos[0] = readLfoRecord(u.lfo1);
    if ('lfo2' in u) lfos[1] = readLfoRecord(u.lfo2);
    editor.setSound({ lfos });
  });
  step(() => {
    if (u.localTuningFile === null) editor.set({ tuningFile: null });
    else if (typeof u.localTuningFile === 'string' && u.localTuningFile.length > 0 && u.localTuningFile.length <= 256) {
      editor.set({ tuningFile: u.localTuningFile });
      sender.send('__loadTuning', JSON.stringify({ name: u.localTuningFile }));
    }
  });
  step(() => {
    const feel = isNum(u.envFeel) && u.envFeel >= 2 ? 2 : 1;
    editor.setSound({ envFeel: feel });
    sender.send('__envFeel', feel);
  });
  return true;
}
