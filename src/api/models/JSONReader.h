// Internal: turns reply text into a JSON tree safely, for the record decoders.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string_view>

namespace morvik::detail {

// Parses UTF-8 JSON text. Nesting deeper than kMaxJSONNestingDepth is refused while parsing, so no
// deep tree is ever built. Number literals that denote a whole number within the signed 64-bit
// range (including 5.0 and 1e3) become integers; every number left as a float is therefore
// fractional or out of that range. Throws DecodingError (dataCorrupted, empty path) on any failure.
nlohmann::json parseJSON(std::string_view text);

enum class NumberLiteralKind { integer, fractional, outOfRange };

struct NumberLiteralValue {
  NumberLiteralKind kind;
  std::int64_t value;  // meaningful for `integer` only
};

// The exact value of a JSON number literal (RFC 8259 grammar, already validated by the parser),
// decided from its digits rather than from a rounded double.
NumberLiteralValue classifyNumberLiteral(std::string_view literal) noexcept;

}  // namespace morvik::detail
