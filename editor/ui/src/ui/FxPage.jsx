// Reverb, EQ, output and the kit slots.
import { K, useEditorState, useLive } from './bind.jsx';
import { Lamp, Section } from './controls.jsx';

function Kit() {
  const { kit } = useEditorState();
  const { afxPlayhead } = useLive();
  const present = new Map(kit.slots.map((s) => [s.slot, s]));
  return (
    <Section title="KIT" className="kit" extra={<Lamp on={kit.afxMode} label="kit mode" />}>
      <div className="slots">
        {Array.from({ length: 24 }, (_, i) => {
          const slot = present.get(i);
          const cls = `slot${slot ? ' present' : ''}${afxPlayhead & (1 << i) ? ' hit' : ''}`;
          return (
            <span key={i} className={cls} title={slot ? `slot ${i + 1}: note ${slot.note}` : `slot ${i + 1}: empty`}>
              {i + 1}<small>{slot ? `key ${slot.note}` : '—'}</small>
            </span>
          );
        })}
      </div>
      <div className="note">base key {kit.baseKey}</div>
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
