// An engine following a tuning master (a stand-in library): notes sound at the master's frequencies
// and notes the master filters out never sound.
#include <dlfcn.h>

#include "engine/VoiceRenderFixture.h"
#include "tuning/MTSMasterLibrary.h"

namespace {

class EngineWithMaster : public VoiceRenderTest {
protected:
  void* handle = dlopen(FAKE_MASTER_FULL_PATH, RTLD_NOW | RTLD_LOCAL);
  std::unique_ptr<MasterLibrary> library;

  void SetUp() override {
    ASSERT_NE(handle, nullptr);
    fn<void (*)()>("fake_master_reset")();
    fn<void (*)(bool)>("fake_master_set_online")(true);
    const char* paths[] = {FAKE_MASTER_FULL_PATH, nullptr};
    library = std::make_unique<MasterLibrary>(paths);
    engine = std::make_unique<PluginProcessor>(*library);
    VoiceRenderTest::SetUp();
    singleVoice();
  }
  void TearDown() override {
    engine.reset();
    library.reset();
    dlclose(handle);
  }
  template <class F>
  F fn(const char* name) {
    return reinterpret_cast<F>(dlsym(handle, name));
  }
};

TEST_F(EngineWithMaster, NotesFollowTheMasterAndFilteredNotesStaySilent) {
  fn<void (*)(int, double)>("fake_master_set_frequency")(60, 300.0);
  fn<void (*)(int, bool)>("fake_master_set_filter")(62, true);
  ASSERT_TRUE(engine->getMTSConnected());

  engine->handleNoteOn(0, 62, 0.8, 0);
  const std::vector<float> filtered = renderLeft(9600);
  EXPECT_EQ(peakOf(filtered, 0, filtered.size()), 0.0f);

  engine->handleNoteOn(0, 60, 0.8, 0);
  const std::vector<float> played = renderLeft(48000);
  EXPECT_GT(peakOf(played, 0, played.size()), 0.05f);
  // Within the voice's analog pitch offsets.
  EXPECT_NEAR(centsBetween(kernel_test::zeroCrossingFrequency(played, 9600, kRate, 48000), 300.0), 0.0, 3.4);
}

}  // namespace
