// The JSON snapshot writers: exact printed texts, key order, clamped values and lane lengths.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "state/ClassicJson.h"
#include "state/SnapshotJson.h"
#include "tests/state/SnapshotSamples.h"

namespace {

std::string fullText(const ParamSnapshot& s) {
  const JsonTree object = snapshotToJsonObject(s);
  EXPECT_NE(object, nullptr);
  return classicJsonPrintUnformatted(object.get()).value_or("<none>");
}

}  // namespace

TEST(SnapshotJsonWriter, PrintsTheFullFormInItsOrder) {
  EXPECT_EQ(
      fullText(sampleSnapshot()),
      R"({"voiceMode":0.500000,"foldBias":0.250000,"cutoffA":0.250000,"modSourceFoldChar":1,)"
      R"("__seq0_steps":[0,0.125000,0.250000,0.500000,0.750000,1,0.500000,0],"__seq0_ties":[0,1,0,0,1,0,0,1],)"
      R"("__seq1_steps":[0.500000,0.250000,1],"__seq1_ties":[1,0,1],)"
      R"("__seq1_target":2,"__lockA":1,"__lockB":0,"__seq0_rate":2.500000,"__seq0_run":1,"__seq1_run":0,)"
      R"("__seq1_div":7,"__seq":42})");
  ParamSnapshot empty;
  empty.captureSeq = 3000000000u;  // large counts stay whole
  EXPECT_EQ(fullText(empty), R"({"__seq1_target":0,"__seq":3000000000})");
}

TEST(SnapshotJsonWriter, ParamsOnlyTextHoldsTheCapturedParameters) {
  EXPECT_EQ(tavrin_slot_params_to_json(sampleSnapshot()),
            R"({"voiceMode":0.500000,"foldBias":0.250000,"cutoffA":0.250000,"modSourceFoldChar":1})");
  ParamSnapshot nothing = junkSnapshot();
  nothing.has.fill(false);
  EXPECT_EQ(tavrin_slot_params_to_json(nothing), "{}");
}

TEST(SnapshotJsonWriter, ValuesOutsideTheirRangesAndOddLanesStayWithinTheForm) {
  ParamSnapshot s;
  s.value[kParamFilterACutoff] = 1e6;
  s.value[kParamFilterBCutoff] = -50.0;
  s.value[kParamRatio] = std::nan("");
  s.value[kParamGlide] = 4500.0 / 19980.0 * 500.0;     // keeps six decimals of its fraction
  s.value[kParamFilterAResonance] = 0.95 * 0.0000004;  // below 1e-6 of its range
  for (uint32_t id :
       {kParamFilterACutoff, kParamFilterBCutoff, kParamRatio, kParamGlide, kParamFilterAResonance})
    s.has[id] = true;
  s.seqLaneCaptured[0] = true;
  s.seqStepCount[0] = 1000;  // counts past 8 write 8 steps
  s.seqSteps[0][2] = std::nan("");
  s.seqRate[1] = std::nan("");  // a rate that is not a number is absent
  s.lockB = -5;
  EXPECT_EQ(
      fullText(s),
      R"({"glide":0.225225,"ratio":0,"cutoffA":1,"resonanceA":4.000000e-07,"cutoffB":0,)"
      R"("__seq0_steps":[0,0,null,0,0,0,0,0],"__seq0_ties":[0,0,0,0,0,0,0,0],"__seq1_target":0,"__seq":0})");
}
