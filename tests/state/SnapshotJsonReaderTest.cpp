// The JSON snapshot reader: round trips, the edge cases of its keys, and bad texts of every kind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "state/ClassicJson.h"
#include "state/SnapshotJson.h"
#include "state/SnapshotMigration.h"
#include "tests/state/SnapshotSamples.h"

namespace {

double plainAt(uint32_t id, double normalised) {
  return kParams[id].min + normalised * (kParams[id].max - kParams[id].min);
}

std::string printed(const ParamSnapshot& s) {
  return classicJsonPrintUnformatted(snapshotToJsonObject(s).get()).value_or("");
}

void expectDefaultsExcept(const ParamSnapshot& s, std::initializer_list<uint32_t> ids) {
  for (uint32_t id = 0; id < kNumParams; ++id) {
    EXPECT_TRUE(s.has[id]) << id;
    if (std::find(ids.begin(), ids.end(), id) == ids.end()) {
      EXPECT_EQ(s.value[id], kParams[id].def) << id;
    }
  }
}

}  // namespace

TEST(SnapshotJsonReader, RoundTripMovesValuesByAtMostHalfAMillionthOfTheirRange) {
  ParamSnapshot s = sampleSnapshot();
  for (uint32_t id = 0; id < kNumParams; ++id) {
    s.value[id] = plainAt(id, std::fmod(id * 0.3819660113, 1.0));
    s.has[id] = true;
  }
  ParamSnapshot back = junkSnapshot();
  bool seqPresent = false;
  ASSERT_TRUE(tavrin_parse_snapshot_json(printed(s).c_str(), back, &seqPresent));
  for (uint32_t id = 0; id < kNumParams; ++id) {
    const double range = kParams[id].max - kParams[id].min;
    EXPECT_NEAR(back.value[id], s.value[id], 0.0000005 * range * (1 + 1e-9)) << id;
    EXPECT_TRUE(back.has[id]);
  }
  EXPECT_TRUE(back.valid);
  EXPECT_TRUE(seqPresent);
  // Ties are stored as flags and lane 1 keeps only its 3 steps; the rest reads as written.
  EXPECT_EQ(back.seqTies[0], (std::array<uint8_t, 8>{0, 1, 0, 0, 1, 0, 0, 1}));
  EXPECT_EQ(back.seqSteps[1], (std::array<float, 8>{0.5f, 0.25f, 1.0f, 0, 0, 0, 0, 0}));
  // A second round trip prints the same text.
  EXPECT_EQ(printed(back), printed(s));
}

TEST(SnapshotJsonReader, LaterMembersWinAndOthersTakeTheirDefaults) {
  ParamSnapshot s;
  ASSERT_TRUE(tavrin_parse_snapshot_json(R"({"cutoff": 0.5, "cutoffA": 0.25, "ratio": 0.1, "ratio": 1})", s,
                                         nullptr));
  EXPECT_EQ(s.value[kParamFilterACutoff], 5015.0);
  EXPECT_EQ(s.value[kParamRatio], 16.0);
  expectDefaultsExcept(s, {kParamFilterACutoff, kParamRatio});
  EXPECT_EQ(s.lockA, -1);
  EXPECT_FALSE(s.seqLaneCaptured[0]);

  // Numbers outside 0..1 land on the ends of the range; unknown keys and other types are ignored.
  ASSERT_TRUE(tavrin_parse_snapshot_json(
      R"({"cutoffA": 7, "cutoffB": -1, "glide": 1e999, "Ratio": 0.5, "fold": "0.5", "drive": true,)"
      R"( "noise": null, "sustain": [0.5], "attack": {"v": 1}})",
      s, nullptr));
  EXPECT_EQ(s.value[kParamFilterACutoff], 20000.0);
  EXPECT_EQ(s.value[kParamFilterBCutoff], 20.0);
  EXPECT_EQ(s.value[kParamGlide], 500.0);
  expectDefaultsExcept(s, {kParamFilterACutoff, kParamFilterBCutoff, kParamGlide});
}

// The page sends current values, so the reader keeps them; an old stream repairs its poles by its version.
TEST(SnapshotJsonReader, KeepsOldValuesForTheirStreamToRepair) {
  ParamSnapshot s;
  ASSERT_TRUE(tavrin_parse_snapshot_json(R"({"envModel": 1})", s, nullptr));
  EXPECT_EQ(s.value[kParamEnvModel], 1.0);
  expectDefaultsExcept(s, {kParamEnvModel});
  migratePluckSnapshot(s);
  EXPECT_EQ(s.value[kParamEnvModel], 0.0);
  EXPECT_EQ(s.value[kParamAmpEnvSustain], 0.0);
  EXPECT_EQ(s.value[kParamAmpEnvRelease], 0.35);
  expectDefaultsExcept(s, {kParamAmpEnvSustain, kParamAmpEnvRelease});
}

TEST(SnapshotJsonReader, LanesKeepEightStepsAndTiesAsFarAsGiven) {
  ParamSnapshot s;
  ASSERT_TRUE(tavrin_parse_snapshot_json(
      R"({"ratio": 0.5, "__seq0_steps": [0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8, 0.9, 1.0],)"
      R"( "__seq0_ties": [1, 1, 1], "__seq1_steps": [-1, 2, "x", 1e999, null],)"
      R"( "__seq1_ties": [true, 5, 0, -0.0, "1"]})",
      s, nullptr));
  EXPECT_EQ(s.seqStepCount[0], 8u);
  EXPECT_EQ(s.seqSteps[0][7], 0.8f);
  EXPECT_EQ(s.seqTies[0], (std::array<uint8_t, 8>{1, 1, 1, 0, 0, 0, 0, 0}));
  EXPECT_EQ(s.seqStepCount[1], 5u);
  EXPECT_EQ(s.seqSteps[1], (std::array<float, 8>{0, 1, 0, 1, 0, 0, 0, 0}));
  EXPECT_EQ(s.seqTies[1], (std::array<uint8_t, 8>{0, 1, 0, 0, 0, 0, 0, 0}));
  EXPECT_TRUE(s.seqLaneCaptured[0] && s.seqLaneCaptured[1]);

  // Ties without steps, empty steps, or steps that are not an array leave the lane uncaptured.
  ASSERT_TRUE(tavrin_parse_snapshot_json(
      R"({"ratio": 0.5, "__seq0_ties": [1], "__seq1_steps": [], "__seq1_ties": [1]})", s, nullptr));
  EXPECT_FALSE(s.seqLaneCaptured[0] || s.seqLaneCaptured[1]);
  EXPECT_EQ(s.seqTies[0][0], 0);
  ASSERT_TRUE(tavrin_parse_snapshot_json(R"({"ratio": 0.5, "__seq0_steps": {"0": 1}, "__seq1_steps": [0.5],)"
                                         R"( "__seq1_ties": 1})",
                                         s, nullptr));
  EXPECT_FALSE(s.seqLaneCaptured[0]);
  EXPECT_EQ(s.seqStepCount[1], 1u);
  EXPECT_EQ(s.seqTies[1][0], 0);
}

TEST(SnapshotJsonReader, SettingsAreTruncatedClampedAndSaturated) {
  ParamSnapshot s;
  bool seqPresent = false;
  ASSERT_TRUE(tavrin_parse_snapshot_json(
      R"({"ratio": 0.5, "__seq1_target": 9, "__lockA": 2.9, "__lockB": -7.5, "__seq0_rate": 3.25,)"
      R"( "__seq1_rate": 1e300, "__seq0_run": 1e99, "__seq1_run": -1e99, "__seq0_div": 4.99, "__seq1_div": "4",)"
      R"( "__seq": -5})",
      s, &seqPresent));
  EXPECT_EQ(s.seq1Target, 4u);
  EXPECT_EQ(s.lockA, 2);
  EXPECT_EQ(s.lockB, -7);
  EXPECT_EQ(s.seqRate[0], 3.25f);
  EXPECT_EQ(s.seqRate[1], -1.0f);  // a rate no float holds is absent
  EXPECT_EQ(s.seqRun[0], INT32_MAX);
  EXPECT_EQ(s.seqRun[1], INT32_MIN);
  EXPECT_EQ(s.seqDiv[0], 4);
  EXPECT_EQ(s.seqDiv[1], -1);
  EXPECT_EQ(s.captureSeq, 0u);
  EXPECT_TRUE(seqPresent);

  ASSERT_TRUE(
      tavrin_parse_snapshot_json(R"({"ratio": 0.5, "__seq1_target": -3, "__seq": 1e30})", s, nullptr));
  EXPECT_EQ(s.seq1Target, 0u);
  EXPECT_EQ(s.captureSeq, UINT64_MAX);
  ASSERT_TRUE(tavrin_parse_snapshot_json(R"({"ratio": 0.5, "__seq1_target": 1e300, "__seq": 123456789012})",
                                         s, nullptr));
  EXPECT_EQ(s.seq1Target, 4u);
  EXPECT_EQ(s.captureSeq, 123456789012u);

  // A missing "__seq" leaves the caller's flag as it was.
  seqPresent = true;
  ASSERT_TRUE(tavrin_parse_snapshot_json(R"({"ratio": 0.5})", s, &seqPresent));
  EXPECT_TRUE(seqPresent);
  seqPresent = false;
  ASSERT_TRUE(tavrin_parse_snapshot_json(R"({"ratio": 0.5, "__seq": "7"})", s, &seqPresent));
  EXPECT_FALSE(seqPresent);
}

TEST(SnapshotJsonReader, AnObjectWithoutParametersIsRefusedButKeepsItsLanesAndSettings) {
  ParamSnapshot s = junkSnapshot();
  bool seqPresent = false;
  EXPECT_FALSE(tavrin_parse_snapshot_json(R"({"__seq0_steps": [0.5], "__lockA": 1, "__seq": 7, "x": 1})", s,
                                          &seqPresent));
  EXPECT_FALSE(s.valid);
  for (uint32_t id = 0; id < kNumParams; ++id) EXPECT_FALSE(s.has[id]);
  EXPECT_EQ(s.seqSteps[0][0], 0.5f);
  EXPECT_EQ(s.lockA, 1);
  EXPECT_TRUE(seqPresent);
}

TEST(SnapshotJsonReader, RefusesBadTextsAndEmptiesTheTarget) {
  const std::string deep(30000, '[');
  const char* bad[] = {nullptr,
                       "",
                       "{",
                       "{\"ratio\": }",
                       "{\"ratio\": NaN}",
                       "[{\"ratio\": 0.5}]",
                       "0.5",
                       "\"ratio\"",
                       "null",
                       "{\"ratio\": 0.5} trailing",
                       "{\"ratio\": 0.5}{\"ratio\": 0.5}",
                       deep.c_str()};
  for (const char* text : bad) {
    ParamSnapshot s = junkSnapshot();
    bool seqPresent = false;
    EXPECT_FALSE(tavrin_parse_snapshot_json(text, s, &seqPresent)) << (text ? text : "null");
    EXPECT_FALSE(s.valid || s.has[kParamRatio] || seqPresent);
    EXPECT_EQ(s.seqStepCount[0], 0u);
  }
  ParamSnapshot s;
  EXPECT_TRUE(tavrin_parse_snapshot_json("\n {\"ratio\": 0.5} \n\t", s, nullptr));
}

TEST(SnapshotJsonReader, AcceptsTextsUpToTheSizeLimit) {
  const std::string head = R"({"ratio": 0.5)";
  std::string text = head + std::string(kMaxSnapshotJsonBytes - head.size() - 1, ' ') + "}";
  ASSERT_EQ(text.size(), 65536u);
  ParamSnapshot s;
  EXPECT_TRUE(tavrin_parse_snapshot_json(text.c_str(), s, nullptr));
  text.insert(head.size(), " ");
  EXPECT_FALSE(tavrin_parse_snapshot_json(text.c_str(), s, nullptr));
  EXPECT_FALSE(s.has[kParamRatio]);
}
