// The top strip: preset name and browser, save, export and import, theme, lamps and meters.
import { useRef, useState } from 'react';
import { useEditorModel, useEditorState, useLive } from './bind.jsx';
import { Lamp, Toggle } from './controls.jsx';
import { applyPreset, deletePreset, exportPreset, requestPreset, savePreset } from '../core/apply.js';
import { groupPresetList } from '../core/presetFiles.js';
import { readPreset } from '../core/presetRead.js';

function download(filename, content) {
  const url = URL.createObjectURL(new Blob([content], { type: 'application/json' }));
  const a = document.createElement('a');
  a.href = url;
  a.download = filename;
  a.click();
  setTimeout(() => URL.revokeObjectURL(url), 1000);
}

// Text fields tell the native side when they hold the keyboard.
function keyboardProps(editor) {
  return { onFocus: () => editor.sender.send('__keyboard', 1), onBlur: () => editor.sender.send('__keyboard', 0) };
}

// The meters move in whole pixels of their 80-pixel track and the voice lamps in twentieths of their
// brightness: a level that moved less than that draws nothing (the push changes them at every tick).
const kMeterPixels = 80;
const kLampSteps = 20;
const db = (x) => Math.max(0, Math.min(1, (20 * Math.log10(Math.max(x, 1e-6)) + 48) / 48));
const meterWidth = (x) => `${(Math.round(db(x) * kMeterPixels) * 100) / kMeterPixels}%`;
const lampOpacity = (v) => 0.2 + (0.8 * Math.round(Math.min(1, v) * kLampSteps)) / kLampSteps;

function Meters() {
  const levels = useLive((l) => l.levels);
  const voices = useLive((l) => l.voices);
  const limiter = useLive((l) => l.limiter);
  return (
    <div className="meters" title="Output peak and RMS, voices">
      {[0, 1].map((ch) => (
        <div key={ch} className="meter"><i style={{ width: meterWidth(levels[ch]) }} />
          <b style={{ width: meterWidth(levels[2 + ch]) }} /></div>
      ))}
      <div className="voices">{voices.map((v, i) => <i key={i} style={{ opacity: lampOpacity(v) }} />)}</div>
      <Lamp on={limiter} label="LIM" />
    </div>
  );
}

function Browser({ onClose }) {
  const editor = useEditorModel();
  const state = useEditorState();
  const [category, setCategory] = useState('User');
  const sections = groupPresetList(state.presetList);
  return (
    <div className="browser">
      <div className="browser-head">
        <span>PRESETS</span>
        <input value={category} onChange={(e) => setCategory(e.target.value)} title="Category for saving" {...keyboardProps(editor)} />
        <button type="button" onClick={() => savePreset(editor, category)}>SAVE</button>
        <button type="button" onClick={() => editor.sender.send('__listPresets', 0)}>REFRESH</button>
        <button type="button" onClick={() => editor.sender.send('__openPresetsFolder', 0)}>FOLDER</button>
        <button type="button" onClick={onClose}>CLOSE</button>
      </div>
      <div className="browser-list">
        {sections.length === 0 && <div className="note">No presets listed.</div>}
        {sections.map(({ section, groups }) => groups.map(({ category: c, presets }) => (
          <div key={`${section}/${c}`} className="group">
            <div className="group-title">{section === 'Factory' ? 'FACTORY' : 'USER'} · {c}</div>
            {presets.map((p) => (
              <div key={p.path} className={p.path === state.presetPath ? 'entry on' : 'entry'}>
                <button type="button" onClick={() => requestPreset(editor, p.path)}>{p.name}</button>
                {section === 'User' && <button type="button" className="del" title="Delete"
                  onClick={() => deletePreset(editor, p.path)}>×</button>}
              </div>
            ))}
          </div>
        )))}
      </div>
    </div>
  );
}

// What became of the last file operation the page asked for: a failure in words until dismissed.
function FileNotice() {
  const editor = useEditorModel();
  const { fileNotice } = useEditorState();
  if (!fileNotice) return null;
  return (
    <div className={fileNotice.ok ? 'file-notice' : 'file-notice failed'} role={fileNotice.ok ? 'status' : 'alert'}>
      <span>{fileNotice.text}</span>
      <button type="button" title="Dismiss" onClick={() => editor.set({ fileNotice: null })}>×</button>
    </div>
  );
}

export function TopBar({ page, setPage, pages }) {
  const editor = useEditorModel();
  const state = useEditorState();
  const file = useRef(null);
  const open = !state.browserCollapsed;
  const toggleBrowser = () => {
    if (!open) editor.sender.send('__listPresets', 0);
    editor.setBrowserCollapsed(open);
  };
  const importFile = () => {
    if (!editor.sender.send('__importNobrel', 0)) file.current?.click();
  };
  const onFile = async (e) => {
    const f = e.target.files?.[0];
    e.target.value = '';
    const sound = f ? readPreset(await f.text()) : null;
    if (sound) applyPreset(editor, sound, null);
  };
  return (
    <header className="topbar">
      <span className="logo">TAVRIN</span>
      <input className="preset-name" value={state.presetName} maxLength={64} onChange={(e) => editor.setPresetName(e.target.value)}
        {...keyboardProps(editor)} />
      <Toggle label="PRESETS" on={open} onChange={toggleBrowser} />
      <button type="button" onClick={() => exportPreset(editor, download)}>EXPORT</button>
      <button type="button" onClick={importFile}>IMPORT</button>
      <input ref={file} type="file" accept=".nobrel,application/json" hidden onChange={onFile} />
      <nav className="tabs">
        {pages.map((p) => <button type="button" key={p} className={p === page ? 'on' : ''} onClick={() => setPage(p)}>{p}</button>)}
      </nav>
      <button type="button" className="theme" title="Theme"
        onClick={() => editor.setTheme(state.theme === 'nightshade' ? 'kinari' : 'nightshade')}>
        {state.theme === 'nightshade' ? '☾' : '☀'}
      </button>
      <Meters />
      {open && <Browser onClose={() => editor.setBrowserCollapsed(true)} />}
      <FileNotice />
    </header>
  );
}
