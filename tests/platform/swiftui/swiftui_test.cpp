#include <gtest/gtest.h>
#include <morvik/platform/dispatch.h>
#include <morvik/platform/swiftui.h>
#include <morvik/platform/swiftui/Testing.h>
#include <morvik/platform/uikit.h>

#include <string>
#include <vector>

namespace swiftui {
namespace {

using swiftui::testing::findButton;
using swiftui::testing::findLabel;
using swiftui::testing::findTextField;
using swiftui::testing::tapButton;
using swiftui::testing::typeText;

class SwiftUITest : public ::testing::Test {
 protected:
  void SetUp() override { dispatch::clock::useManualClock(); }
  void TearDown() override {
    window.reset();
    settle();
    for (auto& scene : std::vector(uikit::UIApplication::shared().connectedScenes())) {
      uikit::UIApplication::shared().disconnect(scene);
    }
    dispatch::MainLoop::drain();
    setLocalizedStrings({});
    dispatch::clock::useRealClock();
  }
  static void settle() {
    dispatch::MainLoop::drain();
    dispatch::clock::advance(1.0);
    dispatch::MainLoop::drain();
  }
  template <class V>
  std::shared_ptr<UIHostingController<V>> host(V view) {
    auto controller = std::make_shared<UIHostingController<V>>(std::move(view));
    auto scene = uikit::UIApplication::shared().connectWindowScene();
    window = scene->makeWindow();
    window->setRootViewController(controller);
    window->makeKeyAndVisible();
    settle();
    window->layoutIfNeeded();
    return controller;
  }
  std::shared_ptr<uikit::UIWindow> window;
};

// A counter whose button adds one; it also shows a child that keeps a state
// of its own, to check that state survives the parent's re-evaluation.
struct Child : View {
  State<int> taps{0};
  AnyView body() const override {
    auto taps = this->taps;
    return Button(Text::verbatim("child " + std::to_string(taps.get())),
                  [taps] { taps.set(taps.get() + 1); });
  }
};

struct Counter : View {
  State<int> count{0};
  State<bool> showChild{true};
  int* evaluations;
  explicit Counter(int* evaluations) : evaluations(evaluations) {}
  AnyView body() const override {
    ++*evaluations;
    auto count = this->count;
    auto showChild = this->showChild;
    std::vector<AnyView> rows{Text::verbatim("count " + std::to_string(count.get())),
                              Button("add", [count] { count.set(count.get() + 1); }),
                              Button("toggle", [showChild] { showChild.set(!showChild.get()); })};
    if (showChild.get()) {
      rows.push_back(Child());
    } else {
      rows.push_back(Text::verbatim("no child"));
    }
    return VStack(HorizontalAlignment::center, 20, rows);
  }
};

TEST_F(SwiftUITest, StateChangesReEvaluateOnceAndChildStateKeepsItsPlace) {
  int evaluations = 0;
  auto controller = host(Counter(&evaluations));
  auto root = controller->view();
  ASSERT_TRUE(findLabel(root, "count 0"));
  EXPECT_EQ(evaluations, 1);

  // Two changes before the main queue turns: one evaluation.
  ASSERT_TRUE(tapButton(root, "add"));
  ASSERT_TRUE(tapButton(root, "add"));
  dispatch::MainLoop::drain();
  EXPECT_EQ(evaluations, 2);
  EXPECT_TRUE(findLabel(root, "count 2"));

  // The child's own state lives on through the parent's evaluations...
  ASSERT_TRUE(tapButton(root, "child 0"));
  dispatch::MainLoop::drain();
  ASSERT_TRUE(tapButton(root, "add"));
  dispatch::MainLoop::drain();
  EXPECT_TRUE(findButton(root, "child 1")) << root->recursiveDescription();
  // ...and starts afresh once the child has left its place and come back.
  ASSERT_TRUE(tapButton(root, "toggle"));
  dispatch::MainLoop::drain();
  EXPECT_TRUE(findLabel(root, "no child"));
  ASSERT_TRUE(tapButton(root, "toggle"));
  dispatch::MainLoop::drain();
  EXPECT_TRUE(findButton(root, "child 0"));
}

struct Form : View {
  State<std::string> email{"a@b.c"};
  AnyView body() const override {
    return VStack(HorizontalAlignment::center, 20,
                  {Text("Title").font(Font::title()),
                   TextField("Email", email.projectedValue())
                       .textFieldStyle(RoundedBorderTextFieldStyle())
                       .padding(Edge::Set::horizontal),
                   Text::verbatim("typed " + email.get()).foregroundColor(Color::gray()),
                   Button("Go", [] {})
                       .padding()
                       .background(Color::blue())
                       .foregroundColor(Color::white())
                       .clipShape(RoundedRectangle{10})});
  }
};

TEST_F(SwiftUITest, FormRendersIntoUIKitViewsAndTypingWritesThroughTheBinding) {
  setLocalizedStrings({{"Title", "Titre"}, {"Email", "Courriel"}});
  auto controller = host(Form());
  auto root = controller->view();
  std::string tree = root->recursiveDescription();

  // Keys are looked up; verbatim text is not.
  auto title = findLabel(root, "Titre");
  ASSERT_TRUE(title) << tree;
  EXPECT_EQ(title->font().pointSize(), 28);
  auto field = findTextField(root, "Courriel");
  ASSERT_TRUE(field) << tree;
  EXPECT_TRUE(field->hasRoundedBorder());
  EXPECT_EQ(field->text(), "a@b.c");
  EXPECT_NE(tree.find("TextField"), std::string::npos);
  auto status = findLabel(root, "typed a@b.c");
  ASSERT_TRUE(status);
  EXPECT_EQ(status->textColor(), uikit::UIColor::systemGray());

  auto go = findButton(root, "Go");
  ASSERT_TRUE(go);
  EXPECT_EQ(go->currentTitleColor(), uikit::UIColor::white());
  // Padding, then background and clip shape on the padded box.
  auto box = go->superview();
  ASSERT_TRUE(box);
  EXPECT_EQ(box->backgroundColor(), uikit::UIColor::systemBlue());
  EXPECT_EQ(box->layer()->cornerRadius(), 10);
  EXPECT_TRUE(box->clipsToBounds());
  EXPECT_NEAR(box->frame().height(), go->frame().height() + 32, 1e-6) << tree;

  // The stack is centred, 20 points between rows; the padded field spans the
  // width less 16 on each side.
  auto fieldBox = field->superview();
  EXPECT_NEAR(field->frame().width(), root->bounds().width() - 32, 1e-6) << tree;
  auto stack = fieldBox->superview();
  EXPECT_NEAR(fieldBox->frame().minY() - title->frame().maxY(), 20, 1e-6) << tree;
  EXPECT_NEAR(stack->convert(title->center(), nullptr).x, root->bounds().width() / 2, 1e-6);

  ASSERT_TRUE(typeText(root, "Courriel", ""));
  dispatch::MainLoop::drain();
  EXPECT_TRUE(findLabel(root, "typed "));
  EXPECT_EQ(findTextField(root, "Courriel")->label()->text(), "Courriel");  // placeholder shown while empty
}

// A model that a view observes.
class Model : public combine::ObservableObject {
 public:
  combine::Published<bool> isShown{*this, false};
  combine::Published<int> value{*this, 0};
};

struct CoverHost : View {
  ObservedObject<Model> model;
  std::vector<std::string>* log;
  CoverHost(std::shared_ptr<Model> m, std::vector<std::string>* log) : model(std::move(m)), log(log) {}
  AnyView body() const override {
    auto log = this->log;
    auto value = model->value.get();
    auto binding = model.binding(&Model::isShown);
    return Text::verbatim("value " + std::to_string(value))
        .fullScreenCover(
            binding, [log] { log->push_back("onDismiss"); },
            [value, binding] {
              return AnyView(VStack({Text::verbatim("cover " + std::to_string(value)),
                                     Button("close", [binding] { binding.set(false); })}));
            });
  }
};

TEST_F(SwiftUITest, CoverFollowsItsBindingAndReportsEveryDismissal) {
  auto model = std::make_shared<Model>();
  std::vector<std::string> log;
  auto controller = host(CoverHost(model, &log));

  // An observed object's change re-evaluates the body with the new value.
  model->value = 3;
  dispatch::MainLoop::drain();
  EXPECT_TRUE(findLabel(window, "value 3"));

  model->isShown = true;
  settle();
  auto cover = controller->presentedViewController();
  ASSERT_TRUE(cover);
  EXPECT_EQ(cover->modalPresentationStyle(), uikit::UIModalPresentationStyle::fullScreen);
  EXPECT_TRUE(findLabel(window, "cover 3")) << window->recursiveDescription();
  EXPECT_FALSE(findLabel(window, "value 3"));  // covered

  // Lowered by the flag: dismissed, onDismiss once it has gone.
  ASSERT_TRUE(tapButton(window, "close"));
  dispatch::MainLoop::drain();
  EXPECT_TRUE(log.empty());
  settle();
  EXPECT_FALSE(controller->presentedViewController());
  EXPECT_EQ(log, (std::vector<std::string>{"onDismiss"}));

  // Dismissed by other code: the flag is set false and onDismiss runs once.
  model->isShown = true;
  settle();
  ASSERT_TRUE(controller->presentedViewController());
  controller->presentedViewController()->dismiss(true);
  settle();
  EXPECT_FALSE(model->isShown.get());
  EXPECT_FALSE(controller->presentedViewController());
  EXPECT_EQ(log, (std::vector<std::string>{"onDismiss", "onDismiss"}));

  // Raised again at once: shown again.
  model->isShown = true;
  settle();
  EXPECT_TRUE(controller->presentedViewController());
  EXPECT_TRUE(findLabel(window, "cover 3"));
}

// A view that counts its layout passes, hosted through a representable.
struct CountingView : uikit::UIView {
  int layouts = 0;
  void layoutSubviews() override {
    ++layouts;
    UIView::layoutSubviews();
  }
};
struct Counted : UIViewControllerRepresentable<uikit::UIViewController> {
  std::shared_ptr<uikit::UIViewController> makeUIViewController(Context&) const override {
    auto controller = std::make_shared<uikit::UIViewController>();
    controller->setView(std::make_shared<CountingView>());
    return controller;
  }
  void updateUIViewController(uikit::UIViewController&, Context&) const override {}
};

// A form whose text follows the field: every keystroke evaluates it again.
struct Greeting : View {
  State<std::string> name{""};
  State<int> other{0};
  AnyView body() const override {
    // The rounded field has a colour of its own: the red goes on a box around it.
    return VStack({TextField("Name", name.projectedValue())
                       .textFieldStyle(RoundedBorderTextFieldStyle())
                       .background(Color::red()),
                   Text::verbatim("Hello, " + name.get()).padding(4).background(Color::blue()), Counted()});
  }
};

TEST_F(SwiftUITest, RendersUpdateTheSameViewsInPlace) {
  auto controller = host(Greeting());
  auto field = findTextField(window, "Name");
  auto label = findLabel(window, "Hello, ");
  ASSERT_TRUE(field && label);
  ASSERT_TRUE(field->becomeFirstResponder());
  const auto rendersBefore = controller->renderCount();
  auto box = field->superview();
  ASSERT_TRUE(box);
  EXPECT_EQ(box->backgroundColor(), uikit::UIColor::systemRed());

  for (const std::string typed : {"A", "Ad", "Ada"}) {
    SCOPED_TRACE(typed);
    ASSERT_TRUE(typeText(window, "Name", typed));
    settle();
    EXPECT_EQ(findTextField(window, "Name").get(), field.get());  // the same field: focus and text stay
    EXPECT_TRUE(field->isFirstResponder());
    EXPECT_EQ(field->text(), typed);
    EXPECT_EQ(findLabel(window, "Hello, " + typed).get(), label.get());  // the same label, new text
    EXPECT_EQ(field->superview(), box);
    EXPECT_EQ(field->backgroundColor(), uikit::UIColor::systemBackground());
  }
  EXPECT_EQ(controller->renderCount(), rendersBefore + 3);

  // A value written elsewhere reaches the field; an evaluation that changes
  // nothing shown lays nothing out again.
  auto state = controller->rootView();
  state.name.set("Grace");
  settle();
  EXPECT_EQ(field->text(), "Grace");
  ASSERT_EQ(controller->children().size(), 1u);
  auto counting = std::dynamic_pointer_cast<CountingView>(controller->children()[0]->view());
  ASSERT_TRUE(counting);
  const int layouts = counting->layouts;
  state.other.set(1);
  settle();
  window->layoutIfNeeded();
  EXPECT_EQ(controller->renderCount(), rendersBefore + 5);
  EXPECT_EQ(counting->layouts, layouts);
}

// A representable recording the calls it gets.
struct Calls {
  int coordinators = 0, makes = 0, updates = 0;
  std::vector<std::string> dismantled;  // the titles of the controllers dismantled
};
class Coordinator {
 public:
  int id = 7;
  Calls* calls = nullptr;
};
struct Hosted : UIViewControllerRepresentable<uikit::UIViewController, Coordinator> {
  Calls* calls;
  int version;
  Hosted(Calls* calls, int version) : calls(calls), version(version) {}
  std::shared_ptr<Coordinator> makeCoordinator() const override {
    ++calls->coordinators;
    auto coordinator = std::make_shared<Coordinator>();
    coordinator->calls = calls;
    return coordinator;
  }
  std::shared_ptr<uikit::UIViewController> makeUIViewController(Context& context) const override {
    ++calls->makes;
    EXPECT_EQ(context.coordinator->id, 7);
    return std::make_shared<uikit::UIViewController>();
  }
  void updateUIViewController(uikit::UIViewController& controller, Context&) const override {
    ++calls->updates;
    controller.setTitle("v" + std::to_string(version));
  }
  // Its own version, as the platform lets a representable declare.
  static void dismantleUIViewController(uikit::UIViewController& controller,
                                        const std::shared_ptr<Coordinator>& coordinator) {
    coordinator->calls->dismantled.push_back(controller.title().value_or(""));
  }
};

struct RepresentableHost : View {
  State<int> version{1};
  State<bool> shown{true};
  Calls* calls;
  explicit RepresentableHost(Calls* calls) : calls(calls) {}
  AnyView body() const override {
    auto version = this->version;
    auto shown = this->shown;
    if (!shown.get()) return Text("gone");
    return AnyView(Hosted(calls, version.get())).ignoresSafeArea();
  }
};

TEST_F(SwiftUITest, RepresentableIsMadeOnceUpdatedEachTimeAndRemovedWithItsPlace) {
  Calls calls;
  auto controller = host(RepresentableHost(&calls));
  ASSERT_EQ(controller->children().size(), 1u);
  auto child = controller->children()[0];
  EXPECT_TRUE(child->isVisible());
  // It fills the whole view, safe area included.
  EXPECT_EQ(child->view()->frame(), controller->view()->bounds());

  auto state = controller->rootView();
  state.version.set(2);  // the view copy shares its state storage
  dispatch::MainLoop::drain();
  EXPECT_EQ(calls.coordinators, 1);
  EXPECT_EQ(calls.makes, 1);
  EXPECT_EQ(calls.updates, 2);
  EXPECT_EQ(child->title(), "v2");
  EXPECT_TRUE(calls.dismantled.empty());

  state.shown.set(false);
  dispatch::MainLoop::drain();
  EXPECT_EQ(calls.dismantled, (std::vector<std::string>{"v2"}));
  EXPECT_TRUE(controller->children().empty());
  EXPECT_FALSE(child->isVisible());
  EXPECT_FALSE(child->view()->superview());
}

struct Removable : View {
  State<bool> carriesCover{true};
  State<bool> presented{false};
  std::vector<std::string>* log;
  explicit Removable(std::vector<std::string>* log) : log(log) {}
  AnyView body() const override {
    auto log = this->log;
    if (!carriesCover.get()) return Text("plain");
    return Text("with cover")
        .fullScreenCover(
            presented.projectedValue(), [log] { log->push_back("onDismiss"); },
            [] { return AnyView(Text("cover")); });
  }
};

TEST_F(SwiftUITest, CoverGoesWithTheViewThatCarriedItAndWithItsHost) {
  std::vector<std::string> log;
  auto controller = host(Removable(&log));
  auto state = controller->rootView();
  state.presented.set(true);
  settle();
  ASSERT_TRUE(controller->presentedViewController());

  // The carrying view leaves the tree: the cover is dismissed, and nothing
  // is called back for a view that no longer exists.
  state.carriesCover.set(false);
  settle();
  EXPECT_FALSE(controller->presentedViewController());
  EXPECT_TRUE(log.empty());

  // The host itself released while its cover is up: no crash, no callback.
  state.carriesCover.set(true);
  settle();
  ASSERT_TRUE(controller->presentedViewController());
  std::weak_ptr<uikit::UIViewController> weak = controller;
  window->setRootViewController(nullptr);
  controller.reset();
  settle();
  EXPECT_TRUE(log.empty());
}

}  // namespace
}  // namespace swiftui
