#pragma once
// Who holds a file open: used when a truncate or rename keeps failing, so the log names the
// scanner or indexer in the way.
#include <sys/types.h>

#include <cstddef>
#include <string>
#include <vector>

namespace ns_KDL {

struct FileLocker {
  pid_t pid = 0;
  std::string name;  // the program's file name (UTF-8)
};

class CFileLockers {
 public:
  // The most processes listed for one file.
  static constexpr size_t kMaxListed = 10;

  // Other processes with an open descriptor on the file at path (the same file, whatever
  // name they opened it by), at most kMaxListed; this process is never listed. Empty when
  // the file does not exist. Processes whose descriptors we may not read are not seen.
  static std::vector<FileLocker> Find(const std::wstring& path);

  // Logs each process Find reports: "[WARN] process=[pid][name] locked the file=[path] ".
  static void ReportFileLockers(const std::wstring& path);
};

}  // namespace ns_KDL
