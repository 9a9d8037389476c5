// Block-rate low-frequency oscillator with ten named patterns, free-running or locked to the song.
#pragma once

#include <array>
#include <cstdint>

// Tempo divisions of a locked LFO in beats, indexed 0..11: "8 bar" .. "1/16T".
inline constexpr std::array<float, 12> kSyncDivBeats = {32.f, 16.f,  8.f,    4.f,       2.f,       1.f,
                                                        0.5f, 0.25f, 0.125f, 2.f / 3.f, 1.f / 3.f, 1.f / 6.f};

// Per-block settings of one LFO, converted once per block from its parameter values.
struct LfoSettings {
  float rate{0.f};  // normalised 0..1: 0.05..20 Hz free, division index when locked
  int pattern{0};   // 0..9
  bool slew{false};
  float phaseOffset{0.f};  // 0..1 cycles
  bool tempoLocked{false};

  // Clamps each value (NaN gives the low end) and rounds pattern and sync mode as the knobs show them.
  static LfoSettings fromParams(double rate, double pattern, double slew, double phase, double syncMode);
};

// Host transport as one LFO block sees it.
struct LfoTransport {
  double tempo{120.0};       // BPM; anything not finite or at or below 0 counts as 120
  double songPosBeats{0.0};  // position at the start of this engine block
  bool playing{false};
  bool started{false};  // playing now and not in the previous block
};

// One unipolar LFO producing a value in 0..1 per call. The phase is in cycles 0..1; pattern 3
// ("scatter") is a Catmull-Rom curve through points drawn from its own generator, renewed per eighth
// of a cycle. Plain value type, no pointers.
struct LFO {
  float phase{0.f};
  float value{0.f};  // last output, after slew
  uint32_t seed{12345};
  float points[4]{0.5f, 0.5f, 0.5f, 0.5f};
  int32_t lastSegment{-1};   // scatter segment 0..7 of the last call; -1 = none yet
  uint32_t hzRateBits{~0u};  // the free rate freeHzValue belongs to; ~0 (a NaN) = none yet
  float freeHzValue{0.f};

  static float rateToHz(float x);
  static int rateToDivIndex(float x);
  // The tempo a locked LFO runs at for a host tempo: not finite or at or below 0 gives 120.
  static double effectiveTempo(double bpm);

  float process(float hz, int pattern, bool slew, int numSamples, float sampleRate, float phaseOffset);
  float processSync(int divIndex, float bpm, int pattern, bool slew, int numSamples, float sampleRate,
                    float phaseOffset, double songPosBeats, bool playing);
  // Runs one engine block: resets a locked LFO at a transport start, then runs it locked or free.
  float runBlock(const LfoSettings& settings, const LfoTransport& transport, int numSamples,
                 float sampleRate);

  float shape(int pattern, float p);
  float syncWarp(int pattern, float p) const;
  static float pwlWarp(float x, const float* g, const float* n, int count);
  static float cubicHermite(float y0, float y1, float y2, float y3, float t);
  float nextRandom();
  void resetPhase() { phase = 0.f; }

private:
  // rateToHz of a free rate, kept while the rate stays (bit for bit) the same: powf every block is
  // a good part of an idle block.
  float freeHz(float rate);
  float applySlew(float v, float hz, int numSamples, float sampleRate, bool slew);
  float scatter(float p);
};

// Song position in beats of an engine block that starts framesSinceUpdate frames after the host's
// last transport update, so locked modulation moves on every engine block inside a long host block.
double songPosAtFrames(double hostPosBeats, uint64_t framesSinceUpdate, double tempo, double sampleRate);
