// MIDI controller learn: the parameter ids the engine knows, arming and cancelling learn, and the
// controller map the native side reports.
import { isNum } from './params.js';

// Canonical parameter names in id order.
export const kParamIds = [
  'voiceMode', 'voiceCount', 'glide', 'ratio', 'fmIndex', 'fold', 'filterModeA', 'cutoffA', 'resonanceA', 'attack',
  'decay', 'sustain', 'release', 'noise', 'preDelay', 'revSpace', 'revTone', 'revMix', 'filterModeB', 'cutoffB',
  'resonanceB', 'driveA', 'keyTrackA', 'gain', 'eqLo', 'eqMid', 'eqHi', 'lfo1Rate', 'lfo1Pattern', 'lfo1Slew',
  'lfo2Rate', 'lfo2Pattern', 'lfo2Slew', 'modRatioStart', 'modRatioEnd', 'modFoldStart', 'modFoldEnd',
  'modCutoffAStart', 'modCutoffAEnd', 'modCutoffBStart', 'modCutoffBEnd', 'lfo1PhaseOff', 'lfo1Delay', 'lfo1Mode',
  'lfo2PhaseOff', 'lfo2Delay', 'lfo2Mode', 'octave', 'pitchBendRange', 'driveB', 'keyTrackB', 'crossfader', 'drift',
  'spread', 'velTimbre', 'modSourceRatio', 'modSourceFold', 'modSourceCutA', 'modSourceCutB', 'envModel', 'foldBias',
  'modFoldBiasStart', 'modFoldBiasEnd', 'modSourceFoldBias', 'env1CurveA', 'env1CurveD', 'env1CurveR', 'env1Curve',
  'env1Delay', 'env1Hold', 'env1KeyTrack', 'env1TrigMode', 'env2Attack', 'env2Decay', 'env2Sustain', 'env2Release',
  'env2Delay', 'env2Hold', 'env2CurveA', 'env2CurveD', 'env2CurveR', 'env2KeyTrack', 'env2TrigMode', 'env1Sync',
  'env1DivDelay', 'env1DivAttack', 'env1DivHold', 'env1DivDecay', 'env1DivRelease', 'env2Sync', 'env2DivDelay',
  'env2DivAttack', 'env2DivHold', 'env2DivDecay', 'env2DivRelease', 'analog', 'filterSat', 'noiseMix', 'clickAmt',
  'modPitchStart', 'modPitchEnd', 'modSourcePitch', 'modPitchRange', 'feedback', 'modFeedbackStart',
  'modFeedbackEnd', 'modSourceFeedback', 'shapeMode', 'shape', 'modShapeStart', 'modShapeEnd', 'modSourceShape',
  'modFmStart', 'modFmEnd', 'modSourceFM', 'foldChar', 'modFoldCharStart', 'modFoldCharEnd', 'modSourceFoldChar',
];

// The learn message's value for parameter id: the native side takes truncate(value x 119), so the value
// sits in the middle of the id's step.
export const learnValue = (id) => (id + 0.5) / kParamIds.length;

// Arms learn for a parameter key: the next controller moved binds to it.
export function learnController(editor, key) {
  const id = kParamIds.indexOf(key);
  if (id < 0) return;
  editor.set({ learning: key });
  editor.sender.send('__ccLearn', learnValue(id));
}

export function cancelLearn(editor) {
  editor.set({ learning: null });
  editor.sender.send('__ccLearnCancel', 1);
}

// {map: [[controller, parameter id], ...], learn: id or -1} as the state's `controllers` (parameter key
// -> its controllers) and `learning` (the key learn waits for, or null); null for anything else.
export function readControllerMap(value) {
  if (!value || typeof value !== 'object' || !Array.isArray(value.map)) return null;
  const controllers = {};
  for (const pair of value.map) {
    if (!Array.isArray(pair) || !isNum(pair[0]) || !isNum(pair[1])) continue;
    const key = kParamIds[pair[1]];
    if (key) (controllers[key] ??= []).push(pair[0]);
  }
  return { controllers, learning: kParamIds[value.learn] ?? null };
}
