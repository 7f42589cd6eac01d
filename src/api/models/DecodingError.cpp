#include "morvik/api/models/DecodingError.h"

#include <utility>

namespace morvik {

const char* description(DecodingError::Kind kind) noexcept {
  switch (kind) {
    case DecodingError::Kind::typeMismatch:
      return "typeMismatch";
    case DecodingError::Kind::valueNotFound:
      return "valueNotFound";
    case DecodingError::Kind::dataCorrupted:
      return "dataCorrupted";
  }
  return "dataCorrupted";
}

DecodingError::DecodingError(Kind kind, std::vector<CodingKey> codingPath, std::string debugDescription)
    : kind_(kind), codingPath_(std::move(codingPath)), debugDescription_(std::move(debugDescription)) {
  description_ = description(kind_);
  if (!codingPath_.empty()) description_ += " at \"" + pathDescription() + "\"";
  description_ += ": " + debugDescription_;
}

std::string DecodingError::pathDescription() const {
  std::string text;
  for (const CodingKey& key : codingPath_) {
    if (key.intValue) {
      text += '[' + std::to_string(*key.intValue) + ']';
    } else {
      if (!text.empty()) text += '.';
      text += key.stringValue;
    }
  }
  return text;
}

}  // namespace morvik
