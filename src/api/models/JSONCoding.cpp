// The reply records' coding keys, handed to the platform's keyed JSON coding.
#include "morvik/api/models/JSONCoding.h"

#include <morvik/platform/foundation/JSONCoding.h>

#include <string_view>
#include <tuple>

#include "morvik/api/models/Response.h"

namespace morvik {

namespace detail {

template <class Record, class Member>
constexpr foundation::CodingKey<Record, Member> field(std::string_view key, Member Record::*member) {
  return foundation::codingKey(key, member);
}

// Each schema lists its fields in decoding order: the key-list order for the envelope records,
// the declaration order for the verdict records. `kClassLast` moves "class" to the end on encoding.
// The schemas are friends of the records whose fields are not all public.

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

template <class Record>
const foundation::KeyedCoding& replyRecordCoding() {
  using Schema = detail::JSONSchema<Record>;
  static const auto coding = foundation::makeKeyedCoding(
      Schema::fields(), Schema::kClassLast ? std::string_view("class") : std::string_view());
  return coding;
}

}  // namespace

}  // namespace morvik

#define MORVIK_JSON_RECORD(Record)                                                  \
  const foundation::KeyedCoding& foundation::CodingKeys<morvik::Record>::coding() { \
    return morvik::replyRecordCoding<morvik::Record>();                             \
  }

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
