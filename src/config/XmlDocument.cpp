#include "config/XmlDocument.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <limits>
#include <string_view>
#include <unordered_map>

#include "platform/TextConv.h"

namespace {

constexpr uint32_t kBlockBits = 16;
constexpr uint32_t kBlockSize = 1u << kBlockBits;
constexpr int kFlagNoCase = 8;
// Offsets are 32-bit; a larger text is refused rather than silently wrapped.
constexpr size_t kMaxDocLength = std::numeric_limits<uint32_t>::max() - 1;
// A hostile document can hold millions of faults; the result text keeps the first ones only.
constexpr size_t kMaxMessages = 1000;

// Element record flags.
constexpr uint32_t kEmptyTag = 1;  // written <name/>
constexpr uint32_t kUnended = 2;   // closed where an outer end tag or the end of text met it

bool IsSpace(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

bool IsNameStart(wchar_t c) {
  return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || c == L'_' || c == L':' || c >= 0x80;
}

bool IsNameChar(wchar_t c) {
  return !(IsSpace(c) || c == L'/' || c == L'>' || c == L'=' || c == L'<' || c == L'"' || c == L'\'' ||
           c == 0);
}

wchar_t FoldAscii(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c; }

bool SameName(std::wstring_view a, std::wstring_view b, bool noCase) {
  if (a.size() != b.size()) return false;
  if (!noCase) return a == b;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return true;
}

// A name handed to FindElem ends at its terminator or at the first of " =/[]".
std::wstring_view GivenName(const wchar_t* name) {
  size_t len = 0;
  while (name[len] && !std::wcschr(L" =/[]", name[len])) ++len;
  return std::wstring_view(name, len);
}

// Finds `what` in [from, end) of the text; npos when absent.
size_t FindIn(const wchar_t* d, size_t from, size_t end, std::wstring_view what) {
  if (from >= end) return std::wstring_view::npos;
  const size_t at = std::wstring_view(d + from, end - from).find(what);
  return at == std::wstring_view::npos ? at : from + at;
}

bool StartsWith(const wchar_t* d, size_t at, size_t end, std::wstring_view what) {
  return end - at >= what.size() && std::wstring_view(d + at, what.size()) == what;
}

// The '>' that ends a tag begun before `from`, or npos. Quoted values may hold '>'; so may the
// bracketed internal subset of a document type declaration.
size_t TagEnd(const wchar_t* d, size_t from, size_t end, bool subset) {
  wchar_t quote = 0;
  bool inSubset = false;
  for (size_t q = from; q < end; ++q) {
    const wchar_t ch = d[q];
    if (quote) {
      if (ch == quote) quote = 0;
    } else if (ch == L'"' || ch == L'\'') {
      quote = ch;
    } else if (subset && ch == L'[') {
      inSubset = true;
    } else if (subset && ch == L']') {
      inSubset = false;
    } else if (ch == L'>' && !inSubset) {
      return q;
    }
  }
  return std::wstring_view::npos;
}

bool IsDeclarationLetter(wchar_t c) { return c == L'D' || c == L'E' || c == L'A' || c == L'N'; }

int HexValue(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

std::wstring Unescape(std::wstring_view s) {
  std::wstring out;
  out.reserve(s.size());
  static constexpr struct {
    std::wstring_view text;
    wchar_t value;
  } kNamed[] = {{L"&lt;", L'<'}, {L"&amp;", L'&'}, {L"&gt;", L'>'}, {L"&apos;", L'\''}, {L"&quot;", L'"'}};
  size_t i = 0;
  while (i < s.size()) {
    const size_t amp = s.find(L'&', i);
    if (amp == std::wstring_view::npos) {
      out.append(s.substr(i));
      break;
    }
    out.append(s.substr(i, amp - i));
    i = amp;
    const std::wstring_view rest = s.substr(i);
    bool done = false;
    for (const auto& named : kNamed) {
      if (rest.starts_with(named.text)) {
        out.push_back(named.value);
        i += named.text.size();
        done = true;
        break;
      }
    }
    if (done) continue;
    if (rest.starts_with(L"&#")) {
      size_t j = 2;
      const bool hex = j < rest.size() && rest[j] == L'x';
      if (hex) ++j;
      const size_t first = j;
      uint32_t value = 0;
      while (j < rest.size() && j - first < 7) {
        const int digit = hex ? HexValue(rest[j]) : (rest[j] >= L'0' && rest[j] <= L'9' ? rest[j] - L'0' : -1);
        if (digit < 0) break;
        value = value * (hex ? 16 : 10) + static_cast<uint32_t>(digit);
        ++j;
      }
      if (j > first && j < rest.size() && rest[j] == L';' && value != 0) {
        // wchar_t holds the whole code point here; no surrogate pair is needed.
        out.push_back(static_cast<wchar_t>(value));
        i += j + 1;
        continue;
      }
    }
    out.push_back(L'&');
    ++i;
  }
  return out;
}

std::wstring Escape(const wchar_t* s) {
  std::wstring out;
  for (; *s; ++s) {
    switch (*s) {
      case L'<': out += L"&lt;"; break;
      case L'&': out += L"&amp;"; break;
      case L'>': out += L"&gt;"; break;
      default: out.push_back(*s);
    }
  }
  return out;
}

std::wstring ErrnoText(int err) {
  std::string text = std::strerror(err);
  const size_t cut = text.find_first_of("\r\n");
  if (cut != std::string::npos) text.resize(cut);
  return plat::Utf8ToWide(text);
}

// Hash and equality for open-element names, so an end tag finds its start tag without
// walking the stack of open elements.
struct NameHash {
  bool noCase;
  size_t operator()(std::wstring_view s) const {
    uint64_t h = 1469598103934665603ull;
    for (wchar_t c : s) {
      h ^= static_cast<uint32_t>(noCase ? FoldAscii(c) : c);
      h *= 1099511628211ull;
    }
    return static_cast<size_t>(h);
  }
};
struct NameEq {
  bool noCase;
  bool operator()(std::wstring_view a, std::wstring_view b) const { return SameName(a, b, noCase); }
};

}  // namespace

struct XmlDocument::Impl {
  class Parser;
  struct Node {
    uint32_t start;
    uint32_t length;  // start tag through end tag
    uint32_t startTagLen;
    uint32_t endTagLen;  // 0 for <name/> and for an element never ended
    uint32_t flags;
    uint32_t level;
    uint32_t parent;
    uint32_t child;
    uint32_t next;
    uint32_t prev;  // of the first child: the last child
  };

  // Blocks of kBlockSize records; only the last one grows, so a small document does not pay
  // for a whole block. Growing it moves that block's records: references into the index are
  // not kept across NewNode.
  std::vector<std::vector<Node>> blocks;
  uint32_t count = 0;
  uint32_t iPosParent = 0;
  uint32_t iPos = 0;
  uint32_t iPosChild = 0;

  Node& At(uint32_t i) { return blocks[i >> kBlockBits][i & (kBlockSize - 1)]; }
  const Node& At(uint32_t i) const { return blocks[i >> kBlockBits][i & (kBlockSize - 1)]; }

  // 0 when the 32-bit index is full (record 0 is the document, never handed out twice).
  uint32_t NewNode() {
    if (count == std::numeric_limits<uint32_t>::max()) return 0;
    if ((count >> kBlockBits) >= blocks.size()) {
      blocks.emplace_back();
      blocks.back().reserve(blocks.size() == 1 ? 64 : kBlockSize);
    }
    std::vector<Node>& last = blocks.back();
    if (last.size() == last.capacity()) last.reserve(std::min<size_t>(kBlockSize, last.capacity() * 2));
    last.push_back(Node{});
    return count++;
  }

  void DropLast() {
    blocks.back().pop_back();
    if (blocks.back().empty() && blocks.size() > 1) blocks.pop_back();
    --count;
  }

  void Reset(size_t docLength) {
    if (blocks.size() > 1) blocks.resize(1);
    if (!blocks.empty()) blocks[0].clear();
    count = 0;
    NewNode();
    At(0).length = static_cast<uint32_t>(docLength);
    iPosParent = iPos = iPosChild = 0;
  }

  void AppendChild(uint32_t parent, uint32_t i) {
    Node& p = At(parent);
    Node& n = At(i);
    n.parent = parent;
    n.next = 0;
    if (!p.child) {
      p.child = i;
      n.prev = i;
      return;
    }
    Node& first = At(p.child);
    const uint32_t last = first.prev;
    At(last).next = i;
    n.prev = last;
    first.prev = i;
  }

  void InsertAfter(uint32_t before, uint32_t i) {
    Node& b = At(before);
    Node& n = At(i);
    n.parent = b.parent;
    n.prev = before;
    n.next = b.next;
    if (b.next) {
      At(b.next).prev = i;
    } else {
      At(At(b.parent).child).prev = i;
    }
    b.next = i;
  }

  uint32_t LastChild(uint32_t parent) const {
    const uint32_t first = At(parent).child;
    return first ? At(first).prev : 0;
  }

  static size_t NameLength(const std::wstring& doc, const Node& n) {
    size_t p = n.start + 1;
    const size_t end = std::min<size_t>(doc.size(), n.start + n.startTagLen);
    while (p < end && IsNameChar(doc[p])) ++p;
    return p - (n.start + 1);
  }

  static std::wstring_view Name(const std::wstring& doc, const Node& n) {
    if (n.startTagLen < 2) return {};
    return std::wstring_view(doc.data() + n.start + 1, NameLength(doc, n));
  }

  bool Matches(const std::wstring& doc, uint32_t i, const wchar_t* name, bool noCase) const {
    if (!name || !*name) return true;
    return SameName(Name(doc, At(i)), GivenName(name), noCase);
  }

  // Text nodes and CDATA sections of [p, end), the stretch between two child elements.
  static void AppendDirectText(const std::wstring& doc, size_t p, size_t end, std::wstring& out) {
    const wchar_t* d = doc.data();
    while (p < end) {
      if (d[p] != L'<' || p + 1 >= end ||
          !(d[p + 1] == L'/' || d[p + 1] == L'!' || d[p + 1] == L'?' || IsNameStart(d[p + 1]))) {
        // Text up to the next markup; a stray '<' that opens no markup is text as well.
        size_t q = FindIn(d, p + 1, end, L"<");
        if (q == std::wstring_view::npos) q = end;
        const std::wstring_view text(d + p, q - p);
        bool blank = true;
        for (wchar_t c : text) {
          if (!IsSpace(c)) {
            blank = false;
            break;
          }
        }
        if (!blank) out += Unescape(text);
        p = q;
        continue;
      }
      if (StartsWith(d, p, end, L"<![C")) {  // as the parser reads a CDATA section
        size_t q = FindIn(d, p + 4, end, L"]]>");
        if (q == std::wstring_view::npos) q = end;
        const size_t inner = std::min(p + 9, q);
        out.append(d + inner, q - inner);
        p = q == end ? end : q + 3;
        continue;
      }
      size_t q;
      std::wstring_view close = L">";
      if (StartsWith(d, p, end, L"<!--")) {
        close = L"-->";
        q = FindIn(d, p + 4, end, close);
      } else if (d[p + 1] == L'?') {
        close = L"?>";
        q = FindIn(d, p + 2, end, close);
      } else if (d[p + 1] == L'/') {
        q = FindIn(d, p + 2, end, close);
      } else {
        const bool declaration = d[p + 1] == L'!' && p + 2 < end && IsDeclarationLetter(d[p + 2]);
        q = TagEnd(d, p + 1, end, declaration);
      }
      p = q == std::wstring_view::npos ? end : q + close.size();
    }
  }
};

// One pass over the text, node by node, with an explicit stack of open elements.
class XmlDocument::Impl::Parser {
 public:
  Parser(const std::wstring& doc, XmlDocument::Impl& index, std::wstring& result, bool noCase)
      : m_d(doc.data()), m_n(doc.size()), m_x(index), m_result(result), m_noCase(noCase),
        m_open(16, NameHash{noCase}, NameEq{noCase}) {
    m_stack.reserve(6);
  }

  bool Run() {
    size_t p = 0;
    while (p < m_n) {
      if (m_d[p] != L'<') {
        const wchar_t* lt = std::wmemchr(m_d + p, L'<', m_n - p);
        p = lt ? static_cast<size_t>(lt - m_d) : m_n;
        continue;
      }
      if (!Markup(p)) break;
    }
    while (!m_stack.empty()) CloseUnended(m_n);
    const auto& doc = m_x.At(0);
    if (!doc.child) {
      Message([] { return std::wstring(L"No root element"); });
    } else if (m_x.At(doc.child).next) {
      Message([] { return std::wstring(L"Root element has sibling"); });
    }
    return doc.child && !m_x.At(doc.child).next && !m_illFormed;
  }

 private:
  struct Open {
    uint32_t node;
    std::vector<uint32_t>* sameName;  // stack depths of the open elements with this name
  };

  // The text is built only while it is still going to be kept.
  template <typename MakeText>
  void Message(MakeText make) {
    if (m_messages++ >= kMaxMessages) return;
    if (!m_result.empty()) m_result += L", ";
    m_result += make();
  }

  template <typename MakeText>
  void Fault(MakeText make) {
    m_illFormed = true;
    Message(make);
  }

  static std::wstring Offset(size_t at) { return L" at offset " + std::to_wstring(at); }

  std::wstring_view NameAt(size_t from) const {
    size_t q = from;
    while (q < m_n && IsNameChar(m_d[q])) ++q;
    return std::wstring_view(m_d + from, q - from);
  }

  // Parses the node at p (which holds '<'); false when the rest of the text is used up.
  bool Markup(size_t& p) {
    if (p + 1 >= m_n) return Unterminated(L"tag", p);
    const wchar_t c = m_d[p + 1];
    if (c == L'/') return EndTag(p);
    if (c == L'?') return SkipTo(p, p + 2, L"?>", L"Processing instruction");
    if (c == L'!') {
      if (p + 2 >= m_n) return Unterminated(L"tag", p);
      const wchar_t c2 = m_d[p + 2];
      if (c2 == L'-') {
        if (p + 3 >= m_n) return Unterminated(L"tag", p);
        if (m_d[p + 3] != L'-') return Incorrect(L"comment tag", p);
        return SkipTo(p, p + 4, L"-->", L"Comment");
      }
      if (c2 == L'[') {
        if (p + 3 >= m_n) return Unterminated(L"tag", p);
        if (m_d[p + 3] != L'C') return Incorrect(L"tag", p);
        return SkipTo(p, p + 4, L"]]>", L"CDATA Section");
      }
      if (IsDeclarationLetter(c2)) return Doctype(p);
      return Incorrect(L"! tag", p);
    }
    if (IsNameStart(c)) return StartTag(p);
    return Incorrect(L"tag name character", p);
  }

  bool Unterminated(const wchar_t* kind, size_t& p) {
    Fault([&] { return std::wstring(kind) + Offset(p) + L" unterminated"; });
    p = m_n;
    return false;
  }

  // The '<' is read as text and the scan goes on after it.
  bool Incorrect(const wchar_t* what, size_t& p) {
    Fault([&] { return std::wstring(L"Incorrect ") + what + Offset(p); });
    ++p;
    return true;
  }

  bool SkipTo(size_t& p, size_t from, std::wstring_view close, const wchar_t* kind) {
    const size_t q = FindIn(m_d, from, m_n, close);
    if (q == std::wstring_view::npos) return Unterminated(kind, p);
    p = q + close.size();
    return true;
  }

  bool Doctype(size_t& p) {
    const size_t q = TagEnd(m_d, p + 2, m_n, true);
    if (q == std::wstring_view::npos) return Unterminated(L"Doctype", p);
    p = q + 1;
    return true;
  }

  bool StartTag(size_t& p) {
    const size_t q = TagEnd(m_d, p + 1 + NameAt(p + 1).size(), m_n, false);
    if (q == std::wstring_view::npos) return Unterminated(L"Element tag", p);
    const uint32_t i = m_x.NewNode();
    if (!i) return Unterminated(L"Element tag", p);  // index full
    const uint32_t parent = m_stack.empty() ? 0 : m_stack.back().node;
    auto& n = m_x.At(i);
    n.start = static_cast<uint32_t>(p);
    n.startTagLen = static_cast<uint32_t>(q + 1 - p);
    n.level = static_cast<uint32_t>(m_stack.size());
    m_x.AppendChild(parent, i);
    if (m_d[q - 1] == L'/') {
      n.flags = kEmptyTag;
      n.length = n.startTagLen;
    } else {
      if (m_stack.size() == m_stack.capacity()) m_stack.reserve(m_stack.size() * 2 + 6);
      std::vector<uint32_t>& same = m_open[NameAt(p + 1)];
      same.push_back(static_cast<uint32_t>(m_stack.size()));
      m_stack.push_back({i, &same});
    }
    p = q + 1;
    return true;
  }

  std::wstring_view OpenName(const Open& o) const {
    return std::wstring_view(m_d + m_x.At(o.node).start + 1, NameAt(m_x.At(o.node).start + 1).size());
  }

  void Pop() {
    m_stack.back().sameName->pop_back();
    m_stack.pop_back();
    // Names no longer open are dropped now and then, so a document of many distinct names
    // does not keep one entry per name; entries still open stay where they are.
    if (m_open.size() > m_purgeAt) {
      for (auto it = m_open.begin(); it != m_open.end();) {
        it = it->second.empty() ? m_open.erase(it) : std::next(it);
      }
      m_purgeAt = std::max<size_t>(1024, m_open.size() * 2);
    }
  }

  void CloseUnended(size_t at) {
    auto& n = m_x.At(m_stack.back().node);
    n.length = static_cast<uint32_t>(at - n.start);
    n.endTagLen = 0;
    n.flags |= kUnended;
    Fault([&] { return L"Element '" + std::wstring(OpenName(m_stack.back())) + L"'" + Offset(n.start) + L" not ended"; });
    Pop();
  }

  bool EndTag(size_t& p) {
    const std::wstring_view name = NameAt(p + 2);
    const wchar_t* gt = std::wmemchr(m_d + p + 2 + name.size(), L'>', m_n - (p + 2 + name.size()));
    if (!gt) return Unterminated(L"Element end tag", p);
    const size_t end = static_cast<size_t>(gt - m_d) + 1;
    if (m_stack.empty()) {
      Fault([&] { return L"No start tag for end tag '" + std::wstring(name) + L"'" + Offset(p); });
      p = end;
      return true;
    }
    if (!SameName(OpenName(m_stack.back()), name, m_noCase)) {
      const auto found = m_open.find(name);
      if (found == m_open.end() || found->second.empty()) {
        const Open& top = m_stack.back();
        Fault([&] {
          return L"End tag '" + std::wstring(name) + L"'" + Offset(p) + L" does not match start tag '" +
                 std::wstring(OpenName(top)) + L"'" + Offset(m_x.At(top.node).start);
        });
        p = end;
        return true;
      }
      const size_t depth = found->second.back();
      while (m_stack.size() > depth + 1) CloseUnended(p);
    }
    auto& n = m_x.At(m_stack.back().node);
    n.endTagLen = static_cast<uint32_t>(end - p);
    n.length = static_cast<uint32_t>(end - n.start);
    Pop();
    p = end;
    return true;
  }

  const wchar_t* m_d;
  size_t m_n;
  XmlDocument::Impl& m_x;
  std::wstring& m_result;
  bool m_noCase;
  bool m_illFormed = false;
  size_t m_messages = 0;
  size_t m_purgeAt = 1024;
  std::vector<Open> m_stack;
  std::unordered_map<std::wstring_view, std::vector<uint32_t>, NameHash, NameEq> m_open;
};

XmlDocument::XmlDocument() : m_impl(std::make_unique<Impl>()) { m_impl->Reset(0); }

XmlDocument::XmlDocument(const wchar_t* text) : m_impl(std::make_unique<Impl>()) { SetDoc(text); }

XmlDocument::XmlDocument(const std::wstring& text) : m_impl(std::make_unique<Impl>()) { SetDoc(text); }

XmlDocument::~XmlDocument() = default;

bool XmlDocument::SetDoc(const wchar_t* text) {
  m_doc = text ? text : L"";
  return Parse();
}

bool XmlDocument::SetDoc(const std::wstring& text) {
  m_doc = text;
  return Parse();
}

bool XmlDocument::Parse() {
  m_result.clear();
  if (m_doc.size() > kMaxDocLength) {
    m_doc.clear();
    m_impl->Reset(0);
    m_result = L"Document too large";
    return false;
  }
  m_impl->Reset(m_doc.size());
  if (m_doc.empty()) {
    m_result = L"Empty document";
    return false;
  }
  Impl::Parser parser(m_doc, *m_impl, m_result, (m_flags & kFlagNoCase) != 0);
  return parser.Run();
}

void XmlDocument::ResetPos() {
  m_impl->iPosParent = 0;
  m_impl->iPos = 0;
  m_impl->iPosChild = 0;
}

void XmlDocument::ResetChildPos() { m_impl->iPosChild = 0; }

bool XmlDocument::FindElem(const wchar_t* name) {
  Impl& x = *m_impl;
  if (x.count <= 1) return false;
  const bool noCase = (m_flags & kFlagNoCase) != 0;
  for (uint32_t i = x.iPos ? x.At(x.iPos).next : x.At(x.iPosParent).child; i; i = x.At(i).next) {
    if (x.Matches(m_doc, i, name, noCase)) {
      x.iPos = i;
      x.iPosChild = 0;
      return true;
    }
  }
  return false;
}

bool XmlDocument::FindChildElem(const wchar_t* name) {
  Impl& x = *m_impl;
  if (!x.iPos && !FindElem(nullptr)) return false;
  const bool noCase = (m_flags & kFlagNoCase) != 0;
  for (uint32_t i = x.iPosChild ? x.At(x.iPosChild).next : x.At(x.iPos).child; i; i = x.At(i).next) {
    if (x.Matches(m_doc, i, name, noCase)) {
      x.iPosChild = i;
      return true;
    }
  }
  return false;
}

bool XmlDocument::IntoElem() {
  Impl& x = *m_impl;
  if (!x.iPos) return false;
  x.iPosParent = x.iPos;
  x.iPos = x.iPosChild;
  x.iPosChild = 0;
  return true;
}

bool XmlDocument::OutOfElem() {
  Impl& x = *m_impl;
  if (!x.iPosParent) return false;
  x.iPosChild = x.iPos;
  x.iPos = x.iPosParent;
  x.iPosParent = x.At(x.iPosParent).parent;
  return true;
}

std::wstring XmlDocument::GetData() const {
  const Impl& x = *m_impl;
  if (!x.iPos) return {};
  const Impl::Node& e = x.At(x.iPos);
  if (e.flags & kEmptyTag) return {};
  const size_t from = e.start + e.startTagLen;
  const size_t to = static_cast<size_t>(e.start) + e.length - e.endTagLen;
  if (to <= from) return {};
  const std::wstring_view content(m_doc.data() + from, to - from);
  if (content.find(L'<') == std::wstring_view::npos) return Unescape(content);
  std::wstring out;
  size_t p = from;
  for (uint32_t c = e.child;; c = x.At(c).next) {
    const size_t stop = c ? x.At(c).start : to;
    Impl::AppendDirectText(m_doc, p, stop, out);
    if (!c) break;
    p = static_cast<size_t>(x.At(c).start) + x.At(c).length;
  }
  return out;
}

std::wstring XmlDocument::GetAttrib(const wchar_t* name) const {
  const Impl& x = *m_impl;
  if (!x.iPos || !name) return {};
  const Impl::Node& e = x.At(x.iPos);
  const wchar_t* d = m_doc.data();
  const size_t end = e.start + e.startTagLen - 1;  // the closing '>'
  size_t p = e.start + 1 + Impl::NameLength(m_doc, e);
  const std::wstring_view wanted(name);
  const bool noCase = (m_flags & kFlagNoCase) != 0;
  while (p < end) {
    while (p < end && (IsSpace(d[p]) || d[p] == L'/')) ++p;
    const size_t nameStart = p;
    while (p < end && IsNameChar(d[p])) ++p;
    if (p == nameStart) {
      if (p < end) ++p;  // a stray quote or '<'
      continue;
    }
    const std::wstring_view attr(d + nameStart, p - nameStart);
    while (p < end && IsSpace(d[p])) ++p;
    size_t valueStart = p, valueEnd = p;
    if (p < end && d[p] == L'=') {
      ++p;
      while (p < end && IsSpace(d[p])) ++p;
      if (p < end && (d[p] == L'"' || d[p] == L'\'')) {
        valueStart = p + 1;
        const wchar_t* q = std::wmemchr(d + valueStart, d[p], end - valueStart);
        valueEnd = q ? static_cast<size_t>(q - d) : end;
        p = q ? valueEnd + 1 : end;
      } else {
        valueStart = p;
        while (p < end && !IsSpace(d[p]) && d[p] != L'>') ++p;
        valueEnd = p;
      }
    }
    if (SameName(attr, wanted, noCase)) return Unescape(std::wstring_view(d + valueStart, valueEnd - valueStart));
  }
  return {};
}

std::wstring XmlDocument::GetTagName() const {
  const Impl& x = *m_impl;
  if (!x.iPos) return {};
  return std::wstring(Impl::Name(m_doc, x.At(x.iPos)));
}

bool XmlDocument::AddElem(const wchar_t* name, const wchar_t* data) {
  Impl& x = *m_impl;
  const std::wstring tag = name ? name : L"";
  const bool hasData = data && *data;
  const std::wstring elem =
      hasData ? L"<" + tag + L">" + Escape(data) + L"</" + tag + L">" : L"<" + tag + L"/>";
  const size_t startTagLen = hasData ? tag.size() + 2 : elem.size();
  const size_t endTagLen = hasData ? tag.size() + 3 : 0;

  const uint32_t i = x.NewNode();  // first: it may move records
  if (!i) return false;
  const uint32_t before = x.iPos ? x.iPos : x.LastChild(x.iPosParent);
  const uint32_t parent = before ? x.At(before).parent : x.iPosParent;
  Impl::Node& p = x.At(parent);

  size_t at;                 // where the text goes in
  size_t replaced = 0;       // characters of the old text it replaces
  size_t elemOffset = 0;     // the new element within the inserted text
  std::wstring text;
  uint32_t growFrom = parent;  // first record whose length grows
  if (before) {
    const Impl::Node& b = x.At(before);
    const size_t contentEnd = parent ? static_cast<size_t>(p.start) + p.length - p.endTagLen : m_doc.size();
    at = static_cast<size_t>(b.start) + b.length;
    while (at < contentEnd && IsSpace(m_doc[at])) ++at;
    text = elem + L"\r\n";
  } else if (!parent) {
    at = m_doc.size();
    text = elem + L"\r\n";
  } else if (p.flags & kEmptyTag) {
    // <name/> becomes <name>, CR LF, the child, CR LF, </name>.
    std::wstring open = m_doc.substr(p.start, p.startTagLen >= 2 ? p.startTagLen - 2 : 0);
    // Blanks and slashes before "/>" go too, so the rewritten tag cannot read as empty again.
    const size_t keep = 1 + Impl::NameLength(m_doc, p);
    while (open.size() > keep && (IsSpace(open.back()) || open.back() == L'/')) open.pop_back();
    open += L">";
    const std::wstring close = L"</" + std::wstring(Impl::Name(m_doc, p)) + L">";
    at = p.start;
    replaced = p.startTagLen;
    elemOffset = open.size() + 2;
    text = open + L"\r\n" + elem + L"\r\n" + close;
    growFrom = p.parent;
    if (m_doc.size() - replaced + text.size() > kMaxDocLength) return x.DropLast(), false;
    p.flags &= ~kEmptyTag;
    p.startTagLen = static_cast<uint32_t>(open.size());
    p.endTagLen = static_cast<uint32_t>(close.size());
    p.length = static_cast<uint32_t>(text.size());
  } else {
    at = static_cast<size_t>(p.start) + p.length - p.endTagLen;
    const bool lineStart = at > static_cast<size_t>(p.start) + p.startTagLen && m_doc[at - 1] == L'\n';
    text = (lineStart ? L"" : L"\r\n") + elem + L"\r\n";
    elemOffset = lineStart ? 0 : 2;
  }
  if (m_doc.size() - replaced + text.size() > kMaxDocLength) return x.DropLast(), false;

  const size_t oldEnd = at + replaced;
  const uint32_t delta = static_cast<uint32_t>(text.size() - replaced);
  m_doc.replace(at, replaced, text);
  // Records after the edit move; the elements that contain it grow.
  for (uint32_t k = 1; k < i; ++k) {
    Impl::Node& n = x.At(k);
    if (n.start >= oldEnd) n.start += delta;
  }
  for (uint32_t a = growFrom;; a = x.At(a).parent) {
    x.At(a).length += delta;
    if (!a) break;
  }

  Impl::Node& n = x.At(i);
  n.start = static_cast<uint32_t>(at + elemOffset);
  n.length = static_cast<uint32_t>(elem.size());
  n.startTagLen = static_cast<uint32_t>(startTagLen);
  n.endTagLen = static_cast<uint32_t>(endTagLen);
  n.flags = hasData ? 0 : kEmptyTag;
  n.level = parent ? x.At(parent).level + 1 : 0;
  if (before) {
    x.InsertAfter(before, i);
  } else {
    x.AppendChild(parent, i);
  }
  x.iPosParent = parent;
  x.iPos = i;
  x.iPosChild = 0;
  return true;
}

bool XmlDocument::ReadTextFile(const std::string& path, std::wstring& text, std::wstring& result) {
  text.clear();
  std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(path.c_str(), "rb"), &std::fclose);
  if (!f) {
    result = ErrnoText(errno);
    return false;
  }
  std::string bytes;
  char buf[65536];
  size_t got;
  while ((got = std::fread(buf, 1, sizeof(buf), f.get())) > 0) bytes.append(buf, got);
  if (std::ferror(f.get())) {
    result = ErrnoText(errno);
    return false;
  }
  text = plat::Utf8ToWide(bytes);
  result = std::to_wstring(bytes.size()) + L" bytes to " + std::to_wstring(text.size()) + L" wide chars";
  return true;
}

bool XmlDocument::WriteTextFile(const std::string& path, const std::wstring& text, std::wstring& result) {
  FILE* raw = std::fopen(path.c_str(), "wb");
  if (!raw) {
    result = ErrnoText(errno);
    return false;
  }
  const std::string bytes = plat::WideToUtf8(text);
  result = std::to_wstring(text.size()) + L" wide chars to " + std::to_wstring(bytes.size()) + L" bytes";
  errno = 0;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), raw) == bytes.size();
  int err = errno;
  // Buffered bytes meet a full disk only when the file is closed.
  const bool closed = std::fclose(raw) == 0;
  if (!closed && !err) err = errno;
  if (written && closed) return true;
  result += L", " + ErrnoText(err ? err : EIO);
  return false;
}

bool XmlDocument::GetChildText(XmlDocument& doc, const wchar_t* name, std::wstring& text) {
  doc.ResetChildPos();
  if (!doc.FindChildElem(name)) return false;
  doc.IntoElem();
  text = doc.GetData();
  doc.OutOfElem();
  return true;
}
