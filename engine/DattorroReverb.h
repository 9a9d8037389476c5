// Master reverb: a mono-in, stereo-out feedback delay network.
#pragma once

#include <cstdint>

#include "foundation/MLDSPVector.h"

// Eight modulated delay lines mixed by an 8x8 Hadamard matrix, fed through a pre-delay and four input
// allpass diffusers; each feedback path has a DC blocker, a one-pole damping filter and a tank allpass.
// Delay tables are given for 44.1 kHz and scaled by setSampleRate. About 750 KB: keep it inside a
// heap-allocated owner, never on a thread's stack. Audio thread only.
// Once its input and everything it holds have stayed below kSilenceLevel for a whole pre-delay ring, the
// network zeroes its state and falls asleep: blocks of silent input then give silence without running
// it, advancing only the modulation and the ring positions, until a louder input wakes it.
struct DattorroReverb {
  static constexpr int kNumLines = 8;
  static constexpr int kLineSize = 16384;  // power of two: ring positions are masked
  static constexpr int kLineMask = kLineSize - 1;
  static constexpr int kMaxLineLength = kLineSize - 2;
  // The longest modulated read that stays inside the ring (interpolation reads one sample further).
  static constexpr float kMaxModulatedDelay = kLineSize - 1;
  static constexpr int kNumInputDiffusers = 4;
  static constexpr int kDiffuserSize = 2048;  // power of two as well
  static constexpr int kDiffuserMask = kDiffuserSize - 1;
  static constexpr int kMaxDiffuserLength = kDiffuserSize - 1;
  static constexpr int kPreDelaySize = 32768;
  static constexpr int kPreDelayMask = kPreDelaySize - 1;
  static constexpr float kRefSampleRate = 44100.0f;
  static constexpr float kRefModDepth = 8.0f;  // samples at 44.1 kHz
  static constexpr float kTankDiffCoeff = 0.4f;
  static constexpr float kHadamardScale = 0.35355338f;  // 1 / sqrt(8)
  static constexpr float kWetGain = 0.1f;
  static constexpr float kExtraTapGain = 0.6f;
  static constexpr float kDcPole = 0.995f;
  static constexpr float kMinDecaySeconds = 0.05f;

  static constexpr int32_t kRefDelays[kNumLines] = {709, 1049, 1399, 1823, 2269, 2713, 3181, 3671};
  static constexpr int32_t kRefInputDiffDelays[kNumInputDiffusers] = {142, 107, 379, 277};
  static constexpr int32_t kRefTankDiffDelays[kNumLines] = {67, 89, 113, 149, 179, 211, 251, 293};
  static constexpr float kInputDiffCoeffs[kNumInputDiffusers] = {0.5f, 0.5f, 0.45f, 0.45f};
  static constexpr float kModRates[kNumLines] = {0.1f, 0.14f, 0.19f, 0.26f, 0.35f, 0.47f, 0.58f, 0.71f};
  static constexpr float kExtraTapFrac[kNumLines] = {0.37f, 0.43f, 0.31f, 0.47f, 0.33f, 0.41f, 0.39f, 0.29f};

  static constexpr int kBlock = static_cast<int>(ml::kFloatsPerDSPVector);

  // Working rows of one run of samples (see runLength), one row per line; kept here, off the stack.
  struct Scratch {
    alignas(16) float diffused[kBlock];          // the input after pre-delay and diffusers
    alignas(16) float write[kBlock];             // the lines' write position of each sample
    alignas(16) float delay[kNumLines][kBlock];  // the modulated delays
    alignas(16) float tap[kNumLines][kBlock];
    alignas(16) float extra[kNumLines][kBlock];
    alignas(16) float feedback[kNumLines][kBlock];  // into the tank allpasses, out of them, into the lines
    alignas(16) float sumL[kBlock];
    alignas(16) float sumR[kBlock];
    // What a run reads from each diffuser's ring and writes into it, where the run wraps the ring.
    alignas(16) float ringRead[kNumLines][kBlock];
    alignas(16) float ringWrite[kNumLines][kBlock];
  };

  // Every line, input diffuser and tank diffuser advances one position per sample: each family shares
  // one write index.
  float lines[kNumLines][kLineSize]{};
  int32_t lineLength[kNumLines]{};
  int32_t lineWrite{0};
  alignas(16) float lowpass[kNumLines]{};
  alignas(16) float prevTap[kNumLines]{};
  alignas(16) float dcState[kNumLines]{};
  float inputDiff[kNumInputDiffusers][kDiffuserSize]{};
  int32_t inputDiffLength[kNumInputDiffusers]{};
  int32_t inputDiffIndex{0};
  float tankDiff[kNumLines][kDiffuserSize]{};
  int32_t tankDiffLength[kNumLines]{};
  int32_t tankDiffIndex{0};
  float preDelay[kPreDelaySize]{};
  int32_t preDelayWrite{0};
  alignas(16) float modPhase[kNumLines]{};  // cycles, 0..1
  alignas(16) float modStep[kNumLines]{};   // cycles per sample
  alignas(16) float feedback[kNumLines]{};  // each line's loss for the decay time feedbackDecay (s)
  float feedbackDecay{0.0f};
  float sampleRate{kRefSampleRate};
  float modDepth{kRefModDepth};  // samples
  bool asleep{true};             // every buffer and filter state is zero
  int32_t quietSamples{0};       // since the input or a write into the network last reached kSilenceLevel
  // Samples processed stage by stage together: shorter than every delay read, so that no read within a
  // run meets a write of the same run, and each run gives what sample-by-sample processing would.
  int32_t runLength{1};
  Scratch scratch{};

  // Scales the delay tables to sr (Hz, > 0; other values are ignored) and clears.
  void setSampleRate(float sr);
  // Silences every buffer and filter and restarts the modulation; keeps the lengths.
  void clear();
  // One 64-sample block. preDelayMs 0..100, decaySeconds (RT60-like, at least 0.05), tone 0..1
  // (more damping, darker, towards 1). Out-of-range and non-finite settings are clamped.
  void process(const ml::DSPVector& in, float preDelayMs, float decaySeconds, float tone, ml::DSPVector& outL,
               ml::DSPVector& outR);

  // In-place 8-point Walsh-Hadamard transform (Sylvester order) of v[0..7], each lane on its own, scaled to
  // be orthonormal.
  static void hadamard8(ml::simd::F4* v);

private:
  struct BlockCoeffs;
  void zeroState();
  void advanceAsleep();
  void fallAsleepWhenQuiet(bool inputQuiet);
  bool lastWritesQuiet() const;
  void processRun(const float* in, int count, const BlockCoeffs& c, float* outL, float* outR);
  void preDelayRun(const float* in, int count, const BlockCoeffs& c);
  void inputDiffusers(int count, int padded);
  void modulatedDelays(int count, int padded);
  void readTaps(int padded);
  void feedbackPaths(int count, int padded, const BlockCoeffs& c);
  void mixIntoLines(int count, int padded);
};
