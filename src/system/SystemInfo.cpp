#include "system/SystemInfo.h"

#include <sys/utsname.h>

#include <cctype>
#include <cstdio>
#include <unistd.h>

#include "platform/Drives.h"
#include "platform/Folders.h"
#include "platform/Process.h"
#include "platform/ResourceBundle.h"
#include "platform/TextConv.h"

namespace {

using plat::Hive;
using plat::Registry;
using plat::RegView;

constexpr size_t kMaxShortText = 50;

std::wstring Cut(std::wstring text, size_t max) {
  if (text.size() > max) text.resize(max);
  return text;
}

std::string BrandName(const std::wstring& brand) {
  return brand.empty() ? std::string("Corvane") : plat::WideToUtf8(brand);
}

// base (ending with '/') + brand + '/', created when missing.
std::string BrandFolderUnder(const std::string& base, const std::wstring& brand) {
  const std::string folder = plat::WithTrailingSlash(base) + BrandName(brand) + "/";
  plat::CreateFolderTree(folder);
  return folder;
}

std::string Release() {
  utsname u{};
  if (uname(&u) != 0) return std::string();
  return u.release;
}

std::wstring VersionText(const int v[4]) {
  return plat::Utf8ToWide(plat::Format("%d.%d.%d.%d", v[0], v[1], v[2], v[3]));
}

const wchar_t kBrenoxKey[] = L"Software\\Brenox\\";
const wchar_t kCompatKey[] = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Layers\\";
const wchar_t kCompanionKey[] = L"Software\\Corvane\\Corvane Orbix";

}  // namespace

bool IsWow64() { return false; }

bool IsArm64() {
  utsname u{};
  if (uname(&u) != 0) return false;
  const std::string machine = u.machine;
  return machine == "aarch64" || machine == "arm64";
}

RegView MachineRegView() { return IsWow64() ? RegView::View32 : RegView::Default; }

std::wstring VersionTextFromRelease(const std::string& release) {
  // "6.1.0-18-amd64" -> "6.1.0"; the build suffix is not a number of the version.
  int parts[3] = {0, 0, 0};
  size_t pos = 0;
  for (int i = 0; i < 3; ++i) {
    if (pos >= release.size() || !std::isdigit(static_cast<unsigned char>(release[pos]))) {
      if (i == 0) return std::wstring();
      break;
    }
    long v = 0;
    while (pos < release.size() && std::isdigit(static_cast<unsigned char>(release[pos]))) {
      if (v < 1000000) v = v * 10 + (release[pos] - '0');
      ++pos;
    }
    parts[i] = static_cast<int>(v);
    if (pos >= release.size() || release[pos] != '.') break;
    ++pos;
  }
  return plat::Utf8ToWide(plat::Format("%d.%d.%d", parts[0], parts[1], parts[2]));
}

std::wstring GetWindowsVersionText() { return VersionTextFromRelease(Release()); }

int GetWindowsMajorVersion() {
  const std::wstring text = GetWindowsVersionText();
  int major = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') break;
    major = major * 10 + (c - L'0');
  }
  return major;
}

std::wstring GetIEVersion() {
  const auto v = Registry::ReadString(Hive::LocalMachine, MachineRegView(), L"Software\\Microsoft\\Internet Explorer",
                                      L"Version");
  return v ? Cut(*v, kMaxShortText) : std::wstring(L"-");
}

bool GetFileVersion(const std::string& path, std::wstring& out) {
  out.clear();
  int v[4] = {0, 0, 0, 0};
  if (!plat::ReadFileVersion(path, v)) return false;
  out = VersionText(v);
  return true;
}

std::string GetOwnPath() { return plat::OwnExePath(); }
std::string GetOwnFileName() { return plat::OwnExeFileName(); }

std::wstring GetOwnVersion() {
  const plat::Resource* r = plat::ResourceBundle::Own().Find("VERSION", 1);
  int v[4] = {0, 0, 0, 0};
  if (!r || !plat::ParseVersionResource(r->bytes, v)) return std::wstring();
  return VersionText(v);
}

bool GetProgramFilesFolders(std::string& out32, std::string& out64) {
  out32 = plat::ProgramFilesFolder();
  out64 = out32;
  return true;
}

bool IsInSystemFolder(const std::string& path) {
  if (path.empty()) return false;
  // Prefix, not substring: the system's folders carry a drive letter, so containing one
  // meant starting with it. Bare "/usr/" found anywhere would also flag "/home/al/usr/" or
  // another drive's "/mnt/d/opt/", which are ordinary user folders.
  const std::string probe = plat::WithTrailingSlash(path);
  std::vector<std::string> folders = plat::SystemFolders();
  if (folders.empty()) return false;
  folders.push_back(plat::ProgramFilesFolder());
  for (const std::string& f : folders) {
    const std::string prefix = plat::WithTrailingSlash(f);
    if (probe.compare(0, prefix.size(), prefix) == 0) return true;
  }
  return false;
}

bool IsFolderWritable(const std::string& folder) {
  if (folder.empty()) return false;
  const std::string probe = plat::WithTrailingSlash(folder) + "qev.tmp";
  FILE* f = std::fopen(probe.c_str(), "wb");
  if (!f) return false;
  std::fclose(f);
  unlink(probe.c_str());
  return true;
}

uint64_t GetDiskFreeBytes(const std::string& folder) { return plat::FreeBytes(folder); }

std::vector<std::string> ListFixedDrives() { return plat::ListFixedDrives(); }

std::string GetBrandDataFolder(const std::wstring& brand) {
  return BrandFolderUnder(plat::CommonAppDataFolder(), brand);
}

std::string GetBrandTempFolder(const std::wstring& brand) { return BrandFolderUnder(plat::UserTempFolder(), brand); }

std::string GetBrandExeFolder(const std::wstring& brand) {
  const std::string own = plat::OwnExeFolder();
  if (own.empty()) return std::string();
  return BrandFolderUnder(own, brand);
}

std::string GetUserLocalAppData() { return plat::UserLocalAppDataFolder(); }

std::string GetCompanionInstallName() {
  for (RegView view : {RegView::View64, RegView::View32}) {
    const auto name = Registry::ReadString(Hive::LocalMachine, view, kCompanionKey, L"InstallName");
    if (!name || name->empty()) continue;
    const std::string path = plat::WideToUtf8(*name);
    if (plat::IsRegularFile(path)) return path;
  }
  return std::string();
}

bool IsCompanionInstalled() { return !GetCompanionInstallName().empty(); }

bool SetCompatLayer(const std::string& programPath, const std::wstring& layers) {
  const std::wstring name = plat::Utf8ToWide(programPath);
  const std::wstring data = Cut(layers, kMaxShortText);
  bool all = true;
  for (RegView view : {RegView::View64, RegView::View32}) {
    all = Registry::WriteString(Hive::LocalMachine, view, kCompatKey, name, data) && all;
  }
  return all;
}

uint32_t ReadUserDword(const std::wstring& key, const std::wstring& name) {
  return Registry::ReadDword(Hive::CurrentUser, RegView::Default, key, name).value_or(0);
}

bool WriteUserDword(const std::wstring& key, const std::wstring& name, uint32_t value) {
  return Registry::WriteDword(Hive::CurrentUser, RegView::Default, key, name, value);
}

// The channel record belongs to the 32-bit view, where the product's own setup programs
// have always looked for it.
std::wstring ReadBrenoxDefault() {
  if (!Registry::CreateKey(Hive::LocalMachine, RegView::View32, kBrenoxKey)) return std::wstring();
  return Cut(Registry::ReadString(Hive::LocalMachine, RegView::View32, kBrenoxKey, L"").value_or(L""),
             kMaxShortText);
}

bool SetBrenoxValue(const std::wstring& name, const std::wstring& text) {
  if (!Registry::CreateKey(Hive::LocalMachine, RegView::View32, kBrenoxKey)) return false;
  if (!Registry::ReadString(Hive::LocalMachine, RegView::View32, kBrenoxKey, L"")) {
    Registry::WriteString(Hive::LocalMachine, RegView::View32, kBrenoxKey, L"", text);
  }
  return Registry::WriteString(Hive::LocalMachine, RegView::View32, kBrenoxKey, name, text);
}

bool RunHidden(const std::wstring& commandLine, int timeoutMs) {
  return RunHidden(plat::WideToUtf8(commandLine), timeoutMs);
}

bool RunHidden(const std::string& commandLine, int timeoutMs) {
  if (commandLine.empty()) return false;
  if (timeoutMs < 0 || timeoutMs > kRunHiddenLimitMs) timeoutMs = kRunHiddenLimitMs;
  return plat::RunHiddenWithTimeout(commandLine, timeoutMs);
}
