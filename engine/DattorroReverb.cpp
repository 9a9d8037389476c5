#include "engine/DattorroReverb.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>

#include "engine/CycleSine.h"
#include "engine/Silence.h"
#include "foundation/MLSafeValue.h"

namespace {

using ml::simd::F4;
constexpr int kQuads = DattorroReverb::kNumLines / 4;  // lines four to a lane group

int32_t scaledLength(int32_t refLength, float scale, int32_t maxLength) {
  return std::min(static_cast<int32_t>(static_cast<float>(refLength) * scale + 0.5f), maxLength);
}

// count samples of a ring (mask + 1 long) from position from on, wrapping, into out; and back.
void readRing(const float* ring, int32_t mask, int32_t from, float* out, int count) {
  const int32_t start = from & mask;
  const int first = std::min(count, mask + 1 - start);
  std::copy_n(ring + start, first, out);
  std::copy_n(ring, count - first, out + first);
}

void writeRing(float* ring, int32_t mask, int32_t at, const float* in, int count) {
  const int32_t start = at & mask;
  const int first = std::min(count, mask + 1 - start);
  std::copy_n(in, first, ring + start);
  std::copy_n(in + first, count - first, ring);
}

// Where a Schroeder allpass reads and writes its ring over a run: the ring itself when the run meets no
// wrap of it, else rows beside it, filled from the ring before the run and written into it after.
struct AllpassRing {
  const float* read;
  float* write;
};

// The ring (mask kDiffuserMask) of an allpass read `delay` samples behind index over a run of count
// samples, padded rows long; readRow and writeRow the rows to use if the run wraps. delay is 0 or at least
// count, so no read of the run meets one of its writes, and each row of four is read before it is written.
AllpassRing openAllpass(float* ring, int32_t delay, int32_t index, int count, int padded, float* readRow,
                        float* writeRow) {
  constexpr int32_t kMask = DattorroReverb::kDiffuserMask;
  const int32_t readAt = (index - delay) & kMask;
  const int32_t writeAt = index & kMask;
  if (count == padded && readAt + count <= kMask + 1 && writeAt + count <= kMask + 1)
    return {ring + readAt, ring + writeAt};
  readRing(ring, kMask, readAt, readRow, padded);
  return {readRow, writeRow};
}

// The first count samples of a run that wrote rows beside the ring into it.
void closeAllpass(float* ring, const AllpassRing& at, int32_t index, int count, const float* writeRow) {
  if (at.write == writeRow) writeRing(ring, DattorroReverb::kDiffuserMask, index, writeRow, count);
}

// Samples n..n + 3 of x through the allpass with feedback g.
inline F4 allpassStep(const AllpassRing& at, int n, F4 x, F4 g) {
  using namespace ml::simd;
  const F4 v = loadU(at.read + n);
  const F4 w = add(x, mul(g, v));
  storeU(at.write + n, w);
  return sub(v, mul(g, w));
}

// Linearly interpolated reads of one line at four successive samples, each `delay` samples (at least 0)
// behind that sample's write position, each read on its own.
inline F4 readInterp4(const float* ring, F4 write, F4 delay) {
  using namespace ml::simd;
  constexpr int kMask = DattorroReverb::kLineMask;
  F4 pos = sub(write, delay);
  pos = select(add(pos, splat(static_cast<float>(DattorroReverb::kLineSize))), pos,
               greaterThan(splat(0.0f), pos));
  // pos is at least 0 here, where truncation is the floor.
  const I4 whole = truncToInt(pos);
  const F4 frac = sub(pos, toFloat(whole));
  alignas(16) int32_t at[4];
  storeI(at, whole);
  int32_t i[4];
  for (int l = 0; l < 4; ++l) i[l] = at[l] & kMask;
  const F4 a = fromLanes(ring[i[0]], ring[i[1]], ring[i[2]], ring[i[3]]);
  const F4 b = fromLanes(ring[(i[0] + 1) & kMask], ring[(i[1] + 1) & kMask], ring[(i[2] + 1) & kMask],
                         ring[(i[3] + 1) & kMask]);
  return add(a, mul(frac, sub(b, a)));
}

// readInterp4 over a run into out (padded samples), the read at sample n delayAt(n) samples behind
// write[n] (both rows of four from n on). Usually the write positions follow each other through the run
// and the modulated delay moves by far less than a sample in it: then every position lies on the same
// side of the ring's start (all wrap or none does), their whole samples follow each other too, and the
// run reads the ring straight on, a test of its fractions at the end confirming it. Otherwise (a fraction
// crossing a whole sample, a wrap within the run) it reads position by position.
template <typename DelayAt>
void readInterpRow(const float* ring, const float* write, DelayAt delayAt, float* out, int padded) {
  using namespace ml::simd;
  constexpr float kSize = static_cast<float>(DattorroReverb::kLineSize);
  alignas(16) float first[4];
  alignas(16) float last[4];
  storeF(first, sub(loadF(write), delayAt(0)));
  storeF(last, sub(loadF(write + padded - 4), delayAt(padded - 4)));
  const bool wraps = last[3] < 0.0f;
  const bool oneSide = first[0] >= 0.0f || wraps;
  const bool writesFollow = write[padded - 1] - write[0] == static_cast<float>(padded - 1);
  // At least 0 on one side, where truncation is the floor.
  const int32_t base = oneSide ? static_cast<int32_t>(wraps ? first[0] + kSize : first[0]) : 0;
  if (oneSide && writesFollow && base + padded <= DattorroReverb::kLineMask) {
    const auto straight = [&](auto wrap) {
      alignas(16) static constexpr float kSteps[4] = {0.0f, 1.0f, 2.0f, 3.0f};
      F4 whole = add(splat(static_cast<float>(base)), loadF(kSteps));
      F4 lowest = splat(0.0f);
      F4 highest = splat(0.0f);
#pragma GCC unroll 4
      for (int n = 0; n < padded; n += 4) {
        F4 pos = sub(loadF(write + n), delayAt(n));
        if constexpr (wrap) pos = add(pos, splat(kSize));
        const F4 frac = sub(pos, whole);
        lowest = min(lowest, frac);
        highest = max(highest, frac);
        whole = add(whole, splat(4.0f));
        const F4 a = loadUnalignedF(ring + base + n);
        const F4 b = loadUnalignedF(ring + base + n + 1);
        storeF(out + n, add(a, mul(frac, sub(b, a))));
      }
      return allSet(andMask(greaterEqual(lowest, splat(0.0f)), lessThan(highest, splat(1.0f))));
    };
    if (wraps ? straight(std::true_type{}) : straight(std::false_type{})) return;
  }
  for (int n = 0; n < padded; n += 4) storeF(out + n, readInterp4(ring, loadF(write + n), delayAt(n)));
}

// The orthonormal 8-point Walsh-Hadamard transform of v[0..7] in place; inlined, so that the rows stay in
// registers in the mix of every four samples.
[[gnu::always_inline]] inline void walshHadamard8(F4* v) {
  using namespace ml::simd;
  constexpr int kLines = DattorroReverb::kNumLines;
  const auto butterfly = [](F4& a, F4& b) {
    const F4 sum = add(a, b);
    b = sub(a, b);
    a = sum;
  };
  for (int i = 0; i < kLines; i += 2) butterfly(v[i], v[i + 1]);
  for (int i = 0; i < kLines; i += 4) {
    butterfly(v[i], v[i + 2]);
    butterfly(v[i + 1], v[i + 3]);
  }
  for (int i = 0; i < 4; ++i) butterfly(v[i], v[i + 4]);
  for (int i = 0; i < kLines; ++i) v[i] = mul(v[i], splat(DattorroReverb::kHadamardScale));
}

// Whether a phase wraps within count steps. The phases only grow between wraps: when none reaches 1 by
// the run's end, none wraps within it. Far below 1 a bound tells without the sums, whose rounding stays
// well inside its margin.
bool wrapsWithin(F4 phase, F4 step, int count) {
  using namespace ml::simd;
  const F4 bound = add(phase, mul(step, splat(static_cast<float>(count))));
  if (allSet(greaterThan(splat(0.999f), bound))) return false;
  F4 end = phase;
  for (int n = 0; n < count; ++n) end = add(end, step);
  return !allSet(greaterThan(splat(1.0f), end));
}

}  // namespace

struct DattorroReverb::BlockCoeffs {
  float damp;
  int preInt;
  float preFrac;
};

void DattorroReverb::setSampleRate(float sr) {
  if (!(sr > 0.0f) || !std::isfinite(sr)) return;
  sampleRate = sr;
  const float scale = sr / kRefSampleRate;
  modDepth = kRefModDepth * scale;
  int32_t run = kBlock;
  for (int i = 0; i < kNumLines; ++i) {
    lineLength[i] = scaledLength(kRefDelays[i], scale, kMaxLineLength);
    tankDiffLength[i] = scaledLength(kRefTankDiffDelays[i], scale, kMaxDiffuserLength);
    if (tankDiffLength[i] > 0) run = std::min(run, tankDiffLength[i]);
    // The shortest read, the extra tap at the deepest modulation, with a margin for the rounding of the
    // read position and the interpolation's second sample.
    const float shortest =
        std::max(1.0f, static_cast<float>(lineLength[i]) - 1.001f * modDepth) * kExtraTapFrac[i];
    run = std::min(run, static_cast<int32_t>(shortest) - 2);
  }
  for (int i = 0; i < kNumInputDiffusers; ++i) {
    inputDiffLength[i] = scaledLength(kRefInputDiffDelays[i], scale, kMaxDiffuserLength);
    if (inputDiffLength[i] > 0) run = std::min(run, inputDiffLength[i]);
  }
  runLength = std::max(run, int32_t{1});
  for (int i = 0; i < kNumLines; ++i) modStep[i] = kModRates[i] / sampleRate;
  feedbackDecay = 0.0f;  // no decay time: the loss is computed afresh
  clear();
}

void DattorroReverb::clear() {
  zeroState();
  for (int i = 0; i < kNumLines; ++i) modPhase[i] = static_cast<float>(i) / kNumLines;
  lineWrite = inputDiffIndex = tankDiffIndex = preDelayWrite = 0;
}

void DattorroReverb::zeroState() {
  std::memset(lines, 0, sizeof(lines));
  std::memset(inputDiff, 0, sizeof(inputDiff));
  std::memset(tankDiff, 0, sizeof(tankDiff));
  std::memset(preDelay, 0, sizeof(preDelay));
  for (int i = 0; i < kNumLines; ++i) lowpass[i] = prevTap[i] = dcState[i] = 0.0f;
  asleep = true;
  quietSamples = 0;
}

void DattorroReverb::hadamard8(F4* v) {
  walshHadamard8(v);
}

void DattorroReverb::process(const ml::DSPVector& in, float preDelayMs, float decaySeconds, float tone,
                             ml::DSPVector& outL, ml::DSPVector& outR) {
  const bool inputQuiet = allQuieterThan(in.getConstBuffer(), kBlock, kSilenceLevel);
  if (asleep && inputQuiet) {
    outL = 0.0f;
    outR = 0.0f;
    advanceAsleep();
    return;
  }
  asleep = false;
  BlockCoeffs c;
  const float decay = std::max(ml::finiteOr(decaySeconds, kMinDecaySeconds), kMinDecaySeconds);
  if (decay != feedbackDecay) {
    feedbackDecay = decay;
    for (int i = 0; i < kNumLines; ++i) {
      const float t = static_cast<float>(lineLength[i] + tankDiffLength[i]) / sampleRate;
      feedback[i] = std::min(std::pow(10.0f, -3.0f * t / decay) + 0.035f * t, 1.0f);
    }
  }
  c.damp = std::max(1.0f - 0.85f * ml::safeClamp(tone, 0.0f, 1.0f), 0.05f);
  const float pre = ml::safeClamp(0.001f * preDelayMs * sampleRate, 0.0f, static_cast<float>(kPreDelayMask));
  c.preInt = static_cast<int>(pre);
  c.preFrac = pre - static_cast<float>(c.preInt);

  for (int start = 0; start < kBlock; start += runLength) {
    processRun(in.getConstBuffer() + start, std::min(runLength, kBlock - start), c, outL.getBuffer() + start,
               outR.getBuffer() + start);
  }
  fallAsleepWhenQuiet(inputQuiet);
}

// A silent block of the sleeping network: what running it would change besides its zeroed state.
void DattorroReverb::advanceAsleep() {
  using namespace ml::simd;
  static_assert(kQuads == 2);
  F4 low = loadF(modPhase);
  F4 high = loadF(modPhase + 4);
  const F4 lowStep = loadF(modStep);
  const F4 highStep = loadF(modStep + 4);
  // A phase wraps about once a second at most. The phases only grow between wraps, so when none reaches 1
  // by the block's end, none wrapped on the way and the plain sums are the phases.
  F4 lowSum = low;
  F4 highSum = high;
#pragma GCC unroll 16
  for (int n = 0; n < kBlock; ++n) {
    lowSum = add(lowSum, lowStep);
    highSum = add(highSum, highStep);
  }
  if (allSet(andMask(greaterThan(splat(1.0f), lowSum), greaterThan(splat(1.0f), highSum)))) {
    storeF(modPhase, lowSum);
    storeF(modPhase + 4, highSum);
  } else {
    const auto advance = [](F4 phase, F4 step) {
      const F4 next = add(phase, step);
      return select(next, sub(next, splat(1.0f)), greaterThan(splat(1.0f), next));
    };
    for (int n = 0; n < kBlock; ++n) {
      low = advance(low, lowStep);
      high = advance(high, highStep);
    }
    storeF(modPhase, low);
    storeF(modPhase + 4, high);
  }
  lineWrite = (lineWrite + kBlock) & kLineMask;
  inputDiffIndex = (inputDiffIndex + kBlock) & kDiffuserMask;
  tankDiffIndex = (tankDiffIndex + kBlock) & kDiffuserMask;
  preDelayWrite = (preDelayWrite + kBlock) & kPreDelayMask;
}

// Counts the samples through which the input and every write stayed silent; once every ring (the
// pre-delay's the longest) holds only such writes and the filters are silent too, zeroes the state.
void DattorroReverb::fallAsleepWhenQuiet(bool inputQuiet) {
  if (!inputQuiet || !lastWritesQuiet()) {
    quietSamples = 0;
    return;
  }
  quietSamples = std::min(quietSamples + kBlock, int32_t{kPreDelaySize});
  if (quietSamples < kPreDelaySize) return;
  if (allQuieterThan(lowpass, kNumLines, kSilenceLevel) &&
      allQuieterThan(prevTap, kNumLines, kSilenceLevel) &&
      allQuieterThan(dcState, kNumLines, kSilenceLevel)) {
    zeroState();
  }
}

// Whether each value the last block wrote into the lines and the diffusers is silent.
bool DattorroReverb::lastWritesQuiet() const {
  alignas(16) float written[kBlock];
  const auto quiet = [&](const float* ring, int32_t mask, int32_t next) {
    readRing(ring, mask, next - kBlock, written, kBlock);
    return allQuieterThan(written, kBlock, kSilenceLevel);
  };
  for (int i = 0; i < kNumLines; ++i) {
    if (!quiet(lines[i], kLineMask, lineWrite) || !quiet(tankDiff[i], kDiffuserMask, tankDiffIndex))
      return false;
  }
  for (int k = 0; k < kNumInputDiffusers; ++k) {
    if (!quiet(inputDiff[k], kDiffuserMask, inputDiffIndex)) return false;
  }
  return true;
}

// Each stage over the whole run in turn. The rows are computed four samples at a time, up to padded; only
// the first count samples reach the rings and the states.
void DattorroReverb::processRun(const float* in, int count, const BlockCoeffs& c, float* outL, float* outR) {
  const int padded = (count + 3) & ~3;
  Scratch& s = scratch;
  preDelayRun(in, count, c);
  std::fill(s.diffused + count, s.diffused + padded, 0.0f);
  inputDiffusers(count, padded);

  modulatedDelays(count, padded);
  readTaps(padded);
  for (int n = 0; n < count; ++n) {
    outL[n] = kWetGain * s.sumL[n];
    outR[n] = kWetGain * s.sumR[n];
  }
  feedbackPaths(count, padded, c);
  mixIntoLines(count, padded);

  lineWrite = (lineWrite + count) & kLineMask;
  inputDiffIndex = (inputDiffIndex + count) & kDiffuserMask;
  tankDiffIndex = (tankDiffIndex + count) & kDiffuserMask;
}

// The pre-delay of a run into the diffused row, with a fractional read. A short pre-delay reads this very
// run: the run is written before it is read, which gives what sample by sample gives as long as no read
// reaches back the whole ring to a slot the run writes after it; only the longest delays do, sample by
// sample.
void DattorroReverb::preDelayRun(const float* in, int count, const BlockCoeffs& c) {
  using namespace ml::simd;
  float* out = scratch.diffused;
  if (c.preInt + count >= kPreDelaySize) {
    for (int n = 0; n < count; ++n) {
      preDelay[preDelayWrite] = in[n];
      const int r = (preDelayWrite - c.preInt) & kPreDelayMask;
      const int r1 = (r - 1) & kPreDelayMask;
      out[n] = preDelay[r] + c.preFrac * (preDelay[r1] - preDelay[r]);
      preDelayWrite = (preDelayWrite + 1) & kPreDelayMask;
    }
    return;
  }
  writeRing(preDelay, kPreDelayMask, preDelayWrite, in, count);
  // read[n + 1] is sample n's read, read[n] the one a sample further back; the row runs on to the padded
  // end of the run, whose samples the caller clears.
  const int padded = (count + 3) & ~3;
  alignas(16) float read[kBlock + 4];
  readRing(preDelay, kPreDelayMask, preDelayWrite - c.preInt - 1, read, padded + 1);
  for (int n = 0; n < padded; n += 4) {
    const F4 further = loadF(read + n);
    const F4 at = loadU(read + n + 1);
    storeF(out + n, add(at, mul(splat(c.preFrac), sub(further, at))));
  }
  preDelayWrite = (preDelayWrite + count) & kPreDelayMask;
}

// The diffused row through the four input allpasses in turn, each row of four through all of them.
void DattorroReverb::inputDiffusers(int count, int padded) {
  using namespace ml::simd;
  static_assert(kNumInputDiffusers <= kNumLines, "the diffusers borrow the tanks' wrap rows");
  Scratch& s = scratch;
  AllpassRing rings[kNumInputDiffusers];
  for (int k = 0; k < kNumInputDiffusers; ++k)
    rings[k] = openAllpass(inputDiff[k], inputDiffLength[k], inputDiffIndex, count, padded, s.ringRead[k],
                           s.ringWrite[k]);
  for (int n = 0; n < padded; n += 4) {
    F4 x = loadF(s.diffused + n);
    for (int k = 0; k < kNumInputDiffusers; ++k) x = allpassStep(rings[k], n, x, splat(kInputDiffCoeffs[k]));
    storeF(s.diffused + n, x);
  }
  for (int k = 0; k < kNumInputDiffusers; ++k)
    closeAllpass(inputDiff[k], rings[k], inputDiffIndex, count, s.ringWrite[k]);
}

// Each line's delay swung by modDepth sin(2 pi phase) about its length, each line's phase advancing once
// per sample, and kept inside the ring.
void DattorroReverb::modulatedDelays(int count, int padded) {
  using namespace ml::simd;
  for (int q = 0; q < kQuads; ++q) {
    const int first = 4 * q;
    F4 phase = loadF(modPhase + first);
    const F4 step = loadF(modStep + first);
    const bool wraps = wrapsWithin(phase, step, count);
    F4 length[4];
    for (int l = 0; l < 4; ++l) length[l] = splat(static_cast<float>(lineLength[first + l]));
    const auto rows = [&](auto advance) {
      for (int n = 0; n < padded; n += 4) {
        F4 m[4];
        for (int j = 0; j < 4; ++j) {
          m[j] = sineOfCycles4(phase);
          phase = advance(phase, n + j);
        }
        transpose4(m[0], m[1], m[2], m[3]);
        for (int l = 0; l < 4; ++l) {
          const F4 modulated = add(length[l], mul(m[l], splat(modDepth)));
          storeF(scratch.delay[first + l] + n, min(max(modulated, splat(1.0f)), splat(kMaxModulatedDelay)));
        }
      }
    };
    // Usually a whole run without a wrap: plain sums, without a test per sample.
    if (!wraps && count == padded) {
      rows([&](F4 p, int) { return add(p, step); });
    } else {
      rows([&](F4 p, int at) {
        if (at >= count) return p;
        const F4 next = add(p, step);
        return wraps ? select(next, sub(next, splat(1.0f)), greaterThan(splat(1.0f), next)) : next;
      });
    }
    storeF(modPhase + first, phase);
  }
}

// Each line's tap and extra tap; even lines feed the left, odd lines the right, and each line's extra tap
// the other side, summed line by line.
void DattorroReverb::readTaps(int padded) {
  using namespace ml::simd;
  Scratch& s = scratch;
  for (int n = 0; n < padded; ++n) s.write[n] = static_cast<float>((lineWrite + n) & kLineMask);
  for (int i = 0; i < kNumLines; ++i) {
    const float* delay = s.delay[i];
    const F4 extraFrac = splat(kExtraTapFrac[i]);
    readInterpRow(
        lines[i], s.write, [&](int n) { return loadF(delay + n); }, s.tap[i], padded);
    readInterpRow(
        lines[i], s.write, [&](int n) { return mul(loadF(delay + n), extraFrac); }, s.extra[i], padded);
  }
  for (int n = 0; n < padded; n += 4) {
    F4 sum[2] = {splat(0.0f), splat(0.0f)};  // left, right
    for (int i = 0; i < kNumLines; ++i) {
      sum[i % 2] = add(sum[i % 2], loadF(s.tap[i] + n));
      sum[1 - i % 2] = add(sum[1 - i % 2], mul(splat(kExtraTapGain), loadF(s.extra[i] + n)));
    }
    storeF(s.sumL + n, sum[0]);
    storeF(s.sumR + n, sum[1]);
  }
}

// Feedback paths: DC blocker, damping and loss, sample by sample, four lines to a lane group.
void DattorroReverb::feedbackPaths(int count, int padded, const BlockCoeffs& c) {
  using namespace ml::simd;
  Scratch& s = scratch;
  for (int q = 0; q < kQuads; ++q) {
    const int first = 4 * q;
    F4 dc = loadF(dcState + first);
    F4 lp = loadF(lowpass + first);
    F4 prev = loadF(prevTap + first);
    const F4 loss = loadF(feedback + first);
    // live samples of the four from n on pass; the padded rest is zero.
    const auto group = [&](int n, int live) {
      F4 t[4];
      for (int l = 0; l < 4; ++l) t[l] = loadF(s.tap[first + l] + n);
      transpose4(t[0], t[1], t[2], t[3]);
      for (int j = 0; j < 4; ++j) {
        if (j >= live) {
          t[j] = splat(0.0f);
          continue;
        }
        dc = add(mul(splat(kDcPole), dc), sub(t[j], prev));
        prev = t[j];
        lp = add(lp, mul(splat(c.damp), sub(dc, lp)));
        t[j] = mul(lp, loss);
      }
      transpose4(t[0], t[1], t[2], t[3]);
      for (int l = 0; l < 4; ++l) storeF(s.feedback[first + l] + n, t[l]);
    };
    const int whole = count & ~3;
    for (int n = 0; n < whole; n += 4) group(n, 4);
    if (whole < padded) group(whole, count - whole);
    storeF(dcState + first, dc);
    storeF(lowpass + first, lp);
    storeF(prevTap + first, prev);
  }
}

// The tank allpass of each feedback path, then their orthogonal mix plus the diffused input, written into
// the lines: straight into them when the run is whole and meets no wrap of the rings.
void DattorroReverb::mixIntoLines(int count, int padded) {
  using namespace ml::simd;
  Scratch& s = scratch;
  const bool direct = count == padded && lineWrite + count <= kLineSize;
  float* into[kNumLines];
  AllpassRing tanks[kNumLines];
  for (int i = 0; i < kNumLines; ++i) {
    into[i] = direct ? lines[i] + lineWrite : s.feedback[i];
    tanks[i] = openAllpass(tankDiff[i], tankDiffLength[i], tankDiffIndex, count, padded, s.ringRead[i],
                           s.ringWrite[i]);
  }
  for (int n = 0; n < padded; n += 4) {
    F4 v[kNumLines];
    for (int i = 0; i < kNumLines; ++i)
      v[i] = allpassStep(tanks[i], n, loadF(s.feedback[i] + n), splat(kTankDiffCoeff));
    walshHadamard8(v);
    const F4 input = mul(splat(kHadamardScale), loadF(s.diffused + n));
    for (int i = 0; i < kNumLines; ++i) storeU(into[i] + n, add(input, v[i]));
  }
  for (int i = 0; i < kNumLines; ++i)
    closeAllpass(tankDiff[i], tanks[i], tankDiffIndex, count, s.ringWrite[i]);
  if (direct) return;
  for (int i = 0; i < kNumLines; ++i) writeRing(lines[i], kLineMask, lineWrite, s.feedback[i], count);
}
