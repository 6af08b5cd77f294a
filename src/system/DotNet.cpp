#include "system/DotNet.h"

#include <vector>

#include "platform/Registry.h"
#include "platform/TextConv.h"
#include "system/SystemInfo.h"

namespace {

using plat::Hive;
using plat::Registry;

const wchar_t kFrameworkKey[] = L"SOFTWARE\\Microsoft\\.NETFramework";
const wchar_t kSetupKey[] = L"Software\\Microsoft\\NET Framework Setup\\NDP";

// Leading decimal digits as a number, 0 when there are none; large values saturate
// instead of overflowing.
int LeadingNumber(const std::wstring& text) {
  long long v = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') break;
    v = v * 10 + (c - L'0');
    if (v > 1000000) return 1000000;
  }
  return static_cast<int>(v);
}

// The parts of a dotted text: "4.8.03761" -> {"4", "8", "03761"}.
std::vector<std::wstring> SplitDots(const std::wstring& text) {
  std::vector<std::wstring> parts;
  size_t start = 0;
  while (true) {
    const size_t dot = text.find(L'.', start);
    parts.push_back(text.substr(start, dot == std::wstring::npos ? std::wstring::npos : dot - start));
    if (dot == std::wstring::npos) break;
    start = dot + 1;
  }
  return parts;
}

int MajorOf(const std::wstring& dotted) { return LeadingNumber(SplitDots(dotted)[0]); }

int MinorOf(const std::wstring& dotted) {
  const std::vector<std::wstring> parts = SplitDots(dotted);
  return parts.size() > 1 ? LeadingNumber(parts[1]) : 0;
}

}  // namespace

bool IsDotNet2Present() {
  const plat::RegView view = MachineRegView();
  const std::wstring policy = std::wstring(kFrameworkKey) + L"\\policy\\";
  if (!Registry::KeyExists(Hive::LocalMachine, view, policy + L"v2.0") &&
      !Registry::KeyExists(Hive::LocalMachine, view, policy + L"v2.0.50727")) {
    return false;
  }
  const auto root = Registry::ReadString(Hive::LocalMachine, view, kFrameworkKey, L"InstallRoot");
  return root && !root->empty();
}

bool RunDotNetChecker(const std::wstring& commandLine) {
  if (commandLine.empty() || !IsDotNet2Present()) return false;
  const plat::RegView view = MachineRegView();
  // The shim would otherwise ask the user to install a framework; keep it quiet while the
  // checker runs, and take back only what we set.
  const auto noGui = Registry::ReadDword(Hive::LocalMachine, view, kFrameworkKey, L"NoGuiFromShim");
  bool setHere = false;
  if (!noGui || *noGui == 0) {
    setHere = Registry::WriteDword(Hive::LocalMachine, view, kFrameworkKey, L"NoGuiFromShim", 1);
  }
  // There are no critical-error or fault boxes to suppress here: a hidden run shows nothing.
  const bool ok = RunHidden(commandLine);
  if (setHere) Registry::DeleteValue(Hive::LocalMachine, view, kFrameworkKey, L"NoGuiFromShim");
  return ok;
}

bool RunDotNetChecker(const std::string& commandLine) { return RunDotNetChecker(plat::Utf8ToWide(commandLine)); }

bool IsDotNetVersionInstalled(const std::wstring& version) {
  const int wantMajor = MajorOf(version);
  const int wantMinor = MinorOf(version);
  if (wantMajor < 2 || wantMajor > 4) return false;

  const plat::RegView view = MachineRegView();
  for (const std::wstring& name : Registry::ListSubKeys(Hive::LocalMachine, view, kSetupKey)) {
    // "v2.0.50727", "v3.5", "v4": the major is the text after the 'v' up to the first dot.
    if (name.size() < 2) continue;
    const size_t dot = name.find(L'.');
    const std::wstring majorText = name.substr(1, dot == std::wstring::npos ? std::wstring::npos : dot - 1);
    if (majorText != L"2" && majorText != L"3" && majorText != L"4") continue;
    const int haveMajor = majorText[0] - L'0';

    std::wstring key = std::wstring(kSetupKey) + L"\\" + name;
    if (haveMajor == 4) key += L"\\Full";
    const auto install = Registry::ReadDword(Hive::LocalMachine, view, key, L"Install");
    if (!install || *install != 1) continue;
    const int haveMinor = MinorOf(Registry::ReadString(Hive::LocalMachine, view, key, L"Version").value_or(L""));

    const bool satisfies = haveMajor == 4
                               ? (wantMajor == 4 && haveMinor >= wantMinor)
                               : (wantMajor < haveMajor || (wantMajor == haveMajor && haveMinor >= wantMinor));
    if (satisfies) return true;
  }
  return false;
}
