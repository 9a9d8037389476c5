// The sound parameters as the editor document sees them: every knob key with its plain range, default
// and scale, the label lists, the modulation routes and the LFO keys. Knob positions run 0..1 for
// continuous keys; discrete keys hold an integer index 0..largest. Values on the bridge are normalised
// 0..1 (plain = min + value x (max - min)).

import { kParamTable } from './paramTable.js';

// The range and default of every parameter, generated from the engine's table.
const kRows = new Map(kParamTable.map(([key, min, max, def]) => [key, { min, max, def }]));

// [key, scale] of the continuous keys; scale 'lin', 'log' or 'logBreak'.
const kContinuous = [
  ['glide', 'lin'], ['octave', 'lin'], ['pitchBendRange', 'lin'], ['ratio', 'logBreak'], ['fmIndex', 'lin'],
  ['fold', 'lin'], ['foldBias', 'lin'], ['feedback', 'lin'], ['shape', 'lin'], ['foldChar', 'lin'],
  ['cutoffA', 'log'], ['resonanceA', 'lin'], ['cutoffB', 'log'], ['resonanceB', 'lin'], ['driveA', 'lin'],
  ['keyTrackA', 'lin'], ['driveB', 'lin'], ['keyTrackB', 'lin'], ['filterSat', 'lin'], ['attack', 'log'],
  ['decay', 'log'], ['sustain', 'lin'], ['release', 'log'], ['velTimbre', 'lin'], ['env1CurveA', 'lin'],
  ['env1CurveD', 'lin'], ['env1CurveR', 'lin'], ['env1Curve', 'lin'], ['env1Delay', 'lin'],
  ['env1Hold', 'lin'], ['env1KeyTrack', 'lin'], ['env2Attack', 'log'], ['env2Decay', 'log'],
  ['env2Sustain', 'lin'], ['env2Release', 'log'], ['env2Delay', 'lin'], ['env2Hold', 'lin'],
  ['env2CurveA', 'lin'], ['env2CurveD', 'lin'], ['env2CurveR', 'lin'], ['env2KeyTrack', 'lin'],
  ['noise', 'lin'], ['noiseMix', 'lin'], ['clickAmt', 'lin'], ['preDelay', 'lin'], ['revSpace', 'log'],
  ['revTone', 'lin'], ['revMix', 'lin'], ['eqLo', 'lin'], ['eqMid', 'lin'], ['eqHi', 'lin'],
  ['gain', 'lin'], ['drift', 'lin'], ['spread', 'lin'], ['analog', 'lin'], ['modPitchStart', 'lin'],
  ['modPitchEnd', 'lin'], ['modPitchRange', 'lin'],
];

// The discrete keys: each holds the index of its whole plain value above the parameter's minimum.
const kDiscrete = [
  'voiceMode', 'voiceCount', 'shapeMode', 'filterModeA', 'filterModeB', 'envModel', 'env1TrigMode',
  'env2TrigMode', 'env1Sync', 'env2Sync', 'env1DivDelay', 'env1DivAttack', 'env1DivHold', 'env1DivDecay',
  'env1DivRelease', 'env2DivDelay', 'env2DivAttack', 'env2DivHold', 'env2DivDecay', 'env2DivRelease',
  'modSourceRatio', 'modSourceFold', 'modSourceFoldBias', 'modSourceFeedback', 'modSourceShape',
  'modSourceFM', 'modSourceFoldChar', 'modSourceCutA', 'modSourceCutB', 'modSourcePitch',
];

export const kKnobs = new Map();
for (const [key, scale] of kContinuous) {
  const { min, max, def } = kRows.get(key);
  kKnobs.set(key, { key, min, max, def, scale });
}
for (const key of kDiscrete) {
  const { min, max, def } = kRows.get(key);
  kKnobs.set(key, { key, largest: max - min, def: def - min, discrete: true });
}
export const kKnobKeys = [...kKnobs.keys()];

// The bridge names that older builds used for three knobs.
export const kAliases = { drive: 'driveA', filterMode: 'filterModeA', keyTrack: 'keyTrackA' };

export const kLabels = {
  voiceModes: ['poly', 'mono', 'legato'],
  filterModes: ['lp', 'hp', 'bp', 'nt'],
  shapeModes: ['sine', 'skewed', 'carrier'],
  trigModes: ['gate', 'one-shot', 'loop'],
  envModels: ['adsr', 'pluck'],
  modSources: ['lfo1', 'lfo2', 'env1', 'env2'],
  lfoPatterns: ['bloom', 'spiral', 'pulse', 'scatter', 'breathe', 'nobrel', 'orbit', 'tide', 'fern', 'corona'],
  lfoModes: ['free', 'sync'],
  seqDivisions: ['1/32', '1/32D', '1/32T', '1/16', '1/16D', '1/16T', '1/8', '1/8D', '1/8T', '1/4', '1/4D',
    '1/4T', '1/2', '1/2D', '1/2T', '1 bar', '2 bar', '4 bar', '8 bar'],
  lfoDivisions: ['8 bar', '4 bar', '2 bar', '1 bar', '1/2', '1/4', '1/8', '1/16', '1/32', '1/4T', '1/8T', '1/16T'],
  runModes: ['Free', 'Trig', 'Note', 'Sync'],
  laneTargets: ['FM', 'Fold', 'Cut A', 'Cut B', 'Morph'],
};

// The nine routes whose start and depth the document keeps as objects: route name, start and end keys,
// source key, and the route's name in a preset's `modulation.sources`.
export const kRoutes = [
  { route: 'ratio', start: 'modRatioStart', end: 'modRatioEnd', source: 'modSourceRatio', presetName: 'ratio' },
  { route: 'fold', start: 'modFoldStart', end: 'modFoldEnd', source: 'modSourceFold', presetName: 'fold' },
  { route: 'foldBias', start: 'modFoldBiasStart', end: 'modFoldBiasEnd', source: 'modSourceFoldBias', presetName: 'foldBias' },
  { route: 'feedback', start: 'modFeedbackStart', end: 'modFeedbackEnd', source: 'modSourceFeedback', presetName: 'feedback' },
  { route: 'shape', start: 'modShapeStart', end: 'modShapeEnd', source: 'modSourceShape', presetName: 'shape' },
  { route: 'fmIndex', start: 'modFmStart', end: 'modFmEnd', source: 'modSourceFM', presetName: 'fm' },
  { route: 'foldChar', start: 'modFoldCharStart', end: 'modFoldCharEnd', source: 'modSourceFoldChar', presetName: 'foldChar' },
  { route: 'cutoffA', start: 'modCutoffAStart', end: 'modCutoffAEnd', source: 'modSourceCutA', presetName: 'cutoffA' },
  { route: 'cutoffB', start: 'modCutoffBStart', end: 'modCutoffBEnd', source: 'modSourceCutB', presetName: 'cutoffB' },
];
export const kRouteNames = kRoutes.map((r) => r.route);

// Bridge keys of one LFO record's members: [member, key suffix].
export const kLfoMembers = [['rate', 'Rate'], ['pattern', 'Pattern'], ['slew', 'Slew'], ['phase', 'PhaseOff'],
  ['delay', 'Delay'], ['mode', 'Mode']];

const kLn3 = Math.log(3);
const kBreakPos = 0.6;

export const clamp = (x, lo, hi) => Math.min(hi, Math.max(lo, x));
export const isNum = (x) => typeof x === 'number' && Number.isFinite(x);

// Plain value of a continuous knob at position p.
export function posToPlain(key, p) {
  const k = kKnobs.get(key);
  if (k.scale === 'lin') return k.min + p * (k.max - k.min);
  const lnMin = Math.log(k.min);
  const lnMax = Math.log(k.max);
  if (k.scale === 'log') return Math.exp(lnMin + p * (lnMax - lnMin));
  if (p <= kBreakPos) return Math.exp(lnMin + (p / kBreakPos) * (kLn3 - lnMin));
  return Math.exp(kLn3 + ((p - kBreakPos) / (1 - kBreakPos)) * (lnMax - kLn3));
}

// Knob position of a continuous knob showing plain value v (clamped into the knob's range).
export function plainToPos(key, v) {
  const k = kKnobs.get(key);
  const x = clamp(v, k.min, k.max);
  if (k.scale === 'lin') return (x - k.min) / (k.max - k.min);
  const lnMin = Math.log(k.min);
  const lnMax = Math.log(k.max);
  if (k.scale === 'log') return (Math.log(x) - lnMin) / (lnMax - lnMin);
  if (x <= 3) return kBreakPos * (Math.log(x) - lnMin) / (kLn3 - lnMin);
  return kBreakPos + (1 - kBreakPos) * (Math.log(x) - kLn3) / (lnMax - kLn3);
}

// Engine normalised value (0..1) of a knob key holding a knob position or index.
export function toNormalised(key, value) {
  const k = kKnobs.get(key);
  if (k.discrete) return clamp(Math.round(value), 0, k.largest) / k.largest;
  if (k.scale === 'lin') return value;
  return (posToPlain(key, value) - k.min) / (k.max - k.min);
}

// Knob position or index from an engine normalised value.
export function fromNormalised(key, n) {
  const k = kKnobs.get(key);
  const v = clamp(n, 0, 1);
  if (k.discrete) return Math.round(v * k.largest);
  if (k.scale === 'lin') return v;
  return plainToPos(key, k.min + v * (k.max - k.min));
}

// Default knob position (continuous) or index (discrete) of a key.
export function defaultKnob(key) {
  const k = kKnobs.get(key);
  return k.discrete ? k.def : plainToPos(key, k.def);
}

export function defaultKnobs() {
  const knobs = {};
  for (const key of kKnobKeys) knobs[key] = defaultKnob(key);
  return knobs;
}

// A knob value read from outside: an index clamped and rounded, a position clamped to 0..1.
export function sanitiseKnob(key, value) {
  const k = kKnobs.get(key);
  if (!isNum(value)) return defaultKnob(key);
  return k.discrete ? clamp(Math.round(value), 0, k.largest) : clamp(value, 0, 1);
}

// Index of a label in a list, or fallback when absent.
export function labelIndex(list, label, fallback = 0) {
  const i = list.indexOf(label);
  return i >= 0 ? i : fallback;
}
