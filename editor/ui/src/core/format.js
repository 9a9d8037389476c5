// Readouts of knob values as the faceplate shows them.
import { kKnobs, kLabels, posToPlain } from './params.js';

const pct = (x) => `${Math.round(x * 100)}%`;
const signedPct = (x) => { const r = Math.round(x * 100); return `${r >= 1 ? '+' : ''}${r}%`; };
const seconds = (s) => (s >= 1 ? `${s.toFixed(2)} s` : `${Math.round(s * 1000)} ms`);
const hz = (f) => (f >= 1000 ? `${(f / 1000).toFixed(1)} kHz` : `${Math.round(f)} Hz`);

const kByKey = {
  glide: (v) => `${Math.round(v)} ms`, octave: (v) => { const r = Math.round(v); return r >= 1 ? `+${r}` : `${r}`; },
  pitchBendRange: (v) => `${Math.round(v)} st`, ratio: (v) => `${v.toFixed(2)}x`, fmIndex: (v) => v.toFixed(3),
  fold: (v) => v.toFixed(1), cutoffA: hz, cutoffB: hz, resonanceA: (v) => pct(v / 0.95), resonanceB: (v) => pct(v / 0.95),
  attack: seconds, decay: seconds, release: seconds, env2Attack: seconds, env2Decay: seconds, env2Release: seconds,
  env1Delay: seconds, env1Hold: seconds, env2Delay: seconds, env2Hold: seconds, preDelay: (v) => `${Math.round(v)} ms`,
  revSpace: (v) => `${v.toFixed(1)} s`, modPitchRange: (v) => `±${Math.round(v)} st`,
  gain: (v) => (v > 0.001 ? `${(20 * Math.log10(v)).toFixed(1)} dB` : '-inf'),
  eqLo: (v) => `${(12 * v).toFixed(1)} dB`, eqMid: (v) => `${(12 * v).toFixed(1)} dB`, eqHi: (v) => `${(12 * v).toFixed(1)} dB`,
};
const kSigned = new Set(['foldBias', 'env1CurveA', 'env1CurveD', 'env1CurveR', 'env1Curve', 'env1KeyTrack', 'env2CurveA',
  'env2CurveD', 'env2CurveR', 'env2KeyTrack']);

const kDiscreteLabels = {
  voiceMode: kLabels.voiceModes, shapeMode: kLabels.shapeModes, filterModeA: kLabels.filterModes,
  filterModeB: kLabels.filterModes, envModel: kLabels.envModels, env1TrigMode: kLabels.trigModes,
  env2TrigMode: kLabels.trigModes, env1Sync: ['free', 'sync'], env2Sync: ['free', 'sync'],
};

export function discreteLabels(key) {
  const k = kKnobs.get(key);
  if (kDiscreteLabels[key]) return kDiscreteLabels[key];
  if (key.startsWith('modSource')) return kLabels.modSources;
  if (key.includes('Div')) return kLabels.seqDivisions;
  if (key === 'voiceCount') return Array.from({ length: 8 }, (_, i) => String(i + 1));
  return Array.from({ length: k.largest + 1 }, (_, i) => String(i));
}

export function formatKnob(key, value) {
  const k = kKnobs.get(key);
  if (k.discrete) return discreteLabels(key)[value] ?? String(value);
  const plain = posToPlain(key, value);
  if (kByKey[key]) return kByKey[key](plain);
  if (kSigned.has(key)) return signedPct(plain);
  return pct(plain);
}

// LFO rate readout: hertz when free, a tempo division when synced.
export function formatLfoRate(rate, mode) {
  if (mode === 1) return kLabels.lfoDivisions[Math.min(11, Math.max(0, Math.trunc(rate * 11 + 0.5)))];
  const f = 0.05 * 400 ** rate;
  return f < 1 ? `${f.toFixed(2)} Hz` : f < 10 ? `${f.toFixed(1)} Hz` : `${Math.round(f)} Hz`;
}
