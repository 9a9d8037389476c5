// The editor document's model: the sound and view state, the edits a person makes (each sent to the
// engine), and a small subscription store for the page. Runs without a browser: the poster, the timers
// and the local storage are handed in.
import { kKnobs, kRoutes, isNum, clamp } from './params.js';
import { captureSnapshotRecord, lfoWireValues, morphKnobs, routeWireValues, snapshotWireJson } from './snapshot.js';
import { defaultSound } from './sound.js';
import { createSender } from './sender.js';
import { createLiveStore } from './live.js';
import { buildUiState, mapTheme } from './uiState.js';

export const kStorage = {
  theme: 'mlib_theme', scaleSnap: 'mlib_scaleSnap', ratioDegrees: 'mlib_ratioDegrees', ratioSel: 'mlib_ratioSel',
  browserCollapsed: 'tavrin.presetBrowser.collapsed',
};
const kTriggerKeys = [72, 73];
const kUiStateDelayMs = 100;

function readStored(storage, key) {
  try { return storage?.getItem(key) ?? null; } catch { return null; }
}

export function createEditor({ post = null, frame = (fn) => setTimeout(fn, 16), timeout = setTimeout,
  cancelTimeout = clearTimeout, storage = null } = {}) {
  const sender = createSender(post);
  const listeners = new Set();
  const live = createLiveStore();
  let state = initialState();
  let uiStateTimer = null;

  function initialState() {
    const sound = defaultSound();
    let degrees = [];
    try { degrees = JSON.parse(readStored(storage, kStorage.ratioSel) ?? '[]'); } catch { degrees = []; }
    if (Array.isArray(degrees)) {
      sound.selectedDegrees = degrees.filter((p) => Array.isArray(p) && isNum(p[0]) && isNum(p[1])).slice(0, 8);
    }
    sound.ratioLocked = readStored(storage, kStorage.scaleSnap) === '1';
    return {
      sound, theme: mapTheme(readStored(storage, kStorage.theme)) ?? 'nightshade', presetName: 'Untitled',
      presetPath: null, presetCategory: 'User', tuningFile: null, tuningShown: null, tuningList: [], presetList: [],
      kit: { afxMode: false, baseKey: 36, slots: [] }, kitArmed: 0, controllers: {}, learning: null,
      mtsNeedsUpdate: false, morphView: false, fileNotice: null,
      browserCollapsed: readStored(storage, kStorage.browserCollapsed) !== '0', restored: false,
      scaleDegrees: Number(readStored(storage, kStorage.ratioDegrees)) || 12,
    };
  }

  function set(patch) {
    state = { ...state, ...patch };
    for (const fn of listeners) fn();
  }
  const setSound = (patch) => set({ sound: { ...state.sound, ...patch } });
  function store(key, value) {
    try { storage?.setItem(key, value); } catch { /* storage may be unavailable */ }
  }

  // View state changed: the native side gets it 100 ms after the last change, once restored.
  function viewChanged() {
    if (!state.restored) return;
    if (uiStateTimer !== null) cancelTimeout(uiStateTimer);
    uiStateTimer = timeout(() => {
      uiStateTimer = null;
      sender.send('__uiState', JSON.stringify(editor.uiStateObject()));
    }, kUiStateDelayMs);
  }

  function sendRoutes(filter = () => true) {
    const { knobs, lfos, modStarts, modDepths } = state.sound;
    for (const route of kRoutes.filter(filter)) {
      for (const [key, value] of routeWireValues(route, knobs[route.source], lfos, modStarts, modDepths)) {
        sender.sendParam(key, value);
      }
    }
  }

  function sendLfo(index) {
    for (const [key, value] of lfoWireValues(index, state.sound.lfos[index])) sender.sendParam(key, value);
  }

  function sendLaneMember(index, member) {
    const lane = state.sound.lanes[index];
    const s = sender.send;
    if (member === 'steps' && lane.stepCount > 0) s(`__seqSteps_${index}`, JSON.stringify(lane.steps.slice(0, lane.stepCount)));
    else if (member === 'ties') s(`__seqTies_${index}`, JSON.stringify(lane.ties.slice(0, lane.stepCount).map((t) => (t ? 1 : 0))));
    else if (member === 'enabled') s(`__seqEnabled_${index}`, lane.enabled ? 1 : 0);
    else if (member === 'runMode') {
      s(`__seqRunMode_${index}`, lane.runMode ?? 1);
      s(`__seqTriggerKey_${index}`, lane.runMode === 2 ? kTriggerKeys[index] : -1);
    } else if (member === 'freeRate') s(`__seqFreeRate_${index}`, lane.freeRate ?? 1);
    else if (member === 'syncDiv') s(`__seqSyncDiv_${index}`, lane.syncDiv ?? 9);
    else if (member === 'delay') {
      s(`__seqDelay_${index}`, lane.delayDiv ?? 0);
      s(`__seqDelayMul_${index}`, lane.delayMul ?? 1);
    } else if (member === 'target' && index === 1) s('__seqTarget_1', lane.target ?? 0);
    else if (member === 'mode' && index === 0) s('__seqRatioMode', lane.mode === 'absolute' ? 1 : 0);
    else if (member === 'rankEncoded' && index === 0) s('__seqRankEncoded', lane.rankEncoded ? 1 : 0);
  }

  function sendSnapshot(which, captureSeq) {
    const record = state.sound[`snapshot${which}`];
    if (record) sender.send(`__snapshot${which}`, snapshotWireJson(record, state.sound, captureSeq));
    else sender.send(`__snapshotClear_${which}`, 1);
  }

  function sendSelection() {
    sender.send('__ratioSelection', JSON.stringify(state.sound.selectedDegrees));
  }

  const editor = {
    sender, live,
    getState: () => state,
    subscribe(fn) { listeners.add(fn); return () => listeners.delete(fn); },
    set, setSound, viewChanged, sendRoutes, sendLfo, sendLaneMember, sendSnapshot, sendSelection,
    frame, store,
    uiStateObject: () => buildUiState(state, editor.snapSeq),

    // Knob values as shown: between the snapshots while the fader is being moved.
    shownKnobs() {
      const { sound, morphView } = state;
      if (morphView && sound.snapshotA && sound.snapshotB) return morphKnobs(sound.snapshotA, sound.snapshotB, sound.fader);
      return sound.knobs;
    },

    editKnob(key, value) {
      const k = kKnobs.get(key);
      const v = k.discrete ? clamp(Math.round(value), 0, k.largest) : clamp(value, 0, 1);
      set({ sound: { ...state.sound, knobs: { ...state.sound.knobs, [key]: v } }, morphView: false });
      sender.sendKnob(key, v);
      const route = kRoutes.find((r) => r.source === key);
      if (route) sendRoutes((r) => r === route);
    },

    editLfo(index, patch) {
      const lfos = state.sound.lfos.map((lfo, i) => (i === index ? { ...lfo, ...patch } : lfo));
      setSound({ lfos });
      sendLfo(index);
      if ('enabled' in patch) sendRoutes((r) => state.sound.knobs[r.source] === index);
      viewChanged();
    },

    editRoute(routeName, which, value) {
      const field = which === 'start' ? 'modStarts' : 'modDepths';
      setSound({ [field]: { ...state.sound[field], [routeName]: clamp(value, 0, 1) } });
      sendRoutes((r) => r.route === routeName);
    },

    editLane(index, patch) {
      const lane = { ...state.sound.lanes[index], ...patch };
      if ('stepCount' in patch) {
        lane.ties = Array.from({ length: lane.stepCount }, (_, i) => state.sound.lanes[index].ties[i] === true);
      }
      setSound({ lanes: state.sound.lanes.map((l, i) => (i === index ? lane : l)) });
      const members = new Set(Object.keys(patch).map((m) => (m === 'delayDiv' || m === 'delayMul' ? 'delay' : m)));
      if (members.has('stepCount')) { members.add('steps'); members.add('ties'); }
      for (const member of members) sendLaneMember(index, member);
      viewChanged();
    },

    captureSnapshot(which) {
      setSound({ [`snapshot${which}`]: captureSnapshotRecord(state.sound) });
      editor.snapSeq[which] = 0;
      sendSnapshot(which);
      viewChanged();
    },

    clearSnapshot(which) {
      setSound({ [`snapshot${which}`]: null });
      editor.snapSeq[which] = 0;
      set({ morphView: false });
      sendSnapshot(which);
      viewChanged();
    },

    moveFader(t) {
      const fader = clamp(t, 0, 1);
      set({ sound: { ...state.sound, fader }, morphView: true });
      sender.sendParam('crossfader', fader);
      viewChanged();
    },

    setRatioLocked(locked) {
      setSound({ ratioLocked: locked });
      store(kStorage.scaleSnap, locked ? '1' : '0');
      sender.send('__ratioLock', locked ? 1 : 0);
      viewChanged();
    },

    toggleDegree(degree, octave) {
      const current = state.sound.selectedDegrees;
      const has = current.some(([d, o]) => d === degree && o === octave);
      if (!has && current.length >= 8) return;
      const selectedDegrees = has ? current.filter(([d, o]) => d !== degree || o !== octave) : [...current, [degree, octave]];
      setSound({ selectedDegrees });
      store(kStorage.ratioSel, JSON.stringify(selectedDegrees));
      sendSelection();
      viewChanged();
    },

    setGlideMode(mode) {
      setSound({ glideMode: mode });
      sender.send('__glideMode', mode === 'smooth' ? 1 : 0);
      viewChanged();
    },

    setEnvFeel(feel) {
      setSound({ envFeel: feel });
      sender.send('__envFeel', feel);
      viewChanged();
    },

    setFilterLock(which, locked) {
      setSound({ [`filterLock${which}`]: locked });
      sender.send(`__filterLock${which}`, locked ? 1 : 0);
      viewChanged();
    },

    chooseTuning(name) {
      editor.tuningBeforeChoice = state.tuningFile;
      set({ tuningFile: name || null });
      if (name) sender.send('__loadTuning', JSON.stringify({ name }));
      else sender.send('__clearTuning', 0);
      viewChanged();
    },

    setTheme(theme) {
      set({ theme });
      store(kStorage.theme, theme);
      viewChanged();
    },

    setPresetName(name) {
      set({ presetName: name });
      viewChanged();
    },

    setBrowserCollapsed(collapsed) {
      set({ browserCollapsed: collapsed });
      store(kStorage.browserCollapsed, collapsed ? '1' : '0');
    },

    // Capture sequences of the snapshots, as the engine last reported them or 0 after a local change.
    snapSeq: { A: 0, B: 0 },
    engineSnapSeq: { A: 0, B: 0 },
    lastEngineFader: null,
    // The envelope feel the engine plays, as the native side reported it; until then a new sound's.
    engineEnvFeel: defaultSound().envFeel,
    // The tuning file the menu showed before the last choice, shown again when that choice fails to load.
    tuningBeforeChoice: null,
  };
  return editor;
}
