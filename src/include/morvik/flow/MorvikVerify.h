// MorvikVerify: the SDK's front door.
//
// A host configures the SDK once, then starts a verification:
//   morvik::MorvikVerify::configure(morvik::MorvikVerifyConfig("key", morvik::MorvikEnvironment::production,
//                                                                uikit::UIColor::systemBlue()));
//   morvik::MorvikVerify::startDocumentScan("user@example.com", [](const morvik::MorvikVerificationResult& r)
//   {...});
//
// Contract
// - The calls here are meant for the main thread (the flows are UI). A start
//   call or configure made on another thread is moved to the main queue and
//   returns at once; it then runs there as if called there, in call order.
// - configure refuses a configuration whose environment is not one of the
//   three cases (a value cast from a number, say), or whose base URL is not
//   acceptable (see MorvikVerifyConfig): it throws std::invalid_argument, on
//   the caller's thread, saying why, and the earlier configuration stays.
// - Every start is answered, through the completion (and the delegate,
//   where said), and a flow ends with exactly one final outcome. The
//   refusals of a start are answered at once, on the thread the start runs
//   on, through the completion alone, and store nothing:
//     nothing to present from (no key window, or a controller whose view is
//     in no window), or the presentation refused:
//       verificationFailed("Unable to present verification screen");
//     a flow of the SDK already shown: verificationFailed("A verification is
//       already in progress"), and the shown flow goes on;
//     not configured: notConfigured.
//   Every other outcome arrives later on the main queue: the delegate first,
//   then the completion. A flow taken away without an outcome (dismissed by
//   the host's code, or its window gone) reports morvikVerifyDidCancel() and
//   a userCancelled result, once.
// - The singleton lives for the whole process. It keeps the configuration,
//   the delegate (weakly), and the e-mail address and completion of the
//   latest accepted start. Nothing clears the stored completion: a further
//   outcome of the same flow (another face photo after an early refusal, a
//   Close after it) reaches it again.
// - A flow is one navigation controller presented full screen with a Close
//   button. When the flow is in the first window of the first connected
//   scene, Close dismisses from that window's root controller (a controller
//   the host presented the flow from goes with it); otherwise it dismisses
//   the flow alone. Then it reports morvikVerifyDidCancel() and a
//   userCancelled result.
// - The face road takes one photo at a time: while a photo's upload waits
//   for its reply, further photos of that screen are dropped unsent.
#pragma once

#include <morvik/Export.h>
#include <morvik/flow/MorvikTypes.h>
#include <morvik/platform/uikit/UIViewController.h>

#include <memory>
#include <optional>
#include <string>

namespace morvik {

class MORVIK_API MorvikVerify : public std::enable_shared_from_this<MorvikVerify> {
 public:
  using Completion = MorvikVerifyCompletion;

  // The process-wide instance, created on first use with every field empty.
  static MorvikVerify& shared();

  // Stores the configuration (replacing any earlier one; nothing is written
  // to disk) and points the HTTP client at its API key and at its base URL
  // or, without one, its environment's endpoint. Refusals: see above.
  static void configure(const MorvikVerifyConfig& with);

  // The outcome observer, held weakly.
  std::shared_ptr<MorvikVerifyDelegate> delegate() const;
  void setDelegate(const std::weak_ptr<MorvikVerifyDelegate>& delegate);

  // The last configuration, absent before the first configure.
  std::optional<MorvikVerifyConfig> currentConfig() const;
  bool isConfigured() const;

  // --- Starting a verification ---------------------------------------------

  // Present the flow from the top view controller of the key window of the
  // first connected window scene.
  static void startDocumentScan(std::optional<std::string> email, Completion completion);
  static void startFaceDetection(std::string email, Completion completion);
  static void start(MorvikVerificationType type, std::optional<std::string> email, Completion completion);

  // Present the flow from `from` (from the top of what `from` presents, when
  // it presents something). `from` is owned by a std::shared_ptr. The
  // address is not examined here; the face road refuses an absent or empty
  // one when the photo is taken.
  void startVerification(uikit::UIViewController& from, MorvikVerificationType type,
                         std::optional<std::string> email, Completion completion);

  MorvikVerify(const MorvikVerify&) = delete;
  MorvikVerify& operator=(const MorvikVerify&) = delete;
  ~MorvikVerify();

  // Defined inside the library only.
  class Internal;

 private:
  friend struct MorvikVerifyTestAccess;
  struct State;
  MorvikVerify();
  std::unique_ptr<State> state_;
};

// Start a verification presented from `self` (see startVerification).
MORVIK_API void presentMorvikDocumentScan(uikit::UIViewController& self, std::optional<std::string> email,
                                          MorvikVerifyCompletion completion);
MORVIK_API void presentMorvikFaceDetection(uikit::UIViewController& self, std::string email,
                                           MorvikVerifyCompletion completion);
MORVIK_API void presentMorvikVerification(uikit::UIViewController& self, MorvikVerificationType type,
                                          std::optional<std::string> email,
                                          MorvikVerifyCompletion completion);

}  // namespace morvik
