// Feeds arbitrary bytes to the resume trailer reader as a temporary file. Besides crashes it
// traps when an accepted trailer breaks what readers rely on (ranges inside the package, none
// overlapping, the file size matching the count) or does not survive being written again.
//
// Input: byte 0 picks how the package size is chosen, byte 1 is its parameter, the rest is
// the file. With bit 0 set the package size leaves a tail of 8 + 16k bytes, so the pair
// checks are reached; otherwise it is byte 1 - 8, so short, negative and odd sizes are too.
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "engine/CResumeTrailer.h"
#include "platform/TextConv.h"

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

// One in-memory file for the whole run, reopened by name through /proc.
int MemFile() {
  static const int fd = memfd_create("read_trailer", MFD_CLOEXEC);
  Check(fd >= 0);
  return fd;
}

void Fill(int fd, const uint8_t* data, size_t size) {
  Check(ftruncate(fd, 0) == 0);
  size_t done = 0;
  while (done < size) {
    const ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
    Check(n > 0);
    done += static_cast<size_t>(n);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t mode = data[0];
  const uint8_t param = data[1];
  const uint8_t* file = data + 2;
  const int64_t fileSize = static_cast<int64_t>(size - 2);
  int64_t total = static_cast<int64_t>(param) - 8;
  if (mode & 1) total = fileSize - (8 + 16 * static_cast<int64_t>(param % 32));

  const int fd = MemFile();
  Fill(fd, file, size - 2);
  const std::wstring path = plat::Utf8ToWide("/proc/self/fd/" + std::to_string(fd));

  std::map<int64_t, int64_t> ranges;
  const bool accepted = ns_KDL::CResumeTrailer::ReadTrailer(path, total, ranges);
  if (!accepted) {
    Check(ranges.empty());
    return 0;
  }

  Check(total > 0);
  Check(!ranges.empty());
  Check(fileSize == total + ns_KDL::CResumeTrailer::SizeFor(static_cast<int64_t>(ranges.size())));
  int64_t previousEnd = -1;
  int64_t missing = 0;
  std::vector<ns_KDL::ByteRange> list;
  for (const auto& [start, end] : ranges) {
    Check(start > previousEnd && start <= end && end < total);
    previousEnd = end;
    missing += end - start + 1;
    list.push_back({start, end});
  }
  Check(missing <= total);
  Check(ns_KDL::CResumeTrailer::CheckRanges(list, total) == nullptr);

  ns_KDL::ResumePlan plan;
  Check(ns_KDL::CResumeTrailer::ResumeFromTrailer(path, total, plan));
  Check(plan.ranges == list && plan.missing == missing && plan.cached == total - missing);

  // Written again (sorted) behind the same package bytes, it reads back the same.
  const std::string again = ns_KDL::CResumeTrailer::Encode(list);
  std::string rewritten(reinterpret_cast<const char*>(file), static_cast<size_t>(total));
  rewritten += again;
  Fill(fd, reinterpret_cast<const uint8_t*>(rewritten.data()), rewritten.size());
  std::map<int64_t, int64_t> reread;
  Check(ns_KDL::CResumeTrailer::ReadTrailer(path, total, reread));
  Check(reread == ranges);
  return 0;
}
