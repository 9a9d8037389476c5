#include "plugin/ParamText.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <span>
#include <string_view>

#include "engine/Lfo.h"
#include "engine/ParamTable.h"
#include "engine/voice/Envelopes.h"
#include "foundation/MLSafeValue.h"

namespace {

using Labels = std::span<const char* const>;

constexpr std::array<const char*, 3> kVoiceModeLabels = {"Poly", "Mono", "Legato"};
constexpr std::array<const char*, 4> kFilterModeLabels = {"LP", "HP", "BP", "NT"};
constexpr std::array<const char*, 12> kLfoDivisionLabels = {"8 bar", "4 bar", "2 bar", "1 bar",
                                                            "1/2",   "1/4",   "1/8",   "1/16",
                                                            "1/32",  "1/4T",  "1/8T",  "1/16T"};
constexpr std::array<const char*, 10> kLfoPatternLabels = {"bloom",   "spiral", "pulse", "scatter", "breathe",
                                                           "nobrel",  "orbit",  "tide",  "fern",    "corona"};
constexpr std::array<const char*, 2> kLfoSyncModeLabels = {"Free", "Sync"};
constexpr std::array<const char*, 3> kTriggerModeLabels = {"gate", "one-shot", "loop"};
constexpr std::array<const char*, 4> kModSourceLabels = {"LFO1", "LFO2", "ENV1", "ENV2"};
constexpr std::array<const char*, 3> kShapeModeLabels = {"Sine", "Warp", "Carrier"};
constexpr std::array<const char*, 3> kFoldCharacterLabels = {"Buchla", "Serge", "Lockhart"};
constexpr std::array<const char*, 2> kOnOffLabels = {"Off", "On"};
constexpr std::array<const char*, 2> kTempoSyncLabels = {"free", "sync"};

static_assert(kLfoDivisionLabels.size() == kSyncDivBeats.size());
static_assert(kSeqSyncDivLabels.size() == kSeqSyncDivBeats.size());

// Displayed seconds of an envelope stage per unit of its plain value.
constexpr double kEnvTimeDisplayFactor = 0.3664677994397139;
// LFO::rateToHz is kLfoMinHz x kLfoHzRatio^rate.
constexpr double kLfoMinHz = 0.05;
constexpr double kLfoHzRatio = 400.0;
// "±", the prefix of a symmetric range.
constexpr std::string_view kPlusMinus = "\xC2\xB1";

// How a parameter reads. Fields a form does not use keep their defaults.
enum class Form : uint8_t {
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

enum class Sign : uint8_t {
  kNone,
  kPlusAbove0,  // "+3" for positive values, "0", "-3"
  kPlusMinus    // "±24"
};

struct TextFormat {
  Form form{Form::kFixed};
  Labels labels{};
  double scale{1.0};  // displayed number per unit of the plain value
  int decimals{2};
  std::string_view unit{};  // shown after the number, with its space
  Sign sign{Sign::kNone};
  bool roundOnParse{false};  // typed numbers are rounded to whole plain values
};

constexpr TextFormat labelsOf(Labels labels) {
  return {.form = Form::kLabel, .labels = labels};
}

constexpr TextFormat percent() {
  return {.form = Form::kFixed, .scale = 100.0, .decimals = 0, .unit = "%"};
}

TextFormat textFormat(uint32_t id) {
  switch (id) {
    case kParamVoiceMode: return labelsOf(kVoiceModeLabels);
    case kParamVoiceCount: return {.form = Form::kInteger};
    case kParamGlide:
    case kParamReverbPreDelay: return {.decimals = 0, .unit = " ms"};
    case kParamRatio: return {.decimals = 1, .unit = "x"};
    case kParamFold: return {.decimals = 1};
    case kParamFilterAMode:
    case kParamFilterBMode: return labelsOf(kFilterModeLabels);
    case kParamFilterACutoff:
    case kParamFilterBCutoff: return {.form = Form::kFrequency};
    case kParamFilterAResonance:
    case kParamFilterBResonance: return {.scale = 100.0 / 0.95, .decimals = 0, .unit = "%"};
    case kParamAmpEnvAttack:
    case kParamAmpEnvDecay:
    case kParamAmpEnvRelease:
    case kParamEnv2Attack:
    case kParamEnv2Decay:
    case kParamEnv2Release: return {.form = Form::kSeconds, .scale = kEnvTimeDisplayFactor};
    case kParamEnv1Delay:
    case kParamEnv1Hold:
    case kParamEnv2Delay:
    case kParamEnv2Hold: return {.form = Form::kSeconds};
    case kParamReverbDecay: return {.decimals = 1, .unit = " s"};
    case kParamOutputGain: return {.form = Form::kGainDb};
    case kParamEqLow:
    case kParamEqMid:
    case kParamEqHigh: return {.form = Form::kEqDb};
    case kParamLfo1Rate:
    case kParamLfo2Rate: return {.form = Form::kLfoRate};
    case kParamLfo1Pattern:
    case kParamLfo2Pattern: return labelsOf(kLfoPatternLabels);
    case kParamLfo1Slew:
    case kParamLfo2Slew: return {.form = Form::kSwitch, .labels = kOnOffLabels};
    case kParamLfo1SyncMode:
    case kParamLfo2SyncMode: return {.form = Form::kLfoSyncMode};
    case kParamOctave: return {.form = Form::kInteger, .sign = Sign::kPlusAbove0, .roundOnParse = true};
    case kParamPitchBendRange: return {.form = Form::kInteger, .unit = " st", .roundOnParse = true};
    case kParamMorphFader: return {.form = Form::kMorph};
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
      return {.form = Form::kInteger, .scale = 100.0, .unit = "%", .sign = Sign::kPlusAbove0};
    case kParamEnv1TriggerMode:
    case kParamEnv2TriggerMode: return labelsOf(kTriggerModeLabels);
    case kParamEnv1TempoSync:
    case kParamEnv2TempoSync: return {.form = Form::kSwitch, .labels = kTempoSyncLabels};
    case kParamEnv1DelayDivision:
    case kParamEnv1AttackDivision:
    case kParamEnv1HoldDivision:
    case kParamEnv1DecayDivision:
    case kParamEnv1ReleaseDivision:
    case kParamEnv2DelayDivision:
    case kParamEnv2AttackDivision:
    case kParamEnv2HoldDivision:
    case kParamEnv2DecayDivision:
    case kParamEnv2ReleaseDivision: return labelsOf(kSeqSyncDivLabels);
    case kParamPitchModSource:
    case kParamFeedbackModSource:
    case kParamShapeModSource:
    case kParamFmModSource:
    case kParamFoldCharModSource: return labelsOf(kModSourceLabels);
    case kParamPitchModRange: return {.form = Form::kInteger, .unit = " st", .sign = Sign::kPlusMinus};
    case kParamShapeMode: return labelsOf(kShapeModeLabels);
    case kParamFoldCharacter: return {.form = Form::kFoldCharacter};
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
    case kParamFilterSaturation: return {};
    default: return percent();  // every remaining parameter has the plain range 0..1
  }
}

bool isLfoLocked(double syncMode) {
  return LfoSettings::fromParams(0.0, 0.0, 0.0, 0.0, syncMode).tempoLocked;
}

double lfoSyncModeOf(uint32_t rateId, const LfoSyncModes& sync) {
  return rateId == kParamLfo2Rate ? sync.lfo2 : sync.lfo1;
}

// A display text under construction; longer texts are cut at the end of the fixed storage.
struct TextBuilder {
  std::array<char, 64> text{};
  size_t length{0};

  void append(std::string_view s) {
    const size_t n = std::min(s.size(), text.size() - length);
    std::memcpy(text.data() + length, s.data(), n);
    length += n;
  }
  void appendFixed(double x, int decimals) {
    char digits[40];
    const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, x, std::chars_format::fixed, decimals);
    if (ec == std::errc()) append({digits, end});
  }
  // The number with a leading "+" unless it reads negative; a negative number that rounds to zero
  // reads "+0", so that the text reads back as itself.
  void appendSignedFixed(double x, int decimals) {
    char digits[40];
    const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, x, std::chars_format::fixed, decimals);
    if (ec != std::errc()) return;
    std::string_view s{digits, end};
    if (s.starts_with('-') && s.find_first_not_of("-0.") == std::string_view::npos) s.remove_prefix(1);
    if (!s.starts_with('-')) append("+");
    append(s);
  }
  void appendInteger(int64_t n, Sign sign) {
    if (sign == Sign::kPlusMinus) append(kPlusMinus);
    if (sign == Sign::kPlusAbove0 && n >= 1) append("+");
    char digits[24];
    const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, n);
    if (ec == std::errc()) append({digits, end});
  }
  std::string_view view() const { return {text.data(), length}; }
};

// Index into a table of count entries: trunc(p + 0.5), clamped to the table in double first.
size_t indexOf(double p, size_t count) {
  return static_cast<size_t>(ml::safeClamp(p + 0.5, 0.0, static_cast<double>(count - 1)));
}

void appendSeconds(TextBuilder& out, double seconds) {
  if (seconds >= 1.0) {
    out.appendFixed(seconds, 1);
    out.append(" s");
  } else {
    out.appendFixed(seconds * 1000.0, 0);
    out.append(" ms");
  }
}

void appendLfoRate(TextBuilder& out, double p, bool locked) {
  const float rate = static_cast<float>(p);
  if (locked) {
    out.append(kLfoDivisionLabels[std::clamp(LFO::rateToDivIndex(rate), 0, 11)]);
    return;
  }
  const double hz = LFO::rateToHz(rate);
  out.appendFixed(hz, hz < 1.0 ? 2 : (hz < 10.0 ? 1 : 0));
  out.append(" Hz");
}

// The text of plain value p (within the parameter's range) of a parameter that reads as f.
void writeText(TextBuilder& out, const TextFormat& f, double p, double v, bool lfoLocked) {
  switch (f.form) {
    case Form::kLabel: out.append(f.labels[indexOf(p, f.labels.size())]); break;
    case Form::kSwitch: out.append(f.labels[p > 0.5 ? 1 : 0]); break;
    case Form::kLfoSyncMode: out.append(kLfoSyncModeLabels[isLfoLocked(p) ? 1 : 0]); break;
    case Form::kInteger:
      out.appendInteger(static_cast<int64_t>(std::round(p * f.scale)), f.sign);
      out.append(f.unit);
      break;
    case Form::kFixed:
      out.appendFixed(p * f.scale, f.decimals);
      out.append(f.unit);
      break;
    case Form::kSeconds: appendSeconds(out, p * f.scale); break;
    case Form::kFrequency:
      if (p >= 1000.0) {
        out.appendFixed(p / 1000.0, 1);
        out.append(" kHz");
      } else {
        out.appendFixed(p, 0);
        out.append(" Hz");
      }
      break;
    case Form::kGainDb:
      out.appendSignedFixed(p > 0.001 ? 20.0 * std::log10(p) : -60.0, 1);
      out.append(" dB");
      break;
    case Form::kEqDb:
      out.appendSignedFixed(12.0 * p, 0);
      out.append(" dB");
      break;
    case Form::kLfoRate: appendLfoRate(out, p, lfoLocked); break;
    case Form::kMorph:
      if (v <= 0.01) {
        out.append("A");
      } else if (v >= 0.99) {
        out.append("B");
      } else {
        out.appendFixed(v * 100.0, 0);
        out.append("%");
      }
      break;
    case Form::kFoldCharacter:
      out.append(kFoldCharacterLabels[p < 0.25 ? 0 : (p < 0.75 ? 1 : 2)]);
      out.append(" ");
      out.appendFixed(p * 100.0, 0);
      out.append("%");
      break;
  }
}

// Copies text into a host buffer of capacity bytes (at least 1), cut at a UTF-8 character boundary.
void copyTruncated(std::string_view text, char* buffer, uint32_t capacity) {
  size_t n = std::min<size_t>(text.size(), capacity - 1);
  while (n > 0 && n < text.size() && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
}

std::string_view trimmed(std::string_view s) {
  const size_t first = s.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

std::optional<size_t> findLabel(Labels labels, std::string_view text) {
  for (size_t i = 0; i < labels.size(); ++i) {
    if (text == labels[i]) return i;
  }
  return std::nullopt;
}

// A unit a typed number may carry; "" stands for a bare number.
struct Unit {
  std::string_view name;
  double factor;
};

// Reads text (already trimmed) as one finite decimal number, optionally signed, followed by one of
// units (spaces allowed between); returns the number times that unit's factor. Independent of the
// process locale; refuses "nan", "inf", overflowing numbers and anything left over.
std::optional<double> readNumber(std::string_view text, std::initializer_list<Unit> units) {
  if (text.size() >= 2 && text[0] == '+' && ((text[1] >= '0' && text[1] <= '9') || text[1] == '.')) {
    text.remove_prefix(1);
  }
  double x = 0.0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), x);
  if (ec != std::errc() || !std::isfinite(x)) return std::nullopt;
  const std::string_view rest = trimmed({end, static_cast<size_t>(text.data() + text.size() - end)});
  for (const Unit& unit : units) {
    if (rest == unit.name) return x * unit.factor;
  }
  return std::nullopt;
}

std::optional<double> readBare(std::string_view text) {
  return readNumber(text, {{"", 1.0}});
}

std::optional<double> readLabelOrBare(Labels labels, std::string_view text) {
  if (const auto index = findLabel(labels, text)) return static_cast<double>(*index);
  return readBare(text);
}

std::optional<double> readLfoRate(std::string_view text, bool locked) {
  if (locked) {
    if (const auto index = findLabel(kLfoDivisionLabels, text)) return static_cast<double>(*index) / 11.0;
  }
  const auto hz = readNumber(text, {{"Hz", 1.0}, {"", 1.0}});
  if (!hz) return std::nullopt;
  if (*hz <= 0.0) return 0.0;
  return ml::safeClamp(std::log(*hz / kLfoMinHz) / std::log(kLfoHzRatio), 0.0, 1.0);
}

std::optional<double> readFoldCharacter(std::string_view text) {
  for (const char* name : kFoldCharacterLabels) {
    const std::string_view n{name};
    if (text.starts_with(n) && text.size() > n.size() && text[n.size()] == ' ') {
      text = trimmed(text.substr(n.size()));
      break;
    }
  }
  return readNumber(text, {{"%", 0.01}, {"", 0.01}});
}

// The plain value of a text (already trimmed) of a parameter that reads as f.
std::optional<double> readPlain(const TextFormat& f, std::string_view text, bool lfoLocked) {
  switch (f.form) {
    case Form::kLabel:
    case Form::kSwitch: return readLabelOrBare(f.labels, text);
    case Form::kLfoSyncMode:
      if (text == "Step") return 1.0;  // the name of the locked mode in older versions
      return readLabelOrBare(kLfoSyncModeLabels, text);
    case Form::kInteger: {
      if (f.sign == Sign::kPlusMinus && text.starts_with(kPlusMinus)) text.remove_prefix(kPlusMinus.size());
      const auto x = readNumber(text, {{trimmed(f.unit), 1.0}, {"", 1.0}});
      if (!x) return std::nullopt;
      return (f.roundOnParse ? std::round(*x) : *x) / f.scale;
    }
    case Form::kFixed: {
      const auto x = readNumber(text, {{trimmed(f.unit), 1.0}, {"", 1.0}});
      if (!x) return std::nullopt;
      return *x / f.scale;
    }
    case Form::kSeconds: {
      const auto seconds = readNumber(text, {{"ms", 0.001}, {"s", 1.0}, {"", 1.0}});
      if (!seconds) return std::nullopt;
      return *seconds / f.scale;
    }
    case Form::kFrequency: return readNumber(text, {{"kHz", 1000.0}, {"Hz", 1.0}, {"", 1.0}});
    case Form::kGainDb:
      if (const auto db = readNumber(text, {{"dB", 1.0}})) return std::pow(10.0, *db / 20.0);
      return readBare(text);
    case Form::kEqDb: return readNumber(text, {{"dB", 1.0 / 12.0}, {"", 1.0}});
    case Form::kLfoRate: return readLfoRate(text, lfoLocked);
    case Form::kMorph:
      if (text == "A" || text == "a") return 0.0;
      if (text == "B" || text == "b") return 1.0;
      return readNumber(text, {{"%", 0.01}, {"", 0.01}});
    case Form::kFoldCharacter: return readFoldCharacter(text);
  }
  return std::nullopt;
}

}  // namespace

bool paramValueToText(uint32_t id, double normalised, const LfoSyncModes& sync, char* buffer,
                      uint32_t capacity) {
  if (id >= kNumParams || buffer == nullptr || capacity == 0) return false;
  const ParamInfo& row = kParams[id];
  const double v = ml::safeClamp(normalised, 0.0, 1.0);
  TextBuilder out;
  writeText(out, textFormat(id), row.min + v * (row.max - row.min), v, isLfoLocked(lfoSyncModeOf(id, sync)));
  copyTruncated(out.view(), buffer, capacity);
  return true;
}

bool paramTextToValue(uint32_t id, const char* text, const LfoSyncModes& sync, double* normalised) {
  if (id >= kNumParams || text == nullptr || normalised == nullptr) return false;
  const auto plain = readPlain(textFormat(id), trimmed(text), isLfoLocked(lfoSyncModeOf(id, sync)));
  if (!plain) return false;
  const ParamInfo& row = kParams[id];
  const double value = (*plain - row.min) / (row.max - row.min);
  if (!std::isfinite(value)) return false;
  *normalised = value;
  return true;
}
