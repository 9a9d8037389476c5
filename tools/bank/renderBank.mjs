// Renders factory presets through the built module: each preset becomes a host state stream, which the
// render host loads before the first block and then plays the preset's phrase.
import { execFile } from 'node:child_process';
import { mkdtempSync, readdirSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { basename, dirname, join } from 'node:path';
import { promisify } from 'node:util';
import { presetToState } from './presetState.mjs';
import { kPhraseDir, kPresetDir } from './writeBank.mjs';

const run = promisify(execFile);
export const kSampleRate = 48000;

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

// Peak, mean and finiteness of each channel of a 32-bit float stereo WAV.
export function wavStats(path) {
  const bytes = readFileSync(path);
  let at = 12;
  while (at + 8 <= bytes.length && bytes.toString('latin1', at, at + 4) !== 'data') at += 8 + bytes.readUInt32LE(at + 4);
  const frames = Math.floor(bytes.readUInt32LE(at + 4) / 8);
  const channels = [0, 1].map(() => ({ peak: 0, sum: 0, finite: true }));
  for (let i = 0; i < frames; ++i) {
    for (const c of [0, 1]) {
      const x = bytes.readFloatLE(at + 8 + 8 * i + 4 * c);
      const ch = channels[c];
      if (!Number.isFinite(x)) ch.finite = false;
      else { ch.peak = Math.max(ch.peak, Math.abs(x)); ch.sum += x; }
    }
  }
  return channels.map(({ peak, sum, finite }) => ({ peak, mean: sum / Math.max(frames, 1), finite }));
}

// Renders one preset's phrase into out (a WAV file) and answers its channel statistics.
export async function renderPreset({ preset, phrase }, { host, plugin, out }) {
  const work = mkdtempSync(join(tmpdir(), 'tavrin-bank-'));
  try {
    const state = join(work, 'preset.state');
    writeFileSync(state, presetToState(readFileSync(preset, 'utf8')));
    await run(host, ['--plugin', plugin, '--rate', String(kSampleRate), '--state', state, '--out', out,
      ...phraseOptions(readFileSync(phrase, 'utf8'))]);
    return wavStats(out);
  } finally {
    rmSync(work, { recursive: true, force: true });
  }
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
