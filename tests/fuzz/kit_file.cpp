// Fuzzes the kit file reader through a real file: any bytes. A refused file leaves the kit as it was; a
// taken one must be playable and save to a file that loads to the same kit.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>

#include "state/KitFile.h"
#include "tests/state/PlayableEngine.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

std::string scratchPath(const char* leaf) {
  return "/tmp/tavrin-fuzz-kit-" + std::to_string(getpid()) + leaf;
}

// The kit's mode, base key and every slot's fields, for comparing two engines.
bool sameKit(const PluginProcessor& a, const PluginProcessor& b) {
  if (a.afxModeOn() != b.afxModeOn() || a.afxBaseKeyValue() != b.afxBaseKeyValue()) return false;
  for (int slot = 0; slot < kNumKitSlots; ++slot) {
    ParamSnapshot sa, sb;
    int na = 0, nb = 0;
    bool pa = false, pb = false;
    float ga = 0, gb = 0, qa = 0, qb = 0;
    a.getSlotCopy(slot, sa, na, pa);
    b.getSlotCopy(slot, sb, nb, pb);
    a.getSlotGainPan(slot, ga, qa);
    b.getSlotGainPan(slot, gb, qb);
    if (pa != pb) return false;
    if (!pa) continue;
    if (na != nb || ga != gb || qa != qb || sa.has != sb.has) return false;
    for (uint32_t id = 0; id < kNumParams; ++id)
      if (sa.has[id] && sa.value[id] != sb.value[id]) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static auto engine = std::make_unique<PluginProcessor>();
  static auto before = std::make_unique<PluginProcessor>();
  static auto again = std::make_unique<PluginProcessor>();
  static const std::string input = scratchPath(".in");
  static const std::string output = scratchPath(".out");
  std::mutex lock;
  std::error_code saveError;
  std::string loadReason;

  FILE* file = std::fopen(input.c_str(), "wb");
  check(file != nullptr);
  check(std::fwrite(data, 1, size, file) == size || size == 0);
  std::fclose(file);

  check(saveKitFile(output.c_str(), *engine, lock, saveError) &&
        loadKitFile(output.c_str(), *before, lock, loadReason));
  if (!loadKitFile(input.c_str(), *engine, lock, loadReason)) {
    check(sameKit(*engine, *before));
    return 0;
  }
  check(engineIsPlayable(*engine));
  check(saveKitFile(output.c_str(), *engine, lock, saveError) &&
        loadKitFile(output.c_str(), *again, lock, loadReason));
  check(sameKit(*engine, *again));
  return 0;
}
