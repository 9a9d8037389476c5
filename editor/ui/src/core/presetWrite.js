// Writing a preset file: the sound and its name as version-6 JSON text with two-space indentation.
import { kKnobs, kLabels, kRoutes, posToPlain } from './params.js';

export const kPresetMarker = 'nobrels.com';
export const kPresetVersion = 6;

// x rounded to n places, halves rounded up.
export function roundTo(x, n) {
  const f = 10 ** n;
  return Math.floor(x * f + 0.5) / f;
}

const labelOr = (list, index, fallback) => list[index] ?? fallback;

function envelopeMembers(k, plain, prefix, first) {
  const key = (name) => `${prefix}${name}`;
  const div = (name) => (Number.isInteger(k[key(`Div${name}`)]) ? k[key(`Div${name}`)] : 9);
  const common = {
    delay: roundTo(plain(key('Delay')), 3), hold: roundTo(plain(key('Hold')), 3),
    curveA: roundTo(plain(key('CurveA')), 3), curveD: roundTo(plain(key('CurveD')), 3),
    curveR: roundTo(plain(key('CurveR')), 3), keyTrack: roundTo(plain(key('KeyTrack')), 3),
  };
  const tail = {
    trig: labelOr(kLabels.trigModes, k[key('TrigMode')], 'gate'), sync: k[key('Sync')] === 1,
    divDelay: div('Delay'), divAttack: div('Attack'), divHold: div('Hold'), divDecay: div('Decay'),
    divRelease: div('Release'),
  };
  if (first) {
    return {
      attack: roundTo(plain('attack'), 3), decay: roundTo(plain('decay'), 3), sustain: roundTo(plain('sustain'), 2),
      release: roundTo(plain('release'), 3), model: 'adsr', velTimbre: roundTo(plain('velTimbre'), 3),
      curveA: common.curveA, curveD: common.curveD, curveR: common.curveR, curve: roundTo(plain('env1Curve'), 3),
      delay: common.delay, hold: common.hold, keyTrack: common.keyTrack, ...tail,
    };
  }
  return {
    attack: roundTo(plain('env2Attack'), 3), decay: roundTo(plain('env2Decay'), 3),
    sustain: roundTo(plain('env2Sustain'), 2), release: roundTo(plain('env2Release'), 3), ...common, ...tail,
  };
}

function lfoMembers(lfo) {
  return {
    rate: roundTo(lfo.rate, 3), phase: roundTo(lfo.phase, 2), delay: roundTo(lfo.delay, 2),
    pattern: labelOr(kLabels.lfoPatterns, lfo.pattern, 'bloom'), mode: kLabels.lfoModes[Math.min(lfo.mode, 1)] ?? 'free',
    slew: lfo.slew === true, enabled: lfo.enabled !== false,
  };
}

function laneMembers(lane, index) {
  const count = Number.isInteger(lane.stepCount) ? lane.stepCount : 8;
  const out = {
    steps: (lane.steps ?? []).map((v) => roundTo(v, 3)), stepCount: count, triggerKey: lane.triggerKey ?? -1,
    enabled: lane.enabled === true, runMode: lane.runMode ?? 1, freeRate: lane.freeRate ?? 1, syncDiv: lane.syncDiv ?? 9,
    delayDiv: lane.delayDiv ?? 0, delayMul: lane.delayMul ?? 1, ties: (lane.ties ?? []).map((t) => t === true),
  };
  if (index === 0) {
    return { ...out, snapEnabled: lane.snapEnabled ?? true, mode: lane.mode === 'absolute' ? 'absolute' : 'bipolar',
      rankEncoded: lane.rankEncoded === true };
  }
  return { ...out, target: lane.target ?? 0 };
}

// Ratio of a selected [degree, octave] pair in the given tuning (equal temperament of 12 without one).
export function degreeRatio([degree, octave], tuning) {
  const intervals = tuning?.intervals;
  const period = tuning?.period > 1 ? tuning.period : 2;
  const known = Array.isArray(intervals) && intervals.length > 0;
  const base = known ? intervals[degree % intervals.length] ?? 1 : 2 ** ((degree % 12) / 12);
  return roundTo(base * period ** octave, 6);
}

// The preset text of a sound. `tuningShown` gives the ratios of the selected degrees.
export function writePreset(sound, name, tuningShown = null) {
  const k = sound.knobs;
  const plain = (key) => (kKnobs.get(key).discrete ? k[key] : posToPlain(key, k[key]));
  const sources = {};
  for (const route of kRoutes) sources[route.presetName] = kLabels.modSources[k[route.source]] ?? 'lfo1';
  const preset = {
    nobrel: kPresetMarker, version: kPresetVersion, envFeel: 2, name,
    voice: {
      mode: labelOr(kLabels.voiceModes, k.voiceMode, 'poly'), count: k.voiceCount + 1, glide: roundTo(plain('glide'), 1),
      octave: roundTo(plain('octave'), 0), pitchBendRange: roundTo(plain('pitchBendRange'), 0),
    },
    oscillator: {
      ratio: roundTo(plain('ratio'), 2), fm: roundTo(plain('fmIndex'), 3), fold: roundTo(plain('fold'), 1),
      foldBias: roundTo(plain('foldBias'), 3), feedback: roundTo(plain('feedback'), 3),
      shapeMode: labelOr(kLabels.shapeModes, k.shapeMode, 'sine'), shape: roundTo(plain('shape'), 3),
      foldChar: roundTo(plain('foldChar'), 3),
      noiseMix: roundTo(plain('noiseMix'), 3), click: roundTo(plain('clickAmt'), 3),
    },
    envelope: envelopeMembers(k, plain, 'env1', true),
    envelope2: envelopeMembers(k, plain, 'env2', false),
    filterA: { mode: labelOr(kLabels.filterModes, k.filterModeA, 'lp'), cutoff: roundTo(plain('cutoffA'), 0),
      resonance: roundTo(plain('resonanceA'), 2) },
    filterB: { mode: labelOr(kLabels.filterModes, k.filterModeB, 'lp'), cutoff: roundTo(plain('cutoffB'), 0),
      resonance: roundTo(plain('resonanceB'), 2) },
    filter: {
      driveA: roundTo(plain('driveA'), 3), driveB: roundTo(plain('driveB'), 3), keyTrackA: roundTo(plain('keyTrackA'), 3),
      keyTrackB: roundTo(plain('keyTrackB'), 3), lockA: sound.filterLockA === true, lockB: sound.filterLockB === true,
      saturation: roundTo(plain('filterSat'), 3),
    },
    noise: roundTo(plain('noise'), 3),
    reverb: { pre: roundTo(plain('preDelay'), 0), space: roundTo(plain('revSpace'), 2), tone: roundTo(plain('revTone'), 2),
      mix: roundTo(plain('revMix'), 2) },
    eq: { lo: roundTo(plain('eqLo'), 2), mid: roundTo(plain('eqMid'), 2), hi: roundTo(plain('eqHi'), 2) },
    output: { gain: roundTo(plain('gain'), 2), drift: roundTo(plain('drift'), 3), spread: roundTo(plain('spread'), 3),
      analog: roundTo(plain('analog'), 3), crossfader: roundTo(sound.fader, 3) },
    lfo1: lfoMembers(sound.lfos[0]),
    lfo2: lfoMembers(sound.lfos[1]),
    modulation: {
      starts: { ...sound.modStarts }, depths: { ...sound.modDepths }, sources,
      pitch: { start: roundTo(plain('modPitchStart'), 3), end: roundTo(plain('modPitchEnd'), 3),
        source: kLabels.modSources[k.modSourcePitch] ?? 'env2', range: roundTo(plain('modPitchRange'), 0) },
    },
    seqLanes: {},
  };
  if (sound.lanes[0]) preset.seqLanes.ratio = laneMembers(sound.lanes[0], 0);
  if (sound.lanes[1]) preset.seqLanes.lane1 = laneMembers(sound.lanes[1], 1);
  if (sound.snapshotA || sound.snapshotB) {
    preset.morph = { snapshotA: sound.snapshotA ?? null, snapshotB: sound.snapshotB ?? null, position: sound.fader ?? 0,
      linked: true };
  }
  if (sound.ratioLocked) {
    preset.ratioLock = { locked: true, selectedDegrees: sound.selectedDegrees.map((p) => [...p]),
      selectedValues: sound.selectedDegrees.map((p) => degreeRatio(p, tuningShown)) };
  }
  preset.glideMode = sound.glideMode || 'step';
  if (sound.tuning && Array.isArray(sound.tuning.intervals)) {
    const t = sound.tuning;
    preset.tuning = { name: t.name ?? '', period: t.period ?? 2, intervals: [...t.intervals] };
    if (Array.isArray(t.labels)) preset.tuning.labels = [...t.labels];
  }
  return JSON.stringify(preset, null, 2);
}
