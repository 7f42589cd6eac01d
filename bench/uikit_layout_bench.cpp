// Layout of one screen of about 200 views (a column of step cards built from
// stack views and anchors): the cost of one full constraint solve and the
// layoutSubviews pass that applies it.
#include <benchmark/benchmark.h>
#include <morvik/platform/uikit.h>

namespace {

using namespace uikit;

std::shared_ptr<UIView> constrained(std::shared_ptr<UIView> v) {
  v->setTranslatesAutoresizingMaskIntoConstraints(false);
  return v;
}

// A card like the step list's: image, two labels in a column, status icon,
// chevron, inside a container that fills the card.
std::shared_ptr<UIView> makeCard(int index) {
  auto card = constrained(std::make_shared<UIControl>());
  auto container = constrained(std::make_shared<UIView>());
  auto image = constrained(std::make_shared<UIImageView>());
  auto step = std::make_shared<UILabel>();
  step->setText("Step " + std::to_string(index + 1));
  step->setFont(UIFont::systemFont(16, UIFont::Weight::semibold));
  auto title = std::make_shared<UILabel>();
  title->setText("Document side number " + std::to_string(index + 1));
  title->setNumberOfLines(2);
  title->setFont(UIFont::systemFont(18, UIFont::Weight::bold));
  auto texts = constrained(std::make_shared<UIStackView>(std::vector<std::shared_ptr<UIView>>{step, title}));
  std::static_pointer_cast<UIStackView>(texts)->setAxis(NSLayoutConstraintAxis::vertical);
  std::static_pointer_cast<UIStackView>(texts)->setSpacing(4);
  auto status = constrained(std::make_shared<UIImageView>());
  auto chevron = constrained(std::make_shared<UIImageView>());
  status->setContentHuggingPriority(UILayoutPriority::required, NSLayoutConstraintAxis::horizontal);
  chevron->setContentHuggingPriority(UILayoutPriority::required, NSLayoutConstraintAxis::horizontal);
  card->addSubview(container);
  for (auto& v : {image, texts, status, chevron}) container->addSubview(v);
  NSLayoutConstraint::activate({
      container->topAnchor().constraintEqualTo(card->topAnchor()),
      container->leadingAnchor().constraintEqualTo(card->leadingAnchor()),
      container->trailingAnchor().constraintEqualTo(card->trailingAnchor()),
      container->bottomAnchor().constraintEqualTo(card->bottomAnchor()),
      image->leadingAnchor().constraintEqualTo(container->leadingAnchor(), 16),
      image->centerYAnchor().constraintEqualTo(container->centerYAnchor()),
      image->widthAnchor().constraintEqualToConstant(88),
      image->heightAnchor().constraintEqualToConstant(64),
      texts->leadingAnchor().constraintEqualTo(image->trailingAnchor(), 16),
      texts->centerYAnchor().constraintEqualTo(container->centerYAnchor()),
      texts->trailingAnchor().constraintLessThanOrEqualTo(status->leadingAnchor(), -8),
      status->trailingAnchor().constraintEqualTo(chevron->leadingAnchor(), -12),
      status->centerYAnchor().constraintEqualTo(container->centerYAnchor()),
      status->widthAnchor().constraintEqualToConstant(24),
      status->heightAnchor().constraintEqualToConstant(24),
      chevron->trailingAnchor().constraintEqualTo(container->trailingAnchor(), -16),
      chevron->centerYAnchor().constraintEqualTo(container->centerYAnchor()),
      chevron->widthAnchor().constraintEqualToConstant(12),
      chevron->heightAnchor().constraintEqualToConstant(20),
      card->heightAnchor().constraintEqualToConstant(96),
  });
  return card;
}

int countViews(const UIView& v) {
  int n = 1;
  for (auto& s : v.subviews()) n += countViews(*s);
  return n;
}

void BM_FullLayoutOfAScreen(benchmark::State& state) {
  auto root = std::make_shared<UIView>(CGRect::make(0, 0, 390, 844));
  auto column = std::make_shared<UIStackView>();
  column->setTranslatesAutoresizingMaskIntoConstraints(false);
  column->setAxis(NSLayoutConstraintAxis::vertical);
  column->setSpacing(16);
  root->addSubview(column);
  NSLayoutConstraint::activate({
      column->topAnchor().constraintEqualTo(root->safeAreaLayoutGuide()->topAnchor(), 16),
      column->leadingAnchor().constraintEqualTo(root->leadingAnchor(), 16),
      column->trailingAnchor().constraintEqualTo(root->trailingAnchor(), -16),
  });
  for (int i = 0; i < 26; ++i) column->addArrangedSubview(makeCard(i));
  auto buttons = std::make_shared<UIStackView>();
  buttons->setDistribution(UIStackView::Distribution::fillEqually);
  buttons->setSpacing(16);
  for (const char* t : {"Back", "Reset All", "Continue", "Start", "Submit"}) {
    auto b = std::make_shared<UIButton>(UIButton::ButtonType::system);
    b->setTitle(std::string(t), UIControlState::normal);
    buttons->addArrangedSubview(b);
  }
  column->addArrangedSubview(buttons);
  root->layoutIfNeeded();
  bool wide = false;
  for (auto _ : state) {
    // A size change invalidates everything: one full solve and layout pass.
    wide = !wide;
    root->setFrame(CGRect::make(0, 0, wide ? 391 : 390, 844));
    root->layoutIfNeeded();
  }
  state.counters["views"] = countViews(*root);
}
BENCHMARK(BM_FullLayoutOfAScreen)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
