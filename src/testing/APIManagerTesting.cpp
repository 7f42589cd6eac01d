// Hooks for the project's own tests and demo. They are built into
// morvik_verify_testing only, never into the shipped library, so no host can
// swap the trusted certificate authority or shorten the time-outs.
#include <mutex>
#include <string>
#include <utility>

#include "morvik/api/APIManager.h"

namespace morvik {

void APIManager::setTrustedCertificateForTesting(std::string pem) {
  std::lock_guard lock(mutex_);
  trustedCertificatePEM_ = std::move(pem);
}

void APIManager::setTimeoutsForTesting(std::chrono::milliseconds request,
                                       std::chrono::milliseconds resource) {
  std::lock_guard lock(mutex_);
  requestTimeout_ = request;
  resourceTimeout_ = resource;
}

}  // namespace morvik
