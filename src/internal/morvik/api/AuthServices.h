// AuthServices: the verification server's two operations (internal).
//
// Contract: both calls may come from any thread and send through
// APIManager::shared(), to its base endpoint as it is at the time of the call
// followed by "/upload" or "/reverify". Outcomes are exactly those of
// APIManager::uploadMultipart: the offline failure at once on the caller's
// thread, everything else on the main queue.
#pragma once

#include <morvik/platform/foundation/Data.h>

#include <optional>
#include <string>

#include "morvik/api/APIManager.h"

namespace morvik {

class AuthServices : public std::enable_shared_from_this<AuthServices> {
 public:
  using Success = APIManager::Success;
  using Failure = APIManager::Failure;

  static AuthServices& shared();

  // Face re-verification: one file part "livePhoto", then "email" and "age".
  void reverify(const std::string& email, const std::string& age, foundation::Data livePhoto, Success success,
                Failure failure);

  // Document upload: "documentFront", "documentBack", "livePhoto" (each only
  // when present, in this order), then "age", "documentType" and "email".
  void uploadDocuments(const std::string& documentType, std::optional<foundation::Data> documentFront,
                       std::optional<foundation::Data> documentBack,
                       std::optional<foundation::Data> livePhoto, const std::string& age,
                       const std::string& email, Success success, Failure failure);

  static Parameters makeUploadParameters(const std::string& age, const std::string& documentType,
                                         const std::string& email);

  static std::string endpoint(std::string_view path);
};

}  // namespace morvik
