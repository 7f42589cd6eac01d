// JSON decoding and encoding of keyed records (the platform's JSONDecoder and
// JSONEncoder over Codable types with coding keys).
//
// A keyed record is a plain value whose fields are all optional: text
// (std::optional<std::string>), Booleans (std::optional<bool>), whole numbers
// (std::optional<std::int64_t>), another keyed record, or a list of them
// (std::optional<std::vector<R>>). A type becomes codable by specialising
// CodingKeys<T> with `static const KeyedCoding& coding();`, usually a
// KeyedRecordCoding made by makeKeyedCoding from its keys in order.
//
// Decoding is strict: member names match exactly; a missing or null member
// leaves its field absent; unknown members are skipped at every depth without
// being built; a value of the wrong JSON type fails the whole value. Fields
// are judged in key order: when several are wrong, the first key's failure is
// reported. A member given twice counts with its last value. Integers are
// whole numbers within the signed 64-bit range (5.0 and 1e3 are accepted, 87.5
// is not); Booleans are true or false only; text is a JSON string only. Text
// that is not JSON, or that nests deeper than kMaxJSONNestingDepth, fails
// cleanly. The memory a decoding builds is bounded by kDecodingBudgetFloor
// plus kDecodingBudgetFactor times the text's size: past it the decoding
// fails (dataCorrupted) instead of growing.
//
// Thread-safe: the functions share no state. Failures throw DecodingError on
// the calling thread; no partial record is ever returned.
#pragma once

#include <morvik/platform/foundation/DecodingError.h>

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

namespace foundation {

// Text nesting arrays or objects deeper than this is refused while it is read.
inline constexpr std::size_t kMaxJSONNestingDepth = 512;
// What one decoding may build: this many bytes, plus the factor times the
// text's size.
inline constexpr std::size_t kDecodingBudgetFloor = 1u << 20;
inline constexpr std::size_t kDecodingBudgetFactor = 2;

// How the coder reaches the fields of one record type. Record pointers are
// `void*` to a record of that type.
class KeyedCoding {
 public:
  enum class Kind : std::uint8_t { text, boolean, integer, record, recordList };

  virtual ~KeyedCoding() = default;

  virtual std::size_t count() const = 0;  // keys, in decoding order
  virtual std::string_view key(std::size_t i) const = 0;
  // The index of the key equal to `name`; count() when there is none.
  virtual std::size_t indexOf(std::string_view name) const = 0;
  virtual Kind kind(std::size_t i) const = 0;
  virtual const KeyedCoding* nested(std::size_t i) const = 0;  // record and recordList keys
  virtual std::size_t recordSize() const = 0;
  // A key written after all the others on encoding (empty: none).
  virtual std::string_view encodedLast() const = 0;

  // Decoding: every call on field i of a record.
  virtual void clear(void* record, std::size_t i) const = 0;
  virtual std::string& emplaceText(void* record, std::size_t i) const = 0;
  virtual void setBoolean(void* record, std::size_t i, bool value) const = 0;
  virtual void setInteger(void* record, std::size_t i, std::int64_t value) const = 0;
  virtual void* emplaceRecord(void* record, std::size_t i) const = 0;  // a fresh nested record
  virtual void emplaceList(void* record, std::size_t i) const = 0;     // a present, empty list
  virtual void* appendElement(void* record, std::size_t i) const = 0;  // to the present list

  // Encoding.
  virtual bool isPresent(const void* record, std::size_t i) const = 0;
  virtual const std::string& text(const void* record, std::size_t i) const = 0;
  virtual bool boolean(const void* record, std::size_t i) const = 0;
  virtual std::int64_t integer(const void* record, std::size_t i) const = 0;
  virtual const void* record(const void* record, std::size_t i) const = 0;
  virtual std::size_t elementCount(const void* record, std::size_t i) const = 0;
  virtual const void* element(const void* record, std::size_t i, std::size_t n) const = 0;
};

// Specialise with `static const KeyedCoding& coding();` to make T codable.
template <class T>
struct CodingKeys;

template <class T>
concept KeyedCodable = requires {
  { CodingKeys<T>::coding() } -> std::convertible_to<const KeyedCoding&>;
};

// Decodes one record from UTF-8 JSON text; see the rules above.
void decodeKeyed(std::string_view json, const KeyedCoding& coding, void* record);
// Compact JSON: members in key order (encodedLast last), absent fields
// omitted; bytes that are not valid UTF-8 are written as U+FFFD.
std::string encodeKeyed(const KeyedCoding& coding, const void* record);

template <KeyedCodable T>
T decodeJSON(std::string_view json) {
  T record{};
  decodeKeyed(json, CodingKeys<T>::coding(), &record);
  return record;
}

template <KeyedCodable T>
T decodeJSON(std::span<const std::uint8_t> bytes) {
  return decodeJSON<T>(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

template <KeyedCodable T>
std::string encodeJSON(const T& record) {
  return encodeKeyed(CodingKeys<T>::coding(), &record);
}

// --- Building a KeyedCoding from member pointers ---------------------------

template <class Record, class Member>
struct CodingKey {
  std::string_view stringValue;
  Member Record::*member;
};

template <class Record, class Member>
constexpr CodingKey<Record, Member> codingKey(std::string_view stringValue, Member Record::*member) {
  return {stringValue, member};
}

namespace coding_detail {

template <class Member>
struct FieldTraits;
template <>
struct FieldTraits<std::optional<std::string>> {
  static constexpr KeyedCoding::Kind kind = KeyedCoding::Kind::text;
  static const KeyedCoding* nested() { return nullptr; }
};
template <>
struct FieldTraits<std::optional<bool>> {
  static constexpr KeyedCoding::Kind kind = KeyedCoding::Kind::boolean;
  static const KeyedCoding* nested() { return nullptr; }
};
template <>
struct FieldTraits<std::optional<std::int64_t>> {
  static constexpr KeyedCoding::Kind kind = KeyedCoding::Kind::integer;
  static const KeyedCoding* nested() { return nullptr; }
};
template <KeyedCodable R>
struct FieldTraits<std::optional<R>> {
  static constexpr KeyedCoding::Kind kind = KeyedCoding::Kind::record;
  static const KeyedCoding* nested() { return &CodingKeys<R>::coding(); }
};
template <KeyedCodable R>
struct FieldTraits<std::optional<std::vector<R>>> {
  static constexpr KeyedCoding::Kind kind = KeyedCoding::Kind::recordList;
  static const KeyedCoding* nested() { return &CodingKeys<R>::coding(); }
};

}  // namespace coding_detail

// A KeyedCoding over a record's member pointers. A call for a field of
// another kind than the coder asks for is a caller bug and does nothing.
template <class Record, class... Members>
class KeyedRecordCoding final : public KeyedCoding {
 public:
  KeyedRecordCoding(std::tuple<CodingKey<Record, Members>...> keys, std::string_view encodedLast)
      : keys_(keys), encodedLast_(encodedLast) {}

  std::size_t count() const override { return sizeof...(Members); }
  std::string_view key(std::size_t i) const override {
    std::string_view out;
    visit(i, [&](const auto& k) { out = k.stringValue; });
    return out;
  }
  std::size_t indexOf(std::string_view name) const override {
    return [&]<std::size_t... I>(std::index_sequence<I...>) {
      std::size_t out = sizeof...(Members);
      (void)((std::get<I>(keys_).stringValue == name ? (out = I, true) : false) || ...);
      return out;
    }
    (std::index_sequence_for<Members...>{});
  }
  Kind kind(std::size_t i) const override {
    Kind out = Kind::text;
    visit(i, [&](const auto& k) { out = traits_t<decltype(k)>::kind; });
    return out;
  }
  const KeyedCoding* nested(std::size_t i) const override {
    const KeyedCoding* out = nullptr;
    visit(i, [&](const auto& k) { out = traits_t<decltype(k)>::nested(); });
    return out;
  }
  std::size_t recordSize() const override { return sizeof(Record); }
  std::string_view encodedLast() const override { return encodedLast_; }

  void clear(void* r, std::size_t i) const override {
    visit(i, [&](const auto& k) { (self(r).*k.member).reset(); });
  }
  std::string& emplaceText(void* r, std::size_t i) const override {
    std::string* out = nullptr;
    visit(i, [&](const auto& k) {
      if constexpr (std::is_same_v<member_t<decltype(k)>, std::optional<std::string>>)
        out = &(self(r).*k.member).emplace();
    });
    return *out;
  }
  void setBoolean(void* r, std::size_t i, bool value) const override {
    visit(i, [&](const auto& k) {
      if constexpr (std::is_same_v<member_t<decltype(k)>, std::optional<bool>>) self(r).*k.member = value;
    });
  }
  void setInteger(void* r, std::size_t i, std::int64_t value) const override {
    visit(i, [&](const auto& k) {
      if constexpr (std::is_same_v<member_t<decltype(k)>, std::optional<std::int64_t>>)
        self(r).*k.member = value;
    });
  }
  void* emplaceRecord(void* r, std::size_t i) const override {
    void* out = nullptr;
    visit(i, [&](const auto& k) {
      if constexpr (traits_t<decltype(k)>::kind == Kind::record) out = &(self(r).*k.member).emplace();
    });
    return out;
  }
  void emplaceList(void* r, std::size_t i) const override {
    visit(i, [&](const auto& k) {
      if constexpr (traits_t<decltype(k)>::kind == Kind::recordList) (self(r).*k.member).emplace();
    });
  }
  void* appendElement(void* r, std::size_t i) const override {
    void* out = nullptr;
    visit(i, [&](const auto& k) {
      if constexpr (traits_t<decltype(k)>::kind == Kind::recordList) {
        auto& list = self(r).*k.member;
        if (!list) list.emplace();
        out = &list->emplace_back();
      }
    });
    return out;
  }

  bool isPresent(const void* r, std::size_t i) const override {
    bool out = false;
    visit(i, [&](const auto& k) { out = (self(r).*k.member).has_value(); });
    return out;
  }
  const std::string& text(const void* r, std::size_t i) const override {
    const std::string* out = nullptr;
    visit(i, [&](const auto& k) {
      if constexpr (std::is_same_v<member_t<decltype(k)>, std::optional<std::string>>)
        out = &*(self(r).*k.member);
    });
    return *out;
  }
  bool boolean(const void* r, std::size_t i) const override {
    bool out = false;
    visit(i, [&](const auto& k) {
      if constexpr (std::is_same_v<member_t<decltype(k)>, std::optional<bool>>) out = *(self(r).*k.member);
    });
    return out;
  }
  std::int64_t integer(const void* r, std::size_t i) const override {
    std::int64_t out = 0;
    visit(i, [&](const auto& k) {
      if constexpr (std::is_same_v<member_t<decltype(k)>, std::optional<std::int64_t>>)
        out = *(self(r).*k.member);
    });
    return out;
  }
  const void* record(const void* r, std::size_t i) const override {
    const void* out = nullptr;
    visit(i, [&](const auto& k) {
      if constexpr (traits_t<decltype(k)>::kind == Kind::record) out = &*(self(r).*k.member);
    });
    return out;
  }
  std::size_t elementCount(const void* r, std::size_t i) const override {
    std::size_t out = 0;
    visit(i, [&](const auto& k) {
      if constexpr (traits_t<decltype(k)>::kind == Kind::recordList) out = (self(r).*k.member)->size();
    });
    return out;
  }
  const void* element(const void* r, std::size_t i, std::size_t n) const override {
    const void* out = nullptr;
    visit(i, [&](const auto& k) {
      if constexpr (traits_t<decltype(k)>::kind == Kind::recordList) out = &(*(self(r).*k.member))[n];
    });
    return out;
  }

 private:
  template <class K>
  using member_t = std::remove_cvref_t<decltype(std::declval<Record&>().*(std::declval<K>().member))>;
  template <class K>
  using traits_t = coding_detail::FieldTraits<member_t<K>>;
  static Record& self(void* r) { return *static_cast<Record*>(r); }
  static const Record& self(const void* r) { return *static_cast<const Record*>(r); }

  template <class F>
  void visit(std::size_t i, F&& f) const {
    [&]<std::size_t... I>(std::index_sequence<I...>) {
      (void)((i == I ? (f(std::get<I>(keys_)), true) : false) || ...);
    }
    (std::index_sequence_for<Members...>{});
  }

  std::tuple<CodingKey<Record, Members>...> keys_;
  std::string_view encodedLast_;
};

// The coding of a record from its keys in decoding order, e.g.
//   static const auto coding = makeKeyedCoding<Item>(std::make_tuple(
//       codingKey("id", &Item::id), codingKey("name", &Item::name)));
template <class Record, class... Members>
KeyedRecordCoding<Record, Members...> makeKeyedCoding(std::tuple<CodingKey<Record, Members>...> keys,
                                                      std::string_view encodedLast = {}) {
  return KeyedRecordCoding<Record, Members...>(keys, encodedLast);
}

}  // namespace foundation
