// Measurements of a stereo render at 48 kHz, as a listener or a mastering engineer would take them:
// loudness after ITU-R BS.1770-4, true peak, the level of the last moments, left/right correlation and
// where the energy lies in the spectrum.
import { readFileSync } from 'node:fs';

export const kRate = 48000;

// The two channels of a 32-bit float stereo WAV file.
export function readStereoWav(path) {
  const bytes = readFileSync(path);
  let at = 12;
  while (at + 8 <= bytes.length && bytes.toString('latin1', at, at + 4) !== 'data') at += 8 + bytes.readUInt32LE(at + 4);
  const frames = Math.floor(bytes.readUInt32LE(at + 4) / 8);
  const left = new Float32Array(frames);
  const right = new Float32Array(frames);
  for (let i = 0; i < frames; ++i) {
    left[i] = bytes.readFloatLE(at + 8 + 8 * i);
    right[i] = bytes.readFloatLE(at + 12 + 8 * i);
  }
  return { left, right };
}

export const toDb = (power) => 10 * Math.log10(power);
export const amplitudeDb = (x) => 20 * Math.log10(x);

// A biquad section [b0, b1, b2, a1, a2] run over x (direct form I, in double precision).
function biquad(x, [b0, b1, b2, a1, a2]) {
  const y = new Float64Array(x.length);
  let x1 = 0, x2 = 0, y1 = 0, y2 = 0;
  for (let i = 0; i < x.length; ++i) {
    const v = b0 * x[i] + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
    x2 = x1; x1 = x[i]; y2 = y1; y1 = v;
    y[i] = v;
  }
  return y;
}

// The K-weighting of BS.1770-4 at 48 kHz: the head's high shelf, then the RLB high-pass.
const kShelf = [1.53512485958697, -2.69169618940638, 1.19839281085285, -1.69065929318241, 0.73248077421585];
const kHighPass = [1, -2, 1, -1.99004745483398, 0.99007225036621];
const kBlockSeconds = 0.4;
const kBlockStep = 0.1;  // 75 % overlap
const kAbsoluteGate = -70;
const kRelativeGate = -10;
const blockLoudness = (power) => -0.691 + toDb(power);

// Mean square of each 400 ms gating block, summed over the channels (each weighs 1).
function gatingBlockPowers(channels) {
  const weighted = channels.map((x) => biquad(biquad(x, kShelf), kHighPass));
  const size = Math.round(kBlockSeconds * kRate);
  const step = Math.round(kBlockStep * kRate);
  const powers = [];
  for (let start = 0; start + size <= weighted[0].length; start += step) {
    let sum = 0;
    for (const y of weighted) for (let i = start; i < start + size; ++i) sum += y[i] * y[i];
    powers.push(sum / size);
  }
  return powers;
}

const mean = (values) => values.reduce((a, b) => a + b, 0) / values.length;

// Integrated loudness in LUFS of the channels (left and right), gated absolutely at -70 LUFS and then
// 10 LU below the loudness of what passed; -Infinity when nothing passes.
export function integratedLoudness(channels) {
  const powers = gatingBlockPowers(channels);
  const audible = powers.filter((p) => blockLoudness(p) > kAbsoluteGate);
  if (audible.length === 0) return -Infinity;
  const threshold = blockLoudness(mean(audible)) + kRelativeGate;
  const gated = audible.filter((p) => blockLoudness(p) > threshold);
  return blockLoudness(mean(gated));
}

// True peak: the largest magnitude of the signal oversampled four times, each point between two samples
// found by a Kaiser-windowed sinc of 16 taps on each side.
const kOversample = 4;
const kSincTaps = 16;
const truePeakKernel = (() => {
  const besselI0 = (x) => {
    let sum = 1, term = 1;
    for (let k = 1; k < 30; ++k) { term *= (x * x) / (4 * k * k); sum += term; }
    return sum;
  };
  const beta = 8;
  return Array.from({ length: kOversample - 1 }, (_, p) => {
    const frac = (p + 1) / kOversample;
    return Array.from({ length: 2 * kSincTaps }, (_, k) => {
      const t = k - kSincTaps + 1 - frac;  // distance of tap k from the point
      const r = t / (kSincTaps + 0.5);
      const window = besselI0(beta * Math.sqrt(Math.max(0, 1 - r * r))) / besselI0(beta);
      return (Math.sin(Math.PI * t) / (Math.PI * t)) * window;
    });
  });
})();

export function truePeak(x) {
  let peak = 0;
  for (let i = 0; i < x.length; ++i) {
    peak = Math.max(peak, Math.abs(x[i]));
    for (const taps of truePeakKernel) {
      let y = 0;
      for (let k = 0; k < taps.length; ++k) {
        const j = i + k - kSincTaps + 1;
        if (j >= 0 && j < x.length) y += taps[k] * x[j];
      }
      peak = Math.max(peak, Math.abs(y));
    }
  }
  return peak;
}

export function samplePeak(x) {
  let peak = 0;
  for (const v of x) peak = Math.max(peak, Math.abs(v));
  return peak;
}

// Mean square of both channels between two times in seconds.
export function meanSquare({ left, right }, from = 0, to = left.length / kRate) {
  const a = Math.max(0, Math.round(from * kRate));
  const b = Math.min(left.length, Math.round(to * kRate));
  let sum = 0;
  for (let i = a; i < b; ++i) sum += left[i] * left[i] + right[i] * right[i];
  return sum / Math.max(1, 2 * (b - a));
}

// Level in dBFS RMS of the last `seconds` of the render.
export function tailLevel(render, seconds = 0.05) {
  const end = render.left.length / kRate;
  return toDb(meanSquare(render, end - seconds, end));
}

// Pearson correlation of two equally long signals (1 when either is silent: nothing differs).
export function correlation(a, b) {
  let ab = 0, aa = 0, bb = 0;
  for (let i = 0; i < a.length; ++i) { ab += a[i] * b[i]; aa += a[i] * a[i]; bb += b[i] * b[i]; }
  return aa > 0 && bb > 0 ? ab / Math.sqrt(aa * bb) : 1;
}

// Level of the mono sum (L + R) / 2 against the stereo level, in dB (0 for a centred source, -3 for two
// unrelated sides of equal level, -Infinity for opposite sides).
export function monoSumDb({ left, right }) {
  let mono = 0, stereo = 0;
  for (let i = 0; i < left.length; ++i) {
    const m = 0.5 * (left[i] + right[i]);
    mono += m * m;
    stereo += 0.5 * (left[i] * left[i] + right[i] * right[i]);
  }
  return toDb(mono / stereo);
}

// A fourth-order Butterworth low-pass (two bilinear sections) at hz.
export function lowPass(x, hz) {
  const k = Math.tan((Math.PI * hz) / kRate);
  const section = (q) => {
    const norm = 1 / (1 + k / q + k * k);
    return [k * k * norm, 2 * k * k * norm, k * k * norm, 2 * (k * k - 1) * norm, (1 - k / q + k * k) * norm];
  };
  return biquad(biquad(x, section(0.5411961)), section(1.3065630));
}

// In-place radix-2 FFT of re, im (length a power of two).
function fft(re, im) {
  const n = re.length;
  for (let i = 1, j = 0; i < n; ++i) {
    let bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) { [re[i], re[j]] = [re[j], re[i]]; [im[i], im[j]] = [im[j], im[i]]; }
  }
  for (let len = 2; len <= n; len <<= 1) {
    const angle = (-2 * Math.PI) / len;
    for (let i = 0; i < n; i += len) {
      for (let k = 0; k < len / 2; ++k) {
        const wr = Math.cos(angle * k), wi = Math.sin(angle * k);
        const a = i + k, b = a + len / 2;
        const tr = re[b] * wr - im[b] * wi, ti = re[b] * wi + im[b] * wr;
        re[b] = re[a] - tr; im[b] = im[a] - ti;
        re[a] += tr; im[a] += ti;
      }
    }
  }
}

const kFftSize = 4096;

// Power spectrum of both channels, averaged over half-overlapping Hann windows: bin i is i x 48000 / 4096 Hz.
export function powerSpectrum({ left, right }) {
  const power = new Float64Array(kFftSize / 2);
  const hann = Array.from({ length: kFftSize }, (_, i) => 0.5 - 0.5 * Math.cos((2 * Math.PI * i) / kFftSize));
  for (const x of [left, right]) {
    for (let start = 0; start + kFftSize <= x.length; start += kFftSize / 2) {
      const re = new Float64Array(kFftSize), im = new Float64Array(kFftSize);
      for (let i = 0; i < kFftSize; ++i) re[i] = x[start + i] * hann[i];
      fft(re, im);
      for (let i = 0; i < power.length; ++i) power[i] += re[i] * re[i] + im[i] * im[i];
    }
  }
  return power;
}

// Power of the spectrum between lo and hi Hz.
export function bandPower(spectrum, lo, hi) {
  const hz = kRate / kFftSize;
  let sum = 0;
  for (let i = Math.ceil(lo / hz); i < Math.min(spectrum.length, hi / hz); ++i) sum += spectrum[i];
  return sum;
}

// Octave bands up to 20 kHz with an edge at 5 kHz: [lo, hi] in Hz, lowest first.
export const kOctaves = Array.from({ length: 9 }, (_, i) => [5000 * 2 ** (i - 7), 5000 * 2 ** (i - 6)]);

// Gain reduction in dB that the chain's end applied: the render against a reference render of the same
// phrase made 20 dB quieter before the end (where neither the knee nor the limiter can reach), compared
// over 10 ms windows loud enough to tell.
export const kReferenceDrop = 0.1;
export function gainReductionDb(render, reference) {
  const size = Math.round(0.01 * kRate);
  let worst = 0;
  for (let at = 0; at + size <= render.left.length; at += size) {
    const from = at / kRate, to = (at + size) / kRate;
    const expected = meanSquare(reference, from, to) / (kReferenceDrop * kReferenceDrop);
    if (toDb(expected) < -40) continue;
    worst = Math.max(worst, toDb(expected / meanSquare(render, from, to)));
  }
  return worst;
}
