#include "config/XmlDocument.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/TextConv.h"
#include "support/Sandbox.h"

namespace {

std::string Narrow(const std::wstring& w) { return plat::WideToUtf8(w); }

// Every element depth first: indentation, tag name, data; the same walk over the index
// that was edited in place and over a fresh parse of its text must agree.
std::wstring Walk(XmlDocument& doc) {
  doc.ResetPos();
  std::wstring out;
  size_t depth = 0;
  bool found = doc.FindElem();
  for (;;) {
    if (found) {
      out += std::wstring(depth, L' ') + doc.GetTagName() + L"=" + doc.GetData() + L"\n";
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

void ExpectIndexMatchesText(XmlDocument& edited) {
  XmlDocument fresh(edited.GetDoc());
  EXPECT_EQ(Narrow(Walk(edited)), Narrow(Walk(fresh))) << Narrow(edited.GetDoc());
}

// ---- navigation ----

TEST(XmlDocument, NavigationThroughParentCurrentAndChild) {
  XmlDocument doc(L"<root><a id='1'>x</a><b/><a id='2'>y</a></root>");
  EXPECT_TRUE(doc.FindElem(L"root"));
  EXPECT_FALSE(doc.FindElem(L"root"));  // no sibling: position unchanged
  EXPECT_EQ(doc.GetTagName(), L"root");

  ASSERT_TRUE(doc.FindChildElem(L"a"));
  EXPECT_EQ(doc.GetTagName(), L"root");  // the child position moved, not the current one
  ASSERT_TRUE(doc.IntoElem());
  EXPECT_EQ(doc.GetAttrib(L"id"), L"1");
  EXPECT_EQ(doc.GetData(), L"x");
  ASSERT_TRUE(doc.OutOfElem());
  EXPECT_EQ(doc.GetTagName(), L"root");

  ASSERT_TRUE(doc.FindChildElem(L"a"));  // continues after the old child
  doc.IntoElem();
  EXPECT_EQ(doc.GetAttrib(L"id"), L"2");
  doc.OutOfElem();
  EXPECT_FALSE(doc.FindChildElem(L"a"));

  doc.ResetChildPos();
  EXPECT_TRUE(doc.FindChildElem(L"b"));
  EXPECT_FALSE(doc.FindChildElem(L"b"));
  doc.ResetChildPos();
  EXPECT_TRUE(doc.FindChildElem());  // any element: the first a
  doc.IntoElem();
  EXPECT_EQ(doc.GetData(), L"x");
  EXPECT_TRUE(doc.FindElem());  // next sibling, whatever its name
  EXPECT_EQ(doc.GetTagName(), L"b");
  EXPECT_FALSE(doc.IntoElem() && doc.FindElem());  // b has no children

  doc.ResetPos();
  EXPECT_FALSE(doc.OutOfElem());  // no parent position
  EXPECT_FALSE(doc.IntoElem());   // no current position
  EXPECT_EQ(doc.GetTagName(), L"");
  EXPECT_EQ(doc.GetData(), L"");
  EXPECT_TRUE(doc.FindChildElem(L"b"));  // finds root first
  EXPECT_EQ(doc.GetTagName(), L"root");
}

TEST(XmlDocument, FindElemOnEmptyIndexFails) {
  XmlDocument empty;
  EXPECT_FALSE(empty.FindElem());
  EXPECT_FALSE(empty.FindChildElem());
  XmlDocument noRoot(L"<?xml version=\"1.0\"?>");
  EXPECT_FALSE(noRoot.FindElem());
  EXPECT_FALSE(noRoot.FindChildElem());
}

TEST(XmlDocument, IntoElemWithoutChildThenFindElemSearchesChildren) {
  XmlDocument doc(L"<r><x/><y/></r>");
  ASSERT_TRUE(doc.FindElem());
  ASSERT_TRUE(doc.IntoElem());  // current becomes the (empty) child position
  EXPECT_EQ(doc.GetTagName(), L"");
  EXPECT_TRUE(doc.FindElem(L"y"));
  EXPECT_TRUE(doc.OutOfElem());
  EXPECT_EQ(doc.GetTagName(), L"r");
  // The old current is now the child position: FindChildElem continues after it.
  EXPECT_FALSE(doc.FindChildElem(L"x"));
}

TEST(XmlDocument, TagNameMatching) {
  struct Case {
    const wchar_t* tag;
    const wchar_t* name;
    int flags;
    bool match;
  } cases[] = {
      {L"item", L"item", 0, true},      {L"items", L"item", 0, false},  {L"item", L"items", 0, false},
      {L"item", L"ite", 0, false},      {L"item", L"item[2]", 0, true}, {L"item", L"item/sub", 0, true},
      {L"item", L"item x", 0, true},    {L"item", L"item=1", 0, true},  {L"item", L"item]", 0, true},
      {L"Item", L"item", 0, false},     {L"Item", L"item", 8, true},    {L"ITEMS", L"item", 8, false},
      {L"item", nullptr, 0, true},      {L"item", L"", 0, true},        {L"a:b", L"a:b", 0, true},
      {L"a:b", L"a", 0, false},         {L"x.y-z", L"x.y-z", 0, true},  {L"é", L"é", 0, true},
  };
  for (const Case& c : cases) {
    XmlDocument doc;
    doc.SetDocFlags(c.flags);
    ASSERT_TRUE(doc.SetDoc(L"<root><" + std::wstring(c.tag) + L" attr='1'/></root>")) << Narrow(c.tag);
    ASSERT_TRUE(doc.FindElem(L"root"));
    EXPECT_EQ(doc.FindChildElem(c.name), c.match)
        << Narrow(c.tag) << " vs " << (c.name ? Narrow(c.name) : "null") << " flags " << c.flags;
  }
}

TEST(XmlDocument, EndTagsMatchCaseByFlag) {
  XmlDocument strict(L"<a></A>");
  EXPECT_NE(strict.GetResult(), L"");
  XmlDocument folded;
  folded.SetDocFlags(8);
  EXPECT_TRUE(folded.SetDoc(L"<a></A>"));
  EXPECT_EQ(folded.GetResult(), L"");
}

// ---- reading text and attributes ----

TEST(XmlDocument, UnescapingInDataAndAttributes) {
  struct Case {
    const wchar_t* escaped;
    std::wstring plain;
  } cases[] = {
      {L"x &#65; &#x42; &foo; &#;", L"x A B &foo; &#;"},
      {L"&lt;&amp;&gt;&apos;&quot;", L"<&>'\""},
      {L"&amp;lt;", L"&lt;"},
      {L"&&lt;", L"&<"},
      {L"&LT; &Amp;", L"&LT; &Amp;"},
      {L"&lt", L"&lt"},
      {L"&#1234567;", std::wstring(1, static_cast<wchar_t>(1234567))},
      {L"&#12345678;", L"&#12345678;"},  // more than seven digits
      {L"&#x1F600;", std::wstring(1, static_cast<wchar_t>(0x1F600))},
      {L"&#xfFfFfFf;", std::wstring(1, static_cast<wchar_t>(0xFFFFFFF))},
      {L"&#x10000000;", L"&#x10000000;"},
      {L"&#0;", L"&#0;"},
      {L"&#x0;", L"&#x0;"},
      {L"&#0000065;", L"A"},
      {L"&#x;", L"&#x;"},
      {L"&#X41;", L"&#X41;"},
      {L"&#12a;", L"&#12a;"},
      {L"&#65", L"&#65"},
      {L"&#x4G;", L"&#x4G;"},
      {L"&", L"&"},
      {L"a&#10;b", L"a\nb"},
      {L"", L""},
  };
  for (const Case& c : cases) {
    XmlDocument doc(L"<a v=\"" + std::wstring(c.escaped) + L"\">" + c.escaped + L"</a>");
    ASSERT_TRUE(doc.FindElem());
    EXPECT_EQ(doc.GetData(), c.plain) << Narrow(c.escaped);
    EXPECT_EQ(doc.GetAttrib(L"v"), c.plain) << Narrow(c.escaped);
  }
}

TEST(XmlDocument, AttributeForms) {
  XmlDocument doc(L"<a x=\"1\" y='2' z=3 w = \"4\" v q=\"a>b\" r='say \"hi\"' s=last>text</a>");
  ASSERT_TRUE(doc.FindElem(L"a"));
  struct Case {
    const wchar_t* name;
    const wchar_t* value;
  } cases[] = {{L"x", L"1"},   {L"y", L"2"},       {L"z", L"3"},    {L"w", L"4"},
               {L"v", L""},    {L"q", L"a>b"},     {L"r", L"say \"hi\""}, {L"s", L"last"},
               {L"missing", L""}, {L"a", L""},     {L"X", L""}};
  for (const Case& c : cases) EXPECT_EQ(doc.GetAttrib(c.name), c.value) << Narrow(c.name);
  EXPECT_EQ(doc.GetData(), L"text");
  EXPECT_EQ(doc.GetAttrib(nullptr), L"");

  XmlDocument empty(L"<e k='v'/>");
  ASSERT_TRUE(empty.FindElem());
  EXPECT_EQ(empty.GetAttrib(L"k"), L"v");
  EXPECT_EQ(empty.GetData(), L"");

  XmlDocument folded;
  folded.SetDocFlags(8);
  folded.SetDoc(L"<e Key='v'/>");
  ASSERT_TRUE(folded.FindElem());
  EXPECT_EQ(folded.GetAttrib(L"key"), L"v");
}

TEST(XmlDocument, DataOfMixedContent) {
  struct Case {
    const wchar_t* doc;
    const wchar_t* data;
  } cases[] = {
      {L"<a>plain &amp; simple</a>", L"plain & simple"},
      {L"<a>  </a>", L"  "},
      {L"<a></a>", L""},
      {L"<a/>", L""},
      {L"<a>one<b>two</b>three</a>", L"onethree"},
      {L"<a><![CDATA[<raw>&amp;]]></a>", L"<raw>&amp;"},
      {L"<a>x<!-- <c>note</c> -->y<?pi z?>&lt;</a>", L"xy<"},
      {L"<a>\r\n  <b/>\r\n  <c>t</c>\r\n</a>", L""},
      {L"<a> lead <b/> tail </a>", L" lead  tail "},
      {L"<a><b><![CDATA[inner]]></b>out<![CDATA[]]></a>", L"out"},
      {L"<a>x<![CDATA]]>y</a>", L"xy"},  // a short section, read as the parser reads it
      {L"<a><!DOCTYPE q [<!ENTITY e '>'>]>t</a>", L"t"},
  };
  for (const Case& c : cases) {
    XmlDocument doc(c.doc);
    ASSERT_TRUE(doc.FindElem(L"a")) << Narrow(c.doc);
    EXPECT_EQ(doc.GetData(), c.data) << Narrow(c.doc);
  }
}

TEST(XmlDocument, GetChildText) {
  XmlDocument doc(L"<config><Status>1</Status><Empty/><Status>2</Status></config>");
  ASSERT_TRUE(doc.FindElem(L"config"));
  std::wstring text = L"unchanged";
  EXPECT_FALSE(XmlDocument::GetChildText(doc, L"Missing", text));
  EXPECT_EQ(text, L"unchanged");
  EXPECT_TRUE(XmlDocument::GetChildText(doc, L"Status", text));
  EXPECT_EQ(text, L"1");
  EXPECT_TRUE(XmlDocument::GetChildText(doc, L"Status", text));  // starts over each time
  EXPECT_EQ(text, L"1");
  EXPECT_TRUE(XmlDocument::GetChildText(doc, L"Empty", text));
  EXPECT_EQ(text, L"");
  EXPECT_EQ(doc.GetTagName(), L"config");
  EXPECT_TRUE(doc.FindChildElem(L"Status"));  // continues after the child last read
  doc.IntoElem();
  EXPECT_EQ(doc.GetData(), L"2");
}

// ---- writing ----

TEST(XmlDocument, FirstChildOfEmptyElementRewritesIt) {
  XmlDocument doc(L"<a/>");
  ASSERT_TRUE(doc.FindElem());
  ASSERT_TRUE(doc.IntoElem());
  EXPECT_TRUE(doc.AddElem(L"b", L"1"));
  EXPECT_EQ(doc.GetDoc(), L"<a>\r\n<b>1</b>\r\n</a>");
  EXPECT_EQ(doc.GetTagName(), L"b");
  EXPECT_EQ(doc.GetData(), L"1");
  EXPECT_TRUE(doc.OutOfElem());
  EXPECT_EQ(doc.GetTagName(), L"a");
  ExpectIndexMatchesText(doc);
}

TEST(XmlDocument, RunConfigurationForm) {
  XmlDocument doc(L"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
  EXPECT_EQ(doc.GetResult(), L"No root element");
  EXPECT_TRUE(doc.AddElem(L"config"));
  EXPECT_EQ(doc.GetDoc(), L"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<config/>\r\n");
  doc.IntoElem();
  doc.AddElem(L"Status", L"1");
  doc.AddElem(L"JoinExp", L"");
  doc.AddElem(L"SelectLang", L"中文");
  doc.AddElem(L"InstallPath", L"/opt/A&B<x>/");
  doc.AddElem(L"AgreeExtInstall", nullptr);
  doc.OutOfElem();
  EXPECT_EQ(doc.GetDoc(),
            L"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<config>\r\n<Status>1</Status>\r\n<JoinExp/>\r\n"
            L"<SelectLang>中文</SelectLang>\r\n<InstallPath>/opt/A&amp;B&lt;x&gt;/</InstallPath>\r\n"
            L"<AgreeExtInstall/>\r\n</config>\r\n");
  ExpectIndexMatchesText(doc);

  XmlDocument back(doc.GetDoc());
  EXPECT_TRUE(back.GetResult().empty());
  ASSERT_TRUE(back.FindElem(L"config"));
  std::wstring path;
  ASSERT_TRUE(XmlDocument::GetChildText(back, L"InstallPath", path));
  EXPECT_EQ(path, L"/opt/A&B<x>/");
}

TEST(XmlDocument, WriteForms) {
  struct Step {
    const wchar_t* name;
    const wchar_t* data;
  };
  struct Case {
    const wchar_t* start;
    const wchar_t* path;  // elements to enter before adding, "/" separated
    std::vector<Step> add;
    const wchar_t* expected;
  } cases[] = {
      {L"", L"", {{L"x", L""}}, L"<x/>\r\n"},
      {L"", L"", {{L"x", nullptr}, {L"y", L"1"}}, L"<x/>\r\n<y>1</y>\r\n"},
      {L"<a/>", L"a", {{L"b", nullptr}}, L"<a>\r\n<b/>\r\n</a>"},
      {L"<a x='1' />", L"a", {{L"b", nullptr}}, L"<a x='1'>\r\n<b/>\r\n</a>"},
      {L"<a></a>", L"a", {{L"b", L"2"}}, L"<a>\r\n<b>2</b>\r\n</a>"},
      {L"<a>\r\n</a>", L"a", {{L"b", L"2"}}, L"<a>\r\n<b>2</b>\r\n</a>"},
      {L"<a>text</a>", L"a", {{L"b", nullptr}}, L"<a>text\r\n<b/>\r\n</a>"},
      {L"<r>\r\n<a/>\r\n</r>", L"r", {{L"b", L"2"}, {L"c", nullptr}},
       L"<r>\r\n<a/>\r\n<b>2</b>\r\n<c/>\r\n</r>"},
      {L"<r>\r\n<a/>\r\n</r>\r\n", L"r/a", {{L"b", L"k"}}, L"<r>\r\n<a>\r\n<b>k</b>\r\n</a>\r\n</r>\r\n"},
      {L"<r><a><p/></a><z>Z</z></r>", L"r/a/p", {{L"q", L"Q"}},
       L"<r><a><p>\r\n<q>Q</q>\r\n</p></a><z>Z</z></r>"},
      {L"<x/>", L"", {{L"y", nullptr}}, L"<x/><y/>\r\n"},  // after the root, at the end
      {L"<k/>\r\n", L"", {{L"v", L"<&>\"'"}}, L"<k/>\r\n<v>&lt;&amp;&gt;\"'</v>\r\n"},
  };
  for (const Case& c : cases) {
    XmlDocument doc(c.start);
    std::wstring path = c.path;
    for (size_t at = 0; !path.empty();) {
      const size_t slash = path.find(L'/', at);
      const std::wstring name = path.substr(at, slash == std::wstring::npos ? std::wstring::npos : slash - at);
      ASSERT_TRUE(doc.FindElem(name.c_str())) << Narrow(c.start) << " " << Narrow(name);
      if (slash == std::wstring::npos) break;
      doc.IntoElem();
      at = slash + 1;
    }
    if (!path.empty()) doc.IntoElem();
    for (const Step& s : c.add) {
      EXPECT_TRUE(doc.AddElem(s.name, s.data));
      EXPECT_EQ(doc.GetTagName(), s.name);
      EXPECT_EQ(doc.GetData(), s.data ? s.data : L"");
    }
    EXPECT_EQ(Narrow(doc.GetDoc()), Narrow(c.expected)) << Narrow(c.start);
    ExpectIndexMatchesText(doc);
  }
}

TEST(XmlDocument, AddElemAfterCurrentInTheMiddleKeepsFollowingOffsets) {
  XmlDocument doc(L"<r><a>1</a><c k='3'>3</c></r>");
  ASSERT_TRUE(doc.FindElem(L"r"));
  doc.IntoElem();
  ASSERT_TRUE(doc.FindElem(L"a"));
  ASSERT_TRUE(doc.AddElem(L"b", L"2"));
  EXPECT_EQ(doc.GetDoc(), L"<r><a>1</a><b>2</b>\r\n<c k='3'>3</c></r>");
  ASSERT_TRUE(doc.FindElem());
  EXPECT_EQ(doc.GetTagName(), L"c");
  EXPECT_EQ(doc.GetAttrib(L"k"), L"3");
  EXPECT_EQ(doc.GetData(), L"3");
  EXPECT_FALSE(doc.FindElem());
  EXPECT_EQ(Narrow(Walk(doc)), "r=\n a=1\n b=2\n c=3\n");
  ExpectIndexMatchesText(doc);
}

TEST(XmlDocument, ManyAddsKeepIndexAndTextInStep) {
  XmlDocument doc(L"<root/>");
  ASSERT_TRUE(doc.FindElem());
  doc.IntoElem();
  for (int i = 0; i < 50; ++i) {
    const std::wstring n = L"n" + std::to_wstring(i);
    doc.AddElem(n.c_str(), i % 3 ? n.c_str() : nullptr);
    if (i % 5 == 0) {
      doc.IntoElem();
      doc.AddElem(L"inner", L"&");
      doc.OutOfElem();
    }
  }
  ExpectIndexMatchesText(doc);
  XmlDocument back(doc.GetDoc());
  EXPECT_EQ(back.GetResult(), L"");
}

// ---- parse results ----

TEST(XmlDocument, ParseResults) {
  struct Case {
    const wchar_t* doc;
    bool ok;
    const wchar_t* result;
  } cases[] = {
      {L"<a/>", true, L""},
      {L"<?xml version=\"1.0\"?>\n<!DOCTYPE a [<!ELEMENT a ANY><!ATTLIST a x CDATA '>'>]>\n<!-- c -->"
       L"<a x=\"1>2\" y='/'><![CDATA[<]]><b/>t<?p?></a>\n<!-- end -->\n",
       true, L""},
      {L"<a><![CDATA]]><![Cx]]></a>", true, L""},
      {L"", false, L"Empty document"},
      {L"   ", false, L"No root element"},
      {L"<?xml version=\"1.0\"?>", false, L"No root element"},
      {L"<a></a><b/>", false, L"Root element has sibling"},
      {L"<a/><b/><c/>", false, L"Root element has sibling"},
      {L"</a>", false, L"No start tag for end tag 'a' at offset 0, No root element"},
      {L"<a></a></b>", false, L"No start tag for end tag 'b' at offset 7"},
      {L"<a></b></a>", false, L"End tag 'b' at offset 3 does not match start tag 'a' at offset 0"},
      {L"<a></b>", false,
       L"End tag 'b' at offset 3 does not match start tag 'a' at offset 0, Element 'a' at offset 0 not ended"},
      {L"<a><b></a>", false, L"Element 'b' at offset 3 not ended"},
      {L"<a><b><c></a>", false, L"Element 'c' at offset 6 not ended, Element 'b' at offset 3 not ended"},
      {L"<a>", false, L"Element 'a' at offset 0 not ended"},
      {L"<a><b c='1'", false, L"Element tag at offset 3 unterminated, Element 'a' at offset 0 not ended"},
      {L"<a x='>'", false, L"Element tag at offset 0 unterminated, No root element"},
      {L"<a></a", false, L"Element end tag at offset 3 unterminated, Element 'a' at offset 0 not ended"},
      {L"<a><![CDATA[x</a>", false, L"CDATA Section at offset 3 unterminated, Element 'a' at offset 0 not ended"},
      {L"<a><?pi x</a>", false, L"Processing instruction at offset 3 unterminated, Element 'a' at offset 0 not ended"},
      {L"<a><!-- x</a>", false, L"Comment at offset 3 unterminated, Element 'a' at offset 0 not ended"},
      {L"<!DOCTYPE a [ <!ENTITY x '>'> ]", false, L"Doctype at offset 0 unterminated, No root element"},
      {L"<a><", false, L"tag at offset 3 unterminated, Element 'a' at offset 0 not ended"},
      {L"<a><!", false, L"tag at offset 3 unterminated, Element 'a' at offset 0 not ended"},
      {L"<a>1 < 2</a>", false, L"Incorrect tag name character at offset 5"},
      {L"<a><1/></a>", false, L"Incorrect tag name character at offset 3"},
      {L"<a><!x></a>", false, L"Incorrect ! tag at offset 3"},
      {L"<a><!-x></a>", false, L"Incorrect comment tag at offset 3"},
      {L"<a><![x></a>", false, L"Incorrect tag at offset 3"},
      {L"x</a><b>", false,
       L"No start tag for end tag 'a' at offset 1, Element 'b' at offset 5 not ended"},
  };
  for (const Case& c : cases) {
    XmlDocument doc;
    EXPECT_EQ(doc.SetDoc(c.doc), c.ok) << Narrow(c.doc);
    EXPECT_EQ(Narrow(doc.GetResult()), Narrow(c.result)) << Narrow(c.doc);
  }
  XmlDocument fromNull(static_cast<const wchar_t*>(nullptr));
  EXPECT_EQ(fromNull.GetResult(), L"Empty document");
  EXPECT_EQ(fromNull.GetDoc(), L"");
}

TEST(XmlDocument, BrokenDocumentsStayNavigable) {
  XmlDocument doc(L"<a><b k='v'>text<c>deep</a><d>after</d>");
  EXPECT_EQ(doc.GetResult(),
            L"Element 'c' at offset 16 not ended, Element 'b' at offset 3 not ended, Root element has sibling");
  ASSERT_TRUE(doc.FindElem(L"a"));
  ASSERT_TRUE(doc.FindChildElem(L"b"));
  doc.IntoElem();
  EXPECT_EQ(doc.GetAttrib(L"k"), L"v");
  EXPECT_EQ(doc.GetData(), L"text");
  ASSERT_TRUE(doc.FindChildElem(L"c"));
  doc.IntoElem();
  EXPECT_EQ(doc.GetData(), L"deep");  // closed where </a> stands
  doc.OutOfElem();
  doc.OutOfElem();
  ASSERT_TRUE(doc.FindElem(L"d"));
  EXPECT_EQ(doc.GetData(), L"after");
  // Writing into a broken index is still consistent with its text.
  doc.ResetPos();
  doc.FindElem(L"a");
  doc.IntoElem();
  doc.FindElem(L"b");
  doc.IntoElem();
  doc.AddElem(L"n", L"1");
  EXPECT_EQ(doc.GetDoc(), L"<a><b k='v'>text<c>deep<n>1</n>\r\n</a><d>after</d>");
}

// ---- files ----

TEST(XmlDocument, Utf8FileRoundTrip) {
  qevtest::Sandbox box;
  std::filesystem::create_directories(box.Path("/data"));
  const std::string path = box.Path("/data/doc.xml");
  std::wstring text = L"<a>é 中 ";
  text.push_back(static_cast<wchar_t>(0x1F600));
  text += L"</a>";
  std::wstring result;
  ASSERT_TRUE(XmlDocument::WriteTextFile(path, text, result));
  const std::string expected = "<a>\xC3\xA9 \xE4\xB8\xAD \xF0\x9F\x98\x80</a>";  // no byte-order mark
  EXPECT_EQ(result, L"12 wide chars to " + std::to_wstring(expected.size()) + L" bytes");
  EXPECT_EQ(box.ReadFile("/data/doc.xml"), expected);

  std::wstring back;
  ASSERT_TRUE(XmlDocument::ReadTextFile(path, back, result));
  EXPECT_EQ(back, text);
  EXPECT_EQ(result, std::to_wstring(expected.size()) + L" bytes to 12 wide chars");

  box.WriteFile("/data/bad.xml", "\xF8" "a\xC3");
  ASSERT_TRUE(XmlDocument::ReadTextFile(box.Path("/data/bad.xml"), back, result));
  EXPECT_EQ(back, L"?a?");
  EXPECT_EQ(result, L"3 bytes to 3 wide chars");

  box.WriteFile("/data/empty.xml", "");
  ASSERT_TRUE(XmlDocument::ReadTextFile(box.Path("/data/empty.xml"), back, result));
  EXPECT_EQ(result, L"0 bytes to 0 wide chars");
}

TEST(XmlDocument, FileFailuresReportTheSystemText) {
  qevtest::Sandbox box;
  const std::wstring noEntry = plat::Utf8ToWide(std::strerror(ENOENT));
  std::wstring text = L"kept", result;
  EXPECT_FALSE(XmlDocument::ReadTextFile(box.Path("/missing.xml"), text, result));
  EXPECT_EQ(result, noEntry);
  EXPECT_EQ(text, L"");
  EXPECT_FALSE(XmlDocument::WriteTextFile(box.Path("/no/such/folder/x.xml"), L"<a/>", result));
  EXPECT_EQ(result, noEntry);

  std::filesystem::create_directories(box.Path("/dir"));
  EXPECT_FALSE(XmlDocument::ReadTextFile(box.Path("/dir"), text, result));
  EXPECT_EQ(result, plat::Utf8ToWide(std::strerror(EISDIR)));

  struct stat st;
  if (stat("/dev/full", &st) == 0) {
    // A device that refuses every byte: the conversion text comes first.
    EXPECT_FALSE(XmlDocument::WriteTextFile("/dev/full", L"<a/>", result));
    EXPECT_EQ(result, L"4 wide chars to 4 bytes, " + plat::Utf8ToWide(std::strerror(ENOSPC)));
  }
}

// ---- size and depth ----

TEST(XmlDocument, DeepNestingParsesWithoutRecursion) {
  constexpr int kDepth = 100000;
  std::wstring text;
  for (int i = 0; i < kDepth; ++i) text += L"<a>";
  text += L"x";
  for (int i = 0; i < kDepth; ++i) text += L"</a>";
  XmlDocument doc;
  ASSERT_TRUE(doc.SetDoc(text));
  ASSERT_TRUE(doc.FindElem());
  for (int i = 1; i < kDepth; ++i) {
    ASSERT_TRUE(doc.FindChildElem(L"a"));
    doc.IntoElem();
  }
  EXPECT_FALSE(doc.FindChildElem());
  EXPECT_EQ(doc.GetData(), L"x");
  for (int i = 1; i < kDepth; ++i) ASSERT_TRUE(doc.OutOfElem());
  EXPECT_FALSE(doc.OutOfElem());

  // Nothing ended: every element is reported, the innermost first, and the result stays small.
  std::wstring open;
  for (int i = 0; i < kDepth; ++i) open += L"<a>";
  EXPECT_FALSE(doc.SetDoc(open));
  EXPECT_EQ(doc.GetResult().rfind(L"Element 'a' at offset 299997 not ended, Element 'a' at offset 299994", 0), 0u);
  EXPECT_LT(doc.GetResult().size(), 100000u);

  // End tags that match nothing open must not search the whole stack each time.
  std::wstring wrong = open;
  for (int i = 0; i < kDepth; ++i) wrong += L"</b>";
  EXPECT_FALSE(doc.SetDoc(wrong));
  // One outer end tag closes every open element at once.
  std::wstring outer = L"<z>" + open + L"</z>";
  EXPECT_FALSE(doc.SetDoc(outer));
  ASSERT_TRUE(doc.FindElem(L"z"));
  ASSERT_TRUE(doc.FindChildElem(L"a"));
}

TEST(XmlDocument, LargeDocument) {
  const std::wstring chunk = L"<item id=\"7\">text &amp; more</item>\r\n<empty n='1'/>\r\n";
  std::wstring text = L"<root>\r\n";
  text.reserve(10u * 1024 * 1024 + 1024);
  int items = 0;
  for (; text.size() < 10u * 1024 * 1024; ++items) text += chunk;
  text += L"<item id=\"last\">the &lt;end&gt;</item>\r\n</root>\r\n";
  ++items;
  XmlDocument doc;
  ASSERT_TRUE(doc.SetDoc(text));
  ASSERT_TRUE(doc.FindElem(L"root"));
  int seen = 0;
  while (doc.FindChildElem(L"item")) ++seen;
  EXPECT_EQ(seen, items);
  doc.IntoElem();  // the child position is the last item
  EXPECT_EQ(doc.GetAttrib(L"id"), L"last");
  EXPECT_EQ(doc.GetData(), L"the <end>");

  // Many distinct names, each opened and closed.
  std::wstring names = L"<r>";
  for (int i = 0; i < 100000; ++i) {
    const std::wstring n = std::to_wstring(i);
    names += L"<n" + n + L"></n" + n + L">";
  }
  names += L"</r>";
  EXPECT_TRUE(doc.SetDoc(names));
  EXPECT_EQ(doc.GetResult(), L"");
}

}  // namespace
