#pragma once
// Level statistics of rendered audio and the 32-bit float WAV file the render host writes.

#include <cstdint>
#include <string>
#include <vector>

namespace tavrin::host {

// Peak (largest magnitude) and RMS over the finite samples of one channel; NaN and infinite samples are
// counted apart.
struct AudioStats {
  float peak = 0.0f;
  double rms = 0.0;
  uint64_t nanCount = 0;
  uint64_t infCount = 0;
};

AudioStats measure(const std::vector<float>& samples);

// Writes interleaved stereo 32-bit IEEE float samples (format 3) at the given rate; the channels must
// have equal length. False when the file cannot be written.
bool writeWavFloat32(const std::string& path, const std::vector<float>& left, const std::vector<float>& right,
                     uint32_t sampleRate);

}  // namespace tavrin::host
