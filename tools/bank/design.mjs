// Building a sound for the factory bank from a short description, on top of the editor document's
// default sound: plain values for knobs, LFO records, routes, lanes, morph snapshots, ratio lock and an
// embedded tuning.
import { readFileSync } from 'node:fs';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { kKnobs, kLabels, kRoutes, plainToPos } from '../../editor/ui/src/core/params.js';
import { captureSnapshotRecord } from '../../editor/ui/src/core/snapshot.js';
import { defaultLane, defaultSound } from '../../editor/ui/src/core/sound.js';

const kRoot = join(dirname(fileURLToPath(import.meta.url)), '..', '..');

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

function lfoRecord(settings) {
  const { pattern = 'bloom', mode = 'free', ...rest } = settings;
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

function lane(index, settings) {
  if (!settings) return defaultLane(index);
  const out = { ...defaultLane(index), enabled: true, ...settings };
  const steps = settings.steps ?? [];
  out.stepCount = settings.stepCount ?? steps.length;
  out.steps = [...steps, ...new Array(8 - steps.length).fill(0)];
  out.ties = Array.from({ length: out.stepCount }, (_, i) => (settings.ties ?? [])[i] === 1);
  return out;
}

// The sound of a design: { p, lfo1, lfo2, routes, lanes: [lane0, lane1], morph: { a, b, fader } with the
// plain values of each pole, lock: [selected degrees], tuning (a factory tuning's stem), glide, filterLockA,
// filterLockB }.
export function designSound(design) {
  const sound = defaultSound();
  setKnobs(sound.knobs, design.p);
  sound.lfos = [lfoRecord(design.lfo1 ?? {}), lfoRecord(design.lfo2 ?? {})];
  setRoutes(sound, design.routes);
  sound.lanes = [lane(0, design.lanes?.[0]), lane(1, design.lanes?.[1])];
  sound.glideMode = design.glide ?? 'step';
  sound.filterLockA = design.filterLockA === true;
  sound.filterLockB = design.filterLockB === true;
  if (design.tuning) sound.tuning = factoryTuning(design.tuning);
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

// A factory tuning file as a preset embeds it: the file's stem as the name, the ratio of every degree
// from the tonic (the first is 1) and the period.
export function factoryTuning(stem) {
  const text = readFileSync(join(kRoot, 'resources', 'Tunings', `${stem}.scl`), 'utf8');
  const lines = text.split(/\r\n|\n|\r/).filter((line) => !line.startsWith('!')).map((line) => line.trim());
  const [count, ...pitches] = lines.slice(1).filter((line) => line !== '');
  const ratios = pitches.slice(0, Number.parseInt(count, 10)).map(pitchRatio);
  return { name: stem, period: ratios.at(-1), intervals: [1, ...ratios.slice(0, -1)] };
}

// A Scala pitch: cents when it holds a point, else a ratio n/d or a whole number.
function pitchRatio(line) {
  const token = line.split(/[ \t]/)[0];
  if (token.includes('.')) return 2 ** (Number.parseFloat(token) / 1200);
  const [n, d = '1'] = token.split('/');
  return Number.parseInt(n, 10) / Number.parseInt(d, 10);
}
