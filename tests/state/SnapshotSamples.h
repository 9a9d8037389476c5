#pragma once
// Snapshots with known contents for the snapshot form tests.

#include <cstring>
#include <vector>

#include "engine/ParamSnapshot.h"

// A few captured parameters, both lanes captured (lane 1 with 3 steps), and every setting present.
inline ParamSnapshot sampleSnapshot() {
  ParamSnapshot s;
  s.valid = true;
  s.value[kParamVoiceMode] = 1.0;  // normalised 0.5
  s.has[kParamVoiceMode] = true;
  s.value[kParamFilterACutoff] = 5015.0;  // normalised 0.25
  s.has[kParamFilterACutoff] = true;
  s.value[kParamFoldBias] = -0.5;  // normalised 0.25
  s.has[kParamFoldBias] = true;
  s.value[kParamFoldCharModSource] = 3.0;  // normalised 1
  s.has[kParamFoldCharModSource] = true;
  s.value[kParamReverbMix] = 0.3;  // not captured: never written
  s.seqSteps[0] = {0.0f, 0.125f, 0.25f, 0.5f, 0.75f, 1.0f, 0.5f, 0.0f};
  s.seqTies[0] = {0, 1, 0, 0, 3, 0, 0, 1};
  s.seqStepCount[0] = 8;
  s.seqLaneCaptured[0] = true;
  s.seqSteps[1] = {0.5f, 0.25f, 1.0f, 0.9f, 0.9f, 0.9f, 0.9f, 0.9f};
  s.seqTies[1] = {1, 0, 1, 1, 1, 1, 1, 1};
  s.seqStepCount[1] = 3;
  s.seqLaneCaptured[1] = true;
  s.seq1Target = 2;
  s.lockA = 1;
  s.lockB = 0;
  s.seqRate = {2.5f, -1.0f};
  s.seqRun = {1, 0};
  s.seqDiv = {-1, 7};
  s.captureSeq = 42;
  return s;
}

// A snapshot filled with values that no reader produces, to see that readers empty their target.
inline ParamSnapshot junkSnapshot() {
  ParamSnapshot s;
  s.value.fill(123.0);
  s.has.fill(true);
  s.valid = true;
  for (auto& lane : s.seqSteps) lane.fill(0.7f);
  for (auto& lane : s.seqTies) lane.fill(1);
  s.seqStepCount = {5, 5};
  s.seqLaneCaptured = {true, true};
  s.seq1Target = 3;
  s.lockA = s.lockB = 1;
  s.seqRate = {9.0f, 9.0f};
  s.seqRun = {2, 2};
  s.seqDiv = {4, 4};
  s.captureSeq = 99;
  return s;
}

// The little-endian value of the N-byte field at offset.
template <typename T>
T fieldAt(const std::vector<uint8_t>& bytes, size_t offset) {
  T value;
  std::memcpy(&value, bytes.data() + offset, sizeof value);
  return value;
}
