// A real host's plug-in scanner loads the built module and reads its name, ports, parameters and editor.
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>

#include "RunCommand.h"

namespace {

const char* kQtractorScanner = "/usr/lib/x86_64-linux-gnu/qtractor/qtractor_plugin_scan";

// A module built with a sanitizer needs its runtime from the host program, which the scanner lacks.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitizedModule = true;
#elif defined(__has_feature)
constexpr bool kSanitizedModule = __has_feature(address_sanitizer) || __has_feature(thread_sanitizer);
#else
constexpr bool kSanitizedModule = false;
#endif

}  // namespace

TEST(HostScan, QtractorScannerSeesTheInstrument) {
  if (access(kQtractorScanner, X_OK) != 0) GTEST_SKIP() << "qtractor's plug-in scanner is not installed";
  if (kSanitizedModule) GTEST_SKIP() << "the sanitized module cannot load into the scanner";
  char modulePath[PATH_MAX];
  ASSERT_NE(realpath(TAVRIN_MODULE_PATH, modulePath), nullptr);
  char home[] = "/tmp/tavrin-scan-XXXXXX";
  ASSERT_NE(mkdtemp(home), nullptr);

  const std::string output =
      runCommand("printf 'CLAP:%s\\n' '" + std::string(modulePath) + "' | HOME='" + home +
                 "' QT_QPA_PLATFORM=offscreen timeout 60 " + kQtractorScanner + " 2>/dev/null")
          .output;
  std::filesystem::remove_all(home);

  // No audio inputs, two outputs; one note input; 119 parameters; an editor, although the scanner's host
  // offers no extension at all.
  const std::string expected = "CLAP|Tavrin|0:2|1:0|119:0|GUI,";
  EXPECT_EQ(output.rfind(expected, 0), 0u) << output;
  EXPECT_NE(output.find(std::string("|") + modulePath + "|"), std::string::npos) << output;
}
