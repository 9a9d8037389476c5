// The two envelopes, their curves, delays, holds, trigger modes and tempo divisions.
import { K, useEditorModel, useEditorState, useLive } from './bind.jsx';
import { Choice, Section } from './controls.jsx';

const kStages = ['delay', 'attack', 'hold', 'decay', 'sustain', 'release', 'idle'];

function Envelope({ n }) {
  const live = useLive();
  const { sound } = useEditorState();
  const env = live.env;
  const [value, stage] = n === 1 ? [env.envValue, env.envStage] : [env.env2Value, env.env2Stage];
  const p = `env${n}`;
  const [a, d, s, r] = n === 1 ? ['attack', 'decay', 'sustain', 'release'] : ['env2Attack', 'env2Decay', 'env2Sustain', 'env2Release'];
  const synced = sound.knobs[`${p}Sync`] === 1;
  return (
    <Section title={n === 1 ? 'ENV 1 · AMP' : 'ENV 2 · MOD'} className="env"
      extra={<span className="playhead"><i style={{ width: `${Math.round(Math.min(1, value) * 100)}%` }} />{kStages[stage] ?? ''}</span>}>
      <div className="row">
        <K k={`${p}Delay`} label="Delay" />
        <K k={a} label="Attack" />
        <K k={`${p}Hold`} label="Hold" />
        <K k={d} label="Decay" />
        <K k={s} label="Sustain" />
        <K k={r} label="Release" />
        <K k={`${p}KeyTrack`} label="Key Trk" />
      </div>
      <div className="row">
        <K k={`${p}CurveA`} label="Curve A" small />
        <K k={`${p}CurveD`} label="Curve D" small />
        <K k={`${p}CurveR`} label="Curve R" small />
        {n === 1 && <K k="env1Curve" label="Curve" small />}
        <K k={`${p}TrigMode`} label="Trigger" />
        <K k={`${p}Sync`} label="Time" />
      </div>
      <div className={synced ? 'row divs' : 'row divs dim'}>
        <K k={`${p}DivDelay`} label="Dly Div" menu />
        <K k={`${p}DivAttack`} label="Att Div" menu />
        <K k={`${p}DivHold`} label="Hold Div" menu />
        <K k={`${p}DivDecay`} label="Dec Div" menu />
        <K k={`${p}DivRelease`} label="Rel Div" menu />
      </div>
    </Section>
  );
}

export function EnvPage() {
  const editor = useEditorModel();
  const { sound } = useEditorState();
  const { env } = useLive();
  return (
    <div className="page env-page">
      <Envelope n={1} />
      <Envelope n={2} />
      <div className="env-foot">
        <Choice label="Envelope Feel" options={['classic', 'modern']} value={sound.envFeel === 2 ? 1 : 0}
          onChange={(i) => editor.setEnvFeel(i === 1 ? 2 : 1)} />
        <K k="envModel" label="Model" />
        <span className="note">note {env.note >= 0 ? Math.round(env.note) : '–'} · vel {env.vel.toFixed(2)}</span>
      </div>
    </div>
  );
}
