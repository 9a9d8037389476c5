#pragma once
// Checks shared by the snapshot fuzz targets: what a JSON-read snapshot must hold, and a JSON round trip.

#include <cmath>
#include <cstdlib>
#include <string>

#include "state/ClassicJson.h"
#include "state/SnapshotJson.h"

inline void check(bool ok) {
  if (!ok) std::abort();
}

// A snapshot from the JSON reader is playable as it stands: captured values finite and in range, lanes
// within eight steps of 0..1 with ties of 0 or 1, lane 1's target within 0..4, rates finite.
inline void checkJsonSnapshot(const ParamSnapshot& s) {
  for (uint32_t id = 0; id < kNumParams; ++id) {
    if (!s.has[id]) continue;
    check(s.value[id] >= kParams[id].min && s.value[id] <= kParams[id].max);
  }
  for (int lane = 0; lane < ParamSnapshot::kSeqLanes; ++lane) {
    check(s.seqStepCount[lane] <= ParamSnapshot::kSeqMorphSteps);
    for (float step : s.seqSteps[lane]) check(step >= 0.0f && step <= 1.0f);
    for (uint8_t tie : s.seqTies[lane]) check(tie <= 1);
    check(std::isfinite(s.seqRate[lane]));
  }
  check(s.seq1Target <= ParamSnapshot::kMaxSeq1Target);
}

// The full JSON text of s reads back into a snapshot that prints the same text again.
inline void checkJsonRoundTrip(const ParamSnapshot& s) {
  const JsonTree object = snapshotToJsonObject(s);
  check(object != nullptr);
  const std::optional<std::string> text = classicJsonPrintUnformatted(object.get());
  check(text.has_value() && text->size() <= kMaxSnapshotJsonBytes);
  ParamSnapshot back;
  bool seqPresent = false;
  const bool anyCaptured = [&] {
    for (bool has : s.has)
      if (has) return true;
    return false;
  }();
  check(tavrin_parse_snapshot_json(text->c_str(), back, &seqPresent) == anyCaptured);
  check(seqPresent);
  checkJsonSnapshot(back);
  for (uint32_t id = 0; id < kNumParams; ++id) {
    if (!s.has[id] || !std::isfinite(s.value[id])) continue;
    const double range = kParams[id].max - kParams[id].min;
    const double inRange = std::fmin(std::fmax(s.value[id], kParams[id].min), kParams[id].max);
    check(std::fabs(back.value[id] - inRange) <= 0.0000006 * range);
  }
  check(back.lockA == (s.lockA >= 0 ? s.lockA : -1) && back.lockB == (s.lockB >= 0 ? s.lockB : -1));
  check(back.captureSeq == s.captureSeq);
}
