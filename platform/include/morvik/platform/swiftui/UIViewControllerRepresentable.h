// UIViewControllerRepresentable: a view that hosts a UIKit controller.
//
// When the view first takes its place in a hosted tree, makeCoordinator()
// runs, then makeUIViewController(context), and the controller becomes a
// child of the hosting controller with its view in the hosted tree; after
// that and after every later evaluation, updateUIViewController(controller,
// context) runs. The coordinator and the controller are kept for as long as
// the view keeps its place; then dismantleUIViewController runs and the
// controller leaves the hosting controller. A representable customises that
// step by declaring its own static
//   static void dismantleUIViewController(Controller&, const std::shared_ptr<Coordinator>&);
// (the hosted view's own type is used, so the nearest declaration wins). The view takes all the room it
// is offered. Modifiers apply to it through AnyView. Main thread only.
#pragma once

#include <memory>

#include <morvik/platform/swiftui/Graph.h>
#include <morvik/platform/swiftui/View.h>
#include <morvik/platform/uikit/UIViewController.h>

namespace swiftui {

template <class Controller, class Coordinator = void>
class UIViewControllerRepresentable : public detail::PrimitiveView {
 public:
  struct Context {
    std::shared_ptr<Coordinator> coordinator;
  };

  virtual std::shared_ptr<Coordinator> makeCoordinator() const { return nullptr; }
  virtual std::shared_ptr<Controller> makeUIViewController(Context& context) const = 0;
  virtual void updateUIViewController(Controller& controller, Context& context) const = 0;
  static void dismantleUIViewController(Controller& controller,
                                        const std::shared_ptr<Coordinator>& coordinator) {
    (void)controller;
    (void)coordinator;
  }

  // Called by AnyView with the concrete type it holds: static members have
  // no virtual dispatch, so the derived type's own dismantle is bound here.
  template <class V>
  void bindHostedType() {
    dismantle_ = [](Controller& controller, const std::shared_ptr<Coordinator>& coordinator) {
      V::dismantleUIViewController(controller, coordinator);
    };
  }

  detail::Rendered render(detail::RenderContext& context, detail::Node& node,
                          const detail::Environment& environment) const override {
    (void)environment;
    auto state = std::static_pointer_cast<Hosted>(node.primitiveState);
    if (!state) {
      state = std::make_shared<Hosted>();
      state->context.coordinator = makeCoordinator();
      state->controller = makeUIViewController(state->context);
      node.primitiveState = state;
      std::weak_ptr<Hosted> weak = state;
      node.onTearDown = [weak, dismantle = dismantle_](bool discarding) {
        auto hosted = weak.lock();
        if (!hosted || !hosted->controller) return;
        dismantle(*hosted->controller, hosted->context.coordinator);
        if (!discarding) detail::RenderContext::releaseChild(hosted->controller);
      };
    }
    if (!state->controller) return {std::make_shared<uikit::UIView>(), true, true};
    context.adoptChild(state->controller);
    updateUIViewController(*state->controller, state->context);
    return {state->controller->view(), true, true};
  }

 private:
  struct Hosted {
    Context context;
    std::shared_ptr<Controller> controller;
  };
  void (*dismantle_)(Controller&, const std::shared_ptr<Coordinator>&) = &dismantleUIViewController;
};

}  // namespace swiftui
