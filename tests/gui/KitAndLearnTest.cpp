// The kit panel and controller learn through the real page: a slot armed, given the current sound and
// auditioned sounds in the engine; a controller learned with a right click moves its parameter, also in
// a fresh instance that loads the saved state.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "EditorWindowFixture.h"
#include "clap/ext/state.h"
#include "engine/ParamTable.h"
#include "state/MemoryStreams.h"
#include "tools/host/Renderer.h"

namespace gui_test {

namespace {

using tavrin::host::makeMidiEvent;
using tavrin::host::PluginInstance;
using tavrin::host::RenderJob;

constexpr uint8_t kControlChange = 0xB0;
constexpr uint8_t kLearnedController = 20;
constexpr const char* kShowFxPage =
    "[...document.querySelectorAll('.tabs button')].find(b => b.textContent === 'FX').click(), 1";

// About 100 ms: shorter than an audition's note, so the slot still sounds in the last block.
RenderJob auditionJob() {
  return gui_test::blocksOf256(20);
}

float peak(const tavrin::host::RenderResult& result) {
  float most = 0.0f;
  for (const auto* channel : {&result.left, &result.right})
    for (const float sample : *channel) most = std::max(most, std::abs(sample));
  return most;
}

// Clicks the first element the selector finds, as a mouse click on it would.
std::string clickScript(const std::string& selector) {
  return "(() => { const e = document.querySelector('" + selector +
         "'); if (!e) return 0; e.click(); return 1; })()";
}

// CC 20 at value through an activated instance.
void sendLearnedController(PluginInstance& instance, tavrin::host::Host& host, uint8_t value) {
  tavrin::host::render(instance, host, {{0, makeMidiEvent(kControlChange, kLearnedController, value)}},
                       auditionJob());
}

}  // namespace

TEST_F(EditorWindow, AKitSlotSnappedThroughThePageSoundsWhenAuditioned) {
  ASSERT_TRUE(instance->activate(48000, 1, 256));
  ASSERT_TRUE(open());
  ASSERT_TRUE(pumpUntil([&] { return pageShows("window.mlibSetParam"); }));
  ASSERT_TRUE(clickWhenShown(kShowFxPage));
  ASSERT_TRUE(clickWhenShown(clickScript(".kit-head .toggle")));
  ASSERT_TRUE(pumpUntil([&] { return pageShows("document.querySelectorAll('.kit .slot').length === 24"); }));
  ASSERT_EQ(evaluate("document.querySelectorAll('.kit .slot')[3].click(), 1"), "1");
  ASSERT_TRUE(
      pumpUntil([&] { return pageShows("document.querySelectorAll('.kit .slot')[3].matches('.armed')"); }));

  // An empty slot's key plays the global sound: the slot itself does not sound.
  ASSERT_EQ(evaluate(clickScript(".armed .audition")), "1");
  pumpFor(100ms);
  tavrin::host::render(*instance, *host, {}, auditionJob());
  pumpFor(300ms);
  EXPECT_FALSE(pageShows("document.querySelectorAll('.kit .slot')[3].matches('.hit')"));

  ASSERT_EQ(evaluate(clickScript(".armed .snap")), "1");
  ASSERT_TRUE(
      pumpUntil([&] { return pageShows("document.querySelectorAll('.kit .slot')[3].matches('.present')"); }));
  ASSERT_EQ(evaluate(clickScript(".armed .audition")), "1");
  pumpFor(100ms);
  EXPECT_GT(peak(tavrin::host::render(*instance, *host, {}, auditionJob())), 1e-3f);
  // The engine reports the slot sounding, and the page lights it.
  EXPECT_TRUE(
      pumpUntil([&] { return pageShows("document.querySelectorAll('.kit .slot')[3].matches('.hit')"); }, 3s));

  // Armed again, the slot shows what the native side holds in it.
  ASSERT_EQ(evaluate("document.querySelectorAll('.kit .slot')[5].click(), 1"), "1");
  ASSERT_EQ(evaluate("document.querySelectorAll('.kit .slot')[3].click(), 1"), "1");
  EXPECT_TRUE(pumpUntil(
      [&] {
        return pageShows(
            "/holds a sound · \\d+ values/.test(document.querySelector('.armed .note').textContent)");
      },
      3s));
  close();
  instance->deactivate();
}

TEST_F(EditorWindow, AControllerLearnedByARightClickMovesItsParameterAfterStateLoad) {
  ASSERT_TRUE(instance->activate(48000, 1, 256));
  ASSERT_TRUE(open());
  ASSERT_TRUE(pumpUntil([&] { return pageShows("window.mlibSetParam"); }));
  ASSERT_TRUE(clickWhenShown(kShowFxPage));
  // A right click through the X server on the reverb's Mix knob arms learn for it, once the page is
  // uncovered.
  ASSERT_TRUE(pumpUntil([&] { return pageDrawn(*window); }));
  const std::string mixKnob =
      "[...document.querySelectorAll('.reverb .knob')].find(k => k.querySelector('.label').textContent === "
      "'Mix')";
  ASSERT_TRUE(pumpUntil([&] { return pageShows(mixKnob); }));
  const double unlearned = paramValue(kParamReverbMix);
  sendLearnedController(*instance, *host, 127);
  ASSERT_EQ(paramValue(kParamReverbMix), unlearned);
  // The faceplate is zoomed to the window; WebKit may answer its elements' boxes unzoomed: the point
  // taken is the one the page itself finds on the knob.
  const auto centre =
      evaluate("(() => { const k = " + mixKnob +
               ", r = k.querySelector('svg').getBoundingClientRect();"
               " for (const z of [+document.querySelector('.faceplate').style.zoom || 1, 1]) {"
               " const x = Math.round((r.x + r.width / 2) * z), y = Math.round((r.y + r.height / 2) * z);"
               " if (k.contains(document.elementFromPoint(x, y))) return x + ' ' + y; } return ''; })()");
  ASSERT_TRUE(centre && !centre->empty());
  ASSERT_EQ(
      std::system(("xdotool mousemove --window " + std::to_string(window->id()) + " " + *centre + " click 3")
                      .c_str()),
      0);
  ASSERT_TRUE(pumpUntil([&] { return pageShows(mixKnob + ".matches('.learning')"); }, 3s));

  // The next controller moved binds to the parameter and moves it.
  sendLearnedController(*instance, *host, 127);
  EXPECT_EQ(paramValue(kParamReverbMix), 1.0);
  sendLearnedController(*instance, *host, 0);
  EXPECT_EQ(paramValue(kParamReverbMix), 0.0);
  // The page shows the mapping on the knob and stops waiting.
  EXPECT_TRUE(pumpUntil(
      [&] {
        return pageShows(mixKnob + ".querySelector('.cc')?.textContent.includes('CC20') && !" + mixKnob +
                         ".matches('.learning') && !document.querySelector('.learn-cancel')");
      },
      3s));

  const auto* state = instance->extension<clap_plugin_state>(CLAP_EXT_STATE);
  MemoryOStream saved;
  ASSERT_TRUE(state->save(plugin(), &saved.stream));
  close();
  instance->deactivate();

  PluginInstance fresh(module->factory(), *host, "com.nobrel.tavrin");
  ASSERT_TRUE(fresh.init());
  ASSERT_TRUE(fresh.loadState(saved.bytes));
  ASSERT_TRUE(fresh.activate(48000, 1, 256));
  const auto* freshParams = fresh.extension<clap_plugin_params>(CLAP_EXT_PARAMS);
  double value = -1.0;
  sendLearnedController(fresh, *host, 127);
  ASSERT_TRUE(freshParams->get_value(fresh.plugin(), kParamReverbMix, &value));
  EXPECT_EQ(value, 1.0);
  fresh.deactivate();
}

}  // namespace gui_test
