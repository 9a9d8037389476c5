#include "platform/PlatformView.h"

#include <algorithm>

namespace platform {

Window::Window(double backingScaleFactor)
    : contentRoot(std::make_shared<View>()), scaleFactor(backingScaleFactor) {
  contentRoot->rootWindow = this;
}

Window::~Window() {
  contentRoot->rootWindow = nullptr;
}

void Window::setBackingScaleFactor(double scale) {
  scaleFactor = scale;
  contentRoot->notifyBackingChange();
}

bool Window::makeFirstResponder(View* view) {
  const bool accepted = view != nullptr && view->window() == this && view->acceptsFirstResponder();
  focusedView = accepted ? view : nullptr;
  return accepted;
}

View::~View() {
  for (const auto& child : childViews) child->parentView = nullptr;
}

void View::addSubview(std::shared_ptr<View> child) {
  if (!child || child.get() == this) return;
  child->removeFromSuperview();
  child->parentView = this;
  childViews.push_back(child);
  child->viewDidMoveToSuperview();
}

void View::removeFromSuperview() {
  View* parent = parentView;
  if (parent == nullptr) return;
  if (Window* owner = window(); owner != nullptr && owner->firstResponder() == this)
    owner->makeFirstResponder(nullptr);
  parentView = nullptr;
  // Erasing may release the last reference to this view: it is kept for the notification.
  auto& siblings = parent->childViews;
  const auto found = std::find_if(siblings.begin(), siblings.end(),
                                  [this](const std::shared_ptr<View>& child) { return child.get() == this; });
  std::shared_ptr<View> keep;
  if (found != siblings.end()) {
    keep = *found;
    siblings.erase(found);
  }
  viewDidMoveToSuperview();
}

Window* View::window() const {
  const View* root = this;
  while (root->parentView != nullptr) root = root->parentView;
  return root->rootWindow;
}

void View::notifyBackingChange() {
  viewDidChangeBackingProperties();
  for (const auto& child : childViews) child->notifyBackingChange();
}

}  // namespace platform
