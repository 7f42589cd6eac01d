#include "api/models/JSONReader.h"

#include <limits>
#include <string>

#include "morvik/api/models/JSONCoding.h"
#include "morvik/api/models/Response.h"

namespace morvik::detail {

namespace {

using json = nlohmann::json;

bool isDigit(char c) noexcept { return c >= '0' && c <= '9'; }

bool isJSONWhitespace(char c) noexcept { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Builds the tree through nlohmann's own DOM builder, refusing excessive depth on the way in and
// replacing rounded floats by exact integers where the literal is a whole number.
class GuardedTreeBuilder {
 public:
  explicit GuardedTreeBuilder(json& root) : tree_(root, /*allow_exceptions_=*/false) {}

  bool null() { return tree_.null(); }
  bool boolean(bool value) { return tree_.boolean(value); }
  bool number_integer(json::number_integer_t value) { return tree_.number_integer(value); }
  bool number_unsigned(json::number_unsigned_t value) { return tree_.number_unsigned(value); }
  bool number_float(json::number_float_t value, const json::string_t& literal) {
    const NumberLiteralValue exact = classifyNumberLiteral(literal);
    if (exact.kind == NumberLiteralKind::integer) return tree_.number_integer(exact.value);
    return tree_.number_float(value, literal);
  }
  bool string(json::string_t& value) { return tree_.string(value); }
  bool binary(json::binary_t& value) { return tree_.binary(value); }
  bool start_object(std::size_t elements) { return enter() && tree_.start_object(elements); }
  bool key(json::string_t& value) { return tree_.key(value); }
  bool end_object() {
    --depth_;
    return tree_.end_object();
  }
  bool start_array(std::size_t elements) { return enter() && tree_.start_array(elements); }
  bool end_array() {
    --depth_;
    return tree_.end_array();
  }
  bool parse_error(std::size_t /*position*/, const std::string& /*lastToken*/,
                   const nlohmann::detail::exception& error) {
    failure_ = std::string("The given data was not valid JSON. ") + error.what();
    return false;
  }

  const std::string& failure() const { return failure_; }

 private:
  bool enter() {
    if (++depth_ > kMaxJSONNestingDepth) {
      failure_ = "The given data nests arrays or objects deeper than " +
                 std::to_string(kMaxJSONNestingDepth) + " levels.";
      return false;
    }
    return true;
  }

  nlohmann::detail::json_sax_dom_parser<json> tree_;
  std::size_t depth_ = 0;
  std::string failure_;
};

[[noreturn]] void corrupted(std::string description) {
  throw DecodingError(DecodingError::Kind::dataCorrupted, {}, std::move(description));
}

}  // namespace

json parseJSON(std::string_view text) {
  // Trim surrounding whitespace here: a body made of megabytes of blanks then fails at once instead
  // of being fed through the tokenizer byte by byte.
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && isJSONWhitespace(text[begin])) ++begin;
  while (end > begin && isJSONWhitespace(text[end - 1])) --end;
  if (begin == end) corrupted("The given data was not valid JSON. It is empty or holds only whitespace.");

  json root;
  GuardedTreeBuilder builder(root);
  const char* first = text.data() + begin;
  const char* last = text.data() + end;
  bool parsed = false;
  try {
    parsed = json::sax_parse(first, last, &builder, json::input_format_t::json, /*strict=*/true,
                             /*ignore_comments=*/false);
  } catch (const nlohmann::json::exception& error) {
    corrupted(std::string("The given data was not valid JSON. ") + error.what());
  }
  if (!parsed) {
    corrupted(builder.failure().empty() ? std::string("The given data was not valid JSON.")
                                        : builder.failure());
  }
  return root;
}

NumberLiteralValue classifyNumberLiteral(std::string_view literal) noexcept {
  std::size_t i = 0;
  const std::size_t n = literal.size();
  const bool negative = i < n && literal[i] == '-';
  if (negative) ++i;
  const std::size_t intBegin = i;
  while (i < n && isDigit(literal[i])) ++i;
  const std::string_view intDigits = literal.substr(intBegin, i - intBegin);
  std::string_view fracDigits;
  if (i < n && literal[i] == '.') {
    const std::size_t fracBegin = ++i;
    while (i < n && isDigit(literal[i])) ++i;
    fracDigits = literal.substr(fracBegin, i - fracBegin);
  }
  // The exponent saturates: beyond a billion the outcome (zero digits left, or far out of range)
  // no longer depends on its exact value.
  constexpr std::int64_t kExponentCap = 1'000'000'000;
  std::int64_t exponent = 0;
  if (i < n && (literal[i] == 'e' || literal[i] == 'E')) {
    ++i;
    bool negativeExponent = false;
    if (i < n && (literal[i] == '+' || literal[i] == '-')) negativeExponent = literal[i++] == '-';
    while (i < n && isDigit(literal[i])) {
      if (exponent < kExponentCap) exponent = exponent * 10 + (literal[i] - '0');
      ++i;
    }
    if (negativeExponent) exponent = -exponent;
  }

  // The significant digits are intDigits followed by fracDigits; value = D * 10^scale.
  const std::size_t total = intDigits.size() + fracDigits.size();
  auto digitAt = [&](std::size_t k) {
    return k < intDigits.size() ? intDigits[k] : fracDigits[k - intDigits.size()];
  };
  std::size_t firstNonZero = 0;
  while (firstNonZero < total && digitAt(firstNonZero) == '0') ++firstNonZero;
  if (firstNonZero == total) return {NumberLiteralKind::integer, 0};  // 0, -0.0, 0e99 ...
  std::size_t lastNonZero = total - 1;
  while (digitAt(lastNonZero) == '0') --lastNonZero;

  const std::int64_t scale = exponent - static_cast<std::int64_t>(fracDigits.size()) +
                             static_cast<std::int64_t>(total - 1 - lastNonZero);
  // D has no trailing zero, so a negative scale always leaves a fractional part.
  if (scale < 0) return {NumberLiteralKind::fractional, 0};
  const std::int64_t significant = static_cast<std::int64_t>(lastNonZero - firstNonZero + 1);
  if (significant + scale > 19) return {NumberLiteralKind::outOfRange, 0};

  std::uint64_t magnitude = 0;  // at most 19 digits: fits
  for (std::size_t k = firstNonZero; k <= lastNonZero; ++k)
    magnitude = magnitude * 10 + static_cast<std::uint64_t>(digitAt(k) - '0');
  for (std::int64_t k = 0; k < scale; ++k) magnitude *= 10;

  constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  if (!negative) {
    if (magnitude > kMax) return {NumberLiteralKind::outOfRange, 0};
    return {NumberLiteralKind::integer, static_cast<std::int64_t>(magnitude)};
  }
  if (magnitude > kMax + 1) return {NumberLiteralKind::outOfRange, 0};
  if (magnitude == kMax + 1) return {NumberLiteralKind::integer, std::numeric_limits<std::int64_t>::min()};
  return {NumberLiteralKind::integer, -static_cast<std::int64_t>(magnitude)};
}

}  // namespace morvik::detail
