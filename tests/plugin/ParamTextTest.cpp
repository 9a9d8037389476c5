#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <locale>
#include <string>
#include <vector>

#include "engine/ParamTable.h"
#include "plugin/ParamText.h"
#include "plugin/ParamTextFormat.h"

namespace {

const LfoSyncModes kFree{};
const LfoSyncModes kLocked{1.0, 1.0};

std::string textOf(uint32_t id, double v, const LfoSyncModes& sync = kFree) {
  char text[256];
  EXPECT_TRUE(paramValueToText(id, v, sync, text, sizeof text));
  return text;
}

std::string textAtPlain(uint32_t id, double plain, const LfoSyncModes& sync = kFree) {
  return textOf(id, normaliseParam(id, plain), sync);
}

// The normalised value of text, or NaN when it is refused.
double valueOf(uint32_t id, const std::string& text, const LfoSyncModes& sync = kFree) {
  double v = std::numeric_limits<double>::quiet_NaN();
  return paramTextToValue(id, text.c_str(), sync, &v) ? v : std::numeric_limits<double>::quiet_NaN();
}

TEST(ParamText, TextsOfTheDocumentedCases) {
  EXPECT_EQ(textOf(kParamVoiceMode, 0.5), "Mono");
  EXPECT_EQ(textOf(kParamVoiceCount, 0.0), "1");
  EXPECT_EQ(textOf(kParamFilterACutoff, 1.0), "20.0 kHz");
  EXPECT_EQ(textAtPlain(kParamFilterACutoff, 999.6), "1000 Hz");
  EXPECT_EQ(textAtPlain(kParamAmpEnvAttack, 2.0), "733 ms");
  EXPECT_EQ(textAtPlain(kParamAmpEnvRelease, 5.0), "1.8 s");
  EXPECT_EQ(textAtPlain(kParamOutputGain, 0.0), "-60.0 dB");
  EXPECT_EQ(textAtPlain(kParamOutputGain, 1.0), "+0.0 dB");
  EXPECT_EQ(textOf(kParamEqLow, 0.0), "-12 dB");
  EXPECT_EQ(textOf(kParamEqLow, 0.5), "+0 dB");
  EXPECT_EQ(textOf(kParamOctave, 0.0), "-3");
  EXPECT_EQ(textOf(kParamOctave, 0.5), "0");
  EXPECT_EQ(textOf(kParamOctave, 1.0), "+3");
  EXPECT_EQ(textOf(kParamMorphFader, 0.005), "A");
  EXPECT_EQ(textOf(kParamMorphFader, 0.5), "50%");
  EXPECT_EQ(textOf(kParamMorphFader, 0.995), "B");
  EXPECT_EQ(textOf(kParamFoldCharacter, 0.5), "Serge 50%");
  EXPECT_EQ(textOf(kParamPitchModRange, 0.5),
            "\xC2\xB1"
            "24 st");
  EXPECT_EQ(textOf(kParamEnv1TempoSync, 1.0), "sync");
  EXPECT_EQ(textOf(kParamEnv1TriggerMode, 0.5), "one-shot");
  EXPECT_EQ(textOf(kParamEnv1DelayDivision, 9.0 / 18.0), "1/4");
  // A negative level that rounds to zero reads as zero, with the sign zero reads back as.
  EXPECT_EQ(textAtPlain(kParamOutputGain, 0.995), "+0.0 dB");
  EXPECT_EQ(textAtPlain(kParamEqMid, -0.02), "+0 dB");
}

TEST(ParamText, LfoRateFollowsTheEngineSyncTest) {
  EXPECT_EQ(textOf(kParamLfo1Rate, 0.5, {1.0, 0.0}), "1/8");
  EXPECT_EQ(textOf(kParamLfo1Rate, 0.25, {0.0, 1.0}), "0.22 Hz");
  EXPECT_EQ(textOf(kParamLfo2Rate, 0.25, {0.0, 1.0}), "1 bar");
  EXPECT_EQ(textOf(kParamLfo1Rate, 0.75), "4.5 Hz");
  EXPECT_EQ(textOf(kParamLfo1Rate, 1.0), "20 Hz");
  // The engine locks exactly when trunc(clamp(mode, 0, 2) + 0.5) is 1; mode 2 runs free.
  for (double mode : {0.49, 1.5, 2.0, 7.0, -1.0, std::numeric_limits<double>::quiet_NaN()}) {
    EXPECT_EQ(textOf(kParamLfo1Rate, 0.5, {mode, 0.0}), "1.0 Hz") << mode;
  }
  for (double mode : {0.5, 1.0, 1.49}) EXPECT_EQ(textOf(kParamLfo1Rate, 0.5, {mode, 0.0}), "1/8") << mode;
  EXPECT_EQ(textAtPlain(kParamLfo1SyncMode, 2.0), "Free");
  EXPECT_EQ(textAtPlain(kParamLfo1SyncMode, 1.0), "Sync");

  EXPECT_EQ(valueOf(kParamLfo1Rate, "1/4", kLocked), 5.0 / 11.0);
  EXPECT_TRUE(std::isnan(valueOf(kParamLfo1Rate, "1/4", kFree)));
  EXPECT_NEAR(valueOf(kParamLfo2Rate, "1.0 Hz", kFree), 0.5, 1e-12);
  EXPECT_EQ(valueOf(kParamLfo1SyncMode, "Step"), 0.5);
}

// Every shown text reads back to itself (the sweeps below); these are texts a user types that no display
// shows.
TEST(ParamText, TypedTextsReadAsTheValuesTheyMean) {
  EXPECT_NEAR(valueOf(kParamAmpEnvAttack, "733 ms"), 1.0001, 1e-4);  // not clamped
  EXPECT_EQ(valueOf(kParamMorphFader, "b"), 1.0);
  EXPECT_EQ(valueOf(kParamMorphFader, "a"), 0.0);
  EXPECT_EQ(valueOf(kParamOctave, "+3"), 1.0);
  EXPECT_EQ(valueOf(kParamOctave, " -2.6 "), 0.0);
  EXPECT_EQ(valueOf(kParamFoldBias, "+50%"), 0.75);
  EXPECT_EQ(valueOf(kParamOutputGain, "+0.0 dB"), 0.5);
  EXPECT_EQ(valueOf(kParamEqHigh, "-6dB"), 0.25);
  EXPECT_EQ(valueOf(kParamGlide, "250"), 0.5);
  EXPECT_EQ(valueOf(kParamEnv1Hold, "1.5 s"), 0.75);
  EXPECT_EQ(valueOf(kParamEnv1Hold, "500ms"), 0.25);
  EXPECT_EQ(valueOf(kParamVoiceMode, "1"), 0.5);
}

TEST(ParamText, RefusesTextThatIsNeitherNumberNorLabel) {
  for (uint32_t id = 0; id < kNumParams; ++id) {
    for (const char* text : {"nan", "NaN", "inf", "-inf", "infinity", "1e999", "-1e999", "abc", "", "  ", "+",
                             "-", "12 parsecs", "0x10", "1,5", "++1", "+-1"}) {
      for (const LfoSyncModes& sync : {kFree, kLocked}) {
        double v = 0.123;
        EXPECT_FALSE(paramTextToValue(id, text, sync, &v)) << id << " '" << text << "'";
        EXPECT_EQ(v, 0.123);
      }
    }
    EXPECT_TRUE(std::isnan(valueOf(id, "unknown")));
  }
  double v = 0.0;
  EXPECT_FALSE(paramTextToValue(kNumParams, "1", kFree, &v));
  EXPECT_FALSE(paramTextToValue(0, nullptr, kFree, &v));
  EXPECT_FALSE(paramTextToValue(0, "1", kFree, nullptr));
  // Huge but finite numbers whose transform overflows are refused too.
  EXPECT_TRUE(std::isnan(valueOf(kParamOutputGain, "1e5 dB")));
  EXPECT_TRUE(std::isnan(valueOf(kParamFilterACutoff, "1e306 kHz")));
}

// Plain values where a parameter's text changes its unit, decimals, sign or label.
std::vector<double> switchPoints(uint32_t id) {
  const ParamTextFormat f = paramTextFormat(id);
  const auto lfoRateOf = [](double hz) { return std::log(hz / 0.05) / std::log(400.0); };
  std::vector<double> points;
  switch (f.form) {
    case ParamTextForm::kFrequency:
      return {1000.0};
    case ParamTextForm::kSeconds:
      return {1.0 / f.scale};
    case ParamTextForm::kGainDb:
      return {0.001, 1.0};
    case ParamTextForm::kLfoRate:
      return {lfoRateOf(1.0), lfoRateOf(10.0)};
    case ParamTextForm::kMorph:
      return {0.01, 0.99};
    case ParamTextForm::kFoldCharacter:
      return {0.25, 0.75};
    case ParamTextForm::kSwitch:
    case ParamTextForm::kLfoSyncMode:
      return {0.5, 1.5};
    case ParamTextForm::kLabel:
      for (size_t k = 0; k + 1 < f.labels.size(); ++k) points.push_back(k + 0.5);
      return points;
    default:
      return {};
  }
}

// What a host checks: every shown text reads back as a value that shows the same text, and reading that
// text again gives the same value. Over a fine grid and just beside every switch of unit or label.
TEST(ParamText, DenseSweepReadsBackToTheSameText) {
  for (uint32_t id = 0; id < kNumParams; ++id) {
    std::vector<double> values;
    for (int i = 0; i <= 4000; ++i) values.push_back(i / 4000.0);
    for (double plain : switchPoints(id))
      for (double offset : {-1e-9, 0.0, 1e-9}) values.push_back(normaliseParam(id, plain) + offset);
    for (const LfoSyncModes& sync : {kFree, kLocked}) {
      for (double v : values) {
        const std::string text = textOf(id, v, sync);
        const double back = valueOf(id, text, sync);
        ASSERT_FALSE(std::isnan(back)) << id << " '" << text << "'";
        ASSERT_EQ(textOf(id, back, sync), text) << id << " at " << v;
        ASSERT_EQ(valueOf(id, textOf(id, back, sync), sync), back) << id << " '" << text << "'";
      }
    }
  }
  // The values a switch text reads as lie just beside the switch.
  EXPECT_LT(valueOf(kParamFilterACutoff, "1000 Hz"), normaliseParam(kParamFilterACutoff, 1000.0));
  EXPECT_GT(valueOf(kParamMorphFader, "1%"), 0.01);
  EXPECT_LT(valueOf(kParamMorphFader, "99%"), 0.99);
  EXPECT_NEAR(valueOf(kParamFoldCharacter, "Serge 75%"), 0.75, 1e-9);
}

TEST(ParamText, NonFiniteAndHugeValuesShowTheRangeEnds) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const LfoSyncModes badSync{nan, inf};
  for (uint32_t id = 0; id < kNumParams; ++id) {
    for (double v : {nan, -inf, -1e300}) EXPECT_EQ(textOf(id, v, badSync), textOf(id, 0.0)) << id;
    for (double v : {inf, 1e300, 1.5}) EXPECT_EQ(textOf(id, v, badSync), textOf(id, 1.0)) << id;
  }
}

TEST(ParamText, TruncatesAtACharacterBoundary) {
  char text[8];
  EXPECT_TRUE(paramValueToText(kParamPitchModRange, 0.5, kFree, text, 2));
  EXPECT_STREQ(text, "");  // half of "±" would not be UTF-8
  EXPECT_TRUE(paramValueToText(kParamPitchModRange, 0.5, kFree, text, 4));
  EXPECT_STREQ(text,
               "\xC2\xB1"
               "2");
  EXPECT_TRUE(paramValueToText(kParamFilterACutoff, 1.0, kFree, text, 5));
  EXPECT_STREQ(text, "20.0");
  std::strcpy(text, "keep");
  EXPECT_FALSE(paramValueToText(kParamVoiceMode, 0.0, kFree, text, 0));
  EXPECT_FALSE(paramValueToText(kNumParams, 0.0, kFree, text, sizeof text));
  EXPECT_FALSE(paramValueToText(kParamVoiceMode, 0.0, kFree, nullptr, 8));
  EXPECT_STREQ(text, "keep");
}

// A decimal point is a comma in this locale.
struct CommaPunct : std::numpunct<char> {
  char do_decimal_point() const override { return ','; }
};

TEST(ParamText, TextsIgnoreTheProcessLocale) {
  const std::vector<double> values = {0.0, 0.123, 0.5, 0.777, 1.0};
  std::vector<std::string> before;
  for (uint32_t id = 0; id < kNumParams; ++id) {
    for (double v : values) before.push_back(textOf(id, v));
  }
  const std::string oldC = std::setlocale(LC_ALL, nullptr);
  const std::locale oldGlobal = std::locale::global(std::locale(std::locale::classic(), new CommaPunct));
  const bool commaC =
      std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr || std::setlocale(LC_ALL, "de_DE.utf8");
  if (!commaC) std::printf("de_DE.UTF-8 is not installed: only the C++ global locale uses a decimal comma\n");
  size_t k = 0;
  for (uint32_t id = 0; id < kNumParams; ++id) {
    for (double v : values) {
      EXPECT_EQ(textOf(id, v), before[k]) << id;
      EXPECT_EQ(textOf(id, valueOf(id, before[k])), before[k]) << id;
      ++k;
    }
  }
  EXPECT_EQ(valueOf(kParamEnv1Hold, "1.5 s"), 0.75);
  EXPECT_TRUE(std::isnan(valueOf(kParamEnv1Hold, "1,5 s")));
  std::locale::global(oldGlobal);
  std::setlocale(LC_ALL, oldC.c_str());
}

}  // namespace
