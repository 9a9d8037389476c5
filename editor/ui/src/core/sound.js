// The sound state the document keeps: knob values, LFO records, route starts and depths, the two
// sequencer lanes, morph snapshots and fader, ratio lock, glide mode, envelope feel, filter locks and an
// embedded tuning. Plain objects; every function here returns fresh copies.
import { clamp, defaultKnobs, isNum, kRouteNames } from './params.js';

export const kLaneSteps = 8;

// One LFO record: rate, phase and delay 0..1, pattern 0-9, mode 0 free / 1 sync.
export function defaultLfo(rate = 0.5) {
  return { rate, phase: 0, delay: 0, pattern: 0, mode: 0, slew: false, enabled: true };
}

export function zeroRoutes(names = kRouteNames) {
  return Object.fromEntries(names.map((name) => [name, 0]));
}

// Lane 0 drives the ratio; lane 1 one of five targets. Free rate in Hz, sync division 0..18, delay
// division in beats (0 = none) with a whole multiplier.
export function defaultLane(index) {
  const lane = {
    steps: new Array(kLaneSteps).fill(0), stepCount: kLaneSteps, triggerKey: -1, delayDiv: 0, delayMul: 1,
    snapEnabled: index === 0, enabled: false, runMode: 1, freeRate: 1, syncDiv: 9,
    ties: new Array(kLaneSteps).fill(false),
  };
  if (index === 0) Object.assign(lane, { mode: 'bipolar', rankEncoded: false });
  else lane.target = 0;
  return lane;
}

export function defaultSound() {
  return {
    name: 'Untitled', knobs: defaultKnobs(), lfos: [defaultLfo(), defaultLfo()],
    modStarts: zeroRoutes(), modDepths: zeroRoutes(), lanes: [defaultLane(0), defaultLane(1)],
    snapshotA: null, snapshotB: null, fader: 0, ratioLocked: false, selectedDegrees: [],
    glideMode: 'step', envFeel: 2, filterLockA: false, filterLockB: false, tuning: null,
  };
}

export const routeValue = (routes, name) => (routes && isNum(routes[name]) ? routes[name] : 0);

// Numeric members of a stored route object, for the known route names only.
export function readRoutes(obj) {
  const out = {};
  if (!obj || typeof obj !== 'object') return out;
  for (const name of kRouteNames) if (isNum(obj[name])) out[name] = obj[name];
  return out;
}

// Ties rebuilt to exactly `count` booleans: padded with false, cut when longer.
export function fitTies(ties, count) {
  const src = Array.isArray(ties) ? ties : [];
  return Array.from({ length: count }, (_, i) => src[i] === true || src[i] === 1);
}

// A stored lane laid over the lane's defaults; members of the wrong kind are ignored. Steps keep at most
// `maxSteps` finite numbers clamped to 0..1 and are padded to eight.
export function readLane(index, stored, maxSteps = kLaneSteps) {
  const lane = defaultLane(index);
  if (!stored || typeof stored !== 'object' || Array.isArray(stored)) return lane;
  const numbers = ['triggerKey', 'delayDiv', 'delayMul', 'runMode', 'freeRate', 'syncDiv'];
  if (index === 1) numbers.push('target');
  for (const key of numbers) if (isNum(stored[key])) lane[key] = stored[key];
  for (const key of ['snapEnabled', 'enabled', 'rankEncoded']) {
    if (key in lane && typeof stored[key] === 'boolean') lane[key] = stored[key];
  }
  if (index === 0) lane.mode = stored.mode === 'absolute' ? 'absolute' : 'bipolar';
  if (Array.isArray(stored.steps)) {
    const steps = stored.steps.filter(isNum).slice(0, maxSteps).map((v) => clamp(v, 0, 1));
    while (steps.length < kLaneSteps) steps.push(0);
    lane.steps = steps;
  }
  if (isNum(stored.stepCount)) lane.stepCount = clamp(Math.round(stored.stepCount), 0, kLaneSteps);
  lane.runMode = clamp(Math.round(lane.runMode), 0, 3);
  lane.syncDiv = clamp(Math.round(lane.syncDiv), 0, 18);
  if (index === 1) lane.target = clamp(Math.round(lane.target), 0, 4);
  lane.ties = fitTies(stored.ties, lane.stepCount);
  return lane;
}
