// The HTTP client over libcurl: one multi handle driven by one worker thread
// per client, so a server that never answers costs a request slot, not a
// thread.
#include "morvik/api/APIManager.h"

#include <curl/curl.h>
#include <morvik/platform/foundation/Console.h>
#include <morvik/platform/network/NWPathMonitor.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <exception>
#include <limits>
#include <stdexcept>
#include <thread>
#include <unordered_map>

#include "api/Utility.h"
#include "morvik/api/models/JSONCoding.h"
#include "morvik/api/models/Response.h"

namespace morvik {
namespace {

struct EasyDeleter {
  void operator()(CURL* h) const { curl_easy_cleanup(h); }
};
struct SlistDeleter {
  void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};
struct MimeDeleter {
  void operator()(curl_mime* m) const { curl_mime_free(m); }
};
struct MultiDeleter {
  void operator()(CURLM* m) const { curl_multi_cleanup(m); }
};
using EasyPtr = std::unique_ptr<CURL, EasyDeleter>;
using SlistPtr = std::unique_ptr<curl_slist, SlistDeleter>;
using MimePtr = std::unique_ptr<curl_mime, MimeDeleter>;
using MultiPtr = std::unique_ptr<CURLM, MultiDeleter>;
struct URLHandleDeleter {
  void operator()(CURLU* u) const { curl_url_cleanup(u); }
};
struct CurlStringDeleter {
  void operator()(char* text) const { curl_free(text); }
};
using CurlString = std::unique_ptr<char, CurlStringDeleter>;

// "scheme://host:port" in lower case, the port filled in for the scheme; nothing for a text that
// is not an absolute URL. Two URLs may share credentials only when their origins are equal.
std::optional<std::string> originOf(const char* url) {
  std::unique_ptr<CURLU, URLHandleDeleter> handle(curl_url());
  if (!handle || curl_url_set(handle.get(), CURLUPART_URL, url, 0) != CURLUE_OK) return std::nullopt;
  auto part = [&](CURLUPart which, unsigned int flags) -> std::optional<std::string> {
    char* text = nullptr;
    if (curl_url_get(handle.get(), which, &text, flags) != CURLUE_OK || !text) return std::nullopt;
    CurlString owned(text);
    return std::string(owned.get());
  };
  auto scheme = part(CURLUPART_SCHEME, 0);
  auto host = part(CURLUPART_HOST, 0);
  auto port = part(CURLUPART_PORT, CURLU_DEFAULT_PORT);
  if (!scheme || !host || !port) return std::nullopt;
  std::string origin = *scheme + "://" + *host + ":" + *port;
  std::transform(origin.begin(), origin.end(), origin.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return origin;
}

// Authorities named by the environment, as curl and OpenSSL read them: CURL_CA_BUNDLE (a file)
// stands alone; otherwise SSL_CERT_FILE replaces the system bundle and SSL_CERT_DIR adds a hashed
// directory. Unset or empty leaves the system's. Verification stays on in every case.
void trustAuthoritiesFromEnvironment(CURL* easy) {
  auto variable = [](const char* name) -> const char* {
    const char* value = std::getenv(name);
    return value && *value ? value : nullptr;
  };
  if (const char* bundle = variable("CURL_CA_BUNDLE")) {
    curl_easy_setopt(easy, CURLOPT_CAINFO, bundle);
    return;
  }
  if (const char* file = variable("SSL_CERT_FILE")) curl_easy_setopt(easy, CURLOPT_CAINFO, file);
  if (const char* directory = variable("SSL_CERT_DIR")) curl_easy_setopt(easy, CURLOPT_CAPATH, directory);
}

constexpr long kMaxRedirects = 16;

void initCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// A header value holding a control character would end its line early and
// start further headers of the sender's choosing.
bool isSafeHeaderValue(std::string_view value) noexcept {
  return std::none_of(value.begin(), value.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
  });
}

void sayLeftOutOnce(std::atomic<bool>& said, const char* line) {
  if (!said.exchange(true)) foundation::print(line);
}

constexpr const char* kNoInternetMessage = "No internet connection available";
constexpr const char* kGenericMessage = "Something went wrong, please Try again later";
constexpr const char* kUnauthorizedMessage = "Session expired. Please login again";

// A part's bytes, read by libcurl straight from the caller's buffer.
struct StreamSource {
  const foundation::Data* data = nullptr;
  std::size_t offset = 0;

  static std::size_t read(char* buffer, std::size_t size, std::size_t items, void* arg) {
    auto* self = static_cast<StreamSource*>(arg);
    std::size_t n = std::min(size * items, self->data->count() - self->offset);
    if (n > 0) std::memcpy(buffer, self->data->bytes() + self->offset, n);
    self->offset += n;
    return n;
  }

  static int seek(void* arg, curl_off_t offset, int origin) {
    auto* self = static_cast<StreamSource*>(arg);
    if (origin != SEEK_SET || offset < 0 || static_cast<std::size_t>(offset) > self->data->count()) {
      return CURL_SEEKFUNC_CANTSEEK;
    }
    self->offset = static_cast<std::size_t>(offset);
    return CURL_SEEKFUNC_OK;
  }
};

}  // namespace

struct APIManager::TransferResult {
  bool gotResponse = false;
  long statusCode = 0;
  CURLcode code = CURLE_OK;
  int osErrno = 0;
  std::string errorText;
  std::string body;
  bool bodyTooLarge = false;
  std::string redirectRefusal;
};

// One request in flight. Owned by the session from submission to its end.
// Members are declared so that the easy handle goes first, then the form, and
// the bytes they point into last.
struct Transfer {
  std::vector<foundation::Data> images;
  std::deque<StreamSource> sources;  // stable addresses for libcurl
  char errorBuffer[CURL_ERROR_SIZE] = {};
  SlistPtr headers;
  MimePtr mime;
  EasyPtr easy;
  std::string body;
  bool bodyTooLarge = false;
  std::function<void(APIManager::TransferResult)> completion;
  // Request time-out: the request ends when neither direction moved for this long.
  std::chrono::milliseconds idleLimit{0};
  std::chrono::steady_clock::time_point lastProgress = std::chrono::steady_clock::now();
  curl_off_t lastDownloaded = 0, lastUploaded = 0;
  bool idleTimedOut = false;
  // Redirects are followed here, not by libcurl, so that nothing reaches another origin.
  std::optional<std::string> origin;  // of the first URL
  long redirects = 0;
  std::chrono::milliseconds resourceLimit{0};
  std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
  std::string redirectRefusal;  // why a redirect was not followed

  static int progress(void* arg, curl_off_t, curl_off_t downloaded, curl_off_t, curl_off_t uploaded) {
    auto* self = static_cast<Transfer*>(arg);
    auto now = std::chrono::steady_clock::now();
    if (downloaded != self->lastDownloaded || uploaded != self->lastUploaded) {
      self->lastDownloaded = downloaded;
      self->lastUploaded = uploaded;
      self->lastProgress = now;
    } else if (now - self->lastProgress >= self->idleLimit) {
      self->idleTimedOut = true;
      return 1;
    }
    return 0;
  }

  static std::size_t write(char* data, std::size_t size, std::size_t items, void* arg) {
    auto* self = static_cast<Transfer*>(arg);
    std::size_t n = size * items;
    // Past the cap the transfer is aborted instead of buffering an unbounded reply.
    if (self->body.size() + n > APIManager::kMaxReplyBodyBytes) {
      self->bodyTooLarge = true;
      return 0;
    }
    self->body.append(data, n);
    return n;
  }
};

struct APIManager::Session {
  MultiPtr multi;
  std::mutex mutex;
  std::deque<std::unique_ptr<Transfer>> pending;  // guarded by mutex
  bool stopping = false;                          // guarded by mutex
  std::thread worker;

  Session() : multi(curl_multi_init()) {
    if (!multi) throw std::runtime_error("APIManager: curl_multi_init failed");
    worker = std::thread([this] { run(); });
  }

  ~Session() {
    {
      std::lock_guard lock(mutex);
      stopping = true;
    }
    curl_multi_wakeup(multi.get());
    worker.join();
  }

  void submit(std::unique_ptr<Transfer> transfer) {
    {
      std::lock_guard lock(mutex);
      pending.push_back(std::move(transfer));
    }
    curl_multi_wakeup(multi.get());
  }

  void run() {
    std::unordered_map<CURL*, std::unique_ptr<Transfer>> active;
    for (;;) {
      std::deque<std::unique_ptr<Transfer>> incoming;
      {
        std::lock_guard lock(mutex);
        if (stopping) break;
        incoming.swap(pending);
      }
      for (auto& t : incoming) {
        CURL* easy = t->easy.get();
        if (curl_multi_add_handle(multi.get(), easy) == CURLM_OK) {
          active.emplace(easy, std::move(t));
        } else {
          TransferResult result;
          result.code = CURLE_FAILED_INIT;
          t->completion(std::move(result));
        }
      }
      int running = 0;
      curl_multi_perform(multi.get(), &running);
      int left = 0;
      while (CURLMsg* message = curl_multi_info_read(multi.get(), &left)) {
        if (message->msg != CURLMSG_DONE) continue;
        CURL* easy = message->easy_handle;
        CURLcode code = message->data.result;
        curl_multi_remove_handle(multi.get(), easy);
        auto found = active.find(easy);
        if (found == active.end()) continue;
        if (code == CURLE_OK && prepareRedirect(*found->second)) {
          if (curl_multi_add_handle(multi.get(), easy) == CURLM_OK) continue;
          code = CURLE_FAILED_INIT;
        }
        auto node = active.extract(found);
        finish(*node.mapped(), code);
      }
      // While requests run, wake often enough for the idle time-out to be timely.
      curl_multi_poll(multi.get(), nullptr, 0, active.empty() ? 1000 : 50, nullptr);
    }
    // Shutting down: unfinished requests end without any callback.
    for (auto& [easy, transfer] : active) curl_multi_remove_handle(multi.get(), easy);
  }

  // A 307 or 308 to the same origin: sets the transfer up to send the whole upload again there
  // and answers true. Any other redirect is refused (redirectRefusal says why) and answers false;
  // a 3xx without a Location is an ordinary reply.
  static bool prepareRedirect(Transfer& t) {
    long status = 0;
    curl_easy_getinfo(t.easy.get(), CURLINFO_RESPONSE_CODE, &status);
    char* location = nullptr;
    curl_easy_getinfo(t.easy.get(), CURLINFO_REDIRECT_URL, &location);
    if (status < 300 || status > 399 || !location || *location == '\0') return false;
    if (status != 307 && status != 308) {
      t.redirectRefusal = "The server redirected the upload with status " + std::to_string(status) +
                          ", which would not send it again as it was; it was not sent again.";
      return false;
    }
    const auto target = originOf(location);
    if (!t.origin || !target || *target != *t.origin) {
      t.redirectRefusal = "The server redirected the upload to another origin; nothing was sent there.";
      return false;
    }
    if (++t.redirects > kMaxRedirects) {
      t.redirectRefusal =
          "The server redirected the upload more than " + std::to_string(kMaxRedirects) + " times.";
      return false;
    }
    // The resource time-out still counts from the first request.
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t.started);
    const auto left = std::max(t.resourceLimit - elapsed, std::chrono::milliseconds(1));
    curl_easy_setopt(t.easy.get(), CURLOPT_TIMEOUT_MS, static_cast<long>(left.count()));
    curl_easy_setopt(t.easy.get(), CURLOPT_URL, location);  // copied by libcurl
    t.body.clear();
    t.bodyTooLarge = false;
    t.lastDownloaded = t.lastUploaded = 0;
    t.lastProgress = std::chrono::steady_clock::now();
    for (StreamSource& source : t.sources) source.offset = 0;
    return true;
  }

  static void finish(Transfer& t, CURLcode code) {
    TransferResult result;
    long status = 0;
    curl_easy_getinfo(t.easy.get(), CURLINFO_RESPONSE_CODE, &status);
    long osErrno = 0;
    curl_easy_getinfo(t.easy.get(), CURLINFO_OS_ERRNO, &osErrno);
    // Interim 1xx replies do not count as the response.
    result.gotResponse = status >= 200;
    result.statusCode = status;
    result.code = code;
    result.osErrno = static_cast<int>(osErrno);
    if (t.idleTimedOut) {
      result.errorText = "The request timed out.";
    } else if (code != CURLE_OK) {
      result.errorText = t.errorBuffer[0] != '\0' ? std::string(t.errorBuffer) : curl_easy_strerror(code);
    }
    result.bodyTooLarge = t.bodyTooLarge;
    result.redirectRefusal = std::move(t.redirectRefusal);
    result.body = std::move(t.body);
    t.completion(std::move(result));
  }
};

struct APIManager::PathMonitor {
  network::NWPathMonitor monitor;
};

// ---------------------------------------------------------------------------

std::string APIError::errorDescription() const {
  switch (kind_) {
    case Kind::serverError:
      return text_;
    case Kind::noInternetConnection:
      return kNoInternetMessage;
    case Kind::invalidResponse:
      return kGenericMessage;
    case Kind::unauthorized:
      return kUnauthorizedMessage;
    case Kind::decodingError:
      return kGenericMessage;
  }
  return kGenericMessage;
}

std::string textualRepresentation(const ParameterValue& value) {
  struct Visitor {
    std::string operator()(const std::string& s) const { return s; }
    std::string operator()(std::int64_t i) const { return std::to_string(i); }
    std::string operator()(bool b) const { return b ? "true" : "false"; }
    std::string operator()(double d) const {
      if (std::isnan(d)) return "nan";
      if (std::isinf(d)) return d > 0 ? "inf" : "-inf";
      // Shortest text that reads back the same, with ".0" for whole numbers as the platform writes them.
      char buffer[64];
      auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, d);
      std::string text(buffer, ec == std::errc() ? end : buffer);
      if (text.find_first_of(".e") == std::string::npos) text += ".0";
      return text;
    }
  };
  return std::visit(Visitor{}, value);
}

APIManager& APIManager::shared() {
  // Never destroyed: in-flight requests may outlive static destruction.
  static std::shared_ptr<APIManager>* instance = new std::shared_ptr<APIManager>(create(kDevelopmentBaseURL));
  return **instance;
}

std::shared_ptr<APIManager> APIManager::create(std::string_view baseURL) {
  auto manager = std::make_shared<APIManager>(Passkey{}, baseURL);
  manager->startMonitoring();
  return manager;
}

APIManager::APIManager(Passkey, std::string_view baseURL)
    : baseURL_(foundation::URL::string(baseURL)),
      monitorQueue_("NetworkMonitor"),
      connectionQueue_("APIManager.connection", dispatch::DispatchQueueAttributes{.concurrent = true}) {
  initCurlOnce();
  session_ = std::make_unique<Session>();
}

APIManager::~APIManager() {
  networkMonitor_.reset();
  session_.reset();
}

void APIManager::startMonitoring() {
  networkMonitor_ = std::make_shared<PathMonitor>();
  // The handler holds the client weakly and only queues the barrier write, so
  // the monitor's queue never keeps the client alive.
  networkMonitor_->monitor.setPathUpdateHandler(
      [weak = weak_from_this(), queue = connectionQueue_](const network::NWPath& path) {
        const bool connected = path.status == network::NWPath::Status::satisfied;
        queue.async(
            [weak, connected] {
              if (auto self = weak.lock()) self->isConnected_ = connected;
            },
            dispatch::DispatchWorkItemFlags::barrier);
      });
  networkMonitor_->monitor.start(monitorQueue_);
}

foundation::URL APIManager::configuredBaseURL(const std::optional<std::string>& hostBaseURL,
                                              std::string_view environmentBaseURL) {
  if (!hostBaseURL) {
    auto url = foundation::URL::string(environmentBaseURL);
    if (!url) throw std::invalid_argument("The environment's base URL is not a URL");
    return *url;
  }
  const std::string& text = *hostBaseURL;
  auto refuse = [&](const std::string& why) {
    // Only printable ASCII of the given text is quoted, so the message stays one clean line.
    std::string quoted;
    for (char c : text.substr(0, 120)) quoted += (c >= 0x20 && c < 0x7F) ? c : '?';
    throw std::invalid_argument("MorvikVerifyConfig baseURL \"" + quoted + "\" " + why);
  };
  auto url = foundation::URL::string(text);
  if (!url || !url->scheme()) refuse("is not an absolute URL");
  std::string scheme = *url->scheme();
  std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (scheme != "https") refuse("must use https");
  if (!url->host()) refuse("has no host");
  if (url->user() || url->password()) refuse("must not carry a user name or password");
  if (url->query() || url->fragment()) refuse("must not have a query or fragment");
  std::string trimmed = url->absoluteString();
  while (!trimmed.empty() && trimmed.back() == '/') trimmed.pop_back();
  auto cleaned = foundation::URL::string(trimmed);
  if (!cleaned) refuse("is not an absolute URL");
  return *cleaned;
}

std::optional<foundation::URL> APIManager::baseURL() const {
  std::lock_guard lock(mutex_);
  return baseURL_;
}

void APIManager::setBaseURL(std::optional<foundation::URL> url) {
  std::lock_guard lock(mutex_);
  baseURL_ = std::move(url);
}

std::optional<std::string> APIManager::apiKey() const {
  std::lock_guard lock(mutex_);
  return apiKey_;
}

void APIManager::setApiKey(std::optional<std::string> key) {
  std::lock_guard lock(mutex_);
  apiKey_ = std::move(key);
}

bool APIManager::isConnected() const {
  return connectionQueue_.sync([this] { return isConnected_; });
}

void APIManager::setIsConnected(bool connected) {
  connectionQueue_.async(
      [weak = weak_from_this(), connected] {
        if (auto self = weak.lock()) self->isConnected_ = connected;
      },
      dispatch::DispatchWorkItemFlags::barrier);
}

std::vector<std::pair<std::string, std::string>> APIManager::makeHeaders() const {
  std::vector<std::pair<std::string, std::string>> headers;
  headers.emplace_back("Accept", "application/json");
  if (auto key = apiKey(); key && !key->empty()) {
    if (isSafeHeaderValue(*key)) {
      headers.emplace_back("x-secret-key", *key);
    } else {
      sayLeftOutOnce(saidKeyLeftOut_, "x-secret-key left out: the API key holds a control character");
    }
  }
  if (auto user = Utility::getUserData()) {
    if (user->auth && user->auth->accessToken && !user->auth->accessToken->empty()) {
      const std::string& token = *user->auth->accessToken;
      if (isSafeHeaderValue(token)) {
        headers.emplace_back("Authorization", "Bearer " + token);
      } else {
        sayLeftOutOnce(saidTokenLeftOut_,
                       "Authorization left out: the stored access token holds a control character");
      }
    }
  }
  return headers;
}

APIError APIManager::mapError(const TransferFailure& failure, int statusCode) {
  if (failure.notConnectedToInternet) return APIError::noInternetConnection();
  if (statusCode == 401) return APIError::unauthorized();
  if (statusCode >= 500 && statusCode <= 599) {
    return APIError::serverError("Server error (" + std::to_string(statusCode) + ")");
  }
  return APIError::serverError(failure.description);
}

void APIManager::uploadMultipart(const std::string& url, std::array<ImagePart, 3> parts,
                                 std::optional<Parameters> params, Success success, Failure failure) {
  if (!isConnected()) {
    if (failure) failure(kNoInternetMessage);
    return;
  }

  auto transfer = std::make_unique<Transfer>();
  transfer->easy.reset(curl_easy_init());
  transfer->mime.reset(curl_mime_init(transfer->easy.get()));
  CURL* easy = transfer->easy.get();
  curl_mime* mime = transfer->mime.get();
  if (!easy || !mime) {
    // Out of resources before anything was sent: reported as a request that got no response.
    dispatch::DispatchQueue::main().async([weak = weak_from_this(), failure = std::move(failure)] {
      if (weak.lock() && failure) failure(APIError::invalidResponse().errorDescription());
    });
    return;
  }

  // Headers: ours in order; "Expect:" keeps libcurl from adding its own and
  // waiting for "100 Continue" before large bodies.
  curl_slist* list = nullptr;
  for (const auto& [name, value] : makeHeaders())
    list = curl_slist_append(list, (name + ": " + value).c_str());
  list = curl_slist_append(list, "Expect:");
  transfer->headers.reset(list);

  std::size_t imageBytes = 0;
  for (auto& [name, data] : parts) {
    if (!name.empty() && data) imageBytes += data->count();
  }
  const bool stream = imageBytes >= kInMemoryEncodingThreshold;
  transfer->images.reserve(parts.size());
  for (auto& [name, data] : parts) {
    if (name.empty() || !data) continue;
    curl_mimepart* part = curl_mime_addpart(mime);
    curl_mime_name(part, name.c_str());
    curl_mime_filename(part, (name + ".jpg").c_str());
    curl_mime_type(part, "image/jpeg");
    if (stream) {
      transfer->images.push_back(std::move(*data));
      StreamSource& source = transfer->sources.emplace_back();
      source.data = &transfer->images.back();
      curl_mime_data_cb(part, static_cast<curl_off_t>(source.data->count()), &StreamSource::read,
                        &StreamSource::seek, nullptr, &source);
    } else {
      curl_mime_data(part, reinterpret_cast<const char*>(data->bytes()), data->count());
    }
  }
  if (params) {
    for (const auto& [key, value] : *params) {
      curl_mimepart* part = curl_mime_addpart(mime);
      curl_mime_name(part, key.c_str());
      std::string text = textualRepresentation(value);
      curl_mime_data(part, text.data(), text.size());
    }
  }

  std::string trustedPEM;
  std::chrono::milliseconds requestTimeout, resourceTimeout;
  {
    std::lock_guard lock(mutex_);
    trustedPEM = trustedCertificatePEM_;
    requestTimeout = requestTimeout_;
    resourceTimeout = resourceTimeout_;
  }

  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  // Redirects are followed by Session::prepareRedirect, which keeps the key, the token and the
  // person's images on this origin and refuses one that would turn the upload into a GET.
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
  transfer->origin = originOf(url.c_str());
  transfer->resourceLimit = resourceTimeout;
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, transfer->headers.get());
  curl_easy_setopt(easy, CURLOPT_MIMEPOST, mime);
  curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, transfer->errorBuffer);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Transfer::write);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, transfer.get());
  // Request time-out: no progress for that long (connecting included) ends the request.
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(requestTimeout.count()));
  transfer->idleLimit = requestTimeout;
  curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &Transfer::progress);
  curl_easy_setopt(easy, CURLOPT_XFERINFODATA, transfer.get());
  curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(resourceTimeout.count()));
  if (!trustedPEM.empty()) {
    curl_blob blob{trustedPEM.data(), trustedPEM.size(), CURL_BLOB_COPY};
    curl_easy_setopt(easy, CURLOPT_CAINFO_BLOB, &blob);
  } else {
    trustAuthoritiesFromEnvironment(easy);
  }

  // The caller's closures move on to the main queue rather than being copied,
  // so whatever they hold is released there, not on the session's thread.
  transfer->completion = [weak = weak_from_this(), success = std::move(success),
                          failure = std::move(failure)](TransferResult result) mutable {
    dispatch::DispatchQueue::main().async([weak, success = std::move(success), failure = std::move(failure),
                                           result = std::make_shared<TransferResult>(std::move(result))] {
      if (auto self = weak.lock()) self->handleResponse(*result, success, failure);
    });
  };
  session_->submit(std::move(transfer));
}

void APIManager::handleResponse(const TransferResult& result, const Success& success,
                                const Failure& failure) const {
  auto fail = [&](const std::string& message) {
    if (failure) failure(message);
  };
  if (!result.gotResponse) {
    fail(APIError::invalidResponse().errorDescription());
    return;
  }
  const int status = static_cast<int>(result.statusCode);
  if (!result.redirectRefusal.empty()) {
    fail(APIError::serverError(result.redirectRefusal).errorDescription());
    return;
  }
  if (result.bodyTooLarge) {
    foundation::print("Decoding error: the reply body exceeds " + std::to_string(kMaxReplyBodyBytes) +
                      " bytes");
    fail(APIError::decodingError().errorDescription());
    return;
  }
  std::optional<TransferFailure> libraryFailure;
  if (result.code != CURLE_OK) {
    libraryFailure =
        TransferFailure{result.osErrno == ENETUNREACH || result.osErrno == ENETDOWN, result.errorText};
  } else if (status < 200 || status > 599) {
    libraryFailure =
        TransferFailure{false, "Response status code was unacceptable: " + std::to_string(status) + "."};
  } else if (result.body.empty() && status != 204 && status != 205) {
    libraryFailure = TransferFailure{false, "The server's reply had an empty body."};
  }
  if (libraryFailure) {
    fail(mapError(*libraryFailure, status).errorDescription());
    return;
  }
  Response response;
  try {
    response = decodeJSON<Response>(result.body);
  } catch (const std::exception& error) {
    foundation::print(std::string("Decoding error: ") + error.what());
    fail(APIError::decodingError().errorDescription());
    return;
  }
  if (status == 401) {
    fail(response.message ? *response.message : APIError::unauthorized().errorDescription());
    return;
  }
  if (success) success(status, response);
}

}  // namespace morvik
