// The text forms agree with the engine's table: a label for every whole value of a choice's range.
#include <gtest/gtest.h>

#include "engine/ParamTable.h"
#include "plugin/ParamTextFormat.h"

namespace {

TEST(ParamTextFormat, LabelsNameEveryWholeValueOfTheRange) {
  for (uint32_t id = 0; id < kNumParams; ++id) {
    const ParamTextFormat f = paramTextFormat(id);
    const ParamInfo& row = kParams[id];
    if (f.form == ParamTextForm::kLabel) {
      EXPECT_EQ(row.min, 0.0) << row.name;
      EXPECT_EQ(f.labels.size(), static_cast<size_t>(row.max) + 1) << row.name;
    } else if (f.form == ParamTextForm::kSwitch) {
      EXPECT_EQ(f.labels.size(), 2u) << row.name;
      EXPECT_TRUE(row.min == 0.0 && row.max == 1.0) << row.name;
    }
  }
}

}  // namespace
