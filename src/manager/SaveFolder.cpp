#include "manager/SaveFolder.h"

#include <cerrno>

#include "platform/Drives.h"
#include "platform/Folders.h"
#include "platform/TextConv.h"
#include "shell/simpleLog.h"
#include "system/SystemInfo.h"

namespace {

std::string BrandLevel(const std::wstring& brand) {
  return brand.empty() ? std::string() : plat::WideToUtf8(brand) + "/";
}

std::string BrandOrCorvane(const std::wstring& brand) {
  return brand.empty() ? std::string("Corvane/") : plat::WideToUtf8(brand) + "/";
}

std::string DownloadFolderOn(const std::string& driveRoot, const std::wstring& brand) {
  return driveRoot + BrandLevel(brand) + "Download/";
}

// The fixed drive with the most free space; the earlier drive wins a tie.
std::string LargestFreeDrive() {
  std::string best;
  uint64_t bestFree = 0;
  for (const std::string& drive : plat::ListFixedDrives()) {
    const uint64_t free = plat::FreeBytes(drive);
    if (best.empty() || free > bestFree) {
      best = drive;
      bestFree = free;
    }
  }
  return best;
}

}  // namespace

std::string LargestFreeDiskFolder(const std::wstring& brand) {
  const std::string drive = LargestFreeDrive();
  if (drive.empty() || drive == plat::SystemDriveRoot()) {
    const std::string folder = plat::CommonDocumentsFolder() + BrandOrCorvane(brand);
    plat::CreateFolderTree(folder);
    return folder;
  }
  const std::string folder = DownloadFolderOn(drive, brand);
  if (!plat::CreateFolderTree(folder)) Log(1, "[ERROR] create folder=[%s] failed!", folder.c_str());
  return folder;
}

std::string GetSaveFolder(const std::wstring& brand, bool newFolderMode) {
  std::string result;
  if (!newFolderMode) {
    for (const std::string& drive : plat::ListFixedDrives()) {
      const std::string candidate = DownloadFolderOn(drive, brand);
      if (!plat::IsDirectory(candidate)) continue;
      const std::string system = plat::SystemDriveRoot();
      const std::string largest = LargestFreeDrive();
      if (drive == system && !largest.empty() && largest != system) {
        Log(3, "[INFO] GetSaveFolder, existing folder on system disk=[%s], redirect to max free disk=[%s].",
            system.c_str(), largest.c_str());
      } else {
        result = candidate;
      }
      break;
    }
  }
  if (result.empty()) result = LargestFreeDiskFolder(brand);
  if (IsFolderWritable(result)) return result;

  Log(2, "[WARN] get default folder=[%s] failed, err=[%d].", result.c_str(), errno);
  result = plat::OwnExeFolder() + BrandOrCorvane(brand);
  plat::CreateFolderTree(result);
  if (IsFolderWritable(result)) return result;

  Log(2, "[WARN] get exe folder=[%s] failed, err=[%d].", result.c_str(), errno);
  result = plat::UserTempFolder() + BrandOrCorvane(brand);
  plat::CreateFolderTree(result);
  if (!IsFolderWritable(result)) Log(1, "[ERROR] get temp folder=[%s] failed! err=[%d].", result.c_str(), errno);
  return result;
}
