#pragma once
// The install manager: one process-wide object that owns what the installer knows about the
// run (product and run configuration, derived folders and flags). Other stages read its
// fields directly.
#include <cstdint>
#include <optional>
#include <string>

#include "config/ProductConfig.h"
#include "config/RunConfig.h"

class QevMgr {
 public:
  static QevMgr& Instance();

  // Reads the embedded product configuration and runs its follow-up steps. False when the
  // document is missing, empty, not UTF-8, not well-formed or has no "Product" root.
  bool LoadLocalXml();
  // Reads the run configuration file named by LoadLocalXml.
  void ReadRunConfig() { m_runConfig.Read(); }

  ProductConfig m_product;
  RunConfig m_runConfig;

  bool m_bFork = false;
  std::wstring m_wstrHostVersion;
  std::optional<uint32_t> m_hostHwnd;
  uint32_t m_mainHwnd = 0;

  bool m_bIs64BitSystem = false;
  bool m_bIsArm64 = false;

  // Folders are UTF-8 paths ending with '/'.
  std::string m_strConfigFolder;
  std::string m_strDefaultInstallFolder;
  std::wstring m_wstrClipboardText;

  // Tests only: back to the state right after construction.
  void ResetForTesting();

 private:
  QevMgr();
  void ComputeDefaultInstallFolder();
};
