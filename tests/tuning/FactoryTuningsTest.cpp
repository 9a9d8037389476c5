// The factory tunings shipped in resources/Tunings: each one read by the Scala reader against its
// definition, written out here from the published figures.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

#include "tuning/ScalaParser.h"

namespace fs = std::filesystem;

namespace {

constexpr double kToleranceCents = 0.01;

double cents(double ratio) {
  return 1200.0 * std::log2(ratio);
}

// Steps of an equal division of the period (in cents), the period last.
std::vector<double> equalSteps(int divisions, double periodCents, std::vector<int> degrees = {}) {
  if (degrees.empty())
    for (int k = 1; k < divisions; ++k) degrees.push_back(k);
  std::vector<double> out;
  for (int k : degrees) out.push_back(k * periodCents / divisions);
  out.push_back(periodCents);
  return out;
}

std::vector<double> ratios(std::initializer_list<double> list) {
  std::vector<double> out;
  for (double r : list) out.push_back(cents(r));
  return out;
}

// Every degree above 1/1 in cents, the period last.
std::map<std::string, std::vector<double>> definitions() {
  std::map<std::string, std::vector<double>> d;
  for (int n : {12, 19, 22, 24, 31, 53}) d[std::to_string(n) + "-EDO"] = equalSteps(n, 1200.0);
  d["Just 5-limit"] = ratios(
      {16. / 15, 9. / 8, 6. / 5, 5. / 4, 4. / 3, 45. / 32, 3. / 2, 8. / 5, 5. / 3, 9. / 5, 15. / 8, 2.});
  d["Just 7-limit"] =
      ratios({15. / 14, 8. / 7, 6. / 5, 5. / 4, 4. / 3, 7. / 5, 3. / 2, 8. / 5, 5. / 3, 7. / 4, 15. / 8, 2.});
  d["Pythagorean"] = ratios({2187. / 2048, 9. / 8, 32. / 27, 81. / 64, 4. / 3, 729. / 512, 3. / 2,
                             6561. / 4096, 27. / 16, 16. / 9, 243. / 128, 2.});
  d["Quarter-comma meantone"] = {76.049,  193.157, 310.265, 386.314,  503.422,  579.471,
                                 696.578, 772.627, 889.735, 1006.843, 1082.892, 1200.0};
  d["Werckmeister III"] = {90.225,  192.180, 294.135, 390.225, 498.045,  588.270,
                           696.090, 792.180, 888.270, 996.090, 1092.180, 1200.0};
  d["Bohlen-Pierce"] = equalSteps(13, cents(3.0));
  d["Harmonics 8-16"] = ratios({9. / 8, 10. / 8, 11. / 8, 12. / 8, 13. / 8, 14. / 8, 15. / 8, 2.});
  d["Slendro"] = equalSteps(5, 1200.0);
  d["Pelog"] = equalSteps(9, 1200.0, {1, 2, 4, 5, 6, 7});
  return d;
}

std::string readText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(FactoryTunings, EveryFileIsAScaleWhoseDegreesMatchItsDefinition) {
  const fs::path folder = fs::path(TAVRIN_TEST_DIR) / "../resources/Tunings";
  std::map<std::string, std::vector<double>> expected = definitions();
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    const std::string stem = entry.path().stem().string();
    ASSERT_EQ(entry.path().extension(), ".scl") << stem;
    const auto definition = expected.find(stem);
    ASSERT_NE(definition, expected.end()) << "no definition for " << stem;
    const std::vector<double>& degrees = definition->second;

    const std::string text = readText(entry.path());
    LocalTuning t{};
    ASSERT_TRUE(parseScala(text.data(), text.size(), nullptr, t)) << stem;
    ASSERT_EQ(t.count, static_cast<int>(degrees.size())) << stem;
    for (int i = 1; i < t.count; ++i)
      EXPECT_NEAR(cents(t.ratios[i]), degrees[i - 1], kToleranceCents) << stem << " " << i;
    EXPECT_NEAR(cents(t.periodRatio), degrees.back(), kToleranceCents) << stem;
    expected.erase(definition);
  }
  for (const auto& [stem, degrees] : expected) ADD_FAILURE() << stem << " is missing";
}

}  // namespace
