// The CLAP gui extension driven as a host would, and the editor view's life: creation, the default size
// from the screen, the size protocol, parenting, page events and teardown.

#include <clap/ext/gui.h>

#include "EditorFixture.h"
#include "editor/EditorResources.h"
#include "editor/PluginEditorImpl.h"
#include "plugin/PluginFixture.h"

namespace {

using ::testing::IsEmpty;

// A plug-in reached through its CLAP handle, with its gui extension, in a library of its own.
class Gui : public ::testing::Test {
protected:
  Gui() : home(folder.path.string()) {
    window.contentView().addSubview(hostView);
    hostView->setFrame({0, 0, 1008, 576});
    fixture = std::make_unique<PluginFixture>();
    gui = fixture->instance.extension<clap_plugin_gui>(CLAP_EXT_GUI);
  }

  CLAPPlugin& plugin() { return *fixture->object; }
  bool create() { return gui->create(fixture->instance.plugin(), CLAP_WINDOW_API_COCOA, false); }
  void destroy() { gui->destroy(fixture->instance.plugin()); }
  bool setParent(platform::View* parent) {
    clap_window record{};
    record.api = CLAP_WINDOW_API_COCOA;
    record.cocoa = parent;
    return gui->set_parent(fixture->instance.plugin(), &record);
  }
  std::pair<uint32_t, uint32_t> size() {
    uint32_t width = 0;
    uint32_t height = 0;
    EXPECT_TRUE(gui->get_size(fixture->instance.plugin(), &width, &height));
    return {width, height};
  }
  std::pair<uint32_t, uint32_t> adjusted(uint32_t width, uint32_t height) {
    EXPECT_TRUE(gui->adjust_size(fixture->instance.plugin(), &width, &height));
    return {width, height};
  }
  MlibWebView& view() { return *plugin().editor->webView(); }

  PlatformScope platformScope;
  TempFolder folder;
  ScopedHome home;
  platform::Window window{2.0};
  std::shared_ptr<platform::View> hostView = std::make_shared<platform::View>();
  std::unique_ptr<PluginFixture> fixture;
  const clap_plugin_gui* gui = nullptr;
};

TEST_F(Gui, OffersEmbeddedCocoaViewsOnly) {
  ASSERT_NE(gui, nullptr);
  const clap_plugin* handle = fixture->instance.plugin();
  EXPECT_TRUE(gui->is_api_supported(handle, CLAP_WINDOW_API_COCOA, false));
  EXPECT_FALSE(gui->is_api_supported(handle, CLAP_WINDOW_API_COCOA, true));
  EXPECT_FALSE(gui->is_api_supported(handle, CLAP_WINDOW_API_X11, false));
  EXPECT_FALSE(gui->create(handle, CLAP_WINDOW_API_COCOA, true));
  for (const char* api : {CLAP_WINDOW_API_X11, CLAP_WINDOW_API_WIN32, "unknown"})
    EXPECT_FALSE(gui->create(handle, api, false)) << api;
  EXPECT_EQ(plugin().editor, nullptr);
  EXPECT_FALSE(plugin().engine.published.editorAttached.load());

  // A window record of another API is refused, not read as a view.
  ASSERT_TRUE(create());
  clap_window foreign{};
  foreign.api = CLAP_WINDOW_API_X11;
  foreign.x11 = 0x1234567;
  EXPECT_FALSE(gui->set_parent(handle, &foreign));
  foreign.api = nullptr;
  EXPECT_FALSE(gui->set_parent(handle, &foreign));
  EXPECT_EQ(plugin().editor->webView(), nullptr);
}

TEST_F(Gui, TheFirstOpeningTakesAStepOfSizeThatFitsThreeQuartersOfTheScreen) {
  struct Case {
    std::optional<platform::ScreenArea> area;
    uint32_t width, height;
  };
  const Case cases[] = {
      {platform::ScreenArea{1440, 900}, 1008, 576},  {platform::ScreenArea{1000, 600}, 840, 480},
      {platform::ScreenArea{5120, 2880}, 1680, 960}, {platform::ScreenArea{1568, 896}, 1176, 672},
      {platform::ScreenArea{0, 900}, 840, 480},      {std::nullopt, 840, 480}};
  for (const Case& c : cases) {
    platform::setMainScreenVisibleArea(c.area);
    plugin().editorWidth = 840;
    plugin().editorHeight = 480;
    ASSERT_TRUE(create());
    EXPECT_EQ(size(), std::make_pair(c.width, c.height)) << (c.area ? c.area->width : -1.0);
    destroy();
  }
}

TEST_F(Gui, ASizeFromTheStateOrTheHostStays) {
  platform::setMainScreenVisibleArea(platform::ScreenArea{1440, 900});
  plugin().editorWidth = 1000;
  plugin().editorHeight = 572;
  ASSERT_TRUE(create());
  EXPECT_EQ(size(), std::make_pair(1000u, 572u));
  destroy();
  EXPECT_EQ(plugin().editorWidth.load(), 1000u);
  EXPECT_EQ(plugin().editorHeight.load(), 572u);
}

TEST_F(Gui, SizesKeepTheAspectWithinOnePoint) {
  ASSERT_TRUE(create());
  EXPECT_EQ(adjusted(1000, 570), std::make_pair(1000u, 570u));
  EXPECT_EQ(adjusted(1000, 600), std::make_pair(1000u, 571u));
  EXPECT_EQ(adjusted(0, 9), std::make_pair(0u, 0u));
  EXPECT_EQ(adjusted(0xFFFFFFFFu, 0), std::make_pair(0xFFFFFFFFu, 2454267026u));

  clap_gui_resize_hints hints{};
  ASSERT_TRUE(gui->get_resize_hints(fixture->instance.plugin(), &hints));
  EXPECT_TRUE(hints.preserve_aspect_ratio);
  EXPECT_EQ(hints.aspect_ratio_width * 480u, hints.aspect_ratio_height * 840u);
  EXPECT_TRUE(gui->can_resize(fixture->instance.plugin()));
}

TEST_F(Gui, ParentingBuildsTheWebViewInTheHostsView) {
  EXPECT_FALSE(setParent(hostView.get()));  // no editor yet
  ASSERT_TRUE(create());
  EXPECT_TRUE(plugin().engine.published.editorAttached.load());
  EXPECT_EQ(plugin().editor->webView(), nullptr);
  EXPECT_FALSE(gui->set_parent(fixture->instance.plugin(), nullptr));
  EXPECT_EQ(plugin().editor->webView(), nullptr);

  ASSERT_TRUE(setParent(hostView.get()));
  MlibWebView& web = view();
  ASSERT_EQ(hostView->subviews().size(), 1u);
  EXPECT_EQ(hostView->subviews()[0].get(), &web);
  EXPECT_EQ(web.frame().width, 1008.0);
  EXPECT_EQ(web.autoresizingMask, 18u);
  EXPECT_FALSE(web.drawsBackground());
  ASSERT_EQ(web.loads().size(), 1u);
  EXPECT_GT(web.loads()[0].html.size(), resources::ui_html_size);
  EXPECT_NE(web.loads()[0].html.find("<head><script>window.mlibStartState="), std::string::npos);
  EXPECT_EQ(web.loads()[0].baseUrl, "file:///usr/local/share/tavrin/");
  ASSERT_NE(plugin().editor->impl->timer, nullptr);
  EXPECT_TRUE(plugin().editor->impl->timer->running());

  // A second parent call keeps the view it has.
  ASSERT_TRUE(setParent(hostView.get()));
  EXPECT_EQ(&view(), &web);
  EXPECT_EQ(hostView->subviews().size(), 1u);

  ASSERT_TRUE(gui->set_size(fixture->instance.plugin(), 1200, 686));
  EXPECT_EQ(web.frame().height, 686.0);
  EXPECT_EQ(size(), std::make_pair(1200u, 686u));
}

TEST_F(Gui, TheLayerScaleFollowsTheWindowAndIsTwoWithoutOne) {
  auto loose = std::make_shared<platform::View>(platform::Rect{0, 0, 840, 480});
  ASSERT_TRUE(create());
  ASSERT_TRUE(setParent(loose.get()));
  EXPECT_EQ(view().layerContentsScale, 2.0);
  platform::Window lowDensity(1.0);
  lowDensity.contentView().addSubview(loose);
  lowDensity.setBackingScaleFactor(3.0);
  EXPECT_EQ(view().layerContentsScale, 3.0);
  loose->removeFromSuperview();

  destroy();
  window.setBackingScaleFactor(0.5);  // a scale below one reads as two
  ASSERT_TRUE(create());
  ASSERT_TRUE(setParent(hostView.get()));
  EXPECT_EQ(view().layerContentsScale, 2.0);
}

TEST_F(Gui, PageEventsMarkTheLoadAndReloadACrashedPage) {
  ASSERT_TRUE(create());
  ASSERT_TRUE(setParent(hostView.get()));
  const auto& handler = *plugin().editor->impl->handler;
  EXPECT_FALSE(handler.ranInitialLoad);
  view().failNavigation();
  EXPECT_FALSE(handler.ranInitialLoad);
  view().finishNavigation();
  EXPECT_TRUE(handler.ranInitialLoad);
  view().terminateContentProcess();
  ASSERT_EQ(view().loads().size(), 2u);
  EXPECT_EQ(view().loads()[1].html, view().loads()[0].html);
}

TEST_F(Gui, DestroyingTakesTheViewOutAndReopeningStartsAfresh) {
  ASSERT_TRUE(create());
  ASSERT_TRUE(setParent(hostView.get()));
  const std::shared_ptr<platform::DispatchTimer> timer = plugin().editor->impl->timer;
  const auto old = std::static_pointer_cast<platform::WebView>(view().shared_from_this());
  int calls = 0;
  plugin().editor->onSetValue = [&](const char*, double) { ++calls; };
  old->postMessage("mlib", "{\"name\":\"cutoffA\",\"value\":0.5}");
  EXPECT_EQ(calls, 1);

  destroy();
  EXPECT_EQ(plugin().editor, nullptr);
  EXPECT_FALSE(plugin().engine.published.editorAttached.load());
  EXPECT_THAT(hostView->subviews(), IsEmpty());
  EXPECT_TRUE(timer->cancelled());
  EXPECT_EQ(platform::mainQueue().fireTimers(platform::monotonicNanoseconds() + 1'000'000'000), 0u);
  // The old page reaches nothing any more.
  old->postMessage("mlib", "{\"name\":\"cutoffA\",\"value\":0.5}");
  old->finishNavigation();
  old->terminateContentProcess();
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(old->loads().size(), 1u);

  ASSERT_TRUE(create());
  ASSERT_TRUE(setParent(hostView.get()));
  EXPECT_NE(&view(), old.get());
  EXPECT_EQ(view().loads().size(), 1u);
  EXPECT_NE(plugin().editor->impl->timer, timer);
}

TEST_F(Gui, BuildingTheViewRestoresTheLibraryFolders) {
  const fs::path user = fs::path(presetsBasePath()) / "User";
  ASSERT_TRUE(fs::is_directory(user));  // made by the plug-in's init
  fs::remove_all(user);
  ASSERT_TRUE(create());
  EXPECT_FALSE(fs::exists(user));
  ASSERT_TRUE(setParent(hostView.get()));
  EXPECT_TRUE(fs::is_directory(user));
}

}  // namespace

namespace {

TEST_F(Gui, TheHostsScaleMultipliesTheDefaultSizeAndZoomsThePage) {
  platform::setMainScreenVisibleArea(platform::ScreenArea{2880, 1800});
  ASSERT_TRUE(create());
  EXPECT_EQ(size(), std::make_pair(1680u, 960u));
  for (const double refused : {0.5, 4.01, std::nan("")})
    EXPECT_FALSE(gui->set_scale(fixture->instance.plugin(), refused));
  ASSERT_TRUE(gui->set_scale(fixture->instance.plugin(), 2.0));
  EXPECT_EQ(size(), std::make_pair(2016u, 1152u));  // step 1.2 of the doubled base fits three quarters
  ASSERT_TRUE(setParent(hostView.get()));
  EXPECT_EQ(view().pageZoom(), 2.0);
  ASSERT_TRUE(gui->hide(fixture->instance.plugin()));
  EXPECT_TRUE(view().hidden());
  ASSERT_TRUE(gui->show(fixture->instance.plugin()));
  EXPECT_FALSE(view().hidden());

  // A size the host set stays through a change of scale.
  ASSERT_TRUE(gui->set_size(fixture->instance.plugin(), 1000, 572));
  ASSERT_TRUE(gui->set_scale(fixture->instance.plugin(), 1.0));
  EXPECT_EQ(size(), std::make_pair(1000u, 572u));
  EXPECT_EQ(view().pageZoom(), 1.0);
}

}  // namespace
