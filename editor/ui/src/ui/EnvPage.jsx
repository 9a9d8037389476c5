// The two envelopes, their curves, delays, holds, trigger modes and tempo divisions.
import { K, useEditorModel, useEditorState, useLive } from './bind.jsx';
import { Choice, Section } from './controls.jsx';
import { posToPlain } from '../core/params.js';

const kStages = ['delay', 'attack', 'hold', 'decay', 'sustain', 'release', 'idle'];

const kGraphW = 360;
const kGraphH = 70;

// The envelope's shape: delay, attack, hold, decay, sustain and release, with curves and the playhead.
function EnvGraph({ n, knobs, stage, pos, value }) {
  const p = `env${n}`;
  const keys = n === 1 ? ['attack', 'decay', 'sustain', 'release'] : ['env2Attack', 'env2Decay', 'env2Sustain', 'env2Release'];
  const t = (key) => posToPlain(key, knobs[key]);
  const sustain = t(keys[2]);
  const width = (sec) => 8 + 60 * Math.sqrt(sec);
  const segments = [[width(t(`${p}Delay`)), 0, 0, 0], [width(t(keys[0])), 0, 1, t(`${p}CurveA`)],
    [width(t(`${p}Hold`)), 1, 1, 0], [width(t(keys[1])), 1, sustain, t(`${p}CurveD`)], [50, sustain, sustain, 0],
    [width(t(keys[3])), sustain, 0, t(`${p}CurveR`)]];
  const scale = kGraphW / segments.reduce((sum, [w]) => sum + w, 0);
  const y = (level) => kGraphH - 4 - level * (kGraphH - 10);
  let x = 0;
  let d = `M0 ${y(0)}`;
  const starts = [];
  for (const [w, from, to, curve] of segments) {
    const x1 = x + w * scale;
    starts.push([x, x1 - x]);
    const cy = y((from + to) / 2 + curve * 0.5 * Math.abs(to - from) * (to > from ? 1 : -1));
    d += ` Q${((x + x1) / 2).toFixed(1)} ${cy.toFixed(1)} ${x1.toFixed(1)} ${y(to).toFixed(1)}`;
    x = x1;
  }
  const [sx, sw] = starts[Math.min(stage, 5)] ?? [0, 0];
  return (
    <svg className="env-graph" viewBox={`0 0 ${kGraphW} ${kGraphH}`} preserveAspectRatio="none">
      <path d={`${d} L${kGraphW} ${y(0)} L0 ${y(0)}Z`} className="area" />
      <path d={d} className="line" />
      {stage < 6 && <circle cx={sx + Math.min(1, Math.max(0, pos)) * sw} cy={y(Math.min(1, value))} r="3" className="dot" />}
    </svg>
  );
}

function Envelope({ n }) {
  const env = useLive((l) => l.env);
  const { sound } = useEditorState();
  const [value, stage, pos] = n === 1 ? [env.envValue, env.envStage, env.envPos] : [env.env2Value, env.env2Stage, env.env2Pos];
  const p = `env${n}`;
  const [a, d, s, r] = n === 1 ? ['attack', 'decay', 'sustain', 'release'] : ['env2Attack', 'env2Decay', 'env2Sustain', 'env2Release'];
  const synced = sound.knobs[`${p}Sync`] === 1;
  return (
    <Section title={n === 1 ? 'ENV 1 · AMP' : 'ENV 2 · MOD'} className="env"
      extra={<span className="playhead"><i style={{ width: `${Math.round(Math.min(1, value) * 100)}%` }} />{kStages[stage] ?? ''}</span>}>
      <EnvGraph n={n} knobs={sound.knobs} stage={stage} pos={pos} value={value} />
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
  const env = useLive((l) => l.env);
  return (
    <div className="page env-page">
      <Envelope n={1} />
      <Envelope n={2} />
      <div className="env-foot">
        <Choice label="Envelope Feel" options={['classic', 'modern']} value={sound.envFeel === 2 ? 1 : 0}
          onChange={(i) => editor.setEnvFeel(i === 1 ? 2 : 1)} />
        <span className="note">note {env.note >= 0 ? Math.round(env.note) : '–'} · vel {env.vel.toFixed(2)}</span>
      </div>
    </div>
  );
}
