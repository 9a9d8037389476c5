// The dispatcher of the editor bridge: the message table, tested from top to bottom, first match wins.
#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "editor/BridgeFiles.h"
#include "editor/MessageValues.h"
#include "editor/MlibMessageHandler.h"
#include "editor/MlibWebView.h"
#include "editor/PercentEncode.h"
#include "editor/PluginEditor.h"
#include "engine/SeqLane.h"
#include "platform/Desktop.h"
#include "platform/DispatchQueue.h"
#include "platform/PlatformFiles.h"
#include "state/PresetLibrary.h"
#include "state/TextScan.h"
#include "tuning/LocalTuning.h"
#include "tuning/RatioSelection.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kPresetFileExtension = "nobrel";
constexpr const char* kDefaultExportName = "preset.nobrel";
constexpr const char* kKitFileExtension = "tkit";
constexpr const char* kDefaultKitName = "Kit.tkit";
constexpr int kMaxTies = kSeqSteps;
// The steps a message may carry; the engine keeps the first kSeqSteps of them.
constexpr int kMaxSteps = 64;
static_assert(kMaxSteps >= kSeqSteps);
constexpr int kMaxRatioPairs = RatioSelection::kMaxPairs;
constexpr double kDefaultTuningPeriod = 2.0;
constexpr size_t kSlotSnapPrefixLength = 11;   // "__slotSnap_"
constexpr size_t kSlotClearPrefixLength = 12;  // "__slotClear_"

struct Message {
  platform::WebView& webView;
  PluginEditor* editor;
  std::string_view name;
  const cJSON* body;
  const cJSON* value;
};

// The editor's slot when the editor is set and the slot holds a callable, else null.
template <typename Slot>
const Slot* slot(const Message& message, Slot PluginEditor::*member) {
  if (message.editor == nullptr || !(message.editor->*member)) return nullptr;
  return &(message.editor->*member);
}

fs::path libraryBase() {
  return presetsBasePath();
}

std::string withText(const char* function, const std::string& text) {
  return std::string("if(window.") + function + ") window." + function + "(decodeURIComponent('" +
         tavrinPercentEncode(text) + "'));";
}

std::string withJson(const char* function, const std::string& json) {
  return std::string("if(window.") + function + ") window." + function + "(" + json + ");";
}

std::string utf8OrEmpty(const std::string& text) {
  return isValidUtf8(text) ? text : std::string();
}

// Tells the page what a file operation it asked for came to: mlibFileResult({op, path, ok, reason}).
void answerFileResult(platform::WebView& webView, const char* op, const FileOutcome& outcome) {
  const JsonTree result(cJSON_CreateObject());
  cJSON_AddStringToObject(result.get(), "op", op);
  cJSON_AddStringToObject(result.get(), "path", utf8OrEmpty(outcome.path).c_str());
  cJSON_AddBoolToObject(result.get(), "ok", outcome.ok);
  cJSON_AddStringToObject(result.get(), "reason", utf8OrEmpty(outcome.reason).c_str());
  const std::unique_ptr<char, decltype(&cJSON_free)> text(cJSON_PrintUnformatted(result.get()), cJSON_free);
  if (text) webView.evaluateJavaScript(withJson("mlibFileResult", text.get()));
}

std::shared_ptr<platform::WebView> retained(platform::WebView& webView) {
  return std::static_pointer_cast<platform::WebView>(webView.shared_from_this());
}

// A member's string; fallback when it is absent; a member of another kind is a wrong message.
std::string memberText(const cJSON* object, const char* key, const char* fallback) {
  const cJSON* item = cJSON_GetObjectItemCaseSensitive(object, key);
  if (item == nullptr) return fallback;
  if (const char* text = stringValue(item)) return text;
  throw MessageError("TypeError", std::string("member ") + key + " is not a string");
}

// The object a value holds as JSON text; a value of another kind is a wrong message.
JsonTree objectText(const cJSON* value) {
  JsonTree tree = parseJsonText(value);
  if (tree && !cJSON_IsObject(tree.get())) throw MessageError("TypeError", "value is not a JSON object");
  return tree;
}

int laneDigit(std::string_view name) {
  return name.back() - '0';
}

void keyboard(const Message& m) {
  auto* view = dynamic_cast<MlibWebView*>(&m.webView);
  if (view == nullptr) return;
  view->wantsKeyboard = !isNullValue(m.value) && numericValue(m.value) != 0.0;
  view->setKeyboardFocus(view->wantsKeyboard);
  if (view->wantsKeyboard) return;
  if (platform::Window* window = view->window(); window != nullptr && view->superview() != nullptr)
    window->makeFirstResponder(view->superview());
}

// Panels open in the library's User folder (the window system may prefer the folder used last).
std::string userPresetsFolder() {
  const std::string base = presetsBasePath();
  return base.empty() ? base : base + "/" + kUserFolder;
}

void exportPreset(const Message& m) {
  const JsonTree request = objectText(m.value);
  if (!request) return;
  std::string filename = memberText(request.get(), "filename", kDefaultExportName);
  std::string content = memberText(request.get(), "content", "");
  platform::mainQueue().async(
      [filename = std::move(filename), content = std::move(content), view = retained(m.webView)] {
        platform::runPanel({platform::PanelRequest::Kind::save, filename, kPresetFileExtension,
                            [content, view](bool confirmed, const std::string& path) {
                              if (!confirmed || path.empty()) return;
                              std::error_code error;
                              writeFileAtomically(path, content, error);
                              answerFileResult(*view, "exportNobrel",
                                               bridge_files::fileOutcome("export the preset", path, error));
                            },
                            userPresetsFolder()});
      });
}

void importPreset(const Message& m) {
  platform::mainQueue().async([view = retained(m.webView)] {
    platform::runPanel({platform::PanelRequest::Kind::open, "", kPresetFileExtension,
                        [view](bool confirmed, const std::string& path) {
                          if (!confirmed || path.empty()) return;
                          const FileRead read = bridge_files::readUtf8File(path);
                          if (read.bytes)
                            view->evaluateJavaScript(withText("mlibImportNobrel", *read.bytes));
                          else
                            answerFileResult(*view, "importNobrel",
                                             bridge_files::loadFailure("import the file", path, read.reason));
                        },
                        userPresetsFolder()});
  });
}

void listPresets(const Message& m) {
  platform::backgroundAsync([base = libraryBase(), view = retained(m.webView)]() mutable {
    std::string list = bridge_files::presetListJson(base);
    // The web view travels on to the main queue: it is never released on this thread.
    platform::mainQueue().async([list = std::move(list), view = std::move(view)] {
      view->evaluateJavaScript(withJson("mlibPresetList", list));
    });
  });
}

void readPreset(const Message& m) {
  const char* path = stringValue(m.value);
  if (path == nullptr) return;
  if (const auto text = bridge_files::readPreset(libraryBase(), path))
    m.webView.evaluateJavaScript(withText("mlibPresetContent", *text));
}

void savePreset(const Message& m) {
  const JsonTree request = objectText(m.value);
  if (!request) return;
  const cJSON* path = cJSON_GetObjectItemCaseSensitive(request.get(), "path");
  const cJSON* content = cJSON_GetObjectItemCaseSensitive(request.get(), "content");
  if (path == nullptr || content == nullptr) return;
  answerFileResult(m.webView, "savePreset",
                   bridge_files::savePreset(libraryBase(), memberText(request.get(), "path", ""),
                                            memberText(request.get(), "content", "")));
}

void deletePreset(const Message& m) {
  if (const char* path = stringValue(m.value))
    answerFileResult(m.webView, "deletePreset", bridge_files::deletePreset(libraryBase(), path));
}

void listTunings(const Message& m) {
  const std::string list = bridge_files::tuningListJson(libraryBase());
  if (m.editor != nullptr) m.editor->evaluateJS(withJson("mlibTuningFileList", list).c_str());
}

void loadTuning(const Message& m) {
  JsonTree parsed;
  const cJSON* request = m.value;
  if (!cJSON_IsObject(request)) {
    parsed = parseJsonText(m.value);
    request = parsed.get();
    if (!cJSON_IsObject(request)) return;
  }
  const char* name = stringValue(cJSON_GetObjectItemCaseSensitive(request, "name"));
  if (name == nullptr || name[0] == '\0') return;
  const auto callback = slot(m, &PluginEditor::onLoadTuning);
  if (callback == nullptr) return;
  const auto target = bridge_files::tuningPath(libraryBase(), name);
  if (!target)
    return answerFileResult(m.webView, "loadTuning", bridge_files::refusedPath("load the tuning", name));
  std::string reason;
  const auto file = bridge_files::readTuning(libraryBase(), name, reason);
  if (file && (*callback)(file->stem.c_str(), file->bytes.data(), file->bytes.size()))
    return answerFileResult(m.webView, "loadTuning", {true, target->string(), ""});
  answerFileResult(
      m.webView, "loadTuning",
      bridge_files::loadFailure("load the tuning", *target, file ? "not a Scala tuning" : reason));
}

void clearTuning(const Message& m) {
  if (const auto callback = slot(m, &PluginEditor::onClearTuning)) (*callback)();
}

void tuningEmbed(const Message& m) {
  const JsonTree tuning = parseJsonText(m.value);
  if (!cJSON_IsObject(tuning.get())) return;
  const cJSON* intervals = cJSON_GetObjectItemCaseSensitive(tuning.get(), "intervals");
  if (!cJSON_IsArray(intervals)) return;
  const int count = cJSON_GetArraySize(intervals);
  if (count < 1 || count > kMaxTuningIntervals) return;
  std::array<double, kMaxTuningIntervals> ratios{};
  for (int i = 0; i < count; ++i) {
    const cJSON* entry = cJSON_GetArrayItem(intervals, i);
    if (!isNumberValue(entry)) return;
    ratios[static_cast<size_t>(i)] = numericValue(entry);
  }
  const cJSON* period = cJSON_GetObjectItemCaseSensitive(tuning.get(), "period");
  const char* name = stringValue(cJSON_GetObjectItemCaseSensitive(tuning.get(), "name"));
  const cJSON* labels = cJSON_GetObjectItemCaseSensitive(tuning.get(), "labels");
  std::vector<const char*> labelTexts;
  if (cJSON_IsArray(labels) && cJSON_GetArraySize(labels) == count)
    for (int i = 0; i < count; ++i) {
      const char* label = stringValue(cJSON_GetArrayItem(labels, i));
      labelTexts.push_back(label != nullptr ? label : "");
    }
  if (const auto callback = slot(m, &PluginEditor::onTuningEmbed))
    (*callback)(name != nullptr ? name : "",
                isNumberValue(period) ? numericValue(period) : kDefaultTuningPeriod, ratios.data(), count,
                labelTexts.empty() ? nullptr : labelTexts.data());
}

void openPresetsFolder(const Message&) {
  const fs::path base = libraryBase();
  if (base.is_absolute()) platform::openFolderInFileBrowser((base / "").string());
}

void seqTies(const Message& m) {
  const auto callback = slot(m, &PluginEditor::onSeqTies);
  if (callback == nullptr) return;
  const JsonTree list = parseJsonText(m.value);
  if (!cJSON_IsArray(list.get())) return;
  const int count = std::min(cJSON_GetArraySize(list.get()), kMaxTies);
  std::array<unsigned char, kMaxTies> ties{};
  for (int i = 0; i < count; ++i) {
    const cJSON* entry = cJSON_GetArrayItem(list.get(), i);
    ties[static_cast<size_t>(i)] = isNumberValue(entry) && integerValue(numericValue(entry)) != 0 ? 1 : 0;
  }
  (*callback)(laneDigit(m.name), ties.data(), count);
}

void seqSteps(const Message& m) {
  const auto callback = slot(m, &PluginEditor::onSeqSteps);
  if (callback == nullptr) return;
  const JsonTree list = parseJsonText(m.value);
  if (!cJSON_IsArray(list.get())) return;
  const int count = std::min(cJSON_GetArraySize(list.get()), kMaxSteps);
  std::array<float, kMaxSteps> steps{};
  for (int i = 0; i < count; ++i)
    steps[static_cast<size_t>(i)] = floatValue(numericValue(cJSON_GetArrayItem(list.get(), i)));
  (*callback)(laneDigit(m.name), steps.data(), count);
}

void ratioSelection(const Message& m) {
  const auto callback = slot(m, &PluginEditor::onRatioSelection);
  if (callback == nullptr) return;
  const JsonTree list = parseJsonText(m.value);
  if (!cJSON_IsArray(list.get())) return;
  std::array<int, kMaxRatioPairs> degrees{};
  std::array<int, kMaxRatioPairs> octaves{};
  int count = 0;
  const int looked = std::min(cJSON_GetArraySize(list.get()), kMaxRatioPairs);
  for (int i = 0; i < looked; ++i) {
    const cJSON* pair = cJSON_GetArrayItem(list.get(), i);
    if (!cJSON_IsArray(pair) || cJSON_GetArraySize(pair) < 2) continue;
    const cJSON* degree = cJSON_GetArrayItem(pair, 0);
    const cJSON* octave = cJSON_GetArrayItem(pair, 1);
    if (!isNumberValue(degree) || !isNumberValue(octave)) continue;
    degrees[static_cast<size_t>(count)] = integerValue(numericValue(degree));
    octaves[static_cast<size_t>(count)] = integerValue(numericValue(octave));
    ++count;
  }
  (*callback)(degrees.data(), octaves.data(), count);
}

void uiState(const Message& m) {
  const char* json = stringValue(m.value);
  const auto callback = slot(m, &PluginEditor::onUIState);
  if (json != nullptr && callback != nullptr) (*callback)(json);
}

void snapshot(const Message& m) {
  const char* json = stringValue(m.value);
  const auto callback = slot(m, &PluginEditor::onSnapshot);
  if (json != nullptr && callback != nullptr) (*callback)(m.name.back() == 'B' ? 1 : 0, json);
}

void snapshotClear(const Message& m) {
  if (const auto callback = slot(m, &PluginEditor::onSnapshotClear))
    (*callback)(m.name.back() == 'B' ? 1 : 0);
}

void slotSnap(const Message& m) {
  const char* json = stringValue(m.value);
  const auto callback = slot(m, &PluginEditor::onSlotSnap);
  if (json == nullptr || callback == nullptr) return;
  const cJSON* note = cJSON_GetObjectItemCaseSensitive(m.body, "note");
  (*callback)(leadingInteger(m.name.substr(kSlotSnapPrefixLength)),
              isNumberValue(note) ? integerValue(numericValue(note)) : -1, json);
}

void slotClear(const Message& m) {
  if (const auto callback = slot(m, &PluginEditor::onSlotClear))
    (*callback)(leadingInteger(m.name.substr(kSlotClearPrefixLength)));
}

// Saves (op 0) or loads (op 1) the kit file at a path inside the User folder, and tells the page how
// that went; other paths are refused.
void kitFileAt(platform::WebView& webView, PluginEditor* editor, int op, std::string_view path) {
  if (editor == nullptr || !editor->onKitFile) return;
  const char* name = op == 0 ? "saveKit" : "loadKit";
  const auto target = bridge_files::kitFilePath(libraryBase(), path);
  answerFileResult(webView, name,
                   target ? editor->onKitFile(op, target->c_str())
                          : bridge_files::refusedPath(op == 0 ? "save the kit" : "load the kit", path));
}

void kitFile(const Message& m) {
  if (const char* path = stringValue(m.value))
    kitFileAt(m.webView, m.editor, m.name == "__loadKit" ? 1 : 0, path);
}

// A save or open panel for kit files in the User folder; the chosen file is then saved or loaded as
// "__saveKit" and "__loadKit" do. The answer may come after the editor closed: the editor is reached
// through the web view's handler, which closing removes.
void kitFilePanel(const Message& m) {
  const bool load = m.name == "__loadKitPanel";
  platform::mainQueue().async([view = retained(m.webView), load] {
    platform::runPanel(
        {load ? platform::PanelRequest::Kind::open : platform::PanelRequest::Kind::save,
         load ? "" : kDefaultKitName, kKitFileExtension,
         [view, load](bool confirmed, const std::string& path) {
           if (!confirmed || path.empty()) return;
           const auto handler = std::dynamic_pointer_cast<MlibMessageHandler>(
               view->configuration().userContentController->handler(MlibMessageHandler::kHandlerName));
           if (handler) kitFileAt(*view, handler->editor, load ? 1 : 0, path);
         },
         bridge_files::kitFolder(libraryBase()).string()});
  });
}

// Rows 16 and 23: a number for the set-value slot. "__ready" first makes the next push resend everything.
void setValue(const Message& m) {
  const auto callback = slot(m, &PluginEditor::onSetValue);
  if (callback == nullptr || isNullValue(m.value)) return;
  const double value = numericValue(m.value);
  if (m.name == "__ready") m.editor->resetPushMirrorsForReady();
  (*callback)(std::string(m.name).c_str(), value);
}

struct Route {
  const char* name;
  bool prefix;
  void (*handle)(const Message&);
};

constexpr Route kRoutes[] = {
    {"__keyboard", false, keyboard},
    {"__exportNobrel", false, exportPreset},
    {"__importNobrel", false, importPreset},
    {"__listPresets", false, listPresets},
    {"__readPreset", false, readPreset},
    {"__savePreset", false, savePreset},
    {"__deletePreset", false, deletePreset},
    {"__listTunings", false, listTunings},
    {"__loadTuning", false, loadTuning},
    {"__clearTuning", false, clearTuning},
    {"__tuningEmbed", false, tuningEmbed},
    {"__openPresetsFolder", false, openPresetsFolder},
    {"__seqTies_0", false, seqTies},
    {"__seqTies_1", false, seqTies},
    {"__seqSteps_0", false, seqSteps},
    {"__seqSteps_1", false, seqSteps},
    {"__seqSteps_2", false, seqSteps},
    {"__ratioSelection", false, ratioSelection},
    {"__seqTriggerKey", true, setValue},
    {"__uiState", false, uiState},
    {"__snapshotA", false, snapshot},
    {"__snapshotB", false, snapshot},
    {"__snapshotClear_A", false, snapshotClear},
    {"__snapshotClear_B", false, snapshotClear},
    {"__slotSnap_", true, slotSnap},
    {"__slotClear_", true, slotClear},
    {"__saveKit", false, kitFile},
    {"__loadKit", false, kitFile},
    {"__saveKitPanel", false, kitFilePanel},
    {"__loadKitPanel", false, kitFilePanel},
};

bool matches(const Route& route, std::string_view name) {
  return route.prefix ? name.starts_with(route.name) : name == route.name;
}

}  // namespace

void MlibMessageHandler::handleScriptMessage(platform::WebView& webView, const cJSON* body) {
  if (!cJSON_IsObject(body)) return;
  const cJSON* nameItem = cJSON_GetObjectItemCaseSensitive(body, "name");
  if (isNullValue(nameItem)) return;
  const char* name = stringValue(nameItem);
  if (name == nullptr) throw MessageError("TypeError", "message name is not a string");
  const Message message{webView, editor, name, body, cJSON_GetObjectItemCaseSensitive(body, "value")};
  for (const Route& route : kRoutes)
    if (matches(route, message.name)) return route.handle(message);
  setValue(message);
}
