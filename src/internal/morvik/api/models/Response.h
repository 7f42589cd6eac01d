// The reply envelope and the signed-in user's record.
//
// Internal to the SDK: a host sees only the verdict record an envelope carries. Plain values like
// the verdict records (DocumentVerificationData.h): every field optional, read and written freely, no
// shared state. Decoded and encoded through JSONCoding.h.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "morvik/api/models/DocumentVerificationData.h"
#include "morvik/api/models/JSONCoding.h"

namespace morvik {

// Paging information and counters; the SDK gives them no meaning.
struct Meta {
  std::optional<std::int64_t> total;
  std::optional<std::int64_t> perPage;
  std::optional<std::int64_t> currentPage;
  std::optional<std::int64_t> lastPage;
  std::optional<std::int64_t> from;
  std::optional<std::int64_t> historyCount;  // JSON member "historycount"
  std::optional<std::int64_t> notificationCount;
};

// Every reply of the verification server. JSON members in key order: "success", "message", "msg",
// "error", "meta", "data"; `documentVerificationData` travels as "data".
struct Response {
  std::optional<bool> success;
  std::optional<std::string> message;
  std::optional<std::string> error;
  std::optional<std::string> msg;
  std::optional<Meta> meta;
  std::optional<DocumentVerificationData> documentVerificationData;
};

// The signed-in user's tokens. Of these the SDK uses `accessToken` alone, as the bearer token.
struct Auth {
  std::optional<std::string> tokenType;
  std::optional<std::int64_t> expiresIn;
  std::optional<std::string> accessToken;
  std::optional<std::string> refreshToken;
};

// The signed-in user's record, which the host stores under the user defaults entry "user_data".
// `id` travels as "_id"; `dob`, `latitude` and `longitude` are whole numbers.
struct LogInResponse {
  std::optional<std::string> id;
  std::optional<std::string> fullName;
  std::optional<std::string> email;
  std::optional<std::int64_t> dob;
  std::optional<std::string> profileImage;
  std::optional<std::string> countryName;
  std::optional<std::string> countryCode;
  std::optional<std::string> phone;
  std::optional<std::string> emergencyCountryCode;
  std::optional<std::string> emergencyCountryName;
  std::optional<std::string> emergencyPhone;
  std::optional<std::string> flatNo;
  std::optional<std::string> address;
  std::optional<std::int64_t> latitude;
  std::optional<std::int64_t> longitude;
  std::optional<bool> isPhoneVerified;
  std::optional<Auth> auth;
};

template <>
struct IsJSONRecord<Response> : std::true_type {};
template <>
struct IsJSONRecord<Meta> : std::true_type {};
template <>
struct IsJSONRecord<LogInResponse> : std::true_type {};
template <>
struct IsJSONRecord<Auth> : std::true_type {};

}  // namespace morvik

// Codable like the verdict records (internal: not exported).
template <>
struct foundation::CodingKeys<morvik::Response> {
  static const foundation::KeyedCoding& coding();
};
template <>
struct foundation::CodingKeys<morvik::Meta> {
  static const foundation::KeyedCoding& coding();
};
template <>
struct foundation::CodingKeys<morvik::LogInResponse> {
  static const foundation::KeyedCoding& coding();
};
template <>
struct foundation::CodingKeys<morvik::Auth> {
  static const foundation::KeyedCoding& coding();
};
