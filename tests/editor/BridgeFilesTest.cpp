// The bridge's file work: preset lists, reads, saves and deletes inside the library, tunings, kit paths,
// the import and export panels, and every way a document path could leave the library.

#include <cjson/cJSON.h>

#include <chrono>

#include "EditorFixture.h"
#include "editor/PercentEncode.h"
#include "platform/FileReader.h"
#include "state/JsonTree.h"
#include "tests/platform/HostileFiles.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class BridgeFiles : public EditorTest {
protected:
  BridgeFiles() { open(); }

  // Asks for the preset list and waits for the answer; the preset entries as compact JSON, in list order.
  std::vector<std::string> presetList() {
    view().clearScripts();
    post("__listPresets", "null");
    EXPECT_TRUE(
        platform::mainQueue().runUntil([&] { return !view().scripts().empty(); }, std::chrono::seconds(10)));
    if (view().scripts().empty()) return {};
    const std::string& script = view().scripts().back();
    const std::string head = "if(window.mlibPresetList) window.mlibPresetList(";
    EXPECT_EQ(script.rfind(head, 0), 0u);
    EXPECT_EQ(script.substr(script.size() - 2), ");");
    const std::string json = script.substr(head.size(), script.size() - head.size() - 2);
    const JsonTree list(cJSON_Parse(json.c_str()));
    std::vector<std::string> entries;
    const cJSON* item = nullptr;
    cJSON_ArrayForEach(item, list.get()) {
      char* text = cJSON_PrintUnformatted(item);
      entries.push_back(text);
      cJSON_free(text);
    }
    return entries;
  }

  static std::string resultScript(const std::string& op, const std::string& path, bool ok,
                                  const std::string& reason) {
    return "if(window.mlibFileResult) window.mlibFileResult({\"op\":\"" + op + "\",\"path\":\"" + path +
           "\",\"ok\":" + (ok ? "true" : "false") + ",\"reason\":\"" + reason + "\"});";
  }

  std::string contentScript(const std::string& text) {
    return "if(window.mlibPresetContent) window.mlibPresetContent(decodeURIComponent('" +
           tavrinPercentEncode(text) + "'));";
  }
};

TEST_F(BridgeFiles, TheEmptyLibraryListsNoPresets) {
  EXPECT_TRUE(presetList().empty());
  EXPECT_EQ(view().scripts().back(), "if(window.mlibPresetList) window.mlibPresetList([]);");
}

TEST_F(BridgeFiles, PresetListsCarryBothSectionsWithTheirCategories) {
  writeFile(base / "Factory/Bass/Deep.nobrel", "{}");
  writeFile(base / "Factory/Lead.nobrel", "{}");
  writeFile(base / "Factory/Loud.NOBREL", "{}");
  writeFile(base / "User/Mine/Pads/Air.nobrel", "{}");
  writeFile(base / "User/notes.txt", "x");
  fs::create_directories(base / "User/folder.nobrel");
  const std::string factory = (base / "Factory").string();
  const std::string user = (base / "User").string();
  std::vector<std::string> entries = presetList();
  ASSERT_EQ(entries.size(), 3u);
  // Factory first, then User; within a section the walk's order.
  std::sort(entries.begin(), entries.begin() + 2);
  EXPECT_THAT(
      entries,
      ElementsAre("{\"name\":\"Deep\",\"path\":\"" + factory +
                      "/Bass/Deep.nobrel\",\"category\":\"Bass\",\"isFactory\":true,\"section\":\"Factory\"}",
                  "{\"name\":\"Lead\",\"path\":\"" + factory +
                      "/Lead.nobrel\",\"category\":\"Factory\",\"isFactory\":true,\"section\":\"Factory\"}",
                  "{\"name\":\"Air\",\"path\":\"" + user +
                      "/Mine/Pads/Air.nobrel\",\"category\":\"Mine/Pads\",\"isFactory\":false,\"section\":"
                      "\"User\"}"));
}

TEST_F(BridgeFiles, PresetsAreReadFromEitherSectionOnly) {
  writeFile(base / "Factory/A.nobrel", "factory 'text' \xC3\xA9");
  writeFile(base / "User/B.nobrel", "user");
  writeFile(base / "Tunings/x.scl", "tuning");
  writeFile(folder.path / "secret.txt", "secret");
  writeFile(base / "User/bad.nobrel", "\xFF\xFE");
  post("__readPreset", quoted((base / "Factory/A.nobrel").string()));
  post("__readPreset", quoted("User/B.nobrel"));
  post("__readPreset", quoted((base / "Tunings/x.scl").string()));
  post("__readPreset", quoted((folder.path / "secret.txt").string()));
  post("__readPreset", quoted("User/../../../../secret.txt"));
  post("__readPreset", quoted("/etc/passwd"));
  post("__readPreset", quoted("User/bad.nobrel"));
  post("__readPreset", quoted("User/missing.nobrel"));
  // Files that cannot be presets are refused at once: a named pipe, and more than the limit.
  ASSERT_TRUE(makeNamedPipe(base / "User/pipe.nobrel"));
  writeFile(base / "User/big.nobrel", std::string(kMaxReadFileBytes + 1, ' '));
  for (const char* refused : {"User/pipe.nobrel", "User/big.nobrel"})
    EXPECT_TRUE(
        returnsBeforeTheWatch(base / "User/pipe.nobrel", [&] { post("__readPreset", quoted(refused)); }));
  EXPECT_THAT(view().scripts(), ElementsAre(contentScript("factory 'text' \xC3\xA9"), contentScript("user")));
}

TEST_F(BridgeFiles, SavesLandInsideTheUserFolderOnly) {
  const std::string content = "{\"name\":\"x\"}";
  auto save = [&](const std::string& path) {
    post("__savePreset", quoted("{\"path\":" + quoted(path) + ",\"content\":" + quoted(content) + "}"));
  };
  save("User/New/Sub/one.nobrel");
  save((base / "User/two.nobrel").string());
  save("User/../Factory/three.nobrel");
  save("User/New/../../Factory/four.nobrel");
  save("Factory/five.nobrel");
  save((folder.path / "six.nobrel").string());
  save("User");
  save("");
  EXPECT_EQ(readFile(base / "User/New/Sub/one.nobrel"), content);
  EXPECT_EQ(readFile(base / "User/two.nobrel"), content);
  EXPECT_FALSE(fs::exists(base / "Factory/three.nobrel"));
  EXPECT_FALSE(fs::exists(base / "Factory/four.nobrel"));
  EXPECT_FALSE(fs::exists(base / "Factory/five.nobrel"));
  EXPECT_FALSE(fs::exists(folder.path / "six.nobrel"));
  EXPECT_TRUE(fs::is_directory(base / "User"));

  // Requests without a path or content are dropped; an existing preset is replaced whole.
  post("__savePreset", quoted("{\"path\":\"User/two.nobrel\"}"));
  post("__savePreset", quoted("{\"content\":\"y\"}"));
  post("__savePreset", "{\"path\":\"User/two.nobrel\",\"content\":\"y\"}");
  EXPECT_EQ(readFile(base / "User/two.nobrel"), content);
  post("__savePreset", quoted("{\"path\":\"User/two.nobrel\",\"content\":\"y\"}"));
  EXPECT_EQ(readFile(base / "User/two.nobrel"), "y");
}

TEST_F(BridgeFiles, ALinkOutOfTheUserFolderIsNotFollowed) {
  fs::create_directories(folder.path / "elsewhere");
  fs::create_directory_symlink(folder.path / "elsewhere", base / "User/link");
  post("__savePreset", quoted("{\"path\":\"User/link/x.nobrel\",\"content\":\"y\"}"));
  EXPECT_FALSE(fs::exists(folder.path / "elsewhere/x.nobrel"));
  writeFile(folder.path / "elsewhere/keep.nobrel", "keep");
  post("__deletePreset", quoted("User/link/keep.nobrel"));
  EXPECT_TRUE(fs::exists(folder.path / "elsewhere/keep.nobrel"));
}

TEST_F(BridgeFiles, DeletesRemoveItemsInsideTheUserFolderOnly) {
  writeFile(base / "User/a.nobrel", "a");
  writeFile(base / "User/Folder/b.nobrel", "b");
  writeFile(base / "User/Notes/b.nobrel", "b");
  writeFile(base / "User/Notes/Deeper/c.nobrel", "c");
  writeFile(base / "User/Notes/readme.txt", "not a preset");
  writeFile(base / "Factory/c.nobrel", "c");
  post("__deletePreset", quoted((base / "User/a.nobrel").string()));
  post("__deletePreset", quoted("User/Folder"));
  post("__deletePreset", quoted("User/Notes"));
  post("__deletePreset", quoted("User"));
  post("__deletePreset", quoted((base / "User").string() + "/"));
  post("__deletePreset", quoted("User/../Factory/c.nobrel"));
  post("__deletePreset", quoted((base / "Factory/c.nobrel").string()));
  post("__deletePreset", quoted(base.string()));
  EXPECT_FALSE(fs::exists(base / "User/a.nobrel"));
  EXPECT_FALSE(fs::exists(base / "User/Folder"));
  // A folder keeps what is not a preset, and so is not left empty.
  EXPECT_EQ(readFile(base / "User/Notes/readme.txt"), "not a preset");
  EXPECT_FALSE(fs::exists(base / "User/Notes/b.nobrel"));
  EXPECT_FALSE(fs::exists(base / "User/Notes/Deeper"));
  EXPECT_TRUE(fs::is_directory(base / "User"));
  EXPECT_TRUE(fs::exists(base / "Factory/c.nobrel"));
}

TEST_F(BridgeFiles, EveryFileOperationThePageAskedForIsAnsweredAndEveryFailureLogged) {
  const std::string user = (base / "User").string();
  writeFile(base / "Tunings/Bad.scl", "");
  writeFile(base / "User/a.nobrel", "a");
  post("__savePreset", quoted("{\"path\":\"User/ok.nobrel\",\"content\":\"y\"}"));
  post("__savePreset", quoted("{\"path\":\"Factory/no.nobrel\",\"content\":\"y\"}"));
  post("__deletePreset", quoted("User/a.nobrel"));
  post("__deletePreset", quoted("User/gone.nobrel"));
  post("__loadTuning", quoted("{\"name\":\"Missing\"}"));
  post("__loadKit", quoted("Factory/kit.tkit"));
  {
    // A full disk: nothing past the first byte can be written.
    const ScopedFileSizeLimit full(0);
    post("__savePreset", quoted("{\"path\":\"User/full.nobrel\",\"content\":\"y\"}"));
  }
  const char* refusal = "not a place in the library it may use";
  EXPECT_THAT(
      view().scripts(),
      ElementsAre(resultScript("savePreset", user + "/ok.nobrel", true, ""),
                  resultScript("savePreset", "Factory/no.nobrel", false, refusal),
                  resultScript("deletePreset", user + "/a.nobrel", true, ""),
                  resultScript("deletePreset", user + "/gone.nobrel", false, "No such file or directory"),
                  resultScript("loadTuning", (base / "Tunings/Missing.scl").string(), false,
                               "No such file or directory"),
                  resultScript("loadKit", "Factory/kit.tkit", false, refusal),
                  resultScript("savePreset", user + "/full.nobrel", false, "File too large")));
  EXPECT_FALSE(fs::exists(base / "User/full.nobrel"));
  EXPECT_EQ(platformScope.logLines.size(), 5u);
  EXPECT_EQ(platformScope.logLines.back(),
            "tavrin: could not save the preset \"" + user + "/full.nobrel\": File too large");
}

TEST_F(BridgeFiles, TuningListsHoldScalaStemsInCaseInsensitiveOrder) {
  writeFile(base / "Tunings/beta.scl", "");
  writeFile(base / "Tunings/Alpha.SCL", "");
  writeFile(base / "Tunings/gamma.tun", "");
  writeFile(base / "Tunings/Sub/delta.scl", "");
  post("__listTunings", "null");
  EXPECT_THAT(view().scripts(),
              ElementsAre("if(window.mlibTuningFileList) window.mlibTuningFileList([\"Alpha\",\"beta\"]);"));
}

TEST_F(BridgeFiles, TuningsLoadByStemFromTheTuningsFolderOnly) {
  writeFile(base / "Tunings/Pythagorean.scl", "! pyth\n12\n");
  writeFile(base / "Tunings/Sub/inner.scl", "inner");
  writeFile(base / "User/outside.scl", "outside");
  // The limit of a project's tuning file holds here too.
  writeFile(base / "Tunings/big.scl", "! big\n12\n" + std::string(kMaxReadFileBytes, '!'));
  post("__loadTuning", quoted("{\"name\":\"big\"}"));
  post("__loadTuning", quoted("{\"name\":\"Pythagorean.SCL\"}"));
  post("__loadTuning", "{\"name\":\"Pythagorean\"}");
  post("__loadTuning", quoted("{\"name\":\"../User/outside\"}"));
  post("__loadTuning", quoted("{\"name\":\"Sub/inner\"}"));
  post("__loadTuning", quoted("{\"name\":\"missing\"}"));
  post("__loadTuning", quoted("{\"name\":\"\"}"));
  post("__loadTuning", quoted("{\"name\":3}"));
  post("__loadTuning", quoted("[\"Pythagorean\"]"));
  post("__loadTuning", quoted("Pythagorean"));
  EXPECT_THAT(slots.calls,
              ElementsAre("loadTuning Pythagorean ! pyth\n12\n", "loadTuning Pythagorean ! pyth\n12\n"));
}

TEST_F(BridgeFiles, KitPathsStayInsideTheUserFolder) {
  post("__saveKit", quoted("User/kit.tkit"));
  post("__loadKit", quoted((base / "User/Kits/a.tkit").string()));
  post("__saveKit", quoted("../kit.tkit"));
  post("__saveKit", quoted("/tmp/kit.tkit"));
  post("__loadKit", quoted(".factory-bank"));
  EXPECT_THAT(slots.calls, ElementsAre("kitFile 0 " + (base / "User/kit.tkit").string(),
                                       "kitFile 1 " + (base / "User/Kits/a.tkit").string()));
}

TEST_F(BridgeFiles, KitPanelsOpenInTheUserFolderAndActOnAChosenFileInside) {
  post("__saveKitPanel", "1");
  post("__loadKitPanel", "1");
  post("__loadKitPanel", "1");
  platform::mainQueue().runPending();
  ASSERT_EQ(platform::pendingPanels().size(), 3u);
  const platform::PanelRequest& save = platform::pendingPanels()[0];
  EXPECT_EQ(save.kind, platform::PanelRequest::Kind::save);
  EXPECT_EQ(save.suggestedName, "Kit.tkit");
  EXPECT_EQ(save.allowedExtension, "tkit");
  EXPECT_EQ(save.folder, (base / "User").string());
  EXPECT_EQ(platform::pendingPanels()[1].kind, platform::PanelRequest::Kind::open);
  platform::answerPanel(true, (base / "User/drums.tkit").string());
  platform::answerPanel(true, (base / "Factory/drums.tkit").string());
  EXPECT_THAT(slots.calls, ElementsAre("kitFile 0 " + (base / "User/drums.tkit").string()));

  // An answer that comes after the editor closed reaches nothing.
  editor.destroyPlatformView();
  platform::answerPanel(true, (base / "User/drums.tkit").string());
  EXPECT_EQ(slots.calls.size(), 1u);
}

TEST_F(BridgeFiles, ExportWritesThePresetWhereTheUserConfirms) {
  post("__exportNobrel", quoted("{\"filename\":\"deep-bass.nobrel\",\"content\":\"text\"}"));
  post("__exportNobrel", quoted("{}"));
  post("__exportNobrel", quoted("{}"));
  EXPECT_TRUE(platform::pendingPanels().empty());  // the panels open from the main queue
  platform::mainQueue().runPending();
  ASSERT_EQ(platform::pendingPanels().size(), 3u);
  EXPECT_EQ(platform::pendingPanels()[0].suggestedName, "deep-bass.nobrel");
  EXPECT_EQ(platform::pendingPanels()[1].suggestedName, "preset.nobrel");
  const fs::path chosen = folder.path / "exported.nobrel";
  EXPECT_TRUE(platform::answerPanel(true, chosen.string()));
  EXPECT_EQ(readFile(chosen), "text");
  EXPECT_TRUE(platform::answerPanel(false, (folder.path / "cancelled.nobrel").string()));
  EXPECT_FALSE(fs::exists(folder.path / "cancelled.nobrel"));
  const fs::path nowhere = folder.path / "missing/exported.nobrel";
  EXPECT_TRUE(platform::answerPanel(true, nowhere.string()));
  EXPECT_THAT(view().scripts(), ElementsAre(resultScript("exportNobrel", chosen.string(), true, ""),
                                            resultScript("exportNobrel", nowhere.string(), false,
                                                         "No such file or directory")));
}

TEST_F(BridgeFiles, ImportSendsTheChosenFilesText) {
  writeFile(folder.path / "in.nobrel", "imported 'text'");
  writeFile(folder.path / "binary.nobrel", "\xC0\x80");
  for (int i = 0; i < 3; ++i) post("__importNobrel", "null");
  platform::mainQueue().runPending();
  ASSERT_EQ(platform::pendingPanels().size(), 3u);
  platform::answerPanel(true, (folder.path / "in.nobrel").string());
  platform::answerPanel(true, (folder.path / "binary.nobrel").string());
  platform::answerPanel(false, "");
  EXPECT_THAT(view().scripts(),
              ElementsAre("if(window.mlibImportNobrel) window.mlibImportNobrel("
                          "decodeURIComponent('imported%20%27text%27'));",
                          resultScript("importNobrel", (folder.path / "binary.nobrel").string(), false,
                                       "it is not UTF-8 text")));
}

TEST_F(BridgeFiles, TheLibraryFolderOpensInTheFileBrowser) {
  post("__openPresetsFolder", "null");
  EXPECT_THAT(platform::openedFolders(), ElementsAre(base.string() + "/"));
}

TEST_F(BridgeFiles, AListAskedForByAClosedEditorStillArrivesHarmlessly) {
  writeFile(base / "User/a.nobrel", "a");
  const std::shared_ptr<platform::WebView> old =
      std::static_pointer_cast<platform::WebView>(view().shared_from_this());
  post("__listPresets", "null");
  editor.destroyPlatformView();
  ASSERT_TRUE(
      platform::mainQueue().runUntil([&] { return !old->scripts().empty(); }, std::chrono::seconds(10)));
  EXPECT_NE(old->scripts().back().find("a.nobrel"), std::string::npos);
}

}  // namespace
