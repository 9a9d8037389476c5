// A preset file as a host state stream: the preset is read by the editor document's own reader and
// applied by its own preset loader to a headless document; the messages that the page would send to the
// native side become the stream's parameter values and side data, so the module loads exactly the sound
// that the page would give it.
//
//   node tools/bank/presetState.mjs PRESET.nobrel OUT.state
import { readFileSync, writeFileSync } from 'node:fs';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { readPreset } from '../../editor/ui/src/core/presetRead.js';
import { applyPreset } from '../../editor/ui/src/core/apply.js';
import { createEditor } from '../../editor/ui/src/core/editor.js';

const kRoot = join(dirname(fileURLToPath(import.meta.url)), '..', '..');
export const kStreamVersion = 6;
const kControllers = 128;
const kUnmapped = 0xffffffff;
const kKitSlots = 24;
const kKitBaseKey = 36;
const kMaxSideData = 65535;  // the longest side data the stream reader takes

const source = (path) => readFileSync(join(kRoot, path), 'utf8');

// The engine's parameter rows (id, min, max) and the bridge names of the parameters, read from the
// native tables so that the two sides cannot drift apart.
function nativeTables() {
  const table = source('engine/ParamTable.h');
  const ids = new Map([...table.matchAll(/constexpr uint32_t (kParam\w+) = (\d+);/g)].map((m) => [m[1], Number(m[2])]));
  const rows = [...table.matchAll(/\{(kParam\w+), "[^"]*", ([-\d.e]+), ([-\d.e]+), ([-\d.e]+)\}/g)]
    .map((m) => ({ id: ids.get(m[1]), min: Number(m[2]), max: Number(m[3]), def: Number(m[4]) }))
    .sort((a, b) => a.id - b.id);
  const names = new Map();
  for (const m of source('state/ParamNameMap.h').matchAll(/\{"(\w+)", (kParam\w+)\}/g)) {
    if (!names.has(m[1])) names.set(m[1], ids.get(m[2]));
  }
  const plugin = source('plugin/CLAPPlugin.cpp');
  const bindings = plugin.slice(plugin.indexOf('kDefaultCcBindings[]'), plugin.indexOf('};', plugin.indexOf('kDefaultCcBindings[]')));
  const cc = [...bindings.matchAll(/\{(\d+), (kParam\w+)\}/g)].map((m) => [Number(m[1]), ids.get(m[2])]);
  const complete = rows.length > 0 && rows.every((row, i) => row.id === i) && cc.length > 0 && ids.has('kParamOutputGain') &&
    [...names.values(), ...cc.map(([, id]) => id)].every((id) => id < rows.length);
  if (!complete) throw new Error('the native parameter tables have changed their form; update nativeTables()');
  return { rows, names, cc, outputGain: ids.get('kParamOutputGain') };
}

let tables = null;

// What the stream cannot carry: the page sends these to the native side itself.
function unsupportedFeatures(sound) {
  const problems = [];
  sound.lanes.forEach((lane, i) => {
    if ((lane.delayDiv ?? 0) !== 0) problems.push(`lane ${i} has a start delay`);
    if (lane.runMode === 2) problems.push(`lane ${i} runs from a trigger key`);
  });
  if (sound.selectedDegrees.some(([, octave]) => octave !== 0)) problems.push('a selected degree has an octave');
  return problems;
}

// The page after it applied the preset: the messages it sent to the native side, in order, and the view
// state it would store.
function appliedPage(sound) {
  const messages = [];
  const editor = createEditor({ post: (m) => messages.push(m), frame: () => {}, timeout: () => 0, cancelTimeout: () => {} });
  editor.sender.openGate();
  applyPreset(editor, sound, null);
  return { messages, uiState: editor.uiStateObject() };
}

const lastOf = (messages, name) => messages.findLast((m) => m.name === name)?.value;

// A lane with its ties as 1 or 0: the form both the page and the native reader take.
const laneWithTieNumbers = (lane) => ({ ...lane, ties: lane.ties.map((t) => (t ? 1 : 0)) });

// The side-data JSON object: the view state the page keeps (but its theme, which belongs to the user),
// with the keys that the native side writes for the engine's own state.
function sideData({ messages, uiState }) {
  const { theme, ...view } = uiState;
  const side = { ...view, ratioSeq: laneWithTieNumbers(view.ratioSeq), seqLane1: laneWithTieNumbers(view.seqLane1) };
  for (const which of ['A', 'B']) {
    const wire = lastOf(messages, `__snapshot${which}`);
    if (wire) side[`snapshot${which}Dsp`] = JSON.parse(wire);
  }
  if (side.snapshotADsp || side.snapshotBDsp) side.morphAuthority = 1;
  const embedded = lastOf(messages, '__tuningEmbed');
  if (embedded) {
    const t = JSON.parse(embedded);
    side.localTuning = { intervals: t.intervals, period: t.period, scaleSize: t.intervals.length, name: t.name,
      filename: '', source: 'embed' };
  }
  return side;
}

// Plain values of the 119 parameters: defaults, then every parameter message of the page.
function parameterValues(messages) {
  const values = tables.rows.map((row) => row.def);
  for (const { name, value } of messages) {
    const id = tables.names.get(name);
    if (id === undefined || typeof value !== 'number') continue;
    const row = tables.rows[id];
    values[id] = row.min + Math.min(1, Math.max(0, value)) * (row.max - row.min);
  }
  return values;
}

function streamBytes(values, json) {
  const text = Buffer.from(JSON.stringify(json), 'utf8');
  if (text.length > kMaxSideData) throw new Error(`side data of ${text.length} bytes is too long for a stream`);
  const head = Buffer.alloc(12 + 8 * values.length + 4 * kControllers + 4);
  let at = head.write('TVRN', 0, 'latin1');
  at = head.writeUInt32LE(kStreamVersion, at);
  at = head.writeUInt32LE(values.length, at);
  for (const v of values) at = head.writeDoubleLE(v, at);
  const map = new Array(kControllers).fill(kUnmapped);
  for (const [cc, id] of tables.cc) map[cc] = id;
  for (const word of map) at = head.writeUInt32LE(word, at);
  head.writeUInt32LE(text.length, at);
  const kit = Buffer.alloc(1 + 4 + 4 + kKitSlots);
  kit.writeInt32LE(kKitBaseKey, 1);
  kit.writeUInt32LE(kKitSlots, 5);
  return Buffer.concat([head, text, kit]);
}

// The plain parameter values and the side data of a preset text; throws when the text is not a preset
// or uses what a stream cannot carry.
export function presetStateParts(text) {
  tables ??= nativeTables();
  const sound = readPreset(text);
  if (!sound) throw new Error('not a preset');
  const problems = unsupportedFeatures(sound);
  if (problems.length > 0) throw new Error(`cannot be carried by a state stream: ${problems.join('; ')}`);
  const page = appliedPage(sound);
  return { values: parameterValues(page.messages), side: sideData(page) };
}

// A preset's Output Gain and the top of its range, plain.
export function presetOutputGain(text) {
  const { values } = presetStateParts(text);
  return { gain: values[tables.outputGain], top: tables.rows[tables.outputGain].max };
}

// The stream of a preset text; gainScale multiplies its Output Gain, in the morph poles as well (a
// quieter copy of the same sound).
export function presetToState(text, gainScale = 1) {
  const { values, side } = presetStateParts(text);
  values[tables.outputGain] *= gainScale;
  for (const pole of [side.snapshotADsp, side.snapshotBDsp]) if (pole) pole.gain *= gainScale;
  return streamBytes(values, side);
}

if (process.argv[1] === fileURLToPath(import.meta.url)) {
  const [input, output] = process.argv.slice(2);
  if (!input || !output) {
    console.error('usage: node tools/bank/presetState.mjs PRESET.nobrel OUT.state');
    process.exit(2);
  }
  try {
    writeFileSync(output, presetToState(readFileSync(input, 'utf8')));
  } catch (e) {
    console.error(`presetState: ${input}: ${e.message}`);
    process.exit(1);
  }
}
