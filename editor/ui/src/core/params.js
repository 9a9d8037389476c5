// The sound parameters as the editor document sees them: every knob key with its plain range, default
// and scale, the label lists, the modulation routes and the LFO keys. Knob positions run 0..1 for
// continuous keys; discrete keys hold an integer index 0..largest. Values on the bridge are normalised
// 0..1 (plain = min + value x (max - min)).

// [key, min, max, default, scale] for continuous keys; scale 'lin', 'log' or 'logBreak'.
const kContinuous = [
  ['glide', 0, 500, 0, 'lin'], ['octave', -3, 3, 0, 'lin'], ['pitchBendRange', 0, 24, 2, 'lin'],
  ['ratio', 0.5, 16, 1, 'logBreak'], ['fmIndex', 0, 0.2, 0.04, 'lin'], ['fold', 1, 8, 1.8, 'lin'],
  ['foldBias', -1, 1, 0, 'lin'], ['feedback', 0, 1, 0, 'lin'], ['shape', 0, 1, 0, 'lin'],
  ['foldChar', 0, 1, 0, 'lin'],
  ['cutoffA', 20, 20000, 4500, 'log'], ['resonanceA', 0, 0.95, 0.1, 'lin'],
  ['cutoffB', 20, 20000, 20000, 'log'], ['resonanceB', 0, 0.95, 0, 'lin'],
  ['driveA', 0, 1, 0, 'lin'], ['keyTrackA', 0, 1, 0, 'lin'], ['driveB', 0, 1, 0, 'lin'],
  ['keyTrackB', 0, 1, 0, 'lin'], ['filterSat', 0, 1, 0, 'lin'],
  ['attack', 0.001, 2, 0.008, 'log'], ['decay', 0.001, 2, 0.35, 'log'], ['sustain', 0, 1, 0.55, 'lin'],
  ['release', 0.001, 5, 0.4, 'log'], ['velTimbre', 0, 1, 0, 'lin'],
  ['env1CurveA', -1, 1, 0, 'lin'], ['env1CurveD', -1, 1, 0, 'lin'], ['env1CurveR', -1, 1, 0, 'lin'],
  ['env1Curve', -1, 1, 0, 'lin'], ['env1Delay', 0, 2, 0, 'lin'], ['env1Hold', 0, 2, 0, 'lin'],
  ['env1KeyTrack', -1, 1, 0, 'lin'],
  ['env2Attack', 0.001, 2, 0.008, 'log'], ['env2Decay', 0.001, 2, 0.35, 'log'],
  ['env2Sustain', 0, 1, 0.55, 'lin'], ['env2Release', 0.001, 5, 0.4, 'log'],
  ['env2Delay', 0, 2, 0, 'lin'], ['env2Hold', 0, 2, 0, 'lin'], ['env2CurveA', -1, 1, 0, 'lin'],
  ['env2CurveD', -1, 1, 0, 'lin'], ['env2CurveR', -1, 1, 0, 'lin'], ['env2KeyTrack', -1, 1, 0, 'lin'],
  ['noise', 0, 1, 0.03, 'lin'], ['noiseMix', 0, 1, 0, 'lin'], ['clickAmt', 0, 1, 0, 'lin'],
  ['preDelay', 0, 100, 20, 'lin'], ['revSpace', 0.1, 30, 2, 'log'], ['revTone', 0, 1, 0.45, 'lin'],
  ['revMix', 0, 1, 0.15, 'lin'], ['eqLo', -1, 1, 0, 'lin'], ['eqMid', -1, 1, 0, 'lin'],
  ['eqHi', -1, 1, 0, 'lin'], ['gain', 0, 2, 0.1, 'lin'], ['drift', 0, 1, 0, 'lin'],
  ['spread', 0, 1, 0, 'lin'], ['analog', 0, 1, 0, 'lin'],
  ['modPitchStart', 0, 1, 0.5, 'lin'], ['modPitchEnd', 0, 1, 0.5, 'lin'],
  ['modPitchRange', 0, 48, 24, 'lin'],
];

// [key, largest index, default index] for discrete keys.
const kDiscrete = [
  ['voiceMode', 2, 0], ['voiceCount', 7, 7], ['shapeMode', 2, 0], ['filterModeA', 3, 0],
  ['filterModeB', 3, 0], ['envModel', 1, 0], ['env1TrigMode', 2, 0], ['env2TrigMode', 2, 0],
  ['env1Sync', 1, 0], ['env2Sync', 1, 0],
  ['env1DivDelay', 18, 9], ['env1DivAttack', 18, 9], ['env1DivHold', 18, 9], ['env1DivDecay', 18, 9],
  ['env1DivRelease', 18, 9], ['env2DivDelay', 18, 9], ['env2DivAttack', 18, 9], ['env2DivHold', 18, 9],
  ['env2DivDecay', 18, 9], ['env2DivRelease', 18, 9],
  ['modSourceRatio', 3, 0], ['modSourceFold', 3, 1], ['modSourceFoldBias', 3, 1],
  ['modSourceFeedback', 3, 0], ['modSourceShape', 3, 0], ['modSourceFM', 3, 0],
  ['modSourceFoldChar', 3, 1], ['modSourceCutA', 3, 0], ['modSourceCutB', 3, 1], ['modSourcePitch', 3, 3],
];

export const kKnobs = new Map();
for (const [key, min, max, def, scale] of kContinuous) kKnobs.set(key, { key, min, max, def, scale });
for (const [key, largest, def] of kDiscrete) kKnobs.set(key, { key, largest, def, discrete: true });
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
