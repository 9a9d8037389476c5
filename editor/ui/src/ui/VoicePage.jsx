// The oscillator, the two filters and the voice settings.
import { K, useEditorModel, useEditorState, useLive } from './bind.jsx';
import { Section, Toggle, Choice } from './controls.jsx';

function Oscillator() {
  const oscModPos = useLive((l) => l.oscModPos);
  return (
    <Section title="OSCILLATOR" className="osc">
      <K k="ratio" label="Ratio" mod={oscModPos[0]} />
      <K k="fmIndex" label="FM" mod={oscModPos[2]} />
      <K k="feedback" label="Feedback" mod={oscModPos[4]} />
      <K k="fold" label="Fold" mod={oscModPos[1]} />
      <K k="foldBias" label="Bias" mod={oscModPos[3]} />
      <K k="foldChar" label="Char" mod={oscModPos[6]} />
      <K k="shape" label="Shape" mod={oscModPos[5]} />
      <K k="noise" label="Noise" />
      <K k="noiseMix" label="Noise Mix" />
      <K k="clickAmt" label="Click" />
      <div className="wide"><K k="shapeMode" label="Shape Mode" /></div>
    </Section>
  );
}

function Filter({ which }) {
  const editor = useEditorModel();
  const { sound } = useEditorState();
  const modPos = useLive((l) => l.modPos);
  const keyTrack = useLive((l) => l.keyTrack);
  const i = which === 'A' ? 0 : 1;
  const locked = sound[`filterLock${which}`];
  return (
    <Section title={`FILTER ${which}`} className="filter"
      extra={<Toggle label="LOCK" on={locked} title="Lock the cutoff to the tuning"
        onChange={(on) => editor.setFilterLock(which, on)} />}>
      <div className="wide"><K k={`filterMode${which}`} label="Mode" /></div>
      <K k={`cutoff${which}`} label="Cutoff" mod={modPos[i]} />
      <K k={`resonance${which}`} label="Reso" />
      <K k={`drive${which}`} label="Drive" />
      <K k={`keyTrack${which}`} label={`Key ${keyTrack[i] ? '•' : ''}`} />
    </Section>
  );
}

function Voice() {
  const editor = useEditorModel();
  const { sound } = useEditorState();
  return (
    <Section title="VOICE" className="voice">
      <div className="wide"><K k="voiceMode" label="Mode" /></div>
      <K k="voiceCount" label="Voices" menu />
      <K k="glide" label="Glide" />
      <Choice label="Glide Mode" options={['step', 'smooth']} value={sound.glideMode === 'smooth' ? 1 : 0}
        onChange={(i) => editor.setGlideMode(i === 1 ? 'smooth' : 'step')} />
      <K k="octave" label="Octave" />
      <K k="pitchBendRange" label="Bend" />
      <K k="velTimbre" label="Vel Timbre" />
    </Section>
  );
}

export function VoicePage() {
  return (
    <div className="page voice-page roomy">
      <Oscillator />
      <div className="filters">
        <Filter which="A" />
        <Filter which="B" />
        <Section title="FILTERS" className="filtersat"><K k="filterSat" label="Saturation" /></Section>
      </div>
      <Voice />
    </div>
  );
}
