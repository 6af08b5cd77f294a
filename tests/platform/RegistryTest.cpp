#include "platform/Registry.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Diagnostics.h"
#include "platform/Folders.h"
#include "platform/TextConv.h"
#include "support/Sandbox.h"

namespace {

using plat::Hive;
using plat::Registry;
using plat::RegStatus;
using plat::RegType;
using plat::RegValue;
using plat::RegView;

// Collects what the platform layer reports while a test runs.
class DiagnosticCapture {
 public:
  DiagnosticCapture() {
    Lines().clear();
    plat::SetDiagnosticSink(&DiagnosticCapture::Sink);
  }
  ~DiagnosticCapture() { plat::SetDiagnosticSink(nullptr); }
  std::vector<std::string> Taken() {
    std::lock_guard<std::mutex> lock(Mutex());
    return Lines();
  }
  size_t CountContaining(const std::string& part) {
    size_t n = 0;
    for (const auto& l : Taken()) n += l.find(part) != std::string::npos;
    return n;
  }

 private:
  static std::mutex& Mutex() {
    static std::mutex m;
    return m;
  }
  static std::vector<std::string>& Lines() {
    static std::vector<std::string> lines;
    return lines;
  }
  static void Sink(int, const std::string& message) {
    std::lock_guard<std::mutex> lock(Mutex());
    Lines().push_back(message);
  }
};

// Sets an environment variable for one scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : m_name(name) {
    if (const char* old = std::getenv(name)) m_old = old;
    setenv(name, value, 1);
  }
  ~ScopedEnv() {
    if (m_old) {
      setenv(m_name, m_old->c_str(), 1);
    } else {
      unsetenv(m_name);
    }
  }

 private:
  const char* m_name;
  std::optional<std::string> m_old;
};

qevtest::RunResult Reg(const qevtest::Sandbox& box, const std::vector<std::string>& args) {
  std::vector<std::string> argv{qevtest::BinPath("qev-reg")};
  argv.insert(argv.end(), args.begin(), args.end());
  return qevtest::RunProgram(argv, {{"QEV_SYSROOT", box.Root()}});
}

class RegistryTest : public ::testing::Test {
 protected:
  qevtest::Sandbox box;
};

// ---- where a written value can be read back -------------------------------------------

struct VisibilityCase {
  const char* what;
  Hive writeHive;
  RegView writeView;
  const wchar_t* writeKey;
  const wchar_t* writeName;
  bool asDword;
  Hive readHive;
  RegView readView;
  const wchar_t* readKey;
  const wchar_t* readName;
  bool readDword;
  bool found;
};

constexpr Hive LM = Hive::LocalMachine;
constexpr Hive CU = Hive::CurrentUser;
constexpr Hive CR = Hive::ClassesRoot;
constexpr RegView DEF = RegView::Default;
constexpr RegView V32 = RegView::View32;
constexpr RegView V64 = RegView::View64;
constexpr const wchar_t* K = L"Software\\Brand\\P1";

const VisibilityCase kVisibility[] = {
    {"lm 64 -> 64", LM, V64, K, L"Version", false, LM, V64, K, L"Version", false, true},
    {"lm 64 -> default", LM, V64, K, L"Version", false, LM, DEF, K, L"Version", false, true},
    {"lm default -> 64", LM, DEF, K, L"Version", false, LM, V64, K, L"Version", false, true},
    {"lm 64 -> 32", LM, V64, K, L"Version", false, LM, V32, K, L"Version", false, false},
    {"lm 32 -> 64", LM, V32, K, L"Version", false, LM, V64, K, L"Version", false, false},
    {"lm 32 -> default", LM, V32, K, L"Version", false, LM, DEF, K, L"Version", false, false},
    {"lm 32 -> 32", LM, V32, K, L"Version", false, LM, V32, K, L"Version", false, true},
    {"lm dword 32 -> 32", LM, V32, K, L"PID", true, LM, V32, K, L"PID", true, true},
    {"lm dword 32 -> 64", LM, V32, K, L"PID", true, LM, V64, K, L"PID", true, false},
    {"cu 32 -> 64 (one view)", CU, V32, K, L"Version", false, CU, V64, K, L"Version", false, true},
    {"cu 64 -> default", CU, V64, K, L"Version", false, CU, DEF, K, L"Version", false, true},
    {"cr default -> 32 (one view)", CR, DEF, K, L"Version", false, CR, V32, K, L"Version", false, true},
    {"cu -> lm", CU, DEF, K, L"Version", false, LM, DEF, K, L"Version", false, false},
    {"lm -> cu", LM, DEF, K, L"Version", false, CU, DEF, K, L"Version", false, false},
    {"lm -> cr", LM, DEF, K, L"Version", false, CR, DEF, K, L"Version", false, false},
    {"path case", LM, DEF, K, L"Version", false, LM, DEF, L"SOFTWARE\\brand\\p1", L"Version", false, true},
    {"path separators", LM, DEF, K, L"Version", false, LM, DEF, L"\\Software\\\\Brand\\P1\\", L"Version", false,
     true},
    {"written with trailing", LM, DEF, L"Software\\Brand\\P1\\", L"Version", false, LM, DEF, K, L"Version", false,
     true},
    {"other key", LM, DEF, K, L"Version", false, LM, DEF, L"Software\\Brand\\P10", L"Version", false, false},
    {"parent key", LM, DEF, K, L"Version", false, LM, DEF, L"Software\\Brand", L"Version", false, false},
    {"name case", LM, DEF, K, L"Version", false, LM, DEF, K, L"vERSION", false, true},
    {"other name", LM, DEF, K, L"Version", false, LM, DEF, K, L"Versio", false, false},
    {"default value", LM, DEF, K, L"", false, LM, DEF, K, L"", false, true},
    {"default is not a named value", LM, DEF, K, L"", false, LM, DEF, K, L"Default", false, false},
    {"named is not the default", LM, DEF, K, L"Version", false, LM, DEF, K, L"", false, false},
    {"string read as dword", LM, DEF, K, L"Version", false, LM, DEF, K, L"Version", true, false},
    {"dword read as string", LM, DEF, K, L"PID", true, LM, DEF, K, L"PID", false, false},
};

class RegistryVisibility : public ::testing::TestWithParam<VisibilityCase> {
 protected:
  qevtest::Sandbox box;
};

TEST_P(RegistryVisibility, ReadsBackOnlyWhereWritten) {
  const VisibilityCase& c = GetParam();
  if (c.asDword) {
    ASSERT_TRUE(Registry::WriteDword(c.writeHive, c.writeView, c.writeKey, c.writeName, 4242));
  } else {
    ASSERT_TRUE(Registry::WriteString(c.writeHive, c.writeView, c.writeKey, c.writeName, L"v-1.2"));
  }
  if (c.readDword) {
    const auto v = Registry::ReadDword(c.readHive, c.readView, c.readKey, c.readName);
    ASSERT_EQ(c.found, v.has_value());
    if (v) {
      EXPECT_EQ(4242u, *v);
    }
  } else {
    const auto v = Registry::ReadString(c.readHive, c.readView, c.readKey, c.readName);
    ASSERT_EQ(c.found, v.has_value());
    if (v) {
      EXPECT_EQ(L"v-1.2", *v);
    }
  }
  if (c.found) {
    EXPECT_TRUE(Registry::KeyExists(c.readHive, c.readView, c.readKey));
  }
}

INSTANTIATE_TEST_SUITE_P(Table, RegistryVisibility, ::testing::ValuesIn(kVisibility),
                         [](const ::testing::TestParamInfo<VisibilityCase>& info) {
                           std::string name;
                           for (const char* p = info.param.what; *p; ++p) {
                             name.push_back(std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_');
                           }
                           return name;
                         });

// ---- values --------------------------------------------------------------------------

TEST_F(RegistryTest, Read_NoStoreYet_AnswersMissingAndCreatesNothing) {
  EXPECT_FALSE(Registry::ReadString(LM, DEF, K, L"Version"));
  EXPECT_FALSE(Registry::ReadDword(LM, DEF, K, L"PID"));
  EXPECT_FALSE(Registry::KeyExists(LM, DEF, K));
  EXPECT_TRUE(Registry::ListSubKeys(LM, DEF, L"").empty());
  EXPECT_FALSE(plat::PathExists(Registry::StorePath()));
  EXPECT_EQ(box.Path("/var/lib/qev/registry.db"), Registry::StorePath());
}

TEST_F(RegistryTest, Write_ReplacesValueOfEitherTypeAndKeepsFirstSpelling) {
  ASSERT_TRUE(Registry::WriteString(LM, DEF, K, L"InstallPath", L"/opt/one/"));
  ASSERT_TRUE(Registry::WriteString(LM, DEF, K, L"INSTALLPATH", L"/opt/two/"));
  EXPECT_EQ(L"/opt/two/", Registry::ReadString(LM, DEF, K, L"installpath"));
  ASSERT_TRUE(Registry::WriteDword(LM, DEF, K, L"installPath", 0xFFFFFFFFu));
  EXPECT_FALSE(Registry::ReadString(LM, DEF, K, L"InstallPath"));
  EXPECT_EQ(0xFFFFFFFFu, Registry::ReadDword(LM, DEF, K, L"InstallPath"));

  const auto values = Registry::ListValues(LM, DEF, K);
  ASSERT_EQ(1u, values.size());
  EXPECT_EQ(L"InstallPath", values[0].name);
  EXPECT_EQ(RegType::Dword, values[0].type);
  EXPECT_EQ(0xFFFFFFFFu, values[0].dword);
}

TEST_F(RegistryTest, Strings_KeepEveryCharacterWithoutATerminator) {
  const std::wstring texts[] = {L"", L"x", L"{2a7f0c1e-0000-4000-8000-000000000000G}", L"Ünïcødé 中文 \U0001F600",
                                std::wstring(L"a\0b", 3), std::wstring(5000, L'z')};
  for (const auto& t : texts) {
    ASSERT_TRUE(Registry::WriteString(CU, DEF, L"Software\\T", L"v", t));
    const auto back = Registry::ReadString(CU, DEF, L"Software\\T", L"v");
    ASSERT_TRUE(back);
    EXPECT_EQ(t, *back);
    EXPECT_EQ(t.size(), back->size());
  }
}

TEST_F(RegistryTest, DeleteValue_RemovesOnlyThatValueOnce) {
  ASSERT_TRUE(Registry::WriteString(LM, V32, K, L"A", L"1"));
  ASSERT_TRUE(Registry::WriteString(LM, V32, K, L"B", L"2"));
  ASSERT_TRUE(Registry::WriteString(LM, V64, K, L"A", L"3"));
  EXPECT_TRUE(Registry::DeleteValue(LM, V32, K, L"a"));
  EXPECT_FALSE(Registry::DeleteValue(LM, V32, K, L"A"));
  EXPECT_FALSE(Registry::ReadString(LM, V32, K, L"A"));
  EXPECT_EQ(L"2", Registry::ReadString(LM, V32, K, L"B"));
  EXPECT_EQ(L"3", Registry::ReadString(LM, V64, K, L"A"));
  EXPECT_TRUE(Registry::KeyExists(LM, V32, K));
  EXPECT_EQ(RegStatus::NotFound, Registry::RemoveValue(LM, V32, L"Software\\Nothing", L"A"));
}

TEST_F(RegistryTest, Names_TooLongAreRefused) {
  const std::wstring longPart(256, L'k');
  EXPECT_EQ(RegStatus::BadName, Registry::MakeKey(LM, DEF, L"Software\\" + longPart));
  EXPECT_FALSE(Registry::WriteString(LM, DEF, L"Software\\" + longPart, L"v", L"t"));
  EXPECT_FALSE(Registry::WriteString(LM, DEF, K, std::wstring(16384, L'n'), L"t"));
  EXPECT_TRUE(Registry::WriteString(LM, DEF, L"Software\\" + std::wstring(255, L'k'), std::wstring(16383, L'n'), L"t"));
  EXPECT_EQ(L"t", Registry::ReadString(LM, DEF, L"software\\" + std::wstring(255, L'K'), std::wstring(16383, L'N')));
}

// ---- keys ----------------------------------------------------------------------------

TEST_F(RegistryTest, CreateKey_MakesEveryParent) {
  ASSERT_TRUE(Registry::CreateKey(LM, V32, L"Software\\Brand\\Deep\\Deeper"));
  for (const wchar_t* k : {L"Software", L"software\\brand", L"Software\\Brand\\Deep", L"Software\\Brand\\Deep\\Deeper"}) {
    EXPECT_TRUE(Registry::KeyExists(LM, V32, k)) << plat::WideToUtf8(k);
    EXPECT_FALSE(Registry::KeyExists(LM, V64, k)) << plat::WideToUtf8(k);
  }
  EXPECT_TRUE(Registry::KeyExists(LM, V64, L""));
  EXPECT_TRUE(Registry::KeyExists(LM, V64, L"\\"));
}

TEST_F(RegistryTest, ListSubKeys_GivesDirectChildrenAsFirstWrittenSorted) {
  ASSERT_TRUE(Registry::CreateKey(LM, DEF, L"Software\\Brand\\beta"));
  ASSERT_TRUE(Registry::WriteDword(LM, DEF, L"Software\\Brand\\Alpha", L"PID", 1));
  ASSERT_TRUE(Registry::CreateKey(LM, DEF, L"Software\\Brand\\Gamma\\Inner"));
  ASSERT_TRUE(Registry::CreateKey(LM, DEF, L"SOFTWARE\\BRAND\\BETA"));  // same key, other spelling
  ASSERT_TRUE(Registry::CreateKey(LM, DEF, L"Software\\Brandy\\Other"));
  ASSERT_TRUE(Registry::CreateKey(LM, V32, L"Software\\Brand\\Only32"));
  ASSERT_TRUE(Registry::WriteString(LM, DEF, L"Software\\Brand", L"", L"default"));

  EXPECT_EQ((std::vector<std::wstring>{L"Alpha", L"beta", L"Gamma"}), Registry::ListSubKeys(LM, DEF, L"software\\brand"));
  EXPECT_EQ((std::vector<std::wstring>{L"Inner"}), Registry::ListSubKeys(LM, DEF, L"Software\\Brand\\gamma\\"));
  EXPECT_EQ((std::vector<std::wstring>{L"Brand", L"Brandy"}), Registry::ListSubKeys(LM, DEF, L"Software"));
  EXPECT_EQ((std::vector<std::wstring>{L"Software"}), Registry::ListSubKeys(LM, DEF, L""));
  EXPECT_EQ((std::vector<std::wstring>{L"Only32"}), Registry::ListSubKeys(LM, V32, L"Software\\Brand"));
  EXPECT_TRUE(Registry::ListSubKeys(LM, DEF, L"Software\\Brand\\Alpha").empty());
  EXPECT_TRUE(Registry::ListSubKeys(LM, DEF, L"Software\\Missing").empty());
  EXPECT_EQ(RegStatus::NotFound,
            [] {
              std::vector<std::wstring> k;
              std::vector<RegValue> v;
              return Registry::EnumerateKey(LM, DEF, L"Software\\Missing", k, v);
            }());

  // Values of a key, default first (its name sorts before every other).
  ASSERT_TRUE(Registry::WriteString(LM, DEF, L"Software\\Brand", L"zeta", L"z"));
  ASSERT_TRUE(Registry::WriteDword(LM, DEF, L"Software\\Brand", L"Mid", 7));
  const auto values = Registry::ListValues(LM, DEF, L"Software\\Brand");
  ASSERT_EQ(3u, values.size());
  EXPECT_EQ(L"", values[0].name);
  EXPECT_EQ(L"default", values[0].text);
  EXPECT_EQ(L"Mid", values[1].name);
  EXPECT_EQ(RegType::Dword, values[1].type);
  EXPECT_EQ(7u, values[1].dword);
  EXPECT_EQ(L"zeta", values[2].name);
  EXPECT_EQ(RegType::String, values[2].type);
}

TEST_F(RegistryTest, DeleteKey_IsRecursiveAndStaysInItsViewAndSubtree) {
  const std::wstring base = L"Software\\Brand\\";
  for (RegView v : {V32, V64}) {
    ASSERT_TRUE(Registry::WriteString(LM, v, base + L"C", L"Version", L"1"));
    ASSERT_TRUE(Registry::WriteString(LM, v, base + L"C\\Deep\\Deeper", L"Version", L"2"));
    ASSERT_TRUE(Registry::WriteString(LM, v, base + L"C2", L"Version", L"3"));      // shares the prefix "c"
    ASSERT_TRUE(Registry::WriteString(LM, v, base + L"C]x", L"Version", L"4"));     // ']' follows '\'
    ASSERT_TRUE(Registry::WriteString(LM, v, base + L"C[x", L"Version", L"5"));     // '[' precedes '\'
  }
  EXPECT_TRUE(Registry::DeleteKey(LM, V32, L"software\\BRAND\\c\\"));

  EXPECT_FALSE(Registry::KeyExists(LM, V32, base + L"C"));
  EXPECT_FALSE(Registry::KeyExists(LM, V32, base + L"C\\Deep"));
  EXPECT_FALSE(Registry::KeyExists(LM, V32, base + L"C\\Deep\\Deeper"));
  EXPECT_FALSE(Registry::ReadString(LM, V32, base + L"C\\Deep\\Deeper", L"Version"));
  EXPECT_FALSE(Registry::ReadString(LM, V32, base + L"C", L"Version"));
  EXPECT_EQ(L"3", Registry::ReadString(LM, V32, base + L"C2", L"Version"));
  EXPECT_EQ(L"4", Registry::ReadString(LM, V32, base + L"C]x", L"Version"));
  EXPECT_EQ(L"5", Registry::ReadString(LM, V32, base + L"C[x", L"Version"));
  EXPECT_EQ(L"2", Registry::ReadString(LM, V64, base + L"C\\Deep\\Deeper", L"Version"));
  EXPECT_TRUE(Registry::KeyExists(LM, V32, L"Software\\Brand"));

  // Writing again after a delete starts an empty key.
  ASSERT_TRUE(Registry::CreateKey(LM, V32, base + L"C"));
  EXPECT_TRUE(Registry::ListSubKeys(LM, V32, base + L"C").empty());
  EXPECT_TRUE(Registry::ListValues(LM, V32, base + L"C").empty());

  EXPECT_FALSE(Registry::DeleteKey(LM, V32, base + L"Never"));
  EXPECT_FALSE(Registry::DeleteKey(LM, V32, L""));
  EXPECT_FALSE(Registry::DeleteKey(LM, V32, L"\\\\"));
  EXPECT_TRUE(Registry::KeyExists(LM, V32, L"Software"));
}

// ---- other processes -----------------------------------------------------------------

TEST_F(RegistryTest, Tool_SharesTheStoreWithThisProcess) {
  ASSERT_TRUE(Registry::WriteString(LM, V32, K, L"Version", L"2.0.1"));
  ASSERT_TRUE(Registry::WriteDword(LM, V32, K, L"PID", 7001));
  ASSERT_TRUE(Registry::WriteString(CU, DEF, K, L"", L"user default"));

  auto r = Reg(box, {"read", "HKLM", "software\\brand\\p1", "version", "--view", "32"});
  EXPECT_EQ(0, r.exitCode) << r.err;
  EXPECT_EQ("2.0.1\n", r.out);
  r = Reg(box, {"read", "HKEY_LOCAL_MACHINE", "Software\\Brand\\P1", "PID", "--view", "32"});
  EXPECT_EQ(0, r.exitCode) << r.err;
  EXPECT_EQ("7001\n", r.out);
  r = Reg(box, {"read", "HKLM", "Software\\Brand\\P1", "Version"});  // the 64-bit view
  EXPECT_EQ(1, r.exitCode);
  EXPECT_EQ("", r.out);
  r = Reg(box, {"read", "hkcu", "Software\\Brand\\P1"});
  EXPECT_EQ(0, r.exitCode) << r.err;
  EXPECT_EQ("user default\n", r.out);

  r = Reg(box, {"write", "HKLM", "Software\\Brand\\P2", "InstallName", "Prodüct é"});
  EXPECT_EQ(0, r.exitCode) << r.err;
  r = Reg(box, {"write", "HKLM", "Software\\Brand\\P2", "PID", "0x1B59", "--dword"});
  EXPECT_EQ(0, r.exitCode) << r.err;
  r = Reg(box, {"write", "HKCR", "qev", "@", "URL:qev"});
  EXPECT_EQ(0, r.exitCode) << r.err;
  EXPECT_EQ(L"Prodüct é", Registry::ReadString(LM, V64, L"Software\\Brand\\P2", L"InstallName"));
  EXPECT_EQ(7001u, Registry::ReadDword(LM, DEF, L"Software\\Brand\\P2", L"PID"));
  EXPECT_EQ(L"URL:qev", Registry::ReadString(CR, DEF, L"QEV", L""));

  ASSERT_TRUE(Registry::CreateKey(LM, DEF, L"Software\\Brand\\P2\\Child"));
  r = Reg(box, {"list", "HKLM", "Software\\Brand\\P2"});
  EXPECT_EQ(0, r.exitCode) << r.err;
  EXPECT_EQ("[Software\\Brand\\P2\\Child]\nInstallName=REG_SZ:Prodüct é\nPID=REG_DWORD:7001\n", r.out);
  r = Reg(box, {"list", "HKCU", "Software\\Brand\\P1"});
  EXPECT_EQ("@=REG_SZ:user default\n", r.out);
  r = Reg(box, {"list", "HKLM", "Software\\Nothing"});
  EXPECT_EQ(1, r.exitCode);

  r = Reg(box, {"delete", "HKLM", "Software\\Brand\\P2", "installname"});
  EXPECT_EQ(0, r.exitCode) << r.err;
  EXPECT_FALSE(Registry::ReadString(LM, DEF, L"Software\\Brand\\P2", L"InstallName"));
  r = Reg(box, {"delete", "HKLM", "Software\\Brand\\P2", "installname"});
  EXPECT_EQ(1, r.exitCode);
  r = Reg(box, {"delete", "HKLM", "Software\\Brand\\P2"});
  EXPECT_EQ(0, r.exitCode) << r.err;
  EXPECT_FALSE(Registry::KeyExists(LM, DEF, L"Software\\Brand\\P2\\Child"));
  r = Reg(box, {"delete", "HKLM", "Software\\Brand\\P2"});
  EXPECT_EQ(1, r.exitCode);
}

TEST_F(RegistryTest, Tool_RefusesBadCommandLines) {
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"read"},
      {"read", "HKLM"},
      {"read", "HKXX", "Software"},
      {"frob", "HKLM", "Software"},
      {"read", "HKLM", "Software", "a", "b"},
      {"read", "HKLM", "Software", "--view"},
      {"read", "HKLM", "Software", "--view", "16"},
      {"read", "HKLM", "Software", "--dword"},
      {"read", "HKLM", "Software", "--unknown"},
      {"write", "HKLM", "Software", "name"},
      {"write", "HKLM", "Software", "name", "12x", "--dword"},
      {"write", "HKLM", "Software", "name", "4294967296", "--dword"},
      {"write", "HKLM", "Software", "name", "-1", "--dword"},
      {"write", "HKLM", "Software", "name", "\xff\xfe"},
      {"list", "HKLM", "Software", "extra"},
      {"read", "HKLM", std::string(300, 'k')},
  };
  for (const auto& args : bad) {
    const auto r = Reg(box, args);
    std::string shown;
    for (const auto& a : args) shown += "[" + a + "]";
    EXPECT_EQ(2, r.exitCode) << shown;
  }
  EXPECT_FALSE(plat::PathExists(Registry::StorePath()));

  const auto help = Reg(box, {"--help"});
  EXPECT_EQ(0, help.exitCode);
  EXPECT_NE(std::string::npos, help.out.find("exit codes"));
  // "--" lets a value look like an option.
  auto r = Reg(box, {"write", "HKLM", "Software", "name", "--", "--dword"});
  EXPECT_EQ(0, r.exitCode) << r.err;
  EXPECT_EQ(L"--dword", Registry::ReadString(LM, DEF, L"Software", L"name"));
}

TEST_F(RegistryTest, ConcurrentWriters_LoseNothing) {
  constexpr int kWriters = 4;
  constexpr int kValues = 200;
  ASSERT_TRUE(Registry::CreateKey(LM, DEF, L"Software\\Shared"));
  // The children go on using the store without exec'ing.
  Registry::CloseThreadConnection();
  std::vector<pid_t> children;
  for (int w = 0; w < kWriters; ++w) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int failures = 0;
      for (int i = 0; i < kValues; ++i) {
        const std::wstring name = plat::Utf8ToWide(plat::Format("w%d-v%03d", w, i));
        failures += !Registry::WriteDword(LM, DEF, L"Software\\Shared", name, static_cast<uint32_t>(w * 1000 + i));
        failures += !Registry::WriteString(LM, V32, plat::Utf8ToWide(plat::Format("Software\\Own%d", w)), name, name);
      }
      _exit(failures == 0 ? 0 : 1);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  const auto shared = Registry::ListValues(LM, DEF, L"Software\\Shared");
  EXPECT_EQ(static_cast<size_t>(kWriters * kValues), shared.size());
  for (int w = 0; w < kWriters; ++w) {
    const std::wstring own = plat::Utf8ToWide(plat::Format("Software\\Own%d", w));
    EXPECT_EQ(static_cast<size_t>(kValues), Registry::ListValues(LM, V32, own).size());
    for (int i = 0; i < kValues; i += 37) {
      const std::wstring name = plat::Utf8ToWide(plat::Format("w%d-v%03d", w, i));
      EXPECT_EQ(static_cast<uint32_t>(w * 1000 + i), Registry::ReadDword(LM, DEF, L"Software\\Shared", name));
      EXPECT_EQ(name, Registry::ReadString(LM, V32, own, name));
    }
  }
}

// ---- faults --------------------------------------------------------------------------

enum class Damage { NotADatabase, GarbledPages };

class RegistryCorruptStore : public ::testing::TestWithParam<Damage> {
 protected:
  qevtest::Sandbox box;
};

TEST_P(RegistryCorruptStore, AnswersMissingReportsOnceAndKeepsTheFile) {
  const std::string db = "/var/lib/qev/registry.db";
  std::string bytes;
  if (GetParam() == Damage::NotADatabase) {
    bytes.assign(8192, 'G');
    box.WriteFile(db, bytes);
  } else {
    // A real store made by another process, then everything after the file header
    // overwritten: the header still says SQLite, the pages are nonsense.
    ASSERT_EQ(0, Reg(box, {"write", "HKLM", "Software\\Brand\\P1", "Version", "1.0"}).exitCode);
    bytes = box.ReadFile(db);
    ASSERT_GE(bytes.size(), 4096u);
    for (size_t i = 100; i < bytes.size(); ++i) bytes[i] = static_cast<char>(0xA5 ^ (i * 7));
    box.WriteFile(db, bytes);
  }

  DiagnosticCapture diag;
  for (int round = 0; round < 3; ++round) {
    EXPECT_FALSE(Registry::ReadString(LM, DEF, K, L"Version"));
    EXPECT_FALSE(Registry::ReadDword(LM, DEF, K, L"PID"));
    EXPECT_FALSE(Registry::KeyExists(LM, DEF, K));
    EXPECT_TRUE(Registry::ListSubKeys(LM, DEF, L"Software").empty());
    EXPECT_TRUE(Registry::ListValues(LM, DEF, K).empty());
    EXPECT_FALSE(Registry::WriteString(LM, DEF, K, L"Version", L"2.0"));
    EXPECT_FALSE(Registry::WriteDword(CU, DEF, K, L"PID", 1));
    EXPECT_FALSE(Registry::CreateKey(LM, DEF, K));
    EXPECT_FALSE(Registry::DeleteKey(LM, DEF, K));
    EXPECT_FALSE(Registry::DeleteValue(LM, DEF, K, L"Version"));
  }
  RegValue v;
  EXPECT_EQ(RegStatus::StoreFailure, Registry::QueryValue(LM, DEF, K, L"Version", v));

  const auto lines = diag.Taken();
  ASSERT_EQ(1u, lines.size());
  EXPECT_EQ(0u, lines[0].find("[ERROR] registry store ")) << lines[0];
  EXPECT_NE(std::string::npos, lines[0].find(Registry::StorePath())) << lines[0];
  EXPECT_TRUE(lines[0].find("not a database") != std::string::npos ||
              lines[0].find("malformed") != std::string::npos)
      << lines[0];
  EXPECT_EQ(bytes, box.ReadFile(db));

  const auto r = Reg(box, {"read", "HKLM", "Software\\Brand\\P1", "Version"});
  EXPECT_EQ(3, r.exitCode);
  EXPECT_NE(std::string::npos, r.err.find("[ERROR] registry store ")) << r.err;
  EXPECT_EQ(bytes, box.ReadFile(db));
}

INSTANTIATE_TEST_SUITE_P(Damage, RegistryCorruptStore, ::testing::Values(Damage::NotADatabase, Damage::GarbledPages),
                         [](const ::testing::TestParamInfo<Damage>& info) {
                           return info.param == Damage::NotADatabase ? "NotADatabase" : "GarbledPages";
                         });

// Another connection to the same file, as another process holding the store would be.
class OtherConnection {
 public:
  explicit OtherConnection(const std::string& path) { m_rc = sqlite3_open(path.c_str(), &m_db); }
  ~OtherConnection() { sqlite3_close(m_db); }
  int Exec(const char* sql) { return sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr); }
  int OpenResult() const { return m_rc; }

 private:
  sqlite3* m_db = nullptr;
  int m_rc = SQLITE_ERROR;
};

TEST_F(RegistryTest, LockedStore_WriterWaitsThenFailsSoftlyReadersGoOn) {
  ScopedEnv busy("QEV_REGISTRY_BUSY_MS", "50");
  ASSERT_TRUE(Registry::WriteString(LM, DEF, K, L"Version", L"1.0"));
  DiagnosticCapture diag;
  {
    OtherConnection other(Registry::StorePath());
    ASSERT_EQ(SQLITE_OK, other.OpenResult());
    ASSERT_EQ(SQLITE_OK, other.Exec("BEGIN EXCLUSIVE"));
    ASSERT_EQ(SQLITE_OK, other.Exec("INSERT INTO reg_keys VALUES(1, -1, 64, 'held', '', 'Held', 'Held')"));

    EXPECT_FALSE(Registry::WriteString(LM, DEF, K, L"Version", L"2.0"));
    EXPECT_FALSE(Registry::CreateKey(LM, DEF, L"Software\\Other"));
    // In WAL mode a reader is not held up by a writer and sees the last committed state.
    EXPECT_EQ(L"1.0", Registry::ReadString(LM, DEF, K, L"Version"));
    EXPECT_FALSE(Registry::KeyExists(LM, DEF, L"Held"));

    // Another process waits out its own time-out and fails with the store-failure code.
    const auto r = qevtest::RunProgram({qevtest::BinPath("qev-reg"), "write", "HKLM", "Software", "x", "y"},
                                       {{"QEV_SYSROOT", box.Root()}, {"QEV_REGISTRY_BUSY_MS", "50"}});
    EXPECT_EQ(3, r.exitCode) << r.err;
    ASSERT_EQ(SQLITE_OK, other.Exec("COMMIT"));
  }
  EXPECT_EQ(1u, diag.CountContaining("[WARN] registry store is busy"));
  EXPECT_TRUE(Registry::WriteString(LM, DEF, K, L"Version", L"2.0"));
  EXPECT_EQ(L"2.0", Registry::ReadString(LM, DEF, K, L"Version"));
  EXPECT_TRUE(Registry::KeyExists(LM, DEF, L"HELD"));
}

TEST_F(RegistryTest, LockedStore_ExclusiveHolderMakesReadsAnswerMissing) {
  ScopedEnv busy("QEV_REGISTRY_BUSY_MS", "50");
  ASSERT_TRUE(Registry::WriteString(LM, DEF, K, L"Version", L"1.0"));
  // An exclusive holder can only take the file while nobody else has it open.
  Registry::CloseThreadConnection();
  {
    OtherConnection other(Registry::StorePath());
    ASSERT_EQ(SQLITE_OK, other.OpenResult());
    ASSERT_EQ(SQLITE_OK, other.Exec("PRAGMA locking_mode=EXCLUSIVE"));
    ASSERT_EQ(SQLITE_OK, other.Exec("BEGIN EXCLUSIVE"));
    ASSERT_EQ(SQLITE_OK, other.Exec("COMMIT"));

    EXPECT_FALSE(Registry::ReadString(LM, DEF, K, L"Version"));
    EXPECT_FALSE(Registry::WriteString(LM, DEF, K, L"Version", L"2.0"));
    RegValue v;
    EXPECT_EQ(RegStatus::StoreFailure, Registry::QueryValue(LM, DEF, K, L"Version", v));
  }
  EXPECT_EQ(L"1.0", Registry::ReadString(LM, DEF, K, L"Version"));
  EXPECT_TRUE(Registry::WriteString(LM, DEF, K, L"Version", L"2.0"));
}

TEST_F(RegistryTest, SandboxSwitch_FollowsTheNewStore) {
  ASSERT_TRUE(Registry::WriteString(LM, DEF, K, L"Version", L"outer"));
  {
    qevtest::Sandbox inner;
    EXPECT_FALSE(Registry::ReadString(LM, DEF, K, L"Version"));
    ASSERT_TRUE(Registry::WriteString(LM, DEF, K, L"Version", L"inner"));
    EXPECT_EQ(L"inner", Registry::ReadString(LM, DEF, K, L"Version"));
  }
  EXPECT_EQ(L"outer", Registry::ReadString(LM, DEF, K, L"Version"));
}

TEST_F(RegistryTest, StoreReplaced_IsReopened) {
  ASSERT_TRUE(Registry::WriteString(LM, DEF, K, L"Version", L"first"));
  // Someone moves the store aside, with its "-wal" and "-shm" files, and a new one is made
  // while this thread still holds a connection to the old one.
  const std::string path = Registry::StorePath();
  for (const char* suffix : {"", "-wal", "-shm"}) {
    std::rename((path + suffix).c_str(), (path + ".old" + suffix).c_str());
  }
  ASSERT_FALSE(plat::PathExists(path));
  ASSERT_EQ(0, Reg(box, {"write", "HKLM", "Software\\Brand\\P1", "Version", "second"}).exitCode);
  EXPECT_EQ(L"second", Registry::ReadString(LM, DEF, K, L"Version"));
  EXPECT_TRUE(Registry::WriteString(LM, DEF, K, L"PID", L"x"));
  EXPECT_EQ(0, Reg(box, {"read", "HKLM", "Software\\Brand\\P1", "PID"}).exitCode);
}

TEST_F(RegistryTest, CurrentUser_IsKeptPerUser) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run a program as another user";
  ASSERT_TRUE(Registry::WriteString(CU, DEF, L"Software\\Brand", L"ClientSign", L"root's"));
  ASSERT_TRUE(Registry::WriteString(LM, DEF, L"Software\\Brand", L"ClientSign", L"machine"));
  // Let the other user at the store file and its folder.
  for (const char* p : {"/var/lib/qev", "/var/lib/qev/registry.db"}) ASSERT_EQ(0, chmod(box.Path(p).c_str(), 0777));
  for (const char* p : {"/var/lib/qev/registry.db-wal", "/var/lib/qev/registry.db-shm"}) chmod(box.Path(p).c_str(), 0666);
  const std::map<std::string, std::string> env{{"QEV_SYSROOT", box.Root()}};
  const int nobody = 65534;
  auto r = qevtest::RunProgram({qevtest::BinPath("qev-reg"), "read", "HKCU", "Software\\Brand", "ClientSign"}, env,
                               30000, nobody);
  EXPECT_EQ(1, r.exitCode) << r.err;
  r = qevtest::RunProgram({qevtest::BinPath("qev-reg"), "read", "HKLM", "Software\\Brand", "ClientSign"}, env, 30000,
                          nobody);
  EXPECT_EQ(0, r.exitCode) << r.err;
  EXPECT_EQ("machine\n", r.out);
  r = qevtest::RunProgram({qevtest::BinPath("qev-reg"), "write", "HKCU", "Software\\Brand", "ClientSign", "nobody's"},
                          env, 30000, nobody);
  EXPECT_EQ(0, r.exitCode) << r.err;
  EXPECT_EQ(L"root's", Registry::ReadString(CU, DEF, L"Software\\Brand", L"ClientSign"));
}

TEST(RegistryParseHive, KnowsShortAndLongNamesInAnyCase) {
  const struct {
    const char* text;
    bool ok;
    Hive hive;
  } cases[] = {
      {"HKLM", true, LM},
      {"hklm", true, LM},
      {"HKEY_LOCAL_MACHINE", true, LM},
      {"Hkey_Local_Machine", true, LM},
      {"HKCU", true, CU},
      {"HKEY_CURRENT_USER", true, CU},
      {"HKCR", true, CR},
      {"hkey_classes_root", true, CR},
      {"HKU", false, LM},
      {"HKLM\\", false, LM},
      {"", false, LM},
      {"HKEY_LOCAL_MACHINE ", false, LM},
  };
  for (const auto& c : cases) {
    Hive h = Hive::ClassesRoot;
    EXPECT_EQ(c.ok, plat::ParseHive(c.text, h)) << c.text;
    if (c.ok) {
      EXPECT_EQ(c.hive, h) << c.text;
    }
  }
}

}  // namespace
