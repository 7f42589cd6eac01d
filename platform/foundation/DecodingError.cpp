#include <morvik/platform/foundation/DecodingError.h>

#include <utility>

namespace foundation {
namespace {

// Printable ASCII stays; every other byte is written as \xNN, so no decoded
// text can break a console line or smuggle terminal controls into it.
void appendEscaped(std::string& out, unsigned char byte) {
  if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
    out += static_cast<char>(byte);
    return;
  }
  static constexpr char kHex[] = "0123456789ABCDEF";
  out += "\\x";
  out += kHex[byte >> 4];
  out += kHex[byte & 0xF];
}

std::string escaped(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) appendEscaped(out, static_cast<unsigned char>(c));
  return out;
}

// The last characters of a quoted piece of the text, where a parser stopped:
// enough to find the fault, too little to carry the text's contents.
std::string excerpt(std::string_view quoted) {
  std::string tail;
  std::size_t start = quoted.size();
  while (start > 0) {
    std::string piece;
    appendEscaped(piece, static_cast<unsigned char>(quoted[start - 1]));
    if (tail.size() + piece.size() > DecodingError::kMaxExcerptLength) break;
    tail.insert(0, piece);
    --start;
  }
  return start > 0 ? "..." + tail : tail;
}

}  // namespace

std::string DecodingError::boundedText(std::string_view text) {
  // The JSON parser quotes the token it was reading ("last read: '...'"): from
  // the first quote to the last, that is decoded text of any length.
  const std::size_t open = text.find('\'');
  const std::size_t close = text.rfind('\'');
  if (open == std::string_view::npos || close == open) return escaped(text);
  return escaped(text.substr(0, open + 1)) + excerpt(text.substr(open + 1, close - open - 1)) +
         escaped(text.substr(close));
}

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
    : kind_(kind), codingPath_(std::move(codingPath)), debugDescription_(boundedText(debugDescription)) {
  description_ = description(kind_);
  if (!codingPath_.empty()) description_ += " at \"" + pathDescription() + "\"";
  description_ += ": " + debugDescription_;
  if (description_.size() > kMaxDescriptionLength) {
    description_.resize(kMaxDescriptionLength - 3);
    description_ += "...";
  }
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

}  // namespace foundation
