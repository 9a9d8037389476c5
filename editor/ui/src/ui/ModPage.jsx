// The two LFOs and the modulation routes.
import { K, useEditorModel, useEditorState, useLearn, useLive } from './bind.jsx';
import { Choice, Knob, Menu, Section, Toggle } from './controls.jsx';
import { kLabels, kRoutes } from '../core/params.js';
import { formatLfoRate } from '../core/format.js';
import { routeLive } from '../core/snapshot.js';

const kRouteTitles = { ratio: 'Ratio', fold: 'Fold', foldBias: 'Fold Bias', feedback: 'Feedback', shape: 'Shape',
  fmIndex: 'FM', foldChar: 'Fold Char', cutoffA: 'Cutoff A', cutoffB: 'Cutoff B' };
const pct = (v) => `${Math.round(v * 100)}%`;

function Lfo({ index }) {
  const editor = useEditorModel();
  const { sound } = useEditorState();
  const lfoOut = useLive((l) => l.lfo);
  const lfo = sound.lfos[index];
  const edit = (patch) => editor.editLfo(index, patch);
  return (
    <Section title={`LFO ${index + 1}`} className={lfo.enabled ? 'lfo' : 'lfo off'}
      extra={<Toggle label={lfo.enabled ? 'ON' : 'OFF'} on={lfo.enabled} onChange={(enabled) => edit({ enabled })} />}>
      <Knob label="Rate" value={lfo.rate} text={formatLfoRate(lfo.rate, lfo.mode)} def={0.5}
        onChange={(rate) => edit({ rate })} learn={useLearn(`lfo${index + 1}Rate`)} />
      <Knob label="Phase" value={lfo.phase} text={pct(lfo.phase)} onChange={(phase) => edit({ phase })}
        learn={useLearn(`lfo${index + 1}PhaseOff`)} />
      <Knob label="Delay" value={lfo.delay} text={pct(lfo.delay)} onChange={(delay) => edit({ delay })}
        learn={useLearn(`lfo${index + 1}Delay`)} />
      <div className="lfo-side">
        <Menu label="Pattern" options={kLabels.lfoPatterns} value={lfo.pattern} onChange={(pattern) => edit({ pattern })} />
        <Choice options={kLabels.lfoModes} value={lfo.mode} onChange={(mode) => edit({ mode })} />
        <Toggle label="SLEW" on={lfo.slew} onChange={(slew) => edit({ slew })} />
      </div>
      <div className="lfo-meter" title="LFO output">
        <i style={{ height: `${Math.round(lfoOut[index] * 100)}%` }} />
        <b style={{ left: `${Math.round(lfoOut[2 + index] * 100)}%` }} />
      </div>
    </Section>
  );
}

function Route({ route }) {
  const editor = useEditorModel();
  const { sound } = useEditorState();
  const start = sound.modStarts[route.route] ?? 0;
  const depth = sound.modDepths[route.route] ?? 0;
  const live = routeLive(sound.knobs[route.source], sound.lfos);
  return (
    <div className={live ? 'route' : 'route dead'}>
      <span className="route-name">{kRouteTitles[route.route]}</span>
      <K k={route.source} menu />
      <Knob small label="Start" value={start} text={pct(start)} onChange={(v) => editor.editRoute(route.route, 'start', v)}
        learn={useLearn(route.start)} />
      <Knob small label="Depth" value={depth} text={pct(depth)} onChange={(v) => editor.editRoute(route.route, 'depth', v)}
        learn={useLearn(route.end)} />
    </div>
  );
}

export function ModPage() {
  return (
    <div className="page mod-page">
      <div className="lfos">
        <Lfo index={0} />
        <Lfo index={1} />
      </div>
      <Section title="ROUTES" className="routes">
        {kRoutes.map((route) => <Route key={route.route} route={route} />)}
        <div className="route">
          <span className="route-name">Pitch</span>
          <K k="modSourcePitch" menu />
          <K k="modPitchStart" label="Start" small />
          <K k="modPitchEnd" label="End" small />
          <K k="modPitchRange" label="Range" small />
        </div>
      </Section>
    </div>
  );
}
