#include <cmath>

#include "tests/tuning/TuningFixtures.h"
#include "tuning/MTSSysEx.h"

namespace {

double equalTempered(int n) {
  return 440.0 * std::pow(2.0, (n - 69) / 12.0);
}

struct PartialFakeMaster : FakeMaster {
  PartialFakeMaster() : FakeMaster(FAKE_MASTER_PARTIAL_PATH) {}
};

LocalTuning fifths() {
  LocalTuning t{};
  t.count = t.keysPerPeriod = 1;
  t.periodRatio = 1.5;
  return t;
}

}  // namespace

TEST_F(FakeMaster, NotesFollowTheMasterTable) {
  EXPECT_EQ(fn<int (*)()>("fake_master_clients")(), 1);
  EXPECT_TRUE(library->loaded());
  setFrequency(69, 450.0);
  block();
  EXPECT_TRUE(state->getMTSConnected() && state->tuningActiveThisBlock());
  EXPECT_EQ(state->effectiveNoteFreq(69, 0), 450.0);

  // The master comes before a local tuning and before received tuning messages.
  state->setLocalTuning(fifths());
  const uint8_t change[] = {0xF0, 0x7F, 0x7F, 0x08, 0x02, 0x00, 0x01, 0x45, 0x46, 0x00, 0x00, 0xF7};
  state->parseMTSSysEx(change, sizeof change);
  block();
  EXPECT_EQ(state->effectiveNoteFreq(69, 0), 450.0);

  // Keys above 127 fold by the master's map size and period.
  setMapSize(7);
  setPeriod(3.0);
  EXPECT_EQ(state->effectiveNoteFreq(130, 0), equalTempered(123) * 3.0);
  EXPECT_EQ(state->effectiveNoteFreq(186, 0), equalTempered(123) * std::pow(3.0, 9));
  setMapSize(-1);
  setPeriod(NAN);
  EXPECT_EQ(state->effectiveNoteFreq(130, 0), equalTempered(118) * 2.0);

  setMapSize(12);
  setPeriod(2.0);
  TuningSnapshot snap;
  ASSERT_TRUE(state->getTuningSnapshotOnMain(snap));
  EXPECT_STREQ(snap.name, "Fake Master");
  EXPECT_EQ(snap.ratios[9], 450.0 / equalTempered(60));

  state.reset();
  EXPECT_EQ(fn<int (*)()>("fake_master_clients")(), 0);
}

TEST_F(FakeMaster, FilteredNotesAndPresence) {
  setFilter(61, true);
  EXPECT_TRUE(state->shouldFilterNote(61, 0));
  EXPECT_FALSE(state->shouldFilterNote(60, 0));
  MTSClient* c = mts::registerClient(*library);
  // The nearest-note search skips what the master filters; with every key filtered it answers 12-TET.
  EXPECT_EQ(mts::frequencyToNote(c, equalTempered(61) * 1.001, 0), 62);
  EXPECT_EQ(mts::frequencyToNote(c, equalTempered(61) * 0.999, 0), 60);
  for (int n = 0; n < 128; ++n) setFilter(n, true);
  EXPECT_EQ(mts::frequencyToNote(c, 445.0, 0), 69);
  mts::deregisterClient(c);

  block();
  const uint32_t v = state->getTuningVersion();
  setOnline(false);
  EXPECT_FALSE(state->shouldFilterNote(61, 0));
  block();
  EXPECT_EQ(state->getTuningVersion(), v + 1);
  EXPECT_FALSE(state->effectiveTuningActive());
  setFrequency(69, 460.0);
  setOnline(true);
  block();
  EXPECT_EQ(state->getTuningVersion(), v + 2);
  EXPECT_EQ(state->effectiveNoteFreq(69, 0), 460.0);
}

TEST_F(FakeMaster, RetuneOfACheckNoteIsNoticedWithinOneBlock) {
  block();
  for (int key : {60, 69, 72}) {
    const uint32_t v = state->getTuningVersion();
    setFrequency(key, equalTempered(key) * (1.0 + 1e-10));  // below one part in 10^9: not a change
    block();
    EXPECT_EQ(state->getTuningVersion(), v) << key;
    setFrequency(key, equalTempered(key) * 1.01);
    block();
    EXPECT_EQ(state->getTuningVersion(), v + 1) << key;
    block();
    EXPECT_EQ(state->getTuningVersion(), v + 1) << key;
    setFrequency(key, equalTempered(key));
    block();
  }
  // Other keys are not watched.
  const uint32_t v = state->getTuningVersion();
  setFrequency(61, 300.0);
  block();
  EXPECT_EQ(state->getTuningVersion(), v);
  EXPECT_EQ(state->effectiveNoteFreq(61, 0), 300.0);
}

TEST_F(FakeMaster, ChannelTablesAndVersion) {
  fn<void (*)(int, bool)>("fake_master_set_use_channel")(3, true);
  fn<void (*)(int, int, double)>("fake_master_set_channel_frequency")(3, 60, 300.0);
  MTSClient* c = mts::registerClient(*library);
  EXPECT_EQ(mts::noteToFrequency(c, 60, 3), 300.0);
  EXPECT_EQ(mts::noteToFrequency(c, 60, -1), equalTempered(60));
  EXPECT_NEAR(mts::retuningInSemitones(c, 60, 3), 12.0 * std::log2(300.0 / equalTempered(60)), 1e-12);
  int ch = -1;
  EXPECT_EQ(mts::frequencyToNoteAndChannel(c, 300.0, &ch), 60);
  EXPECT_EQ(ch, 3);
  // Once filtering was asked without a channel, the channel tables are no longer used.
  mts::shouldFilterNote(c, 60, -1);
  EXPECT_EQ(mts::noteToFrequency(c, 60, 3), equalTempered(60));
  EXPECT_EQ(mts::mapStartKey(c), 60);
  EXPECT_EQ(mts::refKey(c), 69);
  EXPECT_EQ(mts::periodSemitones(c), 12.0);
  setPeriod(3.0);
  EXPECT_NEAR(mts::periodSemitones(c), 12.0 * std::log2(3.0), 1e-12);
  mts::deregisterClient(c);

  EXPECT_FALSE(state->getMTSNeedsUpdate());
  fn<void (*)(int)>("fake_master_set_version")(0x10002);
  EXPECT_TRUE(state->getMTSNeedsUpdate());
}

TEST_F(PartialFakeMaster, MissingFunctionsGiveDefaults) {
  EXPECT_TRUE(library->hasMaster && library->tuningTable);
  EXPECT_EQ(library->getPeriodRatio, nullptr);
  EXPECT_EQ(library->channelTables[0], nullptr);
  setFrequency(69, 445.0);
  block();
  EXPECT_TRUE(state->getMTSConnected());
  EXPECT_EQ(state->effectiveNoteFreq(69, 5), 445.0);
  EXPECT_FALSE(state->shouldFilterNote(69, 5));
  EXPECT_EQ(state->effectivePeriodRatio(), 2.0);
  EXPECT_FALSE(state->getMTSNeedsUpdate());
  TuningSnapshot snap;
  ASSERT_TRUE(state->getTuningSnapshot(snap));
  EXPECT_STREQ(snap.name, "12-TET");
}

TEST(MasterLibraryMissing, EverythingFallsBack) {
  const char* paths[] = {"/nonexistent/libMTS.so", nullptr};
  MasterLibrary library(paths);
  EXPECT_FALSE(library.loaded());
  EXPECT_FALSE(library.online());
  EXPECT_EQ(library.hasMaster, nullptr);
  TuningState state(library);
  state.takeHandOver();
  EXPECT_FALSE(state.getMTSConnected());
  EXPECT_FALSE(state.effectiveTuningActive());
}

// A master loaded into the global symbol scope exports functions with our exported names; the plug-in
// module must answer from its own code, not from the master's same-named functions.
TEST(PluginModuleExports, OwnCallsAreNotCaptured) {
  void* master = dlopen(FAKE_MASTER_FULL_PATH, RTLD_NOW | RTLD_GLOBAL);
  ASSERT_NE(master, nullptr);
  reinterpret_cast<void (*)()>(dlsym(master, "fake_master_reset"))();
  reinterpret_cast<void (*)(double)>(dlsym(master, "fake_master_set_period"))(3.0);
  void* module = dlopen(TAVRIN_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(module, nullptr) << dlerror();

  auto reg = reinterpret_cast<MTSClient* (*)()>(dlsym(module, "MTS_RegisterClient"));
  auto dereg = reinterpret_cast<void (*)(MTSClient*)>(dlsym(module, "MTS_DeregisterClient"));
  auto hasMaster = reinterpret_cast<bool (*)(MTSClient*)>(dlsym(module, "MTS_HasMaster"));
  auto semitones = reinterpret_cast<double (*)(MTSClient*)>(dlsym(module, "MTS_GetPeriodSemitones"));
  auto parse = reinterpret_cast<void (*)(MTSClient*, const char*, int)>(dlsym(module, "MTS_ParseMIDIData"));
  auto freq = reinterpret_cast<double (*)(MTSClient*, char, char)>(dlsym(module, "MTS_NoteToFrequency"));
  ASSERT_TRUE(reg && dereg && hasMaster && semitones && parse && freq);
  EXPECT_NE(reinterpret_cast<void*>(hasMaster), dlsym(master, "MTS_HasMaster"));

  MTSClient* c = reg();
  EXPECT_FALSE(hasMaster(c));     // no master at the installed locations
  EXPECT_EQ(semitones(c), 12.0);  // the master's period (3) would give 19.02
  const char change[] = "\xF0\x7F\x7F\x08\x02\x00\x01\x45\x46\x00\x00\xF7";
  parse(c, change, int(sizeof change - 1));
  EXPECT_NEAR(freq(c, 69, -1), 466.1637615180899, 1e-9);
  dereg(c);
  EXPECT_EQ(reinterpret_cast<int (*)()>(dlsym(master, "fake_master_registrations"))(), 0);
  dlclose(module);
  dlclose(master);
}
