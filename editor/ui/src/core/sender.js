// The document's side of the bridge: posts {name, value} messages to the native handler "mlib" when one
// exists, drops repeats and echoes through the sent-value map, and holds edits back until the native side
// has answered with the stored view state.
import { toNormalised } from './params.js';

const kEpsilon = 1e-6;

// Messages allowed before the view state has been restored: start-up and browser requests.
const kEarly = new Set(['__ready', '__ratioSelection', '__listTunings', '__listPresets', '__readPreset',
  '__keyboard', '__importNobrel', '__exportNobrel', '__openPresetsFolder']);

export function createSender(post) {
  const sentValues = new Map();
  let open = false;

  // `extra` adds keys to the message (a slot snapshot's note).
  function send(name, value, extra = null) {
    if (!post || (!open && !kEarly.has(name))) return false;
    post(extra ? { name, value, ...extra } : { name, value });
    return true;
  }

  // A normalised parameter value; nothing is sent when the map holds a value within 1e-6.
  function sendParam(key, value) {
    const last = sentValues.get(key);
    if (last !== undefined && Math.abs(last - value) < kEpsilon) return;
    if (send(key, value)) sentValues.set(key, value);
  }

  return {
    send,
    sendParam,
    sendKnob: (key, knobValue) => sendParam(key, toNormalised(key, knobValue)),
    // A value that came from the engine: recorded, so that the same value is not sent back.
    received: (key, value) => sentValues.set(key, value),
    clear: () => sentValues.clear(),
    openGate: () => { open = true; },
  };
}

// The poster of the page: the web view's message handler, or null outside a web view.
export function nativePoster(win) {
  const handler = win?.webkit?.messageHandlers?.mlib;
  if (!handler || typeof handler.postMessage !== 'function') return null;
  return (message) => {
    try { handler.postMessage(message); } catch { /* a closed web view drops the message */ }
  };
}
