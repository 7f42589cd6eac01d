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

#include "morvik/api/models/DecodingError.h"
#include "morvik/api/models/DocumentVerificationData.h"
#include "morvik/api/models/Response.h"

namespace morvik {

// Bodies nesting arrays or objects deeper than this are rejected before any record is read.
inline constexpr std::size_t kMaxJSONNestingDepth = 512;

template <class T>
concept JSONRecord = std::same_as<T, Response> || std::same_as<T, Meta> || std::same_as<T, LogInResponse> ||
    std::same_as<T, Auth> || std::same_as<T, DocumentVerificationData> || std::same_as<T, DiveResponse> ||
    std::same_as<T, Document> || std::same_as<T, DocumentConfidenceScores> ||
    std::same_as<T, DocumentVerificationResult> || std::same_as<T, FaceMatchVerificationResult> ||
    std::same_as<T, AntiSpoofingVerificationResult> || std::same_as<T, ExternalVerificationResult>;

// Decodes one record from UTF-8 JSON text. Throws DecodingError (with the path of member names to
// the first problem); never returns a partial record.
template <JSONRecord T>
T decodeJSON(std::string_view json);

template <JSONRecord T>
T decodeJSON(std::span<const std::uint8_t> bytes) {
  return decodeJSON<T>(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

// Encodes a record as compact JSON: members in the record's key order ("class" last in Document and
// DocumentConfidenceScores), absent fields omitted. Never throws for a decoded record; bytes that are
// not valid UTF-8 in a host-set text are written as U+FFFD.
template <JSONRecord T>
std::string encodeJSON(const T& record);

}  // namespace morvik
