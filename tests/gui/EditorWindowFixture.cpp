#include "EditorWindowFixture.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string_view>
#include <thread>

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

std::vector<int> webProcessIds() {
  std::vector<int> found;
  DIR* dir = opendir("/proc");
  if (dir == nullptr) return found;
  while (const dirent* entry = readdir(dir)) {
    const int pid = std::atoi(entry->d_name);
    if (pid <= 0) continue;
    if (procText(pid, "cmdline").find("WebKitWebProcess") != std::string::npos && descendsFromUs(pid))
      found.push_back(pid);
  }
  closedir(dir);
  return found;
}

ProcessCounts processCounts() {
  return {entriesIn("/proc/self/task"), editorDescriptors(), static_cast<int>(webProcessIds().size())};
}

std::vector<WebKitWebView*> pageViews() {
  std::vector<WebKitWebView*> views;
  GList* windows = gtk_window_list_toplevels();
  for (GList* item = windows; item != nullptr; item = item->next) {
    GtkWidget* child = gtk_bin_get_child(GTK_BIN(item->data));
    if (child != nullptr && WEBKIT_IS_WEB_VIEW(child)) views.push_back(WEBKIT_WEB_VIEW(child));
  }
  g_list_free(windows);
  return views;
}

std::unique_ptr<tavrin::host::ClapModule> EditorWindow::module;

void EditorWindow::SetUpTestSuite() {
  // Under Xvfb the content process draws with software GL: without compositing a tick costs half.
  setenv("WEBKIT_DISABLE_COMPOSITING_MODE", "1", 0);
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
  instance->fireTimers(*host);
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
  const std::vector<WebKitWebView*> views = pageViews();
  if (views.size() != 1) return std::nullopt;
  // The answer outlives this call when the page never answers.
  struct Answer {
    bool done = false;
    std::optional<std::string> text;
  };
  auto answer = std::make_shared<Answer>();
  webkit_web_view_evaluate_javascript(
      views[0], script.c_str(), -1, nullptr, nullptr, nullptr,
      [](GObject* source, GAsyncResult* result, gpointer data) {
        const std::unique_ptr<std::shared_ptr<Answer>> held(static_cast<std::shared_ptr<Answer>*>(data));
        Answer& out = **held;
        GError* error = nullptr;
        if (JSCValue* value =
                webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, &error)) {
          char* text = jsc_value_to_string(value);
          out.text = text;
          g_free(text);
          g_object_unref(value);
        }
        if (error != nullptr) g_error_free(error);
        out.done = true;
      },
      new std::shared_ptr<Answer>(answer));
  pumpUntil([&] { return answer->done; }, 5s);
  return answer->text;
}

bool EditorWindow::pageShows(const std::string& condition) {
  return evaluate("String(!!(" + condition + "))") == "true";
}

double EditorWindow::paramValue(clap_id id) {
  double value = -1.0;
  EXPECT_TRUE(params->get_value(plugin(), id, &value));
  return value;
}

}  // namespace gui_test
