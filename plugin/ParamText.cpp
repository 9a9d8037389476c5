#include "plugin/ParamText.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <string_view>

#include "engine/Lfo.h"
#include "engine/ParamTable.h"
#include "foundation/MLSafeValue.h"
#include "plugin/ParamTextFormat.h"

namespace {

// LFO::rateToHz is kLfoMinHz x kLfoHzRatio^rate.
constexpr double kLfoMinHz = 0.05;
constexpr double kLfoHzRatio = 400.0;

bool isLfoLocked(double syncMode) {
  return LfoSettings::fromParams(0.0, 0.0, 0.0, 0.0, syncMode).tempoLocked;
}

double lfoSyncModeOf(uint32_t rateId, const LfoSyncModes& sync) {
  return rateId == kParamLfo2Rate ? sync.lfo2 : sync.lfo1;
}

constexpr size_t kFixedDigits = 40;

// x in fixed notation with the given decimals, written into digits; empty when it does not fit.
std::string_view fixedText(char (&digits)[kFixedDigits], double x, int decimals) {
  const auto [end, ec] = std::to_chars(digits, digits + kFixedDigits, x, std::chars_format::fixed, decimals);
  return ec == std::errc() ? std::string_view(digits, end) : std::string_view();
}

// A display text under construction; longer texts are cut at the end of the fixed storage.
struct TextBuilder {
  std::array<char, 64> text{};
  size_t length{0};

  void append(std::string_view s) {
    const size_t n = std::min(s.size(), text.size() - length);
    std::copy_n(s.begin(), n, text.begin() + length);
    length += n;
  }
  void appendFixed(double x, int decimals) {
    char digits[kFixedDigits];
    append(fixedText(digits, x, decimals));
  }
  // The number with a leading "+" unless it reads negative; a negative number that rounds to zero
  // reads "+0", so that the text reads back as itself.
  void appendSignedFixed(double x, int decimals) {
    char digits[kFixedDigits];
    std::string_view s = fixedText(digits, x, decimals);
    if (s.empty()) return;
    if (s.starts_with('-') && s.find_first_not_of("-0.") == std::string_view::npos) s.remove_prefix(1);
    if (!s.starts_with('-')) append("+");
    append(s);
  }
  void appendInteger(int64_t n, ParamTextSign sign) {
    if (sign == ParamTextSign::kPlusMinus) append(kPlusMinusSign);
    if (sign == ParamTextSign::kPlusAbove0 && n >= 1) append("+");
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
void writeText(TextBuilder& out, const ParamTextFormat& f, double p, double v, bool lfoLocked) {
  switch (f.form) {
    case ParamTextForm::kLabel:
      out.append(f.labels[indexOf(p, f.labels.size())]);
      break;
    case ParamTextForm::kSwitch:
      out.append(f.labels[p > 0.5 ? 1 : 0]);
      break;
    case ParamTextForm::kLfoSyncMode:
      out.append(kLfoSyncModeLabels[isLfoLocked(p) ? 1 : 0]);
      break;
    case ParamTextForm::kInteger:
      out.appendInteger(static_cast<int64_t>(std::round(p * f.scale)), f.sign);
      out.append(f.unit);
      break;
    case ParamTextForm::kFixed:
      out.appendFixed(p * f.scale, f.decimals);
      out.append(f.unit);
      break;
    case ParamTextForm::kSeconds:
      appendSeconds(out, p * f.scale);
      break;
    case ParamTextForm::kFrequency:
      if (p >= 1000.0) {
        out.appendFixed(p / 1000.0, 1);
        out.append(" kHz");
      } else {
        out.appendFixed(p, 0);
        out.append(" Hz");
      }
      break;
    case ParamTextForm::kGainDb:
      out.appendSignedFixed(p > 0.001 ? 20.0 * std::log10(p) : -60.0, 1);
      out.append(" dB");
      break;
    case ParamTextForm::kEqDb:
      out.appendSignedFixed(12.0 * p, 0);
      out.append(" dB");
      break;
    case ParamTextForm::kLfoRate:
      appendLfoRate(out, p, lfoLocked);
      break;
    case ParamTextForm::kMorph:
      if (v <= 0.01) {
        out.append("A");
      } else if (v >= 0.99) {
        out.append("B");
      } else {
        out.appendFixed(v * 100.0, 0);
        out.append("%");
      }
      break;
    case ParamTextForm::kFoldCharacter:
      out.append(kFoldCharacterLabels[p < 0.25 ? 0 : (p < 0.75 ? 1 : 2)]);
      out.append(" ");
      out.appendFixed(p * 100.0, 0);
      out.append("%");
      break;
  }
}

// The text of parameter id at the normalised value, clamped to 0..1 (NaN gives 0).
TextBuilder shownText(uint32_t id, double normalised, const LfoSyncModes& sync) {
  const ParamInfo& row = kParams[id];
  const double v = ml::safeClamp(normalised, 0.0, 1.0);
  TextBuilder out;
  writeText(out, paramTextFormat(id), row.min + v * (row.max - row.min), v,
            isLfoLocked(lfoSyncModeOf(id, sync)));
  return out;
}

// The value nearest to read (the value of text's number) that shows text. At a switch of unit, decimals
// or label a shown text's number lies on the switch itself, where the other form shows ("1000 Hz" reads
// as 1000, which shows "1.0 kHz"); the value that shows the text lies just beside it. Looked for at
// growing distances on both sides, then closed in on by halving; read itself when no value near it shows
// text (a typed text in a form no value shows).
double valueShowing(uint32_t id, std::string_view text, double read, const LfoSyncModes& sync) {
  const auto shows = [&](double v) { return shownText(id, v, sync).view() == text; };
  if (shows(read)) return read;
  for (double distance = 1e-12; distance <= 1e-2; distance *= 10.0) {
    for (double side : {-1.0, 1.0}) {
      double inside = read + side * distance;  // shows text
      if (!shows(inside)) continue;
      double outside = read;  // does not
      for (int i = 0; i < 64; ++i) {
        const double middle = 0.5 * (inside + outside);
        if (middle == inside || middle == outside) break;
        (shows(middle) ? inside : outside) = middle;
      }
      return inside;
    }
  }
  return read;
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

std::optional<size_t> findLabel(ParamTextLabels labels, std::string_view text) {
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

// A percentage, with or without "%", as a fraction.
std::optional<double> readPercent(std::string_view text) {
  return readNumber(text, {{"%", 0.01}, {"", 0.01}});
}

std::optional<double> readLabelOrBare(ParamTextLabels labels, std::string_view text) {
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
  return readPercent(text);
}

// The plain value of a text (already trimmed) of a parameter that reads as f.
std::optional<double> readPlain(const ParamTextFormat& f, std::string_view text, bool lfoLocked) {
  switch (f.form) {
    case ParamTextForm::kLabel:
    case ParamTextForm::kSwitch:
      return readLabelOrBare(f.labels, text);
    case ParamTextForm::kLfoSyncMode:
      if (text == "Step") return 1.0;  // also read as the locked mode
      return readLabelOrBare(kLfoSyncModeLabels, text);
    case ParamTextForm::kInteger:
      if (f.sign == ParamTextSign::kPlusMinus && text.starts_with(kPlusMinusSign))
        text.remove_prefix(kPlusMinusSign.size());
      [[fallthrough]];
    case ParamTextForm::kFixed: {
      const auto x = readNumber(text, {{trimmed(f.unit), 1.0}, {"", 1.0}});
      if (!x) return std::nullopt;
      return (f.roundOnParse ? std::round(*x) : *x) / f.scale;
    }
    case ParamTextForm::kSeconds: {
      const auto seconds = readNumber(text, {{"ms", 0.001}, {"s", 1.0}, {"", 1.0}});
      if (!seconds) return std::nullopt;
      return *seconds / f.scale;
    }
    case ParamTextForm::kFrequency:
      return readNumber(text, {{"kHz", 1000.0}, {"Hz", 1.0}, {"", 1.0}});
    case ParamTextForm::kGainDb:
      if (const auto db = readNumber(text, {{"dB", 1.0}})) return std::pow(10.0, *db / 20.0);
      return readBare(text);
    case ParamTextForm::kEqDb:
      return readNumber(text, {{"dB", 1.0 / 12.0}, {"", 1.0}});
    case ParamTextForm::kLfoRate:
      return readLfoRate(text, lfoLocked);
    case ParamTextForm::kMorph:
      if (text == "A" || text == "a") return 0.0;
      if (text == "B" || text == "b") return 1.0;
      return readPercent(text);
    case ParamTextForm::kFoldCharacter:
      return readFoldCharacter(text);
  }
  return std::nullopt;
}

}  // namespace

bool paramValueToText(uint32_t id, double normalised, const LfoSyncModes& sync, char* buffer,
                      uint32_t capacity) {
  if (id >= kNumParams || buffer == nullptr || capacity == 0) return false;
  copyTruncated(shownText(id, normalised, sync).view(), buffer, capacity);
  return true;
}

bool paramTextToValue(uint32_t id, const char* text, const LfoSyncModes& sync, double* normalised) {
  if (id >= kNumParams || text == nullptr || normalised == nullptr) return false;
  const std::string_view typed = trimmed(text);
  const auto plain = readPlain(paramTextFormat(id), typed, isLfoLocked(lfoSyncModeOf(id, sync)));
  if (!plain) return false;
  const ParamInfo& row = kParams[id];
  const double value = (*plain - row.min) / (row.max - row.min);
  if (!std::isfinite(value)) return false;
  *normalised = valueShowing(id, typed, value, sync);
  return true;
}
