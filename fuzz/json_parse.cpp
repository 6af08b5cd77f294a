// Feeds arbitrary bytes to CJsonObject::Parse. Besides crashes it traps when a refused text's
// error is not the fixed prefix plus a tail of the input, when the written form of an
// accepted text does not read back to the same written form, when a copy writes differently,
// or when the getters disagree with each other or an append is not written.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/CJsonObject.h"

namespace {

constexpr std::string_view kPrefix = "prase json string error at ";
constexpr size_t kMaxVisits = 64;

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

// Every getter on one member or element; what one reports must fit what the others do.
template <typename Key>
void Probe(neb::CJsonObject& json, Key key) {
  std::string s;
  const bool isString = json.Get(key, s);
  if (isString) Check(json(key) == s);
  int64_t i64 = 0;
  const bool isInt64 = json.Get(key, i64);
  int32_t i32 = 0;
  if (json.Get(key, i32)) Check(isInt64 && i64 == i32);
  uint64_t u64 = 0;
  const bool isUint64 = json.Get(key, u64);
  if (isInt64 && isUint64) Check(i64 >= 0 && static_cast<uint64_t>(i64) == u64);
  uint32_t u32 = 0;
  if (json.Get(key, u32)) Check(isUint64 && u64 == u32);
  double d = 0;
  const bool isNumber = json.Get(key, d);
  Check(!(isInt64 || isUint64) || isNumber);
  float f = 0;
  json.Get(key, f);
  bool b = false;
  const bool isBool = json.Get(key, b);
  const bool isNull = json.IsNull(key);
  neb::CJsonObject sub;
  const bool isNode = json.Get(key, sub);
  Check(isString + isNumber + isBool + isNull + isNode <= 1);
  if (isNode) Check(sub.ToString() == json(key));
  // Reading through the subscript must not change the document.
  const std::string before = json.ToString();
  json[key]["\x01probe"];
  Check(json.ToString() == before);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  neb::CJsonObject json;
  if (!json.Parse(text)) {
    Check(json.IsEmpty());
    Check(json.ToString().empty());
    const std::string& error = json.GetErrMsg();
    Check(error.size() >= kPrefix.size() && std::string_view(error).substr(0, kPrefix.size()) == kPrefix);
    const std::string_view rest = std::string_view(error).substr(kPrefix.size());
    Check(rest.size() <= text.size() && text.substr(text.size() - rest.size()) == rest);
    return 0;
  }
  Check(json.GetErrMsg().empty());
  const std::string out = json.ToString();
  Check(!out.empty() && (out.front() == '{' || out.front() == '['));

  neb::CJsonObject again;
  Check(again.Parse(out));
  Check(again.ToString() == out);
  neb::CJsonObject copy(json);
  Check(copy.ToString() == out);

  if (json.IsObject()) {
    size_t visits = 0;
    for (const std::string& key : json.Keys()) {
      if (++visits > kMaxVisits) break;
      Check(json.KeyExist(key));
      Probe(json, std::string_view(key));
    }
    // A new member is written last; a second add of it is refused.
    const bool existed = copy.KeyExist("\x02new");
    Check(copy.Add("\x02new", int64_t{-1}) != existed);
    if (!existed) {
      Check(copy.ToString() == out.substr(0, out.size() - 1) + (out.size() > 2 ? "," : "") + "\"\\u0002new\":-1}");
      Check(!copy.Add("\x02new", 1) && copy.GetErrMsg() == "key exists!");
    }
    Check(!copy.Add(1) && copy.GetErrMsg() == "not a json array! json object?");
  } else {
    const size_t n = json.GetArraySize();
    for (size_t i = 0; i < n && i < kMaxVisits; ++i) Probe(json, i);
    Check(copy.Add(0.5));
    Check(copy.GetArraySize() == n + 1);
    Check(copy.ToString() == out.substr(0, out.size() - 1) + (n ? "," : "") + "0.5]");
    Check(!copy.Add("k", 1) && copy.GetErrMsg() == "not a json object! json array?");
  }
  Check(json.ToString() == out);
  return 0;
}
