// libFuzzer target: any byte string given as a reply body or as a stored user record must either
// decode or fail with DecodingError, and whatever decodes must survive an encode/decode round trip.
// Built and run by scripts/fuzz.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "morvik/api/models/JSONCoding.h"
#include "morvik/api/models/Response.h"

namespace {

template <class Record>
void checkRoundTrip(std::string_view body) {
  std::optional<Record> decoded;
  try {
    decoded = morvik::decodeJSON<Record>(body);
  } catch (const morvik::DecodingError&) {
    return;  // a clean refusal is a correct outcome
  }
  // From here on any exception escapes and counts as a finding.
  const std::string encoded = morvik::encodeJSON(*decoded);
  const std::string again = morvik::encodeJSON(morvik::decodeJSON<Record>(encoded));
  if (again != encoded) {
    std::fprintf(stderr, "round trip changed the record:\n%s\n%s\n", encoded.c_str(), again.c_str());
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view body(reinterpret_cast<const char*>(data), size);
  checkRoundTrip<morvik::Response>(body);
  checkRoundTrip<morvik::LogInResponse>(body);
  return 0;
}
