#include "platform/PlatformView.h"

#include <algorithm>

namespace platform {

Window::Window(double backingScaleFactor)
    : mContent(std::make_shared<View>()), mBackingScaleFactor(backingScaleFactor) {
  mContent->mWindow = this;
}

Window::~Window() {
  mContent->mWindow = nullptr;
}

void Window::setBackingScaleFactor(double scale) {
  mBackingScaleFactor = scale;
  mContent->notifyBackingChange();
}

bool Window::makeFirstResponder(View* view) {
  const bool accepted = view != nullptr && view->window() == this && view->acceptsFirstResponder();
  mFirstResponder = accepted ? view : nullptr;
  return accepted;
}

View::~View() {
  for (const auto& child : mSubviews) child->mSuperview = nullptr;
}

void View::addSubview(std::shared_ptr<View> child) {
  if (!child || child.get() == this) return;
  child->removeFromSuperview();
  child->mSuperview = this;
  mSubviews.push_back(child);
  child->viewDidMoveToSuperview();
}

void View::removeFromSuperview() {
  View* parent = mSuperview;
  if (parent == nullptr) return;
  if (Window* owner = window(); owner != nullptr && owner->firstResponder() == this)
    owner->makeFirstResponder(nullptr);
  mSuperview = nullptr;
  // Erasing may release the last reference to this view: it is kept for the notification.
  auto& siblings = parent->mSubviews;
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
  while (root->mSuperview != nullptr) root = root->mSuperview;
  return root->mWindow;
}

void View::notifyBackingChange() {
  viewDidChangeBackingProperties();
  for (const auto& child : mSubviews) child->notifyBackingChange();
}

}  // namespace platform
