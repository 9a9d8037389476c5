// Every factory preset, loaded into the built module as a host state stream, plays its phrase as a
// finished sound: clean, matched in loudness without leaning on the limiter, ringing out before the phrase
// ends, wide where its role asks and full where a thin design used to be. The meter is checked first on
// signals whose readings BS.1770-4 defines.
//   TAVRIN_RENDER=.../tavrin-render TAVRIN_MODULE=.../Tavrin.clap node --test tests/bank/
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { availableParallelism, tmpdir } from 'node:os';
import { join } from 'node:path';
import {
  amplitudeDb, bandPower, integratedLoudness, kOctaves, kRate, samplePeak, toDb, truePeak,
} from '../../tools/bank/measure.mjs';
import { presetOutputGain } from '../../tools/bank/presetState.mjs';
import { factoryPresets, inParallel, measurePreset } from '../../tools/bank/renderBank.mjs';

const kCeiling = 0.87096357;  // the limiter's ceiling, -1.2 dBFS
const kLowestPeakDb = -18;
const kMaxMean = 1e-3;
const kTargetLufs = -16;
const kLoudnessTolerance = 2;
const kGainHeadroomDb = 3;
const kMaxReductionDb = 1;
const kMaxTailDb = -50;

// A sine of `seconds` at `db` dBFS, faded in and out over 100 ms when `fade` is set.
function sine(hz, db, seconds, { phase = 0, fade = false } = {}) {
  const n = Math.round(seconds * kRate);
  const ramp = 0.1 * kRate;
  return Float32Array.from({ length: n }, (_, i) => {
    const w = fade ? 0.5 - 0.5 * Math.cos(Math.PI * Math.min(1, i / ramp, (n - 1 - i) / ramp)) : 1;
    return w * 10 ** (db / 20) * Math.sin((2 * Math.PI * hz * i) / kRate + phase);
  });
}

function joined(...parts) {
  const out = new Float32Array(parts.reduce((n, p) => n + p.length, 0));
  parts.reduce((at, p) => (out.set(p, at), at + p.length), 0);
  return out;
}

test('the meter reads what BS.1770-4 defines', () => {
  // The K-weighting's gain at 997 Hz and the -0.691 offset cancel: a stereo sine reads its level.
  const tone = sine(997, -20, 5);
  assert.ok(Math.abs(integratedLoudness([tone, tone]) + 20) < 0.01);
  // The relative gate leaves out the quieter parts that lie 10 LU below (EBU Tech 3341, case 5).
  const steps = joined(sine(1000, -26, 20), sine(1000, -20, 20.1), sine(1000, -26, 20));
  assert.ok(Math.abs(integratedLoudness([steps, steps]) + 23) < 0.1);
  // A sine at a quarter of the rate sampled 45 degrees off its crests peaks 3 dB above its samples.
  const between = sine(kRate / 4, -6.0206, 1, { phase: Math.PI / 4, fade: true });
  assert.ok(Math.abs(amplitudeDb(samplePeak(between)) + 9.031) < 0.01);
  assert.ok(Math.abs(amplitudeDb(truePeak(between)) + 6.0206) < 0.02);
});

// Roles a musician expects wide, and roles whose lows stay in the middle.
const isWide = (p) => ['Pad', 'Keys', 'FX'].includes(p.category) || /\b(Pad|Keys|Strings)$/.test(p.name);
const hasMonoLows = (p) => p.category === 'Bass' || /\bKick$/.test(p.name);

// The strongest octave band of a spectrum, in dB.
const strongestOctaveDb = (spectrum) => Math.max(...kOctaves.map(([lo, hi]) => toDb(bandPower(spectrum, lo, hi))));

// The last hit of a 10 ms envelope in dB: how long it takes from its loudest window to fall 40 dB, and
// its steepest 10 ms fall after its first 50 ms (a cut shows as a cliff).
function lastHitDecay(envelope) {
  let onset = envelope.length - 1;
  while (onset > 0 && !(envelope[onset] > -60 && envelope[onset] - envelope[onset - 1] > 6)) --onset;
  let peak = onset;
  for (let i = onset; i < Math.min(envelope.length, onset + 5); ++i) if (envelope[i] > envelope[peak]) peak = i;
  let end = peak;
  while (end < envelope.length && envelope[end] > envelope[peak] - 40) ++end;
  let steepest = 0;
  for (let i = peak + 6; i < end; ++i) steepest = Math.max(steepest, envelope[i - 1] - envelope[i]);
  return { seconds: (end - peak) * 0.01, steepest };
}

// What a design that used to sound thin must now show.
const kThinDesigns = {
  'Feedback Reese': (m) => {
    const share = bandPower(m.spectrum, 200, 3000) / bandPower(m.spectrum, 0, kRate / 2);
    return share >= 0.3 ? [] : [`${(100 * share).toFixed(0)} % of its energy in 200 Hz-3 kHz`];
  },
  'Drift Strings': (m) => {
    const air = toDb(bandPower(m.spectrum, 5000, 10000)) - strongestOctaveDb(m.spectrum);
    return air >= -30 ? [] : [`the octave above 5 kHz ${air.toFixed(1)} dB below the strongest`];
  },
  'Snare Fold': (m) => {
    const body = toDb(bandPower(m.spectrum, 150, 300)) - strongestOctaveDb(m.spectrum);
    const { seconds, steepest } = lastHitDecay(m.envelope);
    return [
      ...(body >= -6 ? [] : [`its body at 150-300 Hz ${body.toFixed(1)} dB below the strongest octave`]),
      ...(seconds >= 0.3 ? [] : [`its last hit falls 40 dB in ${seconds.toFixed(2)} s`]),
      ...(steepest <= 6 ? [] : [`its tail falls ${steepest.toFixed(1)} dB in 10 ms`]),
    ];
  },
};

// Every fault of one preset's measurements.
function faultsOf(p, m) {
  const faults = [];
  const { gain, top } = presetOutputGain(readFileSync(p.preset, 'utf8'));
  const peakDb = amplitudeDb(m.peak);
  if (!m.finite) faults.push('not finite');
  if (m.peak > kCeiling) faults.push(`peak ${m.peak} above the ceiling`);
  if (!(peakDb >= kLowestPeakDb)) faults.push(`peak ${peakDb.toFixed(1)} dBFS`);
  if (m.mean > kMaxMean) faults.push(`mean ${m.mean}`);
  if (!(Math.abs(m.loudness - kTargetLufs) <= kLoudnessTolerance)) faults.push(`${m.loudness.toFixed(1)} LUFS`);
  if (amplitudeDb(gain) > amplitudeDb(top) - kGainHeadroomDb) faults.push(`Output Gain ${gain} leaves no headroom`);
  if (m.reduction > kMaxReductionDb) faults.push(`${m.reduction.toFixed(2)} dB of gain reduction`);
  if (m.tail > kMaxTailDb) faults.push(`still sounds at ${m.tail.toFixed(1)} dBFS when the phrase ends`);
  if (isWide(p) && !(m.correlation <= 0.9 && m.monoSum >= -3)) {
    faults.push(`narrow or hollow: correlation ${m.correlation.toFixed(3)}, mono sum ${m.monoSum.toFixed(1)} dB`);
  }
  if (hasMonoLows(p) && m.lowCorrelation < 0.95) faults.push(`lows spread: correlation ${m.lowCorrelation.toFixed(3)}`);
  faults.push(...(kThinDesigns[p.name]?.(m) ?? []));
  return faults.map((f) => `${p.category}/${p.name}: ${f}`);
}

test('every factory preset plays its phrase as a finished sound', async () => {
  const host = process.env.TAVRIN_RENDER;
  const plugin = process.env.TAVRIN_MODULE;
  assert.ok(host && plugin, 'TAVRIN_RENDER and TAVRIN_MODULE name the render host and the module');
  const work = mkdtempSync(join(tmpdir(), 'tavrin-bank-renders-'));
  try {
    const presets = factoryPresets();
    assert.ok(Object.keys(kThinDesigns).every((name) => presets.some((p) => p.name === name)));
    const faults = await inParallel(presets, Math.max(2, availableParallelism() / 2),
      async (p, i) => faultsOf(p, await measurePreset(p, { host, plugin, out: join(work, `${i}.wav`) })));
    assert.deepEqual(faults.flat(), []);
  } finally {
    rmSync(work, { recursive: true, force: true });
  }
});
