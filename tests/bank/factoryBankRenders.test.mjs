// Every factory preset, loaded into the built module as a host state stream, plays its phrase at a sound
// level: finite, within the limiter's ceiling, without DC, neither faint nor pinned to the ceiling.
//   TAVRIN_RENDER=.../tavrin-render TAVRIN_MODULE=.../Tavrin.clap node --test tests/bank/
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { mkdtempSync, rmSync } from 'node:fs';
import { availableParallelism, tmpdir } from 'node:os';
import { join } from 'node:path';
import { factoryPresets, inParallel, renderPreset } from '../../tools/bank/renderBank.mjs';

const kCeiling = 0.87096357;  // the limiter's ceiling, -1.2 dBFS
const kLowestPeakDb = -18;
const kHighestPeakDb = -1.2;
const kMaxMean = 1e-3;

test('every factory preset renders its phrase at a sound level', async () => {
  const host = process.env.TAVRIN_RENDER;
  const plugin = process.env.TAVRIN_MODULE;
  assert.ok(host && plugin, 'TAVRIN_RENDER and TAVRIN_MODULE name the render host and the module');
  const work = mkdtempSync(join(tmpdir(), 'tavrin-bank-renders-'));
  try {
    const presets = factoryPresets();
    const stats = await inParallel(presets, Math.max(2, availableParallelism() / 2),
      (p, i) => renderPreset(p, { host, plugin, out: join(work, `${i}.wav`) }));
    const faults = [];
    presets.forEach((p, i) => stats[i].forEach(({ peak, mean, finite }, channel) => {
      const db = 20 * Math.log10(peak);
      const where = `${p.category}/${p.name} channel ${channel}`;
      if (!finite) faults.push(`${where}: not finite`);
      if (peak > kCeiling) faults.push(`${where}: peak ${peak} above the ceiling`);
      if (!(db >= kLowestPeakDb && db <= kHighestPeakDb)) faults.push(`${where}: peak ${db.toFixed(1)} dBFS`);
      if (Math.abs(mean) > kMaxMean) faults.push(`${where}: mean ${mean}`);
    }));
    assert.deepEqual(faults, []);
  } finally {
    rmSync(work, { recursive: true, force: true });
  }
});
