// How each parameter's value reads as text: the form, its settings and the label tables.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "engine/Lfo.h"
#include "engine/ParamTable.h"
#include "engine/voice/SeqSyncDivisions.h"
#include "plugin/ParamText.h"

using ParamTextLabels = std::span<const char* const>;

// Labels of the choice parameters, in the order of their plain values 0, 1, 2...

inline constexpr std::array<const char*, 3> kVoiceModeLabels = {"Poly", "Mono", "Legato"};
inline constexpr std::array<const char*, 4> kFilterModeLabels = {"LP", "HP", "BP", "NT"};
inline constexpr std::array<const char*, 12> kLfoDivisionLabels = {
    "8 bar", "4 bar", "2 bar", "1 bar", "1/2", "1/4", "1/8", "1/16", "1/32", "1/4T", "1/8T", "1/16T"};
inline constexpr std::array<const char*, 10> kLfoPatternLabels = {
    "bloom", "spiral", "pulse", "scatter", "breathe", "nobrel", "orbit", "tide", "fern", "corona"};
inline constexpr std::array<const char*, 2> kLfoSyncModeLabels = {"Free", "Sync"};
inline constexpr std::array<const char*, 3> kTriggerModeLabels = {"gate", "one-shot", "loop"};
inline constexpr std::array<const char*, 4> kModSourceLabels = {"LFO1", "LFO2", "ENV1", "ENV2"};
inline constexpr std::array<const char*, 3> kShapeModeLabels = {"Sine", "Warp", "Carrier"};
inline constexpr std::array<const char*, 3> kFoldCharacterLabels = {"Buchla", "Serge", "Lockhart"};
inline constexpr std::array<const char*, 2> kOnOffLabels = {"Off", "On"};
inline constexpr std::array<const char*, 2> kTempoSyncLabels = {"free", "sync"};

static_assert(kLfoDivisionLabels.size() == kSyncDivBeats.size());
static_assert(kSeqSyncDivLabels.size() == kSeqSyncDivBeats.size());

// Displayed seconds of an envelope stage per unit of its plain value.
inline constexpr double kEnvTimeDisplayFactor = 0.3664677994397139;
// "±", the prefix of a symmetric range.
inline constexpr std::string_view kPlusMinusSign = "\xC2\xB1";

// The shapes a parameter's text takes; p is the plain value.
enum class ParamTextForm : uint8_t {
  kLabel,         // labels[trunc(p + 0.5)], clamped to the table
  kSwitch,        // labels[1] when p > 0.5, else labels[0]
  kLfoSyncMode,   // "Sync" exactly when the engine locks the LFO, else "Free"
  kInteger,       // p x scale rounded half away from zero, with a sign prefix and unit
  kFixed,         // p x scale with `decimals` decimals and unit
  kSeconds,       // t = p x scale: "1.5 s" from 1 s up, "250 ms" below
  kFrequency,     // "1.2 kHz" from 1000 Hz up, "440 Hz" below
  kGainDb,        // 20 log10(p) in dB, -60 dB at 0.001 and below
  kEqDb,          // 12 p in dB
  kLfoRate,       // a division while the LFO is locked, else its rate in Hz
  kMorph,         // "A", "B" or the percentage between them
  kFoldCharacter  // the character's name and p as a percentage
};

enum class ParamTextSign : uint8_t {
  kNone,
  kPlusAbove0,  // "+3" for positive values, "0", "-3"
  kPlusMinus    // "±24"
};

// How one parameter reads. Fields its form does not use keep their defaults.
struct ParamTextFormat {
  ParamTextForm form{ParamTextForm::kFixed};
  ParamTextLabels labels{};
  double scale{1.0};  // displayed number per unit of the plain value
  int decimals{2};
  std::string_view unit{};  // shown after the number, with its space
  ParamTextSign sign{ParamTextSign::kNone};
  bool roundOnParse{false};  // typed numbers are rounded to whole plain values
};

// How parameter id reads.
constexpr ParamTextFormat paramTextFormat(uint32_t id) {
  constexpr auto labelsOf = [](ParamTextLabels labels) {
    return ParamTextFormat{.form = ParamTextForm::kLabel, .labels = labels};
  };
  switch (id) {
    case kParamVoiceMode:
      return labelsOf(kVoiceModeLabels);
    case kParamVoiceCount:
      return {.form = ParamTextForm::kInteger};
    case kParamGlide:
    case kParamReverbPreDelay:
      return {.decimals = 0, .unit = " ms"};
    case kParamRatio:
      return {.decimals = 1, .unit = "x"};
    case kParamFold:
      return {.decimals = 1};
    case kParamFilterAMode:
    case kParamFilterBMode:
      return labelsOf(kFilterModeLabels);
    case kParamFilterACutoff:
    case kParamFilterBCutoff:
      return {.form = ParamTextForm::kFrequency};
    case kParamFilterAResonance:
    case kParamFilterBResonance:
      return {.scale = 100.0 / 0.95, .decimals = 0, .unit = "%"};
    case kParamAmpEnvAttack:
    case kParamAmpEnvDecay:
    case kParamAmpEnvRelease:
    case kParamEnv2Attack:
    case kParamEnv2Decay:
    case kParamEnv2Release:
      return {.form = ParamTextForm::kSeconds, .scale = kEnvTimeDisplayFactor};
    case kParamEnv1Delay:
    case kParamEnv1Hold:
    case kParamEnv2Delay:
    case kParamEnv2Hold:
      return {.form = ParamTextForm::kSeconds};
    case kParamReverbDecay:
      return {.decimals = 1, .unit = " s"};
    case kParamOutputGain:
      return {.form = ParamTextForm::kGainDb};
    case kParamEqLow:
    case kParamEqMid:
    case kParamEqHigh:
      return {.form = ParamTextForm::kEqDb};
    case kParamLfo1Rate:
    case kParamLfo2Rate:
      return {.form = ParamTextForm::kLfoRate};
    case kParamLfo1Pattern:
    case kParamLfo2Pattern:
      return labelsOf(kLfoPatternLabels);
    case kParamLfo1Slew:
    case kParamLfo2Slew:
      return {.form = ParamTextForm::kSwitch, .labels = kOnOffLabels};
    case kParamLfo1SyncMode:
    case kParamLfo2SyncMode:
      return {.form = ParamTextForm::kLfoSyncMode};
    case kParamOctave:
      return {.form = ParamTextForm::kInteger, .sign = ParamTextSign::kPlusAbove0, .roundOnParse = true};
    case kParamPitchBendRange:
      return {.form = ParamTextForm::kInteger, .unit = " st", .roundOnParse = true};
    case kParamMorphFader:
      return {.form = ParamTextForm::kMorph};
    case kParamFoldBias:
    case kParamEnv1CurveA:
    case kParamEnv1CurveD:
    case kParamEnv1CurveR:
    case kParamEnv1Curve:
    case kParamEnv1KeyTrack:
    case kParamEnv2CurveA:
    case kParamEnv2CurveD:
    case kParamEnv2CurveR:
    case kParamEnv2KeyTrack:
      return {
          .form = ParamTextForm::kInteger, .scale = 100.0, .unit = "%", .sign = ParamTextSign::kPlusAbove0};
    case kParamEnv1TriggerMode:
    case kParamEnv2TriggerMode:
      return labelsOf(kTriggerModeLabels);
    case kParamEnv1TempoSync:
    case kParamEnv2TempoSync:
      return {.form = ParamTextForm::kSwitch, .labels = kTempoSyncLabels};
    case kParamEnv1DelayDivision:
    case kParamEnv1AttackDivision:
    case kParamEnv1HoldDivision:
    case kParamEnv1DecayDivision:
    case kParamEnv1ReleaseDivision:
    case kParamEnv2DelayDivision:
    case kParamEnv2AttackDivision:
    case kParamEnv2HoldDivision:
    case kParamEnv2DecayDivision:
    case kParamEnv2ReleaseDivision:
      return labelsOf(kSeqSyncDivLabels);
    case kParamPitchModSource:
    case kParamFeedbackModSource:
    case kParamShapeModSource:
    case kParamFmModSource:
    case kParamFoldCharModSource:
      return labelsOf(kModSourceLabels);
    case kParamPitchModRange:
      return {.form = ParamTextForm::kInteger, .unit = " st", .sign = ParamTextSign::kPlusMinus};
    case kParamShapeMode:
      return labelsOf(kShapeModeLabels);
    case kParamFoldCharacter:
      return {.form = ParamTextForm::kFoldCharacter};
    case kParamFmAmount:
    case kParamStereoSpread:
    case kParamVelocityTimbre:
    case kParamRatioModSource:
    case kParamFoldModSource:
    case kParamFilterACutoffModSource:
    case kParamFilterBCutoffModSource:
    case kParamEnvModel:
    case kParamFoldBiasModSource:
    case kParamEnv2Sustain:
    case kParamFilterSaturation:
      return {};
    default:
      // Every remaining parameter has the plain range 0..1.
      return {.scale = 100.0, .decimals = 0, .unit = "%"};
  }
}

// Percentages show the plain value x 100, which is only the parameter's share of its range for 0..1.
static_assert([] {
  for (uint32_t id = 0; id < kNumParams; ++id) {
    const ParamTextFormat f = paramTextFormat(id);
    if (f.unit == "%" && f.scale == 100.0 && f.form == ParamTextForm::kFixed &&
        (kParams[id].min != 0.0 || kParams[id].max != 1.0))
      return false;
  }
  return true;
}());
