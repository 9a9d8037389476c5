// Both channels of a block side by side, for recursions that must step through it sample by sample.
#pragma once

#include "foundation/MLDSPVector.h"
#include "foundation/MLSIMD.h"

// The samples of a left and a right row interleaved, L0 R0 L1 R1 ..., and four zeros after them: the load
// at sample i gives L_i and R_i in lanes 0 and 1, so that one vector step takes both channels' step i,
// each lane on its own, in the order of a channel alone.
struct StereoPairs {
  static constexpr int kBlock = static_cast<int>(ml::kFloatsPerDSPVector);

  alignas(16) float pairs[2 * kBlock + 4];

  StereoPairs(const ml::DSPVector& left, const ml::DSPVector& right) {
    using namespace ml::simd;
    for (int i = 0; i < kBlock; i += 4) {
      const F4 l = loadF(left.getConstBuffer() + i);
      const F4 r = loadF(right.getConstBuffer() + i);
      storeF(pairs + 2 * i, interleaveLow(l, r));
      storeF(pairs + 2 * i + 4, interleaveHigh(l, r));
    }
    storeF(pairs + 2 * kBlock, splat(0.0f));
  }

  // Lanes L_i, R_i, L_i+1, R_i+1 (zeros past the block's end).
  ml::simd::F4 at(int i) const { return ml::simd::loadUnalignedF(pairs + 2 * i); }
};
