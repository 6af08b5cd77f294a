#include "engine/CJsonObject.h"

#include "platform/TextConv.h"

#include <cfloat>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstring>
#include <new>
#include <system_error>
#include <utility>
#include <variant>

namespace neb {

namespace {

constexpr char kParseError[] = "prase json string error at ";
constexpr char kNoData[] = "json data is null!";
constexpr char kNotObject[] = "not a json object! json array?";
constexpr char kNotArray[] = "not a json array! json object?";
constexpr char kKeyExists[] = "key exists!";
constexpr char kNoSubObject[] = "create sub empty object error!";
constexpr char kNoSubArray[] = "create sub empty array error!";
constexpr char kKeyMissing[] = "key not exist!";
constexpr char kBadIndex[] = "index out of range!";

// Objects up to this many members are searched linearly; larger ones get a hash index, so
// that reading or building an object of any size stays linear.
constexpr size_t kLinearMembers = 8;
constexpr uint32_t kFreeSlot = 0xFFFFFFFFu;

uint64_t Mix(uint64_t x) {
  x ^= x >> 30;
  x *= 0xbf58476d1ce4e5b9ULL;
  x ^= x >> 27;
  x *= 0x94d049bb133111ebULL;
  x ^= x >> 31;
  return x;
}

// Seeded once per process, so that a document cannot be made up of keys that all collide.
uint64_t HashKey(std::string_view key) {
  static const uint64_t seed = [] {
    static const int anchor = 0;
    const auto now = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    return Mix(static_cast<uint64_t>(reinterpret_cast<uintptr_t>(&anchor)) ^ Mix(now));
  }();
  uint64_t h = seed ^ key.size();
  const char* p = key.data();
  size_t n = key.size();
  for (; n >= 8; p += 8, n -= 8) {
    uint64_t word;
    std::memcpy(&word, p, 8);
    h = Mix(h ^ word);
  }
  uint64_t tail = 0;
  if (n > 0) std::memcpy(&tail, p, n);
  return Mix(h ^ tail ^ (static_cast<uint64_t>(n) << 59));
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

using NodePtr = std::unique_ptr<CJsonObject>;

struct CJsonObject::Value {
  // null, true/false, integer, integer above INT64_MAX, double, string, object or array.
  // A sub-object pointer is never null.
  std::variant<std::monostate, bool, int64_t, uint64_t, double, std::string, NodePtr> v;

  CJsonObject* Node() const {
    const NodePtr* p = std::get_if<NodePtr>(&v);
    return p ? p->get() : nullptr;
  }
  // An empty sub-object: an object member that is not part of the document yet, or an
  // array element that was cleared.
  bool IsPlaceholder() const {
    const CJsonObject* n = Node();
    return n && n->m_eKind == Kind::kEmpty;
  }

  static Value From(const Scalar& s) {
    Value out;
    switch (s.type) {
      case Scalar::Type::kNull:
        break;
      case Scalar::Type::kBool:
        out.v.emplace<bool>(s.b);
        break;
      case Scalar::Type::kSigned:
        out.v.emplace<int64_t>(s.i);
        break;
      case Scalar::Type::kUnsigned:
        // One form per value: unsigned storage only where signed cannot hold it.
        if (s.u <= static_cast<uint64_t>(INT64_MAX))
          out.v.emplace<int64_t>(static_cast<int64_t>(s.u));
        else
          out.v.emplace<uint64_t>(s.u);
        break;
      case Scalar::Type::kDouble:
        out.v.emplace<double>(s.d);
        break;
      case Scalar::Type::kString:
        out.v.emplace<std::string>(s.s);
        break;
    }
    return out;
  }

  // Copies anything but a sub-object.
  static void CopyPlain(const Value& from, Value& to) {
    std::visit(
        [&to](const auto& x) {
          using T = std::decay_t<decltype(x)>;
          if constexpr (!std::is_same_v<T, NodePtr>) to.v.template emplace<T>(x);
        },
        from.v);
  }

  static bool ReadString(const Value* v, std::string& out) {
    const std::string* s = v ? std::get_if<std::string>(&v->v) : nullptr;
    if (!s) return false;
    try {
      out = *s;
    } catch (...) {
      return false;
    }
    return true;
  }

  static bool ReadBool(const Value* v, bool& out) {
    const bool* b = v ? std::get_if<bool>(&v->v) : nullptr;
    if (!b) return false;
    out = *b;
    return true;
  }

  static bool ReadDouble(const Value* v, double& out) {
    if (!v) return false;
    if (const int64_t* i = std::get_if<int64_t>(&v->v)) {
      out = static_cast<double>(*i);
    } else if (const uint64_t* u = std::get_if<uint64_t>(&v->v)) {
      out = static_cast<double>(*u);
    } else if (const double* d = std::get_if<double>(&v->v)) {
      out = *d;
    } else {
      return false;
    }
    return true;
  }

  static bool ReadFloat(const Value* v, float& out) {
    double d = 0;
    if (!ReadDouble(v, d)) return false;
    if (std::isfinite(d) && std::fabs(d) > FLT_MAX) return false;
    out = static_cast<float>(d);
    return true;
  }

  static bool CopyNode(const Value* v, CJsonObject& out) {
    const CJsonObject* node = v ? v->Node() : nullptr;
    if (!node || node->m_eKind == Kind::kEmpty) return false;
    if (node == &out) return true;
    return out.AssignCopy(*node);
  }

  static bool IsNull(const Value* v) {
    return v && (std::holds_alternative<std::monostate>(v->v) || v->IsPlaceholder());
  }

  static std::string Text(const Value* v);
};

struct CJsonObject::Member {
  std::string key;
  Value value;
};

// Open addressing over member positions, load at most one half.
struct CJsonObject::KeyIndex {
  std::vector<uint32_t> slots;  // size a power of two
  size_t used = 0;
};

// ---- Writing ----

struct CJsonObject::Writer {
  static void String(std::string& out, std::string_view s) {
    static constexpr char kHex[] = "0123456789abcdef";
    out.push_back('"');
    size_t run = 0;
    for (size_t i = 0; i < s.size(); ++i) {
      const auto c = static_cast<unsigned char>(s[i]);
      if (c >= 0x20 && c != '"' && c != '\\') continue;
      out.append(s.data() + run, i - run);
      run = i + 1;
      out.push_back('\\');
      switch (c) {
        case '"': out.push_back('"'); break;
        case '\\': out.push_back('\\'); break;
        case '\b': out.push_back('b'); break;
        case '\f': out.push_back('f'); break;
        case '\n': out.push_back('n'); break;
        case '\r': out.push_back('r'); break;
        case '\t': out.push_back('t'); break;
        default:
          out.append("u00");
          out.push_back(kHex[c >> 4]);
          out.push_back(kHex[c & 15]);
          break;
      }
    }
    out.append(s.data() + run, s.size() - run);
    out.push_back('"');
  }

  static void Double(std::string& out, double d) {
    if (!std::isfinite(d)) {
      out.append("null");
      return;
    }
    char buf[40];
    const auto r = std::to_chars(buf, buf + sizeof buf, d);
    if (r.ec != std::errc()) {
      out.append("null");
      return;
    }
    const std::string_view text(buf, static_cast<size_t>(r.ptr - buf));
    out.append(text);
    // Shortest form of an integral double ("1", "-0", "123456789012345683968") would read
    // back as an integer.
    if (text.find_first_of(".e") == std::string_view::npos) out.append(".0");
  }

  template <typename Int>
  static void Integer(std::string& out, Int n) {
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, n);
    out.append(buf, static_cast<size_t>(r.ptr - buf));
  }

  // Anything but a sub-object.
  static void Plain(std::string& out, const Value& value) {
    std::visit(
        [&out](const auto& x) {
          using T = std::decay_t<decltype(x)>;
          if constexpr (std::is_same_v<T, std::monostate>) {
            out.append("null");
          } else if constexpr (std::is_same_v<T, bool>) {
            out.append(x ? "true" : "false");
          } else if constexpr (std::is_same_v<T, int64_t> || std::is_same_v<T, uint64_t>) {
            Integer(out, x);
          } else if constexpr (std::is_same_v<T, double>) {
            Double(out, x);
          } else if constexpr (std::is_same_v<T, std::string>) {
            String(out, x);
          }
        },
        value.v);
  }

  // Depth-first with an explicit stack, so any nesting depth is written.
  static std::string Document(const CJsonObject& root) {
    if (root.m_eKind == Kind::kEmpty) return {};
    try {
      struct Frame {
        const CJsonObject* node;
        size_t next;
        bool any;
      };
      std::vector<Frame> stack;
      std::string out;
      auto open = [&](const CJsonObject* node) {
        out.push_back(node->m_eKind == Kind::kObject ? '{' : '[');
        stack.push_back({node, 0, false});
      };
      open(&root);
      while (!stack.empty()) {
        Frame& frame = stack.back();
        const CJsonObject* node = frame.node;
        const Value* value = nullptr;
        const std::string* key = nullptr;
        if (node->m_eKind == Kind::kObject) {
          const std::vector<Member>& members = node->m_vecMembers;
          while (frame.next < members.size() && members[frame.next].value.IsPlaceholder()) ++frame.next;
          if (frame.next < members.size()) {
            key = &members[frame.next].key;
            value = &members[frame.next].value;
            ++frame.next;
          }
        } else if (frame.next < node->m_vecItems.size()) {
          value = &node->m_vecItems[frame.next++];
        }
        if (!value) {
          out.push_back(node->m_eKind == Kind::kObject ? '}' : ']');
          stack.pop_back();
          continue;
        }
        if (frame.any) out.push_back(',');
        frame.any = true;
        if (key) {
          String(out, *key);
          out.push_back(':');
        }
        const CJsonObject* child = value->Node();
        if (child && child->m_eKind != Kind::kEmpty) {
          open(child);  // frame is not used past this point
        } else if (child) {
          out.append("null");
        } else {
          Plain(out, *value);
        }
      }
      return out;
    } catch (...) {
      return {};
    }
  }
};

std::string CJsonObject::Value::Text(const Value* v) {
  if (!v) return {};
  try {
    if (const std::string* s = std::get_if<std::string>(&v->v)) return *s;
    if (const CJsonObject* n = v->Node()) return n->m_eKind == Kind::kEmpty ? "null" : n->ToString();
    std::string out;
    Writer::Plain(out, *v);
    return out;
  } catch (...) {
    return {};
  }
}

// ---- Reading ----

// A loop over the text with the open containers linked through their parent pointers, so the
// machine stack does not grow with the nesting.
struct CJsonObject::Parser {
  std::string_view text;
  size_t pos = 0;

  explicit Parser(std::string_view t) : text(t) {}

  size_t Position() const { return pos < text.size() ? pos : text.size(); }
  bool AtEnd() const { return pos >= text.size(); }

  void SkipSpace() {
    while (pos < text.size()) {
      const char c = text[pos];
      if (c != ' ' && c != '\t' && c != '\n' && c != '\r') break;
      ++pos;
    }
  }

  bool Run(CJsonObject& root) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") pos = 3;
    SkipSpace();
    if (AtEnd() || (text[pos] != '{' && text[pos] != '[')) return false;
    root.m_eKind = text[pos] == '{' ? Kind::kObject : Kind::kArray;
    ++pos;
    CJsonObject* cur = &root;
    int depth = 1;
    enum class At { kOpen, kComma, kValue } at = At::kOpen;
    for (;;) {
      SkipSpace();
      if (AtEnd()) return false;
      const bool object = cur->m_eKind == Kind::kObject;
      char c = text[pos];
      if (at == At::kValue) {
        if (c == ',') {
          ++pos;
          at = At::kComma;
          continue;
        }
        if (c != (object ? '}' : ']')) return false;
      }
      if (at != At::kComma && c == (object ? '}' : ']')) {
        ++pos;
        if (cur == &root) break;
        cur = cur->m_pParent;
        --depth;
        at = At::kValue;
        continue;
      }

      Value* slot = nullptr;
      if (object) {
        if (c != '"') return false;
        std::string key;
        if (!ReadString(key)) return false;
        SkipSpace();
        if (AtEnd() || text[pos] != ':') return false;
        ++pos;
        SkipSpace();
        if (AtEnd()) return false;
        if (Member* existing = cur->FindMember(key)) {
          existing->value.v.emplace<std::monostate>();
          slot = &existing->value;
        } else {
          cur->InsertMember(std::move(key), Value{});
          slot = &cur->m_vecMembers.back().value;
        }
        c = text[pos];
      } else {
        cur->m_vecItems.emplace_back();
        slot = &cur->m_vecItems.back();
      }

      if (c == '{' || c == '[') {
        if (depth >= kMaxDepth) return false;
        auto child = std::make_unique<CJsonObject>();
        child->m_eKind = c == '{' ? Kind::kObject : Kind::kArray;
        child->m_pParent = cur;
        CJsonObject* next = child.get();
        slot->v.emplace<NodePtr>(std::move(child));
        ++pos;
        ++depth;
        cur = next;
        at = At::kOpen;
        continue;
      }
      if (!ReadPlain(*slot)) return false;
      at = At::kValue;
    }
    SkipSpace();
    return AtEnd();
  }

  bool ReadPlain(Value& slot) {
    const char c = text[pos];
    if (c == '"') return ReadString(slot.v.emplace<std::string>());
    if (c == 't') {
      if (!ReadWord("true")) return false;
      slot.v.emplace<bool>(true);
      return true;
    }
    if (c == 'f') {
      if (!ReadWord("false")) return false;
      slot.v.emplace<bool>(false);
      return true;
    }
    if (c == 'n') return ReadWord("null");
    if (c == '-' || IsDigit(c)) return ReadNumber(slot);
    return false;
  }

  bool ReadWord(std::string_view word) {
    if (text.substr(pos, word.size()) != word) return false;
    pos += word.size();
    return true;
  }

  bool Digit(size_t i) const { return i < text.size() && IsDigit(text[i]); }

  bool ReadNumber(Value& slot) {
    const size_t start = pos;
    const bool negative = text[pos] == '-';
    if (negative) ++pos;
    if (!Digit(pos)) return false;
    const size_t intStart = pos;
    if (text[pos] == '0') {
      ++pos;
    } else {
      while (Digit(pos)) ++pos;
    }
    const size_t intEnd = pos;
    size_t fracStart = pos;
    size_t fracEnd = pos;
    bool floating = false;
    if (pos < text.size() && text[pos] == '.') {
      ++pos;
      if (!Digit(pos)) return false;
      fracStart = pos;
      while (Digit(pos)) ++pos;
      fracEnd = pos;
      floating = true;
    }
    int64_t exponent = 0;
    if (pos < text.size() && (text[pos] == 'e' || text[pos] == 'E')) {
      ++pos;
      bool expNegative = false;
      if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) expNegative = text[pos++] == '-';
      if (!Digit(pos)) return false;
      for (; Digit(pos); ++pos) {
        if (exponent < 100000000) exponent = exponent * 10 + (text[pos] - '0');  // saturates
      }
      if (expNegative) exponent = -exponent;
      floating = true;
    }

    if (!floating) {
      uint64_t magnitude = 0;
      bool fits = true;
      for (size_t i = intStart; i < intEnd && fits; ++i) {
        const auto d = static_cast<uint64_t>(text[i] - '0');
        if (magnitude > (UINT64_MAX - d) / 10) {
          fits = false;
        } else {
          magnitude = magnitude * 10 + d;
        }
      }
      constexpr uint64_t kMinMagnitude = static_cast<uint64_t>(INT64_MAX) + 1;
      if (fits && !negative) {
        if (magnitude <= static_cast<uint64_t>(INT64_MAX))
          slot.v.emplace<int64_t>(static_cast<int64_t>(magnitude));
        else
          slot.v.emplace<uint64_t>(magnitude);
        return true;
      }
      if (fits && magnitude <= kMinMagnitude) {
        slot.v.emplace<int64_t>(magnitude == kMinMagnitude ? INT64_MIN : -static_cast<int64_t>(magnitude));
        return true;
      }
      // An integer beyond 64 bits can only be kept as a double.
    }

    const char* first = text.data() + start;
    const char* last = text.data() + pos;
    double d = 0;
    const auto r = std::from_chars(first, last, d);
    if (r.ec == std::errc::result_out_of_range) {
      // Too small for a double reads as zero; too large is refused. The decimal exponent of
      // the first significant digit tells which.
      int64_t lead = 0;
      size_t i = intStart;
      while (i < intEnd && text[i] == '0') ++i;
      if (i < intEnd) {
        lead = static_cast<int64_t>(intEnd - i) - 1;
      } else {
        size_t j = fracStart;
        while (j < fracEnd && text[j] == '0') ++j;
        lead = -static_cast<int64_t>(j - fracStart) - 1;
      }
      if (lead + exponent >= 0) {
        pos = start;
        return false;
      }
      d = negative ? -0.0 : 0.0;
    } else if (r.ec != std::errc() || r.ptr != last) {
      pos = start;
      return false;
    }
    slot.v.emplace<double>(d);
    return true;
  }

  bool ReadHex4(uint32_t& value) {
    if (text.size() - pos < 4) return false;
    value = 0;
    for (int k = 0; k < 4; ++k) {
      const char c = text[pos + k];
      uint32_t digit = 0;
      if (c >= '0' && c <= '9') {
        digit = static_cast<uint32_t>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        digit = static_cast<uint32_t>(c - 'a' + 10);
      } else if (c >= 'A' && c <= 'F') {
        digit = static_cast<uint32_t>(c - 'A' + 10);
      } else {
        return false;
      }
      value = value << 4 | digit;
    }
    pos += 4;
    return true;
  }

  // pos at the opening quote. On failure pos is at the offending escape or character, or at
  // the end of an unterminated string.
  bool ReadString(std::string& out) {
    ++pos;
    for (;;) {
      const size_t run = pos;
      while (pos < text.size()) {
        const auto c = static_cast<unsigned char>(text[pos]);
        if (c == '"' || c == '\\' || c < 0x20) break;
        ++pos;
      }
      out.append(text.data() + run, pos - run);
      if (AtEnd()) return false;
      if (text[pos] == '"') {
        ++pos;
        return true;
      }
      if (text[pos] != '\\') return false;  // a raw control character
      const size_t escape = pos++;
      if (AtEnd()) return false;
      switch (text[pos++]) {
        case '"': out.push_back('"'); break;
        case '\\': out.push_back('\\'); break;
        case '/': out.push_back('/'); break;
        case 'b': out.push_back('\b'); break;
        case 'f': out.push_back('\f'); break;
        case 'n': out.push_back('\n'); break;
        case 'r': out.push_back('\r'); break;
        case 't': out.push_back('\t'); break;
        case 'u': {
          uint32_t cp = 0;
          bool ok = ReadHex4(cp);
          if (ok && cp >= 0xD800 && cp <= 0xDBFF) {
            uint32_t low = 0;
            ok = text.substr(pos, 2) == "\\u";
            if (ok) {
              pos += 2;
              ok = ReadHex4(low) && low >= 0xDC00 && low <= 0xDFFF;
            }
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
          } else if (ok && cp >= 0xDC00 && cp <= 0xDFFF) {
            ok = false;
          }
          if (!ok) {
            pos = escape;
            return false;
          }
          plat::AppendUtf8(out, cp);
          break;
        }
        default:
          pos = escape;
          return false;
      }
    }
  }
};

// ---- Life cycle ----

CJsonObject::CJsonObject() noexcept = default;

CJsonObject::CJsonObject(std::string_view text) { Parse(text); }

CJsonObject::CJsonObject(const CJsonObject& other) {
  if (!CopyFrom(other)) SetError(kNoData);
}

CJsonObject::CJsonObject(CJsonObject&& other) noexcept { StealFrom(other); }

CJsonObject& CJsonObject::operator=(const CJsonObject& other) {
  if (!AssignCopy(other)) SetError(kNoData);
  return *this;
}

CJsonObject& CJsonObject::operator=(CJsonObject&& other) noexcept {
  AssignMove(std::move(other));
  return *this;
}

CJsonObject::~CJsonObject() { DestroyChildren(); }

CJsonObject::Scalar CJsonObject::Scalar::Float(float v) {
  double d = v;
  if (std::isfinite(v)) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    double shortest = 0;
    if (r.ec == std::errc() && std::from_chars(buf, r.ptr, shortest).ec == std::errc()) d = shortest;
  }
  return Double(d);
}

bool CJsonObject::Parse(std::string_view text) {
  CJsonObject parsed;
  Parser parser(text);
  bool ok = false;
  try {
    ok = parser.Run(parsed);
  } catch (...) {
    ok = false;
  }
  DestroyChildren();
  m_eKind = Kind::kEmpty;
  if (!ok) {
    // Built aside first: text may be a view of the old error text.
    try {
      std::string msg(kParseError);
      msg.append(text.substr(parser.Position()));
      m_strErrMsg = std::move(msg);
    } catch (...) {
      SetError(kParseError);
    }
    return false;
  }
  StealFrom(parsed);
  PropagateUp();
  m_strErrMsg.clear();
  return true;
}

void CJsonObject::Clear() {
  DestroyChildren();
  m_eKind = Kind::kEmpty;
  m_strErrMsg.clear();
}

std::string CJsonObject::ToString() const { return Writer::Document(*this); }

// ---- Tree maintenance ----

// Takes source's value; this holds nothing before.
void CJsonObject::StealFrom(CJsonObject& source) noexcept {
  m_eKind = source.m_eKind;
  m_vecMembers = std::move(source.m_vecMembers);
  m_vecItems = std::move(source.m_vecItems);
  m_pKeyIndex = std::move(source.m_pKeyIndex);
  source.m_vecMembers.clear();
  source.m_vecItems.clear();
  source.m_eKind = Kind::kEmpty;
  Adopt();
}

void CJsonObject::Adopt() noexcept {
  for (Member& m : m_vecMembers)
    if (CJsonObject* n = m.value.Node()) n->m_pParent = this;
  for (Value& v : m_vecItems)
    if (CJsonObject* n = v.Node()) n->m_pParent = this;
}

// Post-order through the parent pointers: a sub-object is destroyed only once it owns nothing,
// so no destructor recurses and the depth of the value does not matter.
void CJsonObject::DestroyChildren() noexcept {
  m_pKeyIndex.reset();
  CJsonObject* cur = this;
  for (;;) {
    CJsonObject* child = nullptr;
    while (!child && !cur->m_vecItems.empty()) {
      child = cur->m_vecItems.back().Node();
      if (!child) cur->m_vecItems.pop_back();
    }
    while (!child && !cur->m_vecMembers.empty()) {
      child = cur->m_vecMembers.back().value.Node();
      if (!child) cur->m_vecMembers.pop_back();
    }
    if (child) {
      cur = child;
      continue;
    }
    if (cur == this) break;
    CJsonObject* parent = cur->m_pParent;
    // cur is the last entry that holds a sub-object: an element while the parent has any.
    if (!parent->m_vecItems.empty())
      parent->m_vecItems.pop_back();
    else
      parent->m_vecMembers.pop_back();
    cur = parent;
  }
}

// An empty value takes its first content; placeholders above it join the document.
void CJsonObject::Fill(Kind kind) noexcept {
  if (m_eKind != Kind::kEmpty) return;
  m_eKind = kind;
  PropagateUp();
}

void CJsonObject::PropagateUp() noexcept {
  if (m_eKind == Kind::kEmpty) return;
  for (CJsonObject* p = m_pParent; p && p->m_eKind == Kind::kEmpty; p = p->m_pParent) p->m_eKind = Kind::kObject;
}

bool CJsonObject::IsWithin(const CJsonObject* ancestor) const noexcept {
  for (const CJsonObject* p = this; p; p = p->m_pParent)
    if (p == ancestor) return true;
  return false;
}

// Into this, which holds nothing before. Placeholders are not copied.
bool CJsonObject::CopyFrom(const CJsonObject& source) noexcept {
  try {
    std::vector<std::pair<const CJsonObject*, CJsonObject*>> work;
    work.emplace_back(&source, this);
    auto copyValue = [&work](const Value& from, Value& to, CJsonObject* owner) {
      if (const CJsonObject* n = from.Node()) {
        auto child = std::make_unique<CJsonObject>();
        child->m_pParent = owner;
        work.emplace_back(n, child.get());
        to.v.emplace<NodePtr>(std::move(child));
      } else {
        Value::CopyPlain(from, to);
      }
    };
    while (!work.empty()) {
      const auto [from, to] = work.back();
      work.pop_back();
      to->m_eKind = from->m_eKind;
      if (from->m_eKind == Kind::kObject) {
        to->m_vecMembers.reserve(from->m_vecMembers.size());
        for (const Member& m : from->m_vecMembers) {
          if (m.value.IsPlaceholder()) continue;
          to->m_vecMembers.push_back(Member{m.key, {}});
          copyValue(m.value, to->m_vecMembers.back().value, to);
        }
        to->RebuildIndex();
      } else if (from->m_eKind == Kind::kArray) {
        to->m_vecItems.reserve(from->m_vecItems.size());
        for (const Value& v : from->m_vecItems) {
          to->m_vecItems.emplace_back();
          copyValue(v, to->m_vecItems.back(), to);
        }
      }
    }
    return true;
  } catch (...) {
    DestroyChildren();
    m_eKind = Kind::kEmpty;
    return false;
  }
}

bool CJsonObject::AssignCopy(const CJsonObject& source) noexcept {
  if (&source == this) return true;
  CJsonObject copy;  // aside first: source may be above or below this
  if (!copy.CopyFrom(source)) return false;
  DestroyChildren();
  StealFrom(copy);
  PropagateUp();
  return true;
}

void CJsonObject::AssignMove(CJsonObject&& source) noexcept {
  if (&source == this) return;
  if (IsWithin(&source)) {
    // Moving would make this own itself.
    if (!AssignCopy(source)) SetError(kNoData);
    return;
  }
  CJsonObject taken;
  taken.StealFrom(source);  // source may be below this: emptied before this is cleared
  DestroyChildren();
  StealFrom(taken);
  PropagateUp();
}

void CJsonObject::SetError(const char* text) noexcept {
  try {
    m_strErrMsg = text;
  } catch (...) {
    m_strErrMsg.clear();
  }
}

CJsonObject& CJsonObject::Scratch() noexcept {
  thread_local CJsonObject scratch;
  scratch.Clear();
  return scratch;
}

// ---- Member lookup ----

const CJsonObject::Member* CJsonObject::FindMember(std::string_view key) const {
  if (m_eKind == Kind::kArray) return nullptr;
  if (m_pKeyIndex) {
    const std::vector<uint32_t>& slots = m_pKeyIndex->slots;
    const size_t mask = slots.size() - 1;
    for (size_t i = HashKey(key) & mask;; i = (i + 1) & mask) {
      const uint32_t position = slots[i];
      if (position == kFreeSlot) return nullptr;
      if (m_vecMembers[position].key == key) return &m_vecMembers[position];
    }
  }
  for (const Member& m : m_vecMembers)
    if (m.key == key) return &m;
  return nullptr;
}

CJsonObject::Member* CJsonObject::FindMember(std::string_view key) {
  return const_cast<Member*>(std::as_const(*this).FindMember(key));
}

const CJsonObject::Value* CJsonObject::FindValue(std::string_view key) const {
  if (m_eKind != Kind::kObject) return nullptr;
  const Member* m = FindMember(key);
  return m && !m->value.IsPlaceholder() ? &m->value : nullptr;
}

const CJsonObject::Value* CJsonObject::ItemAt(size_t index) const {
  if (m_eKind != Kind::kArray || index >= m_vecItems.size()) return nullptr;
  return &m_vecItems[index];
}

// Throws std::bad_alloc when memory runs out; the index is only an accelerator and never
// makes an insert fail.
void CJsonObject::InsertMember(std::string&& key, Value&& value) {
  if (m_vecMembers.size() >= kFreeSlot - 1) throw std::bad_alloc();
  m_vecMembers.push_back(Member{std::move(key), std::move(value)});
  IndexAdd(m_vecMembers.size() - 1);
}

void CJsonObject::IndexAdd(size_t position) noexcept {
  if (!m_pKeyIndex || (m_pKeyIndex->used + 1) * 2 > m_pKeyIndex->slots.size()) {
    RebuildIndex();
    return;
  }
  std::vector<uint32_t>& slots = m_pKeyIndex->slots;
  const size_t mask = slots.size() - 1;
  size_t i = HashKey(m_vecMembers[position].key) & mask;
  while (slots[i] != kFreeSlot) i = (i + 1) & mask;
  slots[i] = static_cast<uint32_t>(position);
  ++m_pKeyIndex->used;
}

void CJsonObject::RebuildIndex() noexcept {
  const size_t n = m_vecMembers.size();
  if (n <= kLinearMembers) {
    m_pKeyIndex.reset();
    return;
  }
  try {
    size_t capacity = 32;
    while (capacity < n * 2 + 2) capacity *= 2;
    auto index = std::make_unique<KeyIndex>();
    index->slots.assign(capacity, kFreeSlot);
    const size_t mask = capacity - 1;
    for (size_t position = 0; position < n; ++position) {
      size_t i = HashKey(m_vecMembers[position].key) & mask;
      while (index->slots[i] != kFreeSlot) i = (i + 1) & mask;
      index->slots[i] = static_cast<uint32_t>(position);
    }
    index->used = n;
    m_pKeyIndex = std::move(index);
  } catch (...) {
    m_pKeyIndex.reset();  // linear search stays correct
  }
}

// ---- Objects ----

bool CJsonObject::KeyExist(std::string_view key) const { return FindValue(key) != nullptr; }

std::vector<std::string> CJsonObject::Keys() const {
  std::vector<std::string> keys;
  if (m_eKind != Kind::kObject) return keys;
  try {
    for (const Member& m : m_vecMembers)
      if (!m.value.IsPlaceholder()) keys.push_back(m.key);
  } catch (...) {
    keys.clear();
  }
  return keys;
}

bool CJsonObject::IsNull(std::string_view key) const { return Value::IsNull(FindValue(key)); }

bool CJsonObject::Get(std::string_view key, CJsonObject& value) const { return Value::CopyNode(FindValue(key), value); }
bool CJsonObject::Get(std::string_view key, std::string& value) const { return Value::ReadString(FindValue(key), value); }
bool CJsonObject::Get(std::string_view key, bool& value) const { return Value::ReadBool(FindValue(key), value); }
bool CJsonObject::Get(std::string_view key, double& value) const { return Value::ReadDouble(FindValue(key), value); }
bool CJsonObject::Get(std::string_view key, float& value) const { return Value::ReadFloat(FindValue(key), value); }

std::string CJsonObject::operator()(std::string_view key) const { return Value::Text(FindValue(key)); }

bool CJsonObject::ToSigned(const Value* v, int64_t lo, int64_t hi, int64_t& out) {
  if (!v) return false;
  int64_t n = 0;
  if (const int64_t* i = std::get_if<int64_t>(&v->v)) {
    n = *i;
  } else if (const double* d = std::get_if<double>(&v->v)) {
    const double t = std::trunc(*d);
    if (!(t >= -9223372036854775808.0 && t < 9223372036854775808.0)) return false;  // NaN too
    n = static_cast<int64_t>(t);
  } else {
    return false;  // includes unsigned storage, which is above INT64_MAX
  }
  if (n < lo || n > hi) return false;
  out = n;
  return true;
}

bool CJsonObject::ToUnsigned(const Value* v, uint64_t hi, uint64_t& out) {
  if (!v) return false;
  uint64_t n = 0;
  if (const int64_t* i = std::get_if<int64_t>(&v->v)) {
    if (*i < 0) return false;
    n = static_cast<uint64_t>(*i);
  } else if (const uint64_t* u = std::get_if<uint64_t>(&v->v)) {
    n = *u;
  } else if (const double* d = std::get_if<double>(&v->v)) {
    const double t = std::trunc(*d);
    if (!(t >= 0.0 && t < 18446744073709551616.0)) return false;
    n = static_cast<uint64_t>(t);
  } else {
    return false;
  }
  if (n > hi) return false;
  out = n;
  return true;
}

bool CJsonObject::CanAdd(std::string_view key) {
  if (m_eKind == Kind::kArray) {
    SetError(kNotObject);
    return false;
  }
  const Member* m = FindMember(key);
  if (m && !m->value.IsPlaceholder()) {
    SetError(kKeyExists);
    return false;
  }
  return true;
}

bool CJsonObject::Prepare(const CJsonObject& value, CJsonObject& out) {
  if (value.m_eKind == Kind::kEmpty || !out.CopyFrom(value)) {
    SetError(kNoData);
    return false;
  }
  return true;
}

bool CJsonObject::Prepare(CJsonObject&& value, CJsonObject& out) {
  if (value.m_eKind == Kind::kEmpty) {
    SetError(kNoData);
    return false;
  }
  if (IsWithin(&value)) return Prepare(std::as_const(value), out);  // would own itself
  out.StealFrom(value);
  return true;
}

bool CJsonObject::AddScalar(std::string_view key, const Scalar& s) {
  if (!CanAdd(key)) return false;
  try {
    Value value = Value::From(s);
    if (Member* placeholder = FindMember(key))
      placeholder->value = std::move(value);
    else
      InsertMember(std::string(key), std::move(value));
  } catch (...) {
    SetError(kNoData);
    return false;
  }
  Fill(Kind::kObject);
  return true;
}

bool CJsonObject::AddNode(std::string_view key, CJsonObject&& prepared, const char* failure) {
  try {
    if (Member* placeholder = FindMember(key)) {
      // The placeholder itself takes the value, so references to it stay good.
      CJsonObject* holder = placeholder->value.Node();
      holder->DestroyChildren();
      holder->StealFrom(prepared);
    } else {
      auto node = std::make_unique<CJsonObject>();
      node->StealFrom(prepared);
      node->m_pParent = this;
      InsertMember(std::string(key), Value{std::move(node)});
    }
  } catch (...) {
    SetError(failure);
    return false;
  }
  Fill(Kind::kObject);
  return true;
}

bool CJsonObject::Add(std::string_view key, const CJsonObject& value) {
  CJsonObject prepared;
  return CanAdd(key) && Prepare(value, prepared) && AddNode(key, std::move(prepared), kNoData);
}

bool CJsonObject::Add(std::string_view key, CJsonObject&& value) {
  CJsonObject prepared;
  return CanAdd(key) && Prepare(std::move(value), prepared) && AddNode(key, std::move(prepared), kNoData);
}

bool CJsonObject::Add(std::string_view key, const char* value) {
  if (!value) {
    SetError(kNoData);
    return false;
  }
  return AddScalar(key, Scalar::String(value));
}

bool CJsonObject::AddEmptySubObject(std::string_view key) {
  if (!CanAdd(key)) return false;
  CJsonObject prepared;
  prepared.m_eKind = Kind::kObject;
  return AddNode(key, std::move(prepared), kNoSubObject);
}

bool CJsonObject::AddEmptySubArray(std::string_view key) {
  if (!CanAdd(key)) return false;
  CJsonObject prepared;
  prepared.m_eKind = Kind::kArray;
  return AddNode(key, std::move(prepared), kNoSubArray);
}

bool CJsonObject::ReplaceScalar(std::string_view key, const Scalar& s) {
  if (m_eKind == Kind::kArray) {
    SetError(kNotObject);
    return false;
  }
  Member* m = FindMember(key);
  if (!m || m->value.IsPlaceholder()) {
    SetError(kKeyMissing);
    return false;
  }
  try {
    m->value = Value::From(s);
  } catch (...) {
    SetError(kNoData);
    return false;
  }
  return true;
}

bool CJsonObject::ReplaceNode(std::string_view key, CJsonObject&& prepared) {
  Member* m = FindMember(key);
  if (!m || m->value.IsPlaceholder()) {
    SetError(kKeyMissing);
    return false;
  }
  try {
    auto node = std::make_unique<CJsonObject>();
    node->StealFrom(prepared);
    node->m_pParent = this;
    m->value.v.emplace<NodePtr>(std::move(node));
  } catch (...) {
    SetError(kNoData);
    return false;
  }
  return true;
}

bool CJsonObject::Replace(std::string_view key, const CJsonObject& value) {
  if (m_eKind == Kind::kArray) {
    SetError(kNotObject);
    return false;
  }
  if (!KeyExist(key)) {
    SetError(kKeyMissing);
    return false;
  }
  CJsonObject prepared;
  return Prepare(value, prepared) && ReplaceNode(key, std::move(prepared));
}

bool CJsonObject::Replace(std::string_view key, CJsonObject&& value) {
  if (m_eKind == Kind::kArray) {
    SetError(kNotObject);
    return false;
  }
  if (!KeyExist(key)) {
    SetError(kKeyMissing);
    return false;
  }
  CJsonObject prepared;
  return Prepare(std::move(value), prepared) && ReplaceNode(key, std::move(prepared));
}

bool CJsonObject::Replace(std::string_view key, const char* value) {
  if (!value) {
    SetError(kNoData);
    return false;
  }
  return ReplaceScalar(key, Scalar::String(value));
}

bool CJsonObject::Delete(std::string_view key) {
  if (m_eKind == Kind::kArray) {
    SetError(kNotObject);
    return false;
  }
  const Member* m = FindMember(key);
  if (!m || m->value.IsPlaceholder()) {
    SetError(kKeyMissing);
    return false;
  }
  m_vecMembers.erase(m_vecMembers.begin() + (m - m_vecMembers.data()));
  RebuildIndex();
  return true;
}

CJsonObject& CJsonObject::operator[](std::string_view key) {
  if (m_eKind == Kind::kArray) return Scratch();
  if (Member* m = FindMember(key)) {
    CJsonObject* node = m->value.Node();
    return node ? *node : Scratch();
  }
  try {
    auto node = std::make_unique<CJsonObject>();
    node->m_pParent = this;
    CJsonObject& placeholder = *node;
    InsertMember(std::string(key), Value{std::move(node)});
    return placeholder;
  } catch (...) {
    return Scratch();
  }
}

// ---- Arrays ----

size_t CJsonObject::GetArraySize() const { return m_eKind == Kind::kArray ? m_vecItems.size() : 0; }

bool CJsonObject::IsNull(size_t index) const { return Value::IsNull(ItemAt(index)); }

bool CJsonObject::Get(size_t index, CJsonObject& value) const { return Value::CopyNode(ItemAt(index), value); }
bool CJsonObject::Get(size_t index, std::string& value) const { return Value::ReadString(ItemAt(index), value); }
bool CJsonObject::Get(size_t index, bool& value) const { return Value::ReadBool(ItemAt(index), value); }
bool CJsonObject::Get(size_t index, double& value) const { return Value::ReadDouble(ItemAt(index), value); }
bool CJsonObject::Get(size_t index, float& value) const { return Value::ReadFloat(ItemAt(index), value); }

std::string CJsonObject::operator()(size_t index) const { return Value::Text(ItemAt(index)); }

bool CJsonObject::CanAppend() {
  if (m_eKind == Kind::kObject) {
    SetError(kNotArray);
    return false;
  }
  return true;
}

bool CJsonObject::AppendScalar(const Scalar& s) {
  if (!CanAppend()) return false;
  try {
    m_vecItems.push_back(Value::From(s));
  } catch (...) {
    SetError(kNoData);
    return false;
  }
  Fill(Kind::kArray);
  return true;
}

bool CJsonObject::AppendNode(CJsonObject&& prepared, const char* failure) {
  try {
    auto node = std::make_unique<CJsonObject>();
    node->StealFrom(prepared);
    node->m_pParent = this;
    m_vecItems.push_back(Value{std::move(node)});
  } catch (...) {
    SetError(failure);
    return false;
  }
  Fill(Kind::kArray);
  return true;
}

bool CJsonObject::Add(const CJsonObject& value) {
  CJsonObject prepared;
  return CanAppend() && Prepare(value, prepared) && AppendNode(std::move(prepared), kNoData);
}

bool CJsonObject::Add(CJsonObject&& value) {
  CJsonObject prepared;
  return CanAppend() && Prepare(std::move(value), prepared) && AppendNode(std::move(prepared), kNoData);
}

bool CJsonObject::Add(const char* value) {
  if (!value) {
    SetError(kNoData);
    return false;
  }
  return AppendScalar(Scalar::String(value));
}

bool CJsonObject::AddEmptySubObject() {
  if (!CanAppend()) return false;
  CJsonObject prepared;
  prepared.m_eKind = Kind::kObject;
  return AppendNode(std::move(prepared), kNoSubObject);
}

bool CJsonObject::AddEmptySubArray() {
  if (!CanAppend()) return false;
  CJsonObject prepared;
  prepared.m_eKind = Kind::kArray;
  return AppendNode(std::move(prepared), kNoSubArray);
}

bool CJsonObject::ReplaceScalar(size_t index, const Scalar& s) {
  if (m_eKind != Kind::kArray || index >= m_vecItems.size()) {
    SetError(m_eKind == Kind::kObject ? kNotArray : kBadIndex);
    return false;
  }
  try {
    m_vecItems[index] = Value::From(s);
  } catch (...) {
    SetError(kNoData);
    return false;
  }
  return true;
}

bool CJsonObject::ReplaceNode(size_t index, CJsonObject&& prepared) {
  if (index >= m_vecItems.size()) {
    SetError(kBadIndex);
    return false;
  }
  try {
    auto node = std::make_unique<CJsonObject>();
    node->StealFrom(prepared);
    node->m_pParent = this;
    m_vecItems[index].v.emplace<NodePtr>(std::move(node));
  } catch (...) {
    SetError(kNoData);
    return false;
  }
  return true;
}

bool CJsonObject::Replace(size_t index, const CJsonObject& value) {
  if (m_eKind != Kind::kArray || index >= m_vecItems.size()) {
    SetError(m_eKind == Kind::kObject ? kNotArray : kBadIndex);
    return false;
  }
  CJsonObject prepared;
  return Prepare(value, prepared) && ReplaceNode(index, std::move(prepared));
}

bool CJsonObject::Replace(size_t index, CJsonObject&& value) {
  if (m_eKind != Kind::kArray || index >= m_vecItems.size()) {
    SetError(m_eKind == Kind::kObject ? kNotArray : kBadIndex);
    return false;
  }
  CJsonObject prepared;
  return Prepare(std::move(value), prepared) && ReplaceNode(index, std::move(prepared));
}

bool CJsonObject::Replace(size_t index, const char* value) {
  if (!value) {
    SetError(kNoData);
    return false;
  }
  return ReplaceScalar(index, Scalar::String(value));
}

bool CJsonObject::Delete(size_t index) {
  if (m_eKind != Kind::kArray || index >= m_vecItems.size()) {
    SetError(m_eKind == Kind::kObject ? kNotArray : kBadIndex);
    return false;
  }
  m_vecItems.erase(m_vecItems.begin() + static_cast<std::ptrdiff_t>(index));
  return true;
}

CJsonObject& CJsonObject::operator[](size_t index) {
  if (m_eKind != Kind::kArray || index >= m_vecItems.size()) return Scratch();
  CJsonObject* node = m_vecItems[index].Node();
  return node ? *node : Scratch();
}

}  // namespace neb
