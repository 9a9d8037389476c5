// Edits from the host and from controllers reaching the morph poles: host values stay out of the poles
// during the post-load grace, which process calls and flushes count down. (Editor edits: the editor tests.)
#include <gtest/gtest.h>

#include "PluginFixture.h"
#include "tools/host/Events.h"

using namespace tavrin::host;

TEST(PluginMorphRebase, HostValuesRebaseOutsideThePostLoadGrace) {
  PluginFixture p;
  PluginProcessor& engine = p.object->engine;
  p.startOnThisThread();
  engine.openPostLoadRebaseGrace();
  for (int call = 0; call < 3; ++call) {
    DirectBlock block(32);
    block.add(0, makeParamValueEvent(kParamFold, 0.5));
    p.instance.process(block.block);
    EXPECT_FALSE(rebasePending(engine, kParamFold)) << call;
  }
  EXPECT_FALSE(engine.postLoadRebaseGraceActive());
  DirectBlock after(32);
  after.add(0, makeParamValueEvent(kParamFold, 0.25));
  p.instance.process(after.block);
  EXPECT_TRUE(rebasePending(engine, kParamFold));
  p.instance.stopProcessing();
}

TEST(PluginMorphRebase, ControllersRebaseEvenInTheGrace) {
  PluginFixture p;
  CLAPPlugin& plugin = *p.object;
  plugin.engine.openPostLoadRebaseGrace();
  plugin.processEvent(makeMidiEvent(0xB0, 74, 64).header);  // bound to Filter A Cutoff
  EXPECT_TRUE(rebasePending(plugin.engine, kParamFilterACutoff));
}

TEST(PluginMorphRebase, FlushesCountTheGraceDown) {
  PluginFixture p;
  p.object->engine.openPostLoadRebaseGrace();
  p.instance.deactivate();
  for (int flush = 0; flush < 3; ++flush) flushParams(p.instance);
  EXPECT_FALSE(p.object->engine.postLoadRebaseGraceActive());
  p.instance.activate(p.rate, 1, 4096);
}
