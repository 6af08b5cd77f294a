#include "engine/CFileWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/Folders.h"
#include "platform/TextConv.h"
#include "shell/simpleLog.h"

namespace ns_KDL {
namespace {

int SystemAllocate(int fd, int64_t length) {
  int rc;
  do {
    rc = ::fallocate(fd, 0, 0, static_cast<off_t>(length));
  } while (rc != 0 && errno == EINTR);
  return rc == 0 ? 0 : errno;
}

// For file systems without block reservation: writing zeros makes them allocate all the same.
int WriteZeros(int fd, int64_t length) {
  static const char kZeros[1 << 16] = {};
  int64_t offset = 0;
  while (offset < length) {
    const size_t chunk = static_cast<size_t>(std::min<int64_t>(sizeof kZeros, length - offset));
    const ssize_t n = ::pwrite(fd, kZeros, chunk, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return ENOSPC;
    offset += n;
  }
  return 0;
}

bool IsNoSpace(int error) { return error == ENOSPC || error == EDQUOT || error == EFBIG; }

// Extends the new file to total bytes with every block reserved: a CreateResult.
int ReachSize(int fd, int64_t total, CFileWriter::AllocateFn allocate, int& error) {
  if (total < 0) {
    error = EINVAL;
    return CFileWriter::CREATE_NO_SPACE;
  }
  if (total == 0) return CFileWriter::CREATE_OK;
  if (::ftruncate(fd, static_cast<off_t>(total)) != 0) {
    error = errno;
    return CFileWriter::CREATE_NO_SPACE;
  }
  int rc = allocate(fd, total);
  if (rc == EOPNOTSUPP || rc == ENOSYS) rc = WriteZeros(fd, total);
  if (rc == 0) return CFileWriter::CREATE_OK;
  error = rc;
  return IsNoSpace(rc) ? CFileWriter::CREATE_NO_SPACE : CFileWriter::CREATE_OPEN_FAILED;
}

}  // namespace

int CFileWriter::CreateTempFile(const std::wstring& path, int64_t total, int& systemError, AllocateFn allocate) {
  systemError = 0;
  if (path.empty()) return CREATE_EMPTY_PATH;
  if (!allocate) allocate = SystemAllocate;
  const std::string file = plat::WideToUtf8(path);

  struct stat st {};
  if (::lstat(file.c_str(), &st) == 0 && ::unlink(file.c_str()) != 0) {
    Log(2, "[WARN] before create, delete file=[%s], error=[%d].", file.c_str(), errno);
  }
  const size_t slash = file.rfind('/');
  if (slash != std::string::npos && slash > 0) plat::CreateFolderTree(file.substr(0, slash + 1));

  plat::UniqueFd fd(::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  int error = fd.Valid() ? 0 : errno;
  Log(3, "[INFO] create file=[%s], hFile=[%d], error=[%d].", file.c_str(), fd.Get(), error);
  if (!fd.Valid() && (error == EEXIST || error == ETXTBSY)) {
    // Someone else holds or just made the file: write into it as it is.
    fd.Reset(::open(file.c_str(), O_WRONLY | O_CLOEXEC));
    error = fd.Valid() ? 0 : errno;
    Log(3, "[INFO] open file=[%s] for write, hFile=[%d], error=[%d].", file.c_str(), fd.Get(), error);
  }
  if (!fd.Valid()) {
    systemError = error;
    return CREATE_OPEN_FAILED;
  }

  int result = ReachSize(fd.Get(), total, allocate, error);
  if (fd.Reset() != 0 && result == CREATE_OK) {
    error = errno;
    result = IsNoSpace(error) ? CREATE_NO_SPACE : CREATE_OPEN_FAILED;
  }
  if (result != CREATE_OK) {
    ::unlink(file.c_str());
    systemError = error;
  }
  return result;
}

bool CFileWriter::OpenForWrite(const std::wstring& path, int64_t total) {
  std::lock_guard<std::mutex> trailerGuard(m_trailerLock);
  std::lock_guard<std::mutex> guard(m_writeLock);
  m_fd.Reset();
  const std::string file = plat::WideToUtf8(path);
  m_fd.Reset(::open(file.c_str(), O_RDWR | O_CLOEXEC));
  if (!m_fd.Valid()) {
    Log(1, "[ERROR] multi, open file=[%s] for write failed! error=[%d].", file.c_str(), errno);
    return false;
  }
  m_total = total;
  return true;
}

bool CFileWriter::IsOpen() const {
  std::lock_guard<std::mutex> guard(m_writeLock);
  return m_fd.Valid();
}

bool CFileWriter::WriteAll(int fd, const void* data, int64_t size, int64_t offset, int& error) {
  const char* p = static_cast<const char*>(data);
  int64_t done = 0;
  while (done < size) {
    const ssize_t n = ::pwrite(fd, p + done, static_cast<size_t>(size - done), static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = n < 0 ? errno : ENOSPC;
      return false;
    }
    done += n;
  }
  return true;
}

int64_t CFileWriter::Write(int64_t offset, int64_t size, const void* data) {
  std::lock_guard<std::mutex> guard(m_writeLock);
  if (!m_fd.Valid()) return 0;
  if (offset < 0) {
    Log(1, "[ERROR] multi, write file data failed! seek failed, err=[%d].", EINVAL);
    return 0;
  }
  if (size <= 0 || !data) return 0;
  // The trailer lives behind the package; a data write must never reach it.
  if (m_total > 0 && (offset > m_total || size > m_total - offset)) {
    Log(1, "[ERROR] multi, write file data failed! write size=[%d], err=[%d].", static_cast<int>(size), EFBIG);
    return 0;
  }
  int error = 0;
  if (!WriteAll(m_fd.Get(), data, size, offset, error)) {
    Log(1, "[ERROR] multi, write file data failed! write size=[%d], err=[%d].", static_cast<int>(size), error);
    return 0;
  }
  return size;
}

bool CFileWriter::StepDone(int step) { return !m_stepHook || m_stepHook(step); }

bool CFileWriter::WriteTrailer(const std::vector<ByteRange>& input) {
  std::lock_guard<std::mutex> trailerGuard(m_trailerLock);
  std::vector<ByteRange> ranges;
  for (const ByteRange& r : input) {
    if (r.start <= r.end) ranges.push_back(r);
  }
  if (ranges.empty()) return false;

  int64_t total;
  int fd;
  {
    std::lock_guard<std::mutex> guard(m_writeLock);
    if (!m_fd.Valid()) return false;
    total = m_total;
    fd = m_fd.Get();
  }
  if (const char* why = CResumeTrailer::CheckRanges(ranges, total)) {
    Log(1, "[ERROR] multi, write cache info failed! bad ranges, reason=[%s].", why);
    return false;
  }
  const std::string bytes = CResumeTrailer::Encode(ranges);
  const int64_t pairBytes = static_cast<int64_t>(bytes.size()) - 8;

  // fd stays valid while m_trailerLock is held: OpenForWrite and Close take it first.
  auto setEnd = [&](int64_t length) {
    std::lock_guard<std::mutex> guard(m_writeLock);
    if (::ftruncate(fd, static_cast<off_t>(length)) == 0) return true;
    Log(1, "[ERROR] multi, write file data failed! set end, err=[%d].", errno);
    return false;
  };
  auto write = [&](const char* data, int64_t size, int64_t offset) {
    std::lock_guard<std::mutex> guard(m_writeLock);
    int error = 0;
    if (WriteAll(fd, data, size, offset, error)) return true;
    Log(1, "[ERROR] multi, write file data failed! write size=[%d], err=[%d].", static_cast<int>(size), error);
    return false;
  };
  auto fail = [] {
    Log(1, "[ERROR] multi, write cache info failed! write count.");
    return false;
  };

  if (!setEnd(total)) return fail();
  if (!StepDone(1)) return false;
  if (!setEnd(total + static_cast<int64_t>(bytes.size()))) return fail();
  if (!StepDone(2)) return false;
  if (!write(bytes.data(), pairBytes, total)) return fail();
  if (!StepDone(3)) return false;
  // The count makes the trailer valid, so the ranges and the package bytes they vouch for
  // reach the disk before it does. Segments may keep writing meanwhile.
  if (::fdatasync(fd) != 0) {
    Log(1, "[ERROR] multi, write cache info failed! sync, err=[%d].", errno);
    return fail();
  }
  if (!StepDone(4)) return false;
  if (!write(bytes.data() + pairBytes, 8, total + pairBytes)) return fail();
  return true;
}

bool CFileWriter::Flush(int& systemError) {
  std::lock_guard<std::mutex> trailerGuard(m_trailerLock);
  int fd;
  {
    std::lock_guard<std::mutex> guard(m_writeLock);
    fd = m_fd.Get();
  }
  if (fd < 0) {
    systemError = EBADF;
    return false;
  }
  if (::fsync(fd) != 0) {
    systemError = errno;
    return false;
  }
  systemError = 0;
  return true;
}

void CFileWriter::Close() {
  std::lock_guard<std::mutex> trailerGuard(m_trailerLock);
  std::lock_guard<std::mutex> guard(m_writeLock);
  m_fd.Reset();
}

void CFileWriter::SetTrailerStepHookForTesting(std::function<bool(int step)> hook) {
  std::lock_guard<std::mutex> trailerGuard(m_trailerLock);
  m_stepHook = std::move(hook);
}

}  // namespace ns_KDL
