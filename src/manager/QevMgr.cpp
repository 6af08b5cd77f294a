#include "manager/QevMgr.h"

#include "platform/Folders.h"
#include "system/SystemInfo.h"

QevMgr::QevMgr() { ResetForTesting(); }

QevMgr& QevMgr::Instance() {
  static QevMgr mgr;
  return mgr;
}

void QevMgr::ResetForTesting() {
  m_product = ProductConfig{};
  m_runConfig.Status.clear();
  m_runConfig.JoinExp.clear();
  m_runConfig.SelectLang.clear();
  m_runConfig.InstallPath.clear();
  m_runConfig.AgreeExtInstall.clear();
  m_runConfig.TmpPackagePath.clear();
  m_runConfig.resumed = false;
  m_runConfig.fileName.clear();
  m_bFork = false;
  m_wstrHostVersion.clear();
  m_hostHwnd.reset();
  m_mainHwnd = 0;
  m_bIs64BitSystem = sizeof(void*) == 8 || IsWow64();
  m_bIsArm64 = IsArm64();
  std::string folder32, folder64;
  GetProgramFilesFolders(folder32, folder64);
  m_strDefaultInstallFolder = m_bIs64BitSystem ? folder64 : folder32;
  m_strConfigFolder.clear();
  m_wstrClipboardText.clear();
}
