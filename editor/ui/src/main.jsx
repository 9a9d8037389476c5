// The page's start: the editor model with the web view's poster, the receivers, then the faceplate.
import { createRoot } from 'react-dom/client';
import './style.css';
import { createEditor } from './core/editor.js';
import { nativePoster } from './core/sender.js';
import { startEditor } from './core/receivers.js';
import { EditorContext } from './ui/bind.jsx';
import { App } from './ui/App.jsx';

// Touch devices get a fixed-width viewport that may be zoomed.
const touch = window.matchMedia?.('(pointer: coarse)').matches || /iPhone|iPad|Android|Mobile/i.test(navigator.userAgent);
if (touch) document.querySelector('meta[name=viewport]')?.setAttribute('content', 'width=900, user-scalable=yes, maximum-scale=6');

let storage = null;
try { storage = window.localStorage; } catch { storage = null; }

const editor = createEditor({ post: nativePoster(window), frame: (fn) => requestAnimationFrame(fn), storage });
window.addEventListener('contextmenu', (e) => e.preventDefault());
startEditor(window, editor);
createRoot(document.getElementById('root')).render(
  <EditorContext.Provider value={editor}><App /></EditorContext.Provider>,
);
