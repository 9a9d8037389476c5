// Hooks and bound controls: a knob key on the faceplate, wired to the editor model.
import { createContext, useContext, useSyncExternalStore } from 'react';
import { defaultKnob, kKnobs } from '../core/params.js';
import { discreteLabels, formatKnob } from '../core/format.js';
import { cancelLearn, learnController } from '../core/controllers.js';
import { Choice, Knob, Menu } from './controls.jsx';

export const EditorContext = createContext(null);
export const useEditorModel = () => useContext(EditorContext);

export function useEditorState() {
  const editor = useEditorModel();
  return useSyncExternalStore(editor.subscribe, editor.getState);
}

// One display's part of the pushed values: a display re-renders only when its part changed (a push
// replaces only the parts it carries).
export function useLive(select) {
  const editor = useEditorModel();
  return useSyncExternalStore(editor.live.subscribe, () => select(editor.live.get()));
}

// Controller learn for a parameter key, as the controls take it.
export function useLearn(key) {
  const editor = useEditorModel();
  const { controllers, learning } = useEditorState();
  const waiting = learning === key;
  const ccs = controllers[key];
  return {
    waiting, tag: waiting ? 'CC?' : ccs ? `CC${ccs.join(',')}` : null,
    onLearn: () => (waiting ? cancelLearn(editor) : learnController(editor, key)),
  };
}

// A knob key: a rotary knob for continuous keys, a choice strip or a menu for discrete ones.
export function K({ k, label, mod, menu, small }) {
  const editor = useEditorModel();
  const learn = useLearn(k);
  const value = editor.shownKnobs()[k];
  const info = kKnobs.get(k);
  const onChange = (v) => editor.editKnob(k, v);
  if (info.discrete) {
    const options = discreteLabels(k);
    return menu || options.length > 4
      ? <Menu label={label} options={options} value={value} onChange={onChange} learn={learn} />
      : <Choice label={label} options={options} value={value} onChange={onChange} learn={learn} />;
  }
  return <Knob label={label} value={value} text={formatKnob(k, value)} onChange={onChange} def={defaultKnob(k)} mod={mod}
    small={small} bipolar={info.min < 0} learn={learn} />;
}
