#pragma once
// The temporary file a task downloads into: created at the package's full size with its
// blocks reserved, written at the segments' offsets, and closed with the resume trailer
// (CResumeTrailer) behind the package's bytes when the task stops early.
//
// Thread safety: Write, WriteTrailer, Flush, OpenForWrite and Close may be called from any
// thread at the same time; file modifications are serialised by the file-write mutex.
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "engine/CResumeTrailer.h"
#include "engine/IFileWriter.h"
#include "platform/UniqueFd.h"

namespace ns_KDL {

class CFileWriter : public IFileWriter {
 public:
  // Results of CreateTempFile.
  enum CreateResult : int {
    CREATE_OK = 0,
    CREATE_OPEN_FAILED = 1,  // the file (or its folder) could not be created or opened
    CREATE_NO_SPACE = 2,     // the file could not reach its size: no room on the disk
    CREATE_EMPTY_PATH = 3,
  };

  // Reserves the blocks of the first length bytes of the file, as fallocate(2) with mode 0
  // does. Returns 0 or an errno value; EOPNOTSUPP makes the caller write zeros instead.
  using AllocateFn = int (*)(int fd, int64_t length);

  // Creates (replacing any old file) the temporary file at path with total bytes whose blocks
  // are reserved, so that a full disk shows here and not half-way through the download.
  // Creates the folder levels first. Returns a CreateResult; systemError gets the errno value
  // of the failure (0 on success). On failure no file is left behind. allocate replaces the
  // reservation call (tests); nullptr uses fallocate.
  static int CreateTempFile(const std::wstring& path, int64_t total, int& systemError,
                            AllocateFn allocate = nullptr);

  CFileWriter() = default;
  ~CFileWriter() override = default;
  CFileWriter(const CFileWriter&) = delete;
  CFileWriter& operator=(const CFileWriter&) = delete;

  // Opens the existing temporary file for reading and writing, closing any file held before.
  // total is the package size: the trailer goes there, and no data write may reach past it.
  // False (and logged) when the file cannot be opened.
  bool OpenForWrite(const std::wstring& path, int64_t total);
  bool IsOpen() const;

  // IFileWriter. size bytes at offset, or 0 when no file is open, the offset is negative,
  // the bytes would pass the package's end, or the write fails (each failure logged).
  int64_t Write(int64_t offset, int64_t size, const void* data) override;

  // Replaces the trailer behind the package with these missing ranges (an open end given as
  // total - 1). Ranges with start > end are complete and are left out. False, writing
  // nothing, when no range remains or the ranges cannot make a trailer (see
  // CResumeTrailer::CheckRanges); false (logged) when a write fails.
  //
  // Crash order: the old trailer is cut off first, then the file is extended with zeros to
  // the new length (a count of 0, which no reader accepts), the ranges are written and made
  // durable together with the package's bytes, and the count is written last. Stopping at
  // any point leaves either no trailer or a refused one, never a wrong one.
  bool WriteTrailer(const std::vector<ByteRange>& ranges);

  // Flushes the file's data to the disk. False with the errno value when it fails or no file
  // is open (EBADF).
  bool Flush(int& systemError);
  // Closes the file if one is open.
  void Close();

  // Tests only: called after each step of WriteTrailer (1 cut, 2 extend, 3 ranges, 4 sync);
  // returning false stops there as if the process had died.
  void SetTrailerStepHookForTesting(std::function<bool(int step)> hook);

 private:
  bool WriteAll(int fd, const void* data, int64_t size, int64_t offset, int& error);
  bool StepDone(int step);

  std::mutex m_trailerLock;  // one trailer write at a time; taken before m_writeLock
  mutable std::mutex m_writeLock;  // the file-write mutex
  plat::UniqueFd m_fd;
  int64_t m_total = 0;
  std::function<bool(int)> m_stepHook;
};

}  // namespace ns_KDL
