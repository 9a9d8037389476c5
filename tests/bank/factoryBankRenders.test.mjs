// Every factory preset, loaded into the built module as a host state stream, plays its phrase at a sound
// level: finite, within the limiter's ceiling, without DC, not faint. The meter is checked first on signals
// whose readings BS.1770-4 defines.
//   TAVRIN_RENDER=.../tavrin-render TAVRIN_MODULE=.../Tavrin.clap node --test tests/bank/
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { mkdtempSync, rmSync } from 'node:fs';
import { availableParallelism, tmpdir } from 'node:os';
import { join } from 'node:path';
import {
  amplitudeDb, integratedLoudness, kRate, samplePeak, truePeak,
} from '../../tools/bank/measure.mjs';
import { factoryPresets, inParallel, measurePreset } from '../../tools/bank/renderBank.mjs';

const kCeiling = 0.87096357;  // the limiter's ceiling, -1.2 dBFS
const kLowestPeakDb = -18;
const kMaxMean = 1e-3;

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

// Every fault of one preset's measurements.
function faultsOf(p, m) {
  const faults = [];
  const peakDb = amplitudeDb(m.peak);
  if (!m.finite) faults.push('not finite');
  if (m.peak > kCeiling) faults.push(`peak ${m.peak} above the ceiling`);
  if (!(peakDb >= kLowestPeakDb)) faults.push(`peak ${peakDb.toFixed(1)} dBFS`);
  if (m.mean > kMaxMean) faults.push(`mean ${m.mean}`);
  return faults.map((f) => `${p.category}/${p.name}: ${f}`);
}

test('every factory preset renders its phrase at a sound level', async () => {
  const host = process.env.TAVRIN_RENDER;
  const plugin = process.env.TAVRIN_MODULE;
  assert.ok(host && plugin, 'TAVRIN_RENDER and TAVRIN_MODULE name the render host and the module');
  const work = mkdtempSync(join(tmpdir(), 'tavrin-bank-renders-'));
  try {
    const presets = factoryPresets();
    const faults = await inParallel(presets, Math.max(2, availableParallelism() / 2),
      async (p, i) => faultsOf(p, await measurePreset(p, { host, plugin, out: join(work, `${i}.wav`) })));
    assert.deepEqual(faults.flat(), []);
  } finally {
    rmSync(work, { recursive: true, force: true });
  }
});
