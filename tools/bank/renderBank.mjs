// Renders factory presets through the built module: each preset becomes a host state stream, which the
// render host loads before the first block and then plays the preset's phrase.
import { execFile } from 'node:child_process';
import { mkdtempSync, readdirSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { basename, dirname, join } from 'node:path';
import { promisify } from 'node:util';
import {
  correlation, gainReductionDb, integratedLoudness, kRate, kReferenceDrop, lowPass, meanSquare, monoSumDb,
  powerSpectrum, readStereoWav, samplePeak, tailLevel, toDb,
} from './measure.mjs';
import { presetToState } from './presetState.mjs';
import { kPhraseDir, kPresetDir } from './writeBank.mjs';

const run = promisify(execFile);

// Every factory preset with its phrase file: [{ category, name, preset, phrase }], in a fixed order.
export function factoryPresets() {
  return readdirSync(kPresetDir, { recursive: true }).filter((f) => f.endsWith('.nobrel')).sort().map((file) => {
    const category = dirname(file);
    const name = basename(file, '.nobrel');
    return { category, name, preset: join(kPresetDir, file), phrase: join(kPhraseDir, category, `${name}.phrase`) };
  });
}

// A phrase file's lines as render-host options.
export function phraseOptions(text) {
  const options = [];
  for (const line of text.split('\n')) {
    const m = /^(seconds|tempo|notes|params) (\S+)$/.exec(line.trim());
    if (m) options.push(`--${m[1]}`, m[2]);
  }
  return options;
}

// Renders one preset's phrase into out (a WAV file) and answers its two channels; gainScale scales the
// preset's Output Gain.
export async function renderPreset({ preset, phrase }, { host, plugin, out, gainScale = 1 }) {
  const work = mkdtempSync(join(tmpdir(), 'tavrin-bank-'));
  try {
    const state = join(work, 'preset.state');
    writeFileSync(state, presetToState(readFileSync(preset, 'utf8'), gainScale));
    await run(host, ['--plugin', plugin, '--rate', String(kRate), '--state', state, '--out', out,
      ...phraseOptions(readFileSync(phrase, 'utf8'))]);
    return readStereoWav(out);
  } finally {
    rmSync(work, { recursive: true, force: true });
  }
}

// Level per 10 ms window in dBFS RMS.
function envelope(render) {
  const seconds = render.left.length / kRate;
  return Array.from({ length: Math.floor(seconds / 0.01) }, (_, i) => toDb(meanSquare(render, i * 0.01, (i + 1) * 0.01)));
}

// Renders a preset's phrase (into out, its quieter reference beside it) and measures the render: peak,
// DC, finiteness, loudness, the chain's gain reduction, the tail, the width, the power spectrum and the
// 10 ms envelope.
export async function measurePreset(p, { host, plugin, out }) {
  const render = await renderPreset(p, { host, plugin, out });
  const reference = await renderPreset(p, { host, plugin, out: out.replace(/(\.wav)?$/, '.reference.wav'),
    gainScale: kReferenceDrop });
  const channels = [render.left, render.right];
  const mean = (x) => x.reduce((a, b) => a + b, 0) / Math.max(1, x.length);
  return {
    finite: channels.every((x) => x.every(Number.isFinite)),
    peak: Math.max(...channels.map(samplePeak)),
    mean: Math.max(...channels.map((x) => Math.abs(mean(x)))),
    loudness: integratedLoudness(channels),
    reduction: gainReductionDb(render, reference),
    tail: tailLevel(render),
    correlation: correlation(render.left, render.right),
    monoSum: monoSumDb(render),
    lowCorrelation: correlation(lowPass(render.left, 150), lowPass(render.right, 150)),
    spectrum: powerSpectrum(render),
    envelope: envelope(render),
  };
}

// Runs fn over the items, at most `width` at a time, keeping the order of the results.
export async function inParallel(items, width, fn) {
  const results = new Array(items.length);
  let next = 0;
  const worker = async () => {
    while (next < items.length) {
      const i = next++;
      results[i] = await fn(items[i], i);
    }
  };
  await Promise.all(Array.from({ length: Math.min(width, items.length) }, worker));
  return results;
}
