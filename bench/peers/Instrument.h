#pragma once
// One instrument the comparison plays: notes queued for the next block, one fixed-size stereo block at a
// time.

namespace peers {

constexpr unsigned kBlockFrames = 256;

class Instrument {
public:
  virtual ~Instrument() = default;

  // A note starting or ending at the first frame of the next block; velocity 0..1.
  virtual void noteOn(int key, double velocity) = 0;
  virtual void noteOff(int key) = 0;
  // Renders one block of kBlockFrames frames.
  virtual void processBlock() = 0;
  // The largest absolute sample of the last block.
  virtual float lastBlockPeak() const = 0;
};

}  // namespace peers
