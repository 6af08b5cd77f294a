#include "platform/ResourceBundle.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "support/Sandbox.h"

namespace {

using plat::Resource;
using plat::ResourceBundle;

const std::string kExe = std::string("\x7f" "ELF fake executable body\0with a zero", 37);

std::vector<Resource> SampleEntries() {
  return {
      {"XML", 106, "<Product><ProductName>Demo</ProductName></Product>"},
      {"XML", 131, "<Lang/>"},
      {"ZIPRES", 133, std::string("PK\x03\x04\0\0binary\xff", 14)},
      {"VERSION", 1, "1.2.3.4"},
      {"EMPTY", 7, ""},
  };
}

uint64_t GetLe(const std::string& s, size_t pos, int bytes) {
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(s[pos + static_cast<size_t>(i)]);
  return v;
}

void SetLe(std::string& s, size_t pos, int bytes, uint64_t v) {
  for (int i = 0; i < bytes; ++i) s[pos + static_cast<size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

class ResourceBundleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_box.WriteFile("exe", kExe);
    std::string error;
    ASSERT_TRUE(ResourceBundle::Write(Exe(), SampleEntries(), Packed(), error)) << error;
    m_packed = m_box.ReadFile("packed");
  }
  std::string Exe() const { return m_box.Path("exe"); }
  std::string Packed() const { return m_box.Path("packed"); }

  // Positions inside the packed file.
  size_t TrailerPos() const { return m_packed.size() - 32; }
  size_t BundleStart() const { return static_cast<size_t>(GetLe(m_packed, TrailerPos(), 8)); }
  size_t IndexPos() const { return BundleStart() + static_cast<size_t>(GetLe(m_packed, TrailerPos() + 8, 8)); }
  // First index entry ("XML", 3 bytes of type): u16 length, type, u32 id, u64 offset, u64 size.
  size_t FirstOffsetPos() const { return IndexPos() + 2 + 3 + 4; }
  size_t FirstSizePos() const { return FirstOffsetPos() + 8; }

  qevtest::Sandbox m_box;
  std::string m_packed;
};

TEST_F(ResourceBundleTest, Load_RoundTripsEveryEntry) {
  ResourceBundle b;
  ASSERT_TRUE(b.Load(Packed()));
  const std::vector<Resource> want = SampleEntries();
  ASSERT_EQ(b.Entries().size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(b.Entries()[i].type, want[i].type);
    EXPECT_EQ(b.Entries()[i].id, want[i].id);
    EXPECT_EQ(b.Entries()[i].bytes, want[i].bytes);
  }
  ASSERT_NE(b.Find("ZIPRES", 133), nullptr);
  EXPECT_EQ(b.Find("ZIPRES", 133)->bytes, want[2].bytes);
  EXPECT_EQ(b.Find("XML", 133), nullptr);
  EXPECT_EQ(b.Find("xml", 106), nullptr);
  EXPECT_EQ(m_packed.substr(0, kExe.size()), kExe);
}

TEST_F(ResourceBundleTest, Write_OutputIsExecutable) {
  struct stat st;
  ASSERT_EQ(stat(Packed().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0755u);
}

TEST_F(ResourceBundleTest, Write_EmptyListGivesValidEmptyBundle) {
  std::string error;
  ASSERT_TRUE(ResourceBundle::Write(Exe(), {}, m_box.Path("empty"), error)) << error;
  ResourceBundle b;
  EXPECT_TRUE(b.Load(m_box.Path("empty")));
  EXPECT_TRUE(b.Entries().empty());
}

TEST_F(ResourceBundleTest, Write_RepackReplacesTheOldBundle) {
  std::string error;
  const std::vector<Resource> second = {{"XML", 106, "<other/>"}};
  ASSERT_TRUE(ResourceBundle::Write(Packed(), second, m_box.Path("repacked"), error)) << error;
  ResourceBundle b;
  ASSERT_TRUE(b.Load(m_box.Path("repacked")));
  ASSERT_EQ(b.Entries().size(), 1u);
  EXPECT_EQ(b.Entries()[0].bytes, "<other/>");

  // Same bytes as packing the bare executable: nothing of the first bundle is left.
  ASSERT_TRUE(ResourceBundle::Write(Exe(), second, m_box.Path("direct"), error)) << error;
  EXPECT_EQ(m_box.ReadFile("repacked"), m_box.ReadFile("direct"));
}

TEST_F(ResourceBundleTest, Write_OverItsOwnInput) {
  std::string error;
  ASSERT_TRUE(ResourceBundle::Write(Packed(), {{"VERSION", 1, "9.8.7.6"}}, Packed(), error)) << error;
  int v[4] = {};
  ASSERT_TRUE(plat::ReadFileVersion(Packed(), v));
  EXPECT_EQ(v[0], 9);
  EXPECT_EQ(v[3], 6);
  EXPECT_EQ(m_box.ReadFile("packed").substr(0, kExe.size()), kExe);
}

TEST_F(ResourceBundleTest, Write_FailsOnMissingExecutableOrFolder) {
  std::string error;
  EXPECT_FALSE(ResourceBundle::Write(m_box.Path("nope"), {}, m_box.Path("out"), error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(ResourceBundle::Write(Exe(), {}, m_box.Path("no/such/folder/out"), error));
  EXPECT_FALSE(error.empty());
}

TEST_F(ResourceBundleTest, Load_PlainFileAndMissingFileHaveNoResources) {
  ResourceBundle b;
  EXPECT_FALSE(b.Load(Exe()));
  EXPECT_FALSE(b.Load(m_box.Path("missing")));
  EXPECT_FALSE(b.Load(m_box.Root()));
  EXPECT_TRUE(b.Entries().empty());
}

TEST_F(ResourceBundleTest, Load_DamagedBundlesHaveNoResources) {
  const size_t trailer = TrailerPos();
  const size_t index = IndexPos();
  const size_t start = BundleStart();
  const uint64_t indexOffset = index - start;
  const uint32_t count = static_cast<uint32_t>(SampleEntries().size());
  const size_t offPos = FirstOffsetPos();
  const size_t sizePos = FirstSizePos();
  const uint64_t kMax = ~0ull;

  struct Case {
    std::string name;
    std::function<void(std::string&)> apply;
  };
  const std::vector<Case> cases = {
      {"empty file", [](std::string& s) { s.clear(); }},
      {"shorter than trailer", [](std::string& s) { s.resize(31); }},
      {"cut last byte", [](std::string& s) { s.pop_back(); }},
      {"trailer cut off", [&](std::string& s) { s.resize(trailer); }},
      {"cut in index", [&](std::string& s) { s.resize(index + 5); }},
      {"cut in entries", [&](std::string& s) { s.resize(start + 10); }},
      {"bad magic", [&](std::string& s) { s[trailer + 24] = 'X'; }},
      {"magic without zero", [&](std::string& s) { s[trailer + 31] = '!'; }},
      {"version 0", [&](std::string& s) { SetLe(s, trailer + 20, 4, 0); }},
      {"version 2", [&](std::string& s) { SetLe(s, trailer + 20, 4, 2); }},
      {"bundle start at trailer+1", [&](std::string& s) { SetLe(s, trailer, 8, trailer + 1); }},
      {"bundle start huge", [&](std::string& s) { SetLe(s, trailer, 8, kMax); }},
      {"index offset past trailer", [&](std::string& s) { SetLe(s, trailer + 8, 8, trailer - start + 1); }},
      {"index offset huge", [&](std::string& s) { SetLe(s, trailer + 8, 8, kMax - 3); }},
      {"index starts inside entries", [&](std::string& s) { SetLe(s, trailer + 8, 8, indexOffset - 3); }},
      {"count huge", [&](std::string& s) { SetLe(s, trailer + 16, 4, 0xFFFFFFFFu); }},
      {"count one more", [&](std::string& s) { SetLe(s, trailer + 16, 4, count + 1); }},
      {"count one less", [&](std::string& s) { SetLe(s, trailer + 16, 4, count - 1); }},
      {"type length huge", [&](std::string& s) { SetLe(s, index, 2, 0xFFFF); }},
      {"type length past index", [&](std::string& s) { SetLe(s, index, 2, trailer - index - 10); }},
      {"entry size huge", [&](std::string& s) { SetLe(s, sizePos, 8, kMax); }},
      {"entry size into index", [&](std::string& s) { SetLe(s, sizePos, 8, indexOffset + 1); }},
      {"entry offset huge", [&](std::string& s) { SetLe(s, offPos, 8, kMax - 100); }},
      {"entry offset at index", [&](std::string& s) { SetLe(s, offPos, 8, indexOffset); SetLe(s, sizePos, 8, 1); }},
      {"offset plus size overflows",
       [&](std::string& s) {
         SetLe(s, offPos, 8, kMax - 7);
         SetLe(s, sizePos, 8, 16);
       }},
      {"entries overlap beyond the area",
       [&](std::string& s) {
         // Every entry claims the whole entry area: reading them would take count times it.
         size_t p = index;
         for (uint32_t i = 0; i < count; ++i) {
           const size_t typeLen = static_cast<size_t>(GetLe(s, p, 2));
           SetLe(s, p + 2 + typeLen + 4, 8, 0);
           SetLe(s, p + 2 + typeLen + 12, 8, indexOffset);
           p += 2 + typeLen + 20;
         }
       }},
      {"junk between index and trailer",
       [&](std::string& s) {
         s.insert(trailer, "junk");
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string bytes = m_packed;
    c.apply(bytes);
    ASSERT_NE(bytes, m_packed);
    m_box.WriteFile("damaged", bytes);
    ResourceBundle b;
    b.Add({"STALE", 1, "left from before"});
    EXPECT_FALSE(b.Load(m_box.Path("damaged")));
    EXPECT_TRUE(b.Entries().empty());
    int v[4];
    EXPECT_FALSE(plat::ReadFileVersion(m_box.Path("damaged"), v));
  }
}

TEST_F(ResourceBundleTest, Write_DamagedBundleIsCutAtItsStart) {
  // The index is damaged but the trailer still says where the bundle starts.
  std::string bytes = m_packed;
  SetLe(bytes, TrailerPos() + 16, 4, 0xFFFFFFFFu);
  m_box.WriteFile("damaged", bytes);
  std::string error;
  ASSERT_TRUE(ResourceBundle::Write(m_box.Path("damaged"), {{"XML", 106, "x"}}, m_box.Path("fixed"), error));
  ASSERT_TRUE(ResourceBundle::Write(Exe(), {{"XML", 106, "x"}}, m_box.Path("direct"), error));
  EXPECT_EQ(m_box.ReadFile("fixed"), m_box.ReadFile("direct"));
}

TEST(ResourceBundleOwn, TestingOverrideIsUsedAndCleared) {
  ResourceBundle fake;
  fake.Add({"VERSION", 1, "5.6.7.8"});
  ResourceBundle::SetOwnForTesting(&fake);
  ASSERT_NE(ResourceBundle::Own().Find("VERSION", 1), nullptr);
  ResourceBundle::SetOwnForTesting(nullptr);
  // This test program carries no bundle.
  EXPECT_EQ(ResourceBundle::Own().Find("VERSION", 1), nullptr);
  EXPECT_EQ(&ResourceBundle::Own(), &ResourceBundle::Own());
}

TEST(ParseVersionResource, Table) {
  struct Case {
    const char* text;
    bool ok;
    int v[4];
  };
  const Case cases[] = {
      {"1.2.3.4", true, {1, 2, 3, 4}},
      {"0.0.0.0", true, {0, 0, 0, 0}},
      {"65535.65535.65535.65535", true, {65535, 65535, 65535, 65535}},
      {"4.5.14.0", true, {4, 5, 14, 0}},
      {"01.002.3.4", true, {1, 2, 3, 4}},
      {"65536.0.0.0", false, {}},
      {"1.2.3.65536", false, {}},
      {"99999999999999999999.1.1.1", false, {}},
      {"1.2.3", false, {}},
      {"1.2.3.4.5", false, {}},
      {"", false, {}},
      {"...", false, {}},
      {"1..3.4", false, {}},
      {"1.2.3.", false, {}},
      {".1.2.3", false, {}},
      {"a.b.c.d", false, {}},
      {"-1.2.3.4", false, {}},
      {"+1.2.3.4", false, {}},
      {" 1.2.3.4", false, {}},
      {"1.2.3.4 ", false, {}},
      {"1.2.3.4\n", false, {}},
      {"1,2,3,4", false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    int v[4] = {-7, -7, -7, -7};
    EXPECT_EQ(plat::ParseVersionResource(c.text, v), c.ok);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(v[i], c.ok ? c.v[i] : -7);
  }
  int v[4] = {};
  EXPECT_FALSE(plat::ParseVersionResource(std::string("1.2.3.4\0", 8), v));
}

// qev-pack, run as the program it is.
class QevPackTest : public ::testing::Test {
 protected:
  qevtest::RunResult Pack(std::vector<std::string> args) {
    args.insert(args.begin(), qevtest::BinPath("qev-pack"));
    return qevtest::RunProgram(args);
  }
  qevtest::Sandbox m_box;
};

TEST_F(QevPackTest, PacksAndListsEveryKindOfResource) {
  m_box.WriteFile("product.xml", "<Product/>");
  m_box.WriteFile("lang.xml", "<Lang>abc</Lang>");
  m_box.WriteFile("skin.zip", std::string(1000, 'z'));
  m_box.WriteFile("checker", "EXEBYTES");
  const std::string out = m_box.Path("installer");
  const auto r = Pack({"--exe", qevtest::BinPath("qev-pack"), "--out", out, "--product", m_box.Path("product.xml"),
                       "--lang", m_box.Path("lang.xml"), "--skin", m_box.Path("skin.zip"), "--version", "4.6.1.20",
                       "--resource", "EXE:105=" + m_box.Path("checker")});
  ASSERT_EQ(r.exitCode, 0) << r.err;

  ResourceBundle b;
  ASSERT_TRUE(b.Load(out));
  ASSERT_NE(b.Find("XML", 106), nullptr);
  EXPECT_EQ(b.Find("XML", 106)->bytes, "<Product/>");
  EXPECT_EQ(b.Find("XML", 131)->bytes, "<Lang>abc</Lang>");
  EXPECT_EQ(b.Find("ZIPRES", 133)->bytes.size(), 1000u);
  EXPECT_EQ(b.Find("EXE", 105)->bytes, "EXEBYTES");
  int v[4] = {};
  ASSERT_TRUE(plat::ReadFileVersion(out, v));
  EXPECT_EQ(v[0], 4);
  EXPECT_EQ(v[1], 6);
  EXPECT_EQ(v[2], 1);
  EXPECT_EQ(v[3], 20);

  // The packed copy still runs: it lists its own bundle.
  const auto list = qevtest::RunProgram({out, "--list", out});
  ASSERT_EQ(list.exitCode, 0) << list.err;
  EXPECT_EQ(list.out, "XML 106 10\nXML 131 16\nZIPRES 133 1000\nVERSION 1 8\nEXE 105 8\n");
}

TEST_F(QevPackTest, RepackReplacesAndLaterOptionWins) {
  m_box.WriteFile("a.xml", "first");
  m_box.WriteFile("b.xml", "second!");
  ASSERT_EQ(Pack({"--exe", qevtest::BinPath("qev-pack"), "--out", m_box.Path("one"), "--product", m_box.Path("a.xml"),
                  "--version", "1.0.0.0"})
                .exitCode,
            0);
  const auto r = Pack({"--exe", m_box.Path("one"), "--out", m_box.Path("two"), "--product", m_box.Path("a.xml"),
                       "--resource", "XML:106=" + m_box.Path("b.xml")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const auto list = Pack({"--list", m_box.Path("two")});
  EXPECT_EQ(list.exitCode, 0);
  EXPECT_EQ(list.out, "XML 106 7\n");
}

TEST_F(QevPackTest, ExitCodes) {
  m_box.WriteFile("exe", "plain");
  m_box.WriteFile("x.xml", "<x/>");
  const std::string exe = m_box.Path("exe");
  const std::string out = m_box.Path("out");
  struct Case {
    std::vector<std::string> args;
    int code;
  };
  const std::vector<Case> cases = {
      {{}, 2},
      {{"--exe", exe}, 2},
      {{"--out", out}, 2},
      {{"--exe", exe, "--out"}, 2},
      {{"--exe", exe, "--out", out, "--bogus", "1"}, 2},
      {{"--exe", exe, "--out", out, "--version", "1.2.3"}, 2},
      {{"--exe", exe, "--out", out, "--version", "1.2.3.70000"}, 2},
      {{"--exe", exe, "--out", out, "--resource", "XML106=" + exe}, 2},
      {{"--exe", exe, "--out", out, "--resource", ":106=" + exe}, 2},
      {{"--exe", exe, "--out", out, "--resource", "XML:abc=" + exe}, 2},
      {{"--exe", exe, "--out", out, "--resource", "XML:4294967296=" + exe}, 2},
      {{"--exe", exe, "--out", out, "--resource", "XML:106="}, 2},
      {{"--list", exe, "--exe", exe}, 2},
      {{"--exe", m_box.Path("missing"), "--out", out}, 1},
      {{"--exe", exe, "--out", out, "--product", m_box.Path("missing.xml")}, 1},
      {{"--exe", exe, "--out", out, "--lang", m_box.Root()}, 1},
      {{"--exe", exe, "--out", m_box.Path("no/folder/out")}, 1},
      {{"--list", exe}, 1},
      {{"--list", m_box.Path("missing")}, 1},
      {{"--help"}, 0},
      {{"--exe", exe, "--out", out, "--resource", "XML:4294967295=" + m_box.Path("x.xml")}, 0},
      {{"--list", out}, 0},
  };
  for (const Case& c : cases) {
    std::string joined;
    for (const auto& a : c.args) joined += a + " ";
    SCOPED_TRACE(joined);
    const auto r = Pack(c.args);
    EXPECT_EQ(r.exitCode, c.code) << r.err;
    if (c.code != 0) {
      EXPECT_FALSE(r.err.empty());
    }
  }
}

}  // namespace
