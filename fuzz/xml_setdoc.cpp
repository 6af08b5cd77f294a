// Feeds arbitrary bytes to the XML reader as a UTF-8 document, then walks, reads and writes
// it. Besides crashes it traps when the index edited by AddElem disagrees with a fresh parse
// of the text AddElem produced.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "config/XmlDocument.h"
#include "platform/TextConv.h"

namespace {

constexpr int kMaxSteps = 4000;

// Depth-first: tag names, data and one attribute of every element, a bounded number of them.
std::wstring Walk(XmlDocument& doc) {
  doc.ResetPos();
  std::wstring out;
  int depth = 0;
  bool found = doc.FindElem();
  for (int steps = 0; steps < kMaxSteps; ++steps) {
    if (found) {
      out += std::to_wstring(depth) + L"<" + doc.GetTagName() + L" " + doc.GetAttrib(L"a") + L">" +
             doc.GetData() + L"\n";
      doc.IntoElem();
      ++depth;
      found = doc.FindElem();
      continue;
    }
    if (depth == 0) break;
    doc.OutOfElem();
    --depth;
    found = doc.FindElem();
  }
  return out;
}

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::wstring text = plat::Utf8ToWide(std::string_view(reinterpret_cast<const char*>(data), size));
  // The first byte picks the case rule, so both comparisons are covered.
  const int flags = size > 0 && (data[0] & 1) ? 8 : 0;
  XmlDocument doc;
  doc.SetDocFlags(flags);
  const bool wellFormed = doc.SetDoc(text);
  Check(doc.GetDoc() == text);
  Check(wellFormed == doc.GetResult().empty());

  Walk(doc);
  doc.ResetPos();
  if (doc.FindElem()) {
    doc.FindChildElem(L"a");
    std::wstring child;
    XmlDocument::GetChildText(doc, L"b", child);
    doc.GetAttrib(L"b");
    doc.GetAttrib(L"");
  }
  doc.FindElem(L"a[1]");

  // Writes: into the first element's first child, after it, at the end of the root and at
  // the top level; each new element must read back as written.
  struct Add {
    const wchar_t* name;
    const wchar_t* data;
  };
  static const Add kAdds[] = {{L"n", L"1 < 2 & 3 > 0"}, {L"e", nullptr}, {L"m", L"&amp;"}};
  doc.ResetPos();
  if (doc.FindElem()) {
    if (doc.FindChildElem()) {
      doc.IntoElem();
      doc.IntoElem();
      for (const Add& a : kAdds) {
        Check(doc.AddElem(a.name, a.data));
        Check(doc.GetTagName() == a.name);
        Check(doc.GetData() == (a.data ? a.data : L""));
      }
      doc.OutOfElem();
      Check(doc.AddElem(L"s", L"sib"));
      doc.OutOfElem();
    }
    doc.IntoElem();
    Check(doc.AddElem(L"t", L"tail"));
    Check(doc.GetData() == L"tail");
    doc.OutOfElem();
  }
  if (wellFormed) {
    // The edited index and a fresh parse must describe the same elements.
    XmlDocument fresh;
    fresh.SetDocFlags(flags);
    fresh.SetDoc(doc.GetDoc());
    Check(fresh.GetResult().empty());
    Check(Walk(doc) == Walk(fresh));
  }
  doc.ResetPos();
  Check(doc.AddElem(L"top", L"x"));
  return 0;
}
