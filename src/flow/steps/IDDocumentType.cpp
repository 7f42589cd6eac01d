#include "morvik/flow/IDDocumentType.h"

#include <initializer_list>

#include "morvik/flow/IDDocumentSteps.h"

namespace morvik {

namespace {

constexpr char asciiLower(char c) noexcept {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// `word` is lower case. Non-ASCII bytes compare as they are, so UTF-8 titles are safe.
bool containsIgnoringCase(std::string_view text, std::string_view word) noexcept {
  if (word.size() > text.size()) return false;
  for (std::size_t start = 0; start + word.size() <= text.size(); ++start) {
    std::size_t i = 0;
    while (i < word.size() && asciiLower(text[start + i]) == word[i]) ++i;
    if (i == word.size()) return true;
  }
  return false;
}

std::vector<IDScanStep> makeSteps(std::initializer_list<const char*> titles) {
  std::vector<IDScanStep> steps;
  steps.reserve(titles.size());
  for (const char* title : titles) steps.emplace_back(title);
  return steps;
}

}  // namespace

IDScanStepKinds scanStepKinds(std::string_view title) noexcept {
  return IDScanStepKinds{containsIgnoringCase(title, "front"), containsIgnoringCase(title, "back"),
                         containsIgnoringCase(title, "face")};
}

IDScanStepKind scanStepKind(std::string_view title) noexcept {
  const IDScanStepKinds kinds = scanStepKinds(title);
  if (kinds.front) return IDScanStepKind::front;
  if (kinds.back) return IDScanStepKind::back;
  if (kinds.face) return IDScanStepKind::face;
  return IDScanStepKind::none;
}

const std::array<IDDocumentType, 4>& IDDocumentType::allCases() noexcept {
  static constexpr std::array<IDDocumentType, 4> cases{driversLicenseOrIDCard, passport, passportCard,
                                                       internationalID};
  return cases;
}

std::string_view IDDocumentType::title() const noexcept {
  switch (value_) {
    case Value::driversLicenseOrIDCard:
      return "Driver's License or ID Card";
    case IDDocumentType::Value::passport:
      return "Passport";
    case IDDocumentType::Value::passportCard:
      return "Passport Card";
    case IDDocumentType::Value::internationalID:
      return "International ID";
  }
  return {};
}

int serverCode(IDDocumentType type) noexcept {
  switch (type.value()) {
    case IDDocumentType::Value::driversLicenseOrIDCard:
      return 1;
    case IDDocumentType::Value::passport:
      return 2;
    case IDDocumentType::Value::passportCard:
      return 3;
    case IDDocumentType::Value::internationalID:
      return 5;  // The server has no type 4.
  }
  return 0;
}

const std::vector<IDScanStep>& steps(IDDocumentType type) {
  // Built once (thread-safe static initialisation) and never changed afterwards.
  static const std::array<std::vector<IDScanStep>, 4> lists{
      makeSteps({"Document Front", "Back of Document", "Face"}),
      makeSteps({"Passport Front", "Face"}),
      makeSteps({"Back of Passport Card", "Passport Front", "Face"}),
      makeSteps({"Back of Identification (MRZ)", "Face"}),
  };
  return lists[static_cast<std::size_t>(type.value())];
}

}  // namespace morvik
