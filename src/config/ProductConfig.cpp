#include "config/ProductConfig.h"

#include "config/XmlDocument.h"

const wchar_t* const kDefaultServerHost = L"http://platform.corvane.com/";
const wchar_t* const kDefaultLicenseUrl = L"https://www.corvane.com/license.html";

namespace {

// Reads a child of the current element when present; a missing child keeps the default.
void Read(XmlDocument& doc, const wchar_t* name, std::wstring& field) {
  std::wstring text;
  if (XmlDocument::GetChildText(doc, name, text)) field = text;
}

// Enters a child block and reads two of its children.
void ReadBlock(XmlDocument& doc, const wchar_t* block, const wchar_t* first, std::wstring& firstField,
               const wchar_t* second, std::wstring& secondField) {
  doc.ResetChildPos();
  if (!doc.FindChildElem(block)) return;
  doc.IntoElem();
  Read(doc, first, firstField);
  Read(doc, second, secondField);
  doc.OutOfElem();
}

void ReadDependents(XmlDocument& doc, ProductConfig& out) {
  doc.ResetChildPos();
  if (!doc.FindChildElem(L"Dependent")) return;
  doc.IntoElem();
  while (doc.FindChildElem(L"item")) {
    doc.IntoElem();
    DependentItem item;
    Read(doc, L"ProductID", item.ProductID);
    Read(doc, L"ProductName", item.ProductName);
    Read(doc, L"ProductExe", item.ProductExe);
    Read(doc, L"Url_Down", item.Url_Down);
    Read(doc, L"Url_Downx64", item.Url_Downx64);
    Read(doc, L"Url_Down_arm64", item.Url_Down_arm64);
    Read(doc, L"ForceInstall", item.ForceInstall);
    Read(doc, L"ProductArg", item.ProductArg);
    Read(doc, L"ProductInstallArg", item.ProductInstallArg);
    Read(doc, L"ProductInsCmple", item.ProductInsCmple);
    Read(doc, L"ForkInstall", item.ForkInstall);
    doc.OutOfElem();
    out.DependentIdsSeen.push_back(item.ProductID);
    const bool hasUrl = !item.Url_Down.empty() || !item.Url_Downx64.empty() || !item.Url_Down_arm64.empty();
    if (!item.ProductID.empty() && hasUrl) out.Dependents.push_back(std::move(item));
  }
  doc.OutOfElem();
}

}  // namespace

ProductConfigResult ParseProductConfig(const std::wstring& text, bool is64BitSystem, bool isArm64,
                                       ProductConfig& out) {
  XmlDocument doc;
  if (!doc.SetDoc(text)) return ProductConfigResult::NotWellFormed;
  doc.ResetPos();
  if (!doc.FindElem(L"Product")) return ProductConfigResult::NoProduct;

  Read(doc, L"ProductSkin", out.ProductSkin);
  Read(doc, L"ProductBrand", out.ProductBrand);
  Read(doc, L"ProductName", out.ProductName);
  Read(doc, L"ProductExe", out.ProductExe);
  Read(doc, L"ProductArg", out.ProductArg);
  Read(doc, L"FoldBottom", out.FoldBottom);
  Read(doc, L"ProductInstallArg", out.ProductInstallArg);
  Read(doc, L"ProductInsCmple", out.ProductInsCmple);
  Read(doc, L"CustomInstallPath", out.CustomInstallPath);
  Read(doc, L"PrivacyPost", out.PrivacyPost);
  Read(doc, L"IsAllowInstallAdminPath", out.IsAllowInstallAdminPath);
  out.ServerHost = kDefaultServerHost;
  Read(doc, L"ServerHost", out.ServerHost);
  if (out.ServerHost.empty() || out.ServerHost.back() != L'/') out.ServerHost += L'/';

  Read(doc, L"ProductID", out.ProductID);
  Read(doc, L"AppID", out.AppID);
  Read(doc, L"Channel", out.Channel);
  Read(doc, L"DownloadFirstUrl", out.DownloadFirstUrl);
  ReadBlock(doc, L"Downurl", L"OnlyUseLocalUrl", out.OnlyUseLocalUrl, L"Url_Down", out.Url_Down);
  if (is64BitSystem) {
    if (isArm64) {
      ReadBlock(doc, L"Downurl_arm64", L"OnlyUseLocalUrl", out.OnlyUseLocalUrl_arm64, L"Url_Down",
                out.Url_Down_arm64);
    }
    ReadBlock(doc, L"Downurl_x64", L"OnlyUseLocalUrl", out.OnlyUseLocalUrl_x64, L"Url_Down", out.Url_Down_x64);
  }

  Read(doc, L"InstallTime", out.InstallTime);
  ReadBlock(doc, L"Installurl", L"OnlyUseLocalUrl", out.OnlyUseLocalInstallUrl, L"Url_Install", out.Url_Install);
  Read(doc, L"Url_License", out.Url_License);
  if (out.Url_License.empty()) out.Url_License = kDefaultLicenseUrl;
  Read(doc, L"UserAgreementUrl", out.UserAgreementUrl);
  Read(doc, L"PrivacyAgreementUrl", out.PrivacyAgreementUrl);
  Read(doc, L"Languages", out.Languages);
  Read(doc, L"Dotnetminver", out.Dotnetminver);
  Read(doc, L"Dotneturl", out.Dotneturl);
  Read(doc, L"AgreeUserLicense", out.AgreeUserLicense);
  Read(doc, L"StartupProduct", out.StartupProduct);
  Read(doc, L"Url_Jump", out.Url_Jump);
  Read(doc, L"InstallErrorUrl", out.InstallErrorUrl);
  Read(doc, L"InstallSalvageTitle", out.InstallSalvageTitle);
  Read(doc, L"InstallSalvageContent", out.InstallSalvageContent);
  Read(doc, L"NotSupportWin32", out.NotSupportWin32);
  Read(doc, L"SceneCode", out.SceneCode);
  Read(doc, L"BannerImg", out.BannerImg);
  Read(doc, L"AllowRunTimeInstall", out.AllowRunTimeInstall);
  Read(doc, L"IsDelInstaller", out.IsDelInstaller);
  Read(doc, L"InstallerStorageDirectory", out.InstallerStorageDirectory);
  Read(doc, L"InstallationConfirmation", out.InstallationConfirmation);

  ReadDependents(doc, out);

  ReadBlock(doc, L"Clipboard", L"Access", out.ClipboardAccess, L"Keyword", out.ClipboardKeyword);
  return ProductConfigResult::Ok;
}
