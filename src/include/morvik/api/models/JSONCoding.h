// JSON decoding and encoding of the reply records.
//
// Decoding is strict, as the server's contract demands: member names match exactly; a missing or
// null member leaves its field absent; unknown members are ignored at every depth; a value of the
// wrong JSON type fails the whole value. Integers are whole numbers within the signed 64-bit range
// (5.0 and 1e3 are accepted, 87.5 is not); Booleans are true or false only; text is a JSON string
// only. Bodies that are not JSON, or that nest deeper than kMaxJSONNestingDepth, fail cleanly.
//
// Thread-safe: the functions share no state. Failures throw DecodingError on the calling thread.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

#include "morvik/Export.h"
#include "morvik/api/models/DecodingError.h"
#include "morvik/api/models/DocumentVerificationData.h"

namespace morvik {

// Bodies nesting arrays or objects deeper than this are rejected before any record is read.
inline constexpr std::size_t kMaxJSONNestingDepth = 512;

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
concept JSONRecord = IsJSONRecord<T>::value;

// Decodes one record from UTF-8 JSON text. Throws DecodingError (with the path of member names to
// the first problem); never returns a partial record.
template <JSONRecord T>
MORVIK_API T decodeJSON(std::string_view json);

template <JSONRecord T>
T decodeJSON(std::span<const std::uint8_t> bytes) {
  return decodeJSON<T>(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

// Encodes a record as compact JSON: members in the record's key order ("class" last in Document and
// DocumentConfidenceScores), absent fields omitted. Never throws for a decoded record; bytes that are
// not valid UTF-8 in a host-set text are written as U+FFFD.
template <JSONRecord T>
MORVIK_API std::string encodeJSON(const T& record);

}  // namespace morvik
