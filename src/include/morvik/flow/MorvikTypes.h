// The public value types of the SDK entry: configuration, environments,
// verification kinds, results, errors and the outcome delegate.
//
// Value types are plain copies, safe to pass between threads. The delegate is
// implemented by the host and called on the main thread only.
#pragma once

#include <morvik/Export.h>
#include <morvik/api/models/DocumentVerificationData.h>
#include <morvik/platform/uikit/UIColor.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace morvik {

// Which verification server the SDK talks to. Each selects an HTTPS base
// endpoint whose path is "/api" (see apiBaseURL).
enum class MorvikEnvironment : std::uint8_t { development, staging, production };

// The API base endpoint of an environment, e.g.
// "https://dev.api.morvik.example:3035/api" for development.
MORVIK_API std::string_view apiBaseURL(MorvikEnvironment environment) noexcept;

// What a start call runs: the document scan (document sides and a selfie,
// with a result screen) or the face detection (a selfie only).
enum class MorvikVerificationType : std::uint8_t { documentScan, faceDetection };

// The host's configuration, handed to MorvikVerify::configure. apiKey,
// environment and primaryColor are required; primaryColor is stored and
// returned, nothing else reads it.
//
// baseURL, when given, is the API base endpoint of the host's own server and
// replaces the environment's, e.g. "https://verify.example.com/api" (the
// uploads go to it followed by "/upload" or "/reverify"). It must be an
// absolute https URL with a host, and without user name, password, query or
// fragment; a trailing "/" is dropped. It is checked when configure is
// called: a bad one makes configure throw std::invalid_argument, saying what
// is wrong, before anything of the earlier configuration changes.
//
// The server's certificate is always verified. The authorities trusted are
// the system's, or those named by the environment variables CURL_CA_BUNDLE
// (a file), else SSL_CERT_FILE (a file) and SSL_CERT_DIR (a hashed
// directory), read for each request as curl and OpenSSL read them.
class MORVIK_API MorvikVerifyConfig {
 public:
  MorvikVerifyConfig(std::string apiKey, MorvikEnvironment environment, uikit::UIColor primaryColor);
  MorvikVerifyConfig(std::string apiKey, MorvikEnvironment environment, uikit::UIColor primaryColor,
                     std::optional<std::string> baseURL)
      : MorvikVerifyConfig(std::move(apiKey), environment, primaryColor) {
    baseURL_ = std::move(baseURL);
  }

  const std::string& apiKey() const noexcept { return apiKey_; }
  MorvikEnvironment environment() const noexcept { return environment_; }
  const uikit::UIColor& primaryColor() const noexcept { return primaryColor_; }
  // As given; absent when the environment's endpoint is used.
  const std::optional<std::string>& baseURL() const noexcept { return baseURL_; }

 private:
  std::string apiKey_;
  MorvikEnvironment environment_;
  uikit::UIColor primaryColor_;
  std::optional<std::string> baseURL_;
};

// Why a verification did not end verified. errorDescription() always has a
// text. The SDK itself produces verificationFailed, notConfigured and
// userCancelled; the other cases exist for hosts to use.
class MORVIK_API MorvikVerifyError {
 public:
  enum class Kind : std::uint8_t {
    verificationFailed,
    networkError,
    notConfigured,
    userCancelled,
    cameraAccessDenied,
    invalidDocument
  };

  static MorvikVerifyError verificationFailed(std::string message) {
    return MorvikVerifyError(Kind::verificationFailed, std::move(message));
  }
  static MorvikVerifyError networkError(std::string message) {
    return MorvikVerifyError(Kind::networkError, std::move(message));
  }
  static MorvikVerifyError notConfigured() { return MorvikVerifyError(Kind::notConfigured); }
  static MorvikVerifyError userCancelled() { return MorvikVerifyError(Kind::userCancelled); }
  static MorvikVerifyError cameraAccessDenied() { return MorvikVerifyError(Kind::cameraAccessDenied); }
  static MorvikVerifyError invalidDocument() { return MorvikVerifyError(Kind::invalidDocument); }

  Kind kind() const noexcept { return kind_; }
  // The message carried by verificationFailed and networkError; empty otherwise.
  const std::string& message() const noexcept { return message_; }
  // "Verification failed: <message>", "Network error: <message>", or the
  // case's fixed sentence.
  std::string errorDescription() const;

  friend bool operator==(const MorvikVerifyError&, const MorvikVerifyError&) = default;

 private:
  explicit MorvikVerifyError(Kind kind, std::string message = {})
      : kind_(kind), message_(std::move(message)) {}
  Kind kind_;
  std::string message_;
};

// The outcome of one verification, handed to the completion and the delegate.
class MORVIK_API MorvikVerificationResult {
 public:
  MorvikVerificationResult(bool isVerified, std::optional<DocumentVerificationData> documentData,
                           std::optional<MorvikVerifyError> error)
      : isVerified_(isVerified), documentData_(std::move(documentData)), error_(std::move(error)) {}

  bool isVerified() const noexcept { return isVerified_; }
  // The server's verdict record, when one came back.
  const std::optional<DocumentVerificationData>& documentData() const noexcept { return documentData_; }
  // Why the outcome is negative; absent on success.
  const std::optional<MorvikVerifyError>& error() const noexcept { return error_; }

 private:
  bool isVerified_;
  std::optional<DocumentVerificationData> documentData_;
  std::optional<MorvikVerifyError> error_;
};

// The completion of a start call: called on the main thread with each
// outcome, except the two immediate refusals of a start call, which arrive at
// once on the caller's thread.
using MorvikVerifyCompletion = std::function<void(const MorvikVerificationResult& result)>;

// Observes outcomes; the SDK holds it weakly (MorvikVerify::setDelegate).
// Both calls arrive on the main thread, before the completion.
class MORVIK_API MorvikVerifyDelegate {
 public:
  virtual ~MorvikVerifyDelegate() = default;
  // Every delivered outcome except a cancellation and the two immediate
  // refusals of a start call.
  virtual void morvikVerifyDidComplete(const MorvikVerificationResult& result) = 0;
  // The user closed the flow with the Close button.
  virtual void morvikVerifyDidCancel() = 0;
};

}  // namespace morvik
