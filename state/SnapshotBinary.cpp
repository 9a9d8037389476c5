#include "state/SnapshotBinary.h"

#include "state/StreamIo.h"

namespace {

bool writeLane(const clap_ostream* stream, const ParamSnapshot& s, int lane) {
  for (float step : s.seqSteps[lane])
    if (!writeField(stream, step)) return false;
  for (uint8_t tie : s.seqTies[lane])
    if (!writeField(stream, tie)) return false;
  return writeField(stream, s.seqStepCount[lane]) && writeFlag(stream, s.seqLaneCaptured[lane]);
}

bool readLane(const clap_istream* stream, ParamSnapshot& s, int lane) {
  for (float& step : s.seqSteps[lane])
    if (!readField(stream, step)) return false;
  for (uint8_t& tie : s.seqTies[lane])
    if (!readField(stream, tie)) return false;
  return readField(stream, s.seqStepCount[lane]) && readFlag(stream, s.seqLaneCaptured[lane]);
}

// count values then count flags, keeping those of the table's ids.
bool readParams(const clap_istream* stream, ParamSnapshot& s) {
  uint32_t count = 0;
  if (!readField(stream, count)) return false;
  for (uint32_t i = 0; i < count; ++i) {
    double value = 0.0;
    if (!readField(stream, value)) return false;
    if (i < kNumParams) s.value[i] = value;
  }
  for (uint32_t i = 0; i < count; ++i) {
    bool has = false;
    if (!readFlag(stream, has)) return false;
    if (i < kNumParams) s.has[i] = has;
  }
  return true;
}

}  // namespace

bool writeSnapshotBinary(const clap_ostream* stream, const ParamSnapshot& s) {
  if (!writeField(stream, kNumParams)) return false;
  for (double value : s.value)
    if (!writeField(stream, value)) return false;
  for (bool has : s.has)
    if (!writeFlag(stream, has)) return false;
  if (!writeFlag(stream, s.valid)) return false;
  for (int lane = 0; lane < ParamSnapshot::kSeqLanes; ++lane)
    if (!writeLane(stream, s, lane)) return false;
  return writeField(stream, s.seq1Target);
}

bool readSnapshotBinary(const clap_istream* stream, ParamSnapshot& out) {
  out.clear();
  if (!readParams(stream, out) || !readFlag(stream, out.valid)) return false;
  for (int lane = 0; lane < ParamSnapshot::kSeqLanes; ++lane)
    if (!readLane(stream, out, lane)) return false;
  return readField(stream, out.seq1Target);
}
