// The verification verdict: the record the server returns under "data" of every reply.
//
// Plain values: copying copies every nested record and list; copies may cross threads freely.
// Every field is optional (absent or holding a value) and can be read and written. Records come
// from decodeJSON (JSONCoding.h); a default-constructed record has every field absent, as if
// decoded from "{}". encodeJSON writes them back.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "morvik/Export.h"

namespace foundation {
class KeyedCoding;
template <class T>
struct CodingKeys;
}  // namespace foundation

namespace morvik {

namespace detail {
template <class Record>
struct JSONSchema;
}  // namespace detail

// The document's data as the server read it, all text exactly as sent (dates, heights ... are not
// parsed). `documentClass` travels as the JSON member "class".
struct MORVIK_API Document {
  Document() = default;

  std::optional<std::string> auditInformation;
  std::optional<std::string> cardRevisionDate;
  std::optional<std::string> endorsementsCode;
  std::optional<std::string> hazmatExpirationDate;
  std::optional<std::string> iin;
  std::optional<std::string> race;
  std::optional<std::string> restrictionCode;
  std::optional<std::string> personalNumber;
  std::optional<std::string> ssn;
  std::optional<std::string> suffix;
  std::optional<std::string> abbr3Country;
  std::optional<std::string> abbrCountry;
  std::optional<std::string> address;
  std::optional<std::string> city;
  std::optional<std::string> documentClass;  // JSON member "class"
  std::optional<std::string> country;
  std::optional<std::string> dob;
  std::optional<std::string> expires;
  std::optional<std::string> eyes;
  std::optional<std::string> familyName;
  std::optional<std::string> firstName;
  std::optional<std::string> fullName;
  std::optional<std::string> gender;
  std::optional<std::string> hair;
  std::optional<std::string> height;
  std::optional<std::string> id;
  std::optional<std::string> idType;
  std::optional<std::string> issued;
  std::optional<std::string> issuedBy;
  std::optional<std::string> maidenName;
  std::optional<std::string> middleName;
  std::optional<std::string> placeOfBirth;
  std::optional<std::string> postalBox;
  std::optional<std::string> state;
  std::optional<std::string> weight;
  std::optional<std::string> zip;
};

// A confidence score per document field. Only `auditInformation` is open to the host; the others
// are decoded and encoded (encodeJSON shows them) but kept for the SDK.
class MORVIK_API DocumentConfidenceScores {
 public:
  DocumentConfidenceScores() = default;

  std::optional<std::int64_t> auditInformation;

 private:
  template <class Record>
  friend struct detail::JSONSchema;

  std::optional<std::int64_t> cardRevisionDate;
  std::optional<std::int64_t> endorsementsCode;
  std::optional<std::int64_t> hazmatExpirationDate;
  std::optional<std::int64_t> iin;
  std::optional<std::int64_t> race;
  std::optional<std::int64_t> restrictionCode;
  std::optional<std::int64_t> personalNumber;
  std::optional<std::int64_t> ssn;
  std::optional<std::int64_t> suffix;
  std::optional<std::int64_t> abbr3Country;
  std::optional<std::int64_t> abbrCountry;
  std::optional<std::int64_t> address;
  std::optional<std::int64_t> city;
  std::optional<std::int64_t> documentClass;  // JSON member "class"
  std::optional<std::int64_t> country;
  std::optional<std::int64_t> dob;
  std::optional<std::int64_t> expires;
  std::optional<std::int64_t> eyes;
  std::optional<std::int64_t> familyName;
  std::optional<std::int64_t> firstName;
  std::optional<std::int64_t> fullName;
  std::optional<std::int64_t> gender;
  std::optional<std::int64_t> hair;
  std::optional<std::int64_t> height;
  std::optional<std::int64_t> id;
  std::optional<std::int64_t> idType;
  std::optional<std::int64_t> issued;
  std::optional<std::int64_t> issuedBy;
  std::optional<std::int64_t> maidenName;
  std::optional<std::int64_t> middleName;
  std::optional<std::int64_t> placeOfBirth;
  std::optional<std::int64_t> postalBox;
  std::optional<std::int64_t> state;
  std::optional<std::int64_t> template_;  // JSON member "template" (a C++ keyword)
  std::optional<std::int64_t> weight;
  std::optional<std::int64_t> zip;
};

struct MORVIK_API DocumentVerificationResult {
  DocumentVerificationResult() = default;

  std::optional<bool> isDocumentExpired;
  std::optional<bool> isOcrSuccess;
  std::optional<bool> isPdf417Success;
  std::optional<bool> isMrzSuccess;
  std::optional<bool> isShuftiSuccess;
  std::optional<bool> isDriversLicenseRealID;
  std::optional<bool> isCommercialDriversLicense;
  std::optional<bool> isDriveOnly;
  std::optional<bool> isVeteran;
  std::optional<bool> isDonor;
  std::optional<bool> isLimitedDurationDocument;
  std::optional<bool> isInvalidated;
  std::optional<bool> isNonDomicile;
  std::optional<bool> isEnhancedCredential;
  std::optional<bool> isPermit;
  std::optional<std::int64_t> documentConfidence;
};

struct MORVIK_API FaceMatchVerificationResult {
  FaceMatchVerificationResult() = default;

  std::optional<std::int64_t> falseAcceptanceRate;
  std::optional<std::int64_t> faceMatchConfidence;
  std::optional<bool> isAgeCheckSuccess;
  std::optional<bool> isGenderCheckSuccess;
  std::optional<std::int64_t> assessedAgeFromSelfie;
  std::optional<std::int64_t> assessedAgeFromDocument;
  std::optional<bool> isSuspiciousPhoto;
};

struct MORVIK_API AntiSpoofingVerificationResult {
  AntiSpoofingVerificationResult() = default;

  std::optional<std::int64_t> antiSpoofingFaceImageConfidence;
  std::optional<bool> isDataFieldsTampered;
  std::optional<bool> isPhotoFromDocumentTampered;
};

// One further check's outcome; the codes in `status` and `effect` are carried as received.
struct MORVIK_API ExternalVerificationResult {
  ExternalVerificationResult() = default;

  std::optional<std::int64_t> status;
  std::optional<std::string> name;
  std::optional<std::string> displayName;
  std::optional<std::string> reason;
  std::optional<std::int64_t> effect;
};

struct MORVIK_API DiveResponse {
  DiveResponse() = default;

  std::optional<std::string> requestId;  // text here, an integer in DocumentVerificationData
  std::optional<Document> document;
  std::optional<DocumentConfidenceScores> documentConfidenceScores;
  std::optional<DocumentVerificationResult> documentVerificationResult;
  std::optional<FaceMatchVerificationResult> faceMatchVerificationResult;
  std::optional<AntiSpoofingVerificationResult> antiSpoofingVerificationResult;
  std::optional<std::vector<ExternalVerificationResult>> externalVerificationResults;
  std::optional<std::string> reference;
};

// The root of the verdict. Its presence, not its contents, makes a verification count as verified.
struct MORVIK_API DocumentVerificationData {
  DocumentVerificationData() = default;

  std::optional<std::int64_t> requestId;
  std::optional<DiveResponse> diveResponse;
};

}  // namespace morvik

// The records are codable by the platform's keyed JSON coding (JSONCoding.h).
template <>
struct foundation::CodingKeys<morvik::DocumentVerificationData> {
  MORVIK_API static const foundation::KeyedCoding& coding();
};
template <>
struct foundation::CodingKeys<morvik::DiveResponse> {
  MORVIK_API static const foundation::KeyedCoding& coding();
};
template <>
struct foundation::CodingKeys<morvik::Document> {
  MORVIK_API static const foundation::KeyedCoding& coding();
};
template <>
struct foundation::CodingKeys<morvik::DocumentConfidenceScores> {
  MORVIK_API static const foundation::KeyedCoding& coding();
};
template <>
struct foundation::CodingKeys<morvik::DocumentVerificationResult> {
  MORVIK_API static const foundation::KeyedCoding& coding();
};
template <>
struct foundation::CodingKeys<morvik::FaceMatchVerificationResult> {
  MORVIK_API static const foundation::KeyedCoding& coding();
};
template <>
struct foundation::CodingKeys<morvik::AntiSpoofingVerificationResult> {
  MORVIK_API static const foundation::KeyedCoding& coding();
};
template <>
struct foundation::CodingKeys<morvik::ExternalVerificationResult> {
  MORVIK_API static const foundation::KeyedCoding& coding();
};
