// Windows and views of the host's user interface: a view tree with frames, layers and a window that
// holds the keyboard focus (the first responder) and a backing scale factor (device pixels per point).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace platform {

class View;

// A rectangle in points.
struct Rect {
  double x = 0.0;
  double y = 0.0;
  double width = 0.0;
  double height = 0.0;
};

class Window {
public:
  // The root view of the window's content; views added below it belong to the window.
  explicit Window(double backingScaleFactor = 2.0);
  ~Window();

  View& contentView() { return *contentRoot; }
  double backingScaleFactor() const { return scaleFactor; }
  // Moves the window to a screen of another scale: every view below the content view is told.
  void setBackingScaleFactor(double scale);

  // The view with the keyboard focus; null when the window itself holds it.
  View* firstResponder() const { return focusedView; }
  // Gives view the keyboard focus when it is in this window and accepts it; else (and for null) the
  // window itself takes the focus. True when view got it.
  bool makeFirstResponder(View* view);

private:
  std::shared_ptr<View> contentRoot;
  double scaleFactor;
  View* focusedView = nullptr;
};

// Views live in shared pointers (a parent keeps its subviews alive).
class View : public std::enable_shared_from_this<View> {
public:
  static constexpr unsigned kWidthSizable = 2;
  static constexpr unsigned kHeightSizable = 16;

  explicit View(Rect frame = {}) : frameRect(frame) {}
  virtual ~View();
  View(const View&) = delete;
  View& operator=(const View&) = delete;

  Rect frame() const { return frameRect; }
  void setFrame(Rect frame) {
    frameRect = frame;
    frameDidChange();
  }
  // The frame at origin (0, 0).
  Rect bounds() const { return {0.0, 0.0, frameRect.width, frameRect.height}; }

  unsigned autoresizingMask = 0;
  // The native window this view stands for (an X11 window id of the host), 0 for a view of its own.
  uint64_t nativeWindow = 0;
  bool wantsLayer = false;
  double layerContentsScale = 1.0;  // meaningful while wantsLayer is set

  // The parent keeps its subviews alive.
  void addSubview(std::shared_ptr<View> child);
  void removeFromSuperview();
  View* superview() const { return parentView; }
  const std::vector<std::shared_ptr<View>>& subviews() const { return childViews; }
  // The window of the view tree this view is in, or null.
  Window* window() const;

  virtual bool acceptsFirstResponder() const { return false; }
  // Called when the window's backing scale factor changed.
  virtual void viewDidChangeBackingProperties() {}
  // Called after the view was added to a superview or removed from it.
  virtual void viewDidMoveToSuperview() {}
  virtual void frameDidChange() {}

private:
  friend class Window;
  void notifyBackingChange();

  Rect frameRect;
  View* parentView = nullptr;
  Window* rootWindow = nullptr;  // set on a window's content view only
  std::vector<std::shared_ptr<View>> childViews;
};

}  // namespace platform
