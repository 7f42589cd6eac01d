// Keyed records decoded straight from nlohmann's event parser: no document
// tree is built, so members a record does not know cost no memory at all, and
// what the known ones build is counted against a budget.
#include <morvik/platform/foundation/JSONCoding.h>

#include <limits>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace foundation {
namespace {

using json = nlohmann::json;
using ordered_json = nlohmann::ordered_json;
using FieldKind = KeyedCoding::Kind;

bool isJSONDigit(char c) noexcept { return c >= '0' && c <= '9'; }

bool isJSONBlank(char c) noexcept { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

enum class LiteralKind { integer, fractional, outOfRange };

struct LiteralValue {
  LiteralKind kind;
  std::int64_t value;  // meaningful for `integer` only
};

// The exact value of a JSON number literal (RFC 8259 grammar, already validated by the parser),
// decided from its digits rather than from a rounded double.
LiteralValue classifyNumberLiteral(std::string_view literal) noexcept {
  std::size_t i = 0;
  const std::size_t n = literal.size();
  const bool negative = i < n && literal[i] == '-';
  if (negative) ++i;
  const std::size_t intBegin = i;
  while (i < n && isJSONDigit(literal[i])) ++i;
  const std::string_view intDigits = literal.substr(intBegin, i - intBegin);
  std::string_view fracDigits;
  if (i < n && literal[i] == '.') {
    const std::size_t fracBegin = ++i;
    while (i < n && isJSONDigit(literal[i])) ++i;
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
    while (i < n && isJSONDigit(literal[i])) {
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
  if (firstNonZero == total) return {LiteralKind::integer, 0};  // 0, -0.0, 0e99 ...
  std::size_t lastNonZero = total - 1;
  while (digitAt(lastNonZero) == '0') --lastNonZero;

  const std::int64_t scale = exponent - static_cast<std::int64_t>(fracDigits.size()) +
                             static_cast<std::int64_t>(total - 1 - lastNonZero);
  // D has no trailing zero, so a negative scale always leaves a fractional part.
  if (scale < 0) return {LiteralKind::fractional, 0};
  const std::int64_t significant = static_cast<std::int64_t>(lastNonZero - firstNonZero + 1);
  if (significant + scale > 19) return {LiteralKind::outOfRange, 0};

  std::uint64_t magnitude = 0;  // at most 19 digits: fits
  for (std::size_t k = firstNonZero; k <= lastNonZero; ++k)
    magnitude = magnitude * 10 + static_cast<std::uint64_t>(digitAt(k) - '0');
  for (std::int64_t k = 0; k < scale; ++k) magnitude *= 10;

  constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  if (!negative) {
    if (magnitude > kMax) return {LiteralKind::outOfRange, 0};
    return {LiteralKind::integer, static_cast<std::int64_t>(magnitude)};
  }
  if (magnitude > kMax + 1) return {LiteralKind::outOfRange, 0};
  if (magnitude == kMax + 1) return {LiteralKind::integer, std::numeric_limits<std::int64_t>::min()};
  return {LiteralKind::integer, -static_cast<std::int64_t>(magnitude)};
}

// A failure found while reading, thrown only once the whole text has proved to be JSON and the
// failure has proved to be the first in key order.
struct PendingFailure {
  DecodingError::Kind kind;
  std::vector<DecodingError::CodingKey> path;
  std::string description;
};

// Receives nlohmann's parse events and writes the records as they come.
//
// Each open record or list is a frame. A value arrives for the field its key named in the
// record on top (or for the next element of the list on top); a value nobody expects (an unknown
// member, the rest of a value already found wrong) is skipped by counting its brackets. Failures
// wait in their field's slot, since a later field may come first in key order and a repeated
// member replaces the earlier one, together with its failure.
class RecordReader {
 public:
  RecordReader(const KeyedCoding& coding, void* root, std::size_t budget)
      : rootCoding_(coding), root_(root), budget_(budget) {}

  bool null() { return scalar(Scalar::null); }
  bool boolean(bool value) {
    booleanValue_ = value;
    return scalar(Scalar::boolean);
  }
  bool number_integer(json::number_integer_t value) {
    integerValue_ = value;
    return scalar(Scalar::integer);
  }
  bool number_unsigned(json::number_unsigned_t value) {
    if (value <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
      integerValue_ = static_cast<std::int64_t>(value);
      return scalar(Scalar::integer);
    }
    numberText_ = json(value).dump();
    return scalar(Scalar::inexactNumber);
  }
  bool number_float(json::number_float_t value, const json::string_t& literal) {
    // Whole-number literals (5.0, 1e3) count as integers.
    const LiteralValue exact = classifyNumberLiteral(literal);
    if (exact.kind == LiteralKind::integer) {
      integerValue_ = exact.value;
      return scalar(Scalar::integer);
    }
    numberText_ = json(value).dump();
    return scalar(Scalar::inexactNumber);
  }
  bool string(json::string_t& value) {
    stringValue_ = &value;
    return scalar(Scalar::string);
  }
  bool binary(json::binary_t&) { return scalar(Scalar::binary); }

  bool start_object(std::size_t) { return open(&RecordReader::openObject); }
  bool end_object() { return close(&RecordReader::closeRecord); }
  bool start_array(std::size_t) { return open(&RecordReader::openArray); }
  bool end_array() { return close(&RecordReader::closeList); }
  bool key(json::string_t& name) {
    if (skipping_ > 0) return true;
    Frame& frame = frames_.back();
    const std::size_t index = frame.coding->indexOf(name);
    frame.field = index < frame.coding->count() ? index : kNoField;
    if (frame.field != kNoField) {
      // A repeated member replaces the earlier one, and its failure with it.
      frame.coding->clear(frame.record, frame.field);
      frame.failures[frame.field].reset();
    }
    return true;
  }
  bool parse_error(std::size_t /*position*/, const std::string& /*lastToken*/,
                   const nlohmann::detail::exception& error) {
    syntaxFailure_ = std::string("The given data was not valid JSON. ") + error.what();
    return false;
  }

  const std::string& syntaxFailure() const { return syntaxFailure_; }
  const std::optional<PendingFailure>& budgetFailure() const { return budgetFailure_; }
  const std::optional<PendingFailure>& rootFailure() const { return rootFailure_; }

 private:
  static constexpr std::size_t kNoField = static_cast<std::size_t>(-1);

  enum class Scalar { null, boolean, integer, inexactNumber, string, binary };

  struct Frame {
    bool isList = false;
    const KeyedCoding* coding = nullptr;                  // the record's; for a list, the owner's
    void* record = nullptr;                               // the record; for a list, the owner
    std::size_t field = kNoField;                         // record: the field the current member fills;
                                                          // list: the owner's list field
    std::size_t elements = 0;                             // list: elements begun so far
    bool failed = false;                                  // list: an element failed, the rest is skipped
    std::vector<std::optional<PendingFailure>> failures;  // record: per field; list: [0]
  };

  // Where the value now arriving goes.
  enum class Slot { root, field, element, nowhere };

  Slot slot() const {
    if (frames_.empty()) return rootDone_ ? Slot::nowhere : Slot::root;
    const Frame& frame = frames_.back();
    if (frame.isList) return frame.failed ? Slot::nowhere : Slot::element;
    return frame.field == kNoField ? Slot::nowhere : Slot::field;
  }

  // Inside a skipped value only the brackets are counted; nothing is built.
  bool open(bool (RecordReader::*opener)()) {
    if (!enter()) return false;
    if (skipping_ > 0) {
      ++skipping_;
      return true;
    }
    return (this->*opener)();
  }
  bool close(void (RecordReader::*closer)()) {
    --depth_;
    if (skipping_ > 0) {
      --skipping_;
      return true;
    }
    (this->*closer)();
    return true;
  }
  bool enter() {
    if (++depth_ > kMaxJSONNestingDepth) {
      syntaxFailure_ = "The given data nests arrays or objects deeper than " +
                       std::to_string(kMaxJSONNestingDepth) + " levels.";
      return false;
    }
    return true;
  }

  bool charge(std::size_t bytes) {
    if (bytes <= budget_ - spent_) {
      spent_ += bytes;
      return true;
    }
    budgetFailure_ = failureHere(
        DecodingError::Kind::dataCorrupted,
        "The given data would take more than " + std::to_string(budget_) + " bytes of memory to decode.");
    return false;
  }

  static const char* describe(Scalar scalar) {
    switch (scalar) {
      case Scalar::null:
        return "null";
      case Scalar::boolean:
        return "a Boolean";
      case Scalar::string:
        return "a string";
      case Scalar::integer:
      case Scalar::inexactNumber:
        return "a number";
      case Scalar::binary:
        return "binary data";
    }
    return "a number";
  }

  static const char* expected(FieldKind kind) {
    switch (kind) {
      case FieldKind::text:
        return "String";
      case FieldKind::boolean:
        return "Bool";
      case FieldKind::integer:
        return "Int64";
      case FieldKind::record:
        return "an object";
      case FieldKind::recordList:
        return "an array";
    }
    return "an object";
  }

  static std::string mismatchText(std::string_view expectedText, std::string_view found) {
    return "Expected to decode " + std::string(expectedText) + " but found " + std::string(found) +
           " instead.";
  }

  // The path to the value now arriving: the open frames, then the member or element it fills.
  std::vector<DecodingError::CodingKey> pathHere() const {
    std::vector<DecodingError::CodingKey> path;
    path.reserve(frames_.size());
    for (const Frame& frame : frames_) {
      if (frame.isList) {
        const std::size_t index = frame.elements - 1;
        path.push_back({"Index " + std::to_string(index), index});
      } else if (frame.field != kNoField) {
        path.push_back({std::string(frame.coding->key(frame.field)), std::nullopt});
      }
    }
    return path;
  }

  PendingFailure failureHere(DecodingError::Kind kind, std::string description) const {
    return PendingFailure{kind, pathHere(), std::move(description)};
  }

  // Files a failure for the value now arriving with the frame that expects it.
  void fail(PendingFailure failure) {
    if (frames_.empty()) {
      rootFailure_ = std::move(failure);
      return;
    }
    Frame& frame = frames_.back();
    if (frame.isList) {
      frame.failed = true;
      frame.failures[0] = std::move(failure);
    } else {
      frame.failures[frame.field] = std::move(failure);
    }
  }

  // A value that does not fit where it arrives: an element (or the whole body) must be an object.
  void failNotAnObject(std::string_view found, bool isNull) {
    if (isNull) {
      fail(failureHere(DecodingError::Kind::valueNotFound, "Expected an object but found null instead."));
    } else {
      fail(failureHere(DecodingError::Kind::typeMismatch, mismatchText("an object", found)));
    }
  }

  bool scalar(Scalar scalar) {
    if (skipping_ > 0) return true;
    const Slot where = slot();
    if (where == Slot::nowhere) return true;
    if (where == Slot::root) {
      rootDone_ = true;
      failNotAnObject(describe(scalar), scalar == Scalar::null);
      return true;
    }
    if (where == Slot::element) {
      frames_.back().elements++;
      failNotAnObject(describe(scalar), scalar == Scalar::null);
      return true;
    }
    Frame& frame = frames_.back();
    const std::size_t i = frame.field;
    if (scalar == Scalar::null) return true;  // a null member leaves the field absent
    const FieldKind kind = frame.coding->kind(i);
    switch (kind) {
      case FieldKind::text:
        if (scalar == Scalar::string) {
          if (!charge(stringValue_->capacity())) return false;
          frame.coding->emplaceText(frame.record, i) = std::move(*stringValue_);
          return true;
        }
        break;
      case FieldKind::boolean:
        if (scalar == Scalar::boolean) {
          frame.coding->setBoolean(frame.record, i, booleanValue_);
          return true;
        }
        break;
      case FieldKind::integer:
        if (scalar == Scalar::integer) {
          frame.coding->setInteger(frame.record, i, integerValue_);
          return true;
        }
        if (scalar == Scalar::inexactNumber) {
          fail(failureHere(
              DecodingError::Kind::dataCorrupted,
              "Expected a whole number within the range of Int64 but found the number " + numberText_ + "."));
          return true;
        }
        break;
      case FieldKind::record:
      case FieldKind::recordList:
        break;
    }
    fail(failureHere(DecodingError::Kind::typeMismatch, mismatchText(expected(kind), describe(scalar))));
    return true;
  }

  void pushRecord(const KeyedCoding* coding, void* record) {
    Frame frame;
    frame.coding = coding;
    frame.record = record;
    frame.failures.resize(coding->count());
    frames_.push_back(std::move(frame));
  }

  bool openObject() {
    const Slot where = slot();
    if (where == Slot::nowhere) {
      skipping_ = 1;
      return true;
    }
    if (where == Slot::root) {
      rootDone_ = true;
      pushRecord(&rootCoding_, root_);
      return true;
    }
    Frame& frame = frames_.back();
    if (where == Slot::element) {
      frame.elements++;
      const KeyedCoding* element = frame.coding->nested(frame.field);
      if (!charge(2 * element->recordSize())) return false;  // twice: the list's spare capacity
      void* record = frame.coding->appendElement(frame.record, frame.field);
      pushRecord(element, record);
      return true;
    }
    const std::size_t i = frame.field;
    const FieldKind kind = frame.coding->kind(i);
    if (kind != FieldKind::record) {
      fail(failureHere(DecodingError::Kind::typeMismatch, mismatchText(expected(kind), "an object")));
      skipping_ = 1;
      return true;
    }
    const KeyedCoding* nested = frame.coding->nested(i);
    if (!charge(nested->recordSize())) return false;
    void* record = frame.coding->emplaceRecord(frame.record, i);
    pushRecord(nested, record);
    return true;
  }

  bool openArray() {
    const Slot where = slot();
    if (where == Slot::nowhere) {
      skipping_ = 1;
      return true;
    }
    if (where == Slot::root) {
      rootDone_ = true;
      failNotAnObject("an array", false);
      skipping_ = 1;
      return true;
    }
    Frame& frame = frames_.back();
    if (where == Slot::element) {
      frame.elements++;
      failNotAnObject("an array", false);
      skipping_ = 1;
      return true;
    }
    const std::size_t i = frame.field;
    const FieldKind kind = frame.coding->kind(i);
    if (kind != FieldKind::recordList) {
      fail(failureHere(DecodingError::Kind::typeMismatch, mismatchText(expected(kind), "an array")));
      skipping_ = 1;
      return true;
    }
    frame.coding->emplaceList(frame.record, i);
    Frame list;
    list.isList = true;
    list.coding = frame.coding;
    list.record = frame.record;
    list.field = i;
    list.failures.resize(1);
    frames_.push_back(std::move(list));
    return true;
  }

  // The first failure in key order is the record's.
  void closeRecord() {
    Frame frame = std::move(frames_.back());
    frames_.pop_back();
    std::optional<PendingFailure> first;
    for (auto& failure : frame.failures) {
      if (failure) {
        first = std::move(failure);
        break;
      }
    }
    if (first) fail(std::move(*first));
  }

  void closeList() {
    Frame frame = std::move(frames_.back());
    frames_.pop_back();
    if (frame.failures[0]) fail(std::move(*frame.failures[0]));
  }

  const KeyedCoding& rootCoding_;
  void* root_;
  std::size_t budget_;
  std::size_t spent_ = 0;
  std::vector<Frame> frames_;
  std::size_t depth_ = 0;
  std::size_t skipping_ = 0;  // open brackets of a value being skipped
  bool rootDone_ = false;

  bool booleanValue_ = false;
  std::int64_t integerValue_ = 0;
  json::string_t* stringValue_ = nullptr;
  std::string numberText_;

  std::string syntaxFailure_;
  std::optional<PendingFailure> budgetFailure_;
  std::optional<PendingFailure> rootFailure_;
};

[[noreturn]] void throwFailure(PendingFailure failure) {
  throw DecodingError(failure.kind, std::move(failure.path), std::move(failure.description));
}

[[noreturn]] void throwCorrupted(std::string description) {
  throw DecodingError(DecodingError::Kind::dataCorrupted, {}, std::move(description));
}

void writeKeyed(ordered_json& out, const KeyedCoding& coding, const void* record) {
  out = ordered_json::object();
  const std::string_view last = coding.encodedLast();
  auto writeField = [&](std::size_t i) {
    if (!coding.isPresent(record, i)) return;  // absent fields write nothing
    ordered_json value;
    switch (coding.kind(i)) {
      case FieldKind::text:
        value = coding.text(record, i);
        break;
      case FieldKind::boolean:
        value = coding.boolean(record, i);
        break;
      case FieldKind::integer:
        value = coding.integer(record, i);
        break;
      case FieldKind::record:
        writeKeyed(value, *coding.nested(i), coding.record(record, i));
        break;
      case FieldKind::recordList: {
        value = ordered_json::array();
        const KeyedCoding& element = *coding.nested(i);
        const std::size_t count = coding.elementCount(record, i);
        for (std::size_t n = 0; n < count; ++n) {
          ordered_json encoded;
          writeKeyed(encoded, element, coding.element(record, i, n));
          value.push_back(std::move(encoded));
        }
        break;
      }
    }
    out.emplace(std::string(coding.key(i)), std::move(value));
  };
  std::optional<std::size_t> lastField;
  for (std::size_t i = 0; i < coding.count(); ++i) {
    if (!last.empty() && coding.key(i) == last) {
      lastField = i;
      continue;
    }
    writeField(i);
  }
  if (lastField) writeField(*lastField);
}

}  // namespace

void decodeKeyed(std::string_view text, const KeyedCoding& coding, void* record) {
  // Trim surrounding whitespace here: a body made of megabytes of blanks then fails at once instead
  // of being fed through the tokenizer byte by byte.
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && isJSONBlank(text[begin])) ++begin;
  while (end > begin && isJSONBlank(text[end - 1])) --end;
  if (begin == end)
    throwCorrupted("The given data was not valid JSON. It is empty or holds only whitespace.");

  const std::size_t size = end - begin;
  const std::size_t budget =
      size > (std::numeric_limits<std::size_t>::max() - kDecodingBudgetFloor) / kDecodingBudgetFactor
          ? std::numeric_limits<std::size_t>::max()
          : kDecodingBudgetFloor + kDecodingBudgetFactor * size;
  RecordReader reader(coding, record, budget);
  bool parsed = false;
  try {
    parsed = json::sax_parse(text.data() + begin, text.data() + end, &reader, json::input_format_t::json,
                             /*strict=*/true, /*ignore_comments=*/false);
  } catch (const nlohmann::json::exception& error) {
    throwCorrupted(std::string("The given data was not valid JSON. ") + error.what());
  }
  if (reader.budgetFailure()) throwFailure(*reader.budgetFailure());
  if (!parsed) {
    throwCorrupted(reader.syntaxFailure().empty() ? std::string("The given data was not valid JSON.")
                                                  : reader.syntaxFailure());
  }
  if (reader.rootFailure()) throwFailure(*reader.rootFailure());
}

std::string encodeKeyed(const KeyedCoding& coding, const void* record) {
  ordered_json out;
  writeKeyed(out, coding, record);
  return out.dump(-1, ' ', false, ordered_json::error_handler_t::replace);
}

}  // namespace foundation
