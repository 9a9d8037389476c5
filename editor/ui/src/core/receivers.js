// The global functions the native side calls (names beginning with "mlib"). Each ignores bad input.
import { clamp, fromNormalised, isNum, kAliases, kKnobs, kLfoMembers, kRoutes } from './params.js';
import { readPreset } from './presetRead.js';
import { readPresetList } from './presetFiles.js';
import { applyPreset } from './apply.js';
import { restoreUiState } from './uiState.js';
import { numbers } from './live.js';
import { readControllerMap } from './controllers.js';
import { receiveFileResult } from './fileResults.js';

const kLfoKeys = new Map();
for (const index of [0, 1]) for (const [member, suffix] of kLfoMembers) kLfoKeys.set(`lfo${index + 1}${suffix}`, [index, member]);
const kRouteKeys = new Map();
for (const route of kRoutes) {
  kRouteKeys.set(route.start, [route.route, 'modStarts']);
  kRouteKeys.set(route.end, [route.route, 'modDepths']);
}

function lfoMemberValue(member, v) {
  if (member === 'pattern') return clamp(Math.round(v * 9), 0, 9);
  if (member === 'slew') return v > 0.5;
  if (member === 'mode') return Math.round(clamp(v, 0, 1) * 2) === 1 ? 1 : 0;
  return clamp(v, 0, 1);
}

// One parameter value from the engine; `faderNow` moves the fader at once instead of on the next frame.
export function receiveParam(editor, rawKey, value, faderNow) {
  if (typeof rawKey !== 'string' || !isNum(value)) return;
  const key = kAliases[rawKey] ?? rawKey;
  editor.sender.received(key, value);
  const { sound } = editor.getState();
  if (kKnobs.has(key)) {
    editor.setSound({ knobs: { ...sound.knobs, [key]: fromNormalised(key, value) } });
  } else if (key === 'filterLockA' || key === 'filterLockB') {
    editor.setSound({ [key]: value > 0.5 });
  } else if (kRouteKeys.has(key)) {
    const [route, field] = kRouteKeys.get(key);
    editor.setSound({ [field]: { ...sound[field], [route]: clamp(value, 0, 1) } });
  } else if (kLfoKeys.has(key)) {
    const [index, member] = kLfoKeys.get(key);
    const lfos = sound.lfos.map((lfo, i) => (i === index ? { ...lfo, [member]: lfoMemberValue(member, value) } : lfo));
    editor.setSound({ lfos });
  } else if (key === 'crossfader') {
    const fader = clamp(value, 0, 1);
    editor.lastEngineFader = fader;
    const move = () => editor.set({ sound: { ...editor.getState().sound, fader }, morphView: true });
    if (faderNow) move(); else editor.frame(move);
  }
}

function readTuningShown(t) {
  if (!t || typeof t !== 'object') return null;
  const intervals = Array.isArray(t.intervals) ? t.intervals.filter(isNum) : [];
  return {
    name: typeof t.name === 'string' ? t.name : '', intervals, period: isNum(t.period) ? t.period : 2,
    scaleSize: isNum(t.scaleSize) ? Math.trunc(t.scaleSize) : intervals.length,
    labels: Array.isArray(t.labels) ? t.labels.map(String) : [], source: typeof t.source === 'string' ? t.source : null,
  };
}

// A slot the native side reports as holding a sound, with the note, gain and pan it gave.
function reportedSlot(slot, { note, gain, pan }) {
  const out = { slot: Math.trunc(slot), present: true };
  if (isNum(note)) out.note = note;
  if (isNum(gain)) out.gain = gain;
  if (isNum(pan)) out.pan = pan;
  return out;
}

function parseMaybe(value) {
  if (typeof value !== 'string') return value;
  try { return JSON.parse(value); } catch { return undefined; }
}

// Defines every receiver on `win`. `pendingRead` names the file last asked for with "__readPreset".
export function installReceivers(win, editor) {
  const live = (patch) => editor.live.update(patch);
  const fn = {
    mlibSetParam: (key, value) => receiveParam(editor, key, value, false),
    mlibSetParamFromDsp: (key, value) => receiveParam(editor, key, value, true),
    mlibSetVoiceActivity: (v) => { const voices = numbers(v, 8); if (voices) live({ voices }); },
    mlibSetPeakLevels: (...v) => { const levels = numbers(v, 4); if (levels) live({ levels }); },
    mlibSetLFOOutput: (...v) => { const lfo = numbers(v, 4); if (lfo) live({ lfo }); },
    mlibSetSeqStep: (...v) => { const seqStep = numbers(v, 3); if (seqStep) live({ seqStep }); },
    mlibSetSeqState: (lanes) => {
      if (!Array.isArray(lanes)) return;
      const seqState = lanes.slice(0, 2).map((l) => ({ active: l?.active === true,
        vals: Array.isArray(l?.vals) ? l.vals.filter(isNum).slice(0, 8) : [] }));
      if (seqState.length === 2) live({ seqState });
    },
    mlibSetKeyTrackOffset: (...v) => { const keyTrack = numbers(v, 2); if (keyTrack) live({ keyTrack }); },
    mlibSetModPositions: (...v) => { const modPos = numbers(v, 2); if (modPos) live({ modPos }); },
    mlibSetOscModPositions: (...v) => { const oscModPos = numbers(v, 7); if (oscModPos) live({ oscModPos }); },
    mlibSetEnvPlayhead: (e) => {
      if (!e || typeof e !== 'object') return;
      const env = { ...editor.live.get().env };
      for (const key of Object.keys(env)) if (isNum(e[key])) env[key] = e[key];
      live({ env });
    },
    mlibSetMTSStatus: (on) => { if (typeof on === 'boolean') live({ mts: on }); },
    mlibSetLimiterState: (on) => { if (typeof on === 'boolean') live({ limiter: on }); },
    mlibSetAfxPlayhead: (mask) => { if (isNum(mask)) live({ kitPlayhead: mask >>> 0 }); },
    mlibSetMTSNeedsUpdate: (on) => editor.set({ mtsNeedsUpdate: on === true }),
    mlibSetTuningData: (t) => {
      const tuningShown = readTuningShown(t);
      editor.set({ tuningShown });
      if (tuningShown?.scaleSize > 0) editor.store('mlib_ratioDegrees', String(tuningShown.scaleSize));
    },
    mlibTuningFileList: (list) => {
      const names = parseMaybe(list);
      if (Array.isArray(names)) editor.set({ tuningList: names.filter((n) => typeof n === 'string') });
    },
    mlibPresetList: (list) => {
      const presetList = readPresetList(list);
      if (presetList) editor.set({ presetList });
    },
    mlibPresetContent: (text) => {
      const sound = typeof text === 'string' ? readPreset(text) : null;
      if (sound) applyPreset(editor, sound, editor.pendingRead ?? null);
    },
    mlibImportNobrel: (text) => {
      const sound = typeof text === 'string' ? readPreset(text) : null;
      if (sound) applyPreset(editor, sound, null);
    },
    mlibFileResult: (result) => receiveFileResult(editor, result),
    mlibSetSnapshotSeq: (a, b) => {
      if (isNum(a)) editor.engineSnapSeq.A = a;
      if (isNum(b)) editor.engineSnapSeq.B = b;
    },
    mlibSetEnvFeel: (feel) => { if (isNum(feel)) editor.engineEnvFeel = feel >= 2 ? 2 : 1; },
    mlibSetUIState: (text) => {
      editor.sender.openGate();
      restoreUiState(editor, text);
      editor.frame(() => editor.set({ restored: true }));
    },
    mlibRestoreSlots: (kit) => {
      if (!kit || typeof kit !== 'object' || !Array.isArray(kit.slots)) return;
      const slots = kit.slots.filter((s) => s && isNum(s.slot) && s.slot >= 0 && s.slot < 24)
        .map((s) => reportedSlot(s.slot, s));
      editor.set({ kit: { afxMode: kit.afxMode === true, baseKey: isNum(kit.baseKey) ? kit.baseKey : 36, slots } });
    },
    mlibSetControllerMap: (map) => {
      const read = readControllerMap(map);
      if (read) editor.set(read);
    },
    mlibLoadSlot: (slot, params, note, gain, pan) => {
      if (!isNum(slot) || slot < 0 || slot >= 24) return;
      const kit = editor.getState().kit;
      const slots = kit.slots.filter((s) => s.slot !== Math.trunc(slot));
      slots.push({ ...reportedSlot(slot, { note, gain, pan }), params: params && typeof params === 'object' ? params : {} });
      slots.sort((a, b) => a.slot - b.slot);
      editor.set({ kit: { ...kit, slots }, kitArmed: Math.trunc(slot) });
    },
  };
  for (const [name, f] of Object.entries(fn)) {
    win[name] = (...args) => {
      try { f(...args); } catch { /* bad input from the native side is ignored */ }
    };
  }
  return Object.keys(fn);
}

// The engine's state the native side handed over with the document (the scripts it would send after
// "__ready"), run before the first render so that it is the final one. The sync that answers "__ready"
// brings the state when this is missing or fails.
function runStartState(win) {
  const text = win.mlibStartState;
  delete win.mlibStartState;
  if (typeof text !== 'string') return;
  try { new Function('window', text)(win); } catch { /* left to the sync */ }
}

// The page's start: receivers first, the start state, then "__ready" and the tuning list; on the next
// tick, once the page is mounted, the degree selection when there is one.
export function startEditor(win, editor, tick = (f) => setTimeout(f, 0)) {
  installReceivers(win, editor);
  runStartState(win);
  editor.sender.send('__ready', 0);
  editor.sender.send('__listTunings', 0);
  tick(() => {
    if (editor.getState().sound.selectedDegrees.length > 0) editor.sendSelection();
  });
}
