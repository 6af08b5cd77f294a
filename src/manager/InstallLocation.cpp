#include "manager/InstallLocation.h"

std::wstring LookupInstalledLocation(const std::wstring& /*productId*/, const std::wstring& /*brand*/) {
  // The product registrations are read by the installed-product detection, which is not
  // part of the installer yet: nothing is known to be installed.
  return std::wstring();
}

std::wstring InstallRootFromInstalledPath(const std::wstring& installedPath, const std::wstring& brand) {
  if (brand.empty()) return std::wstring();
  const std::wstring needle = L"/" + brand + L"/";
  std::wstring probe = installedPath;
  if (!probe.empty() && probe.back() != L'/') probe += L'/';
  const size_t pos = probe.find(needle);
  if (pos == std::wstring::npos) return std::wstring();
  return probe.substr(0, pos + 1);
}
