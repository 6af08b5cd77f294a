#include <cwchar>

#include "manager/InstallLocation.h"
#include "manager/QevMgr.h"
#include "manager/SaveFolder.h"
#include "platform/Clipboard.h"
#include "platform/Drives.h"
#include "platform/Folders.h"
#include "platform/ResourceBundle.h"
#include "platform/TextConv.h"
#include "reporting/TrackRecord.h"
#include "shell/simpleLog.h"
#include "system/SystemInfo.h"

namespace {

constexpr uint32_t kProductConfigResource = 106;

std::string Narrow(const std::wstring& text) { return plat::WideToAnsi(text); }

}  // namespace

void QevMgr::ComputeDefaultInstallFolder() {
  // The server's custom install path comes first once the server configuration is read.
  std::wstring candidate = m_product.CustomInstallPath;
  if (!candidate.empty()) {
    if (plat::EqualsNoCase(candidate, L"%localappdata%")) {
      candidate = plat::Utf8ToWide(GetUserLocalAppData());
    } else {
      // Only a path on a drive that is there counts.
      const std::string path = plat::WideToUtf8(candidate);
      const std::string drive = path.empty() || path[0] != '/' ? std::string() : plat::DriveRootOf(path);
      if (drive.empty() || !plat::PathExists(drive)) candidate.clear();
    }
  }
  if (candidate.empty()) {
    candidate = InstallRootFromInstalledPath(LookupInstalledLocation(m_product.ProductID, m_product.ProductBrand),
                                             m_product.ProductBrand);
  }
  if (candidate.empty()) return;
  if (candidate.back() != L'/') candidate += L'/';
  m_strDefaultInstallFolder = plat::WideToUtf8(candidate);
}

bool QevMgr::LoadLocalXml() {
  Log(3, "[INFO] LoadLocalXml");
  const plat::Resource* res = plat::ResourceBundle::Own().Find("XML", kProductConfigResource);
  if (!res) {
    Log(1, "[ERROR] LoadLocalXml, find failed!");
    return false;
  }
  if (res->bytes.empty()) {
    Log(1, "[ERROR] LoadLocalXml, size error!");
    return false;
  }
  // A document that is not UTF-8 would be read with '?' in place of its bad bytes and could
  // yield wrong addresses; it is refused like a broken one.
  const ProductConfigResult parsed =
      plat::IsValidUtf8(res->bytes)
          ? ParseProductConfig(plat::Utf8ToWide(res->bytes), m_bIs64BitSystem, m_bIsArm64, m_product)
          : ProductConfigResult::NotWellFormed;
  if (parsed == ProductConfigResult::NotWellFormed) {
    Log(1, "[ERROR] LoadLocalXml err 3");
    return false;
  }
  if (parsed == ProductConfigResult::NoProduct) {
    Log(1, "[ERROR] LoadLocalXml, not find product.");
    return false;
  }

  TrackRecord& track = TrackRecord::Instance();
  track.SetPlatformHost(m_product.ServerHost);

  m_strConfigFolder = GetSaveFolder(m_product.ProductBrand, false);
  Log(3, "[INFO] config folder=[%s].", m_strConfigFolder.c_str());
  m_runConfig.fileName = m_strConfigFolder + "QEV_DOWNTASK_" + Narrow(m_product.ProductID) + ".xml";

  for (const std::wstring& pid : m_product.DependentIdsSeen) {
    Log(3, "[INFO] LoadLocalXml, dependent.item pid=[%s].", Narrow(pid).c_str());
  }
  for (const DependentItem& item : m_product.Dependents) {
    track.SetBoundForce(static_cast<int>(std::wcstol(item.ProductID.c_str(), nullptr, 10)),
                        item.ForceInstall == L"true" ? 1 : 0);
  }

  m_wstrClipboardText.clear();
  if (m_product.ClipboardAccess == L"1" && !m_product.ClipboardKeyword.empty()) {
    std::string clip;
    const std::string keyword = Narrow(m_product.ClipboardKeyword);
    if (plat::GetClipboardText(clip) && clip.compare(0, keyword.size(), keyword) == 0) {
      m_wstrClipboardText = plat::AnsiToWide(clip);
    }
  }

  const std::wstring channelName = m_product.AppID.empty() ? m_product.ProductID : m_product.AppID;
  SetBrenoxValue(channelName, m_product.Channel);

  ComputeDefaultInstallFolder();

  SetTrackText("product_id", m_product.ProductID);
  SetTrackText("client_sign", GetClientSign(m_product.ProductBrand));
  SetTrackText("channel", m_product.Channel);
  SetTrackText("defchannel", ReadBrenoxDefault());
  SetTrackText("scene_code", m_product.SceneCode);

  // The product series post belongs to the log-upload service, which follows later; its
  // answer never decides start-up.
  return true;
}
