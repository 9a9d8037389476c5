// The synthesizer's 119 parameters: id, display name, plain range and default, and a named id for each.
#pragma once

#include <cstdint>

// One parameter. The id equals the row index and is the CLAP parameter id; values are plain (not
// normalised): min <= def <= max.
struct ParamInfo {
  uint32_t id;
  const char* name;
  double min;
  double max;
  double def;
};

inline constexpr uint32_t kNumParams = 119;

inline constexpr uint32_t kParamVoiceMode = 0;
inline constexpr uint32_t kParamVoiceCount = 1;
inline constexpr uint32_t kParamGlide = 2;
inline constexpr uint32_t kParamRatio = 3;
inline constexpr uint32_t kParamFmAmount = 4;
inline constexpr uint32_t kParamFold = 5;
inline constexpr uint32_t kParamFilterAMode = 6;
inline constexpr uint32_t kParamFilterACutoff = 7;
inline constexpr uint32_t kParamFilterAResonance = 8;
inline constexpr uint32_t kParamAmpEnvAttack = 9;
inline constexpr uint32_t kParamAmpEnvDecay = 10;
inline constexpr uint32_t kParamAmpEnvSustain = 11;
inline constexpr uint32_t kParamAmpEnvRelease = 12;
inline constexpr uint32_t kParamNoiseLevel = 13;
inline constexpr uint32_t kParamReverbPreDelay = 14;
inline constexpr uint32_t kParamReverbDecay = 15;
inline constexpr uint32_t kParamReverbTone = 16;
inline constexpr uint32_t kParamReverbMix = 17;
inline constexpr uint32_t kParamFilterBMode = 18;
inline constexpr uint32_t kParamFilterBCutoff = 19;
inline constexpr uint32_t kParamFilterBResonance = 20;
inline constexpr uint32_t kParamFilterADrive = 21;
inline constexpr uint32_t kParamFilterAKeyTrack = 22;
inline constexpr uint32_t kParamOutputGain = 23;
inline constexpr uint32_t kParamEqLow = 24;
inline constexpr uint32_t kParamEqMid = 25;
inline constexpr uint32_t kParamEqHigh = 26;
inline constexpr uint32_t kParamLfo1Rate = 27;
inline constexpr uint32_t kParamLfo1Pattern = 28;
inline constexpr uint32_t kParamLfo1Slew = 29;
inline constexpr uint32_t kParamLfo2Rate = 30;
inline constexpr uint32_t kParamLfo2Pattern = 31;
inline constexpr uint32_t kParamLfo2Slew = 32;
inline constexpr uint32_t kParamRatioModStart = 33;
inline constexpr uint32_t kParamRatioModEnd = 34;
inline constexpr uint32_t kParamFoldModStart = 35;
inline constexpr uint32_t kParamFoldModEnd = 36;
inline constexpr uint32_t kParamFilterACutoffModStart = 37;
inline constexpr uint32_t kParamFilterACutoffModEnd = 38;
inline constexpr uint32_t kParamFilterBCutoffModStart = 39;
inline constexpr uint32_t kParamFilterBCutoffModEnd = 40;
inline constexpr uint32_t kParamLfo1Phase = 41;
inline constexpr uint32_t kParamLfo1Delay = 42;
inline constexpr uint32_t kParamLfo1SyncMode = 43;
inline constexpr uint32_t kParamLfo2Phase = 44;
inline constexpr uint32_t kParamLfo2Delay = 45;
inline constexpr uint32_t kParamLfo2SyncMode = 46;
inline constexpr uint32_t kParamOctave = 47;
inline constexpr uint32_t kParamPitchBendRange = 48;
inline constexpr uint32_t kParamFilterBDrive = 49;
inline constexpr uint32_t kParamFilterBKeyTrack = 50;
inline constexpr uint32_t kParamMorphFader = 51;
inline constexpr uint32_t kParamDrift = 52;
inline constexpr uint32_t kParamStereoSpread = 53;
inline constexpr uint32_t kParamVelocityTimbre = 54;
inline constexpr uint32_t kParamRatioModSource = 55;
inline constexpr uint32_t kParamFoldModSource = 56;
inline constexpr uint32_t kParamFilterACutoffModSource = 57;
inline constexpr uint32_t kParamFilterBCutoffModSource = 58;
inline constexpr uint32_t kParamEnvModel = 59;
inline constexpr uint32_t kParamFoldBias = 60;
inline constexpr uint32_t kParamFoldBiasModStart = 61;
inline constexpr uint32_t kParamFoldBiasModEnd = 62;
inline constexpr uint32_t kParamFoldBiasModSource = 63;
inline constexpr uint32_t kParamEnv1CurveA = 64;
inline constexpr uint32_t kParamEnv1CurveD = 65;
inline constexpr uint32_t kParamEnv1CurveR = 66;
inline constexpr uint32_t kParamEnv1Curve = 67;
inline constexpr uint32_t kParamEnv1Delay = 68;
inline constexpr uint32_t kParamEnv1Hold = 69;
inline constexpr uint32_t kParamEnv1KeyTrack = 70;
inline constexpr uint32_t kParamEnv1TriggerMode = 71;
inline constexpr uint32_t kParamEnv2Attack = 72;
inline constexpr uint32_t kParamEnv2Decay = 73;
inline constexpr uint32_t kParamEnv2Sustain = 74;
inline constexpr uint32_t kParamEnv2Release = 75;
inline constexpr uint32_t kParamEnv2Delay = 76;
inline constexpr uint32_t kParamEnv2Hold = 77;
inline constexpr uint32_t kParamEnv2CurveA = 78;
inline constexpr uint32_t kParamEnv2CurveD = 79;
inline constexpr uint32_t kParamEnv2CurveR = 80;
inline constexpr uint32_t kParamEnv2KeyTrack = 81;
inline constexpr uint32_t kParamEnv2TriggerMode = 82;
inline constexpr uint32_t kParamEnv1TempoSync = 83;
inline constexpr uint32_t kParamEnv1DelayDivision = 84;
inline constexpr uint32_t kParamEnv1AttackDivision = 85;
inline constexpr uint32_t kParamEnv1HoldDivision = 86;
inline constexpr uint32_t kParamEnv1DecayDivision = 87;
inline constexpr uint32_t kParamEnv1ReleaseDivision = 88;
inline constexpr uint32_t kParamEnv2TempoSync = 89;
inline constexpr uint32_t kParamEnv2DelayDivision = 90;
inline constexpr uint32_t kParamEnv2AttackDivision = 91;
inline constexpr uint32_t kParamEnv2HoldDivision = 92;
inline constexpr uint32_t kParamEnv2DecayDivision = 93;
inline constexpr uint32_t kParamEnv2ReleaseDivision = 94;
inline constexpr uint32_t kParamAnalog = 95;
inline constexpr uint32_t kParamFilterSaturation = 96;
inline constexpr uint32_t kParamNoiseMix = 97;
inline constexpr uint32_t kParamClickAmount = 98;
inline constexpr uint32_t kParamPitchModStart = 99;
inline constexpr uint32_t kParamPitchModEnd = 100;
inline constexpr uint32_t kParamPitchModSource = 101;
inline constexpr uint32_t kParamPitchModRange = 102;
inline constexpr uint32_t kParamFeedback = 103;
inline constexpr uint32_t kParamFeedbackModStart = 104;
inline constexpr uint32_t kParamFeedbackModEnd = 105;
inline constexpr uint32_t kParamFeedbackModSource = 106;
inline constexpr uint32_t kParamShapeMode = 107;
inline constexpr uint32_t kParamShape = 108;
inline constexpr uint32_t kParamShapeModStart = 109;
inline constexpr uint32_t kParamShapeModEnd = 110;
inline constexpr uint32_t kParamShapeModSource = 111;
inline constexpr uint32_t kParamFmModStart = 112;
inline constexpr uint32_t kParamFmModEnd = 113;
inline constexpr uint32_t kParamFmModSource = 114;
inline constexpr uint32_t kParamFoldCharacter = 115;
inline constexpr uint32_t kParamFoldCharModStart = 116;
inline constexpr uint32_t kParamFoldCharModEnd = 117;
inline constexpr uint32_t kParamFoldCharModSource = 118;

// Glide is in milliseconds, cutoffs in Hz; mode, source, division, Voice Count and Octave rows hold whole
// numbers in a float range.
inline constexpr ParamInfo kParams[kNumParams] = {
    {kParamVoiceMode, "Voice Mode", 0.0, 2.0, 0.0},
    {kParamVoiceCount, "Voice Count", 1.0, 8.0, 8.0},
    {kParamGlide, "Glide", 0.0, 500.0, 0.0},
    {kParamRatio, "Ratio", 0.5, 16.0, 1.0},
    {kParamFmAmount, "FM Amount", 0.0, 0.2, 0.04},
    {kParamFold, "Fold", 1.0, 8.0, 1.8},
    {kParamFilterAMode, "Filter A Mode", 0.0, 3.0, 0.0},
    {kParamFilterACutoff, "Filter A Cutoff", 20.0, 20000.0, 4500.0},
    {kParamFilterAResonance, "Filter A Resonance", 0.0, 0.95, 0.1},
    {kParamAmpEnvAttack, "Amp Env Attack", 0.001, 2.0, 0.008},
    {kParamAmpEnvDecay, "Amp Env Decay", 0.001, 2.0, 0.35},
    {kParamAmpEnvSustain, "Amp Env Sustain", 0.0, 1.0, 0.55},
    {kParamAmpEnvRelease, "Amp Env Release", 0.001, 5.0, 0.4},
    {kParamNoiseLevel, "Noise Level", 0.0, 1.0, 0.03},
    {kParamReverbPreDelay, "Reverb Pre-Delay", 0.0, 100.0, 20.0},
    {kParamReverbDecay, "Reverb Decay", 0.1, 30.0, 2.0},
    {kParamReverbTone, "Reverb Tone", 0.0, 1.0, 0.45},
    {kParamReverbMix, "Reverb Mix", 0.0, 1.0, 0.15},
    {kParamFilterBMode, "Filter B Mode", 0.0, 3.0, 0.0},
    {kParamFilterBCutoff, "Filter B Cutoff", 20.0, 20000.0, 20000.0},
    {kParamFilterBResonance, "Filter B Resonance", 0.0, 0.95, 0.0},
    {kParamFilterADrive, "Filter A Drive", 0.0, 1.0, 0.0},
    {kParamFilterAKeyTrack, "Filter A Key Track", 0.0, 1.0, 0.0},
    {kParamOutputGain, "Output Gain", 0.0, 2.0, 0.1},
    {kParamEqLow, "EQ Low", -1.0, 1.0, 0.0},
    {kParamEqMid, "EQ Mid", -1.0, 1.0, 0.0},
    {kParamEqHigh, "EQ High", -1.0, 1.0, 0.0},
    {kParamLfo1Rate, "LFO 1 Rate", 0.0, 1.0, 0.5},
    {kParamLfo1Pattern, "LFO 1 Pattern", 0.0, 9.0, 0.0},
    {kParamLfo1Slew, "LFO 1 Slew", 0.0, 1.0, 0.0},
    {kParamLfo2Rate, "LFO 2 Rate", 0.0, 1.0, 0.5},
    {kParamLfo2Pattern, "LFO 2 Pattern", 0.0, 9.0, 0.0},
    {kParamLfo2Slew, "LFO 2 Slew", 0.0, 1.0, 0.0},
    {kParamRatioModStart, "Ratio Mod Start", 0.0, 1.0, 0.0},
    {kParamRatioModEnd, "Ratio Mod End", 0.0, 1.0, 0.0},
    {kParamFoldModStart, "Fold Mod Start", 0.0, 1.0, 0.0},
    {kParamFoldModEnd, "Fold Mod End", 0.0, 1.0, 0.0},
    {kParamFilterACutoffModStart, "Filter A Cutoff Mod Start", 0.0, 1.0, 0.0},
    {kParamFilterACutoffModEnd, "Filter A Cutoff Mod End", 0.0, 1.0, 0.0},
    {kParamFilterBCutoffModStart, "Filter B Cutoff Mod Start", 0.0, 1.0, 0.0},
    {kParamFilterBCutoffModEnd, "Filter B Cutoff Mod End", 0.0, 1.0, 0.0},
    {kParamLfo1Phase, "LFO 1 Phase", 0.0, 1.0, 0.0},
    {kParamLfo1Delay, "LFO 1 Delay", 0.0, 1.0, 0.0},
    {kParamLfo1SyncMode, "LFO 1 Sync Mode", 0.0, 2.0, 0.0},
    {kParamLfo2Phase, "LFO 2 Phase", 0.0, 1.0, 0.0},
    {kParamLfo2Delay, "LFO 2 Delay", 0.0, 1.0, 0.0},
    {kParamLfo2SyncMode, "LFO 2 Sync Mode", 0.0, 2.0, 0.0},
    {kParamOctave, "Octave", -3.0, 3.0, 0.0},
    {kParamPitchBendRange, "Pitch Bend Range", 0.0, 24.0, 2.0},
    {kParamFilterBDrive, "Filter B Drive", 0.0, 1.0, 0.0},
    {kParamFilterBKeyTrack, "Filter B Key Track", 0.0, 1.0, 0.0},
    {kParamMorphFader, "Morph Fader", 0.0, 1.0, 0.0},
    {kParamDrift, "Drift", 0.0, 1.0, 0.0},
    {kParamStereoSpread, "Stereo Spread", 0.0, 1.0, 0.0},
    {kParamVelocityTimbre, "Velocity Timbre", 0.0, 1.0, 0.0},
    {kParamRatioModSource, "Ratio Mod Source", 0.0, 3.0, 0.0},
    {kParamFoldModSource, "Fold Mod Source", 0.0, 3.0, 1.0},
    {kParamFilterACutoffModSource, "Filter A Cutoff Mod Source", 0.0, 3.0, 0.0},
    {kParamFilterBCutoffModSource, "Filter B Cutoff Mod Source", 0.0, 3.0, 1.0},
    {kParamEnvModel, "Env Model", 0.0, 1.0, 0.0},
    {kParamFoldBias, "Fold Bias", -1.0, 1.0, 0.0},
    {kParamFoldBiasModStart, "Fold Bias Mod Start", 0.0, 1.0, 0.0},
    {kParamFoldBiasModEnd, "Fold Bias Mod End", 0.0, 1.0, 0.0},
    {kParamFoldBiasModSource, "Fold Bias Mod Source", 0.0, 3.0, 1.0},
    {kParamEnv1CurveA, "Env 1 Curve A", -1.0, 1.0, 0.0},
    {kParamEnv1CurveD, "Env 1 Curve D", -1.0, 1.0, 0.0},
    {kParamEnv1CurveR, "Env 1 Curve R", -1.0, 1.0, 0.0},
    {kParamEnv1Curve, "Env 1 Curve", -1.0, 1.0, 0.0},
    {kParamEnv1Delay, "Env 1 Delay", 0.0, 2.0, 0.0},
    {kParamEnv1Hold, "Env 1 Hold", 0.0, 2.0, 0.0},
    {kParamEnv1KeyTrack, "Env 1 Key Track", -1.0, 1.0, 0.0},
    {kParamEnv1TriggerMode, "Env 1 Trigger Mode", 0.0, 2.0, 0.0},
    {kParamEnv2Attack, "Env 2 Attack", 0.001, 2.0, 0.008},
    {kParamEnv2Decay, "Env 2 Decay", 0.001, 2.0, 0.35},
    {kParamEnv2Sustain, "Env 2 Sustain", 0.0, 1.0, 0.55},
    {kParamEnv2Release, "Env 2 Release", 0.001, 5.0, 0.4},
    {kParamEnv2Delay, "Env 2 Delay", 0.0, 2.0, 0.0},
    {kParamEnv2Hold, "Env 2 Hold", 0.0, 2.0, 0.0},
    {kParamEnv2CurveA, "Env 2 Curve A", -1.0, 1.0, 0.0},
    {kParamEnv2CurveD, "Env 2 Curve D", -1.0, 1.0, 0.0},
    {kParamEnv2CurveR, "Env 2 Curve R", -1.0, 1.0, 0.0},
    {kParamEnv2KeyTrack, "Env 2 Key Track", -1.0, 1.0, 0.0},
    {kParamEnv2TriggerMode, "Env 2 Trigger Mode", 0.0, 2.0, 0.0},
    {kParamEnv1TempoSync, "Env 1 Tempo Sync", 0.0, 1.0, 0.0},
    {kParamEnv1DelayDivision, "Env 1 Delay Division", 0.0, 18.0, 9.0},
    {kParamEnv1AttackDivision, "Env 1 Attack Division", 0.0, 18.0, 9.0},
    {kParamEnv1HoldDivision, "Env 1 Hold Division", 0.0, 18.0, 9.0},
    {kParamEnv1DecayDivision, "Env 1 Decay Division", 0.0, 18.0, 9.0},
    {kParamEnv1ReleaseDivision, "Env 1 Release Division", 0.0, 18.0, 9.0},
    {kParamEnv2TempoSync, "Env 2 Tempo Sync", 0.0, 1.0, 0.0},
    {kParamEnv2DelayDivision, "Env 2 Delay Division", 0.0, 18.0, 9.0},
    {kParamEnv2AttackDivision, "Env 2 Attack Division", 0.0, 18.0, 9.0},
    {kParamEnv2HoldDivision, "Env 2 Hold Division", 0.0, 18.0, 9.0},
    {kParamEnv2DecayDivision, "Env 2 Decay Division", 0.0, 18.0, 9.0},
    {kParamEnv2ReleaseDivision, "Env 2 Release Division", 0.0, 18.0, 9.0},
    {kParamAnalog, "Analog", 0.0, 1.0, 0.0},
    {kParamFilterSaturation, "Filter Saturation", 0.0, 1.0, 0.0},
    {kParamNoiseMix, "Noise Mix", 0.0, 1.0, 0.0},
    {kParamClickAmount, "Click Amount", 0.0, 1.0, 0.0},
    {kParamPitchModStart, "Pitch Mod Start", 0.0, 1.0, 0.5},
    {kParamPitchModEnd, "Pitch Mod End", 0.0, 1.0, 0.5},
    {kParamPitchModSource, "Pitch Mod Source", 0.0, 3.0, 3.0},
    {kParamPitchModRange, "Pitch Mod Range", 0.0, 48.0, 24.0},
    {kParamFeedback, "Feedback", 0.0, 1.0, 0.0},
    {kParamFeedbackModStart, "Feedback Mod Start", 0.0, 1.0, 0.0},
    {kParamFeedbackModEnd, "Feedback Mod End", 0.0, 1.0, 0.0},
    {kParamFeedbackModSource, "Feedback Mod Source", 0.0, 3.0, 0.0},
    {kParamShapeMode, "Shape Mode", 0.0, 2.0, 0.0},
    {kParamShape, "Shape", 0.0, 1.0, 0.0},
    {kParamShapeModStart, "Shape Mod Start", 0.0, 1.0, 0.0},
    {kParamShapeModEnd, "Shape Mod End", 0.0, 1.0, 0.0},
    {kParamShapeModSource, "Shape Mod Source", 0.0, 3.0, 0.0},
    {kParamFmModStart, "FM Mod Start", 0.0, 1.0, 0.0},
    {kParamFmModEnd, "FM Mod End", 0.0, 1.0, 0.0},
    {kParamFmModSource, "FM Mod Source", 0.0, 3.0, 0.0},
    {kParamFoldCharacter, "Fold Character", 0.0, 1.0, 0.0},
    {kParamFoldCharModStart, "Fold Char Mod Start", 0.0, 1.0, 0.0},
    {kParamFoldCharModEnd, "Fold Char Mod End", 0.0, 1.0, 0.0},
    {kParamFoldCharModSource, "Fold Char Mod Source", 0.0, 3.0, 1.0},
};

static_assert([] {
  for (uint32_t i = 0; i < kNumParams; ++i) {
    if (kParams[i].id != i || !(kParams[i].min <= kParams[i].def && kParams[i].def <= kParams[i].max))
      return false;
  }
  return true;
}());

// The normalised 0..1 value, as the host and the editor see it, of a plain value of parameter id: clamped to
// 0..1 (NaN gives 0). 0 for an id out of range.
double normaliseParam(uint32_t id, double plain);

// The plain value of a normalised value: v clamped to 0..1 (NaN gives 0), then min + v x (max - min) of
// the parameter's row. Every writer of parameters from outside uses this. 0 for an id out of range.
double clapDenormParam(uint32_t id, double normalised);
