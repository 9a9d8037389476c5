// The state unit's plain functions are exported by the plug-in module under their C names.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdint>

#include "engine/ParamTable.h"
#include "state/ParamNameMap.h"

TEST(StateExports, ModuleExportsTheStateFunctionsUnderTheirCNames) {
  void* module = dlopen(TAVRIN_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(module, nullptr) << dlerror();
  for (const char* name : {"tavrin_lookup_param_id", "tavrin_param_name_map", "tavrin_parse_snapshot_json",
                           "tavrin_slot_params_to_json", "tavrin_stream_write_all", "tavrin_stream_read_all",
                           "tavrin_state_save_stream", "tavrin_state_load_stream", "tavrin_state_save",
                           "tavrin_state_load", "tavrin_write_kit_section", "tavrin_read_kit_section"})
    EXPECT_NE(dlsym(module, name), nullptr) << name;
  using Lookup = uint32_t (*)(const char*);
  const auto lookup = reinterpret_cast<Lookup>(dlsym(module, "tavrin_lookup_param_id"));
  ASSERT_NE(lookup, nullptr);
  EXPECT_EQ(lookup("cutoffB"), kParamFilterBCutoff);
  EXPECT_EQ(lookup("nothing"), kUnknownParamId);
  dlclose(module);
}
