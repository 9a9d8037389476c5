// Writes the factory bank with the editor document's own preset writer, exactly as the page saves a
// preset, and each sound's phrase beside the test data:
//   resources/Presets/Factory/<Category>/<Name>.nobrel
//   tests/data/phrases/<Category>/<Name>.phrase
//
//   node tools/bank/writeBank.mjs
import { mkdirSync, rmSync, writeFileSync } from 'node:fs';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { readPreset } from '../../editor/ui/src/core/presetRead.js';
import { writePreset } from '../../editor/ui/src/core/presetWrite.js';
import { designSound } from './design.mjs';
import { kDesigns } from './designs.mjs';

const kRoot = join(dirname(fileURLToPath(import.meta.url)), '..', '..');
export const kPresetDir = join(kRoot, 'resources', 'Presets', 'Factory');
export const kPhraseDir = join(kRoot, 'tests', 'data', 'phrases');

// The text the page writes after loading the preset and saving it again: writing rounds, so the first
// text is read back and written once more until nothing changes.
function savedText(sound, name) {
  let text = writePreset(sound, name);
  for (let i = 0; i < 4; ++i) {
    const again = writePreset(readPreset(text), name);
    if (again === text) return text;
    text = again;
  }
  throw new Error(`${name}: the written preset does not settle`);
}

// A phrase as render-host options, one per line.
function phraseText(design) {
  const { seconds, tempo, notes, params = [] } = design.phrase;
  const lines = [`# ${design.name}`, `seconds ${seconds}`];
  if (tempo) lines.push(`tempo ${tempo}`);
  const fixed = (x) => Number(x.toFixed(4));
  lines.push(`notes ${notes.map(([t, k, v, d]) => `${fixed(t)}:${k}:${v}:${fixed(d)}`).join(',')}`);
  if (params.length > 0) lines.push(`params ${params.map(([id, v, t]) => `${id}=norm:${fixed(v)}@${fixed(t)}`).join(',')}`);
  return `${lines.join('\n')}\n`;
}

if (process.argv[1] === fileURLToPath(import.meta.url)) {
  rmSync(kPresetDir, { recursive: true, force: true });
  rmSync(kPhraseDir, { recursive: true, force: true });
  for (const design of kDesigns) {
    const preset = join(kPresetDir, design.category, `${design.name}.nobrel`);
    const phrase = join(kPhraseDir, design.category, `${design.name}.phrase`);
    mkdirSync(dirname(preset), { recursive: true });
    mkdirSync(dirname(phrase), { recursive: true });
    writeFileSync(preset, savedText(designSound(design), design.name));
    writeFileSync(phrase, phraseText(design));
  }
  console.log(`wrote ${kDesigns.length} presets`);
}
