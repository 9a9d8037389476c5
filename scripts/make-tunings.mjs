// Writes the factory tunings (Scala files) from their definitions:
//   node scripts/make-tunings.mjs [folder]           writes them (default: resources/Tunings)
//   node scripts/make-tunings.mjs --check [folder]   fails when the folder differs from what it would write
import { readdirSync, readFileSync, writeFileSync } from 'node:fs';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';

const cents = (ratio) => 1200 * Math.log2(ratio);
const octaveReduced = (c) => ((c % 1200) + 1200) % 1200;

// A pitch line: cents with six decimals (the '.' marks cents) or a ratio as written.
const centsLine = (c) => c.toFixed(6);

// n equal divisions of the period (a ratio written n/d), degrees given as step numbers.
function equalSteps(steps, period, degrees = [...Array(steps).keys()].slice(1)) {
  const [num, den] = period.split('/').map(Number);
  const step = cents(num / den) / steps;
  return [...degrees.map((k) => centsLine(k * step)), period];
}

// Twelve notes of a chain of fifths from E flat (-3) to G sharp (+8), each fifth `fifth` cents wide.
function fifthsChain(fifth) {
  const notes = [];
  for (let k = -3; k <= 8; ++k) if (k !== 0) notes.push(octaveReduced(k * fifth));
  return [...notes.sort((a, b) => a - b).map(centsLine), '2/1'];
}

// The same chain in pure fifths, as exact ratios 3^k reduced into the octave.
function pythagorean() {
  const notes = [];
  for (let k = -3; k <= 8; ++k) {
    if (k === 0) continue;
    let [num, den] = k > 0 ? [3 ** k, 1] : [1, 3 ** -k];
    while (num / den >= 2) den *= 2;
    while (num / den < 1) num *= 2;
    notes.push([num, den]);
  }
  return [...notes.sort((a, b) => a[0] / a[1] - b[0] / b[1]).map(([n, d]) => `${n}/${d}`), '2/1'];
}

// Werckmeister III: the circle of fifths from C, with C-G, G-D, D-A and B-F sharp narrowed by a quarter
// of the Pythagorean comma and the other eight fifths pure.
function werckmeister3() {
  const pure = cents(3 / 2);
  const quarterComma = cents(3 ** 12 / 2 ** 19) / 4;
  const narrowed = new Set([0, 1, 2, 5]);  // the fifths leaving C, G, D and B
  const notes = [];
  let position = 0;
  for (let i = 1; i < 12; ++i) {
    position += narrowed.has(i - 1) ? pure - quarterComma : pure;
    notes.push(octaveReduced(position));
  }
  return [...notes.sort((a, b) => a - b).map(centsLine), '2/1'];
}

const tunings = [
  ...[12, 19, 22, 24, 31, 53].map((n) => ({
    stem: `${n}-EDO`,
    description: `${n} equal divisions of the octave`,
    pitches: equalSteps(n, '2/1'),
  })),
  {
    stem: 'Just 5-limit',
    description: '12-tone 5-limit just intonation: 1/1 16/15 9/8 6/5 5/4 4/3 45/32 3/2 8/5 5/3 9/5 15/8',
    pitches: ['16/15', '9/8', '6/5', '5/4', '4/3', '45/32', '3/2', '8/5', '5/3', '9/5', '15/8', '2/1'],
  },
  {
    stem: 'Just 7-limit',
    description: '12-tone 7-limit just intonation: 1/1 15/14 8/7 6/5 5/4 4/3 7/5 3/2 8/5 5/3 7/4 15/8',
    pitches: ['15/14', '8/7', '6/5', '5/4', '4/3', '7/5', '3/2', '8/5', '5/3', '7/4', '15/8', '2/1'],
  },
  {
    stem: 'Pythagorean',
    description: 'Pythagorean 12-tone: pure 3/2 fifths from E flat to G sharp',
    pitches: pythagorean(),
  },
  {
    stem: 'Quarter-comma meantone',
    description: 'Quarter-comma meantone: fifths of 5^(1/4) from E flat to G sharp',
    pitches: fifthsChain(cents(5) / 4),
  },
  {
    stem: 'Werckmeister III',
    description: 'Werckmeister III: fifths C-G, G-D, D-A and B-F# narrowed by 1/4 Pythagorean comma, others pure',
    pitches: werckmeister3(),
  },
  {
    stem: 'Bohlen-Pierce',
    description: 'Bohlen-Pierce: 13 equal divisions of the tritave 3/1',
    pitches: equalSteps(13, '3/1'),
  },
  {
    stem: 'Harmonics 8-16',
    description: 'Harmonics 8 to 16 as an octave mode: 8:9:10:11:12:13:14:15:16',
    pitches: [9, 10, 11, 12, 13, 14, 15, 16].map((h) => `${h}/8`),
  },
  {
    stem: 'Slendro',
    description: 'Slendro approximation: 5 equal divisions of the octave',
    pitches: equalSteps(5, '2/1'),
  },
  {
    stem: 'Pelog',
    description: 'Pelog approximation: 7 of 9 equal divisions of the octave, steps 1 1 2 1 1 1 2',
    pitches: equalSteps(9, '2/1', [1, 2, 4, 5, 6, 7]),
  },
];

function scalaText({ stem, description, pitches }) {
  const lines = [`! ${stem}.scl`, '!', description, ` ${pitches.length}`, '!', ...pitches.map((p) => ` ${p}`)];
  return lines.join('\n') + '\n';
}

const args = process.argv.slice(2);
const check = args[0] === '--check';
const folder = args[check ? 1 : 0] ?? join(dirname(fileURLToPath(import.meta.url)), '../resources/Tunings');
const files = new Map(tunings.map((t) => [`${t.stem}.scl`, scalaText(t)]));

if (check) {
  const present = readdirSync(folder).filter((name) => name.endsWith('.scl'));
  const stale = [...files].filter(([name, text]) => {
    try {
      return readFileSync(join(folder, name), 'utf8') !== text;
    } catch {
      return true;
    }
  });
  const extra = present.filter((name) => !files.has(name));
  for (const [name] of stale) console.error(`differs from its definition: ${name}`);
  for (const name of extra) console.error(`not made by this script: ${name}`);
  process.exit(stale.length + extra.length === 0 ? 0 : 1);
}
for (const [name, text] of files) writeFileSync(join(folder, name), text);
