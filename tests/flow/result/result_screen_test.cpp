// The result screen: which verdict fields it shows, in which order and how,
// and what Done hands over.
#include <gtest/gtest.h>
#include <morvik/api/models/JSONCoding.h>
#include <morvik/flow/MorvikVerifyInternal.h>
#include <morvik/platform/dispatch.h>
#include <morvik/platform/uikit.h>

#include <filesystem>
#include <string>
#include <vector>

#include "api/models/FullVerdictReply.h"
#include "flow/result/VerifiedScreen.h"
#include "morvik/api/models/Response.h"
#include "support/ResourceBundle.h"

namespace {

using morvik::DocumentVerificationData;
using morvik::VerifiedScreen;
using uikit::UIColor;

class ResultScreenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dispatch::clock::useManualClock();
    scene = uikit::UIApplication::shared().connectWindowScene();
    window = scene->makeWindow();
    root = std::make_shared<uikit::UIViewController>();
    window->setRootViewController(root);
    window->makeKeyAndVisible();
    settle();
  }
  void TearDown() override {
    morvik::MorvikVerify::Internal::setCompletionHandler(nullptr);
    uikit::UIApplication::shared().disconnect(scene);
    settle();
    dispatch::clock::useRealClock();
  }
  static void settle() {
    dispatch::MainLoop::drain();
    dispatch::clock::advance(2.0);
    dispatch::MainLoop::drain();
  }

  // The screen inside a presented navigation controller, as in a flow.
  std::shared_ptr<VerifiedScreen> show(std::optional<DocumentVerificationData> data) {
    auto screen = std::make_shared<VerifiedScreen>();
    screen->verificationData = std::move(data);
    nav = std::make_shared<uikit::UINavigationController>(screen);
    nav->setModalPresentationStyle(uikit::UIModalPresentationStyle::fullScreen);
    root->present(nav, false);
    settle();
    return screen;
  }

  // The column as text: "spacer N", "# heading", "title: value", "[Done]".
  static std::vector<std::string> describe(const VerifiedScreen& screen) {
    std::vector<std::string> out;
    for (const auto& view : screen.contentStack()->arrangedSubviews()) {
      if (auto label = std::dynamic_pointer_cast<uikit::UILabel>(view)) {
        out.push_back("# " + label->text().value_or(""));
      } else if (auto button = std::dynamic_pointer_cast<uikit::UIButton>(view)) {
        out.push_back("[" + button->title(uikit::UIControlState::normal).value_or("") + "]");
      } else if (view->subviews().size() == 2) {
        auto title = std::dynamic_pointer_cast<uikit::UILabel>(view->subviews()[0]);
        auto value = std::dynamic_pointer_cast<uikit::UILabel>(view->subviews()[1]);
        out.push_back(title->text().value_or("") + ": " + value->text().value_or(""));
      } else {
        out.push_back("spacer " + std::to_string(int(view->frame().height())));
      }
    }
    return out;
  }

  std::shared_ptr<uikit::UIWindowScene> scene;
  std::shared_ptr<uikit::UIWindow> window;
  std::shared_ptr<uikit::UIViewController> root;
  std::shared_ptr<uikit::UINavigationController> nav;
};

DocumentVerificationData fullVerdict() {
  return *morvik::decodeJSON<morvik::Response>(morvik::samples::kFullVerdictReply).documentVerificationData;
}

TEST_F(ResultScreenTest, FullVerdictShowsItsFixedSelectionInOrder) {
  auto screen = show(fullVerdict());
  EXPECT_EQ(screen->title(), "Verification Result");
  const std::vector<std::string> expected{"spacer 8",
                                          "# Request Info",
                                          "Request ID: 9223372036854775807",
                                          "spacer 8",
                                          "# Document Information",
                                          "Full Name: ALEXANDER JAMES SAMPLE JR",
                                          "First Name: ALEXANDER",
                                          "Family Name: SAMPLE",
                                          "Middle Name: JAMES",
                                          "Date of Birth: 08/31/1977",
                                          "Gender: M",
                                          "Address: 2570 24TH STREET, APT 5",
                                          "City: SACRAMENTO",
                                          "State: CA",
                                          "Zip: 95818-1234",
                                          "Country: United States",
                                          "ID Number: I1234568",
                                          "ID Type: DL",
                                          "Document Class: C",
                                          "Issued: 08/31/2021",
                                          "Issued By: CA",
                                          "Expires: 08/31/2026",
                                          "Eyes: BRN",
                                          "Hair: BRN",
                                          "Height: 5'-08\"",
                                          "Weight: 165 lb",
                                          "spacer 8",
                                          "# Document Verification",
                                          "Document Expired: Yes",
                                          "OCR Success: No",
                                          "PDF417 Success: No",
                                          "MRZ Success: Yes",
                                          "Document Confidence: 87%",
                                          "Real ID: No",
                                          "Commercial DL: Yes",
                                          "Veteran: No",
                                          "Donor: Yes",
                                          "spacer 8",
                                          "# Face Match Verification",
                                          "Face Match Confidence: 93%",
                                          "Age Check Success: Yes",
                                          "Gender Check Success: Yes",
                                          "Age from Selfie: 44",
                                          "Age from Document: 46",
                                          "Suspicious Photo: No",
                                          "spacer 8",
                                          "# Anti-Spoofing Verification",
                                          "Face Image Confidence: 97%",
                                          "Data Fields Tampered: No",
                                          "Photo Tampered: No",
                                          "spacer 20",
                                          "[Done]"};
  EXPECT_EQ(describe(*screen), expected);

  // The column is taller than the screen and scrolls; cards span its width.
  const auto& scroll = screen->scrollView();
  EXPECT_GT(scroll->contentSize().height, scroll->bounds().height());
  EXPECT_NEAR(screen->contentStack()->frame().width(), scroll->bounds().width() - 32, 1e-6);
  const auto& done = screen->doneButton();
  ASSERT_TRUE(done);
  EXPECT_NEAR(done->frame().height(), 50, 1e-6);
  EXPECT_NEAR(done->frame().width(), scroll->bounds().width() - 32, 1e-6);
  EXPECT_EQ(done->currentTitleColor(), UIColor::white());
  EXPECT_EQ(done->backgroundColor(), VerifiedScreen::doneButtonColor(morvik::resourceBundle()));
}

TEST_F(ResultScreenTest, MissingAndEdgeValues) {
  using morvik::DiveResponse;
  struct Case {
    const char* name;
    std::optional<DocumentVerificationData> data;
    std::vector<std::string> expected;
  };
  auto with = [](auto edit) {
    DocumentVerificationData d;
    d.diveResponse = DiveResponse{};
    edit(*d.diveResponse);
    return d;
  };
  DocumentVerificationData onlyRequest;
  onlyRequest.requestId = 1042;
  std::string longName;
  for (int i = 0; i < 100'000; ++i) longName += "\xC3\x89";  // "É", two bytes each
  std::string cutName;
  for (int i = 0; i < 300; ++i) cutName += "\xC3\x89";
  const Case cases[] = {
      {"no record", std::nullopt, {"spacer 8", "# No Data"}},
      {"request id only",
       onlyRequest,
       {"spacer 8", "# Request Info", "Request ID: 1042", "spacer 20", "[Done]"}},
      {"empty record", DocumentVerificationData{}, {"spacer 20", "[Done]"}},
      {"document without fields",
       with([](DiveResponse& r) { r.document = morvik::Document{}; }),
       {"spacer 8", "# Document Information", "spacer 20", "[Done]"}},
      {"empty and blank texts, hidden fields",
       with([](DiveResponse& r) {
         r.document = morvik::Document{};
         r.document->fullName = "";
         r.document->firstName = " ";
         r.document->placeOfBirth = "LISBON";
         r.document->maidenName = "SMITH";
         r.document->ssn = "123";
       }),
       {"spacer 8", "# Document Information", "First Name:  ", "spacer 20", "[Done]"}},
      {"a name of megabytes is cut, one of 300 characters is not",
       with([&](DiveResponse& r) {
         r.document = morvik::Document{};
         r.document->fullName = longName;
         r.document->familyName = cutName;
       }),
       {"spacer 8", "# Document Information", "Full Name: " + cutName + "\xE2\x80\xA6",
        "Family Name: " + cutName, "spacer 20", "[Done]"}},
      {"false, zero and negative",
       with([](DiveResponse& r) {
         r.documentVerificationResult = morvik::DocumentVerificationResult{};
         r.documentVerificationResult->isDocumentExpired = false;
         r.documentVerificationResult->documentConfidence = -5;
         r.documentVerificationResult->isShuftiSuccess = true;
         r.faceMatchVerificationResult = morvik::FaceMatchVerificationResult{};
         r.faceMatchVerificationResult->faceMatchConfidence = 0;
         r.faceMatchVerificationResult->assessedAgeFromSelfie = 31;
         r.faceMatchVerificationResult->falseAcceptanceRate = 7;
         r.antiSpoofingVerificationResult = morvik::AntiSpoofingVerificationResult{};
       }),
       {"spacer 8", "# Document Verification", "Document Expired: No", "Document Confidence: -5%", "spacer 8",
        "# Face Match Verification", "Face Match Confidence: 0%", "Age from Selfie: 31", "spacer 8",
        "# Anti-Spoofing Verification", "spacer 20", "[Done]"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto screen = show(c.data);
    EXPECT_EQ(describe(*screen), c.expected);
    EXPECT_EQ(bool(screen->doneButton()), bool(c.data));
    root->dismiss(false);
    settle();
  }
}

TEST_F(ResultScreenTest, LongValuesWrapAndTheCardGrowsWithThem) {
  DocumentVerificationData data;
  data.diveResponse = morvik::DiveResponse{};
  data.diveResponse->document = morvik::Document{};
  data.diveResponse->document->address =
      std::string(40, 'A') + " " + std::string(200, 'B') + " 12 SOME STREET";
  data.diveResponse->document->city = "X";
  auto screen = show(data);
  const auto& arranged = screen->contentStack()->arrangedSubviews();
  const auto& address = arranged[2];
  const auto& city = arranged[3];
  auto title = std::dynamic_pointer_cast<uikit::UILabel>(address->subviews()[0]);
  auto value = std::dynamic_pointer_cast<uikit::UILabel>(address->subviews()[1]);
  ASSERT_TRUE(title && value);
  EXPECT_EQ(title->font(), uikit::UIFont::systemFont(14, uikit::UIFont::Weight::medium));
  EXPECT_EQ(title->textColor(), UIColor::secondaryLabel());
  EXPECT_EQ(value->numberOfLines(), 0);
  EXPECT_GT(value->renderedLines().size(), 3u);
  EXPECT_NEAR(title->frame().minY(), 10, 1e-6);
  EXPECT_NEAR(title->frame().minX(), 12, 1e-6);
  EXPECT_NEAR(value->frame().minY(), title->frame().maxY() + 4, 1e-6);
  EXPECT_NEAR(address->frame().height(), value->frame().maxY() + 10, 1e-6);
  EXPECT_GT(address->frame().height(), city->frame().height() + 3 * value->font().lineHeight() - 1);
  EXPECT_EQ(address->backgroundColor(), UIColor::secondarySystemBackground());
}

TEST_F(ResultScreenTest, DoneHandsOverTheRecordOfThatMomentAfterDismissing) {
  std::vector<morvik::MorvikVerificationResult> results;
  bool dismissalRequestedFirst = false;
  morvik::MorvikVerify::Internal::setCompletionHandler([&](const morvik::MorvikVerificationResult& r) {
    dismissalRequestedFirst = nav->isBeingDismissed() || !root->presentedViewController();
    results.push_back(r);
  });
  DocumentVerificationData first;
  first.requestId = 1;
  auto screen = show(first);
  // A later record changes what Done hands over, not what is shown.
  DocumentVerificationData second;
  second.requestId = 2;
  screen->verificationData = second;
  EXPECT_EQ(describe(*screen)[2], "Request ID: 1");

  screen->doneButton()->sendActions(uikit::UIControlEvents::touchUpInside);
  settle();
  EXPECT_FALSE(root->presentedViewController());
  ASSERT_EQ(results.size(), 1u);
  EXPECT_TRUE(dismissalRequestedFirst);
  EXPECT_TRUE(results[0].isVerified());
  ASSERT_TRUE(results[0].documentData());
  EXPECT_EQ(results[0].documentData()->requestId, 2);
  EXPECT_FALSE(results[0].error());
}

TEST_F(ResultScreenTest, DoneOnAnEmptyRecordHandsItOverAsVerifiedAndEndsTheFlow) {
  std::vector<morvik::MorvikVerificationResult> results;
  morvik::MorvikVerify::Internal::setCompletionHandler(
      [&](const morvik::MorvikVerificationResult& r) { results.push_back(r); });
  auto screen = show(DocumentVerificationData{});
  ASSERT_TRUE(screen->doneButton());
  screen->doneButton()->sendActions(uikit::UIControlEvents::touchUpInside);
  settle();
  EXPECT_FALSE(root->presentedViewController());
  ASSERT_EQ(results.size(), 1u);
  EXPECT_TRUE(results[0].isVerified());
  ASSERT_TRUE(results[0].documentData());
  EXPECT_FALSE(results[0].documentData()->requestId);
  EXPECT_FALSE(results[0].documentData()->diveResponse);
  EXPECT_FALSE(results[0].error());
}

TEST_F(ResultScreenTest, DoneColourComesFromTheAssetOrFallsBackToItsValue) {
  const auto asset = VerifiedScreen::doneButtonColor(morvik::resourceBundle());
  EXPECT_EQ(asset, UIColor(0.227, 0.710, 0.290, 1.0));

  const UIColor fallback(0x3A / 255.0, 0xB5 / 255.0, 0x4A / 255.0, 1);
  const auto empty =
      std::filesystem::temp_directory_path() / ("morvik-empty-bundle-" + std::to_string(::getpid()));
  std::filesystem::create_directories(empty);
  EXPECT_EQ(VerifiedScreen::doneButtonColor(foundation::Bundle::open(empty.string())), fallback);
  EXPECT_EQ(VerifiedScreen::doneButtonColor(nullptr), fallback);
  std::filesystem::remove_all(empty);
}

}  // namespace
