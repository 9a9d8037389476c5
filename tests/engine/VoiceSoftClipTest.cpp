// The voice's soft clip: a loud tone near the top of the band folds no harmonics back, a loud low tone
// keeps the clip's harmonics as a clip sample by sample makes them, and a render alone gives what it
// gives beside others.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <complex>
#include <memory>
#include <vector>

#include "bench/EdgeMeasure.h"
#include "engine/VoiceRender.h"

namespace {

constexpr double kPi = edge_measure::kPi;

// A sine of the amplitude at hz through a held voice's output chain (gain 1, Env 1 at 1) at rate,
// as the second of two renders run side by side (the first is silent).
std::vector<float> clippedTone(double rate, double hz, float amplitude, size_t frames) {
  VoiceState silent;
  VoiceState v;
  v.gainCurrent = v.gainTarget = 1.f;
  const auto engine = std::make_unique<PluginProcessor>();
  auto renders = makeVoiceRenders(*engine);
  renders->count = 2;
  renders->voices = {&silent, &v};
  for (int r = 0; r < 2; ++r) {
    renders->blocks[r].sr = float(rate);
    renders->blocks[r].invSr = float(1.0 / rate);
    renders->blocks[r].env1Raw = 1.f;
  }
  VoiceBlock& b = renders->blocks[1];
  std::vector<float> out(frames / 64 * 64);
  for (size_t start = 0; start < out.size(); start += 64) {
    renders->blocks[0].out = 0.f;
    for (size_t i = 0; i < 64; ++i)
      b.out[i] = amplitude * float(std::sin(2.0 * kPi * hz * double(start + i) / rate));
    voiceOutputChains(*renders, 0);
    std::copy_n(b.out.getConstBuffer(), 64, out.begin() + long(start));
  }
  return out;
}

std::vector<float> clippedTone(double rate, double hz, float amplitude) {
  return clippedTone(rate, hz, amplitude, size_t(rate * (edge_measure::kAnalysisStart + 1.5)));
}

// The clip of one sample at the base rate: the clipped sample mixed half and half with the sample.
float sampleClip(float x) {
  float d = 1.3f * x;
  d += 0.12f * d * d;
  const float c = std::clamp(d, -3.f, 3.f);
  return x + 0.5f * (0.7692308f * c * (27.f + c * c) / (27.f + 9.f * c * c) - x);
}

// The level of harmonic h of the tone with the given period in samples, over whole periods from `from`.
double harmonicLevel(const std::vector<float>& x, size_t from, size_t period, int h) {
  std::complex<double> sum = 0.0;
  const size_t n = (x.size() - from) / period * period;
  for (size_t i = 0; i < n; ++i)
    sum += double(x[from + i]) * std::polar(1.0, -2.0 * kPi * h * double(i) / period);
  return 2.0 * std::abs(sum) / double(n);
}

// Tones near the top of the band at the levels of a self-oscillating filter and a loud voice, and at full
// level, where the clip's 4th and 5th harmonics reach above twice the rate.
TEST(VoiceSoftClip, LoudToneNearTheTopOfTheBandFoldsNoHarmonicsBack) {
  struct Tone {
    double hz;
    float amplitude;
  };
  for (const double rate : {44100.0, 48000.0}) {
    for (const Tone tone : {Tone{20000.0, 0.5f}, Tone{15000.0, 0.7f}, Tone{15000.0, 1.f}, Tone{17000.0, 1.f},
                            Tone{20000.0, 1.f}}) {
      const edge_measure::Alias alias = edge_measure::worstAlias(
          clippedTone(rate, tone.hz, tone.amplitude), clippedTone(8 * rate, tone.hz, tone.amplitude), rate);
      EXPECT_LT(alias.db, -55.0) << rate << " Hz, " << tone.hz << " Hz at " << tone.amplitude << ": "
                                 << alias.hz << " Hz";
    }
  }
}

TEST(VoiceSoftClip, LoudLowToneKeepsTheHarmonicsOfTheClip) {
  constexpr double kRate = 44100.0;
  constexpr size_t kPeriod = 400;  // 110.25 Hz
  const size_t from = 22050;
  for (const float amplitude : {0.3f, 0.7f, 1.f, 1.5f}) {
    const std::vector<float> out = clippedTone(kRate, kRate / kPeriod, amplitude, from + 100 * kPeriod);
    std::vector<float> expected(out.size());
    for (size_t i = 0; i < out.size(); ++i)
      expected[i] = sampleClip(amplitude * float(std::sin(2.0 * kPi * double(i) / kPeriod)));
    const double fundamental = harmonicLevel(expected, from, kPeriod, 1);
    for (int h = 1; h <= 5; ++h) {
      const double want = harmonicLevel(expected, from, kPeriod, h);
      if (want < 1e-4 * fundamental) continue;
      const double got = harmonicLevel(out, from, kPeriod, h);
      EXPECT_NEAR(edge_measure::decibels(got / want), 0.0, 0.1)
          << "amplitude " << amplitude << ", harmonic " << h;
    }
  }
}

// A block of a voice's tone at hz and amplitude on a note that starts in block 2 and ends in block 40.
void toneBlock(VoiceBlock& b, int block, double hz, float amplitude) {
  constexpr double kRate = 48000.0;
  b.sr = float(kRate);
  b.invSr = float(1.0 / kRate);
  b.gainMul = 1.1f;
  b.noteStart = block == 2 ? 10 : -1;
  b.noteEnd = block == 40 ? 20 : -1;
  b.gate = block >= 2 && block < 40 ? 0.8f : 0.f;
  for (size_t i = 0; i < 64; ++i) {
    const double n = double(64 * block) + double(i);
    b.env1Raw[i] = float(0.9 * std::exp(-n / 4000.0));
    b.out[i] = amplitude * float(std::sin(2.0 * kPi * hz * n / kRate));
  }
}

// A loud tone near the top of the band (the clip's mean), then a low one (sample by sample), through a
// note start and end, alone and as the second of three renders side by side. (Lanes that clip in different
// ways at once cross over between the two, which rounds apart from either.)
TEST(VoiceSoftClip, RenderAloneMatchesItsLaneBesideOthers) {
  const auto engine = std::make_unique<PluginProcessor>();
  auto alone = makeVoiceRenders(*engine);
  auto beside = makeVoiceRenders(*engine);
  std::array<VoiceState, 4> voices;
  alone->count = 1;
  alone->voices = {&voices[0]};
  beside->count = 3;
  beside->voices = {&voices[1], &voices[2], &voices[3]};
  for (int block = 0; block < 80; ++block) {
    const double hz = block < 30 ? 19000.0 : 150.0;
    toneBlock(alone->blocks[0], block, hz, 1.2f);
    toneBlock(beside->blocks[0], block, hz, 1.f);
    toneBlock(beside->blocks[1], block, hz, 1.2f);
    toneBlock(beside->blocks[2], block, hz, 1.4f);
    voiceOutputChains(*alone, 0);
    voiceOutputChains(*beside, 0);
    for (size_t i = 0; i < 64; ++i)
      ASSERT_EQ(alone->blocks[0].out[i], beside->blocks[1].out[i]) << "block " << block << ", sample " << i;
    if (block == 29) {
      EXPECT_EQ(voices[0].softClip.meanWeight, 1.f);
    }
  }
  EXPECT_EQ(voices[0].softClip.meanWeight, 0.f);
  EXPECT_EQ(voices[0].ampLevel, voices[2].ampLevel);
}

}  // namespace
