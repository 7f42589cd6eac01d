#include "flow/result/VerifiedScreen.h"

#include <morvik/flow/MorvikVerifyInternal.h>

#include <cstdint>

#include "support/ResourceBundle.h"

namespace morvik {

using uikit::NSLayoutConstraint;
using uikit::UIColor;
using uikit::UIFont;

namespace {

constexpr const char* kDoneColorAsset = "ButtonBG#3AB54A";

std::optional<std::string> yesNo(const std::optional<bool>& value) {
  if (!value) return std::nullopt;
  return *value ? "Yes" : "No";
}

std::optional<std::string> integer(const std::optional<std::int64_t>& value) {
  if (!value) return std::nullopt;
  return std::to_string(*value);
}

std::optional<std::string> percentage(const std::optional<std::int64_t>& value) {
  if (!value) return std::nullopt;
  return std::to_string(*value) + "%";
}

}  // namespace

std::string boundedDisplayText(std::string_view text, std::size_t maxCharacters) {
  // Cut before the lead byte of character maxCharacters + 1, so no UTF-8
  // sequence is split.
  std::size_t characters = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
    if (characters++ == maxCharacters) return std::string(text.substr(0, i)) + "\xE2\x80\xA6";  // "…"
  }
  return std::string(text);
}

VerifiedScreen::VerifiedScreen()
    : scrollView_(std::make_shared<uikit::UIScrollView>()),
      contentStack_(std::make_shared<uikit::UIStackView>()) {}

void VerifiedScreen::viewDidLoad() {
  UIViewController::viewDidLoad();
  view()->setBackgroundColor(UIColor::systemBackground());
  setTitle("Verification Result");
  setupScrollView();
  buildContent();
}

void VerifiedScreen::setupScrollView() {
  const auto& root = view();
  scrollView_->setTranslatesAutoresizingMaskIntoConstraints(false);
  contentStack_->setTranslatesAutoresizingMaskIntoConstraints(false);
  contentStack_->setAxis(uikit::NSLayoutConstraintAxis::vertical);
  contentStack_->setSpacing(16);
  root->addSubview(scrollView_);
  scrollView_->addSubview(contentStack_);
  const auto& safeArea = root->safeAreaLayoutGuide();
  NSLayoutConstraint::activate({
      scrollView_->topAnchor().constraintEqualTo(safeArea->topAnchor()),
      scrollView_->leadingAnchor().constraintEqualTo(root->leadingAnchor()),
      scrollView_->trailingAnchor().constraintEqualTo(root->trailingAnchor()),
      scrollView_->bottomAnchor().constraintEqualTo(safeArea->bottomAnchor()),
      contentStack_->topAnchor().constraintEqualTo(scrollView_->topAnchor(), 16),
      contentStack_->leadingAnchor().constraintEqualTo(scrollView_->leadingAnchor(), 16),
      contentStack_->trailingAnchor().constraintEqualTo(scrollView_->trailingAnchor(), -16),
      contentStack_->bottomAnchor().constraintEqualTo(scrollView_->bottomAnchor(), -16),
      contentStack_->widthAnchor().constraintEqualTo(scrollView_->widthAnchor(), 1, -32),
  });
}

void VerifiedScreen::buildContent() {
  if (!verificationData) {
    addSectionHeader("No Data");
    return;
  }
  const auto& data = *verificationData;
  if (data.requestId) {
    addSectionHeader("Request Info");
    addRow("Request ID", integer(data.requestId));
  }
  if (const auto& dive = data.diveResponse) {
    if (const auto& d = dive->document) {
      addSectionHeader("Document Information");
      addRow("Full Name", d->fullName);
      addRow("First Name", d->firstName);
      addRow("Family Name", d->familyName);
      addRow("Middle Name", d->middleName);
      addRow("Date of Birth", d->dob);
      addRow("Gender", d->gender);
      addRow("Address", d->address);
      addRow("City", d->city);
      addRow("State", d->state);
      addRow("Zip", d->zip);
      addRow("Country", d->country);
      addRow("ID Number", d->id);
      addRow("ID Type", d->idType);
      addRow("Document Class", d->documentClass);
      addRow("Issued", d->issued);
      addRow("Issued By", d->issuedBy);
      addRow("Expires", d->expires);
      addRow("Eyes", d->eyes);
      addRow("Hair", d->hair);
      addRow("Height", d->height);
      addRow("Weight", d->weight);
    }
    if (const auto& r = dive->documentVerificationResult) {
      addSectionHeader("Document Verification");
      addRow("Document Expired", yesNo(r->isDocumentExpired));
      addRow("OCR Success", yesNo(r->isOcrSuccess));
      addRow("PDF417 Success", yesNo(r->isPdf417Success));
      addRow("MRZ Success", yesNo(r->isMrzSuccess));
      addRow("Document Confidence", percentage(r->documentConfidence));
      addRow("Real ID", yesNo(r->isDriversLicenseRealID));
      addRow("Commercial DL", yesNo(r->isCommercialDriversLicense));
      addRow("Veteran", yesNo(r->isVeteran));
      addRow("Donor", yesNo(r->isDonor));
    }
    if (const auto& f = dive->faceMatchVerificationResult) {
      addSectionHeader("Face Match Verification");
      addRow("Face Match Confidence", percentage(f->faceMatchConfidence));
      addRow("Age Check Success", yesNo(f->isAgeCheckSuccess));
      addRow("Gender Check Success", yesNo(f->isGenderCheckSuccess));
      addRow("Age from Selfie", integer(f->assessedAgeFromSelfie));
      addRow("Age from Document", integer(f->assessedAgeFromDocument));
      addRow("Suspicious Photo", yesNo(f->isSuspiciousPhoto));
    }
    if (const auto& a = dive->antiSpoofingVerificationResult) {
      addSectionHeader("Anti-Spoofing Verification");
      addRow("Face Image Confidence", percentage(a->antiSpoofingFaceImageConfidence));
      addRow("Data Fields Tampered", yesNo(a->isDataFieldsTampered));
      addRow("Photo Tampered", yesNo(a->isPhotoFromDocumentTampered));
    }
  }
  addDoneBlock();
}

void VerifiedScreen::addSpacer(quartz::CGFloat height) {
  auto spacer = std::make_shared<uikit::UIView>();
  spacer->setTranslatesAutoresizingMaskIntoConstraints(false);
  spacer->heightAnchor().constraintEqualToConstant(height)->setActive(true);
  contentStack_->addArrangedSubview(spacer);
}

void VerifiedScreen::addSectionHeader(const std::string& title) {
  addSpacer(8);
  auto label = std::make_shared<uikit::UILabel>();
  label->setText(title);
  label->setFont(UIFont::systemFont(20, UIFont::Weight::bold));
  label->setTextColor(UIColor::label());
  contentStack_->addArrangedSubview(label);
}

void VerifiedScreen::addRow(const std::string& title, const std::optional<std::string>& value) {
  if (!value || value->empty()) return;
  auto card = std::make_shared<uikit::UIView>();
  card->setBackgroundColor(UIColor::secondarySystemBackground());
  card->layer()->setCornerRadius(8);

  auto titleLabel = std::make_shared<uikit::UILabel>();
  titleLabel->setText(title);
  titleLabel->setFont(UIFont::systemFont(14, UIFont::Weight::medium));
  titleLabel->setTextColor(UIColor::secondaryLabel());
  titleLabel->setNumberOfLines(1);
  titleLabel->setTranslatesAutoresizingMaskIntoConstraints(false);

  auto valueLabel = std::make_shared<uikit::UILabel>();
  valueLabel->setText(boundedDisplayText(*value));
  valueLabel->setFont(UIFont::systemFont(16, UIFont::Weight::regular));
  valueLabel->setTextColor(UIColor::label());
  valueLabel->setNumberOfLines(0);
  valueLabel->setTranslatesAutoresizingMaskIntoConstraints(false);

  card->addSubview(titleLabel);
  card->addSubview(valueLabel);
  NSLayoutConstraint::activate({
      titleLabel->topAnchor().constraintEqualTo(card->topAnchor(), 10),
      titleLabel->leadingAnchor().constraintEqualTo(card->leadingAnchor(), 12),
      titleLabel->trailingAnchor().constraintEqualTo(card->trailingAnchor(), -12),
      valueLabel->topAnchor().constraintEqualTo(titleLabel->bottomAnchor(), 4),
      valueLabel->leadingAnchor().constraintEqualTo(card->leadingAnchor(), 12),
      valueLabel->trailingAnchor().constraintEqualTo(card->trailingAnchor(), -12),
      valueLabel->bottomAnchor().constraintEqualTo(card->bottomAnchor(), -10),
  });
  contentStack_->addArrangedSubview(card);
}

uikit::UIColor VerifiedScreen::doneButtonColor(const std::shared_ptr<foundation::Bundle>& bundle) {
  if (bundle) {
    if (auto color = UIColor::named(kDoneColorAsset, bundle)) return *color;
  }
  return UIColor(0x3A / 255.0, 0xB5 / 255.0, 0x4A / 255.0, 1);
}

void VerifiedScreen::addDoneBlock() {
  doneButton_ = std::make_shared<uikit::UIButton>(uikit::UIButton::ButtonType::system);
  doneButton_->setTitle("Done", uikit::UIControlState::normal);
  doneButton_->setTitleColor(UIColor::white(), uikit::UIControlState::normal);
  doneButton_->titleLabel()->setFont(UIFont::systemFont(18, UIFont::Weight::semibold));
  doneButton_->setBackgroundColor(doneButtonColor(resourceBundle()));
  doneButton_->layer()->setCornerRadius(8);
  doneButton_->setTranslatesAutoresizingMaskIntoConstraints(false);
  doneButton_->heightAnchor().constraintEqualToConstant(50)->setActive(true);
  doneButton_->addTarget(
      shared_from_this(), [this] { onDoneButtonTapped(); }, uikit::UIControlEvents::touchUpInside);
  addSpacer(20);
  contentStack_->addArrangedSubview(doneButton_);
}

void VerifiedScreen::onDone(const uikit::UIControl& sender) {
  (void)sender;
  onDoneButtonTapped();
}

void VerifiedScreen::onDoneButtonTapped() {
  MorvikVerify::Internal::completeVerification(verificationData);
  if (auto navigation = navigationController()) navigation->dismiss(true);
}

}  // namespace morvik
