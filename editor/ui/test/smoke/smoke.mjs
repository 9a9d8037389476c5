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
  window.mlibSetEnvFeel(1);
  window.mlibSetUIState(null);
  window.mlibSetParam('cutoffA', 0.5);
  window.mlibSetTuningData({ intervals: [1, 1.5], labels: ['1/1', '3/2'], period: 2, scaleSize: 2, name: 'fifths', source: 'mts' });
  setTimeout(() => {
    const smooth = [...document.querySelectorAll('.seg button')].find((b) => b.textContent === 'smooth');
    smooth && smooth.click();
    const reso = [...document.querySelectorAll('.knob')].find((k) => k.querySelector('.label').textContent === 'Reso');
    reso && reso.querySelector('svg').dispatchEvent(new WheelEvent('wheel', { deltaY: -100, bubbles: true }));
    const knobs = document.querySelectorAll('.knob').length;
    const tab = (name) => [...document.querySelectorAll('.tabs button')].find((b) => b.textContent === name)?.click();
    tab('FX');
    // The kit panel: every control once, slot 4 armed first.
    const $ = (selector) => document.querySelector(selector);
    const wheel = (el) => el?.querySelector('svg').dispatchEvent(new WheelEvent('wheel', { deltaY: -100, bubbles: true }));
    const choose = (select, value) => {
      if (!select) return;
      select.value = String(value);
      select.dispatchEvent(new Event('change', { bubbles: true }));
    };
    let envLabels = [];
    const steps = [
      () => $('.kit-head .toggle')?.click(),
      () => choose($('.kit-head select'), 48),
      () => document.querySelectorAll('.kit .slot')[3]?.click(),
      () => choose($('.armed select'), 60),
      () => wheel(document.querySelectorAll('.armed .knob')[0]),
      () => wheel(document.querySelectorAll('.armed .knob')[1]),
      () => $('.armed .audition')?.click(),
      () => $('.armed .snap')?.click(),
      () => $('.armed .clear')?.click(),
      () => $('.kit-save')?.click(),
      () => $('.kit-load')?.click(),
      // Controller learn: a right click on the Mix knob, then the cancel button it brings up.
      () => [...document.querySelectorAll('.knob')].find((k) => k.querySelector('.label').textContent === 'Mix')
        ?.dispatchEvent(new MouseEvent('contextmenu', { bubbles: true, cancelable: true })),
      () => $('.learn-cancel')?.click(),
      () => window.mlibSetControllerMap({ map: [[20, 17]], learn: -1 }),
      () => tab('ENV'),
      () => { envLabels = [...document.querySelectorAll('.knob .label')].map((l) => l.textContent); },
      () => tab('FX'),
      () => window.mlibFileResult({ op: 'savePreset', path: '/u/User/deep.nobrel', ok: false, reason: 'File too large' }),
    ];
    const next = () => {
      if (steps.length) { steps.shift()(); setTimeout(next, 20); return; }
      const face = document.querySelector('.faceplate');
      const report = { title: document.title, width: face ? face.offsetWidth : 0, height: face ? face.offsetHeight : 0,
        knobs, envLabels, posted: window.__posted, ccTags: [...document.querySelectorAll('.cc')].map((t) => t.textContent),
        receivers: Object.keys(window).filter((k) => k.startsWith('mlib')).sort(),
        notice: $('.file-notice.failed')?.textContent ?? '',
        font: [...document.fonts].some((f) => f.family.includes('Faceplate Mono') && f.status === 'loaded') };
      const pre = document.createElement('pre');
      pre.id = 'smoke-report';
      pre.textContent = JSON.stringify(report);
      document.body.appendChild(pre);
    };
    setTimeout(next, 50);
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
  check(report.posted.some((m) => m.name === '__envFeel' && m.value === 1), 'an empty view state answers with the engine\'s __envFeel');
  check(report.posted.some((m) => m.name === '__glideMode' && m.value === 1), 'a click on smooth posts __glideMode 1');
  check(!names.includes('cutoffA'), 'a value set by the engine is not posted back');
  check(report.posted.some((m) => m.name === 'resonanceA' && m.value > 0.1), 'turning a knob posts its parameter');
  const posted = (name, test = () => true) => report.posted.some((m) => m.name === name && test(m));
  check(posted('__afxMode', (m) => m.value === 1) && posted('__afxBaseKey', (m) => m.value === 48), 'kit mode and base key post');
  check(posted('__armSlot_3') && posted('__slotNote_3', (m) => m.value === 60), 'a slot click arms it; its note posts');
  check(posted('__slotGain_3', (m) => m.value > 1) && posted('__slotPan_3', (m) => m.value > 0.5), 'slot gain and pan post');
  check(posted('__auditionSlot_3') && posted('__slotSnap_3', (m) => m.note === 60 && typeof m.value === 'string')
    && posted('__slotClear_3'), 'audition, snap with its note, and clear post');
  check(posted('__saveKitPanel') && posted('__loadKitPanel'), 'kit save and load ask for native panels');
  check(posted('__ccLearn', (m) => m.value === 17.5 / 119) && posted('__ccLearnCancel'),
    'a right click arms learn for the knob; the cancel button stops it');
  check(report.envLabels.includes('Attack') && !report.envLabels.includes('Model'),
    `the Env page draws its knobs, and no Model knob (${report.envLabels})`);
  check(report.ccTags.includes('CC20'), `a mapped controller is shown on its knob (${report.ccTags})`);
  check(report.notice.includes('Could not save the preset deep.nobrel: File too large'),
    `a failed save is shown on the page (${report.notice})`);
  for (const f of ['mlibSetParam', 'mlibSetParamFromDsp', 'mlibSetEnvFeel', 'mlibSetUIState', 'mlibPresetContent',
    'mlibSetTuningData', 'mlibSetControllerMap', 'mlibFileResult']) {
    check(report.receivers.includes(f), `window.${f} exists`);
  }
  if (screenshot) execFileSync(chromium, [...flags, `--screenshot=${screenshot}`, `file://${file}`], { stdio: 'ignore', timeout: 60000 });
} finally {
  rmSync(dir, { recursive: true, force: true });
}
console.log(`${failures === 0 ? 1 : 0} passed, ${failures === 0 ? 0 : 1} failed`);
process.exit(failures === 0 ? 0 : 1);
