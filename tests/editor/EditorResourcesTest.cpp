// The editor document embedded in the library: the built page byte for byte, self-contained.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "editor/EditorResources.h"

namespace {

std::string builtDocument() {
  std::ifstream in(std::string(TAVRIN_BINARY_DIR) + "/editor/ui/dist/index.html", std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

TEST(EditorResources, EmbedsTheBuiltDocumentByteForByte) {
  const std::string built = builtDocument();
  ASSERT_FALSE(built.empty());
  ASSERT_EQ(resources::ui_html_size, built.size());
  EXPECT_EQ(std::string(resources::ui_html, resources::ui_html_size), built);
  EXPECT_EQ(resources::ui_html[resources::ui_html_size], '\0');
}

TEST(EditorResources, DocumentIsOneSelfContainedPage) {
  const std::string page(resources::ui_html, resources::ui_html_size);
  EXPECT_EQ(page.rfind("<!doctype html>", 0), 0u);
  for (const char* external : {"<script src", "<link", "@import"})
    EXPECT_EQ(page.find(external), std::string::npos);
}
