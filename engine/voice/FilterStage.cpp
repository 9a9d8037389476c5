// Block planning of the voice filters: every coefficient of a block is planned per sample before the
// lanes run the signal (FilterLanes.cpp).
#include <cmath>
#include <numbers>

#include "engine/voice/FilterCalibration.h"
#include "engine/voice/FilterLanes.h"
#include "foundation/MLSafeValue.h"

namespace {

constexpr float kPi = std::numbers::pi_v<float>;
constexpr float kMinF = 0.0001f;
constexpr float kMaxF = 0.49f;
constexpr float kMaxResonance = 0.95f;
constexpr float kDriveOn = 0.001f;

// Plans the mode crossfade of sample i and advances the tracker.
void planModeFade(ModeTracker& t, int modeParam, FilterLanePlan& plan, int i, int lane) {
  if (!t.fading) {
    plan.fromMode[i][lane] = plan.toMode[i][lane] = modeParam;
    plan.modeMix[i][lane] = 0.f;
    return;
  }
  plan.fading = true;
  const float pos = (t.fadePos < 1.f) ? t.fadePos : 1.f;
  plan.fromMode[i][lane] = t.fromMode;
  plan.toMode[i][lane] = (t.mode >= 0) ? t.mode : modeParam;
  plan.modeMix[i][lane] = 0.5f - 0.5f * std::cos(kPi * pos);
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
void planLadder(LadderSelfOsc& l, const SampleCoeffs& c, const FilterBlockSetup& setup, FilterLanePlan& plan,
                int i, int lane) {
  const bool run = c.ladderAmt > 0.f;
  plan.ladderRun[i][lane] = run ? -1 : 0;
  plan.ladderSeed[i][lane] = (run && l.fade <= 0.f) ? -1 : 0;
  plan.ladder = plan.ladder || run;
  if (!run) {
    l.fade = 0.f;
    plan.ladderG[i][lane] = plan.ladderK[i][lane] = plan.ladderMix[i][lane] = 0.f;
    return;
  }
  l.fade = (l.fade + setup.layerFadeStep < 1.f) ? l.fade + setup.layerFadeStep : 1.f;
  plan.ladderG[i][lane] = c.ladderG;
  plan.ladderK[i][lane] = c.ladderK;
  plan.ladderMix[i][lane] = l.fade * c.ladderAmt;
}

// Plans the drive layer of sample i and advances its fade.
void planDrive(float& driveFade, float drive, const FilterBlockSetup& setup, FilterLanePlan& plan, int i,
               int lane) {
  const float d = ml::safeClamp(drive, 0.f, 1.f);
  const bool run = d > kDriveOn;
  plan.driveRun[i][lane] = run ? -1 : 0;
  if (!run) {
    driveFade = 0.f;
    plan.driveK[i][lane] = plan.driveMix[i][lane] = 0.f;
    return;
  }
  ++plan.driveSamples[lane];
  driveFade = (driveFade + setup.layerFadeStep < 1.f) ? driveFade + setup.layerFadeStep : 1.f;
  plan.driveK[i][lane] = 0.6f * d;
  const float depth = ((d - kDriveOn) * 20.f < 1.f) ? (d - kDriveOn) * 20.f : 1.f;
  plan.driveMix[i][lane] = (driveFade < depth) ? driveFade : depth;
}

}  // namespace

void planFilterLane(FilterState& s, const FilterBlockSetup& setup, const FilterBlockInputs& p,
                    FilterLanePlan& plan, int lane) {
  // Smoothed rows are often constant over a block: coefficients are recomputed only when the cutoff
  // or the resonance moves (a NaN never compares equal, so it is always recomputed and clamped).
  SampleCoeffs c;
  float lastHz = std::nanf("");
  float lastResonance = 0.f;
  plan.driveSamples[lane] = 0;
  plan.idle[lane] = false;
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
    plan.k[i][lane] = c.core.k;
    plan.a1[i][lane] = c.core.a1;
    plan.a2[i][lane] = c.core.a2;
    plan.a3[i][lane] = c.core.a3;
    planModeFade(s.modeTracker, p.mode, plan, i, lane);
    planLadder(s.ladder, c, setup, plan, i, lane);
    planDrive(s.driveFade, p.drive[i], setup, plan, i, lane);
    if (p.snapOn) s.snap.current += s.snap.coeff * (s.snap.target - s.snap.current);
  }
  plan.lastCalibratedHz[lane] = c.calibratedHz;
}

void planIdleLane(FilterLanePlan& plan, int lane) {
  plan.driveSamples[lane] = 0;
  plan.lastCalibratedHz[lane] = 0.f;
  if (plan.idle[lane]) return;
  plan.idle[lane] = true;
  const SvfCoeffs neutral;
  for (int i = 0; i < kFilterBlockSize; ++i) {
    plan.k[i][lane] = neutral.k;
    plan.a1[i][lane] = neutral.a1;
    plan.a2[i][lane] = neutral.a2;
    plan.a3[i][lane] = neutral.a3;
    plan.fromMode[i][lane] = plan.toMode[i][lane] = kFilterLowPass;
    plan.modeMix[i][lane] = 0.f;
    plan.ladderRun[i][lane] = plan.ladderSeed[i][lane] = plan.driveRun[i][lane] = 0;
    plan.ladderG[i][lane] = plan.ladderK[i][lane] = plan.ladderMix[i][lane] = 0.f;
    plan.driveK[i][lane] = plan.driveMix[i][lane] = 0.f;
  }
}

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
  FilterLaneScratch scratch;  // on the stack: this entry point serves tools and tests, not the engine
  FilterSeriesJob job;
  job.first = &s;
  job.setup = setup;
  job.inputs[0] = p;
  job.in = in;
  job.out = out;
  renderFilterJobs(&job, 1, scratch);
  return job.cutoffs.first;
}
