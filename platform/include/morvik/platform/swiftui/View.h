// View, AnyView, ViewModifier and the modifiers.
//
// A view is a value describing part of a screen: a type deriving from View
// whose body() returns other views, down to the primitive views of this
// layer (Text, TextField, Button, VStack, representables). Views are cheap
// to copy; the hosting controller copies them into its tree and evaluates
// body() again whenever a State, Binding target or ObservedObject they read
// changes. Modifiers return a new view (an AnyView) around the receiver.
//
// A View subclass that wants the modifiers as members also derives from
// Modifiers<Self>; any view converts to AnyView, which has them all.
//
// Threads: views are built and evaluated on the main thread.
#pragma once

#include <concepts>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <type_traits>
#include <typeindex>
#include <typeinfo>
#include <utility>
#include <vector>

#include <morvik/platform/swiftui/State.h>
#include <morvik/platform/swiftui/Types.h>
#include <morvik/platform/uikit/UIView.h>

namespace swiftui {

class AnyView;
class UIHostingControllerBase;

class View {
 public:
  virtual ~View() = default;
  // What this view is made of. Primitive views have no body.
  virtual AnyView body() const;
};

namespace detail {

class Node;
class RenderContext;

// Values that flow down the tree from the modifiers above a view.
struct Environment {
  std::optional<Font> font;
  std::optional<Color> foregroundColor;
  bool roundedBorderTextField = false;
};

// What rendering a view produced: its UIKit view and how it wants to be sized.
struct Rendered {
  std::shared_ptr<uikit::UIView> view;
  bool flexibleWidth = false;   // takes all the width it is offered
  bool flexibleHeight = false;  // takes all the height it is offered
  bool ignoresSafeArea = false;
};

// A view that renders itself into UIKit views instead of having a body.
class PrimitiveView : public View {
 public:
  virtual Rendered render(RenderContext& context, Node& node, const Environment& environment) const = 0;
};

// A hosted copy of a view with the properties found in it.
struct Instance {
  std::shared_ptr<View> view;
  std::vector<DynamicProperty*> properties;
};

}  // namespace detail

namespace detail {
template <class M>
class ModifiedContent;
}  // namespace detail

// A modifier: a reusable change to a view. body(content) gets the modified
// view as `content` and returns what replaces it.
class ViewModifier {
 public:
  using Content = AnyView;  // the modified view
  virtual ~ViewModifier() = default;
};

// The modifiers, as members of AnyView and of any view that derives from
// Modifiers<Self>.
template <class Self>
class Modifiers {
 public:
  // 16 points on the given edges (all by default), or `length`.
  AnyView padding(Edge::Set edges = Edge::Set::all, std::optional<CGFloat> length = std::nullopt) const;
  AnyView padding(CGFloat length) const;
  AnyView font(std::optional<Font> font) const;
  AnyView foregroundColor(std::optional<Color> color) const;
  // The colour fills the view's frame, behind its content.
  AnyView background(Color color) const;
  AnyView clipShape(RoundedRectangle shape) const;
  AnyView textFieldStyle(RoundedBorderTextFieldStyle style) const;
  // The view's content reaches under the safe-area insets (the container
  // regions, on all edges, are all this layer has).
  AnyView ignoresSafeArea(SafeAreaRegions regions = SafeAreaRegions::all,
                          Edge::Set edges = Edge::Set::all) const;
  // While isPresented reads true, content() is shown in a full-screen cover
  // presented from the hosting controller. Setting it false dismisses the
  // cover; a cover dismissed by other code sets it false. onDismiss (if
  // any) runs on the main queue once the cover has gone, however it went.
  AnyView fullScreenCover(Binding<bool> isPresented, std::function<void()> onDismiss,
                          std::function<AnyView()> content) const;
  template <class M>
  requires std::derived_from<M, ViewModifier> AnyView modifier(M modifier)
  const;

 private:
  AnyView self() const;
};

// Any view, by value. Default: an empty view.
class AnyView : public Modifiers<AnyView> {
 public:
  AnyView();
  template <class V>
  requires std::derived_from<V, View> AnyView(
      V view)  // NOLINT(google-explicit-constructor): every view is an AnyView
      : view_(bound(std::move(view))), type_(typeid(V)), clone_(&cloneAs<V>) {}

  std::type_index type() const { return type_; }
  const View& view() const { return *view_; }
  // The concrete view, if it is a V.
  template <class V>
  const V* as() const {
    return type_ == typeid(V) ? static_cast<const V*>(view_.get()) : nullptr;
  }
  // A new copy of the view for a place in a hosted tree, with its properties.
  detail::Instance instantiate() const { return clone_(*view_); }

 private:
  // A copy of the view told its own type, for the members it needs it for
  // (a representable's static dismantleUIViewController).
  template <class V>
  static std::shared_ptr<V> bound(V view) {
    if constexpr (requires { view.template bindHostedType<V>(); }) view.template bindHostedType<V>();
    return std::make_shared<V>(std::move(view));
  }
  template <class V>
  static detail::Instance cloneAs(const View& view) {
    // The storage exists before the copy, so the collector knows the copy's
    // address range while the copy's properties are constructed.
    struct Slot {
      alignas(V) unsigned char bytes[sizeof(V)];
      V* object = nullptr;
      ~Slot() {
        if (object) object->~V();
      }
    };
    auto slot = std::make_shared<Slot>();
    detail::PropertyCollector collect(slot->bytes, sizeof(V));
    slot->object = new (slot->bytes) V(static_cast<const V&>(view));
    return {std::shared_ptr<View>(slot, slot->object), collect.take()};
  }

  std::shared_ptr<const View> view_;
  std::type_index type_;
  detail::Instance (*clone_)(const View&);
};

namespace detail {

// The content of one modifier applied to one view.
template <class M>
class ModifiedContent : public View {
 public:
  ModifiedContent(AnyView content, M modifier)
      : content_(std::move(content)), modifier_(std::move(modifier)) {}
  AnyView body() const override { return modifier_.body(content_); }
  const M& modifier() const { return modifier_; }
  const AnyView& content() const { return content_; }

 private:
  AnyView content_;
  M modifier_;
};

// Built-in modifiers that change the environment or wrap the rendered view.
class PaddingView : public PrimitiveView {
 public:
  PaddingView(AnyView content, Edge::Set edges, CGFloat length)
      : content(std::move(content)), edges(edges), length(length) {}
  Rendered render(RenderContext& context, Node& node, const Environment& environment) const override;
  AnyView content;
  Edge::Set edges;
  CGFloat length;
};

class EnvironmentView : public PrimitiveView {
 public:
  EnvironmentView(AnyView content, std::function<void(Environment&)> change)
      : content(std::move(content)), change(std::move(change)) {}
  Rendered render(RenderContext& context, Node& node, const Environment& environment) const override;
  AnyView content;
  std::function<void(Environment&)> change;
};

class DecorationView : public PrimitiveView {
 public:
  DecorationView(AnyView content, std::optional<Color> background, std::optional<CGFloat> cornerRadius,
                 bool ignoresSafeArea)
      : content(std::move(content)),
        background(background),
        cornerRadius(cornerRadius),
        ignoresSafeArea(ignoresSafeArea) {}
  Rendered render(RenderContext& context, Node& node, const Environment& environment) const override;
  AnyView content;
  std::optional<Color> background;
  std::optional<CGFloat> cornerRadius;
  bool ignoresSafeArea;
};

class FullScreenCoverView : public PrimitiveView {
 public:
  FullScreenCoverView(AnyView content, Binding<bool> isPresented, std::function<void()> onDismiss,
                      std::function<AnyView()> cover)
      : content(std::move(content)),
        isPresented(std::move(isPresented)),
        onDismiss(std::move(onDismiss)),
        cover(std::move(cover)) {}
  Rendered render(RenderContext& context, Node& node, const Environment& environment) const override;
  AnyView content;
  Binding<bool> isPresented;
  std::function<void()> onDismiss;
  std::function<AnyView()> cover;
};

}  // namespace detail

template <class Self>
AnyView Modifiers<Self>::self() const {
  if constexpr (std::is_same_v<Self, AnyView>) {
    return static_cast<const AnyView&>(*this);
  } else {
    return AnyView(static_cast<const Self&>(*this));
  }
}
template <class Self>
template <class M>
requires std::derived_from<M, ViewModifier> AnyView Modifiers<Self>::modifier(M modifier)
const { return AnyView(detail::ModifiedContent<M>(self(), std::move(modifier))); }

template <class Self>
AnyView Modifiers<Self>::padding(Edge::Set edges, std::optional<CGFloat> length) const {
  return AnyView(detail::PaddingView(self(), edges, length.value_or(16)));
}
template <class Self>
AnyView Modifiers<Self>::padding(CGFloat length) const {
  return AnyView(detail::PaddingView(self(), Edge::Set::all, length));
}
template <class Self>
AnyView Modifiers<Self>::font(std::optional<Font> font) const {
  return AnyView(detail::EnvironmentView(self(), [font](detail::Environment& e) { e.font = font; }));
}
template <class Self>
AnyView Modifiers<Self>::foregroundColor(std::optional<Color> color) const {
  return AnyView(
      detail::EnvironmentView(self(), [color](detail::Environment& e) { e.foregroundColor = color; }));
}
template <class Self>
AnyView Modifiers<Self>::background(Color color) const {
  return AnyView(detail::DecorationView(self(), color, std::nullopt, false));
}
template <class Self>
AnyView Modifiers<Self>::clipShape(RoundedRectangle shape) const {
  return AnyView(detail::DecorationView(self(), std::nullopt, shape.cornerRadius, false));
}
template <class Self>
AnyView Modifiers<Self>::textFieldStyle(RoundedBorderTextFieldStyle) const {
  return AnyView(
      detail::EnvironmentView(self(), [](detail::Environment& e) { e.roundedBorderTextField = true; }));
}
template <class Self>
AnyView Modifiers<Self>::ignoresSafeArea(SafeAreaRegions, Edge::Set) const {
  return AnyView(detail::DecorationView(self(), std::nullopt, std::nullopt, true));
}
template <class Self>
AnyView Modifiers<Self>::fullScreenCover(Binding<bool> isPresented, std::function<void()> onDismiss,
                                         std::function<AnyView()> content) const {
  return AnyView(
      detail::FullScreenCoverView(self(), std::move(isPresented), std::move(onDismiss), std::move(content)));
}

}  // namespace swiftui
