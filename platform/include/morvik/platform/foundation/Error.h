// NSError: the error value that the layer's throwing calls raise.
#pragma once

#include <stdexcept>
#include <string>

namespace foundation {

// Raised (as a C++ exception, on the calling thread only) by the calls whose
// platform counterparts throw: reading or writing files, JSON serialisation,
// HTML import. what() and localizedDescription() give the same text.
class NSError : public std::runtime_error {
 public:
  NSError(std::string domain, int code, const std::string& description)
      : std::runtime_error(description), domain_(std::move(domain)), code_(code) {}

  const std::string& domain() const { return domain_; }
  int code() const { return code_; }
  std::string localizedDescription() const { return what(); }

 private:
  std::string domain_;
  int code_;
};

// Domains used by this layer.
inline constexpr const char* NSCocoaErrorDomain = "NSCocoaErrorDomain";
inline constexpr const char* NSPOSIXErrorDomain = "NSPOSIXErrorDomain";

}  // namespace foundation
