#include "engine/CCompletion.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <thread>

#include "engine/CFileLockers.h"
#include "engine/Md5.h"
#include "platform/UniqueFd.h"
#include "platform/TextConv.h"
#include "shell/simpleLog.h"

namespace ns_KDL {
namespace {

int64_t TickMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::string ToUpperAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

std::string UpperMd5Of(const std::wstring& path) { return ToUpperAscii(Md5OfFile(path)); }

// Opens an existing file for reading and writing without waiting on a lease: a lease holder
// makes the open fail with EWOULDBLOCK at once (and is told to let go) instead of blocking.
int OpenExistingReadWrite(const std::string& path) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

}  // namespace

CCompletion::CCompletion(std::wstring tempPath, std::wstring finalPath, int64_t total,
                         std::string expectedMd5)
    : m_tempPath(std::move(tempPath)),
      m_finalPath(std::move(finalPath)),
      m_total(total),
      m_expectedMd5(ToUpperAscii(std::move(expectedMd5))) {}

bool CCompletion::IsLockError(int error) {
  return error == EWOULDBLOCK || error == EAGAIN || error == ETXTBSY || error == EBUSY;
}

void CCompletion::Sleep(int ms) {
  if (m_sleep) {
    m_sleep(ms);
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void CCompletion::FlushAndClose(CFileWriter& writer) {
  if (!writer.IsOpen()) return;
  const int64_t begin = TickMs();
  int error = 0;
  const bool ok = writer.Flush(error);
  const int cost = static_cast<int>(TickMs() - begin);
  if (ok) {
    Log(3, "[INFO] multi, flush file buffers ok, cost=[%d]ms.", cost);
  } else {
    Log(1, "[ERROR] multi, flush file buffers failed! err=[%d], cost=[%d]ms.", error, cost);
  }
  writer.Close();
}

bool CCompletion::RemoveTrailer() {
  if (m_status != DS_SUCCESS) return false;
  const std::string path = plat::WideToUtf8(m_tempPath);
  for (int i = 1; i <= kMaxTries; ++i) {
    int error = 0;
    plat::UniqueFd fd(OpenExistingReadWrite(path));
    if (!fd.Valid()) {
      error = errno;
    } else if (m_total < 0 || ::ftruncate(fd.Get(), static_cast<off_t>(m_total)) != 0) {
      error = m_total < 0 ? EINVAL : errno;
    }
    fd.Reset();
    if (error == 0) return true;
    Log(1, "[ERROR] multi, remove cache info failed! err=[%d].", error);
    if (!IsLockError(error)) return false;
    CFileLockers::ReportFileLockers(m_tempPath);
    Sleep(i * 1000);
  }
  return false;
}

bool CCompletion::CheckFileSize(const std::wstring& path, bool report) {
  const std::string file = plat::WideToUtf8(path);
  struct stat st {};
  int64_t size = 0;
  int error = 0;
  if (::stat(file.c_str(), &st) == 0) {
    size = static_cast<int64_t>(st.st_size);
  } else {
    error = errno;
  }
  if (size == m_total) return true;
  if (report) {
    if (m_notify.onFileOperationFailed) m_notify.onFileOperationFailed(FAIL_SIZE, error);
    m_status = DS_FILE_SIZE_ERROR;
  }
  Log(1, "[ERROR] multi, check file size incorrect! local_size=[%lld], dst_size=[%lld]",
      static_cast<long long>(size), static_cast<long long>(m_total));
  return false;
}

bool CCompletion::Md5Matches(const std::string& md5) const {
  return !md5.empty() && m_expectedMd5.find(md5) != std::string::npos;
}

bool CCompletion::CheckMd5(const std::wstring& path, bool report) {
  if (m_expectedMd5.size() < 3) return false;
  bool matched = false;
  for (int r = 0; r < kMd5Checks && !matched; ++r) {
    if (r > 0) {
      Log(3, "[INFO] multi, check md5 retry=[%d/%d], delay=[%d]ms.", r, kMd5Checks, kMd5Delays[r]);
      Sleep(kMd5Delays[r]);
    }
    std::string md5 = UpperMd5Of(path);
    if (r == 0 && report && m_notify.onFileMd5) m_notify.onFileMd5(md5);
    if (Md5Matches(md5)) {
      Log(3, "[INFO] multi, check md5 ok .  retry=[%d], file_md5=[%s].", r, md5.c_str());
      matched = true;
      break;
    }
    Log(2, "[WARN] multi, check md5 failed! retry=[%d/%d], file_md5=[%s], expected=[%s].", r,
        kMd5Checks, md5.c_str(), m_expectedMd5.c_str());
    if (r != kMd5Checks - 1) continue;

    // Last chance: a cache that has not reached the disk yet is pushed out once more.
    Log(2, "[WARN] multi, all retries failed, try flush file buffers again.");
    plat::UniqueFd fd(OpenExistingReadWrite(plat::WideToUtf8(path)));
    if (!fd.Valid()) break;
    const int64_t begin = TickMs();
    if (::fsync(fd.Get()) == 0) {
      Log(3, "[INFO] multi, re-flush file buffers ok, cost=[%d]ms.", static_cast<int>(TickMs() - begin));
    }
    fd.Reset();
    Sleep(kReflushDelayMs);
    md5 = UpperMd5Of(path);
    if (Md5Matches(md5)) {
      Log(3, "[INFO] multi, check md5 ok after re-flush, file_md5=[%s].", md5.c_str());
      matched = true;
    } else {
      Log(1, "[ERROR] multi, check md5 still failed after re-flush! file_md5=[%s].", md5.c_str());
    }
  }
  if (!matched) {
    Log(1, "[ERROR] multi, check md5 failed after all retries!");
    if (report) m_status = DS_MD5_FAILED;
    return false;
  }
  if (report && m_notify.onMd5Matched) m_notify.onMd5Matched();
  return true;
}

bool CCompletion::RenameToFinal() {
  const std::string from = plat::WideToUtf8(m_tempPath);
  const std::string to = plat::WideToUtf8(m_finalPath);
  int error = 0;
  for (int i = 1; i <= kMaxTries; ++i) {
    ::unlink(to.c_str());  // rename replaces a file anyway; this clears what it would not
    const int rc = m_rename ? m_rename(from.c_str(), to.c_str()) : ::rename(from.c_str(), to.c_str());
    if (rc == 0) return true;
    error = errno;
    Log(1, "[ERROR] rename failed, try=%d, err=%d", i, error);
    if (IsLockError(error)) CFileLockers::ReportFileLockers(m_tempPath);
    Sleep(i * 1000);
  }
  Log(1, "[ERROR] multi, revert file name failed! error=[%d].", error);
  if (m_notify.onFileOperationFailed) m_notify.onFileOperationFailed(FAIL_RENAME, error);
  m_status = DS_FILE_OPERATION_FAILED;
  return false;
}

bool CCompletion::Complete(CFileWriter& writer) {
  FlushAndClose(writer);
  RemoveTrailer();
  if (!CheckFileSize(m_tempPath, true)) return false;
  if (m_expectedMd5.size() > 3 && !CheckMd5(m_tempPath, true)) return false;
  return RenameToFinal();
}

bool CCompletion::IsAlreadyDownloaded() {
  return CheckFileSize(m_finalPath, false) && CheckMd5(m_finalPath, false);
}

}  // namespace ns_KDL
