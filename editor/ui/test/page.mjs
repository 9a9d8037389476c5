// A page for the module tests: the editor model with a recording poster and hand-driven frames and timers,
// its receivers installed on a plain object (holding the start state the native side handed over, if any).
import { createEditor } from '../src/core/editor.js';
import { startEditor } from '../src/core/receivers.js';

export function page({ restore = true, storage = null, startState } = {}) {
  const sent = [];
  const frames = [];
  const timers = new Map();
  let nextTimer = 1;
  const editor = createEditor({
    post: (m) => sent.push(m), frame: (fn) => frames.push(fn), storage,
    timeout: (fn) => { timers.set(nextTimer, fn); return nextTimer++; }, cancelTimeout: (id) => timers.delete(id),
  });
  const win = startState === undefined ? {} : { mlibStartState: startState };
  startEditor(win, editor, (fn) => fn());
  if (restore) win.mlibSetUIState(null);
  const flushFrames = () => { while (frames.length) frames.shift()(); };
  const flushTimers = () => { for (const [id, fn] of [...timers]) { timers.delete(id); fn(); } };
  flushFrames();
  const names = () => sent.map((m) => m.name);
  const take = () => sent.splice(0, sent.length);
  return { editor, win, sent, names, take, flushFrames, flushTimers };
}

