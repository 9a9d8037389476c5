// The parameter names of the JSON forms, and the classic number texts those forms print.
#include <cjson/cJSON.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>
#include <string>

#include "state/ClassicJson.h"
#include "state/ParamNameMap.h"

TEST(ParamNameMap, NamesEveryParameterOnceCanonicallyWithEightAliases) {
  size_t count = 0;
  const ParamNameEntry* rows = tavrin_param_name_map(count);
  ASSERT_EQ(count, 127u);
  ASSERT_EQ(rows, kParamNameMap);
  std::set<uint32_t> ids;
  std::set<std::string> names;
  std::vector<std::string> aliases;
  for (size_t i = 0; i < count; ++i) {
    EXPECT_TRUE(names.insert(rows[i].name).second) << "name twice: " << rows[i].name;
    if (!ids.insert(rows[i].id).second) aliases.push_back(rows[i].name);
  }
  EXPECT_EQ(ids.size(), kNumParams);
  EXPECT_EQ(*ids.rbegin(), kNumParams - 1);
  EXPECT_EQ(aliases, (std::vector<std::string>{"filterMode", "cutoff", "resonance", "drive", "keyTrack",
                                               "revDecay", "damping", "mix"}));
  // Order matters to the writer: a few rows at their places.
  EXPECT_STREQ(rows[6].name, "foldBias");
  EXPECT_STREQ(rows[22].name, "attack");
  EXPECT_STREQ(rows[126].name, "modSourceFoldChar");
}

TEST(ParamNameMap, LookupIsExactAndAliasesReachTheirParameter) {
  EXPECT_EQ(tavrin_lookup_param_id("voiceMode"), kParamVoiceMode);
  EXPECT_EQ(tavrin_lookup_param_id("fmIndex"), kParamFmAmount);
  EXPECT_EQ(tavrin_lookup_param_id("mix"), kParamReverbMix);
  EXPECT_EQ(tavrin_lookup_param_id("modSourceFoldChar"), kParamFoldCharModSource);
  for (const char* unknown : {"CutoffA", "cutoffA ", "", "__seq", static_cast<const char*>(nullptr)})
    EXPECT_EQ(tavrin_lookup_param_id(unknown), kUnknownParamId) << (unknown ? unknown : "null");
}

TEST(ClassicJsonNumber, PrintsTheClassicTexts) {
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    double value;
    const char* text;
  } cases[] = {
      {0.0, "0"},
      {-0.0, "0"},
      {1.0, "1"},
      {-7.0, "-7"},
      {2147483647.0, "2147483647"},
      {-2147483648.0, "-2147483648"},
      {2147483648.0, "2147483648"},
      {-2147483649.0, "-2147483649"},
      {1e10, "10000000000"},
      {18446744073709551615.0, "18446744073709551616"},
      {1e60, "1.000000e+60"},
      {1.0 + std::ldexp(1.0, -52), "1"},
      {1e-17, "0"},
      {0.5, "0.500000"},
      {0.25, "0.250000"},
      {static_cast<double>(0.1f), "0.100000"},
      // Texts that read back as another number are printed as what they read back as.
      {0.9999996, "1"},
      {9.9999999e-7, "0.000001"},
      {-41.9999999, "-42"},
      {999999999.9999999, "1000000000"},
      {-0.125, "-0.125000"},
      {1e-6, "0.000001"},
      {5e-7, "5.000000e-07"},
      {-2.5e-7, "-2.500000e-07"},
      {999999999.5, "999999999.500000"},
      {1234567890.5, "1234568000"},
      {std::nan(""), "null"},
      {inf, "null"},
      {-inf, "null"},
  };
  for (const auto& c : cases) EXPECT_EQ(classicJsonNumberText(c.value), c.text) << c.value;
}

TEST(ClassicJsonNumber, PrintsWholeTreesAndLeavesThemAsTheyWere) {
  const JsonTree tree(cJSON_Parse(R"({"a":0.5,"b":[1,0.25,null,true,"x",[]],"c":{"d":1e-7,"e":{}},"f":-3})"));
  ASSERT_NE(tree, nullptr);
  char* before = cJSON_PrintUnformatted(tree.get());
  EXPECT_EQ(classicJsonPrintUnformatted(tree.get()),
            R"({"a":0.500000,"b":[1,0.250000,null,true,"x",[]],"c":{"d":1.000000e-07,"e":{}},"f":-3})");
  char* after = cJSON_PrintUnformatted(tree.get());
  EXPECT_STREQ(before, after);
  cJSON_free(before);
  cJSON_free(after);

  const JsonTree number(cJSON_CreateNumber(0.75));
  EXPECT_EQ(classicJsonPrintUnformatted(number.get()), "0.750000");
  EXPECT_EQ(classicJsonPrintUnformatted(nullptr), std::nullopt);
}

TEST(ClassicJsonNumber, MembersKeepTheirTextAsReadUntilReplaced) {
  const std::string text = " {\"x\" :\t0.9999999 ,\"y\":[1.50, {\"z\":1e2}],\"\\u0078\":\"dup\",\"w\":1}\n";
  const JsonTree root(cJSON_Parse(text.c_str()));
  ASSERT_TRUE(keepMemberTexts(root.get(), text));
  cJSON_ReplaceItemInObjectCaseSensitive(root.get(), "w", cJSON_CreateNumber(0.5));
  EXPECT_EQ(classicJsonPrintUnformatted(root.get()),
            R"({"x":0.9999999,"y":[1.50, {"z":1e2}],"x":"dup","w":0.500000})");

  // Text that is not the tree's object changes nothing.
  const JsonTree other(cJSON_Parse(R"({"a":1})"));
  for (const char* wrong : {R"({"b":1})", R"({"a":1,"c":2})", "[1]", "{\"a\":1"})
    EXPECT_FALSE(keepMemberTexts(other.get(), wrong)) << wrong;
  EXPECT_EQ(classicJsonPrintUnformatted(other.get()), R"({"a":1})");
}
