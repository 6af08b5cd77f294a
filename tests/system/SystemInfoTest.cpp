#include "system/SystemInfo.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <regex>

#include "platform/Folders.h"
#include "platform/Registry.h"
#include "platform/ResourceBundle.h"
#include "platform/TextConv.h"
#include "support/Sandbox.h"

namespace fs = std::filesystem;

namespace {

using plat::Hive;
using plat::Registry;
using plat::RegView;

TEST(MachineFacts, NativeProcessIsNeverWow64) {
  EXPECT_FALSE(IsWow64());
  EXPECT_EQ(RegView::Default, MachineRegView());
}

struct ReleaseCase {
  const char* release;
  const wchar_t* expected;
};

class VersionFromRelease : public ::testing::TestWithParam<ReleaseCase> {};

TEST_P(VersionFromRelease, KeepsTheLeadingNumbers) {
  EXPECT_EQ(std::wstring(GetParam().expected), VersionTextFromRelease(GetParam().release)) << GetParam().release;
}

INSTANTIATE_TEST_SUITE_P(Table, VersionFromRelease,
                         ::testing::Values(ReleaseCase{"6.1.0-18-amd64", L"6.1.0"},
                                           ReleaseCase{"6.18.44-fc-v1607", L"6.18.44"},
                                           ReleaseCase{"5.15.0", L"5.15.0"}, ReleaseCase{"6.1.0.7", L"6.1.0"},
                                           ReleaseCase{"5.15", L"5.15.0"}, ReleaseCase{"6-rc1", L"6.0.0"},
                                           ReleaseCase{"4.19.", L"4.19.0"}, ReleaseCase{"abc", L""},
                                           ReleaseCase{"", L""}, ReleaseCase{"-6.1", L""}));

TEST(MachineFacts, WindowsVersionTextIsThreeNumbers) {
  const std::string text = plat::WideToUtf8(GetWindowsVersionText());
  EXPECT_TRUE(std::regex_match(text, std::regex(R"(\d+\.\d+\.\d+)"))) << text;
  EXPECT_EQ(std::stoi(text), GetWindowsMajorVersion());
}

TEST(GetIEVersion, ReadsTheValueOrDash) {
  qevtest::Sandbox box;
  EXPECT_EQ(L"-", GetIEVersion());
  const std::wstring key = L"Software\\Microsoft\\Internet Explorer";
  Registry::WriteString(Hive::LocalMachine, RegView::Default, key, L"Version", L"9.11.19041.0");
  EXPECT_EQ(L"9.11.19041.0", GetIEVersion());
  Registry::WriteString(Hive::LocalMachine, RegView::Default, key, L"Version", std::wstring(64, L'9'));
  EXPECT_EQ(std::wstring(50, L'9'), GetIEVersion());
}

TEST(GetFileVersion, ReadsTheVersionResource) {
  qevtest::Sandbox box;
  box.WriteFile("/in/prog", "#!/bin/sh\nexit 0\n");
  ASSERT_TRUE(plat::CreateFolderTree(box.Path("/out/")));
  std::string error;
  ASSERT_TRUE(plat::ResourceBundle::Write(box.Path("/in/prog"), {{"VERSION", 1, "4.5.14.2"}}, box.Path("/out/prog"),
                                          error))
      << error;
  std::wstring version = L"stale";
  EXPECT_TRUE(GetFileVersion(box.Path("/out/prog"), version));
  EXPECT_EQ(L"4.5.14.2", version);

  EXPECT_FALSE(GetFileVersion(box.Path("/in/prog"), version));
  EXPECT_EQ(L"", version);
  EXPECT_FALSE(GetFileVersion(box.Path("/missing"), version));
}

TEST(OwnProgram, PathNameAndVersion) {
  EXPECT_EQ("test_system", GetOwnFileName());
  EXPECT_EQ("/test_system", GetOwnPath().substr(GetOwnPath().size() - 12));

  plat::ResourceBundle bundle;
  bundle.Add({"VERSION", 1, "1.2.3.4"});
  plat::ResourceBundle::SetOwnForTesting(&bundle);
  EXPECT_EQ(L"1.2.3.4", GetOwnVersion());
  plat::ResourceBundle empty;
  plat::ResourceBundle::SetOwnForTesting(&empty);
  EXPECT_EQ(L"", GetOwnVersion());
  plat::ResourceBundle::SetOwnForTesting(nullptr);
}

TEST(GetProgramFilesFolders, BothAreTheSandboxOpt) {
  qevtest::Sandbox box;
  std::string p32 = "x", p64 = "y";
  EXPECT_TRUE(GetProgramFilesFolders(p32, p64));
  EXPECT_EQ(box.Path("/opt/"), p32);
  EXPECT_EQ(box.Path("/opt/"), p64);
}

struct SystemFolderCase {
  const char* path;  // inside the sandbox unless it starts with '!'
  bool expected;
};

class IsInSystemFolderTable : public ::testing::TestWithParam<SystemFolderCase> {};

TEST_P(IsInSystemFolderTable, Classifies) {
  qevtest::Sandbox box;
  box.WriteFile("/etc/drives", box.Path("/mnt/d") + "\n");
  const std::string p = GetParam().path;
  const std::string path = p.empty() ? p : (p[0] == '!' ? p.substr(1) : box.Path(p));
  EXPECT_EQ(GetParam().expected, IsInSystemFolder(path)) << path;
}

INSTANTIATE_TEST_SUITE_P(
    Table, IsInSystemFolderTable,
    ::testing::Values(SystemFolderCase{"/usr/bin/tool", true}, SystemFolderCase{"/usr", true},
                      SystemFolderCase{"/usr/", true}, SystemFolderCase{"/etc/qev/", true},
                      SystemFolderCase{"/bin", true}, SystemFolderCase{"/sbin/x", true},
                      SystemFolderCase{"/lib/x86_64/", true}, SystemFolderCase{"/boot/efi", true},
                      // the system drive's Program Files
                      SystemFolderCase{"/opt", true}, SystemFolderCase{"/opt/Tessaro/", true},
                      // another drive's Program Files, look-alikes, folders merely containing a name
                      SystemFolderCase{"/mnt/d/opt/Tessaro/", false}, SystemFolderCase{"/mnt/d/usr/", false},
                      SystemFolderCase{"/home/al/usr/x", false}, SystemFolderCase{"/usrlocal/", false},
                      SystemFolderCase{"/optional", false}, SystemFolderCase{"/var/lib/Tessaro/", false},
                      SystemFolderCase{"/", false}, SystemFolderCase{"/USR/bin", false},
                      // the real machine's folders are not the sandbox's
                      SystemFolderCase{"!/usr/bin", false}, SystemFolderCase{"", false}));

TEST(IsFolderWritable, WritableFolderLeavesNoProbeBehind) {
  qevtest::Sandbox box;
  const std::string folder = box.Path("/data");
  ASSERT_TRUE(plat::CreateFolderTree(folder + "/"));
  EXPECT_TRUE(IsFolderWritable(folder));
  EXPECT_TRUE(IsFolderWritable(folder + "/"));
  EXPECT_FALSE(fs::exists(folder + "/qev.tmp"));
  EXPECT_TRUE(fs::is_empty(folder));
}

TEST(IsFolderWritable, FalseWhereNoFileCanBeCreated) {
  qevtest::Sandbox box;
  EXPECT_FALSE(IsFolderWritable(""));
  EXPECT_FALSE(IsFolderWritable(box.Path("/missing/")));
  box.WriteFile("/plain", "x");
  EXPECT_FALSE(IsFolderWritable(box.Path("/plain/")));
  EXPECT_FALSE(IsFolderWritable(box.Path("/plain/sub/")));
}

TEST(IsFolderWritable, FalseForReadOnlyFolder) {
  if (geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
  qevtest::Sandbox box;
  const std::string folder = box.Path("/ro/");
  ASSERT_TRUE(plat::CreateFolderTree(folder));
  ASSERT_EQ(0, chmod(folder.c_str(), 0555));
  EXPECT_FALSE(IsFolderWritable(folder));
  chmod(folder.c_str(), 0755);
}

TEST(Drives, FixedDrivesAndFreeSpace) {
  qevtest::Sandbox box;
  ASSERT_TRUE(plat::CreateFolderTree(box.Path("/mnt/d/")));
  box.WriteFile("/etc/drives", box.Path("/mnt/d") + "\n");
  const std::vector<std::string> expected = {box.Root() + "/", box.Path("/mnt/d/")};
  EXPECT_EQ(expected, ListFixedDrives());
  EXPECT_GT(GetDiskFreeBytes(box.Root()), 0u);
  EXPECT_EQ(0u, GetDiskFreeBytes(box.Path("/missing/")));
  EXPECT_EQ(0u, GetDiskFreeBytes(""));
}

TEST(BrandFolders, AreCreatedInTheSandbox) {
  qevtest::Sandbox box;
  EXPECT_EQ(box.Path("/var/lib/Tessaro/"), GetBrandDataFolder(L"Tessaro"));
  EXPECT_TRUE(fs::is_directory(box.Path("/var/lib/Tessaro/")));
  EXPECT_EQ(box.Path("/var/lib/Corvane/"), GetBrandDataFolder(L""));
  EXPECT_TRUE(fs::is_directory(box.Path("/var/lib/Corvane/")));
  EXPECT_EQ(box.Path("/tmp/Tessaro/"), GetBrandTempFolder(L"Tessaro"));
  EXPECT_TRUE(fs::is_directory(box.Path("/tmp/Tessaro/")));
  EXPECT_EQ(box.Path("/tmp/Corvane/"), GetBrandTempFolder(L""));
  // A second call finds the folder in place.
  EXPECT_EQ(box.Path("/tmp/Tessaro/"), GetBrandTempFolder(L"Tessaro"));
}

TEST(BrandFolders, UserLocalAppDataIsInTheSandbox) {
  qevtest::Sandbox box;
  const std::string folder = GetUserLocalAppData();
  EXPECT_EQ(0u, folder.rfind(box.Root() + "/", 0)) << folder;
  EXPECT_EQ('/', folder.back());
}

const std::wstring kCompanionKey = L"Software\\Corvane\\Corvane Orbix";

TEST(Companion, MissingWhenNothingNamesAnExistingFile) {
  qevtest::Sandbox box;
  EXPECT_EQ("", GetCompanionInstallName());
  EXPECT_FALSE(IsCompanionInstalled());
  Registry::WriteString(Hive::LocalMachine, RegView::View64, kCompanionKey, L"InstallName",
                        plat::Utf8ToWide(box.Path("/opt/orbix/orbix")));
  EXPECT_FALSE(IsCompanionInstalled());
  box.WriteFile("/opt/orbix/orbix/keep", "");  // a folder is not the program
  EXPECT_FALSE(IsCompanionInstalled());
}

TEST(Companion, SixtyFourBitViewFirstThenThirtyTwo) {
  qevtest::Sandbox box;
  box.WriteFile("/opt/a/orbix", "a");
  box.WriteFile("/opt/b/orbix", "b");
  Registry::WriteString(Hive::LocalMachine, RegView::View64, kCompanionKey, L"InstallName",
                        plat::Utf8ToWide(box.Path("/opt/gone/orbix")));
  Registry::WriteString(Hive::LocalMachine, RegView::View32, kCompanionKey, L"InstallName",
                        plat::Utf8ToWide(box.Path("/opt/b/orbix")));
  EXPECT_EQ(box.Path("/opt/b/orbix"), GetCompanionInstallName());
  EXPECT_TRUE(IsCompanionInstalled());
  Registry::WriteString(Hive::LocalMachine, RegView::View64, kCompanionKey, L"InstallName",
                        plat::Utf8ToWide(box.Path("/opt/a/orbix")));
  EXPECT_EQ(box.Path("/opt/a/orbix"), GetCompanionInstallName());
}

TEST(SetCompatLayer, WritesBothViewsCutAtFifty) {
  qevtest::Sandbox box;
  const std::wstring key = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Layers";
  const std::string program = box.Path("/var/lib/Tessaro/setup x64.exe");
  const std::wstring layers = L"~ RUNASADMIN WIN7RTM " + std::wstring(40, L'X');
  EXPECT_TRUE(SetCompatLayer(program, layers));
  for (RegView view : {RegView::View64, RegView::View32}) {
    EXPECT_EQ(layers.substr(0, 50),
              Registry::ReadString(Hive::LocalMachine, view, key, plat::Utf8ToWide(program)).value_or(L"<missing>"));
  }
  EXPECT_TRUE(SetCompatLayer(program, L"WIN7RTM"));
  EXPECT_EQ(L"WIN7RTM", Registry::ReadString(Hive::LocalMachine, RegView::View32, key, plat::Utf8ToWide(program))
                            .value_or(L"<missing>"));
}

TEST(UserDword, ZeroWhenMissingElseStored) {
  qevtest::Sandbox box;
  const std::wstring key = L"Software\\Tessaro\\State";
  EXPECT_EQ(0u, ReadUserDword(key, L"Runs"));
  EXPECT_TRUE(WriteUserDword(key, L"Runs", 7));
  EXPECT_EQ(7u, ReadUserDword(key, L"Runs"));
  EXPECT_TRUE(WriteUserDword(key, L"Runs", 0xFFFFFFFFu));
  EXPECT_EQ(0xFFFFFFFFu, ReadUserDword(key, L"Runs"));
  EXPECT_FALSE(Registry::ReadDword(Hive::LocalMachine, RegView::Default, key, L"Runs").has_value());
}

const std::wstring kBrenox = L"Software\\Brenox";

TEST(Brenox, ReadingCreatesTheKeyInTheThirtyTwoBitView) {
  qevtest::Sandbox box;
  EXPECT_EQ(L"", ReadBrenoxDefault());
  EXPECT_TRUE(Registry::KeyExists(Hive::LocalMachine, RegView::View32, kBrenox));
  EXPECT_FALSE(Registry::KeyExists(Hive::LocalMachine, RegView::View64, kBrenox));
}

TEST(Brenox, FirstChannelBecomesTheDefaultLaterOnesOnlyTheirName) {
  qevtest::Sandbox box;
  EXPECT_TRUE(SetBrenoxValue(L"app-1", L"chan-a"));
  EXPECT_EQ(L"chan-a", ReadBrenoxDefault());
  EXPECT_TRUE(SetBrenoxValue(L"app-2", L"chan-b"));
  EXPECT_TRUE(SetBrenoxValue(L"app-1", L"chan-c"));
  EXPECT_EQ(L"chan-a", ReadBrenoxDefault());
  auto named = [](const wchar_t* name) {
    return Registry::ReadString(Hive::LocalMachine, RegView::View32, kBrenox, name).value_or(L"<missing>");
  };
  EXPECT_EQ(L"chan-c", named(L"app-1"));
  EXPECT_EQ(L"chan-b", named(L"app-2"));
  EXPECT_FALSE(Registry::ReadString(Hive::LocalMachine, RegView::View64, kBrenox, L"app-1").has_value());
}

TEST(Brenox, AnEmptyDefaultIsPresentAndKept) {
  qevtest::Sandbox box;
  Registry::WriteString(Hive::LocalMachine, RegView::View32, kBrenox, L"", L"");
  EXPECT_TRUE(SetBrenoxValue(L"app-1", L"chan-a"));
  EXPECT_EQ(L"", ReadBrenoxDefault());
}

TEST(Brenox, DefaultIsCutAtFifty) {
  qevtest::Sandbox box;
  SetBrenoxValue(L"app-1", std::wstring(80, L'c'));
  EXPECT_EQ(std::wstring(50, L'c'), ReadBrenoxDefault());
}

TEST(RunHidden, TrueOnlyForExitCodeZero) {
  qevtest::Sandbox box;
  EXPECT_TRUE(RunHidden(std::wstring(L"/bin/true")));
  EXPECT_FALSE(RunHidden(std::wstring(L"/bin/false")));
  EXPECT_TRUE(RunHidden(std::string("/bin/sh -c \"exit 0\"")));
  EXPECT_FALSE(RunHidden(std::string("/bin/sh -c \"exit 3\"")));
  EXPECT_FALSE(RunHidden(box.Path("/no/such/program")));
  EXPECT_FALSE(RunHidden(std::wstring()));
}

TEST(RunHidden, ProgramThatNeverEndsIsTerminatedAtTheLimit) {
  qevtest::Sandbox box;
  const std::string pidFile = box.Path("/pid");
  const std::string cmd = "/bin/sh -c \"echo $$ > '" + pidFile + "'; exec sleep 1000\"";
  EXPECT_FALSE(RunHidden(cmd, 300));
  const std::string text = box.ReadFile("/pid");
  ASSERT_FALSE(text.empty());
  const pid_t pid = static_cast<pid_t>(std::stol(text));
  ASSERT_GT(pid, 0);
  // Terminated and reaped: the id no longer names a process of ours.
  EXPECT_EQ(-1, kill(pid, 0));
  EXPECT_EQ(ESRCH, errno);
}

}  // namespace
