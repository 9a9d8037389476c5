// The link to the editor's helper process: frames survive any cut of the stream and a frame over the
// limit or a garbled stream ends the link; the helper inherits only its socket and none of the host's
// toolkit settings, and is reaped; a helper that dies, or talks nonsense, ends the link without harm.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <string>

#include "EditorFixture.h"
#include "platform/EditorFrames.h"
#include "platform/HelperLink.h"
#include "state/LibraryFixture.h"

namespace {

using namespace platform::frames;
using namespace std::chrono_literals;

// A helper program: a shell script with the given body.
std::string helperScript(const TempFolder& folder, const std::string& body) {
  const std::string path = (folder.path / "helper.sh").string();
  std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
  chmod(path.c_str(), 0755);
  return path;
}

std::string read(const std::string& path) {
  std::ifstream in(path);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(EditorLink, FramesSurviveAnyCutAndTheLimitEndsTheStream) {
  const std::string frame =
      FrameWriter(Kind::panel).u32(7).u8(1).u64(0x1234567890).f64(-2.5).text("Zeta").finish();
  FrameReader reader;
  for (const char byte : frame + frame) ASSERT_TRUE(reader.feed(&byte, 1));
  for (int copy = 0; copy < 2; ++copy) {
    const auto body = reader.next();
    ASSERT_TRUE(body);
    FieldReader fields(*body);
    EXPECT_EQ(fields.kind(), Kind::panel);
    EXPECT_EQ(fields.u32(), 7u);
    EXPECT_EQ(fields.u8(), 1u);
    EXPECT_EQ(fields.u64(), 0x1234567890u);
    EXPECT_EQ(fields.f64(), -2.5);
    EXPECT_EQ(fields.text(), "Zeta");
    EXPECT_TRUE(fields.ok());
    // Past the end: zero, and broken for good.
    EXPECT_EQ(fields.u32(), 0u);
    EXPECT_FALSE(fields.ok());
  }
  EXPECT_FALSE(reader.next());

  // A text claiming more than the frame holds; a frame over the limit; one of no body.
  const std::string lying = FrameWriter(Kind::message).u32(1000).finish();
  const std::string lyingBody = lying.substr(4);
  FieldReader fields(lyingBody);
  EXPECT_EQ(fields.text(), "");
  EXPECT_FALSE(fields.ok());
  EXPECT_TRUE(FrameWriter(Kind::load).text(std::string(kMaxFrameBytes, 'x')).finish().empty());
  for (const uint32_t length : {kMaxFrameBytes + 1, 0u}) {
    FrameReader limited;
    EXPECT_FALSE(limited.feed(reinterpret_cast<const char*>(&length), sizeof length));
    EXPECT_FALSE(limited.next());
    EXPECT_TRUE(limited.failed());
  }
}

TEST(EditorLink, TheHelperInheritsOnlyItsSocketAndNoToolkitOfTheHost) {
  TempFolder temp;
  const std::string report = (temp.path / "report").string();
  const std::string program = helperScript(temp, "env > '" + report + "'; exec cat <&3 >&3");
  setenv("LD_PRELOAD", "libgtk-x11-2.0.so.0", 1);
  setenv("GTK_MODULES", "canberra-gtk-module", 1);
  setenv("TAVRIN_KEPT", "1", 1);
  // A descriptor of the host that does not ask to be closed on exec.
  const int leaked = open("/dev/null", O_RDONLY);
  std::string whyNot;
  auto link = platform::HelperLink::start(program, whyNot);
  unsetenv("LD_PRELOAD");
  unsetenv("GTK_MODULES");
  unsetenv("TAVRIN_KEPT");
  close(leaked);
  ASSERT_TRUE(link) << whyNot;

  // The helper echoes: a frame comes back whole.
  std::vector<std::string> received;
  link->setReceiver(
      [&](const std::optional<std::string>& body) { received.push_back(body.value_or("end")); });
  link->send(FrameWriter(Kind::evaluate).u32(3).text("1 + 1").finish());
  ASSERT_TRUE(link->waitUntil([&] { return !received.empty(); }, 3s));
  EXPECT_EQ(FieldReader(received[0]).kind(), Kind::evaluate);

  const std::string seen = read(report);
  EXPECT_EQ(seen.find("LD_PRELOAD"), std::string::npos);
  EXPECT_EQ(seen.find("GTK_MODULES"), std::string::npos);
  EXPECT_NE(seen.find("TAVRIN_KEPT=1"), std::string::npos);
  std::set<std::string> descriptors;
  for (const auto& entry : fs::directory_iterator("/proc/" + std::to_string(link->helperId()) + "/fd"))
    descriptors.insert(entry.path().filename().string());
  EXPECT_EQ(descriptors, (std::set<std::string>{"0", "1", "2", "3"}));

  // Ending the link ends and reaps the helper.
  const pid_t helper = link->helperId();
  link.reset();
  EXPECT_NE(kill(helper, 0), 0);
}

TEST(EditorLink, AHelperThatDiesOrTalksNonsenseEndsTheLink) {
  TempFolder temp;
  // Each ending, and what the log is told of it.
  const std::pair<const char*, const char*> cases[] = {
      {"printf '\\010\\000\\000\\000\\101' >&3", "exited with status 0"},  // closed mid-frame
      {"printf '\\377\\377\\377\\377' >&3; exec sleep 30", "sent a frame over the limit"},
      {"exit 3", "exited with status 3"},
      {"kill -9 $$", "was killed by signal 9 (Killed)"},
  };
  for (const auto& [body, why] : cases) {
    std::string whyNot;
    auto link = platform::HelperLink::start(helperScript(temp, body), whyNot);
    ASSERT_TRUE(link) << whyNot;
    bool ended = false;
    link->setReceiver([&](const std::optional<std::string>& frame) { ended |= !frame; });
    EXPECT_TRUE(link->waitUntil([&] { return ended; }, 3s)) << body;
    EXPECT_EQ(link->whyEnded(), why) << body;
    const pid_t helper = link->helperId();
    link.reset();
    EXPECT_NE(kill(helper, 0), 0) << body;
  }
  std::string whyNot;
  EXPECT_FALSE(platform::HelperLink::start((temp.path / "missing").string(), whyNot));
  EXPECT_NE(whyNot.find("missing"), std::string::npos);
}

}  // namespace
