#pragma once
// The product configuration embedded in each installer: which product, where its packages
// come from, which pages it links to and how the installer behaves. Values are kept as text
// exactly as read; flags are compared with "1" (or "true") by their users.
#include <string>
#include <vector>

struct DependentItem {
  std::wstring ProductID;
  std::wstring ProductName;
  std::wstring ProductExe;
  std::wstring Url_Down;
  std::wstring Url_Downx64;
  std::wstring Url_Down_arm64;
  std::wstring ForceInstall = L"true";
  std::wstring ProductArg;
  std::wstring ProductInstallArg;
  std::wstring ProductInsCmple;
  std::wstring ForkInstall;
};

struct ProductConfig {
  std::wstring ProductSkin;
  std::wstring ProductBrand;
  std::wstring ProductName;
  std::wstring ProductExe;
  std::wstring ProductArg;
  std::wstring FoldBottom = L"1";
  std::wstring ProductInstallArg;
  std::wstring ProductInsCmple;
  std::wstring CustomInstallPath;
  std::wstring PrivacyPost = L"1";
  std::wstring IsAllowInstallAdminPath;
  std::wstring ServerHost;  // always ends with "/" after loading
  std::wstring ProductID;
  std::wstring AppID;
  std::wstring Channel;
  std::wstring DownloadFirstUrl;
  std::wstring OnlyUseLocalUrl;        // Downurl
  std::wstring Url_Down;               // Downurl: x86 package
  std::wstring OnlyUseLocalUrl_x64;    // Downurl_x64
  std::wstring Url_Down_x64;
  std::wstring OnlyUseLocalUrl_arm64;  // Downurl_arm64
  std::wstring Url_Down_arm64;
  std::wstring InstallTime;
  std::wstring OnlyUseLocalInstallUrl;  // Installurl
  std::wstring Url_Install;
  std::wstring Url_License;
  std::wstring UserAgreementUrl;
  std::wstring PrivacyAgreementUrl;
  std::wstring Languages;
  std::wstring Dotnetminver;
  std::wstring Dotneturl;
  std::wstring AgreeUserLicense;
  std::wstring StartupProduct;
  std::wstring Url_Jump;
  std::wstring InstallErrorUrl;
  std::wstring InstallSalvageTitle;
  std::wstring InstallSalvageContent;
  std::wstring NotSupportWin32;
  std::wstring SceneCode;
  std::wstring BannerImg;
  std::wstring AllowRunTimeInstall;
  std::wstring IsDelInstaller = L"0";
  std::wstring InstallerStorageDirectory = L"0";
  std::wstring InstallationConfirmation = L"0";
  std::wstring ClipboardAccess;
  std::wstring ClipboardKeyword;

  // Items that have a product id and at least one package address, in document order.
  std::vector<DependentItem> Dependents;
  // Every "item" seen, qualifying or not, in document order (for the log).
  std::vector<std::wstring> DependentIdsSeen;
};

// Deployment defaults of the maker.
extern const wchar_t* const kDefaultServerHost;
extern const wchar_t* const kDefaultLicenseUrl;

enum class ProductConfigResult { Ok, NotWellFormed, NoProduct };

// Parses the document text. The 64-bit package blocks are read only on a 64-bit system,
// the Arm64 block only on an Arm64 machine. On failure `out` keeps what was read so far.
ProductConfigResult ParseProductConfig(const std::wstring& text, bool is64BitSystem, bool isArm64,
                                       ProductConfig& out);
