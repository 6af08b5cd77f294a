#include "system/DotNet.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>
#include <vector>

#include "platform/Registry.h"
#include "platform/TextConv.h"
#include "support/Sandbox.h"
#include "system/SystemInfo.h"

namespace {

using plat::Hive;
using plat::Registry;
using plat::RegView;

const std::wstring kNdp = L"Software\\Microsoft\\NET Framework Setup\\NDP\\";
const std::wstring kFramework = L"SOFTWARE\\Microsoft\\.NETFramework";

// One framework record as a setup leaves it: sub-key (relative to NDP), Install, Version.
struct Installed {
  const wchar_t* key;
  std::optional<uint32_t> install;
  const wchar_t* version;
};

void WriteRecord(const Installed& r) {
  const std::wstring key = kNdp + r.key;
  Registry::CreateKey(Hive::LocalMachine, RegView::Default, key);
  if (r.install) Registry::WriteDword(Hive::LocalMachine, RegView::Default, key, L"Install", *r.install);
  if (r.version) Registry::WriteString(Hive::LocalMachine, RegView::Default, key, L"Version", r.version);
}

struct VersionCase {
  std::vector<Installed> installed;
  const wchar_t* required;
  bool expected;
};

class DotNetVersionTable : public ::testing::TestWithParam<VersionCase> {};

TEST_P(DotNetVersionTable, Decides) {
  qevtest::Sandbox box;
  for (const Installed& r : GetParam().installed) WriteRecord(r);
  EXPECT_EQ(GetParam().expected, IsDotNetVersionInstalled(GetParam().required))
      << plat::WideToUtf8(GetParam().required);
}

const Installed k48{L"v4\\Full", 1u, L"4.8.03761"};
const Installed k35{L"v3.5", 1u, L"3.5.30729.4926"};
const Installed k20{L"v2.0.50727", 1u, L"2.0.50727.4927"};

INSTANTIATE_TEST_SUITE_P(
    Table, DotNetVersionTable,
    ::testing::Values(
        // 4.x satisfies only 4.x requirements.
        VersionCase{{k48}, L"4.5", true}, VersionCase{{k48}, L"4.8", true}, VersionCase{{k48}, L"4.8.1", true},
        VersionCase{{k48}, L"4.9", false}, VersionCase{{k48}, L"3.5", false}, VersionCase{{k48}, L"2.0", false},
        VersionCase{{k48}, L"4", true},
        // 2.x and 3.x also satisfy lower majors.
        VersionCase{{k35}, L"2.0", true}, VersionCase{{k35}, L"3.0", true}, VersionCase{{k35}, L"3.5", true},
        VersionCase{{k35}, L"3.6", false}, VersionCase{{k35}, L"4.0", false}, VersionCase{{k20}, L"2.0", true},
        VersionCase{{k20}, L"2.1", false}, VersionCase{{k20}, L"3.0", false},
        // Any satisfying record will do.
        VersionCase{{k20, k48}, L"4.5", true}, VersionCase{{k48, k35}, L"3.5", true},
        // Install must be exactly 1.
        VersionCase{{{L"v3.5", 0u, L"3.5.30729"}}, L"3.5", false},
        VersionCase{{{L"v3.5", 2u, L"3.5.30729"}}, L"3.5", false},
        VersionCase{{{L"v3.5", std::nullopt, L"3.5.30729"}}, L"3.5", false},
        // For 4.x only the "Full" record counts.
        VersionCase{{{L"v4", 1u, L"4.8.03761"}}, L"4.0", false},
        VersionCase{{{L"v4\\Client", 1u, L"4.8.03761"}}, L"4.0", false},
        VersionCase{{{L"v4.0", 1u, L"4.0.0.0"}}, L"4.0", false},
        // A missing version text reads as minor 0.
        VersionCase{{{L"v4\\Full", 1u, nullptr}}, L"4.0", true},
        VersionCase{{{L"v4\\Full", 1u, nullptr}}, L"4.5", false},
        // Required majors outside 2 to 4, and records of other majors, never count.
        VersionCase{{k48, k35, k20}, L"1.1", false}, VersionCase{{k48}, L"5.0", false},
        VersionCase{{k48}, L"", false}, VersionCase{{k48}, L"abc", false},
        VersionCase{{{L"v1.1.4322", 1u, L"1.1.4322"}}, L"2.0", false},
        VersionCase{{{L"v5.0", 1u, L"5.0.0"}}, L"4.0", false},
        VersionCase{{{L"CDF", 1u, L"4.0.0"}, {L"v", 1u, L"4.0"}}, L"2.0", false},
        VersionCase{{{L"v44\\Full", 1u, L"44.0"}}, L"4.0", false},
        // Nothing installed.
        VersionCase{{}, L"2.0", false}));

TEST(IsDotNetVersionInstalled, ReadsTheDefaultViewOnly) {
  qevtest::Sandbox box;
  Registry::WriteDword(Hive::LocalMachine, RegView::View32, kNdp + L"v4\\Full", L"Install", 1);
  Registry::WriteString(Hive::LocalMachine, RegView::View32, kNdp + L"v4\\Full", L"Version", L"4.8.0");
  EXPECT_FALSE(IsDotNetVersionInstalled(L"4.0"));
}

void InstallDotNet2(const wchar_t* policyKey, const wchar_t* installRoot) {
  if (policyKey) Registry::CreateKey(Hive::LocalMachine, RegView::Default, kFramework + L"\\policy\\" + policyKey);
  if (installRoot) Registry::WriteString(Hive::LocalMachine, RegView::Default, kFramework, L"InstallRoot", installRoot);
}

TEST(IsDotNet2Present, NeedsAPolicyKeyAndAnInstallRoot) {
  {
    qevtest::Sandbox box;
    EXPECT_FALSE(IsDotNet2Present());
    InstallDotNet2(nullptr, L"/opt/dotnet/");
    EXPECT_FALSE(IsDotNet2Present());
    InstallDotNet2(L"v2.0", nullptr);
    EXPECT_TRUE(IsDotNet2Present());
  }
  {
    qevtest::Sandbox box;
    InstallDotNet2(L"v2.0.50727", L"/opt/dotnet/");
    EXPECT_TRUE(IsDotNet2Present());
  }
  {
    qevtest::Sandbox box;
    InstallDotNet2(L"v2.0.50727", L"");
    EXPECT_FALSE(IsDotNet2Present());
  }
  {
    qevtest::Sandbox box;
    InstallDotNet2(L"v1.1", L"/opt/dotnet/");
    EXPECT_FALSE(IsDotNet2Present());
  }
}

std::optional<uint32_t> NoGui() {
  return Registry::ReadDword(Hive::LocalMachine, RegView::Default, kFramework, L"NoGuiFromShim");
}

TEST(RunDotNetChecker, RefusesWithoutDotNet2OrCommandLine) {
  qevtest::Sandbox box;
  EXPECT_FALSE(RunDotNetChecker(std::wstring(L"/bin/true")));
  InstallDotNet2(L"v2.0", L"/opt/dotnet/");
  EXPECT_FALSE(RunDotNetChecker(std::wstring()));
}

TEST(RunDotNetChecker, ReportsTheCheckersResultAndTakesBackTheShimSwitch) {
  qevtest::Sandbox box;
  InstallDotNet2(L"v2.0", L"/opt/dotnet/");
  EXPECT_TRUE(RunDotNetChecker(std::wstring(L"/bin/true")));
  EXPECT_FALSE(NoGui().has_value());
  EXPECT_FALSE(RunDotNetChecker(std::string("/bin/false")));
  EXPECT_FALSE(NoGui().has_value());

  // A switch that was already on belongs to someone else and stays.
  Registry::WriteDword(Hive::LocalMachine, RegView::Default, kFramework, L"NoGuiFromShim", 1);
  EXPECT_TRUE(RunDotNetChecker(std::wstring(L"/bin/true")));
  EXPECT_EQ(1u, NoGui().value_or(0));

  // Off (0) is switched on for the run and then removed.
  Registry::WriteDword(Hive::LocalMachine, RegView::Default, kFramework, L"NoGuiFromShim", 0);
  EXPECT_TRUE(RunDotNetChecker(std::wstring(L"/bin/true")));
  EXPECT_FALSE(NoGui().has_value());
}

TEST(RunDotNetChecker, TheShimSwitchIsOnWhileTheCheckerRuns) {
  const std::string reg = qevtest::BinPath("qev-reg");
  if (access(reg.c_str(), X_OK) != 0) GTEST_SKIP() << "qev-reg not built";
  qevtest::Sandbox box;
  InstallDotNet2(L"v2.0", L"/opt/dotnet/");
  // The checker succeeds only when it sees the switch on; the sandbox is inherited.
  box.WriteFile("/check.sh", "#!/bin/sh\n[ \"$('" + reg + "' read HKLM 'SOFTWARE\\Microsoft\\.NETFramework' NoGuiFromShim)\" = 1 ]\n");
  ASSERT_EQ(0, chmod(box.Path("/check.sh").c_str(), 0755));
  ASSERT_FALSE(RunHidden(box.Path("/check.sh")));  // switch off: the checker fails
  EXPECT_TRUE(RunDotNetChecker(box.Path("/check.sh")));
  EXPECT_FALSE(NoGui().has_value());
}

}  // namespace
