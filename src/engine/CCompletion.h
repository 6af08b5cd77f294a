#pragma once
// Turns a finished temporary file into the package: flush and close, cut the resume trailer
// off, check size and MD5, rename to the final name. Every step retries on the transient
// failures that scanners and indexers cause on freshly written files.
//
// On this platform a "file locked by someone else" shows as EWOULDBLOCK (another process
// holds a lease on the file and is being asked to let go), ETXTBSY (the file is a running
// program) or EBUSY; those are the failures that name the lockers in the log.
//
// Not thread safe: one downloader thread drives one object.
#include <cstdint>
#include <functional>
#include <string>

#include "engine/CFileWriter.h"
#include "engine/DownloadStatus.h"

namespace ns_KDL {

class CCompletion {
 public:
  // Waits of the MD5 check, by check number 0-4, in milliseconds.
  static constexpr int kMd5Delays[5] = {0, 300, 600, 900, 1200};
  static constexpr int kMd5Checks = 5;
  // Trailer removal and rename: tries, and i seconds of waiting after the i-th failure.
  static constexpr int kMaxTries = 15;
  // The wait before the MD5 is computed again after the re-flush.
  static constexpr int kReflushDelayMs = 1000;

  // Kinds of OnFileOperationFailed.
  enum FailureKind : int32_t {
    FAIL_CREATE = 1,
    FAIL_RENAME = 2,
    FAIL_NO_SPACE = 3,
    FAIL_SIZE = 4,
  };

  // What the downloader forwards as its notifications; any may be empty.
  struct Notify {
    std::function<void(const std::string& md5)> onFileMd5;  // upper case, first check only
    std::function<void()> onMd5Matched;
    std::function<void(int32_t kind, int32_t error)> onFileOperationFailed;
  };

  using Sleeper = std::function<void(int ms)>;
  // rename(2) semantics: 0, or -1 with errno set.
  using RenameFn = std::function<int(const char* from, const char* to)>;

  // expectedMd5 may be empty or hold several digests separated by any character; it is
  // compared upper-cased.
  CCompletion(std::wstring tempPath, std::wstring finalPath, int64_t total, std::string expectedMd5);

  void SetNotify(Notify notify) { m_notify = std::move(notify); }
  // Replaces the real sleep for every wait (tests).
  void SetSleeper(Sleeper sleeper) { m_sleep = std::move(sleeper); }
  // Replaces rename(2) (tests).
  void SetRenameForTesting(RenameFn rename) { m_rename = std::move(rename); }

  // The attempt's status: 0 while nothing failed; set by the checks and the rename.
  int32_t Status() const { return m_status; }
  void SetStatus(int32_t status) { m_status = status; }

  // Flushes and closes the writer's file when one is open, logging the flush and its cost.
  static void FlushAndClose(CFileWriter& writer);

  // Cuts the file at the package size, retrying while another process locks it. Only when
  // the status is 0. The outcome changes nothing else: the size check catches a trailer
  // left behind. True when the file was cut.
  bool RemoveTrailer();

  // Whether the file at path has exactly the package size (0 when it cannot be read). With
  // report on a mismatch also notifies and sets status 12.
  bool CheckFileSize(const std::wstring& path, bool report);

  // Whether the file's MD5 is contained in the expected text, with up to five checks and a
  // re-flush before the last comparison. False at once when the expected text is shorter
  // than 3 characters. With report on it notifies and sets status 11 on failure.
  bool CheckMd5(const std::wstring& path, bool report);

  // Replaces any file at the final path with the temporary file, with up to 15 tries. False
  // after the last one, with a notification (kind 2) and status 9.
  bool RenameToFinal();

  // The whole completion of an attempt that ended with status 0: flush and close, trailer
  // removal, size check, MD5 check when the expected text is longer than 3 characters, rename.
  // True when all passed; otherwise Status() says why.
  bool Complete(CFileWriter& writer);

  // The final file is present with the package's size and a matching MD5 (no notifications,
  // no status). Never true without an expected MD5.
  bool IsAlreadyDownloaded();

  // The errors that mean another process holds the file.
  static bool IsLockError(int error);

 private:
  void Sleep(int ms);
  bool Md5Matches(const std::string& md5) const;

  std::wstring m_tempPath;
  std::wstring m_finalPath;
  int64_t m_total;
  std::string m_expectedMd5;  // upper case
  int32_t m_status = DS_SUCCESS;
  Notify m_notify;
  Sleeper m_sleep;
  RenameFn m_rename;
};

}  // namespace ns_KDL
