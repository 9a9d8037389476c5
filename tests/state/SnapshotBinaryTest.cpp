// The binary snapshot form: its exact layout, round trips, other counts, cut and corrupt data, failing
// writes and the envelope-model repair.
#include <gtest/gtest.h>

#include "state/SnapshotBinary.h"
#include "state/SnapshotMigration.h"
#include "tests/state/MemoryStreams.h"
#include "tests/state/SnapshotSamples.h"

namespace {

// Offsets of the fields in a written form.
constexpr size_t kValuesAt = 4;
constexpr size_t kFlagsAt = kValuesAt + 8 * kNumParams;
constexpr size_t kValidAt = kFlagsAt + kNumParams;
constexpr size_t kLaneAt[2] = {kValidAt + 1, kValidAt + 1 + 45};
constexpr size_t kTargetAt = kLaneAt[1] + 45;

std::vector<uint8_t> written(const ParamSnapshot& s) {
  MemoryOStream out;
  EXPECT_TRUE(writeSnapshotBinary(&out.stream, s));
  return out.bytes;
}

bool readBytes(const std::vector<uint8_t>& bytes, ParamSnapshot& s, size_t chunk = SIZE_MAX) {
  MemoryIStream in(bytes);
  in.chunk = chunk;
  return readSnapshotBinary(&in.stream, s);
}

}  // namespace

TEST(SnapshotBinary, WritesTheFixedLayout) {
  const ParamSnapshot s = sampleSnapshot();
  const std::vector<uint8_t> bytes = written(s);
  ASSERT_EQ(bytes.size(), kSnapshotBinarySize);
  EXPECT_EQ(kTargetAt + 4, kSnapshotBinarySize);
  EXPECT_EQ(fieldAt<uint32_t>(bytes, 0), 119u);
  EXPECT_EQ(fieldAt<double>(bytes, kValuesAt + 8 * kParamFilterACutoff), 5015.0);
  EXPECT_EQ(fieldAt<double>(bytes, kValuesAt + 8 * kParamReverbMix), 0.3);
  EXPECT_EQ(bytes[kFlagsAt + kParamFilterACutoff], 1);
  EXPECT_EQ(bytes[kFlagsAt + kParamReverbMix], 0);
  EXPECT_EQ(bytes[kValidAt], 1);
  EXPECT_EQ(fieldAt<float>(bytes, kLaneAt[0] + 4), 0.125f);
  EXPECT_EQ(bytes[kLaneAt[0] + 32 + 4], 3);  // ties as stored
  EXPECT_EQ(fieldAt<uint32_t>(bytes, kLaneAt[0] + 40), 8u);
  EXPECT_EQ(bytes[kLaneAt[0] + 44], 1);
  EXPECT_EQ(fieldAt<float>(bytes, kLaneAt[1]), 0.5f);
  EXPECT_EQ(fieldAt<uint32_t>(bytes, kLaneAt[1] + 40), 3u);
  EXPECT_EQ(fieldAt<uint32_t>(bytes, kTargetAt), 2u);
}

TEST(SnapshotBinary, ReadsBackWhatWasWrittenWithoutTheJsonOnlySettings) {
  const ParamSnapshot s = sampleSnapshot();
  for (size_t chunk : {size_t{1}, size_t{7}, SIZE_MAX}) {
    ParamSnapshot back = junkSnapshot();
    ASSERT_TRUE(readBytes(written(s), back, chunk));
    EXPECT_EQ(back.value, s.value);
    EXPECT_EQ(back.has, s.has);
    EXPECT_TRUE(back.valid);
    EXPECT_EQ(back.seqSteps, s.seqSteps);
    EXPECT_EQ(back.seqTies, s.seqTies);
    EXPECT_EQ(back.seqStepCount, s.seqStepCount);
    EXPECT_EQ(back.seqLaneCaptured, s.seqLaneCaptured);
    EXPECT_EQ(back.seq1Target, 2u);
    EXPECT_EQ(back.lockA, -1);  // the JSON-only settings are emptied
    EXPECT_EQ(back.captureSeq, 0u);
  }
}

TEST(SnapshotBinary, ReadsOtherCountsKeepingTheTablesIds) {
  ParamSnapshot s = sampleSnapshot();
  const std::vector<uint8_t> base = written(s);

  // 130 values and flags: the 11 past the table are read and dropped, the fields after them still line up.
  std::vector<uint8_t> longer(base.begin(), base.begin() + kFlagsAt);
  for (int i = 0; i < 11; ++i) longer.insert(longer.end(), 8, 0x40);
  longer.insert(longer.end(), base.begin() + kFlagsAt, base.begin() + kValidAt);
  longer.insert(longer.end(), 11, 1);
  longer.insert(longer.end(), base.begin() + kValidAt, base.end());
  longer[0] = 130;
  ParamSnapshot back;
  ASSERT_TRUE(readBytes(longer, back));
  EXPECT_EQ(back.value, s.value);
  EXPECT_EQ(back.has, s.has);
  EXPECT_EQ(back.seq1Target, 2u);

  // 50 values and flags: the rest stay empty.
  std::vector<uint8_t> shorter(base.begin(), base.begin() + kValuesAt + 8 * 50);
  shorter.insert(shorter.end(), base.begin() + kFlagsAt, base.begin() + kFlagsAt + 50);
  shorter.insert(shorter.end(), base.begin() + kValidAt, base.end());
  shorter[0] = 50;
  ASSERT_TRUE(readBytes(shorter, back));
  EXPECT_TRUE(back.has[kParamVoiceMode]);
  EXPECT_FALSE(back.has[kParamFoldBias]);
  EXPECT_EQ(back.seqStepCount[1], 3u);
}

TEST(SnapshotBinary, CutDataFailsAndKeepsWhatWasReadBeforeTheCut) {
  const std::vector<uint8_t> bytes = written(sampleSnapshot());
  for (size_t cut = 0; cut < bytes.size(); ++cut) {
    ParamSnapshot back = junkSnapshot();
    EXPECT_FALSE(readBytes(std::vector<uint8_t>(bytes.begin(), bytes.begin() + cut), back)) << cut;
    EXPECT_EQ(back.lockA, -1) << cut;
    EXPECT_EQ(back.captureSeq, 0u) << cut;
  }
  // Cut inside the first lane: the values, flags and valid are in, the half-read step is not.
  ParamSnapshot back;
  EXPECT_FALSE(readBytes(std::vector<uint8_t>(bytes.begin(), bytes.begin() + kLaneAt[0] + 6), back));
  EXPECT_EQ(back.value[kParamFilterACutoff], 5015.0);
  EXPECT_TRUE(back.valid);
  EXPECT_EQ(back.seqSteps[0][1], 0.0f);
  EXPECT_FALSE(back.seqLaneCaptured[0]);
  // A huge count runs into the end of the data and fails.
  std::vector<uint8_t> huge = bytes;
  huge[0] = huge[1] = huge[2] = huge[3] = 0xFF;
  EXPECT_FALSE(readBytes(huge, back));
}

TEST(SnapshotBinary, WriterFailsAtAnyFailedWrite) {
  const ParamSnapshot s = sampleSnapshot();
  for (size_t capacity = 0; capacity < kSnapshotBinarySize; capacity += 13) {
    MemoryOStream out;
    out.capacity = capacity;
    EXPECT_FALSE(writeSnapshotBinary(&out.stream, s)) << capacity;
  }
  MemoryOStream exact;
  exact.capacity = kSnapshotBinarySize;
  EXPECT_TRUE(writeSnapshotBinary(&exact.stream, s));
}

// The reader keeps old values as stored; the stream that carries the snapshot repairs them by its version.
TEST(SnapshotBinary, ReadsOldValuesAsStoredForTheirStreamToRepair) {
  ParamSnapshot s;
  s.value[kParamEnvModel] = 1.0;
  s.value[kParamAmpEnvSustain] = 0.8;
  s.value[kParamAmpEnvDecay] = 1.25;
  s.has[kParamEnvModel] = s.has[kParamAmpEnvSustain] = s.has[kParamAmpEnvDecay] = true;
  ParamSnapshot back;
  ASSERT_TRUE(readBytes(written(s), back));
  EXPECT_EQ(back.value[kParamEnvModel], 1.0);
  migratePluckSnapshot(back);
  EXPECT_EQ(back.value[kParamEnvModel], 0.0);
  EXPECT_EQ(back.value[kParamAmpEnvSustain], 0.0);
  EXPECT_EQ(back.value[kParamAmpEnvRelease], 1.25);
  EXPECT_TRUE(back.has[kParamAmpEnvRelease]);

  s.value[kParamEnvModel] = 0.5;  // not above 0.5: nothing changes
  ASSERT_TRUE(readBytes(written(s), back));
  migratePluckSnapshot(back);
  EXPECT_EQ(back.value[kParamAmpEnvSustain], 0.8);
}
