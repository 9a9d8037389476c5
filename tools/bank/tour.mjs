// A listening tour of the factory bank: every preset plays its phrase through the built module, one after
// the other with a short pause, into one WAV; each phrase lets its tail ring out, so no preset is cut off
// by the next. Beside it a spectrogram per preset and a list of the presets with their start times,
// loudness and true peaks.
//
//   node tools/bank/tour.mjs --host build/release/tools/tavrin-render --plugin build/release/Tavrin.clap \
//       --out tour/
import { execFileSync } from 'node:child_process';
import { mkdirSync, writeFileSync } from 'node:fs';
import { availableParallelism } from 'node:os';
import { join } from 'node:path';
import { parseArgs } from 'node:util';
import { amplitudeDb, integratedLoudness, truePeak } from './measure.mjs';
import { factoryPresets, inParallel, renderPreset } from './renderBank.mjs';

const { values } = parseArgs({ options: { host: { type: 'string' }, plugin: { type: 'string' }, out: { type: 'string' } } });
if (!values.host || !values.plugin || !values.out) {
  console.error('usage: node tools/bank/tour.mjs --host TAVRIN_RENDER --plugin TAVRIN.clap --out DIR');
  process.exit(2);
}
const presets = factoryPresets();
const dir = values.out;
mkdirSync(join(dir, 'presets'), { recursive: true });
const wav = (p) => join(dir, 'presets', `${p.category}-${p.name}.wav`.replace(/ /g, '_'));
const levels = await inParallel(presets, availableParallelism(), async (p) => {
  const { left, right } = await renderPreset(p, { ...values, out: wav(p) });
  return { loudness: integratedLoudness([left, right]), peak: Math.max(truePeak(left), truePeak(right)) };
});

const sox = (...args) => execFileSync('sox', args, { stdio: ['ignore', 'ignore', 'inherit'] });
const gap = join(dir, 'presets', 'gap.wav');
sox('-n', '-r', '48000', '-c', '2', '-b', '32', '-e', 'floating-point', gap, 'trim', '0', '0.6');
const listing = [];
let start = 0;
presets.forEach((p, i) => {
  const image = wav(p).replace(/\.wav$/, '.png');
  sox(wav(p), '-n', 'remix', '1,2', 'spectrogram', '-x', '900', '-y', '300', '-t', `${p.category} / ${p.name}`, '-o', image);
  const seconds = Number(execFileSync('soxi', ['-D', wav(p)], { encoding: 'utf8' }));
  const { loudness, peak } = levels[i];
  listing.push(`${start.toFixed(1).padStart(6)} s  ${loudness.toFixed(1).padStart(6)} LUFS  ` +
    `${amplitudeDb(peak).toFixed(1).padStart(6)} dBTP  ${p.category} / ${p.name}`);
  start += seconds + 0.6;
});
sox(...presets.flatMap((p) => [wav(p), gap]), join(dir, 'tour.wav'));
writeFileSync(join(dir, 'tour.txt'), `${listing.join('\n')}\n`);
console.log(`${listing.join('\n')}\nwrote ${join(dir, 'tour.wav')} and a spectrogram per preset in ${join(dir, 'presets')}`);
