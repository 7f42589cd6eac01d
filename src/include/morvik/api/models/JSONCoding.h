// JSON decoding and encoding of the reply records, through the platform's
// keyed coding (<morvik/platform/foundation/JSONCoding.h>), whose rules they
// follow: strict member names and types, unknown members skipped without being
// built, 5.0 and 1e3 accepted as integers and 87.5 not, bodies that are not
// JSON, nest deeper than kMaxJSONNestingDepth or would build more than the
// decoding budget failing cleanly.
//
// Thread-safe: the functions share no state. Failures throw DecodingError on the calling thread.
#pragma once

#include <morvik/platform/foundation/JSONCoding.h>

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

#include "morvik/api/models/DecodingError.h"
#include "morvik/api/models/DocumentVerificationData.h"

namespace morvik {

using foundation::kMaxJSONNestingDepth;

// The records decodeJSON and encodeJSON accept: the verdict records here; the SDK adds its own.
template <class T>
struct IsJSONRecord : std::false_type {};
template <>
struct IsJSONRecord<DocumentVerificationData> : std::true_type {};
template <>
struct IsJSONRecord<DiveResponse> : std::true_type {};
template <>
struct IsJSONRecord<Document> : std::true_type {};
template <>
struct IsJSONRecord<DocumentConfidenceScores> : std::true_type {};
template <>
struct IsJSONRecord<DocumentVerificationResult> : std::true_type {};
template <>
struct IsJSONRecord<FaceMatchVerificationResult> : std::true_type {};
template <>
struct IsJSONRecord<AntiSpoofingVerificationResult> : std::true_type {};
template <>
struct IsJSONRecord<ExternalVerificationResult> : std::true_type {};

template <class T>
concept JSONRecord = IsJSONRecord<T>::value && foundation::KeyedCodable<T>;

// Decodes one record from UTF-8 JSON text. Throws DecodingError (with the path of member names to
// the first problem); never returns a partial record.
template <JSONRecord T>
T decodeJSON(std::string_view json) {
  return foundation::decodeJSON<T>(json);
}

template <JSONRecord T>
T decodeJSON(std::span<const std::uint8_t> bytes) {
  return foundation::decodeJSON<T>(bytes);
}

// Encodes a record as compact JSON: members in the record's key order ("class" last in Document and
// DocumentConfidenceScores), absent fields omitted. Never throws for a decoded record; bytes that are
// not valid UTF-8 in a host-set text are written as U+FFFD.
template <JSONRecord T>
std::string encodeJSON(const T& record) {
  return foundation::encodeJSON(record);
}

}  // namespace morvik
