#include "morvik/flow/IDDocumentType.h"

#include <gtest/gtest.h>

#include <string>
#include <unordered_set>
#include <vector>

#include "morvik/flow/IDDocumentSteps.h"

namespace morvik {
namespace {

std::vector<std::string> titles(IDDocumentType type) {
  std::vector<std::string> out;
  for (const IDScanStep& step : steps(type)) out.push_back(step.title());
  return out;
}

TEST(IDDocumentTypeTest, FourTypesWithTheirTitlesCodesAndSteps) {
  const auto& all = IDDocumentType::allCases();
  ASSERT_EQ(all.size(), 4u);
  EXPECT_EQ(all[0], IDDocumentType::driversLicenseOrIDCard);
  EXPECT_EQ(all[1], IDDocumentType::passport);
  EXPECT_EQ(all[2], IDDocumentType::passportCard);
  EXPECT_EQ(all[3], IDDocumentType::internationalID);
  EXPECT_EQ(std::unordered_set<IDDocumentType>(all.begin(), all.end()).size(), 4u);

  EXPECT_EQ(IDDocumentType::driversLicenseOrIDCard.title(), "Driver's License or ID Card");
  EXPECT_EQ(IDDocumentType::internationalID.title(), "International ID");
  EXPECT_EQ(serverCode(IDDocumentType::driversLicenseOrIDCard), 1);
  EXPECT_EQ(serverCode(IDDocumentType::passport), 2);
  EXPECT_EQ(serverCode(IDDocumentType::passportCard), 3);
  EXPECT_EQ(serverCode(IDDocumentType::internationalID), 5);

  EXPECT_EQ(titles(IDDocumentType::driversLicenseOrIDCard),
            (std::vector<std::string>{"Document Front", "Back of Document", "Face"}));
  EXPECT_EQ(titles(IDDocumentType::passport), (std::vector<std::string>{"Passport Front", "Face"}));
  EXPECT_EQ(titles(IDDocumentType::passportCard),
            (std::vector<std::string>{"Back of Passport Card", "Passport Front", "Face"}));
  EXPECT_EQ(titles(IDDocumentType::internationalID),
            (std::vector<std::string>{"Back of Identification (MRZ)", "Face"}));
  // One list per type, the same on every read, so step indices agree between screens.
  EXPECT_EQ(&steps(IDDocumentType::passport), &steps(IDDocumentType::passport));
}

TEST(IDDocumentTypeTest, EveryBuiltInStepHasExactlyOneKind) {
  for (IDDocumentType type : IDDocumentType::allCases()) {
    for (const IDScanStep& step : steps(type)) {
      const IDScanStepKinds kinds = step.kinds();
      EXPECT_EQ(int{kinds.front} + int{kinds.back} + int{kinds.face}, 1) << step.title();
    }
    EXPECT_EQ(steps(type).back().kind(), IDScanStepKind::face);
  }
  EXPECT_EQ(steps(IDDocumentType::passportCard).front().kind(), IDScanStepKind::back);
  EXPECT_EQ(steps(IDDocumentType::internationalID).front().kind(), IDScanStepKind::back);
}

TEST(ScanStepKindTest, TitleDecidesTheKindIgnoringLetterCase) {
  struct Case {
    const char* title;
    IDScanStepKind kind;
  };
  const Case cases[] = {
      {"Document Front", IDScanStepKind::front},
      {"FRONT of card", IDScanStepKind::front},
      {"Back of Identification (MRZ)", IDScanStepKind::back},
      {"bAcK", IDScanStepKind::back},
      {"Your FACE please", IDScanStepKind::face},
      {"Surface", IDScanStepKind::face},  // containment, not whole words
      {"Selfie", IDScanStepKind::none},
      {"", IDScanStepKind::none},
      {"Fr ont", IDScanStepKind::none},
      {"\xEF\xBC\xA6\xEF\xBC\xA1\xEF\xBC\xA3\xEF\xBC\xA5", IDScanStepKind::none},  // full-width FACE
      // Several words: front before back before face.
      {"Face and back", IDScanStepKind::back},
      {"Back, then front", IDScanStepKind::front},
      {"Front face", IDScanStepKind::front},
  };
  for (const Case& c : cases) EXPECT_EQ(scanStepKind(c.title), c.kind) << c.title;

  const IDScanStep both("Front and Back");
  EXPECT_TRUE(both.isFront());
  EXPECT_TRUE(both.isBack());
  EXPECT_FALSE(both.isFace());
  EXPECT_TRUE(IDScanStep("nothing").kinds().none());
}

}  // namespace
}  // namespace morvik
