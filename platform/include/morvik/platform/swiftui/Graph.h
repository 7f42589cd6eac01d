// The hosted tree behind a UIHostingController (internal to the layer; in a
// public header only because the representable template renders through it).
//
// Each view in a hosted tree has a Node at its place (position among its
// parent's children, and type). Evaluating the tree again walks the new
// views beside the old nodes: a node whose view keeps its type is reused
// (its State storage handed on, its representable controller kept), any
// other node is torn down. Main thread only.
#pragma once

#include <morvik/platform/swiftui/View.h>
#include <morvik/platform/uikit/UIViewController.h>

#include <functional>
#include <memory>
#include <typeindex>
#include <vector>

namespace swiftui::detail {

class Node {
 public:
  explicit Node(std::type_index type) : type(type) {}
  ~Node();
  Node(const Node&) = delete;
  Node& operator=(const Node&) = delete;

  // The slot of the index-th child (made on demand).
  std::shared_ptr<Node>& child(std::size_t index);
  // Tears down the children from `count` on.
  void trimChildren(std::size_t count);
  // Tears down this node's subtree: `discarding` is true when the hosting
  // controller itself is going away (nothing may be presented or dismissed).
  void tearDown(bool discarding);

  std::type_index type;
  Instance instance;
  PropertyHost host;
  std::vector<std::shared_ptr<Node>> children;
  // Set by primitives that keep something between evaluations.
  std::shared_ptr<void> primitiveState;
  std::function<void(bool discarding)> onTearDown;
};

class RenderContext {
 public:
  RenderContext(UIHostingControllerBase& host, std::function<void()> invalidate)
      : host_(host), invalidate_(std::move(invalidate)) {}

  // Renders `view` in the place `slot`, reusing the node there when it holds
  // the same type of view.
  Rendered render(const AnyView& view, std::shared_ptr<Node>& slot, const Environment& environment);

  UIHostingControllerBase& host() { return host_; }
  const std::function<void()>& invalidate() const { return invalidate_; }
  // Work that must wait until the whole tree is rendered (presentations).
  void afterRender(std::function<void()> work) { after_.push_back(std::move(work)); }
  std::vector<std::function<void()>> takeAfterRender() { return std::move(after_); }

  // Adds a representable's controller as a child of the hosting controller
  // (with appearance calls when the host is already on screen), once.
  void adoptChild(const std::shared_ptr<uikit::UIViewController>& controller);
  static void releaseChild(const std::shared_ptr<uikit::UIViewController>& controller);

 private:
  UIHostingControllerBase& host_;
  std::function<void()> invalidate_;
  std::vector<std::function<void()>> after_;
};

}  // namespace swiftui::detail
