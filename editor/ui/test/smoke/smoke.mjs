// Loads the built editor document in headless Chromium with a stand-in for the web view's "mlib"
// handler, drives it a little and checks what it drew and what it posted.
// Usage: node smoke.mjs <built document.html> <chromium> [screenshot.png]
import { execFileSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';

const [html, chromium, screenshot] = process.argv.slice(2);
const dir = mkdtempSync(join(tmpdir(), 'tavrin-ui-smoke-'));

// Runs before the document's own script: records every posted message.
const stub = `<script>window.__posted = [];
window.webkit = { messageHandlers: { mlib: { postMessage: (m) => window.__posted.push(m) } } };</script>`;

// Runs after the page has started: answers like the native side, edits, and writes a report into the DOM.
const probe = `<script>window.addEventListener('load', () => setTimeout(() => {
  window.mlibSetUIState(null);
  window.mlibSetParam('cutoffA', 0.5);
  window.mlibSetTuningData({ intervals: [1, 1.5], labels: ['1/1', '3/2'], period: 2, scaleSize: 2, name: 'fifths', source: 'mts' });
  setTimeout(() => {
    const smooth = [...document.querySelectorAll('.seg button')].find((b) => b.textContent === 'smooth');
    smooth && smooth.click();
    const reso = [...document.querySelectorAll('.knob')].find((k) => k.querySelector('.label').textContent === 'Reso');
    reso && reso.querySelector('svg').dispatchEvent(new WheelEvent('wheel', { deltaY: -100, bubbles: true }));
    setTimeout(() => {
      const face = document.querySelector('.faceplate');
      const report = { title: document.title, width: face ? face.offsetWidth : 0, height: face ? face.offsetHeight : 0,
        knobs: document.querySelectorAll('.knob').length, posted: window.__posted,
        receivers: Object.keys(window).filter((k) => k.startsWith('mlib')).sort(),
        font: [...document.fonts].some((f) => f.family.includes('Faceplate Mono') && f.status === 'loaded') };
      const pre = document.createElement('pre');
      pre.id = 'smoke-report';
      pre.textContent = JSON.stringify(report);
      document.body.appendChild(pre);
    }, 50);
  }, 50);
}, 50));</script>`;

const page = readFileSync(html, 'utf8').replace('<head>', `<head>${stub}`).replace('</body>', `${probe}</body>`);
const file = join(dir, 'page.html');
writeFileSync(file, page);
const flags = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-background-networking', '--disable-component-update',
  '--disable-sync', '--no-first-run', `--user-data-dir=${join(dir, 'profile')}`, '--window-size=840,480',
  '--virtual-time-budget=5000'];
let failures = 0;
const check = (ok, what) => { if (!ok) { failures++; console.log(`FAIL: ${what}`); } else console.log(`ok: ${what}`); };
try {
  const dom = execFileSync(chromium, [...flags, '--dump-dom', `file://${file}`], { encoding: 'utf8', stdio: ['ignore', 'pipe', 'ignore'],
    timeout: 60000 });
  const match = dom.match(/<pre id="smoke-report">([^<]*)<\/pre>/);
  check(match !== null, 'the page ran its script and wrote the report');
  const report = match ? JSON.parse(match[1].replace(/&quot;/g, '"').replace(/&amp;/g, '&')) : { posted: [], receivers: [] };
  const names = report.posted.map((m) => m.name);
  check(report.title === 'mlib', 'the page title is mlib');
  check(report.width === 840 && report.height === 480, `the faceplate is 840 x 480 (${report.width} x ${report.height})`);
  check(report.knobs >= 20, `knobs are drawn (${report.knobs})`);
  check(report.font === true, 'the embedded monospace face is available');
  check(names[0] === '__ready', 'the first message is __ready');
  check(names.includes('__envFeel'), 'an empty view state answers with __envFeel');
  check(report.posted.some((m) => m.name === '__glideMode' && m.value === 1), 'a click on smooth posts __glideMode 1');
  check(!names.includes('cutoffA'), 'a value set by the engine is not posted back');
  check(report.posted.some((m) => m.name === 'resonanceA' && m.value > 0.1), 'turning a knob posts its parameter');
  for (const f of ['mlibSetParam', 'mlibSetParamFromDsp', 'mlibSetUIState', 'mlibPresetContent', 'mlibSetTuningData']) {
    check(report.receivers.includes(f), `window.${f} exists`);
  }
  if (screenshot) execFileSync(chromium, [...flags, `--screenshot=${screenshot}`, `file://${file}`], { stdio: 'ignore', timeout: 60000 });
} finally {
  rmSync(dir, { recursive: true, force: true });
}
console.log(`${failures === 0 ? 1 : 0} passed, ${failures === 0 ? 0 : 1} failed`);
process.exit(failures === 0 ? 0 : 1);
