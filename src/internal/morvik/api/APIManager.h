// APIManager: the SDK's HTTP client (internal). Every request is one
// multipart/form-data POST to the verification server.
//
// Contract
// - APIManager::shared() lives for the whole process; it is created on first
//   use, thread-safely, with the development environment's base endpoint.
// - uploadMultipart may be called from any thread. When the connection flag
//   is false it calls `failure` at once, on the caller's thread, and sends
//   nothing. Every other outcome arrives later on the main queue: exactly one
//   of `success` and `failure`, once; neither if the client has been
//   destroyed before the reply was handled.
// - The client owns the image bytes handed to it until the request ends;
//   large bodies are streamed from them, never copied whole again.
// - TLS certificates are always verified, against the system's authorities or
//   those named by CURL_CA_BUNDLE, else SSL_CERT_FILE and SSL_CERT_DIR (read
//   for each request; empty values count as unset). The API key and the
//   bearer token go into headers only: they are never printed or logged.
// - Requests never leave the origin (scheme, host, port) of their URL. A
//   307 or 308 redirect to the same origin sends the whole upload again; a
//   redirect to another origin, or one that would not resend the upload as
//   it was (301, 302, 303 and the other 3xx with a Location), ends in
//   `failure` with a message saying so, and nothing goes to its target.
// - Replies larger than kMaxReplyBodyBytes are refused as undecodable rather
//   than held in memory.
#pragma once

#include <morvik/platform/dispatch/Dispatch.h>
#include <morvik/platform/foundation/Data.h>
#include <morvik/platform/foundation/URL.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "morvik/api/models/Response.h"

namespace morvik {

// The failures the client reports; errorDescription() is the message a
// failure callback receives.
class APIError {
 public:
  enum class Kind { serverError, noInternetConnection, invalidResponse, unauthorized, decodingError };

  static APIError serverError(std::string text) { return APIError(Kind::serverError, std::move(text)); }
  static APIError noInternetConnection() { return APIError(Kind::noInternetConnection); }
  static APIError invalidResponse() { return APIError(Kind::invalidResponse); }
  static APIError unauthorized() { return APIError(Kind::unauthorized); }
  static APIError decodingError() { return APIError(Kind::decodingError); }

  Kind kind() const { return kind_; }
  // serverError: the carried text; otherwise the case's fixed message.
  std::string errorDescription() const;

  friend bool operator==(const APIError&, const APIError&) = default;

 private:
  explicit APIError(Kind kind, std::string text = {}) : kind_(kind), text_(std::move(text)) {}
  Kind kind_;
  std::string text_;
};

// A text part's value: text is sent unchanged, numbers in decimal (a double
// as the platform writes it: 2.0 -> "2.0"), Booleans as "true" or "false".
using ParameterValue = std::variant<std::string, std::int64_t, double, bool>;
using Parameters = std::map<std::string, ParameterValue>;
std::string textualRepresentation(const ParameterValue& value);

// One image slot: a part name and its JPEG bytes. A slot with an empty name
// or without data produces no part.
using ImagePart = std::pair<std::string, std::optional<foundation::Data>>;

class APIManager : public std::enable_shared_from_this<APIManager> {
 public:
  using Success = std::function<void(int statusCode, const Response& response)>;
  using Failure = std::function<void(const std::string& message)>;

  static constexpr std::size_t kMaxReplyBodyBytes = 32u * 1024 * 1024;
  // Bodies from this size on are streamed from the caller's bytes.
  static constexpr std::size_t kInMemoryEncodingThreshold = 10'000'000;
  static constexpr std::chrono::milliseconds kRequestTimeout{30'000};
  static constexpr std::chrono::milliseconds kResourceTimeout{60'000};
  static constexpr std::string_view kDevelopmentBaseURL = "https://dev.api.morvik.example:3035/api";

  static APIManager& shared();

  // Internal: a client of one's own (tests); shared() is the SDK's only one.
  // Destroying it cancels its requests silently.
  static std::shared_ptr<APIManager> create(std::string_view baseURL);
  ~APIManager();
  APIManager(const APIManager&) = delete;
  APIManager& operator=(const APIManager&) = delete;

  // Set by the SDK entry; any thread. A change affects requests sent afterwards.
  std::optional<foundation::URL> baseURL() const;
  void setBaseURL(std::optional<foundation::URL> url);
  std::optional<std::string> apiKey() const;
  void setApiKey(std::optional<std::string> key);

  // The base endpoint a configuration selects: `hostBaseURL` when given,
  // else `environmentBaseURL`. A host's URL must be absolute https with a
  // host, and carry no user name, password, query or fragment; trailing "/"s
  // are dropped. Throws std::invalid_argument saying what is wrong.
  static foundation::URL configuredBaseURL(const std::optional<std::string>& hostBaseURL,
                                           std::string_view environmentBaseURL);

  // The last known path state (true until the path monitor says otherwise).
  // Reads wait on "APIManager.connection"; writes are barrier blocks queued
  // there, so a read issued after a write sees it.
  bool isConnected() const;
  void setIsConnected(bool connected);

  // One POST of `url` with the image parts (in slot order) and then one text
  // part per parameter. See the contract above for where callbacks arrive.
  void uploadMultipart(const std::string& url, std::array<ImagePart, 3> parts,
                       std::optional<Parameters> params, Success success, Failure failure);

  // "Accept", then "x-secret-key" and "Authorization" when there is a
  // non-empty API key and a stored non-empty access token. A key or token
  // holding a control character (CR, LF, tab, DEL ...) counts as absent, so it
  // can never add headers on the wire; the first time each is left out one
  // console line says so, without the value. Caller's thread.
  std::vector<std::pair<std::string, std::string>> makeHeaders() const;

  // How a transfer failed once an HTTP response had arrived.
  struct TransferFailure {
    bool notConnectedToInternet = false;  // the network went down under the transfer
    std::string description;              // the HTTP library's own account of it
  };
  static APIError mapError(const TransferFailure& failure, int statusCode);

  // Internal, for tests and the demo's loopback server: requests sent from
  // then on trust this CA certificate (PEM) in place of the default CA bundle;
  // empty goes back to the default. Verification stays on either way.
  void setTrustedCertificateForTesting(std::string pem);
  // Internal, for tests: the request (no progress) and resource (whole
  // request) time-outs; the product keeps kRequestTimeout and kResourceTimeout.
  void setTimeoutsForTesting(std::chrono::milliseconds request, std::chrono::milliseconds resource);

  struct TransferResult;
  struct Session;

 private:
  struct Passkey {};

 public:
  APIManager(Passkey, std::string_view baseURL);

 private:
  void startMonitoring();
  void handleResponse(const TransferResult& result, const Success& success, const Failure& failure) const;

  mutable std::mutex mutex_;
  std::optional<foundation::URL> baseURL_;
  std::optional<std::string> apiKey_;
  std::string trustedCertificatePEM_;
  std::chrono::milliseconds requestTimeout_ = kRequestTimeout;
  std::chrono::milliseconds resourceTimeout_ = kResourceTimeout;
  mutable std::atomic<bool> saidKeyLeftOut_{false};
  mutable std::atomic<bool> saidTokenLeftOut_{false};

  dispatch::DispatchQueue monitorQueue_;
  dispatch::DispatchQueue connectionQueue_;
  bool isConnected_ = true;  // only touched on connectionQueue_
  struct PathMonitor;
  std::shared_ptr<PathMonitor> networkMonitor_;
  std::unique_ptr<Session> session_;
};

}  // namespace morvik
