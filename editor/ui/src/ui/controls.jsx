// Faceplate controls: the rotary knob, the choice strip, the toggle, the menu and the lamp.
import { useRef } from 'react';

const kDragPixels = 160;
const kArc = 270;

function arcPath(r, from, to) {
  const point = (deg) => {
    const a = ((deg - 90) * Math.PI) / 180;
    return [18 + r * Math.cos(a), 18 + r * Math.sin(a)];
  };
  const [x0, y0] = point(from);
  const [x1, y1] = point(to);
  return `M${x0.toFixed(2)} ${y0.toFixed(2)}A${r} ${r} 0 ${to - from > 180 ? 1 : 0} 1 ${x1.toFixed(2)} ${y1.toFixed(2)}`;
}

// Controller learn on a control (`learn` from useLearn): a right click arms learn for it or cancels it,
// and a tag names the controllers that move it, or shows that learn waits for one.
function learnHandlers(learn) {
  if (!learn) return {};
  return { onContextMenu: (e) => { e.preventDefault(); learn.onLearn(); } };
}

function LearnTag({ learn }) {
  if (!learn?.tag) return null;
  return <span className={learn.waiting ? 'cc waiting' : 'cc'}>{learn.tag}</span>;
}

const learnClass = (base, learn) => (learn?.waiting ? `${base} learning` : base);

// A rotary knob over a position 0..1: drag up or down (shift for fine steps), wheel, double click for the
// default. `mod` draws a second marker for a modulated position.
export function Knob({ label, value, text, onChange, def = 0, mod, title, small, bipolar, learn }) {
  const drag = useRef(null);
  const v = Math.min(1, Math.max(0, value));
  const start = -kArc / 2;
  const angle = start + v * kArc;
  const onPointerDown = (e) => {
    e.currentTarget.setPointerCapture(e.pointerId);
    drag.current = { y: e.clientY, v };
  };
  const onPointerMove = (e) => {
    if (!drag.current) return;
    const scale = e.shiftKey ? kDragPixels * 8 : kDragPixels;
    onChange(Math.min(1, Math.max(0, drag.current.v + (drag.current.y - e.clientY) / scale)));
  };
  const onPointerUp = () => { drag.current = null; };
  const onWheel = (e) => onChange(Math.min(1, Math.max(0, v - Math.sign(e.deltaY) * (e.shiftKey ? 0.002 : 0.02))));
  const tip = (a) => {
    const r = ((a - 90) * Math.PI) / 180;
    return [18 + 9 * Math.cos(r), 18 + 9 * Math.sin(r), 18 + 14 * Math.cos(r), 18 + 14 * Math.sin(r)];
  };
  const [x0, y0, x1, y1] = tip(angle);
  return (
    <div className={learnClass(small ? 'knob small' : 'knob', learn)} title={title ?? label} {...learnHandlers(learn)}>
      <LearnTag learn={learn} />
      <svg viewBox="0 0 36 36" onPointerDown={onPointerDown} onPointerMove={onPointerMove} onPointerUp={onPointerUp}
        onPointerCancel={onPointerUp} onWheel={onWheel} onDoubleClick={() => onChange(def)}>
        <path className="track" d={arcPath(14, start, start + kArc)} />
        {bipolar
          ? Math.abs(angle) > 1 && <path className="fill" d={arcPath(14, Math.min(0, angle), Math.max(0, angle))} />
          : v > 0.001 && <path className="fill" d={arcPath(14, start, angle)} />}
        {mod !== undefined && <circle className="mod" cx={18 + 14 * Math.cos(((start + mod * kArc - 90) * Math.PI) / 180)}
          cy={18 + 14 * Math.sin(((start + mod * kArc - 90) * Math.PI) / 180)} r="1.8" />}
        <circle className="cap" cx="18" cy="18" r="10" />
        <line className="pointer" x1={x0} y1={y0} x2={x1} y2={y1} />
      </svg>
      <div className="label">{label}</div>
      <div className="readout">{text}</div>
    </div>
  );
}

// One of a few labelled states, shown side by side.
export function Choice({ label, options, value, onChange, title, learn }) {
  return (
    <div className={learnClass('choice', learn)} title={title ?? label} {...learnHandlers(learn)}>
      <LearnTag learn={learn} />
      {label && <div className="label">{label}</div>}
      <div className="seg">
        {options.map((o, i) => (
          <button type="button" key={o} className={i === value ? 'on' : ''} onClick={() => onChange(i)}>{o}</button>
        ))}
      </div>
    </div>
  );
}

export function Toggle({ label, on, onChange, title }) {
  return (
    <button type="button" className={on ? 'toggle on' : 'toggle'} title={title ?? label} onClick={() => onChange(!on)}>
      {label}
    </button>
  );
}

// A drop-down menu over a list of labels (long lists: divisions, patterns, tunings).
export function Menu({ label, options, value, onChange, title, learn }) {
  return (
    <label className={learnClass('menu', learn)} title={title ?? label} {...learnHandlers(learn)}>
      <LearnTag learn={learn} />
      {label && <span className="label">{label}</span>}
      <select value={value} onChange={(e) => onChange(Number(e.target.value))}>
        {options.map((o, i) => <option key={`${o}-${i}`} value={i}>{o}</option>)}
      </select>
    </label>
  );
}

export function Lamp({ on, label }) {
  return <span className={on ? 'lamp on' : 'lamp'}><i />{label}</span>;
}

export function Section({ title, children, className, extra }) {
  return (
    <section className={`panel ${className ?? ''}`}>
      <header><span>{title}</span>{extra}</header>
      <div className="body">{children}</div>
    </section>
  );
}
