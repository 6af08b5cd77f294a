#pragma once
// The face through which a segment hands its bytes to the file being downloaded. The
// downloader implements it; every call is serialised by the implementation, so segments on
// different threads may call it at the same time.
#include <cstdint>

namespace ns_KDL {

class IFileWriter {
 public:
  virtual ~IFileWriter() = default;

  // Writes size bytes from data at offset (from the beginning of the file). Returns the
  // bytes written: size on success, 0 on any failure (nothing is written partly on purpose;
  // the caller's saved count then stops advancing, so the range stays listed as missing).
  virtual int64_t Write(int64_t offset, int64_t size, const void* data) = 0;
};

}  // namespace ns_KDL
