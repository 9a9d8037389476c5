// tavrin-cases: renders the engine's load cases (EngineCases.h) at 48 and 96 kHz, one 64-frame block per
// process call, and writes each case's output as raw interleaved 32-bit floats, so that two builds can be
// compared sample for sample.
//
//   tavrin-cases DIR                 writes DIR/<case>_<rate>k.f32 and prints each file's size
//   tavrin-cases --compare DIRA DIRB prints, per case, whether the renders are identical and the largest
//                                    sample difference; exits 1 when any differs
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "EngineCases.h"
#include "engine/PluginProcessor.h"

namespace {

constexpr uint32_t kBlock = 64;
constexpr double kRates[] = {48000.0, 96000.0};

std::string caseFileName(const engine_cases::EngineCase& c, double rate) {
  return c.name + "_" + std::to_string(int(rate / 1000)) + "k.f32";
}

std::vector<float> renderCase(const engine_cases::EngineCase& c, double rate) {
  const std::vector<engine_cases::NoteEvent> events = engine_cases::noteEvents(c, rate);
  const auto blocks = static_cast<size_t>(c.seconds * rate / kBlock);
  auto engine = std::make_unique<PluginProcessor>();
  engine->setSampleRate(rate);
  engine_cases::applyCase(*engine, c);
  std::vector<float> out;
  out.reserve(blocks * kBlock * 2);
  float left[kBlock], right[kBlock];
  size_t next = 0;
  for (size_t b = 0; b < blocks; ++b) {
    engine_cases::playEventsInBlock(*engine, events, next, b * kBlock, kBlock);
    engine->process(left, right, kBlock);
    for (uint32_t i = 0; i < kBlock; ++i) {
      out.push_back(left[i]);
      out.push_back(right[i]);
    }
  }
  return out;
}

bool readFloats(const std::string& path, std::vector<float>& out) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return false;
  const auto bytes = static_cast<size_t>(in.tellg());
  out.resize(bytes / sizeof(float));
  in.seekg(0);
  return bool(in.read(reinterpret_cast<char*>(out.data()), std::streamsize(out.size() * sizeof(float))));
}

int writeAll(const std::string& dir) {
  for (const double rate : kRates) {
    for (const engine_cases::EngineCase& c : engine_cases::engineCases(rate)) {
      const std::vector<float> out = renderCase(c, rate);
      const std::string path = dir + "/" + caseFileName(c, rate);
      std::ofstream file(path, std::ios::binary);
      file.write(reinterpret_cast<const char*>(out.data()), std::streamsize(out.size() * sizeof(float)));
      if (!file) {
        std::fprintf(stderr, "tavrin-cases: could not write %s\n", path.c_str());
        return 1;
      }
      std::printf("%s: %zu frames\n", path.c_str(), out.size() / 2);
    }
  }
  return 0;
}

int compareAll(const std::string& dirA, const std::string& dirB) {
  bool allSame = true;
  for (const double rate : kRates) {
    for (const engine_cases::EngineCase& c : engine_cases::engineCases(rate)) {
      const std::string name = caseFileName(c, rate);
      std::vector<float> a, b;
      if (!readFloats(dirA + "/" + name, a) || !readFloats(dirB + "/" + name, b)) {
        std::fprintf(stderr, "tavrin-cases: %s is missing in one of the folders\n", name.c_str());
        return 2;
      }
      const bool same =
          a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
      double largest = 0.0;
      for (size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
        largest = std::max(largest, std::fabs(double(a[i]) - double(b[i])));
      }
      std::printf("%-32s %s  largest difference %.3g\n", name.c_str(), same ? "identical" : "DIFFERS  ",
                  largest);
      allSame = allSame && same;
    }
  }
  return allSame ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--compare") == 0) return compareAll(argv[2], argv[3]);
  if (argc == 2 && argv[1][0] != '-') return writeAll(argv[1]);
  std::fprintf(stderr, "usage: tavrin-cases DIR | tavrin-cases --compare DIRA DIRB\n");
  return 2;
}
