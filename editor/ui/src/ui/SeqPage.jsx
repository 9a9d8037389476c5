// The two sequencer lanes, the ratio lock with its degree selection, and the tuning.
import { useRef } from 'react';
import { useEditorModel, useEditorState, useLive } from './bind.jsx';
import { Choice, Knob, Lamp, Menu, Section, Toggle } from './controls.jsx';
import { kLabels } from '../core/params.js';

const kDelayBeats = [0, 0.25, 0.5, 1, 2, 4];
const kDelayLabels = ['off', '1/16', '1/8', '1/4', '1/2', '1 bar'];
const kRateMin = Math.log(0.1);
const kRateMax = Math.log(50);
const rateToPos = (hz) => (Math.log(Math.min(50, Math.max(0.1, hz))) - kRateMin) / (kRateMax - kRateMin);
const posToRate = (p) => Math.round(Math.exp(kRateMin + p * (kRateMax - kRateMin)) * 100) / 100;
const kOctaves = [2, 1, 0, -1];

// Eight step bars: press and drag to draw values across the steps; the tie buttons below.
function Steps({ index, lane, edit }) {
  const morph = useLive((l) => l.seqState[index]);
  const step = useLive((l) => l.seqStep[index]);
  const drawing = useRef(false);
  const draw = (e) => {
    const r = e.currentTarget.getBoundingClientRect();
    const i = Math.min(7, Math.max(0, Math.floor(((e.clientX - r.left) / r.width) * 8)));
    const v = Math.min(1, Math.max(0, 1 - (e.clientY - r.top) / r.height));
    const steps = lane.steps.slice();
    steps[i] = Math.round(v * 1000) / 1000;
    edit({ steps });
  };
  return (
    <div className="steps">
      <div className="bars"
        onPointerDown={(e) => { e.currentTarget.setPointerCapture(e.pointerId); drawing.current = true; draw(e); }}
        onPointerMove={(e) => { if (drawing.current) draw(e); }} onPointerUp={() => { drawing.current = false; }}>
        {lane.steps.slice(0, 8).map((v, i) => (
          <div key={i} className={`bar${i >= lane.stepCount ? ' unused' : ''}${step === i && lane.enabled ? ' now' : ''}`}>
            <i style={{ height: `${Math.round(v * 100)}%` }} />
            {morph.active && i < morph.vals.length && <b style={{ bottom: `${Math.round(morph.vals[i] * 100)}%` }} />}
          </div>
        ))}
      </div>
      <div className="ties">
        {lane.steps.slice(0, 8).map((_, i) => (
          <button type="button" key={i} disabled={i >= lane.stepCount} className={lane.ties[i] ? 'on' : ''} title="Tie into the next step"
            onClick={() => { const ties = lane.ties.slice(); ties[i] = !ties[i]; edit({ ties }); }}>⌒</button>
        ))}
      </div>
    </div>
  );
}

function Lane({ index }) {
  const editor = useEditorModel();
  const { sound } = useEditorState();
  const lane = sound.lanes[index];
  const edit = (patch) => editor.editLane(index, patch);
  const delayIndex = Math.max(0, kDelayBeats.indexOf(lane.delayDiv));
  return (
    <Section title={index === 0 ? 'LANE 1 · RATIO' : 'LANE 2'} className="lane"
      extra={<Toggle label={lane.enabled ? 'RUN' : 'STOP'} on={lane.enabled} onChange={(enabled) => edit({ enabled })} />}>
      <Steps index={index} lane={lane} edit={edit} />
      <div className="lane-controls">
        <Choice options={kLabels.runModes} value={lane.runMode} onChange={(runMode) => edit({ runMode })} />
        <div className="row">
          <Menu label="Steps" options={['0', '1', '2', '3', '4', '5', '6', '7', '8']} value={lane.stepCount}
            onChange={(stepCount) => edit({ stepCount })} />
          {lane.runMode === 3
            ? <Menu label="Div" options={kLabels.seqDivisions} value={lane.syncDiv} onChange={(syncDiv) => edit({ syncDiv })} />
            : <Knob small label="Rate" value={rateToPos(lane.freeRate)} text={`${lane.freeRate} Hz`} def={rateToPos(1)}
              onChange={(p) => edit({ freeRate: posToRate(p) })} />}
        </div>
        <div className="row">
          <Menu label="Delay" options={kDelayLabels} value={delayIndex} onChange={(i) => edit({ delayDiv: kDelayBeats[i] })} />
          <Menu label="x" options={['1', '2', '3', '4', '5', '6', '7', '8']} value={Math.max(0, lane.delayMul - 1)}
            onChange={(i) => edit({ delayMul: i + 1 })} />
        </div>
        {index === 0 ? (
          <div className="row">
            <Choice options={['bipolar', 'absolute']} value={lane.mode === 'absolute' ? 1 : 0}
              onChange={(i) => edit({ mode: i === 1 ? 'absolute' : 'bipolar' })} />
            <Toggle label="RANK" on={lane.rankEncoded} title="Steps pick ratio steps by rank"
              onChange={(rankEncoded) => edit({ rankEncoded })} />
          </div>
        ) : (
          <Menu label="Target" options={kLabels.laneTargets} value={lane.target} onChange={(target) => edit({ target })} />
        )}
      </div>
    </Section>
  );
}

function RatioLock() {
  const editor = useEditorModel();
  const state = useEditorState();
  const mts = useLive((l) => l.mts);
  const { sound, tuningShown } = state;
  const size = Math.min(24, tuningShown?.scaleSize > 0 ? tuningShown.scaleSize : state.scaleDegrees);
  const label = (d) => tuningShown?.labels?.[d] || String(d);
  const selected = (d, o) => sound.selectedDegrees.some(([sd, so]) => sd === d && so === o);
  const tuningOptions = ['none', ...state.tuningList];
  const tuningIndex = state.tuningFile ? Math.max(0, state.tuningList.indexOf(state.tuningFile) + 1) : 0;
  return (
    <Section title="TUNING · RATIO LOCK" className="ratiolock"
      extra={<Toggle label="LOCK" on={sound.ratioLocked} onChange={(on) => editor.setRatioLocked(on)} />}>
      <div className="row">
        <Menu label="Scale" options={tuningOptions} value={tuningIndex}
          onChange={(i) => editor.chooseTuning(i === 0 ? null : state.tuningList[i - 1])} />
        <Lamp on={mts} label="MTS" />
      </div>
      <div className="tuning-name" title={tuningShown?.source ?? ''}>
        {tuningShown ? `${tuningShown.name || 'tuning'} · ${tuningShown.scaleSize} notes` : '12-TET'}
        {state.mtsNeedsUpdate ? ' · update MTS-ESP' : ''}
      </div>
      <div className="degrees" style={{ gridTemplateColumns: `28px repeat(${size}, 1fr)` }}>
        {kOctaves.map((o) => [
          <span key={`o${o}`} className="oct">{o >= 0 ? `+${o}` : o}</span>,
          ...Array.from({ length: size }, (_, d) => (
            <button type="button" key={`${o}-${d}`} className={selected(d, o) ? 'on' : ''} title={`degree ${d}, octave ${o}`}
              onClick={() => editor.toggleDegree(d, o)}>{label(d)}</button>
          )),
        ])}
      </div>
      <div className="note">{sound.selectedDegrees.length}/8 selected</div>
    </Section>
  );
}

export function SeqPage() {
  return (
    <div className="page seq-page">
      <Lane index={0} />
      <Lane index={1} />
      <RatioLock />
    </div>
  );
}
