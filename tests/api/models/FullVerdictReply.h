// A fully populated verdict reply (every field of every record present), about 4 KB, shared by
// the record tests and the decoding benchmark. Kept identical to
// tests/fuzz/corpus/response/full_verdict.json.
#pragma once

#include <string_view>

namespace morvik::samples {

inline constexpr std::string_view kFullVerdictReply = R"json({
  "success": true,
  "message": "Document verified successfully",
  "msg": "OK",
  "error": "",
  "meta": {
    "total": 1,
    "perPage": 20,
    "currentPage": 1,
    "lastPage": 1,
    "from": 0,
    "historycount": 12,
    "notificationCount": 3
  },
  "data": {
    "requestId": 9223372036854775807,
    "diveResponse": {
      "requestId": "3f2a9c1e-5b7d-4e21-9a0c-6d8e2f4b1a73",
      "document": {
        "auditInformation": "DL-AUDIT-20240117-0042",
        "cardRevisionDate": "08/29/2017",
        "endorsementsCode": "NONE",
        "hazmatExpirationDate": "",
        "iin": "636014",
        "race": "W",
        "restrictionCode": "B",
        "personalNumber": "A1234567",
        "ssn": "",
        "suffix": "JR",
        "abbr3Country": "USA",
        "abbrCountry": "US",
        "address": "2570 24TH STREET, APT 5",
        "city": "SACRAMENTO",
        "class": "C",
        "country": "United States",
        "dob": "08/31/1977",
        "expires": "08/31/2026",
        "eyes": "BRN",
        "familyName": "SAMPLE",
        "firstName": "ALEXANDER",
        "fullName": "ALEXANDER JAMES SAMPLE JR",
        "gender": "M",
        "hair": "BRN",
        "height": "5'-08\"",
        "id": "I1234568",
        "idType": "DL",
        "issued": "08/31/2021",
        "issuedBy": "CA",
        "maidenName": "",
        "middleName": "JAMES",
        "placeOfBirth": "CALIFORNIA",
        "postalBox": "",
        "state": "CA",
        "weight": "165 lb",
        "zip": "95818-1234"
      },
      "documentConfidenceScores": {
        "auditInformation": 60,
        "cardRevisionDate": 67,
        "endorsementsCode": 74,
        "hazmatExpirationDate": 81,
        "iin": 88,
        "race": 95,
        "restrictionCode": 62,
        "personalNumber": 69,
        "ssn": 76,
        "suffix": 83,
        "abbr3Country": 90,
        "abbrCountry": 97,
        "address": 64,
        "city": 71,
        "class": 78,
        "country": 85,
        "dob": 92,
        "expires": 99,
        "eyes": 66,
        "familyName": 73,
        "firstName": 80,
        "fullName": 87,
        "gender": 94,
        "hair": 61,
        "height": 68,
        "id": 75,
        "idType": 82,
        "issued": 89,
        "issuedBy": 96,
        "maidenName": 63,
        "middleName": 70,
        "placeOfBirth": 77,
        "postalBox": 84,
        "state": 91,
        "template": 98,
        "weight": 65,
        "zip": 72
      },
      "documentVerificationResult": {
        "isDocumentExpired": true,
        "isOcrSuccess": false,
        "isPdf417Success": false,
        "isMrzSuccess": true,
        "isShuftiSuccess": false,
        "isDriversLicenseRealID": false,
        "isCommercialDriversLicense": true,
        "isDriveOnly": false,
        "isVeteran": false,
        "isDonor": true,
        "isLimitedDurationDocument": false,
        "isInvalidated": false,
        "isNonDomicile": true,
        "isEnhancedCredential": false,
        "isPermit": false,
        "documentConfidence": 87
      },
      "faceMatchVerificationResult": {
        "falseAcceptanceRate": 100000,
        "faceMatchConfidence": 93,
        "isAgeCheckSuccess": true,
        "isGenderCheckSuccess": true,
        "assessedAgeFromSelfie": 44,
        "assessedAgeFromDocument": 46,
        "isSuspiciousPhoto": false
      },
      "antiSpoofingVerificationResult": {
        "antiSpoofingFaceImageConfidence": 97,
        "isDataFieldsTampered": false,
        "isPhotoFromDocumentTampered": false
      },
      "externalVerificationResults": [
        {
          "status": 1,
          "name": "aamva",
          "displayName": "AAMVA DLDV",
          "reason": "All fields matched",
          "effect": 0
        },
        {
          "status": 2,
          "name": "watchlist",
          "displayName": "Watchlist screening",
          "reason": "No match é found",
          "effect": 1
        },
        {
          "status": 0,
          "name": "address",
          "displayName": "Address check",
          "reason": "Address verified against registry",
          "effect": -1
        }
      ],
      "reference": "MV-REF-000917-AB"
    }
  }
})json";

}  // namespace morvik::samples
