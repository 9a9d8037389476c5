// Engine values pushed about 30 times a second (meters, LFO outputs, sequencer positions, envelope
// playheads, modulation positions, lamps, kit playhead). Kept apart from the editing state so that the
// push redraws only the displays that read it.
import { isNum } from './params.js';

export function defaultLive() {
  return {
    voices: new Array(8).fill(0), levels: [0, 0, 0, 0], lfo: [0, 0, 0, 0], seqStep: [0, 0, 0],
    seqState: [{ active: false, vals: [] }, { active: false, vals: [] }], keyTrack: [0, 0], modPos: [0, 0],
    oscModPos: new Array(7).fill(0), env: { envValue: 0, envStage: 6, envPos: 0, env2Value: 0, env2Stage: 6, env2Pos: 0,
      note: -1, vel: 0 },
    mts: false, limiter: false, kitPlayhead: 0,
  };
}

// Finite numbers of a list, or null when the value is not a list of that length.
export function numbers(value, length) {
  if (!Array.isArray(value) || value.length !== length) return null;
  return value.every(isNum) ? value.slice() : null;
}

export function createLiveStore() {
  let live = defaultLive();
  const listeners = new Set();
  return {
    get: () => live,
    subscribe(fn) { listeners.add(fn); return () => listeners.delete(fn); },
    update(patch) {
      live = { ...live, ...patch };
      for (const fn of listeners) fn();
    },
  };
}
