// Snapshot records (a captured sound for morphing, as the document keeps it and stores it in presets),
// their wire form for the engine, and the morph display between two records.
import {
  clamp, defaultKnob, isNum, kKnobKeys, kKnobs, kLfoMembers, kRoutes, sanitiseKnob, toNormalised,
} from './params.js';
import { readRoutes, routeValue } from './sound.js';

const kLaneNumbers = ['freeRate', 'syncDiv', 'runMode', 'stepCount', 'target'];

// A lane as a snapshot record keeps it: five numbers, at most 8 steps (0..1, non-numbers 0) and ties.
function readRecordLane(lane) {
  if (!lane || typeof lane !== 'object' || Array.isArray(lane)) return undefined;
  const out = {};
  for (const key of kLaneNumbers) if (isNum(lane[key])) out[key] = lane[key];
  if (Array.isArray(lane.steps)) out.steps = lane.steps.slice(0, 8).map((v) => (isNum(v) ? clamp(v, 0, 1) : 0));
  if (Array.isArray(lane.ties)) out.ties = lane.ties.slice(0, 8).map((t) => (t === true || t === 1 ? 1 : 0));
  return out;
}

// A snapshot record from any value: every knob key (missing ones at their default), route objects and
// lanes; other members dropped. Not an object gives null.
export function readSnapshotRecord(raw) {
  if (!raw || typeof raw !== 'object' || Array.isArray(raw)) return null;
  const record = {};
  for (const key of kKnobKeys) record[key] = key in raw ? sanitiseKnob(key, raw[key]) : defaultKnob(key);
  if (raw._modStarts && typeof raw._modStarts === 'object') record._modStarts = readRoutes(raw._modStarts);
  if (raw._modDepths && typeof raw._modDepths === 'object') record._modDepths = readRoutes(raw._modDepths);
  const lane0 = readRecordLane(raw._ratioSeq);
  const lane1 = readRecordLane(raw._seqLane1);
  if (lane0) record._ratioSeq = lane0;
  if (lane1) record._seqLane1 = lane1;
  return record;
}

// The record of the sound as it is now.
export function captureSnapshotRecord(sound) {
  const laneOf = (lane) => ({
    freeRate: lane.freeRate, syncDiv: lane.syncDiv, runMode: lane.runMode, stepCount: lane.stepCount,
    target: lane.target ?? 0, steps: lane.steps.slice(0, 8), ties: lane.ties.slice(0, 8).map((t) => (t ? 1 : 0)),
  });
  return {
    ...structuredClone(sound.knobs), _modStarts: { ...sound.modStarts }, _modDepths: { ...sound.modDepths },
    _ratioSeq: laneOf(sound.lanes[0]), _seqLane1: laneOf(sound.lanes[1]),
  };
}

// Bridge values of one LFO record.
export function lfoWireValues(index, lfo) {
  const prefix = `lfo${index + 1}`;
  const wire = { rate: lfo.rate, pattern: lfo.pattern / 9, slew: lfo.slew ? 1 : 0, phase: lfo.phase, delay: lfo.delay,
    mode: Math.min(lfo.mode, 1) / 2 };
  return kLfoMembers.map(([member, suffix]) => [prefix + suffix, wire[member]]);
}

// A route drives its target when its source is an envelope or an LFO that is switched on.
export function routeLive(sourceIndex, lfos) {
  return sourceIndex >= 2 || lfos[sourceIndex]?.enabled !== false;
}

// Start and end values of a route for the engine: the given start and depth when live, else 0.
export function routeWireValues(route, sourceIndex, lfos, starts, depths) {
  const live = routeLive(sourceIndex, lfos);
  return [[route.start, live ? routeValue(starts, route.route) : 0], [route.end, live ? routeValue(depths, route.route) : 0]];
}

function laneWire(json, lane, prefix) {
  if (!lane || !Array.isArray(lane.steps) || lane.steps.length === 0) return;
  const count = clamp(isNum(lane.stepCount) ? Math.round(lane.stepCount) : lane.steps.length, 0, 8);
  const steps = lane.steps.slice(0, count);
  if (steps.length === 0) return;
  json[`${prefix}_steps`] = steps;
  json[`${prefix}_ties`] = steps.map((_, i) => (lane.ties?.[i] === true || lane.ties?.[i] === 1 ? 1 : 0));
}

// The flat wire JSON of a record for the engine: knob keys normalised, route start and end keys, LFO
// keys, lane steps and ties, and the capture sequence when given.
export function snapshotWireJson(record, sound, captureSeq) {
  const json = {};
  for (const key of kKnobKeys) if (isNum(record[key])) json[key] = toNormalised(key, record[key]);
  const starts = record._modStarts ?? sound.modStarts;
  const depths = record._modDepths ?? sound.modDepths;
  for (const route of kRoutes) {
    const source = isNum(record[route.source]) ? record[route.source] : sound.knobs[route.source];
    for (const [key, value] of routeWireValues(route, source, sound.lfos, starts, depths)) json[key] = value;
  }
  sound.lfos.forEach((lfo, i) => { for (const [key, value] of lfoWireValues(i, lfo)) json[key] = value; });
  laneWire(json, record._ratioSeq ?? sound.lanes[0], '__seq0');
  const lane1 = record._seqLane1 ?? sound.lanes[1];
  laneWire(json, lane1, '__seq1');
  if (json.__seq1_steps) json.__seq1_target = isNum(lane1.target) ? lane1.target : 0;
  if (isNum(captureSeq)) json.__seq = captureSeq;
  return JSON.stringify(json);
}

// Knob values shown at fader position t between records a and b: discrete keys jump at one half,
// continuous keys move linearly.
export function morphKnobs(a, b, t) {
  const out = {};
  for (const key of kKnobKeys) {
    out[key] = kKnobs.get(key).discrete ? (t < 0.5 ? a[key] : b[key]) : a[key] + t * (b[key] - a[key]);
  }
  return out;
}
