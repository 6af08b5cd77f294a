#pragma once
#include <string>

// Where an earlier install of the product lives, from the product registrations; empty
// when it is not installed.
std::wstring LookupInstalledLocation(const std::wstring& productId, const std::wstring& brand);

// The folder in front of the brand folder of an installed path ("/opt/Brand/App/" with
// brand "Brand" gives "/opt/"); empty when the path holds no folder named after the brand.
std::wstring InstallRootFromInstalledPath(const std::wstring& installedPath, const std::wstring& brand);
