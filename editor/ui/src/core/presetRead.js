// Reading a preset file back into a sound: every member optional, defaults for absent ones, upgrades of
// files written by older versions. Anything that is not a preset gives null.
import { clamp, isNum, kKnobs, kLabels, kRoutes, kRouteNames, labelIndex, plainToPos } from './params.js';
import { readSnapshotRecord } from './snapshot.js';
import { defaultLfo, defaultSound, readLane, readRoutes, zeroRoutes } from './sound.js';
import { kPresetMarker } from './presetWrite.js';

const obj = (x) => (x && typeof x === 'object' && !Array.isArray(x) ? x : {});
const num = (x, fallback) => (isNum(x) ? x : fallback);

// Parses text (or takes an already parsed value) and checks the marker and the name.
export function parsePresetValue(input) {
  let value = input;
  if (typeof input === 'string') {
    try { value = JSON.parse(input); } catch { return null; }
  }
  if (!value || typeof value !== 'object' || Array.isArray(value)) return null;
  if (value.nobrel !== kPresetMarker || typeof value.name !== 'string') return null;
  return value;
}

const kOldShapeNames = { phasedist: 'skewed', formant: 'skewed' };

function readEnvelope(knobs, env, prefix, first) {
  const setPlain = (key, value) => { knobs[key] = plainToPos(key, value); };
  const [a, d, s, r] = first ? ['attack', 'decay', 'sustain', 'release']
    : ['env2Attack', 'env2Decay', 'env2Sustain', 'env2Release'];
  const decay = num(env.decay, 0.35);
  let sustain = num(env.sustain, 0.55);
  let release = num(env.release, 0.4);
  if (first) {
    const pluck = env.model === 'pluck';
    if (pluck) { sustain = 0; release = decay; }
    knobs.envModel = pluck ? 0 : labelIndex(kLabels.envModels, env.model, 0);
    setPlain('velTimbre', num(env.velTimbre, 0));
    setPlain('env1Curve', num(env.curve, 0));
  }
  setPlain(a, num(env.attack, 0.008));
  setPlain(d, decay);
  setPlain(s, sustain);
  setPlain(r, release);
  for (const [member, suffix] of [['curveA', 'CurveA'], ['curveD', 'CurveD'], ['curveR', 'CurveR'],
    ['delay', 'Delay'], ['hold', 'Hold'], ['keyTrack', 'KeyTrack']]) {
    setPlain(prefix + suffix, num(env[member], 0));
  }
  knobs[`${prefix}TrigMode`] = labelIndex(kLabels.trigModes, env.trig, 0);
  knobs[`${prefix}Sync`] = env.sync === true ? 1 : 0;
  for (const name of ['Delay', 'Attack', 'Hold', 'Decay', 'Release']) {
    knobs[`${prefix}Div${name}`] = clamp(Math.round(num(env[`div${name}`], 9)), 0, 18);
  }
}

function readLfo(stored) {
  const o = obj(stored);
  const lfo = defaultLfo(num(o.rate, 0.3));
  lfo.rate = clamp(lfo.rate, 0, 1);
  lfo.phase = clamp(num(o.phase, 0), 0, 1);
  lfo.delay = clamp(num(o.delay, 0), 0, 1);
  lfo.pattern = labelIndex(kLabels.lfoPatterns, o.pattern, 0);
  lfo.mode = clamp(isNum(o.mode) ? Math.round(o.mode) : labelIndex(kLabels.lfoModes, o.mode, 0), 0, 1);
  lfo.slew = o.slew === true;
  lfo.enabled = o.enabled !== false;
  return lfo;
}

function readSource(label, fallback) {
  if (label === 'env') return 2;
  const i = kLabels.modSources.indexOf(label);
  return i >= 0 ? i : fallback;
}

// Upgrades of a stored snapshot from older versions, applied to its raw numbers.
function upgradeSnapshot(raw, version) {
  if (!raw || typeof raw !== 'object' || Array.isArray(raw)) return raw;
  const out = { ...raw };
  if (version < 5 && isNum(out.shapeMode)) {
    const m = Math.round(out.shapeMode);
    out.shapeMode = m === 2 || m === 4 ? 1 : m === 3 ? 2 : clamp(m, 0, 1);
  }
  if (version < 6) {
    for (const key of ['env1TrigMode', 'env2TrigMode']) if (isNum(out[key])) out[key] = Math.round(out[key] * 2);
  }
  return out;
}

const kDiffReset = ['env1Delay', 'env1Hold', 'env2Delay', 'env2Hold', 'env1DivDelay', 'env1DivHold', 'env2DivDelay',
  'env2DivHold'];
const kSameReset = ['attack', 'decay', 'sustain', 'release', 'env1CurveA', 'env1CurveD', 'env1CurveR', 'env2Attack',
  'env2Decay', 'env2Sustain', 'env2Release', 'env2CurveA', 'env2CurveD', 'env2CurveR'];

// Repairs an unlinked snapshot pair against the preset's own values.
function repairPair(a, b, rawA, rawB, knobs) {
  for (const key of kDiffReset) {
    if (a[key] !== b[key]) { a[key] = knobs[key]; b[key] = knobs[key]; }
  }
  for (const key of ['env1TrigMode', 'env2TrigMode']) {
    const hasA = isNum(rawA[key]);
    const hasB = isNum(rawB[key]);
    const differ = hasA && hasB ? a[key] !== b[key] : hasA !== hasB && (hasA ? a[key] : b[key]) !== knobs[key];
    if (differ) { a[key] = knobs[key]; b[key] = knobs[key]; }
  }
  for (const key of kSameReset) {
    if (a[key] === b[key] && a[key] !== knobs[key]) { a[key] = knobs[key]; b[key] = knobs[key]; }
  }
}

function readMorph(sound, preset, version) {
  const morph = obj(preset.morph);
  const rawA = upgradeSnapshot(morph.snapshotA, version);
  const rawB = upgradeSnapshot(morph.snapshotB, version);
  sound.snapshotA = readSnapshotRecord(rawA);
  sound.snapshotB = readSnapshotRecord(rawB);
  if (sound.snapshotA && sound.snapshotB && morph.linked !== true) {
    repairPair(sound.snapshotA, sound.snapshotB, rawA, rawB, sound.knobs);
  }
  if (isNum(morph.position)) sound.fader = clamp(morph.position, 0, 1);
}

function readTuning(stored) {
  if (!stored || typeof stored !== 'object' || !Array.isArray(stored.intervals)) return null;
  const tuning = { name: typeof stored.name === 'string' ? stored.name : '', period: num(stored.period, 2),
    intervals: [...stored.intervals] };
  if (Array.isArray(stored.labels)) tuning.labels = [...stored.labels];
  return tuning;
}

function readDegrees(list) {
  if (!Array.isArray(list)) return [];
  return list.filter((p) => Array.isArray(p) && isNum(p[0]))
    .map((p) => [Math.trunc(p[0]), isNum(p[1]) ? Math.trunc(p[1]) : 0]).slice(0, 8);
}

// The sound of a preset (text or parsed value), or null when it is not a preset.
export function readPreset(input) {
  const preset = parsePresetValue(input);
  if (!preset) return null;
  const version = num(preset.version, 0);
  const sound = defaultSound();
  const k = sound.knobs;
  const setPlain = (key, value) => { k[key] = plainToPos(key, value); };

  const voice = obj(preset.voice);
  k.voiceMode = labelIndex(kLabels.voiceModes, voice.mode, 0);
  k.voiceCount = clamp(Math.round(num(voice.count, 8)) - 1, 0, 7);
  setPlain('glide', num(voice.glide, 0));
  setPlain('octave', num(voice.octave, 0));
  setPlain('pitchBendRange', num(voice.pitchBendRange, kKnobs.get('pitchBendRange').def));

  const osc = obj(preset.oscillator);
  setPlain('ratio', num(osc.ratio, 1));
  setPlain('fmIndex', num(osc.fm, 0.04));
  setPlain('fold', num(osc.fold, 1.8));
  setPlain('foldBias', num(osc.foldBias, 0));
  setPlain('feedback', num(osc.feedback, 0));
  k.shapeMode = labelIndex(kLabels.shapeModes, kOldShapeNames[osc.shapeMode] ?? osc.shapeMode, 0);
  setPlain('shape', num(osc.shape, 0));
  setPlain('foldChar', num(osc.foldChar, 0));
  setPlain('noiseMix', num(osc.noiseMix, 0));
  setPlain('clickAmt', num(osc.click, 0));

  for (const [member, suffix, mode, cutoff, resonance] of [['filterA', 'A', 'lp', 4500, 0.1], ['filterB', 'B', 'lp', 20000, 0]]) {
    const f = obj(preset[member]);
    k[`filterMode${suffix}`] = labelIndex(kLabels.filterModes, f.mode ?? mode, 0);
    setPlain(`cutoff${suffix}`, num(f.cutoff, cutoff));
    setPlain(`resonance${suffix}`, num(f.resonance, resonance));
  }
  const filter = obj(preset.filter);
  setPlain('driveA', num(filter.driveA, num(filter.drive, 0)));
  setPlain('driveB', num(filter.driveB, 0));
  setPlain('keyTrackA', num(filter.keyTrackA, filter.keyTrack === true ? 1 : 0));
  setPlain('keyTrackB', num(filter.keyTrackB, 0));
  setPlain('filterSat', num(filter.saturation, 0));
  sound.filterLockA = filter.lockA === true || filter.lockA === 1;
  sound.filterLockB = filter.lockB === true || filter.lockB === 1;

  readEnvelope(k, obj(preset.envelope), 'env1', true);
  readEnvelope(k, obj(preset.envelope2), 'env2', false);

  setPlain('noise', num(preset.noise, 0.03));
  const reverb = obj(preset.reverb);
  setPlain('preDelay', num(reverb.pre, 20));
  setPlain('revSpace', num(reverb.space, 2));
  setPlain('revTone', num(reverb.tone, 0.45));
  setPlain('revMix', num(reverb.mix, 0.15));
  const eq = obj(preset.eq);
  setPlain('eqLo', num(eq.lo, 0));
  setPlain('eqMid', num(eq.mid, 0));
  setPlain('eqHi', num(eq.hi, 0));
  const output = obj(preset.output);
  setPlain('gain', num(output.gain, 0.1));
  setPlain('drift', num(output.drift, 0));
  setPlain('spread', num(output.spread, 0));
  setPlain('analog', num(output.analog, 0));
  sound.fader = clamp(num(output.crossfader, 0), 0, 1);

  sound.lfos = [readLfo(preset.lfo1), readLfo(preset.lfo2)];

  const mod = obj(preset.modulation);
  const sources = obj(mod.sources);
  for (const route of kRoutes) k[route.source] = readSource(sources[route.presetName], k[route.source]);
  const pitch = obj(mod.pitch);
  setPlain('modPitchStart', num(pitch.start, 0.5));
  setPlain('modPitchEnd', num(pitch.end, 0.5));
  setPlain('modPitchRange', num(pitch.range, 24));
  k.modSourcePitch = readSource(pitch.source, 3);
  const eight = kRouteNames.filter((name) => name !== 'foldChar');
  sound.modStarts = mod.starts && typeof mod.starts === 'object' ? readRoutes(mod.starts) : zeroRoutes(eight);
  sound.modDepths = mod.depths && typeof mod.depths === 'object' ? readRoutes(mod.depths) : zeroRoutes(eight);

  const lanes = obj(preset.seqLanes);
  sound.lanes = [readLane(0, lanes.ratio), readLane(1, lanes.lane1)];

  readMorph(sound, preset, version);

  const lock = obj(preset.ratioLock);
  sound.ratioLocked = lock.locked === true;
  sound.selectedDegrees = readDegrees(lock.selectedDegrees);
  sound.glideMode = preset.glideMode === 'smooth' ? 'smooth' : 'step';
  sound.envFeel = isNum(preset.envFeel) && preset.envFeel < 2 ? 1 : 2;
  sound.tuning = readTuning(preset.tuning);
  sound.name = preset.name.length > 0 ? preset.name : 'Untitled';
  return sound;
}
