// The built module as a host meets it: its exported symbols, entry, factory and descriptor.
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>

#include "RunCommand.h"
#include "clap/ext/audio-ports.h"
#include "clap/ext/latency.h"
#include "clap/ext/note-ports.h"
#include "tools/host/ClapModule.h"
#include "tools/host/Host.h"
#include "tools/host/PluginInstance.h"

using namespace tavrin::host;

namespace {

std::set<std::string> exportedSymbols(const std::string& path) {
  std::set<std::string> names;
  std::istringstream lines(runCommand("nm -D --defined-only '" + path + "'").output);
  for (std::string line; std::getline(lines, line);) names.insert(line.substr(line.find_last_of(' ') + 1));
  return names;
}

bool allowedExport(const std::string& name) {
  return name == "clap_entry" || name.rfind("MTS_", 0) == 0 || name.rfind("tavrin_", 0) == 0;
}

struct LoadedModule : ::testing::Test {
  void SetUp() override { ASSERT_TRUE(module.load(TAVRIN_MODULE_PATH)) << module.error(); }
  ClapModule module;
  Host host;
};

}  // namespace

TEST(ModuleExports, OnlyEntryAndOwnFunctionsAreExported) {
  const std::set<std::string> names = exportedSymbols(TAVRIN_MODULE_PATH);
  ASSERT_TRUE(names.count("clap_entry")) << "nm found no clap_entry";
  for (const std::string& name : names) EXPECT_TRUE(allowedExport(name)) << "unexpected export " << name;
}

// A host that only scans pays for no toolkit: the module needs what the build without the editor needs,
// and loads and plays in an address space too small for a browser engine.
TEST(ModuleExports, TheModuleNeedsNoToolkitAndFitsInASmallAddressSpace) {
  std::set<std::string> needed;
  std::istringstream lines(runCommand("readelf -d '" TAVRIN_MODULE_PATH "'").output);
  for (std::string line; std::getline(lines, line);)
    if (const size_t at = line.find("Shared library: ["); at != std::string::npos)
      needed.insert(line.substr(at + 17, line.find(']', at) - at - 17));
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "a sanitized module needs its runtime and a large address space";
#endif
  EXPECT_EQ(needed, (std::set<std::string>{"libcjson.so.1", "libstdc++.so.6", "libm.so.6", "libgcc_s.so.1",
                                           "libc.so.6", "ld-linux-x86-64.so.2"}));
  const CommandResult render = runCommand(
      "ulimit -v 262144 && '" TAVRIN_BINARY_DIR "/tools/tavrin-render' --plugin '" TAVRIN_MODULE_PATH
      "' --rate 48000 --seconds 1 --notes 0:60:0.8:0.5 --out /dev/null 2>&1");
  EXPECT_EQ(render.status, 0) << render.output;
  EXPECT_NE(render.output.find("NaN 0, Inf 0"), std::string::npos) << render.output;
}

TEST_F(LoadedModule, EntryAnswersOnlyThePluginFactory) {
  const clap_plugin_entry* entry = module.entry();
  EXPECT_TRUE(entry->clap_version.major == 1u && entry->clap_version.minor == 2u);
  EXPECT_TRUE(entry->init(""));
  EXPECT_TRUE(entry->init("/nowhere/at/all"));
  entry->deinit();
  EXPECT_EQ(entry->get_factory("clap.plugin-factory"), module.factory());
  for (const char* id : {"clap.plugin-factory ", "clap.preset-discovery-factory/2", "", (const char*)nullptr})
    EXPECT_EQ(entry->get_factory(id), nullptr) << (id ? id : "null");
}

TEST_F(LoadedModule, FactoryOffersExactlyTheOneDescriptor) {
  const clap_plugin_factory* factory = module.factory();
  EXPECT_EQ(factory->get_plugin_count(factory), 1u);
  EXPECT_EQ(factory->get_plugin_descriptor(factory, 1), nullptr);
  const clap_plugin_descriptor* desc = factory->get_plugin_descriptor(factory, 0);
  ASSERT_NE(desc, nullptr);
  EXPECT_TRUE(desc->clap_version.major == 1u && desc->clap_version.minor == 2u);
  EXPECT_STREQ(desc->id, "com.nobrel.tavrin");
  EXPECT_STREQ(desc->name, "Tavrin");
  EXPECT_STREQ(desc->vendor, "Nobrels");
  ASSERT_NE(desc->url, nullptr);
  EXPECT_STREQ(desc->manual_url, "");
  EXPECT_STREQ(desc->support_url, "");
  EXPECT_STREQ(desc->version, "1.0.6.2");
  EXPECT_STREQ(desc->description, "Complex oscillator synthesizer");
  ASSERT_NE(desc->features, nullptr);
  EXPECT_STREQ(desc->features[0], "instrument");
  EXPECT_STREQ(desc->features[1], "synthesizer");
  EXPECT_STREQ(desc->features[2], "stereo");
  EXPECT_EQ(desc->features[3], nullptr);
}

TEST_F(LoadedModule, CreateGivesIndependentInstancesOnlyForTheExactId) {
  PluginInstance first(module.factory(), host, "com.nobrel.tavrin");
  PluginInstance second(module.factory(), host, "com.nobrel.tavrin");
  ASSERT_TRUE(first.valid() && second.valid());
  EXPECT_NE(first.plugin()->plugin_data, second.plugin()->plugin_data);
  EXPECT_EQ(first.plugin()->desc, module.firstDescriptor());

  for (const char* id : {"COM.NOBREL.TAVRIN", "com.nobrel.tavrin ", "com.nobrel.tavri", "", "test.probe"})
    EXPECT_FALSE(PluginInstance(module.factory(), host, id).valid()) << id;
  const clap_plugin_factory* factory = module.factory();
  EXPECT_EQ(factory->create_plugin(factory, host.clapHost(), nullptr), nullptr);
  EXPECT_EQ(factory->create_plugin(factory, nullptr, "com.nobrel.tavrin"), nullptr);
}

TEST_F(LoadedModule, InstanceDeclaresItsPorts) {
  PluginInstance instance(module.factory(), host, "com.nobrel.tavrin");
  ASSERT_TRUE(instance.init());
  const auto* audio = instance.extension<clap_plugin_audio_ports>(CLAP_EXT_AUDIO_PORTS);
  ASSERT_NE(audio, nullptr);
  EXPECT_EQ(audio->count(instance.plugin(), true), 0u);
  ASSERT_EQ(audio->count(instance.plugin(), false), 1u);
  clap_audio_port_info port{};
  ASSERT_TRUE(audio->get(instance.plugin(), 0, false, &port));
  EXPECT_EQ(port.id, 0u);
  EXPECT_STREQ(port.name, "Audio Output");
  EXPECT_EQ(port.flags, uint32_t(CLAP_AUDIO_PORT_IS_MAIN));
  EXPECT_EQ(port.channel_count, 2u);
  EXPECT_STREQ(port.port_type, "stereo");
  EXPECT_EQ(port.in_place_pair, CLAP_INVALID_ID);
  EXPECT_FALSE(audio->get(instance.plugin(), 0, true, &port));

  const auto* notes = instance.extension<clap_plugin_note_ports>(CLAP_EXT_NOTE_PORTS);
  ASSERT_NE(notes, nullptr);
  EXPECT_EQ(notes->count(instance.plugin(), false), 0u);
  ASSERT_EQ(notes->count(instance.plugin(), true), 1u);
  clap_note_port_info note{};
  ASSERT_TRUE(notes->get(instance.plugin(), 0, true, &note));
  EXPECT_EQ(note.supported_dialects, uint32_t(CLAP_NOTE_DIALECT_CLAP | CLAP_NOTE_DIALECT_MIDI));
  EXPECT_EQ(note.preferred_dialect, uint32_t(CLAP_NOTE_DIALECT_MIDI));
  EXPECT_STREQ(note.name, "Note Input");
  EXPECT_FALSE(notes->get(instance.plugin(), 0, false, &note));
  EXPECT_EQ(host.countLogged("Host called clap_plugin_note_ports.info() with an index out of bounds: 0 >= 0"),
            1);
}

TEST_F(LoadedModule, LatencyIsTheLimiterLookAheadAtEveryRate) {
  PluginInstance instance(module.factory(), host, "com.nobrel.tavrin");
  ASSERT_TRUE(instance.init());
  const auto* latency = instance.extension<clap_plugin_latency>(CLAP_EXT_LATENCY);
  ASSERT_NE(latency, nullptr);
  for (const double rate : {44100.0, 96000.0}) {
    ASSERT_TRUE(instance.activate(rate, 1, 512));
    EXPECT_EQ(latency->get(instance.plugin()), 32u) << rate;
    instance.deactivate();
  }
  EXPECT_TRUE(host.logEntries().empty());
}
