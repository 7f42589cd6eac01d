// VerifiedScreen: the server's verdict of a document scan as one scrolling
// column of section headings and titled value cards, ended by Done.
//
// The creator sets verificationData before pushing the screen. The content is
// built once, when the view loads; Done hands over the record as it is at the
// moment of the tap (MorvikVerify::completeVerification) and dismisses the
// navigation controller that holds the screen, that is the whole flow.
// Without a record the screen shows "No Data" and has no Done button.
//
// Main thread only.
#pragma once

#include <morvik/api/models/DocumentVerificationData.h>
#include <morvik/platform/foundation/Bundle.h>
#include <morvik/platform/uikit.h>

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace morvik {

// Server text shown in a label (a result row, an alert) is cut to this many
// characters and ended with "…": a label lays out and renders all it holds,
// and a reply may carry megabytes in one field.
inline constexpr std::size_t kMaxShownCharacters = 300;
// `text` when it has at most `maxCharacters` characters (code points);
// otherwise its first `maxCharacters` and "…".
std::string boundedDisplayText(std::string_view text, std::size_t maxCharacters = kMaxShownCharacters);

class VerifiedScreen : public uikit::UIViewController {
 public:
  VerifiedScreen();

  std::string className() const override { return "VerifiedScreen"; }

  std::optional<DocumentVerificationData> verificationData;

  void viewDidLoad() override;

  const std::shared_ptr<uikit::UIScrollView>& scrollView() const { return scrollView_; }
  const std::shared_ptr<uikit::UIStackView>& contentStack() const { return contentStack_; }
  // The Done button once the content is built with a record; null otherwise.
  const std::shared_ptr<uikit::UIButton>& doneButton() const { return doneButton_; }

  // Done's action; onDone(_:) runs the same steps for a sender.
  virtual void onDoneButtonTapped();
  void onDone(const uikit::UIControl& sender);

  // The colour asset "ButtonBG#3AB54A" of `bundle`, or its value (3AB54A)
  // when the asset cannot be read, so a damaged install still shows Done.
  static uikit::UIColor doneButtonColor(const std::shared_ptr<foundation::Bundle>& bundle);

 protected:
  virtual void setupScrollView();
  virtual void buildContent();
  virtual void addSectionHeader(const std::string& title);
  virtual void addRow(const std::string& title, const std::optional<std::string>& value);

 private:
  void addSpacer(quartz::CGFloat height);
  void addDoneBlock();

  const std::shared_ptr<uikit::UIScrollView> scrollView_;
  const std::shared_ptr<uikit::UIStackView> contentStack_;
  std::shared_ptr<uikit::UIButton> doneButton_;
};

}  // namespace morvik
