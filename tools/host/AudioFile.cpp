#include "tools/host/AudioFile.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace tavrin::host {

AudioStats measure(const std::vector<float>& samples) {
  AudioStats stats;
  double sumOfSquares = 0.0;
  uint64_t finite = 0;
  for (const float x : samples) {
    if (std::isnan(x)) {
      ++stats.nanCount;
    } else if (std::isinf(x)) {
      ++stats.infCount;
    } else {
      stats.peak = std::max(stats.peak, std::fabs(x));
      sumOfSquares += static_cast<double>(x) * x;
      ++finite;
    }
  }
  stats.rms = finite ? std::sqrt(sumOfSquares / static_cast<double>(finite)) : 0.0;
  return stats;
}

namespace {

// Little-endian byte image of the RIFF fields.
void put(std::vector<unsigned char>& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

void putTag(std::vector<unsigned char>& out, const char* tag) {
  out.insert(out.end(), tag, tag + 4);
}

}  // namespace

bool writeWavFloat32(const std::string& path, const std::vector<float>& left, const std::vector<float>& right,
                     uint32_t sampleRate) {
  if (left.size() != right.size() || left.size() > 0x1FFFFFF0u / 8) return false;
  const auto frames = static_cast<uint32_t>(left.size());
  const uint32_t dataBytes = frames * 8;
  std::vector<unsigned char> header;
  putTag(header, "RIFF");
  put(header, 4 + (8 + 18) + (8 + 4) + (8 + dataBytes), 4);
  putTag(header, "WAVE");
  putTag(header, "fmt ");
  put(header, 18, 4);
  put(header, 3, 2);  // IEEE float
  put(header, 2, 2);
  put(header, sampleRate, 4);
  put(header, sampleRate * 8, 4);
  put(header, 8, 2);
  put(header, 32, 2);
  put(header, 0, 2);
  putTag(header, "fact");
  put(header, 4, 4);
  put(header, frames, 4);
  putTag(header, "data");
  put(header, dataBytes, 4);

  std::vector<float> interleaved(2 * static_cast<size_t>(frames));
  for (uint32_t i = 0; i < frames; ++i) {
    interleaved[2 * i] = left[i];
    interleaved[2 * i + 1] = right[i];
  }
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  bool ok = std::fwrite(header.data(), 1, header.size(), file) == header.size();
  ok = ok && std::fwrite(interleaved.data(), sizeof(float), interleaved.size(), file) == interleaved.size();
  return std::fclose(file) == 0 && ok;
}

}  // namespace tavrin::host
