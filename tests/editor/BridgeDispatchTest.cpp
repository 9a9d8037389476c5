// The message table: which slot each message reaches, with which arguments, and what is dropped.

#include "EditorFixture.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class BridgeDispatch : public EditorTest {
protected:
  BridgeDispatch() { open(); }
};

TEST_F(BridgeDispatch, BodiesThatAreNoObjectWithANameAreIgnored) {
  post("5");
  post("[\"__clearTuning\"]");
  post("{\"value\":1}");
  post("{\"name\":null,\"value\":1}");
  post("not json");
  EXPECT_THAT(slots.calls, IsEmpty());
  EXPECT_THAT(platformScope.logLines, IsEmpty());
}

TEST_F(BridgeDispatch, NumbersReachTheSetValueSlotUnderTheirName) {
  post("cutoffA", "0.25");
  post("__seqTriggerKey_0", "60");
  post("__seqTriggerKey", "61");
  post("__loadEpoch", "true");
  post("resonanceA", "\"0.5\"");  // a string with a numeric value counts
  post("resonanceB", "null");     // null is dropped
  post("{\"name\":\"gain\"}");    // so is a missing value
  post("__ready", "null");
  EXPECT_THAT(slots.calls, ElementsAre("setValue cutoffA 0.25", "setValue __seqTriggerKey_0 60",
                                       "setValue __seqTriggerKey 61", "setValue __loadEpoch 1",
                                       "setValue resonanceA 0.5"));
}

TEST_F(BridgeDispatch, TiesCountNonZeroIntegersAndStopAtEight) {
  post("__seqTies_0", quoted("[0, 2, -1, \"x\"]"));
  post("__seqTies_1", quoted("[0.5, 1.5, true, 1, 1, 1, 1, 1, 1, 1]"));
  post("__seqTies_2", quoted("[1]"));  // no such lane: taken as a value, whose text has no number
  post("__seqTies_0", quoted("{\"a\":1}"));
  post("__seqTies_0", "[1]");  // not JSON text
  EXPECT_THAT(slots.calls,
              ElementsAre("seqTies 0 4 01100000", "seqTies 1 8 01111111", "setValue __seqTies_2 0"));
}

TEST_F(BridgeDispatch, StepsPassFloatsForTheirLaneAndCutAtSixtyFour) {
  post("__seqSteps_2", quoted("[0.5, 1e300, -2]"));
  ASSERT_EQ(slots.calls.size(), 1u);
  EXPECT_EQ(slots.calls[0].rfind("seqSteps 2 3 [0.5,3.40282e+38,-2,0,", 0), 0u) << slots.calls[0];

  std::string many = "[";
  for (int i = 0; i < 70; ++i) many += (i ? "," : "") + std::to_string(i);
  post("__seqSteps_1", quoted(many + "]"));
  ASSERT_EQ(slots.calls.size(), 2u);
  EXPECT_EQ(slots.calls[1].rfind("seqSteps 1 64 [0,1,2,", 0), 0u);
  EXPECT_NE(slots.calls[1].find(",63]"), std::string::npos);
}

TEST_F(BridgeDispatch, AStepWithoutANumericValueDropsTheMessageAndIsLogged) {
  post("__seqSteps_0", quoted("[0.5, [1]]"));
  post("__seqSteps_0", quoted("[0.5, null]"));
  EXPECT_THAT(slots.calls, IsEmpty());
  ASSERT_EQ(platformScope.logLines.size(), 2u);
  EXPECT_EQ(platformScope.logLines[0],
            "tavrin: message handler exception: TypeError \xE2\x80\x94 value has no numeric form");
  // The editor keeps working.
  post("__clearTuning", "null");
  EXPECT_THAT(slots.calls, ElementsAre("clearTuning"));
}

TEST_F(BridgeDispatch, RatioSelectionTakesWellFormedPairsAmongTheFirstEight) {
  post("__ratioSelection", quoted("[[1,2],[3],[\"s\",4],[5,6]]"));
  post("__ratioSelection", quoted("[[1,1],[2,1],[3,1],[4,1],[5,1],[6,1],[7,1],[8,1],[9,1],[10,1]]"));
  post("__ratioSelection", quoted("[]"));
  post("__ratioSelection", quoted("[[2.9, -1.9, 7]]"));
  EXPECT_THAT(slots.calls,
              ElementsAre("ratioSelection 2 1/2 5/6", "ratioSelection 8 1/1 2/1 3/1 4/1 5/1 6/1 7/1 8/1",
                          "ratioSelection 0", "ratioSelection 1 2/-1"));
}

TEST_F(BridgeDispatch, SnapshotsSlotsAndKitStatesReachTheirSlots) {
  post("__uiState", quoted("{\"a\":1}"));
  post("__snapshotA", quoted("{}"));
  post("__snapshotB", quoted("{\"x\":1}"));
  post("__snapshotClear_A", "null");
  post("__snapshotClear_B", "null");
  post("{\"name\":\"__slotSnap_12\",\"value\":\"{}\",\"note\":60.7}");
  post("{\"name\":\"__slotSnap_ab\",\"value\":\"{}\"}");
  post("{\"name\":\"__slotSnap_99999999999\",\"value\":\"{}\",\"note\":\"60\"}");
  post("__slotClear_7", "null");
  post("__slotClear_", "null");
  EXPECT_THAT(slots.calls,
              ElementsAre("uiState {\"a\":1}", "snapshot 0 {}", "snapshot 1 {\"x\":1}", "snapshotClear 0",
                          "snapshotClear 1", "slotSnap 12 60 {}", "slotSnap 0 -1 {}",
                          "slotSnap 2147483647 -1 {}", "slotClear 7", "slotClear 0"));
}

TEST_F(BridgeDispatch, StringRowsIgnoreValuesOfAnotherKindAndEmptySlotsDropMessages) {
  post("__uiState", "1");
  post("__snapshotA", "2");
  post("__slotSnap_3", "4");
  post("__saveKit", "5");
  post("__readPreset", "6");
  post("__deletePreset", "7");
  editor.onSetValue = nullptr;  // empty slots drop their messages
  editor.onClearTuning = nullptr;
  post("cutoffA", "0.5");
  post("__clearTuning", "null");
  EXPECT_THAT(slots.calls, IsEmpty());
  EXPECT_THAT(view().scripts(), IsEmpty());
}

TEST_F(BridgeDispatch, EmbeddedTuningsPassTheirIntervalsLabelsAndPeriod) {
  post("__tuningEmbed", quoted("{\"name\":\"Just\",\"intervals\":[1.125,1.25],\"labels\":[\"9/8\",5],"
                               "\"period\":3}"));
  post("__tuningEmbed", quoted("{\"intervals\":[1.5],\"labels\":[\"a\",\"b\"]}"));
  ASSERT_EQ(slots.calls.size(), 2u);
  EXPECT_EQ(slots.calls[0].rfind("tuningEmbed Just 3 2 [1.125,1.25,0,", 0), 0u);
  EXPECT_NE(slots.calls[0].find("] '9/8' ''"), std::string::npos);
  EXPECT_EQ(slots.calls[1].rfind("tuningEmbed  2 1 [1.5,0,", 0), 0u);
  EXPECT_NE(slots.calls[1].find("nolabels"), std::string::npos);
}

TEST_F(BridgeDispatch, EmbeddedTuningsOutsideOneToSixtyFourIntervalsOrWithATextIntervalAreIgnored) {
  std::string many = "[";
  for (int i = 0; i < 65; ++i) many += (i ? "," : "") + std::string("1.5");
  post("__tuningEmbed", quoted("{\"intervals\":" + many + "]}"));
  post("__tuningEmbed", quoted("{\"intervals\":[]}"));
  post("__tuningEmbed", quoted("{\"intervals\":[1.5,\"2\"]}"));
  post("__tuningEmbed", quoted("[1.5]"));
  post("__tuningEmbed", quoted("{\"intervals\":1.5}"));
  EXPECT_THAT(slots.calls, IsEmpty());
}

TEST_F(BridgeDispatch, WrongKindsInsideRequestsAreLoggedAndChangeNothing) {
  post("__savePreset", quoted("[1,2]"));
  post("__exportNobrel", quoted("{\"filename\":7}"));
  post("{\"name\":5,\"value\":1}");
  EXPECT_EQ(platformScope.logLines.size(), 3u);
  EXPECT_TRUE(platform::pendingPanels().empty());
  platform::mainQueue().runPending();
  EXPECT_TRUE(platform::pendingPanels().empty());
}

TEST_F(BridgeDispatch, AThrowingSlotIsCaughtAndLogged) {
  editor.onClearTuning = [] { throw std::runtime_error("broken"); };
  post("__clearTuning", "null");
  EXPECT_THAT(platformScope.logLines,
              ElementsAre("tavrin: message handler exception: std::exception \xE2\x80\x94 broken"));
}

TEST_F(BridgeDispatch, KeyboardFocusFollowsTheDocumentsTextFields) {
  post("__keyboard", "1");
  EXPECT_TRUE(view().acceptsFirstResponder());
  ASSERT_TRUE(window.makeFirstResponder(&view()));

  post("__keyboard", "0");
  EXPECT_FALSE(view().acceptsFirstResponder());
  EXPECT_NE(window.firstResponder(), &view());
}

}  // namespace
