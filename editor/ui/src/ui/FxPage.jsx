// Reverb, EQ, output and the kit slots.
import { K, useEditorModel, useEditorState, useLive } from './bind.jsx';
import { Knob, Menu, Section, Toggle } from './controls.jsx';
import {
  armSlot, auditionSlot, clearSlot, kitSlot, kKitSlots, kSlotGainMax, loadKitFile, saveKitFile, setBaseKey, setKitMode,
  setSlotGain, setSlotNote, setSlotPan, snapSlot,
} from '../core/kit.js';

const kNoteNames = ['C', 'C#', 'D', 'D#', 'E', 'F', 'F#', 'G', 'G#', 'A', 'A#', 'B'];
const kNotes = Array.from({ length: 128 }, (_, n) => `${kNoteNames[n % 12]}${Math.floor(n / 12) - 2} · ${n}`);
const panText = (p) => (Math.abs(p - 0.5) < 0.005 ? 'C' : p < 0.5 ? `L${Math.round((0.5 - p) * 200)}` : `R${Math.round((p - 0.5) * 200)}`);

// The armed slot: its note, gain and pan, what the native side reported of its sound, and its actions.
function ArmedSlot({ index }) {
  const editor = useEditorModel();
  const { kit } = useEditorState();
  const slot = kitSlot(kit, index);
  const values = slot.params ? Object.keys(slot.params).length : null;
  return (
    <div className="armed">
      <span className="armed-name">SLOT {index + 1}</span>
      <Menu label="Note" options={kNotes} value={slot.note} onChange={(n) => setSlotNote(editor, index, n)} />
      <Knob small label="Gain" value={slot.gain / kSlotGainMax} text={`x${slot.gain.toFixed(2)}`} def={1 / kSlotGainMax}
        onChange={(v) => setSlotGain(editor, index, v * kSlotGainMax)} />
      <Knob small label="Pan" value={slot.pan} text={panText(slot.pan)} def={0.5} bipolar
        onChange={(v) => setSlotPan(editor, index, v)} />
      <button type="button" className="audition" title="Play the slot" onClick={() => auditionSlot(editor, index)}>PLAY</button>
      <button type="button" className="snap" title="Store the current sound in the slot" onClick={() => snapSlot(editor, index)}>SNAP</button>
      <button type="button" className="clear" title="Empty the slot" disabled={!slot.present}
        onClick={() => clearSlot(editor, index)}>CLEAR</button>
      <span className="note">{!slot.present ? 'empty' : values === null ? 'holds a sound' : `holds a sound · ${values} values`}</span>
    </div>
  );
}

function Kit() {
  const editor = useEditorModel();
  const { kit, kitArmed } = useEditorState();
  const kitPlayhead = useLive((l) => l.kitPlayhead);
  const head = (
    <span className="kit-head">
      <Menu title="Base key: the key that plays slot 1" options={kNotes} value={kit.baseKey} onChange={(k) => setBaseKey(editor, k)} />
      <button type="button" className="kit-save" title="Save the kit to a file" onClick={() => saveKitFile(editor)}>SAVE</button>
      <button type="button" className="kit-load" title="Load a kit file" onClick={() => loadKitFile(editor)}>LOAD</button>
      <Toggle label="KIT MODE" on={kit.afxMode} onChange={(on) => setKitMode(editor, on)} />
    </span>
  );
  return (
    <Section title="KIT" className="kit" extra={head}>
      <div className="slots">
        {Array.from({ length: kKitSlots }, (_, i) => {
          const slot = kitSlot(kit, i);
          const cls = `slot${slot.present ? ' present' : ''}${kitPlayhead & (1 << i) ? ' hit' : ''}${i === kitArmed ? ' armed' : ''}`;
          return (
            <button type="button" key={i} className={cls} onClick={() => armSlot(editor, i)}
              title={slot.present ? `slot ${i + 1}: note ${slot.note}` : `slot ${i + 1}: empty`}>
              {i + 1}<small>{slot.present ? kNotes[slot.note].split(' ')[0] : '—'}</small>
            </button>
          );
        })}
      </div>
      <ArmedSlot index={kitArmed} />
    </Section>
  );
}

export function FxPage() {
  return (
    <div className="page fx-page roomy">
      <Section title="REVERB" className="reverb">
        <K k="preDelay" label="Pre-Delay" />
        <K k="revSpace" label="Space" />
        <K k="revTone" label="Tone" />
        <K k="revMix" label="Mix" />
      </Section>
      <Section title="EQ" className="eq">
        <K k="eqLo" label="Low" />
        <K k="eqMid" label="Mid" />
        <K k="eqHi" label="High" />
      </Section>
      <Section title="OUTPUT" className="output">
        <K k="gain" label="Gain" />
        <K k="spread" label="Spread" />
        <K k="drift" label="Drift" />
        <K k="analog" label="Analog" />
      </Section>
      <Kit />
    </div>
  );
}
