#include "morvik/api/models/JSONCoding.h"

#include <limits>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "api/models/JSONReader.h"
#include "morvik/api/models/Response.h"

namespace morvik {

namespace detail {

template <class Record, class Member>
struct Field {
  std::string_view key;
  Member Record::*member;
};

template <class Record, class Member>
constexpr Field<Record, Member> field(std::string_view key, Member Record::*member) {
  return {key, member};
}

// Each schema lists its fields in decoding order: the key-list order for the envelope records,
// the declaration order for the verdict records. `kClassLast` moves "class" to the end on encoding.

template <>
struct JSONSchema<Meta> {
  static constexpr bool kClassLast = false;
  static constexpr auto fields() {
    return std::make_tuple(field("total", &Meta::total), field("perPage", &Meta::perPage),
                           field("currentPage", &Meta::currentPage), field("lastPage", &Meta::lastPage),
                           field("from", &Meta::from), field("historycount", &Meta::historyCount),
                           field("notificationCount", &Meta::notificationCount));
  }
};

template <>
struct JSONSchema<Response> {
  static constexpr bool kClassLast = false;
  // "msg" is read (and written) before "error".
  static constexpr auto fields() {
    return std::make_tuple(field("success", &Response::success), field("message", &Response::message),
                           field("msg", &Response::msg), field("error", &Response::error),
                           field("meta", &Response::meta),
                           field("data", &Response::documentVerificationData));
  }
};

template <>
struct JSONSchema<Auth> {
  static constexpr bool kClassLast = false;
  static constexpr auto fields() {
    return std::make_tuple(field("tokenType", &Auth::tokenType), field("expiresIn", &Auth::expiresIn),
                           field("accessToken", &Auth::accessToken),
                           field("refreshToken", &Auth::refreshToken));
  }
};

template <>
struct JSONSchema<LogInResponse> {
  static constexpr bool kClassLast = false;
  static constexpr auto fields() {
    return std::make_tuple(
        field("_id", &LogInResponse::id), field("fullName", &LogInResponse::fullName),
        field("email", &LogInResponse::email), field("dob", &LogInResponse::dob),
        field("profileImage", &LogInResponse::profileImage),
        field("countryName", &LogInResponse::countryName), field("countryCode", &LogInResponse::countryCode),
        field("phone", &LogInResponse::phone),
        field("emergencyCountryCode", &LogInResponse::emergencyCountryCode),
        field("emergencyCountryName", &LogInResponse::emergencyCountryName),
        field("emergencyPhone", &LogInResponse::emergencyPhone), field("flatNo", &LogInResponse::flatNo),
        field("address", &LogInResponse::address), field("latitude", &LogInResponse::latitude),
        field("longitude", &LogInResponse::longitude),
        field("isPhoneVerified", &LogInResponse::isPhoneVerified), field("auth", &LogInResponse::auth));
  }
};

template <>
struct JSONSchema<DocumentVerificationData> {
  static constexpr bool kClassLast = false;
  static constexpr auto fields() {
    return std::make_tuple(field("requestId", &DocumentVerificationData::requestId),
                           field("diveResponse", &DocumentVerificationData::diveResponse));
  }
};

template <>
struct JSONSchema<DiveResponse> {
  static constexpr bool kClassLast = false;
  static constexpr auto fields() {
    return std::make_tuple(
        field("requestId", &DiveResponse::requestId), field("document", &DiveResponse::document),
        field("documentConfidenceScores", &DiveResponse::documentConfidenceScores),
        field("documentVerificationResult", &DiveResponse::documentVerificationResult),
        field("faceMatchVerificationResult", &DiveResponse::faceMatchVerificationResult),
        field("antiSpoofingVerificationResult", &DiveResponse::antiSpoofingVerificationResult),
        field("externalVerificationResults", &DiveResponse::externalVerificationResults),
        field("reference", &DiveResponse::reference));
  }
};

template <>
struct JSONSchema<Document> {
  static constexpr bool kClassLast = true;
  static constexpr auto fields() {
    return std::make_tuple(
        field("auditInformation", &Document::auditInformation),
        field("cardRevisionDate", &Document::cardRevisionDate),
        field("endorsementsCode", &Document::endorsementsCode),
        field("hazmatExpirationDate", &Document::hazmatExpirationDate), field("iin", &Document::iin),
        field("race", &Document::race), field("restrictionCode", &Document::restrictionCode),
        field("personalNumber", &Document::personalNumber), field("ssn", &Document::ssn),
        field("suffix", &Document::suffix), field("abbr3Country", &Document::abbr3Country),
        field("abbrCountry", &Document::abbrCountry), field("address", &Document::address),
        field("city", &Document::city), field("class", &Document::documentClass),
        field("country", &Document::country), field("dob", &Document::dob),
        field("expires", &Document::expires), field("eyes", &Document::eyes),
        field("familyName", &Document::familyName), field("firstName", &Document::firstName),
        field("fullName", &Document::fullName), field("gender", &Document::gender),
        field("hair", &Document::hair), field("height", &Document::height), field("id", &Document::id),
        field("idType", &Document::idType), field("issued", &Document::issued),
        field("issuedBy", &Document::issuedBy), field("maidenName", &Document::maidenName),
        field("middleName", &Document::middleName), field("placeOfBirth", &Document::placeOfBirth),
        field("postalBox", &Document::postalBox), field("state", &Document::state),
        field("weight", &Document::weight), field("zip", &Document::zip));
  }
};

template <>
struct JSONSchema<DocumentConfidenceScores> {
  static constexpr bool kClassLast = true;
  static constexpr auto fields() {
    return std::make_tuple(
        field("auditInformation", &DocumentConfidenceScores::auditInformation),
        field("cardRevisionDate", &DocumentConfidenceScores::cardRevisionDate),
        field("endorsementsCode", &DocumentConfidenceScores::endorsementsCode),
        field("hazmatExpirationDate", &DocumentConfidenceScores::hazmatExpirationDate),
        field("iin", &DocumentConfidenceScores::iin), field("race", &DocumentConfidenceScores::race),
        field("restrictionCode", &DocumentConfidenceScores::restrictionCode),
        field("personalNumber", &DocumentConfidenceScores::personalNumber),
        field("ssn", &DocumentConfidenceScores::ssn), field("suffix", &DocumentConfidenceScores::suffix),
        field("abbr3Country", &DocumentConfidenceScores::abbr3Country),
        field("abbrCountry", &DocumentConfidenceScores::abbrCountry),
        field("address", &DocumentConfidenceScores::address), field("city", &DocumentConfidenceScores::city),
        field("class", &DocumentConfidenceScores::documentClass),
        field("country", &DocumentConfidenceScores::country), field("dob", &DocumentConfidenceScores::dob),
        field("expires", &DocumentConfidenceScores::expires), field("eyes", &DocumentConfidenceScores::eyes),
        field("familyName", &DocumentConfidenceScores::familyName),
        field("firstName", &DocumentConfidenceScores::firstName),
        field("fullName", &DocumentConfidenceScores::fullName),
        field("gender", &DocumentConfidenceScores::gender), field("hair", &DocumentConfidenceScores::hair),
        field("height", &DocumentConfidenceScores::height), field("id", &DocumentConfidenceScores::id),
        field("idType", &DocumentConfidenceScores::idType),
        field("issued", &DocumentConfidenceScores::issued),
        field("issuedBy", &DocumentConfidenceScores::issuedBy),
        field("maidenName", &DocumentConfidenceScores::maidenName),
        field("middleName", &DocumentConfidenceScores::middleName),
        field("placeOfBirth", &DocumentConfidenceScores::placeOfBirth),
        field("postalBox", &DocumentConfidenceScores::postalBox),
        field("state", &DocumentConfidenceScores::state),
        field("template", &DocumentConfidenceScores::template_),
        field("weight", &DocumentConfidenceScores::weight), field("zip", &DocumentConfidenceScores::zip));
  }
};

template <>
struct JSONSchema<DocumentVerificationResult> {
  static constexpr bool kClassLast = false;
  using R = DocumentVerificationResult;
  static constexpr auto fields() {
    return std::make_tuple(
        field("isDocumentExpired", &R::isDocumentExpired), field("isOcrSuccess", &R::isOcrSuccess),
        field("isPdf417Success", &R::isPdf417Success), field("isMrzSuccess", &R::isMrzSuccess),
        field("isShuftiSuccess", &R::isShuftiSuccess),
        field("isDriversLicenseRealID", &R::isDriversLicenseRealID),
        field("isCommercialDriversLicense", &R::isCommercialDriversLicense),
        field("isDriveOnly", &R::isDriveOnly), field("isVeteran", &R::isVeteran),
        field("isDonor", &R::isDonor), field("isLimitedDurationDocument", &R::isLimitedDurationDocument),
        field("isInvalidated", &R::isInvalidated), field("isNonDomicile", &R::isNonDomicile),
        field("isEnhancedCredential", &R::isEnhancedCredential), field("isPermit", &R::isPermit),
        field("documentConfidence", &R::documentConfidence));
  }
};

template <>
struct JSONSchema<FaceMatchVerificationResult> {
  static constexpr bool kClassLast = false;
  using R = FaceMatchVerificationResult;
  static constexpr auto fields() {
    return std::make_tuple(field("falseAcceptanceRate", &R::falseAcceptanceRate),
                           field("faceMatchConfidence", &R::faceMatchConfidence),
                           field("isAgeCheckSuccess", &R::isAgeCheckSuccess),
                           field("isGenderCheckSuccess", &R::isGenderCheckSuccess),
                           field("assessedAgeFromSelfie", &R::assessedAgeFromSelfie),
                           field("assessedAgeFromDocument", &R::assessedAgeFromDocument),
                           field("isSuspiciousPhoto", &R::isSuspiciousPhoto));
  }
};

template <>
struct JSONSchema<AntiSpoofingVerificationResult> {
  static constexpr bool kClassLast = false;
  using R = AntiSpoofingVerificationResult;
  static constexpr auto fields() {
    return std::make_tuple(field("antiSpoofingFaceImageConfidence", &R::antiSpoofingFaceImageConfidence),
                           field("isDataFieldsTampered", &R::isDataFieldsTampered),
                           field("isPhotoFromDocumentTampered", &R::isPhotoFromDocumentTampered));
  }
};

template <>
struct JSONSchema<ExternalVerificationResult> {
  static constexpr bool kClassLast = false;
  using R = ExternalVerificationResult;
  static constexpr auto fields() {
    return std::make_tuple(field("status", &R::status), field("name", &R::name),
                           field("displayName", &R::displayName), field("reason", &R::reason),
                           field("effect", &R::effect));
  }
};

}  // namespace detail

namespace {

using json = nlohmann::json;
using ordered_json = nlohmann::ordered_json;
using detail::JSONSchema;

const char* describe(const json& value) {
  switch (value.type()) {
    case json::value_t::null:
      return "null";
    case json::value_t::boolean:
      return "a Boolean";
    case json::value_t::string:
      return "a string";
    case json::value_t::array:
      return "an array";
    case json::value_t::object:
      return "an object";
    case json::value_t::number_integer:
    case json::value_t::number_unsigned:
    case json::value_t::number_float:
      return "a number";
    default:
      return "binary data";
  }
}

// Walks the parsed tree along a record's schema. The path is kept as views into the schemas'
// static key literals; it is only turned into strings when a failure is thrown.
class Decoder {
 public:
  template <class Record>
  void record(const json& value, Record& out) {
    if (!value.is_object()) {
      if (value.is_null())
        fail(DecodingError::Kind::valueNotFound, "Expected an object but found null instead.");
      mismatch("an object", value);
    }
    const auto& members = value.get_ref<const json::object_t&>();
    std::apply([&](const auto&... fields) { (member(members, fields, out), ...); },
               JSONSchema<Record>::fields());
  }

 private:
  struct Step {
    std::string_view key;
    std::size_t index = 0;
    bool isIndex = false;
  };

  template <class Record, class Member>
  void member(const json::object_t& members, const detail::Field<Record, Member>& field, Record& out) {
    const auto found = members.find(field.key);
    if (found == members.end() || found->second.is_null()) return;  // absent
    path_.push_back({field.key});
    read(found->second, out.*(field.member));
    path_.pop_back();
  }

  void read(const json& value, std::optional<std::string>& out) {
    if (!value.is_string()) mismatch("String", value);
    out = value.get_ref<const std::string&>();
  }

  void read(const json& value, std::optional<bool>& out) {
    if (!value.is_boolean()) mismatch("Bool", value);
    out = value.get<bool>();
  }

  void read(const json& value, std::optional<std::int64_t>& out) {
    // The parser has already turned every whole-number literal within range into an integer.
    if (value.is_number_integer() && !value.is_number_unsigned()) {
      out = value.get<std::int64_t>();
    } else if (value.is_number_unsigned() &&
               value.get<std::uint64_t>() <=
                   static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
      out = static_cast<std::int64_t>(value.get<std::uint64_t>());
    } else if (value.is_number()) {
      fail(DecodingError::Kind::dataCorrupted,
           "Expected a whole number within the range of Int64 but found the number " + value.dump() + ".");
    } else {
      mismatch("Int64", value);
    }
  }

  template <class Record>
  void read(const json& value, std::optional<Record>& out) {
    Record decoded;
    record(value, decoded);
    out = std::move(decoded);
  }

  template <class Record>
  void read(const json& value, std::optional<std::vector<Record>>& out) {
    if (!value.is_array()) mismatch("an array", value);
    const auto& elements = value.get_ref<const json::array_t&>();
    std::vector<Record> decoded;
    decoded.reserve(elements.size());
    for (std::size_t index = 0; index < elements.size(); ++index) {
      path_.push_back({{}, index, true});
      Record element;
      record(elements[index], element);
      decoded.push_back(std::move(element));
      path_.pop_back();
    }
    out = std::move(decoded);
  }

  [[noreturn]] void mismatch(std::string_view expected, const json& found) const {
    fail(DecodingError::Kind::typeMismatch,
         "Expected to decode " + std::string(expected) + " but found " + describe(found) + " instead.");
  }

  [[noreturn]] void fail(DecodingError::Kind kind, std::string description) const {
    std::vector<DecodingError::CodingKey> path;
    path.reserve(path_.size());
    for (const Step& step : path_) {
      if (step.isIndex) {
        path.push_back({"Index " + std::to_string(step.index), step.index});
      } else {
        path.push_back({std::string(step.key), std::nullopt});
      }
    }
    throw DecodingError(kind, std::move(path), std::move(description));
  }

  std::vector<Step> path_;
};

void write(ordered_json& out, const std::string& value) { out = value; }
void write(ordered_json& out, bool value) { out = value; }
void write(ordered_json& out, std::int64_t value) { out = value; }

template <class Record>
void writeRecord(ordered_json& out, const Record& record);

template <class Record>
void write(ordered_json& out, const Record& record) {
  writeRecord(out, record);
}

template <class Record>
void write(ordered_json& out, const std::vector<Record>& list) {
  out = ordered_json::array();
  for (const Record& element : list) {
    ordered_json encoded;
    writeRecord(encoded, element);
    out.push_back(std::move(encoded));
  }
}

template <class Record>
void writeRecord(ordered_json& out, const Record& record) {
  out = ordered_json::object();
  auto writeField = [&](const auto& field, bool classPass) {
    const bool isMovedClass = JSONSchema<Record>::kClassLast && field.key == "class";
    if (isMovedClass != classPass) return;
    const auto& value = record.*(field.member);
    if (!value) return;  // absent fields write nothing
    ordered_json encoded;
    write(encoded, *value);
    out.emplace(std::string(field.key), std::move(encoded));
  };
  std::apply([&](const auto&... fields) { (writeField(fields, false), ...); }, JSONSchema<Record>::fields());
  if constexpr (JSONSchema<Record>::kClassLast) {
    std::apply([&](const auto&... fields) { (writeField(fields, true), ...); }, JSONSchema<Record>::fields());
  }
}

}  // namespace

template <JSONRecord T>
T decodeJSON(std::string_view text) {
  const json root = detail::parseJSON(text);
  T decoded;
  Decoder().record(root, decoded);
  return decoded;
}

template <JSONRecord T>
std::string encodeJSON(const T& record) {
  ordered_json out;
  writeRecord(out, record);
  return out.dump(-1, ' ', false, ordered_json::error_handler_t::replace);
}

#define MORVIK_JSON_RECORD(Record)                           \
  template Record decodeJSON<Record>(std::string_view text); \
  template std::string encodeJSON<Record>(const Record& record);

MORVIK_JSON_RECORD(Response)
MORVIK_JSON_RECORD(Meta)
MORVIK_JSON_RECORD(LogInResponse)
MORVIK_JSON_RECORD(Auth)
MORVIK_JSON_RECORD(DocumentVerificationData)
MORVIK_JSON_RECORD(DiveResponse)
MORVIK_JSON_RECORD(Document)
MORVIK_JSON_RECORD(DocumentConfidenceScores)
MORVIK_JSON_RECORD(DocumentVerificationResult)
MORVIK_JSON_RECORD(FaceMatchVerificationResult)
MORVIK_JSON_RECORD(AntiSpoofingVerificationResult)
MORVIK_JSON_RECORD(ExternalVerificationResult)

#undef MORVIK_JSON_RECORD

}  // namespace morvik
