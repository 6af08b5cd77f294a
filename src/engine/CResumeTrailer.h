#pragma once
// The resume trailer: the byte ranges of a package still missing, kept behind the package's
// bytes in its temporary file so that a later task fetches only those.
//
// Layout, every field a signed 64-bit little-endian integer, starting at offset total (the
// package size):
//   total + 16*i      start of missing range i
//   total + 16*i + 8  end of missing range i (inclusive)
//   total + 16*n      n, the number of ranges (at least 1)
// so the file is exactly total + 16*n + 8 bytes long. A file of exactly total bytes has no
// trailer. Readers rely on no order of the ranges.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace ns_KDL {

// A byte range of the package, both ends inclusive.
struct ByteRange {
  int64_t start = 0;
  int64_t end = 0;
  bool operator==(const ByteRange&) const = default;
};

// What a resumed task still has to fetch.
struct ResumePlan {
  std::vector<ByteRange> ranges;  // ascending by start
  int64_t cached = 0;             // bytes of the package already in the file
  int64_t missing = 0;            // sum of the ranges' lengths
};

class CResumeTrailer {
 public:
  // More ranges than any download runs at once; a count above it is refused, which also
  // bounds what a reader keeps for an untrusted file.
  static constexpr int64_t kMaxRanges = 65536;

  // Bytes a trailer of n ranges takes behind the package.
  static constexpr int64_t SizeFor(int64_t n) { return 16 * n + 8; }

  // Why these ranges cannot make a trailer for a package of total bytes, or nullptr when
  // they can: at least one and at most kMaxRanges ranges, 0 <= start <= end < total, no two
  // overlapping.
  static const char* CheckRanges(const std::vector<ByteRange>& ranges, int64_t total);

  // The trailer bytes for the ranges, in their order (no checks).
  static std::string Encode(const std::vector<ByteRange>& ranges);

  // Reads the trailer of the temporary file at path into start -> end. False, with ranges
  // empty and a log line saying why, when the file has no trailer or the trailer is short,
  // of a size that does not match its count, lists more than kMaxRanges ranges, or holds a
  // range that is negative, reversed, beyond the package or overlapping another: such a
  // trailer is refused as a whole.
  static bool ReadTrailer(const std::wstring& path, int64_t total, std::map<int64_t, int64_t>& ranges);

  // ReadTrailer, then the ranges to fetch in ascending order and the bytes already cached;
  // logs the resume. False when there is nothing to resume from (the caller then creates a
  // new temporary file).
  static bool ResumeFromTrailer(const std::wstring& path, int64_t total, ResumePlan& plan);
};

}  // namespace ns_KDL
