// Document types and their scan steps.
//
// Plain values: safe to copy and read from any thread. The step lists are constants built once.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "morvik/Export.h"

namespace morvik {

// What a scan step captures. Decided by the step's title alone (see scanStepKinds).
enum class IDScanStepKind : std::uint8_t { front, back, face, none };

// The kind words a title contains: "front", "back", "face", letter case ignored (ASCII).
// Every built-in title contains exactly one of them; a host-made title may contain several or none.
struct IDScanStepKinds {
  bool front = false;
  bool back = false;
  bool face = false;

  bool none() const noexcept { return !front && !back && !face; }
};

// The single place where a title's kind words are found. Screens that test one word on its own
// (the capture screen's hints, the face analysis) read the matching flag; screens that need one
// kind per step use scanStepKind().
MORVIK_API IDScanStepKinds scanStepKinds(std::string_view title) noexcept;

// One kind per title: front when the title contains "front", else back when it contains "back",
// else face when it contains "face", else none (letter case ignored in every test).
MORVIK_API IDScanStepKind scanStepKind(std::string_view title) noexcept;

// One capture of a document type's step list. Its title is shown to the user and decides its kind;
// any text is accepted and nothing checks it against the built-in lists.
class MORVIK_API IDScanStep {
 public:
  explicit IDScanStep(std::string title) : title_(std::move(title)) {}

  const std::string& title() const noexcept { return title_; }

  IDScanStepKinds kinds() const noexcept { return scanStepKinds(title_); }
  IDScanStepKind kind() const noexcept { return scanStepKind(title_); }
  bool isFront() const noexcept { return kinds().front; }
  bool isBack() const noexcept { return kinds().back; }
  bool isFace() const noexcept { return kinds().face; }

 private:
  std::string title_;
};

// The kind of identity document a scan captures (its step list and upload code stay inside the
// SDK). Use the named constants:
//   IDDocumentType::passport.title(); switch (type) { case IDDocumentType::passport: ... }
class MORVIK_API IDDocumentType {
 public:
  enum class Value : std::uint8_t { driversLicenseOrIDCard, passport, passportCard, internationalID };

  static const IDDocumentType driversLicenseOrIDCard;
  static const IDDocumentType passport;
  static const IDDocumentType passportCard;
  static const IDDocumentType internationalID;

  constexpr explicit IDDocumentType(Value value) noexcept : value_(value) {}
  constexpr operator Value() const noexcept { return value_; }
  constexpr Value value() const noexcept { return value_; }
  friend constexpr bool operator==(IDDocumentType, IDDocumentType) noexcept = default;

  // The four types in declaration order.
  static const std::array<IDDocumentType, 4>& allCases() noexcept;

  // The title shown to the user, e.g. "Driver's License or ID Card".
  std::string_view title() const noexcept;

 private:
  Value value_;
};

inline constexpr IDDocumentType IDDocumentType::driversLicenseOrIDCard{Value::driversLicenseOrIDCard};
inline constexpr IDDocumentType IDDocumentType::passport{Value::passport};
inline constexpr IDDocumentType IDDocumentType::passportCard{Value::passportCard};
inline constexpr IDDocumentType IDDocumentType::internationalID{Value::internationalID};

}  // namespace morvik

template <>
struct std::hash<morvik::IDDocumentType> {
  std::size_t operator()(morvik::IDDocumentType type) const noexcept {
    return std::hash<std::uint8_t>{}(static_cast<std::uint8_t>(type.value()));
  }
};
