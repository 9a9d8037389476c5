// Building a sound for the factory bank from a short description, on top of the editor document's
// default sound: plain values for knobs, LFO records, routes, lanes, morph snapshots, ratio lock and an
// embedded tuning.
import { kKnobs, kLabels, kRoutes, plainToPos } from '../../editor/ui/src/core/params.js';
import { captureSnapshotRecord } from '../../editor/ui/src/core/snapshot.js';
import { defaultLane, defaultSound } from '../../editor/ui/src/core/sound.js';

// Discrete keys that may be given by label.
const kLabelLists = {
  voiceMode: kLabels.voiceModes, shapeMode: kLabels.shapeModes, filterModeA: kLabels.filterModes,
  filterModeB: kLabels.filterModes, env1TrigMode: kLabels.trigModes, env2TrigMode: kLabels.trigModes,
};

// Index of a label in its list; a label that is not there is a fault of the description.
function labelIndex(list, label, what) {
  const index = list?.indexOf(label) ?? -1;
  if (index < 0) throw new Error(`unknown ${what} ${label}`);
  return index;
}

function knobValue(key, value) {
  const knob = kKnobs.get(key);
  if (!knob) throw new Error(`unknown knob ${key}`);
  if (!knob.discrete) return plainToPos(key, value);
  if (typeof value !== 'string') return value;
  return labelIndex(kLabelLists[key] ?? (key.startsWith('modSource') ? kLabels.modSources : null), value, key);
}

function setKnobs(knobs, plain) {
  for (const [key, value] of Object.entries(plain ?? {})) knobs[key] = knobValue(key, value);
}

function lfoRecord(spec) {
  const { pattern = 'bloom', mode = 'free', ...rest } = spec;
  return { rate: 0.5, phase: 0, delay: 0, slew: false, enabled: true, ...rest,
    pattern: labelIndex(kLabels.lfoPatterns, pattern, 'LFO pattern'), mode: labelIndex(kLabels.lfoModes, mode, 'LFO mode') };
}

// routes: { name: [start, end, source label] } with the route names of the document.
function setRoutes(sound, routes) {
  for (const [name, [start, end, source]] of Object.entries(routes ?? {})) {
    const route = kRoutes.find((r) => r.route === name);
    if (!route) throw new Error(`unknown route ${name}`);
    sound.modStarts[name] = start;
    sound.modDepths[name] = end;
    sound.knobs[route.source] = labelIndex(kLabels.modSources, source, 'source');
  }
}

function lane(index, spec) {
  if (!spec) return defaultLane(index);
  const out = { ...defaultLane(index), enabled: true, ...spec };
  const steps = spec.steps ?? [];
  out.stepCount = spec.stepCount ?? steps.length;
  out.steps = [...steps, ...new Array(8 - steps.length).fill(0)];
  out.ties = Array.from({ length: out.stepCount }, (_, i) => (spec.ties ?? [])[i] === 1);
  return out;
}

// The sound of a design: { p, lfo1, lfo2, routes, lanes: [lane0, lane1], morph: { a, b, fader } with the
// plain values of each pole, lock: [selected degrees], tuning, glide, filterLockA, filterLockB }.
export function designSound(design) {
  const sound = defaultSound();
  setKnobs(sound.knobs, design.p);
  sound.lfos = [lfoRecord(design.lfo1 ?? {}), lfoRecord(design.lfo2 ?? {})];
  setRoutes(sound, design.routes);
  sound.lanes = [lane(0, design.lanes?.[0]), lane(1, design.lanes?.[1])];
  sound.glideMode = design.glide ?? 'step';
  sound.filterLockA = design.filterLockA === true;
  sound.filterLockB = design.filterLockB === true;
  if (design.tuning) sound.tuning = design.tuning;
  if (design.lock) {
    sound.ratioLocked = true;
    sound.selectedDegrees = design.lock.map((d) => [d, 0]);
  }
  if (design.morph) {
    // Each pole is the sound with its own changes; the sound itself is pole A, where the fader starts.
    for (const [which, changes] of [['snapshotA', design.morph.a], ['snapshotB', design.morph.b]]) {
      sound[which] = captureSnapshotRecord(sound);
      setKnobs(sound[which], changes);
    }
    sound.fader = design.morph.fader ?? 0;
    setKnobs(sound.knobs, design.morph.a);
  }
  return sound;
}

// Tunings as their definitions give them: ratios of the degrees from the tonic (the first is 1) and the
// period. The names are those of the factory tuning files.
const edo = (n, period = 2) => Array.from({ length: n }, (_, i) => period ** (i / n));
export const kTunings = {
  edo19: { name: '19-EDO', period: 2, intervals: edo(19) },
  ji7: { name: 'Just 7-limit', period: 2,
    intervals: [1, 15 / 14, 8 / 7, 6 / 5, 5 / 4, 4 / 3, 7 / 5, 3 / 2, 8 / 5, 5 / 3, 7 / 4, 15 / 8] },
  bp: { name: 'Bohlen-Pierce', period: 3, intervals: edo(13, 3) },
  harmonics: { name: 'Harmonics 8-16', period: 2, intervals: [8, 9, 10, 11, 12, 13, 14, 15].map((h) => h / 8) },
  slendro: { name: 'Slendro', period: 2, intervals: edo(5) },
  pelog: { name: 'Pelog', period: 2, intervals: [0, 1, 2, 4, 5, 6, 7].map((step) => 2 ** (step / 9)) },
};
