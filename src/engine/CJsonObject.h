#pragma once
// JSON values for service answers and report bodies. A CJsonObject is an object, an array or
// empty (no value yet). Parse reads a text; ToString writes it back compactly, without white
// space and with object members in the order they were added.
//
// Numbers: a number text without fraction and exponent is an integer and stays one, exactly:
// signed 64-bit, or unsigned 64-bit above INT64_MAX. Integer texts beyond both ranges, and
// every text with a fraction or an exponent ("1.0", "1e3"), are doubles.
//
// Written forms:
// - integers in decimal;
// - doubles in the shortest text that reads back to the same double, with ".0" appended when
//   that text would otherwise read as an integer (1.0 -> "1.0", 1e21 -> "1e+21"); NaN and
//   infinities have no JSON form and are written as null. A float is added through its own
//   shortest text, so 0.1f is written "0.1" and not "0.10000000149011612";
// - strings: '"' and '\' are escaped, control characters U+0000..U+001F as \b \f \n \r \t or
//   \u00xx; '/' and all bytes from 0x80 up are copied as they are, so UTF-8 passes through
//   (bytes are not checked for being valid UTF-8, neither when read nor when written).
//
// Reading follows RFC 8259, with these choices: the top level must be an object or an array
// (optionally after a UTF-8 byte order mark); nesting deeper than kMaxDepth is refused; a
// \uXXXX escape becomes UTF-8, a surrogate pair one code point, a lone surrogate is refused;
// a key given twice keeps its first position and takes the last value; a number beyond the
// double range is refused, one too small for it reads as 0. Reading, writing, copying and
// destroying never recurse, so deep values cannot overflow the stack.
//
// Sub-values: operator[] returns the member's object or array, owned by the parent. For a
// missing key it creates a placeholder member that stays out of the document (not written,
// not found by Get or KeyExist) until something is added to it or below it; so reading
// through operator[] never changes the document and writing through it builds nested
// objects. A reference from operator[] stays valid until its member is replaced or deleted,
// or the parent is cleared, re-parsed or assigned.
//
// Nothing throws. Failures return false and leave a text for GetErrMsg; successful calls
// other than Parse leave the previous text in place. Const operations may run concurrently.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace neb {

// The integer types the typed getters and adders take (character types excluded, so that a
// char is never stored as a number by accident).
template <typename T>
concept JsonInteger =
    std::is_integral_v<T> && !std::is_same_v<T, bool> && !std::is_same_v<T, char> &&
    !std::is_same_v<T, wchar_t> && !std::is_same_v<T, char8_t> && !std::is_same_v<T, char16_t> &&
    !std::is_same_v<T, char32_t> && sizeof(T) <= 8;

class CJsonObject {
 public:
  static constexpr int kMaxDepth = 512;  // nested objects and arrays Parse accepts

  CJsonObject() noexcept;
  // Parse(text); check IsEmpty() or GetErrMsg() for the result.
  explicit CJsonObject(std::string_view text);
  // Copies the value (not the error text).
  CJsonObject(const CJsonObject& other);
  // Takes the value; other is left empty.
  CJsonObject(CJsonObject&& other) noexcept;
  // Assignment replaces the value and keeps this object's place in its parent. Moving an
  // object into one of its own sub-values copies instead.
  CJsonObject& operator=(const CJsonObject& other);
  CJsonObject& operator=(CJsonObject&& other) noexcept;
  ~CJsonObject();

  // Replaces the value by the document in text. On failure the value is empty and the error
  // text is "prase json string error at " followed by the input from where reading stopped.
  bool Parse(std::string_view text);
  // Empty value, empty error text.
  void Clear();
  bool IsEmpty() const { return m_eKind == Kind::kEmpty; }
  bool IsObject() const { return m_eKind == Kind::kObject; }
  bool IsArray() const { return m_eKind == Kind::kArray; }
  // Compact text; "" for an empty value (or when memory runs out). An empty array element
  // (one that was cleared) is written as null.
  std::string ToString() const;
  const std::string& GetErrMsg() const { return m_strErrMsg; }

  // ---- Objects. Every getter returns false, leaving the out value as it was, when this is
  // not an object, the key is missing or the member's value does not fit the out type.

  bool KeyExist(std::string_view key) const;
  // Member names in order.
  std::vector<std::string> Keys() const;
  bool IsNull(std::string_view key) const;
  // A copy of an object or array member.
  bool Get(std::string_view key, CJsonObject& value) const;
  // Only from a string member.
  bool Get(std::string_view key, std::string& value) const;
  // Only from true or false.
  bool Get(std::string_view key, bool& value) const;
  // From any number; integers are rounded to the nearest double.
  bool Get(std::string_view key, double& value) const;
  // From any number within the float range.
  bool Get(std::string_view key, float& value) const;
  // From an integer member, or from a double truncated toward zero, when the value fits T.
  template <JsonInteger T>
  bool Get(std::string_view key, T& value) const {
    return ReadInteger(FindValue(key), value);
  }
  // The member as text: a string without quotes or escapes, anything else as written by
  // ToString; "" when missing.
  std::string operator()(std::string_view key) const;

  // Adders. An empty value first becomes an object. Errors: "not a json object! json array?"
  // (this is an array), "key exists!", "json data is null!" (the value to add is empty, or
  // memory ran out).
  bool Add(std::string_view key, const CJsonObject& value);
  bool Add(std::string_view key, CJsonObject&& value);
  bool Add(std::string_view key, std::string_view value) { return AddScalar(key, Scalar::String(value)); }
  bool Add(std::string_view key, const char* value);
  bool Add(std::string_view key, bool value) { return AddScalar(key, Scalar::Bool(value)); }
  bool Add(std::string_view key, double value) { return AddScalar(key, Scalar::Double(value)); }
  bool Add(std::string_view key, float value) { return AddScalar(key, Scalar::Float(value)); }
  template <JsonInteger T>
  bool Add(std::string_view key, T value) {
    return AddScalar(key, Scalar::Integer(value));
  }
  bool AddNull(std::string_view key) { return AddScalar(key, Scalar::Null()); }
  // As Add, with "create sub empty object error!" / "create sub empty array error!" when the
  // new value cannot be made.
  bool AddEmptySubObject(std::string_view key);
  bool AddEmptySubArray(std::string_view key);

  // Replace an existing member's value in place. Errors: "not a json object! json array?",
  // "key not exist!", "json data is null!".
  bool Replace(std::string_view key, const CJsonObject& value);
  bool Replace(std::string_view key, CJsonObject&& value);
  bool Replace(std::string_view key, std::string_view value) { return ReplaceScalar(key, Scalar::String(value)); }
  bool Replace(std::string_view key, const char* value);
  bool Replace(std::string_view key, bool value) { return ReplaceScalar(key, Scalar::Bool(value)); }
  bool Replace(std::string_view key, double value) { return ReplaceScalar(key, Scalar::Double(value)); }
  bool Replace(std::string_view key, float value) { return ReplaceScalar(key, Scalar::Float(value)); }
  template <JsonInteger T>
  bool Replace(std::string_view key, T value) {
    return ReplaceScalar(key, Scalar::Integer(value));
  }
  bool ReplaceWithNull(std::string_view key) { return ReplaceScalar(key, Scalar::Null()); }

  // Errors: "not a json object! json array?", "key not exist!".
  bool Delete(std::string_view key);

  // The member's object or array (see the top of this file). When this is an array or the
  // member holds a plain value, a scratch object that belongs to no document is returned
  // instead (one per thread, emptied on each such use).
  CJsonObject& operator[](std::string_view key);

  // ---- Arrays. Getters as for objects, false when this is not an array or index is out of
  // range. An element that was cleared counts as null.

  size_t GetArraySize() const;
  bool IsNull(size_t index) const;
  bool Get(size_t index, CJsonObject& value) const;
  bool Get(size_t index, std::string& value) const;
  bool Get(size_t index, bool& value) const;
  bool Get(size_t index, double& value) const;
  bool Get(size_t index, float& value) const;
  template <JsonInteger T>
  bool Get(size_t index, T& value) const {
    return ReadInteger(ItemAt(index), value);
  }
  std::string operator()(size_t index) const;

  // Appenders. An empty value first becomes an array. Errors: "not a json array! json
  // object?" (this is an object), "json data is null!".
  bool Add(const CJsonObject& value);
  bool Add(CJsonObject&& value);
  bool Add(std::string_view value) { return AppendScalar(Scalar::String(value)); }
  bool Add(const char* value);
  bool Add(bool value) { return AppendScalar(Scalar::Bool(value)); }
  bool Add(double value) { return AppendScalar(Scalar::Double(value)); }
  bool Add(float value) { return AppendScalar(Scalar::Float(value)); }
  template <JsonInteger T>
  bool Add(T value) {
    return AppendScalar(Scalar::Integer(value));
  }
  bool AddNull() { return AppendScalar(Scalar::Null()); }
  bool AddEmptySubObject();
  bool AddEmptySubArray();

  // Errors: "not a json array! json object?", "index out of range!", "json data is null!".
  bool Replace(size_t index, const CJsonObject& value);
  bool Replace(size_t index, CJsonObject&& value);
  bool Replace(size_t index, std::string_view value) { return ReplaceScalar(index, Scalar::String(value)); }
  bool Replace(size_t index, const char* value);
  bool Replace(size_t index, bool value) { return ReplaceScalar(index, Scalar::Bool(value)); }
  bool Replace(size_t index, double value) { return ReplaceScalar(index, Scalar::Double(value)); }
  bool Replace(size_t index, float value) { return ReplaceScalar(index, Scalar::Float(value)); }
  template <JsonInteger T>
  bool Replace(size_t index, T value) {
    return ReplaceScalar(index, Scalar::Integer(value));
  }
  bool ReplaceWithNull(size_t index) { return ReplaceScalar(index, Scalar::Null()); }

  // Errors: "not a json array! json object?", "index out of range!".
  bool Delete(size_t index);

  // The element's object or array; for a plain element or an index out of range, the
  // scratch object described at operator[](key).
  CJsonObject& operator[](size_t index);

 private:
  enum class Kind : uint8_t { kEmpty, kObject, kArray };
  struct Value;     // one member's or element's value
  struct Member;    // key and value
  struct KeyIndex;  // hash index over the members of a large object
  struct Parser;
  struct Writer;

  // A plain value on its way in, before it is stored.
  struct Scalar {
    enum class Type : uint8_t { kNull, kBool, kSigned, kUnsigned, kDouble, kString };
    Type type = Type::kNull;
    bool b = false;
    int64_t i = 0;
    uint64_t u = 0;
    double d = 0;
    std::string_view s;

    static Scalar Null() { return {}; }
    static Scalar Bool(bool v) {
      Scalar x;
      x.type = Type::kBool;
      x.b = v;
      return x;
    }
    static Scalar Double(double v) {
      Scalar x;
      x.type = Type::kDouble;
      x.d = v;
      return x;
    }
    static Scalar Float(float v);
    static Scalar String(std::string_view v) {
      Scalar x;
      x.type = Type::kString;
      x.s = v;
      return x;
    }
    template <JsonInteger T>
    static Scalar Integer(T v) {
      Scalar x;
      if constexpr (std::is_signed_v<T>) {
        x.type = Type::kSigned;
        x.i = v;
      } else {
        x.type = Type::kUnsigned;
        x.u = v;
      }
      return x;
    }
  };

  const Value* FindValue(std::string_view key) const;
  const Value* ItemAt(size_t index) const;
  Member* FindMember(std::string_view key);
  const Member* FindMember(std::string_view key) const;

  static bool ToSigned(const Value* v, int64_t lo, int64_t hi, int64_t& out);
  static bool ToUnsigned(const Value* v, uint64_t hi, uint64_t& out);
  template <JsonInteger T>
  static bool ReadInteger(const Value* v, T& value) {
    if constexpr (std::is_signed_v<T>) {
      int64_t n = 0;
      if (!ToSigned(v, static_cast<int64_t>(std::numeric_limits<T>::min()),
                    static_cast<int64_t>(std::numeric_limits<T>::max()), n))
        return false;
      value = static_cast<T>(n);
    } else {
      uint64_t n = 0;
      if (!ToUnsigned(v, static_cast<uint64_t>(std::numeric_limits<T>::max()), n)) return false;
      value = static_cast<T>(n);
    }
    return true;
  }

  bool AddScalar(std::string_view key, const Scalar& s);
  bool AppendScalar(const Scalar& s);
  bool ReplaceScalar(std::string_view key, const Scalar& s);
  bool ReplaceScalar(size_t index, const Scalar& s);
  bool AddNode(std::string_view key, CJsonObject&& prepared, const char* failure);
  bool AppendNode(CJsonObject&& prepared, const char* failure);
  bool ReplaceNode(std::string_view key, CJsonObject&& prepared);
  bool ReplaceNode(size_t index, CJsonObject&& prepared);
  bool CanAdd(std::string_view key);
  bool CanAppend();
  // Prepares what an Add or Replace of value installs: a standalone copy, or value itself
  // taken when that is safe. False (error text set) when value is empty or cannot be copied.
  bool Prepare(const CJsonObject& value, CJsonObject& out);
  bool Prepare(CJsonObject&& value, CJsonObject& out);

  void InsertMember(std::string&& key, Value&& value);
  void IndexAdd(size_t position) noexcept;
  void RebuildIndex() noexcept;

  bool CopyFrom(const CJsonObject& source) noexcept;
  bool AssignCopy(const CJsonObject& source) noexcept;
  void AssignMove(CJsonObject&& source) noexcept;
  void StealFrom(CJsonObject& source) noexcept;
  void Adopt() noexcept;
  void DestroyChildren() noexcept;
  void Fill(Kind kind) noexcept;
  void PropagateUp() noexcept;
  bool IsWithin(const CJsonObject* ancestor) const noexcept;
  void SetError(const char* text) noexcept;
  static CJsonObject& Scratch() noexcept;

  Kind m_eKind = Kind::kEmpty;
  CJsonObject* m_pParent = nullptr;        // the object or array owning this one, if any
  std::vector<Member> m_vecMembers;        // an object's members, and placeholders
  std::vector<Value> m_vecItems;           // an array's elements
  std::unique_ptr<KeyIndex> m_pKeyIndex;   // only for objects with many members
  std::string m_strErrMsg;
};

}  // namespace neb
