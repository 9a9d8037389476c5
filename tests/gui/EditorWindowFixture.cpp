#include "EditorWindowFixture.h"

#include <dirent.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string_view>
#include <thread>

#include "platform/EditorFrames.h"

// After GoogleTest, whose names X11's macros would replace.
#include <X11/Xutil.h>

namespace gui_test {

namespace {

int entriesIn(const std::string& folder) {
  int count = 0;
  if (DIR* dir = opendir(folder.c_str())) {
    while (const dirent* entry = readdir(dir)) count += entry->d_name[0] != '.';
    closedir(dir);
  }
  return count;
}

// Descriptors the process holds, less the /proc and /sys files that WebKit's process-wide memory monitor
// opens once, at a time of its own choosing, after the first views.
int editorDescriptors() {
  int count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (const dirent* entry = readdir(dir)) {
      if (entry->d_name[0] == '.') continue;
      char target[256] = {};
      const std::string link = std::string("/proc/self/fd/") + entry->d_name;
      if (readlink(link.c_str(), target, sizeof target - 1) < 0) continue;
      const std::string_view path(target);
      count += !(path.starts_with("/proc/") || path.starts_with("/sys/"));
    }
    closedir(dir);
  }
  return count;
}

// A file of /proc as text; empty when the process is gone.
std::string procText(int pid, const char* name) {
  std::string text;
  if (FILE* file = std::fopen(("/proc/" + std::to_string(pid) + "/" + name).c_str(), "rb")) {
    char buffer[4096];
    const size_t got = std::fread(buffer, 1, sizeof buffer, file);
    text.assign(buffer, got);
    std::fclose(file);
  }
  return text;
}

int parentOf(int pid) {
  const std::string line = procText(pid, "stat");
  // pid (name) state ppid ...: the name may hold blanks, so read after its closing parenthesis.
  const size_t close = line.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream rest(line.substr(close + 1));
  char state = 0;
  int parent = 0;
  rest >> state >> parent;
  return parent;
}

bool descendsFromUs(int pid) {
  const int self = getpid();
  for (int depth = 0; depth < 8 && pid > 1; ++depth) {
    pid = parentOf(pid);
    if (pid == self) return true;
  }
  return false;
}

}  // namespace

std::vector<int> processesBelowUs(const std::string& name) {
  std::vector<int> found;
  DIR* dir = opendir("/proc");
  if (dir == nullptr) return found;
  while (const dirent* entry = readdir(dir)) {
    const int pid = std::atoi(entry->d_name);
    if (pid <= 0) continue;
    if (procText(pid, "cmdline").find(name) != std::string::npos && descendsFromUs(pid)) found.push_back(pid);
  }
  closedir(dir);
  return found;
}

ProcessCounts processCounts() {
  return {entriesIn("/proc/self/task"), editorDescriptors(), static_cast<int>(webProcessIds().size())};
}

std::vector<unsigned long> windowPixels(const tavrin::host::HostWindow& window, int width, int height,
                                        int stride) {
  std::vector<unsigned long> values;
  XImage* image = XGetImage(window.display(), window.id(), 0, 0, static_cast<unsigned>(width),
                            static_cast<unsigned>(height), AllPlanes, ZPixmap);
  if (image == nullptr) return values;
  for (int y = 0; y < height; y += stride)
    for (int x = 0; x < width; x += stride) values.push_back(XGetPixel(image, x, y));
  XDestroyImage(image);
  return values;
}

bool pageDrawn(const tavrin::host::HostWindow& window) {
  constexpr size_t kPageColours = 16;
  // Every fourth pixel each way: the look takes a few milliseconds beside the opening times it measures.
  constexpr int kStride = 4;
  std::vector<unsigned long> values = windowPixels(window, kWindowWidth, kWindowHeight, kStride);
  std::sort(values.begin(), values.end());
  return static_cast<size_t>(std::unique(values.begin(), values.end()) - values.begin()) > kPageColours;
}

PageProbe::PageProbe() {
  path = "/tmp/tavrin-probe-" + std::to_string(getpid());
  unlink(path.c_str());
  listening = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
  if (bind(listening, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
      listen(listening, 8) == 0)
    setenv("TAVRIN_EDITOR_PROBE", path.c_str(), 1);
}

PageProbe::~PageProbe() {
  if (connection >= 0) close(connection);
  close(listening);
  unlink(path.c_str());
}

bool PageProbe::takeNewestConnection() {
  for (;;) {
    const int accepted = accept4(listening, nullptr, nullptr, SOCK_CLOEXEC);
    if (accepted < 0) break;
    if (connection >= 0) close(connection);
    connection = accepted;
  }
  return connection >= 0;
}

std::optional<std::string> PageProbe::evaluate(const std::string& script, const std::function<void()>& pump) {
  using namespace platform::frames;
  if (!takeNewestConnection()) return std::nullopt;
  const uint32_t id = ++lastId;
  const std::string frame = FrameWriter(Kind::evaluate).u32(id).text(script).finish();
  if (send(connection, frame.data(), frame.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(frame.size()))
    return std::nullopt;
  FrameReader reader;
  const auto deadline = Clock::now() + 5s;
  while (Clock::now() < deadline) {
    pump();
    pollfd readable{connection, POLLIN, 0};
    if (poll(&readable, 1, 16) <= 0) continue;
    char buffer[65536];
    const ssize_t got = recv(connection, buffer, sizeof buffer, 0);
    if (got <= 0 || !reader.feed(buffer, static_cast<size_t>(got))) return std::nullopt;
    while (const auto body = reader.next()) {
      FieldReader fields(*body);
      const uint32_t answered = fields.u32();
      const bool failed = fields.u8() != 0;
      std::string text = fields.text();
      if (fields.ok() && answered == id) return failed ? std::nullopt : std::optional<std::string>(text);
    }
  }
  return std::nullopt;
}

std::unique_ptr<tavrin::host::ClapModule> EditorWindow::module;
std::unique_ptr<PageProbe> EditorWindow::probe;

void EditorWindow::SetUpTestSuite() {
  probe = std::make_unique<PageProbe>();
  module = std::make_unique<tavrin::host::ClapModule>();
  ASSERT_TRUE(module->load(TAVRIN_MODULE_PATH)) << module->error();
}

void EditorWindow::SetUp() {
  if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "needs an X11 display (run under xvfb-run)";
  host = std::make_unique<tavrin::host::Host>();
  instance = std::make_unique<tavrin::host::PluginInstance>(module->factory(), *host, "com.nobrel.tavrin");
  ASSERT_TRUE(instance->init());
  gui = instance->extension<clap_plugin_gui>(CLAP_EXT_GUI);
  params = instance->extension<clap_plugin_params>(CLAP_EXT_PARAMS);
  ASSERT_NE(gui, nullptr);
  window = std::make_unique<tavrin::host::HostWindow>(kWindowWidth, kWindowHeight);
  ASSERT_TRUE(window->valid());
}

void EditorWindow::TearDown() {
  instance.reset();
  window.reset();
}

bool EditorWindow::open() {
  if (!gui->create(plugin(), CLAP_WINDOW_API_X11, false)) return false;
  // The host sizes its window as the editor asks.
  uint32_t width = 0;
  uint32_t height = 0;
  if (!gui->get_size(plugin(), &width, &height)) return false;
  window->resize(static_cast<int>(width), static_cast<int>(height));
  clap_window record{};
  record.api = CLAP_WINDOW_API_X11;
  record.x11 = window->id();
  return gui->set_parent(plugin(), &record) && gui->show(plugin());
}

std::chrono::nanoseconds EditorWindow::tick() {
  const auto start = Clock::now();
  if (host->takeCallbackRequest()) instance->onMainThread();
  return Clock::now() - start;
}

bool EditorWindow::pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (!done()) {
    if (Clock::now() > deadline) return false;
    tick();
    std::this_thread::sleep_for(16ms);
  }
  return true;
}

void EditorWindow::pumpFor(std::chrono::milliseconds time) {
  const auto end = Clock::now() + time;
  pumpUntil([&] { return Clock::now() >= end; }, time + 1s);
}

std::optional<std::string> EditorWindow::evaluate(const std::string& script) {
  return probe->evaluate(script, [this] { tick(); });
}

bool EditorWindow::pageShows(const std::string& condition) {
  return evaluate("String(!!(" + condition + "))") == "true";
}

double EditorWindow::paramValue(clap_id id) {
  double value = -1.0;
  EXPECT_TRUE(params->get_value(plugin(), id, &value));
  return value;
}

int EditorWindow::openMarkedEditor() {
  if (!open() || !pumpUntil([&] { return pageShows("window.mlibSetParam"); }) ||
      !evaluate("window.probe = 1"))
    return 0;
  const std::vector<int> helpers = processesBelowUs("tavrin-editor");
  return helpers.size() == 1 ? helpers[0] : 0;
}

}  // namespace gui_test
