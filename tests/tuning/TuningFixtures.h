#pragma once
// Scales, a retuning message and the stand-in tuning master shared by the tuning tests.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tuning/ScalaParser.h"
#include "tuning/TuningState.h"

inline LocalTuning scalaTuning(const std::string& text, const char* name = nullptr) {
  LocalTuning t{};
  EXPECT_TRUE(parseScala(text.data(), text.size(), name, t));
  return t;
}

// One block's tuning stages, as the engine runs them.
inline void block(TuningState& s) {
  s.takeHandOver();
  s.watch();
}

// Five equal steps per octave.
inline LocalTuning fiveTone() {
  return scalaTuning("Five\n5\n240.0\n480.0\n720.0\n960.0\n2/1\n");
}

// A single-note retuning: key 69 to 69.5 semitones (452.89 Hz).
inline const std::vector<uint8_t> kNote69Up = {0xF0, 0x7F, 0x7F, 0x08, 0x02, 0x00,
                                               0x01, 0x45, 0x45, 0x40, 0x00, 0xF7};

// Opens a stand-in master library (see fake_master), resets it, and builds a tuning state whose client
// uses it.
struct FakeMaster : ::testing::Test {
  explicit FakeMaster(const char* path = FAKE_MASTER_FULL_PATH)
      : handle(dlopen(path, RTLD_NOW | RTLD_LOCAL)) {
    fn<void (*)()>("fake_master_reset")();
    const char* paths[] = {"/nonexistent/libMTS.so", path, nullptr};
    library = std::make_unique<MasterLibrary>(paths);
    state = std::make_unique<TuningState>(*library);
  }
  ~FakeMaster() override {
    state.reset();
    library.reset();
    dlclose(handle);
  }

  template <class F>
  F fn(const char* name) {
    auto f = reinterpret_cast<F>(dlsym(handle, name));
    EXPECT_NE(f, nullptr) << name;
    return f;
  }
  void setFrequency(int note, double hz) { fn<void (*)(int, double)>("fake_master_set_frequency")(note, hz); }
  void setOnline(bool on) { fn<void (*)(bool)>("fake_master_set_online")(on); }
  void setFilter(int note, bool f) { fn<void (*)(int, bool)>("fake_master_set_filter")(note, f); }
  void setMapSize(int size) { fn<void (*)(int)>("fake_master_set_map_size")(size); }
  void setPeriod(double ratio) { fn<void (*)(double)>("fake_master_set_period")(ratio); }
  void block() { ::block(*state); }

  void* handle;
  std::unique_ptr<MasterLibrary> library;
  std::unique_ptr<TuningState> state;
};
