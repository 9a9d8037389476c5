// Block rendering of one voice filter: every coefficient is planned for the block first, then one
// call-free loop runs the signal.
#include "engine/voice/FilterStage.h"

#include <cmath>
#include <numbers>

#include "engine/voice/FilterCalibration.h"
#include "foundation/MLSafeValue.h"

namespace {

constexpr float kPi = std::numbers::pi_v<float>;
constexpr float kMinF = 0.0001f;
constexpr float kMaxF = 0.49f;
constexpr float kMaxResonance = 0.95f;
constexpr float kDriveOn = 0.001f;

// Everything of a block that does not depend on the signal, per sample.
struct FilterPlan {
  SvfCoeffs core[kFilterBlockSize];
  int32_t fromMode[kFilterBlockSize];
  int32_t toMode[kFilterBlockSize];
  float modeMix[kFilterBlockSize];
  bool ladderRun[kFilterBlockSize];
  bool ladderSeed[kFilterBlockSize];
  float ladderG[kFilterBlockSize];
  float ladderK[kFilterBlockSize];
  float ladderMix[kFilterBlockSize];
  bool driveRun[kFilterBlockSize];
  float driveK[kFilterBlockSize];
  float driveMix[kFilterBlockSize];
  float lastCalibratedHz{0.f};
};

// Plans the mode crossfade of sample i and advances the tracker.
void planModeFade(ModeTracker& t, int modeParam, FilterPlan& plan, int i) {
  if (!t.fading) {
    plan.fromMode[i] = plan.toMode[i] = modeParam;
    plan.modeMix[i] = 0.f;
    return;
  }
  const float pos = (t.fadePos < 1.f) ? t.fadePos : 1.f;
  plan.fromMode[i] = t.fromMode;
  plan.toMode[i] = (t.mode >= 0) ? t.mode : modeParam;
  plan.modeMix[i] = 0.5f - 0.5f * std::cos(kPi * pos);
  t.fadePos += 1.f / float(kFilterModeFadeSamples);
  if (t.fadePos >= 1.f) {
    t.fading = false;
    t.fadePos = 0.f;
  }
}

// Coefficients that follow from a sample's cutoff and resonance.
struct SampleCoeffs {
  SvfCoeffs core;
  float calibratedHz{0.f};
  float ladderAmt{0.f};
  float ladderG{0.f};
  float ladderK{0.f};
};

SampleCoeffs sampleCoeffs(float hz, float resonance, const FilterBlockSetup& setup,
                          const FilterBlockInputs& p) {
  SampleCoeffs c;
  c.calibratedHz =
      applyFilterCalibration(hz, p.mode, p.calib.active, p.calib.fromMode, p.calib.toMode, p.calib.t);
  const float f = ml::safeClamp(c.calibratedHz / setup.sr, kMinF, kMaxF);
  const float k = 1.f - resonance;  // at least 0.05 with the resonance clamp
  c.core = setup.nonlinear ? nlSvfCoeffs(f, k) : svfCoeffs(f, k);
  c.ladderAmt = selfOscAmt(resonance);
  if (c.ladderAmt > 0.f) {
    // The ladder tunes to the uncalibrated cutoff.
    c.ladderG = std::tan(kPi * ml::safeClamp(1.00014f * hz / setup.sr, kMinF, kMaxF));
    c.ladderK = 4.6f * (0.3f * c.ladderAmt + 0.7f);
  }
  return c;
}

// Plans the ladder layer of sample i and advances its fade.
void planLadder(LadderSelfOsc& l, const SampleCoeffs& c, const FilterBlockSetup& setup, FilterPlan& plan,
                int i) {
  plan.ladderRun[i] = c.ladderAmt > 0.f;
  if (!plan.ladderRun[i]) {
    l.fade = 0.f;
    return;
  }
  plan.ladderSeed[i] = l.fade <= 0.f;
  l.fade = (l.fade + setup.layerFadeStep < 1.f) ? l.fade + setup.layerFadeStep : 1.f;
  plan.ladderG[i] = c.ladderG;
  plan.ladderK[i] = c.ladderK;
  plan.ladderMix[i] = l.fade * c.ladderAmt;
}

// Plans the drive layer of sample i and advances its fade.
void planDrive(float& driveFade, float drive, const FilterBlockSetup& setup, FilterPlan& plan, int i) {
  const float d = ml::safeClamp(drive, 0.f, 1.f);
  plan.driveRun[i] = d > kDriveOn;
  if (!plan.driveRun[i]) {
    driveFade = 0.f;
    return;
  }
  driveFade = (driveFade + setup.layerFadeStep < 1.f) ? driveFade + setup.layerFadeStep : 1.f;
  plan.driveK[i] = 0.6f * d;
  const float depth = ((d - kDriveOn) * 20.f < 1.f) ? (d - kDriveOn) * 20.f : 1.f;
  plan.driveMix[i] = (driveFade < depth) ? driveFade : depth;
}

void planBlock(FilterState& s, const FilterBlockSetup& setup, const FilterBlockInputs& p, FilterPlan& plan) {
  // Smoothed rows are often constant over a block: coefficients are recomputed only when the cutoff
  // or the resonance moves (a NaN never compares equal, so it is always recomputed and clamped).
  SampleCoeffs c;
  float lastHz = std::nanf("");
  float lastResonance = 0.f;
  for (int i = 0; i < kFilterBlockSize; ++i) {
    const float unsnapped =
        p.cutoff[i] * p.keyTrackMul * p.brightness * p.cutoffRoute[i] * p.analogMul * p.kitMul;
    const float hz = p.snapOn ? s.snap.current : unsnapped;
    const float resonance = ml::safeClamp(p.resonance[i], 0.f, kMaxResonance);
    if (!(hz == lastHz && resonance == lastResonance)) {
      c = sampleCoeffs(hz, resonance, setup, p);
      lastHz = hz;
      lastResonance = resonance;
    }
    plan.core[i] = c.core;
    planModeFade(s.modeTracker, p.mode, plan, i);
    planLadder(s.ladder, c, setup, plan, i);
    planDrive(s.driveFade, p.drive[i], setup, plan, i);
    if (p.snapOn) s.snap.current += s.snap.coeff * (s.snap.target - s.snap.current);
  }
  plan.lastCalibratedHz = c.calibratedHz;
}

// One base-rate sample i of a planned filter.
template <bool kNonlinear>
inline float filterSample(FilterState& s, const FilterBlockSetup& setup, const FilterPlan& plan, int i,
                          float x) {
  float y =
      kNonlinear
          ? nlSvf4xStep(x, plan.core[i], setup.drive, plan.fromMode[i], plan.toMode[i], plan.modeMix[i], s.nl)
          : svfStep(x, plan.core[i], plan.fromMode[i], plan.toMode[i], plan.modeMix[i], s.ic1eq, s.ic2eq);
  if (plan.ladderRun[i]) {
    if (plan.ladderSeed[i]) s.ladder.y = y;
    const float l = ladderSample(x, plan.ladderG[i], plan.ladderK[i], s.ladder);
    y = y + (l - y) * plan.ladderMix[i];
  }
  if (plan.driveRun[i]) {
    const float driven = s.driveOversampler.process(y, DriveShaper{plan.driveK[i]});
    y = y + (driven - y) * plan.driveMix[i];
  }
  return y;
}

template <bool kNonlinear>
void runBlock(FilterState& s, const FilterBlockSetup& setup, const FilterPlan& plan, const float* in,
              float* out) {
  for (int i = 0; i < kFilterBlockSize; ++i) out[i] = filterSample<kNonlinear>(s, setup, plan, i, in[i]);
}

// The second filter runs one sample behind the first, so each pass of the loop holds two independent
// recursions that the processor overlaps; every sample sees exactly the arithmetic of two separate runs.
template <bool kNonlinear>
void runSeriesBlock(FilterState& first, FilterState& second, const FilterBlockSetup& setup,
                    const FilterPlan& firstPlan, const FilterPlan& secondPlan, const float* in, float* out) {
  float between = filterSample<kNonlinear>(first, setup, firstPlan, 0, in[0]);
  for (int i = 1; i < kFilterBlockSize; ++i) {
    const float next = filterSample<kNonlinear>(first, setup, firstPlan, i, in[i]);
    out[i - 1] = filterSample<kNonlinear>(second, setup, secondPlan, i - 1, between);
    between = next;
  }
  out[kFilterBlockSize - 1] =
      filterSample<kNonlinear>(second, setup, secondPlan, kFilterBlockSize - 1, between);
}

}  // namespace

void trackModeChange(ModeTracker& t, int newMode, bool noteStart) {
  if (t.mode < 0 || noteStart) {
    t.mode = newMode;
    t.fading = false;
    t.fadePos = 0.f;
  } else if (newMode != t.mode && !t.fading) {
    t.fromMode = t.mode;
    t.mode = newMode;
    t.fading = true;
    t.fadePos = 0.f;
  }
}

float cutoffSnapUpdate(CutoffSnap& s, bool snapOn, float snappedHz, bool restart, float sr) {
  if (!snapOn) {
    s.active = false;
    return -1.f;
  }
  if (s.active && !restart) {
    if (std::fabs(snappedHz - s.target) > 0.5f) {
      s.target = snappedHz;
      s.coeff = float(1.0 - std::exp(-1.0 / (0.008 * double(sr))));
    }
  } else {
    s.target = s.current = snappedHz;
    s.coeff = 1.f;
    s.active = true;
  }
  return s.target;
}

void FilterState::clear() {
  const CutoffSnap keptSnap = snap;
  *this = FilterState{};
  snap = keptSnap;
  snap.active = false;
}

FilterBlockSetup filterBlockSetup(float saturation, float sr) {
  FilterBlockSetup setup;
  const float sat = ml::safeClamp(saturation, 0.f, 1.f);
  setup.sr = sr;
  setup.nonlinear = sat > 0.0001f;
  setup.drive = nlSvfDrive(sat);
  setup.layerFadeStep = 1.f / (0.02f * sr);
  return setup;
}

float renderFilterBlock(FilterState& s, const FilterBlockSetup& setup, const FilterBlockInputs& p,
                        const float* in, float* out) {
  FilterPlan plan;
  planBlock(s, setup, p, plan);
  if (setup.nonlinear) {
    runBlock<true>(s, setup, plan, in, out);
  } else {
    runBlock<false>(s, setup, plan, in, out);
  }
  return plan.lastCalibratedHz;
}

FilterPairCutoffs renderFilterSeries(FilterState& first, FilterState& second, const FilterBlockSetup& setup,
                                     const FilterBlockInputs& firstInputs,
                                     const FilterBlockInputs& secondInputs, const float* in, float* out) {
  FilterPlan firstPlan, secondPlan;
  planBlock(first, setup, firstInputs, firstPlan);
  planBlock(second, setup, secondInputs, secondPlan);
  if (setup.nonlinear) {
    runSeriesBlock<true>(first, second, setup, firstPlan, secondPlan, in, out);
  } else {
    runSeriesBlock<false>(first, second, setup, firstPlan, secondPlan, in, out);
  }
  return {firstPlan.lastCalibratedHz, secondPlan.lastCalibratedHz};
}
