// Lane targets through the engine: the ratio lane's three readings, the ratio lock's snapping to the
// steps of a Scala tuning with its jumps, eases after a retune and glides, and lane 1 on each target.
#include <cmath>
#include <initializer_list>
#include <vector>

#include "EngineFixture.h"
#include "MorphFixture.h"

namespace {

constexpr double kRate = 44100.0;

// The absolute lane value that stands for a ratio (0.5 at 0, 16 at 1, log scale).
float absoluteLaneValue(double ratio) {
  return static_cast<float>(std::log(ratio / 0.5) / std::log(32.0));
}

class LaneTargets : public EngineTest {
protected:
  void SetUp() override { engine->setSampleRate(kRate); }

  void blocks(int n) {
    for (int i = 0; i < n; ++i) run(64);
  }
  // Lane l holding the given steps at step 0: enabled, advanced only by notes.
  void holdLane(int l, std::initializer_list<float> steps) {
    const std::vector<float> v(steps);
    engine->setSeqSteps(l, v.data(), static_cast<int>(v.size()));
    engine->setSeqRunMode(l, kSeqRunTrig);
    engine->setSeqEnabled(l, true);
  }
  // Lane 0 stepping freely through steps that all slide into the next one.
  void glidingRatioLane(std::initializer_list<float> steps, float hz) {
    const std::vector<float> v(steps);
    const unsigned char ties[kSeqSteps] = {1, 1, 1, 1, 1, 1, 1, 1};
    engine->setSeqSteps(0, v.data(), static_cast<int>(v.size()));
    engine->setSeqTies(0, ties, kSeqSteps);
    engine->setSeqFreeRate(0, hz);
    engine->setSeqRunMode(0, kSeqRunFree);
    engine->setSeqEnabled(0, true);
  }
  // Renders until lane 0 is inside a glide of step 0 and returns how far along it is; -1 when none comes.
  double untilMidGlideOfFirstStep() {
    for (int i = 0; i < 400; ++i) {
      run(64);
      const SeqGlide& g = engine->seq.lanes[0].glide;
      if (engine->getSeqStep(0) == 0 && g.tied && g.elapsed > 0 && g.elapsed < g.duration)
        return static_cast<float>(static_cast<double>(g.elapsed) / static_cast<double>(g.duration));
    }
    return -1.0;
  }
  void lockTo(const char* tuning, std::initializer_list<int> degrees) {
    engine->setLocalTuning(scalaTuning(tuning));
    const std::vector<int> d(degrees), octaves(d.size(), 0);
    engine->setRatioSelection(d.data(), octaves.data(), static_cast<int>(d.size()));
    engine->setRatioLocked(true);
  }
  double ratio() const { return engine->modulated[PluginProcessor::kModRatio].effective; }
  double step(int i) const { return engine->currentRatioSteps().ratioSteps[i]; }
  const ParamSmoother& ratioSmoother() const { return engine->rowSmoothers[PluginProcessor::kRowRatio]; }
  // Samples the voices' Ratio row takes to come within 1/e of its way to target.
  int samplesToOneTimeConstant(double from, double target) {
    const double within = std::fabs(target - from) / std::exp(1.0);
    for (int n = 0; n < 4000 * 64;) {
      run(64);
      for (int i = 0; i < 64; ++i, ++n) {
        if (std::fabs(engine->engineRows[PluginProcessor::kRowRatio][i] - target) <= within) return n + 1;
      }
    }
    return -1;
  }
  static float coeffFor(float ms) {
    ParamSmoother s;
    s.setTime(ms, static_cast<float>(kRate));
    return s.coeff;
  }
};

TEST_F(LaneTargets, RelativeLaneScalesTheRouteModulatedRatioUpToThirtyTwoTimes) {
  // The Ratio route with an envelope source offsets the knob by its Start at block rate: 1 x 32^0.2 = 2.
  engine->setParam(kParamRatio, 1.0);
  engine->setParam(kParamRatioModSource, 2.0);
  engine->setParam(kParamRatioModStart, 0.2);
  engine->setParam(kParamRatioModEnd, 0.2);
  struct Case {
    float lane;
    double ratio;
  };
  // 0.001 is a rest; just above it, 2 / 32 is held at the bottom of the range.
  for (const Case c : {Case{0.75f, 2.0 * std::sqrt(32.0)}, Case{1.0f, 16.0}, Case{0.4f, 1.0},
                       Case{0.001f, 2.0}, Case{0.0011f, 0.5}}) {
    holdLane(0, {c.lane});
    blocks(1);
    EXPECT_NEAR(ratio(), c.ratio, 1e-6) << c.lane;
  }
}

TEST_F(LaneTargets, AbsoluteLaneSpansTheWholeRatioRange) {
  engine->setParam(kParamRatio, 7.0);
  engine->setSeqRatioAbsolute(true);
  struct Case {
    float lane;
    double ratio;
  };
  for (const Case c : {Case{1.0f, 16.0}, Case{0.2f, 1.0}, Case{0.0011f, 0.5 * std::pow(32.0, 0.0011)}}) {
    holdLane(0, {c.lane});
    blocks(1);
    EXPECT_NEAR(ratio(), c.ratio, 1e-6) << c.lane;
  }
  blocks(60);  // the voices' Ratio row follows
  EXPECT_NEAR(engine->engineRows[PluginProcessor::kRowRatio][63], 0.5 * std::pow(32.0, 0.0011), 1e-4);
}

TEST_F(LaneTargets, RankEncodedLanePicksRatioStepsByRank) {
  // Three picked degrees: steps {1, 3/2, 2} of the just scale.
  lockTo(kJustTwelveScl, {0, 7, 12});
  engine->setParam(kParamRatio, 9.0);
  blocks(1);
  ASSERT_EQ(engine->currentRatioSteps().ratioStepCount, 2);  // degree 12 is past the scale
  EXPECT_DOUBLE_EQ(step(1), 1.5);

  // Values on the rank centres (1/4 and 3/4 of two ranks) are read as ranks without being told so.
  holdLane(0, {0.75f, 0.25f});
  blocks(1);
  EXPECT_EQ(ratio(), step(1));
  // A value off the centres makes the lane absolute: 0.7 stands for 0.5 x 32^0.7 = 5.63, snapped to 6.
  holdLane(0, {0.7f, 0.25f});
  blocks(1);
  EXPECT_EQ(ratio(), step(1) * 4.0);

  // Told so, a lane picks by rank without the lock: the voices then play the step as it stands.
  engine->setRatioLocked(false);
  engine->setSeqRatioAbsolute(true);
  engine->setSeqRatioRankEncoded(true);
  holdLane(0, {0.3f});
  blocks(1);
  EXPECT_EQ(ratio(), step(0));
  EXPECT_TRUE(engine->ratioLockActive);
}

TEST_F(LaneTargets, RatioLockSnapsToTheStepsAndTheirPeriods) {
  // Steps {1, 3/2} repeating every 2/1.
  lockTo(kJustTwelveScl, {0, 7});
  struct Case {
    double knob;
    double snapped;  // in units of the steps' own values
    int stepIndex;
  };
  for (const Case c :
       {Case{2.9, 2.0, 1}, Case{0.6, 0.5, 0}, Case{12.0, 8.0, 1}, Case{16.0, 16.0, 0}, Case{1.2, 1.0, 0}}) {
    engine->setParam(kParamRatio, c.knob);
    blocks(1);
    EXPECT_EQ(ratio(), step(c.stepIndex) * c.snapped) << c.knob;
  }

  // The automatic table of equal temperament has no period: the nearest of its eight steps.
  engine->setLocalTuning(scalaTuning(kTwelveToneScl));
  engine->setRatioSelection(nullptr, nullptr, 0);
  engine->setParam(kParamRatio, 16.0);
  blocks(2);
  EXPECT_EQ(ratio(), 4.0);
  engine->setRatioLocked(false);  // off, the knob plays as it stands
  blocks(1);
  EXPECT_EQ(ratio(), 16.0);
}

TEST_F(LaneTargets, StepChangesJumpButARetuneEasesOverItsDistance) {
  lockTo(kTwelveToneScl, {});
  engine->setParam(kParamRatio, 1.2);
  blocks(300);
  ASSERT_EQ(ratio(), 9.0 / 8.0);

  // A retune moves the nearest step from 9/8 to 5/4: the ratio eases over 50 ms + 500 ms x 1/9 (of the
  // distance from where the smoother stands).
  engine->setLocalTuning(scalaTuning(kJustTwelveScl));
  blocks(1);  // the block that takes the tuning rebuilds the steps at its end
  const double easeMs = 50.0 + 500.0 * (1.25 / 1.125 - 1.0);
  const int n = samplesToOneTimeConstant(1.125, 1.25);
  EXPECT_NEAR(n, easeMs * 0.001 * kRate, 3.0);
  // It lands, and the smoother is quick again.
  blocks(800);
  EXPECT_EQ(engine->engineRows[PluginProcessor::kRowRatio][63], 1.25f);
  EXPECT_EQ(ratioSmoother().coeff, coeffFor(5.0f));

  // Without a retune a new step is a jump with the usual 5 ms smoothing.
  engine->setParam(kParamRatio, 1.6);
  EXPECT_NEAR(samplesToOneTimeConstant(1.25, 5.0 / 3.0), 0.005 * kRate, 2.0);
  EXPECT_FALSE(engine->ratioJumpPending);
}

TEST_F(LaneTargets, TheLongestEaseLastsFiveHundredFiftyMillisecondsAndTheLockOffEndsIt) {
  // One picked degree: 21/20 repeating every octave, then 4/1 repeating every 16/1. The knob at 1 moves
  // from 21/20 to 4, more than a whole unit of relative distance.
  lockTo("Near\n2\n21/20\n2/1\n", {1});
  engine->setParam(kParamRatio, 1.0);
  blocks(300);
  ASSERT_EQ(ratio(), 1.05);
  engine->setLocalTuning(scalaTuning("Far\n2\n4/1\n16/1\n"));
  blocks(1);
  EXPECT_NEAR(samplesToOneTimeConstant(1.05, 4.0), 0.55 * kRate, 3.0);
  ASSERT_TRUE(engine->ratioJumpPending);
  engine->setRatioLocked(false);
  blocks(1);
  EXPECT_EQ(ratioSmoother().coeff, coeffFor(5.0f));
}

TEST_F(LaneTargets, ANewStepDuringAnEaseEndsTheEase) {
  lockTo(kTwelveToneScl, {});
  engine->setParam(kParamRatio, 1.2);
  blocks(300);
  engine->setLocalTuning(scalaTuning(kJustTwelveScl));
  blocks(2);
  ASSERT_TRUE(engine->ratioJumpPending);
  engine->setParam(kParamRatio, 3.1);
  blocks(1);
  EXPECT_EQ(ratioSmoother().coeff, coeffFor(5.0f));
}

TEST_F(LaneTargets, LockedGlideRunsGeometricallyBetweenTheSnappedSteps) {
  // Automatic equal-tempered steps: the lane slides from about 1 to about 3.
  lockTo(kTwelveToneScl, {});
  engine->setSeqRatioAbsolute(true);
  glidingRatioLane({absoluteLaneValue(1.02), absoluteLaneValue(2.9)}, 10.0f);
  double frac = untilMidGlideOfFirstStep();
  ASSERT_GT(frac, 0.0);
  EXPECT_NEAR(ratio(), std::pow(3.0, frac), 1e-12);

  // Steps {1, 3/2} every 2/1; the lane holds 3 and 6 and slides between them, never down to 3/2.
  engine = std::make_unique<PluginProcessor>();
  engine->setSampleRate(kRate);
  lockTo(kJustTwelveScl, {0, 7});
  glidingRatioLane({absoluteLaneValue(3.05), absoluteLaneValue(5.9)}, 10.0f);
  frac = untilMidGlideOfFirstStep();
  ASSERT_GT(frac, 0.0);
  EXPECT_NEAR(ratio(), 3.0 * std::pow(2.0, frac), 1e-12);
}

TEST_F(LaneTargets, LaneOneDrivesEachTarget) {
  struct Case {
    int target;
    float lane;
    PluginProcessor::ModTarget mod;
    double expected;
  };
  const Case cases[] = {
      {0, 0.75f, PluginProcessor::kModFmAmount, 0.04 + 0.5 * 0.2},
      {0, 0.0011f, PluginProcessor::kModFmAmount, 0.0},  // held at the bottom of the range
      {1, 0.75f, PluginProcessor::kModFold, 1.8 + 0.5 * 7.0},
      {1, 1.0f, PluginProcessor::kModFold, 8.0},
      {2, 0.25f, PluginProcessor::kModCutoffA, 4500.0 / std::sqrt(1000.0)},
      {2, 1.0f, PluginProcessor::kModCutoffA, 20000.0},
      {3, 0.25f, PluginProcessor::kModCutoffB, 20000.0 / std::sqrt(1000.0)},
      {3, 0.001f, PluginProcessor::kModCutoffB, 20000.0},  // a rest
  };
  for (const Case& c : cases) {
    engine->setSeqTarget(1, c.target);
    holdLane(1, {c.lane});
    blocks(1);
    EXPECT_NEAR(engine->modulated[c.mod].effective, c.expected, 1e-9 * c.expected + 1e-15)
        << c.target << " " << c.lane;
    EXPECT_EQ(engine->getParam(kParamMorphFader), 0.0);
  }
  EXPECT_FALSE(engine->consumeParamDirtyFromDsp(kParamMorphFader));

  // The Morph Fader is set to the lane value itself, and the host and the editor are told.
  engine->setSeqTarget(1, kSeqTargetMorphFader);
  holdLane(1, {0.001f});
  blocks(1);
  EXPECT_FALSE(engine->consumeParamDirtyFromDsp(kParamMorphFader));
  holdLane(1, {0.3f});
  blocks(1);
  EXPECT_EQ(engine->cache[kParamMorphFader], static_cast<double>(0.3f));
  EXPECT_TRUE(engine->consumeParamDirtyFromDsp(kParamMorphFader));
  // It wins over the user's own setting in every block.
  engine->setParam(kParamMorphFader, 0.9);
  blocks(1);
  EXPECT_EQ(engine->getParam(kParamMorphFader), static_cast<double>(0.3f));
}

TEST_F(LaneTargets, LaneTwoChangesNoSound) {
  engine->setSeqTarget(1, 1);
  holdLane(2, {1.0f, 0.0f, 0.9f});
  engine->setSeqRunMode(2, kSeqRunFree);
  engine->setSeqFreeRate(2, 50.0f);
  blocks(40);
  for (uint32_t t = 0; t < PluginProcessor::kNumModTargets; ++t)
    EXPECT_EQ(engine->modulated[t].effective, engine->modulated[t].base) << t;
}

using morphtest::Morph;
using morphtest::Snapshot;

// Both poles carry lane 1: its values blend by the morph position and the near pole names the target.
TEST_F(Morph, MorphedLaneOneTakesTheNearPolesTarget) {
  Snapshot a = morphtest::defaultsCapture(), b = a;
  for (Snapshot* s : {&a, &b}) {
    s->seqStepCount[1] = 1;
    s->seqLaneCaptured[1] = true;
  }
  a.seqSteps[1][0] = 0.6f;
  a.seq1Target = 1;  // Fold
  b.seqSteps[1][0] = 1.0f;
  b.seq1Target = 0;  // FM Amount
  const float live[1] = {0.6f};
  engine->setSeqSteps(1, live, 1);
  engine->setSeqEnabled(1, true);
  engine->setSeqLaneEditBroke(1, false);

  setPoles(a, b, 0.25);
  run(64);
  ASSERT_TRUE(engine->seq.laneMorph[1]);
  // Position 0.25: the lane reads 0.7 and drives Fold, pole A's target.
  EXPECT_NEAR(engine->modulated[PluginProcessor::kModFold].effective, 1.8 + 0.4 * 7.0, 1e-6);

  setPoles(a, b, 0.75);
  run(64);
  EXPECT_NEAR(engine->modulated[PluginProcessor::kModFmAmount].effective, 0.04 + 0.8 * 0.2, 1e-6);
}

}  // namespace
