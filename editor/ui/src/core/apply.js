// Applying a read preset to the editor and sending the whole sound to the engine, and saving, exporting
// and deleting presets through the bridge.
import { kKnobKeys } from './params.js';
import { writePreset } from './presetWrite.js';
import { exportFileName, newPresetPath } from './presetFiles.js';

const kLaneMembers = ['steps', 'ties', 'enabled', 'runMode', 'freeRate', 'syncDiv', 'delay', 'target', 'mode',
  'rankEncoded'];

// `sound` comes from readPreset; `path` is the file it was read from (null for an import).
export function applyPreset(editor, sound, path) {
  const { sender } = editor;
  sender.send('__uiRestoring', 1);
  try {
    sender.clear();
    editor.set({ sound, presetName: sound.name, presetPath: path, morphView: false });
    editor.snapSeq.A = 0;
    editor.snapSeq.B = 0;
    for (const key of kKnobKeys) sender.sendKnob(key, sound.knobs[key]);
    editor.sendLfo(0);
    editor.sendLfo(1);
    editor.sendRoutes();
    for (const index of [0, 1]) for (const member of kLaneMembers) editor.sendLaneMember(index, member);
    editor.sendSnapshot('A');
    editor.sendSnapshot('B');
    sender.sendParam('crossfader', sound.fader);
    sender.send('__ratioLock', sound.ratioLocked ? 1 : 0);
    editor.sendSelection();
    sender.send('__filterLockA', sound.filterLockA ? 1 : 0);
    sender.send('__filterLockB', sound.filterLockB ? 1 : 0);
    sender.send('__glideMode', sound.glideMode === 'smooth' ? 1 : 0);
    sender.send('__envFeel', sound.envFeel);
    if (sound.tuning) {
      editor.set({ tuningFile: null });
      sender.send('__tuningEmbed', JSON.stringify(sound.tuning));
    }
    sender.send('__loadEpoch', 1);
  } finally {
    editor.frame(() => sender.send('__uiRestoring', 0));
    editor.viewChanged();
  }
}

// The text of the current sound as a preset file.
export function currentPresetText(editor) {
  const state = editor.getState();
  return writePreset(state.sound, state.presetName, state.tuningShown);
}

// Saves under the loaded file's path when it is a user preset, else under a new path in the category. The
// page takes the path as its preset's, and lists again, when the native side answers that it saved.
export function savePreset(editor, category) {
  const state = editor.getState();
  const keep = state.presetPath && /(^|\/)User\//.test(state.presetPath);
  const path = keep ? state.presetPath : newPresetPath(state.presetName, category);
  editor.sender.send('__savePreset', JSON.stringify({ path, content: currentPresetText(editor) }));
}

export function exportPreset(editor, download) {
  const filename = exportFileName(editor.getState().presetName);
  const content = currentPresetText(editor);
  if (!editor.sender.send('__exportNobrel', JSON.stringify({ filename, content }))) download?.(filename, content);
}

// The list is asked for again when the native side answers that the file went.
export function deletePreset(editor, path) {
  editor.sender.send('__deletePreset', path);
}

// Asks the native side for a preset file; its answer arrives through `window.mlibPresetContent`.
export function requestPreset(editor, path) {
  editor.pendingRead = path;
  editor.sender.send('__readPreset', path);
}
