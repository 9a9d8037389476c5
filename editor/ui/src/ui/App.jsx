// The faceplate: top strip, one page of controls, and the morph strip.
import { useEffect, useLayoutEffect, useRef, useState } from 'react';
import { useEditorModel, useEditorState } from './bind.jsx';
import { TopBar } from './TopBar.jsx';
import { VoicePage } from './VoicePage.jsx';
import { EnvPage } from './EnvPage.jsx';
import { ModPage } from './ModPage.jsx';
import { SeqPage } from './SeqPage.jsx';
import { FxPage } from './FxPage.jsx';
import { cancelLearn } from '../core/controllers.js';

const kPages = { VOICE: VoicePage, ENV: EnvPage, MOD: ModPage, SEQ: SeqPage, FX: FxPage };

function MorphBar() {
  const editor = useEditorModel();
  const { sound, learning } = useEditorState();
  const track = useRef(null);
  const drag = useRef(false);
  const moveTo = (e) => {
    const r = track.current.getBoundingClientRect();
    editor.moveFader((e.clientX - r.left) / r.width);
  };
  const pole = (which) => {
    const has = sound[`snapshot${which}`] !== null;
    return (
      <div className={has ? 'pole has' : 'pole'}>
        <button type="button" className="capture" title={`Capture the sound as ${which}`} onClick={() => editor.captureSnapshot(which)}>{which}</button>
        <button type="button" className="clear" title={`Clear ${which}`} disabled={!has} onClick={() => editor.clearSnapshot(which)}>×</button>
      </div>
    );
  };
  return (
    <footer className="morph">
      <span className="label">MORPH</span>
      {pole('A')}
      <div className="fader" ref={track}
        onPointerDown={(e) => { e.currentTarget.setPointerCapture(e.pointerId); drag.current = true; moveTo(e); }}
        onPointerMove={(e) => { if (drag.current) moveTo(e); }} onPointerUp={() => { drag.current = false; }}>
        <i style={{ left: `${sound.fader * 100}%` }} />
      </div>
      {pole('B')}
      <span className="readout">{sound.fader <= 0.01 ? 'A' : sound.fader >= 0.99 ? 'B' : `${Math.round(sound.fader * 100)}%`}</span>
      {learning && (
        <button type="button" className="learn-cancel" title="Stop waiting for a MIDI controller"
          onClick={() => cancelLearn(editor)}>LEARN {learning} ×</button>
      )}
    </footer>
  );
}

const fitZoom = () => Math.max(0.25, Math.min(window.innerWidth / 840, window.innerHeight / 480));

// Scales the 840 x 480 faceplate to the window, from the first render on: a faceplate drawn at another
// size first would be drawn twice, and seen so.
function useZoom() {
  const [zoom, setZoom] = useState(fitZoom);
  useEffect(() => {
    const fit = () => setZoom(fitZoom());
    fit();
    window.addEventListener('resize', fit);
    return () => window.removeEventListener('resize', fit);
  }, []);
  return zoom;
}

export function App() {
  const { theme } = useEditorState();
  const [page, setPage] = useState('VOICE');
  const zoom = useZoom();
  const Page = kPages[page];
  // Before the paint, so that the first one is already in the stored theme.
  useLayoutEffect(() => { document.documentElement.dataset.theme = theme; }, [theme]);
  return (
    <div className="faceplate" style={{ zoom }} data-page={page}>
      <TopBar page={page} setPage={setPage} pages={Object.keys(kPages)} />
      <main><Page /></main>
      <MorphBar />
    </div>
  );
}
