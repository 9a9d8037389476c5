// Pre-filter conditioning of a voice's 64-sample row: start declick, DC blocker, pink noise floor,
// the Noise Mix crossfade to white noise and the note-start click. All work in place on one row.
#pragma once

#include <cstdint>

// Raised-cosine declick at note (re)starts. fade is 0..1 (gain 0.5 (1 - cos(pi fade))); fadeState is
// 0 steady, 1 fading in, -1 fading out. A retrigger of a sounding voice fades out over 64 samples and
// back in over 256; a fresh note fades in over 256. triggerIndex is the trigger sample or -1.
void declick(float* row, float& fade, int8_t& fadeState, int triggerIndex, bool retrigger);

// The declick's gain at a fade position.
float declickGain(float fade);

// One-pole high-pass at 10 Hz; mem holds the previous input and output.
void dcBlock(float* row, float (&mem)[2], float sampleRate);

// dcBlock of n rows (64 samples, 16-byte aligned) with their memories, four at a time in SIMD lanes;
// each row exactly as dcBlock gives it.
struct DcBlockJob {
  float* row{nullptr};
  float* mem{nullptr};
};
void dcBlocks(const DcBlockJob* jobs, int n, float sampleRate);

// Adds the faint pink noise floor of a voice, falling by three quarters from note 36 to note 96.
// The generator seeds itself from the voice index (a release tail, -1, uses voice 0's seed).
void addPinkNoiseFloor(float* row, uint32_t& seed, float (&pink)[3], int voice, float note, float velocity);

// One voice's pink noise floor for a block, for pinkNoiseFloors: the arguments of addPinkNoiseFloor,
// and the row that receives the floor (64 samples, 16-byte aligned) instead of having it added.
struct PinkFloorJob {
  uint32_t* seed{nullptr};
  float* pink{nullptr};  // the three filter states
  int voice{0};
  float note{60.f};
  float velocity{1.f};
  float* floor{nullptr};
};

// The floors of n voices, four at a time in SIMD lanes; each exactly what addPinkNoiseFloor adds.
void pinkNoiseFloors(const PinkFloorJob* jobs, int n);

// True when a note start at noteStart (-1 = none this block) fires the click: a click amount above
// 0.0001, a synthesis voice (never a release tail) and a voice level below 0.01 at the block start.
bool clickFires(float clickAmount, int voice, int noteStart, float levelAtBlockStart);

// Crossfades the row to white noise of RMS `velocity` by the Noise Mix row (0..1), and adds the click
// (a 1.5 ms decaying burst of the same noise) which starts at sample clickIndex (-1 = none).
void noiseMixAndClick(float* row, const float* noiseMix, uint32_t& seed, float& clickLevel, float clickAmount,
                      float velocity, int clickIndex, int voice, float sampleRate);
