#include <gtest/gtest.h>
#include <morvik/platform/dispatch.h>
#include <morvik/platform/foundation/Console.h>
#include <morvik/platform/uikit.h>
#include <morvik/support/Extensions.h>

#include <stdexcept>

#include "morvik/api/models/Response.h"
#include "morvik/support/NibView.h"
#include "morvik/support/RuntimeAdditions.h"
#include "morvik/support/UIViewX.h"

using foundation::Date;
using SearchDirection = foundation::Calendar::SearchDirection;
using quartz::CGColor;
using quartz::CGPoint;
using quartz::CGRect;
using quartz::CGSize;
using uikit::UIColor;

// A host type made codable the host's way; encoding fails for a negative
// count (say, a value the host's encoder refuses).
struct Tally {
  int count = 0;
  friend bool operator==(const Tally&, const Tally&) = default;
};
template <>
struct morvik::JSONCoder<Tally> {
  static std::string encode(const Tally& t) {
    if (t.count < 0) throw std::invalid_argument("negative tally");
    return "{\"count\":" + std::to_string(t.count) + "}";
  }
  static Tally decode(std::string_view json) {
    const std::string prefix = "{\"count\":";
    if (json.substr(0, prefix.size()) != prefix || json.back() != '}')
      throw std::invalid_argument("not a tally");
    return Tally{std::stoi(std::string(json.substr(prefix.size())))};
  }
};

namespace {

class ExtensionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dispatch::clock::useManualClock();
    // Earlier suites in the process may have replaced the hooks.
    morvik::installExtensions();
  }
  void TearDown() override {
    settle();
    dispatch::clock::useRealClock();
  }
  static void settle() {
    dispatch::MainLoop::drain();
    dispatch::clock::advance(2);
    dispatch::MainLoop::drain();
  }
};

std::shared_ptr<uikit::UILabel> placeholder(uikit::UIView& into, CGRect frame = CGRect{{0, 0}, {10, 21}}) {
  auto label = std::make_shared<uikit::UILabel>(frame);
  label->setTag(morvik::kTextViewPlaceholderTag);
  into.addSubview(label);
  return label;
}

// --- Text views ---

TEST_F(ExtensionsTest, TextViewKeepsItsPlaceholderAtTheFirstLineAsItsBoundsChange) {
  auto textView = std::make_shared<uikit::UITextView>(CGRect{{0, 0}, {200, 80}});
  auto label = placeholder(*textView);
  textView->setFrame({{10, 10}, {300, 120}});
  EXPECT_EQ(label->frame(), (CGRect{{5, 6}, {290, 21}}));

  textView->textContainer().lineFragmentPadding = 12;
  textView->setTextContainerInset({20, 4, 8, 4});
  label->setFrame({{0, 0}, {1, 33}});
  textView->setBounds({{0, 0}, {250, 90}});
  EXPECT_EQ(label->frame(), (CGRect{{12, 18}, {226, 33}}));
}

TEST_F(ExtensionsTest, TypingHidesThePlaceholderAndClearingShowsIt) {
  auto textView = std::make_shared<uikit::UITextView>(CGRect{{0, 0}, {200, 80}});
  textView->delegate = textView;
  auto label = placeholder(*textView);
  textView->insertText("é");
  EXPECT_TRUE(label->isHidden());
  textView->deleteBackward();
  EXPECT_FALSE(label->isHidden());

  // The receiver decides, whatever text view is named as the argument.
  auto other = std::make_shared<uikit::UITextView>();
  other->setText("typed elsewhere");
  textView->textViewDidChange(*other);
  EXPECT_FALSE(label->isHidden());
  textView->setText("set in code");
  other->setText("");
  textView->textViewDidChange(*other);
  EXPECT_TRUE(label->isHidden());
}

TEST_F(ExtensionsTest, TextViewsWithoutALabelPlaceholderAreLeftAlone) {
  struct Case {
    const char* name;
    std::function<std::shared_ptr<uikit::UIView>(uikit::UITextView&)> add;
  };
  const Case cases[] = {
      {"no tagged subview",
       [](uikit::UITextView& tv) {
         auto v = std::make_shared<uikit::UILabel>(CGRect{{3, 3}, {7, 7}});
         tv.addSubview(v);
         return v;
       }},
      {"a plain view under the tag",
       [](uikit::UITextView& tv) {
         auto v = std::make_shared<uikit::UIView>(CGRect{{3, 3}, {7, 7}});
         v->setTag(morvik::kTextViewPlaceholderTag);
         tv.addSubview(v);
         return v;
       }},
      {"the text view itself tagged",
       [](uikit::UITextView& tv) {
         tv.setTag(morvik::kTextViewPlaceholderTag);
         auto v = std::make_shared<uikit::UILabel>(CGRect{{3, 3}, {7, 7}});
         tv.addSubview(v);
         return v;
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto textView = std::make_shared<uikit::UITextView>(CGRect{{0, 0}, {200, 80}});
    textView->delegate = textView;
    auto view = c.add(*textView);
    textView->setFrame({{0, 0}, {300, 100}});
    textView->insertText("x");
    EXPECT_EQ(view->frame(), (CGRect{{3, 3}, {7, 7}}));
    EXPECT_FALSE(view->isHidden());
    EXPECT_FALSE(textView->isHidden());
  }
}

// --- Controllers ---

class HostController : public uikit::UIViewController {
 public:
  int backs = 0;
  void onBackClicked() override {
    ++backs;
    UIViewController::onBackClicked();
  }
};

TEST_F(ExtensionsTest, DismissKeyboardResignsTheFieldInsideTheControllersView) {
  auto controller = std::make_shared<uikit::UIViewController>();
  auto field = std::make_shared<uikit::UITextField>();
  auto container = std::make_shared<uikit::UIView>();
  container->addSubview(field);
  controller->view()->addSubview(container);
  auto window = std::make_shared<uikit::UIWindow>(CGRect{{0, 0}, {390, 844}});
  window->setRootViewController(controller);
  window->makeKeyAndVisible();
  ASSERT_TRUE(field->becomeFirstResponder());
  controller->dismissKeyboard();
  EXPECT_FALSE(field->isFirstResponder());
}

TEST_F(ExtensionsTest, BackPopsOnALaterTurnOfTheMainQueueAndOnlyInsideANavigationStack) {
  auto root = std::make_shared<uikit::UIViewController>();
  auto top = std::make_shared<HostController>();
  auto navigation = std::make_shared<uikit::UINavigationController>(root);
  navigation->pushViewController(top, false);
  settle();
  ASSERT_EQ(navigation->viewControllers().size(), 2u);

  top->onBackClicked();  // the host's override calls the base: ours runs
  EXPECT_EQ(top->backs, 1);
  EXPECT_EQ(navigation->viewControllers().size(), 2u) << "popped at once, not later";
  dispatch::MainLoop::drain();
  EXPECT_EQ(navigation->viewControllers().size(), 1u);

  // The block holds the controller: it pops even when the caller let go.
  navigation->pushViewController(std::make_shared<uikit::UIViewController>(), false);
  settle();
  navigation->viewControllers().back()->onBackClicked();
  dispatch::MainLoop::drain();
  EXPECT_EQ(navigation->viewControllers().size(), 1u);

  auto alone = std::make_shared<uikit::UIViewController>();
  alone->onBackClicked();
  settle();
  EXPECT_FALSE(alone->navigationController());
}

// --- Labels ---

TEST_F(ExtensionsTest, RequiredHeightMeasuresAtTheLabelsWidthWithoutChangingIt) {
  const auto font = uikit::UIFont::systemFont(10);  // 5.5 pt per character, 12 pt lines
  struct Case {
    const char* name;
    std::optional<std::string> text;
    std::optional<std::string> attributed;
    double width;
    double height;
  };
  const Case cases[] = {
      {"one line", "short", std::nullopt, 100, 12},
      {"words wrap on three lines", "alpha beta gamma delta", std::nullopt, 60, 36},
      {"paragraphs", "a\nb\nc\nd", std::nullopt, 100, 48},
      {"attributed text wins", "x", "one two three four five", 60, 36},
      {"no text", std::nullopt, std::nullopt, 100, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto label = std::make_shared<uikit::UILabel>(CGRect{{4, 5}, {c.width, 12}});
    label->setFont(font);
    label->setText(c.text);
    if (c.attributed) label->setAttributedText(foundation::NSAttributedString(*c.attributed));
    const auto before = label->frame();
    EXPECT_DOUBLE_EQ(morvik::requiredHeight(*label), c.height);
    EXPECT_EQ(label->frame(), before);
    EXPECT_EQ(label->numberOfLines(), 1);
  }
}

// --- Dates ---

TEST_F(ExtensionsTest, WeekdaysHaveTheGregorianNumbers) {
  for (int raw = -1; raw <= 9; ++raw) {
    auto weekday = morvik::makeWeekday(raw);
    EXPECT_EQ(weekday.has_value(), raw >= 1 && raw <= 7) << raw;
    if (weekday) {
      EXPECT_EQ(morvik::rawValue(*weekday), raw);
    }
  }
  EXPECT_EQ(morvik::makeWeekday(1), morvik::Weekday::sunday);
  EXPECT_EQ(morvik::makeWeekday(7), morvik::Weekday::saturday);
}

TEST_F(ExtensionsTest, NextWeekdayAcrossWeeksYearsAndDaylightSaving) {
  using morvik::Weekday;
  const auto berlin = *foundation::TimeZone::named("Europe/Berlin");
  const auto utc = foundation::TimeZone::withSecondsFromGMT(0);
  struct Case {
    const char* name;
    double from;
    Weekday weekday;
    SearchDirection direction;
    bool considerToday;
    const foundation::TimeZone* zone;
    double expected;
  };
  const Case cases[] = {
      {"a Monday counts itself", 1796655600, Weekday::monday, SearchDirection::forward, true, &utc,
       1796655600},
      {"or not: the next week's", 1796655600, Weekday::monday, SearchDirection::forward, false, &utc,
       1797206400},
      {"backward: the week before", 1796655600, Weekday::monday, SearchDirection::backward, false, &utc,
       1795996800},
      {"backward counting itself", 1796655600, Weekday::monday, SearchDirection::backward, true, &utc,
       1796655600},
      {"the year turns", 1798736400, Weekday::monday, SearchDirection::forward, true, &berlin, 1799017200},
      {"the next day is in the new year", 1798736400, Weekday::friday, SearchDirection::forward, false,
       &berlin, 1798758000},
      {"the clocks go forward on the way", 1774695600, Weekday::monday, SearchDirection::forward, false,
       &berlin, 1774821600},
      {"the day of the change", 1774695600, Weekday::sunday, SearchDirection::forward, true, &berlin,
       1774738800},
      // 31 December 2026, 23:30 in Berlin is still Thursday there, Friday in UTC+2.
      {"the zone decides the day", 1798756200, Weekday::friday, SearchDirection::forward, true, &berlin,
       1798758000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(
        morvik::next(Date(c.from), c.weekday, c.direction, c.considerToday, *c.zone).timeIntervalSince1970(),
        c.expected);
  }
}

// --- Attributed strings ---

TEST_F(ExtensionsTest, SetAsLinkMarksOnlyTheFirstExactOccurrence) {
  foundation::NSMutableAttributedString text("Read the terms. Terms apply; the terms change.");
  EXPECT_TRUE(morvik::setAsLink(text, "terms", "https://example.com/terms?lang=en"));
  const auto first = text.string().find("terms");
  foundation::NSRange range;
  EXPECT_EQ(text.attributes(first, &range).link, "https://example.com/terms?lang=en");
  EXPECT_EQ(range, (foundation::NSRange{first, 5}));
  EXPECT_FALSE(text.attributes(text.string().find("Terms")).link);
  EXPECT_FALSE(text.attributes(text.string().rfind("terms")).link);

  const auto before = text;
  EXPECT_FALSE(morvik::setAsLink(text, "conditions", "https://example.com"));
  EXPECT_FALSE(morvik::setAsLink(text, "", "https://example.com"));
  EXPECT_EQ(text, before);
}

// --- User defaults ---

TEST_F(ExtensionsTest, RecordsRoundTripThroughTheDefaults) {
  foundation::UserDefaults defaults;
  morvik::LogInResponse user;
  user.id = "u-17";
  user.fullName = "Zoë Ōkubo";
  user.auth = morvik::Auth{"Bearer", 3600, "tok\"en", std::nullopt};
  morvik::setStruct(defaults, std::optional(user), "user_data");
  ASSERT_TRUE(defaults.data("user_data"));
  auto back = morvik::structData<morvik::LogInResponse>(defaults, "user_data");
  ASSERT_TRUE(back);
  EXPECT_EQ(back->fullName, user.fullName);
  EXPECT_EQ(back->auth->accessToken, "tok\"en");
  EXPECT_EQ(back->auth->expiresIn, 3600);

  // An absent value is stored as null, which reads back as nothing.
  morvik::setStruct(defaults, std::optional<morvik::LogInResponse>(), "user_data");
  EXPECT_EQ(defaults.data("user_data")->rawString(), "null");
  EXPECT_FALSE(morvik::structData<morvik::LogInResponse>(defaults, "user_data"));

  // Data of another shape, or no data at all, reads as nothing.
  defaults.set(foundation::Data::fromString("{\"_id\": 5}"), "user_data");
  EXPECT_FALSE(morvik::structData<morvik::LogInResponse>(defaults, "user_data"));
  defaults.set("a string", "user_data");
  EXPECT_FALSE(morvik::structData<morvik::LogInResponse>(defaults, "user_data"));
  EXPECT_FALSE(morvik::structData<morvik::LogInResponse>(defaults, "missing"));
}

TEST_F(ExtensionsTest, AValueThatFailsToEncodeRemovesTheEntry) {
  foundation::UserDefaults defaults;
  morvik::setStruct(defaults, std::optional(Tally{3}), "tally");
  EXPECT_EQ(morvik::structData<Tally>(defaults, "tally"), Tally{3});
  morvik::setStruct(defaults, Tally{-1}, "tally");
  EXPECT_FALSE(defaults.object("tally"));
}

TEST_F(ExtensionsTest, ArraysStoreOneDataItemPerElement) {
  foundation::UserDefaults defaults;
  morvik::setStructArray(defaults, std::vector<Tally>{{1}, {-2}, {3}}, "tallies");
  // The element that cannot be encoded is left out; the rest keep their order.
  ASSERT_EQ(defaults.array("tallies")->size(), 2u);
  EXPECT_EQ(morvik::structArrayData<Tally>(defaults, "tallies"), (std::vector<Tally>{{1}, {3}}));

  struct Case {
    const char* name;
    foundation::PropertyListValue stored;
    std::vector<Tally> expected;
  };
  const auto item = [](const char* json) {
    return foundation::PropertyListValue(foundation::Data::fromString(json));
  };
  const Case cases[] = {
      {"one item is not data", foundation::PropertyListArray{item("{\"count\":1}"), "{\"count\":2}"}, {}},
      {"an item does not decode: skipped",
       foundation::PropertyListArray{item("{\"count\":1}"), item("[]"), item("{\"count\":4}")},
       {{1}, {4}}},
      {"not an array", item("{\"count\":1}"), {}},
      {"empty", foundation::PropertyListArray{}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    defaults.set(c.stored, "tallies");
    EXPECT_EQ(morvik::structArrayData<Tally>(defaults, "tallies"), c.expected);
  }
  EXPECT_TRUE(morvik::structArrayData<Tally>(defaults, "missing").empty());
}

// --- Gradient view ---

TEST_F(ExtensionsTest, AFreshGradientViewLeavesItsLayerAtItsDefaults) {
  auto view = std::make_shared<morvik::UIViewX>(CGRect{{0, 0}, {100, 50}});
  const quartz::CAGradientLayer untouched;
  auto layer = view->gradientLayer();
  ASSERT_TRUE(std::dynamic_pointer_cast<quartz::CAGradientLayer>(view->layer()));
  EXPECT_TRUE(layer->colors().empty());
  EXPECT_EQ(layer->startPoint(), untouched.startPoint());
  EXPECT_EQ(layer->borderWidth(), 0);
  EXPECT_EQ(layer->borderColor(), untouched.borderColor());
  EXPECT_EQ(layer->shadowOpacity(), 0);
  EXPECT_EQ(layer->shadowRadius(), untouched.shadowRadius());
  EXPECT_EQ(view->firstColor(), UIColor::white());
  EXPECT_EQ(view->secondColor(), UIColor::black());
  EXPECT_EQ(view->shadowColor(), UIColor::clear());
}

TEST_F(ExtensionsTest, GradientFollowsItsColoursAndDirection) {
  auto view = std::make_shared<morvik::UIViewX>(CGRect{{0, 0}, {100, 50}});
  auto layer = view->gradientLayer();
  view->setFirstColor(UIColor::red());
  EXPECT_EQ(layer->colors(), (std::vector<CGColor>{UIColor::red().cgColor(), UIColor::black().cgColor()}));
  EXPECT_EQ(layer->startPoint(), (CGPoint{0, 0}));
  EXPECT_EQ(layer->endPoint(), (CGPoint{0, 1}));
  EXPECT_FALSE(layer->locations());
  view->setHorizontalGradient(true);
  EXPECT_EQ(layer->colors(), (std::vector<CGColor>{UIColor::red().cgColor(), UIColor::black().cgColor()}));
  EXPECT_EQ(layer->startPoint(), (CGPoint{0, 0.5}));
  EXPECT_EQ(layer->endPoint(), (CGPoint{1, 0.5}));
  view->setSecondColor(UIColor::blue());
  EXPECT_EQ(layer->colors(), (std::vector<CGColor>{UIColor::red().cgColor(), UIColor::blue().cgColor()}));
  EXPECT_EQ(layer->colorAt(1), UIColor::blue().cgColor());
  view->setHorizontalGradient(false);
  EXPECT_EQ(layer->endPoint(), (CGPoint{0, 1}));
}

TEST_F(ExtensionsTest, BorderCornerAndShadowPassToTheLayer) {
  auto view = std::make_shared<morvik::UIViewX>();
  auto layer = view->layer();
  view->setBorderColor(UIColor::green());
  view->setBorderWidth(2.5);
  view->setCornerRadius(9);
  view->setShadowOpacity(0.3);
  view->setShadowColor(UIColor(0.1, 0.2, 0.3, 0.4));
  view->setShadowRadius(6);
  EXPECT_EQ(layer->borderColor(), UIColor::green().cgColor());
  EXPECT_EQ(layer->borderWidth(), 2.5);
  EXPECT_EQ(layer->cornerRadius(), 9);
  EXPECT_FLOAT_EQ(layer->shadowOpacity(), 0.3f);
  EXPECT_EQ(layer->shadowColor(), UIColor(0.1, 0.2, 0.3, 0.4).cgColor());
  EXPECT_EQ(layer->shadowRadius(), 6);
  EXPECT_EQ(view->cornerRadius(), 9);
  EXPECT_TRUE(view->gradientLayer()->colors().empty());

  // shadowOffset is the layer's own value, both ways.
  layer->setShadowOffset({3, -7});
  EXPECT_EQ(view->shadowOffset(), (CGSize{3, -7}));
  view->setShadowOffset({0, 4});
  EXPECT_EQ(layer->shadowOffset(), (CGSize{0, 4}));
}

// --- Through interface files ---

std::shared_ptr<foundation::Bundle> fixtureBundle() {
  return foundation::Bundle::open(MORVIK_FIXTURES_DIR "/interface/Interface.bundle");
}

#define MORVIK_TEST_NIB_VIEW(Name)                                    \
  class Name : public morvik::NibView {                               \
   public:                                                            \
    using NibView::NibView;                                           \
    std::string className() const override { return "Tests." #Name; } \
  };
MORVIK_TEST_NIB_VIEW(ProfileCard)
MORVIK_TEST_NIB_VIEW(PickerFirst)
MORVIK_TEST_NIB_VIEW(Truncated)
MORVIK_TEST_NIB_VIEW(WrongType)
MORVIK_TEST_NIB_VIEW(NoSuchCard)
MORVIK_TEST_NIB_VIEW(SelfNamed)
MORVIK_TEST_NIB_VIEW(CycleA)
MORVIK_TEST_NIB_VIEW(CycleB)

template <class T>
void registerCard() {
  uikit::ClassRegistry::shared().registerViewClass(
      "Tests." + morvik::NibView::nibName(T().className()), "NibView",
      [](const CGRect& frame) { return morvik::NibView::make<T>(frame); }, fixtureBundle());
}

class InterfaceFileTest : public ExtensionsTest {
 protected:
  static void SetUpTestSuite() {
    morvik::loadRuntimeAdditions();  // what the SDK's first use does
    registerCard<ProfileCard>();
    registerCard<PickerFirst>();
    registerCard<Truncated>();
    registerCard<WrongType>();
    registerCard<NoSuchCard>();
    registerCard<SelfNamed>();
    registerCard<CycleA>();
    registerCard<CycleB>();
  }
  static uikit::UINibInstantiation load(const std::string& name) {
    return uikit::UINib::make(name, fixtureBundle())->instantiate(nullptr);
  }
};

TEST_F(InterfaceFileTest, GradientViewsDecodeWithTheirProperties) {
  auto banner = load("GradientBanner");
  ASSERT_TRUE(banner.ok()) << *banner.error;
  auto view = std::dynamic_pointer_cast<morvik::UIViewX>(banner.topLevelObjects.at(0).view);
  ASSERT_TRUE(view);
  EXPECT_EQ(view->frame(), (CGRect{{0, 0}, {375, 120}}));
  const auto red = UIColor(0xE8 / 255.0, 0x45 / 255.0, 0x3C / 255.0, 1);
  EXPECT_EQ(view->gradientLayer()->colors(),
            (std::vector<CGColor>{red.cgColor(), UIColor::black().cgColor()}));
  EXPECT_EQ(view->gradientLayer()->startPoint(), (CGPoint{0, 0}));
  EXPECT_EQ(view->gradientLayer()->endPoint(), (CGPoint{0, 1}));
  EXPECT_EQ(view->layer()->borderWidth(), 0);

  auto card = load("GradientCard");
  ASSERT_TRUE(card.ok()) << *card.error;
  auto full = std::dynamic_pointer_cast<morvik::UIViewX>(card.topLevelObjects.at(0).view);
  ASSERT_TRUE(full);
  EXPECT_EQ(full->gradientLayer()->colors(), (std::vector<CGColor>{UIColor(0.2, 0.4, 0.8, 1).cgColor(),
                                                                   UIColor(0, 0, 0, 128 / 255.0).cgColor()}));
  EXPECT_EQ(full->gradientLayer()->startPoint(), (CGPoint{0, 0.5}));
  EXPECT_EQ(full->gradientLayer()->endPoint(), (CGPoint{1, 0.5}));
  EXPECT_EQ(full->layer()->borderColor(), UIColor::white().cgColor());
  EXPECT_EQ(full->layer()->borderWidth(), 2);
  EXPECT_EQ(full->layer()->cornerRadius(), 12);
  EXPECT_EQ(full->layer()->shadowColor(), UIColor::black().cgColor());
  EXPECT_FLOAT_EQ(full->layer()->shadowOpacity(), 0.35f);
  EXPECT_EQ(full->layer()->shadowRadius(), 8);
  EXPECT_EQ(full->shadowOffset(), (CGSize{0, 4}));

  auto wrong = load("WrongType");
  ASSERT_FALSE(wrong.ok());
  EXPECT_NE(wrong.error->find("property \"cornerRadius\" of \"UIViewX\" wants a number, got \"12\""),
            std::string::npos)
      << *wrong.error;
}

TEST_F(InterfaceFileTest, NibViewLoadsItsContentAndPinsItToItsEdges) {
  foundation::ScopedConsoleCapture console;
  auto made = uikit::ClassRegistry::shared().make("Tests.ProfileCard", CGRect{{0, 0}, {320, 72}});
  ASSERT_TRUE(made && made->view);
  auto card = std::dynamic_pointer_cast<ProfileCard>(made->view);
  ASSERT_TRUE(card);
  EXPECT_TRUE(console.lines().empty()) << console.lines().front();
  EXPECT_EQ(card->backgroundColor(), UIColor::clear());
  auto content = card->view();
  ASSERT_TRUE(content);
  ASSERT_EQ(card->subviews().size(), 1u);
  EXPECT_EQ(card->subviews()[0], content);
  EXPECT_EQ(content->tag(), 42);
  EXPECT_FALSE(content->translatesAutoresizingMaskIntoConstraints());
  EXPECT_EQ(content->frame(), (CGRect{{0, 0}, {320, 72}}));
  ASSERT_EQ(content->subviews().size(), 3u);
  auto avatar = std::dynamic_pointer_cast<morvik::UIViewX>(content->subviews()[0]);
  ASSERT_TRUE(avatar);
  EXPECT_EQ(avatar->layer()->cornerRadius(), 24);
  EXPECT_EQ(std::dynamic_pointer_cast<uikit::UILabel>(content->subviews()[1])->text(), "Ada Lovelace");
  EXPECT_EQ(card->constraints().size() + content->constraints().size(), 4u);  // held by their first items

  card->setFrame({{0, 0}, {414, 96}});
  card->layoutIfNeeded();
  EXPECT_EQ(content->frame(), (CGRect{{0, 0}, {414, 96}}));

  // Made in code, it loads the same file.
  auto inCode = morvik::NibView::make<ProfileCard>(CGRect{{0, 0}, {100, 40}});
  ASSERT_TRUE(inCode->view());
  EXPECT_NE(inCode->view(), content);
  EXPECT_EQ(inCode->view()->frame(), (CGRect{{0, 0}, {100, 40}}));
}

TEST_F(InterfaceFileTest, NibViewReportsContentItCannotLoadAndStaysUsable) {
  struct Case {
    const char* cls;
    const char* message;
  };
  const Case cases[] = {
      {"Tests.PickerFirst",
       "first top-level object of interface file \"PickerFirst\" is a \"ImagePicker\", not a view"},
      {"Tests.NoSuchCard", "Could not load the interface file \"NoSuchCard.nib\""},
      {"Tests.Truncated", "Interface file \"Truncated\" is not valid JSON"},
      {"Tests.WrongType", "wants a number"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.cls);
    foundation::ScopedConsoleCapture console;
    auto made = uikit::ClassRegistry::shared().make(c.cls, CGRect{{0, 0}, {50, 50}});
    ASSERT_TRUE(made && made->view);
    auto view = std::dynamic_pointer_cast<morvik::NibView>(made->view);
    ASSERT_TRUE(view);
    EXPECT_FALSE(view->view());
    EXPECT_TRUE(view->subviews().empty());
    ASSERT_EQ(console.lines().size(), 1u);
    EXPECT_EQ(console.lines()[0].rfind("NibView: ", 0), 0u) << console.lines()[0];
    EXPECT_NE(console.lines()[0].find(c.message), std::string::npos) << console.lines()[0];
    view->setFrame({{0, 0}, {80, 80}});
    view->layoutIfNeeded();
  }
}

TEST_F(InterfaceFileTest, NibViewWhoseFileLeadsBackToItsOwnClassIsRefusedNotRecursed) {
  // Each file holds a NibView that loads the same file again, at once or
  // through another file: the inner load is refused, the outer ones finish.
  struct Case {
    const char* cls;
    const char* refusedFile;
    int levels;  // NibViews made before the refusal
  };
  const Case cases[] = {{"Tests.SelfNamed", "SelfNamed", 2}, {"Tests.CycleA", "CycleA", 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.cls);
    foundation::ScopedConsoleCapture console;
    auto made = uikit::ClassRegistry::shared().make(c.cls, CGRect{{0, 0}, {50, 50}});
    ASSERT_TRUE(made && made->view);
    ASSERT_EQ(console.lines().size(), 1u);
    EXPECT_EQ(console.lines()[0],
              std::string("NibView: Interface file \"") + c.refusedFile +
                  "\" is already being instantiated: an object in it loads the file again");
    int levels = 0;
    std::shared_ptr<uikit::UIView> at = made->view;
    while (auto nib = std::dynamic_pointer_cast<morvik::NibView>(at)) {
      ++levels;
      at = nib->view();
      if (at && !std::dynamic_pointer_cast<morvik::NibView>(at) && !at->subviews().empty())
        at = at->subviews()[0];
    }
    EXPECT_EQ(levels, c.levels);
    // Loading it again later works the same way: the refusal left nothing behind.
    EXPECT_TRUE(uikit::UINib::make(c.refusedFile, fixtureBundle())->instantiate(nullptr).ok());
  }
}

TEST(NibViewName, IsTheClassNameWithoutItsModule) {
  EXPECT_EQ(morvik::NibView::nibName("ProfileCard"), "ProfileCard");
  EXPECT_EQ(morvik::NibView::nibName("HostApp.ProfileCard"), "ProfileCard");
  EXPECT_EQ(morvik::NibView::nibName("A.B.Card"), "Card");
  EXPECT_EQ(morvik::NibView::nibName("Trailing."), "");
}

}  // namespace
