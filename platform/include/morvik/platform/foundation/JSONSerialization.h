// JSONSerialization: property-list values to JSON text and back.
#pragma once

#include <morvik/platform/foundation/Data.h>
#include <morvik/platform/foundation/Error.h>
#include <morvik/platform/foundation/PropertyList.h>

namespace foundation {

// Stateless; any thread.
class JSONSerialization {
 public:
  enum WritingOptions : unsigned {
    none = 0,
    prettyPrinted = 1u << 0,
    sortedKeys = 1u << 1,  // keys are always written sorted; kept for the platform's spelling
    fragmentsAllowed = 1u << 2,
    withoutEscapingSlashes = 1u << 3,
  };
  enum ReadingOptions : unsigned {
    readingNone = 0,
    readingFragmentsAllowed = 1u << 2,
  };

  // True when data(withJSONObject:) would succeed without fragmentsAllowed:
  // the top level is an array or dictionary and nothing inside is data, a
  // date, or a NaN or infinite double.
  static bool isValidJSONObject(const PropertyListValue& value);

  // UTF-8 JSON text. Throws NSError (NSCocoaErrorDomain, code 3851) when the
  // value holds what JSON cannot: data, dates, NaN or infinite doubles, or a
  // top level that is not an array or dictionary (unless fragmentsAllowed).
  // Forward slashes are written as "\/" unless withoutEscapingSlashes.
  static Data data(const PropertyListValue& withJSONObject, unsigned options = none);

  // Parses JSON text (UTF-8). Numbers without fraction or exponent become
  // integers when they fit, otherwise doubles; null becomes null. Throws
  // NSError (NSCocoaErrorDomain, code 3840) for malformed text, invalid
  // UTF-8, or a top-level fragment unless readingFragmentsAllowed.
  static PropertyListValue jsonObject(const Data& with, unsigned options = readingNone);
};

}  // namespace foundation
