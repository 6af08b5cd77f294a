#include "engine/CResumeTrailer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <iterator>

#include "platform/UniqueFd.h"
#include "platform/TextConv.h"
#include "shell/simpleLog.h"

namespace ns_KDL {
namespace {

void PutLe64(std::string& out, int64_t value) {
  const uint64_t v = static_cast<uint64_t>(value);
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}

int64_t GetLe64(const unsigned char* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return static_cast<int64_t>(v);
}

bool ReadAt(int fd, unsigned char* buf, size_t len, off_t offset) {
  size_t done = 0;
  while (done < len) {
    const ssize_t n = ::pread(fd, buf + done, len - done, offset + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Adds one range to the set, or says why it cannot be part of a trailer.
const char* Accept(std::map<int64_t, int64_t>& set, int64_t& missing, int64_t start, int64_t end,
                   int64_t total) {
  if (start < 0 || end < 0) return "negative value";
  if (start > end) return "start after end";
  if (end >= total) return "value beyond package";
  auto next = set.lower_bound(start);
  if (next != set.end() && next->first <= end) return "overlapping ranges";
  if (next != set.begin() && std::prev(next)->second >= start) return "overlapping ranges";
  const int64_t length = end - start + 1;
  if (length > total - missing) return "missing bytes beyond package";
  missing += length;
  set.emplace_hint(next, start, end);
  return nullptr;
}

// Why the trailer of the open file cannot be used, or nullptr with the ranges filled.
const char* Parse(int fd, int64_t fileSize, int64_t total, std::map<int64_t, int64_t>& ranges) {
  const int64_t tail = fileSize - total;
  if (tail < CResumeTrailer::SizeFor(1)) return "short trailer";
  if ((tail - 8) % 16 != 0) return "trailer size inconsistent";
  const int64_t pairsInFile = (tail - 8) / 16;

  unsigned char word[8];
  if (!ReadAt(fd, word, sizeof word, static_cast<off_t>(fileSize - 8))) return "read failed";
  const int64_t n = GetLe64(word);
  if (n <= 0) return "count not positive";
  if (n > pairsInFile) return "count beyond file";
  if (n < pairsInFile) return "trailer size inconsistent";
  if (n > CResumeTrailer::kMaxRanges) return "too many ranges";

  // Whole blocks of pairs at a time; the buffer does not depend on the count.
  constexpr int64_t kPairsPerRead = 256;
  unsigned char block[kPairsPerRead * 16];
  int64_t missing = 0;
  for (int64_t first = 0; first < n; first += kPairsPerRead) {
    const int64_t count = std::min(kPairsPerRead, n - first);
    if (!ReadAt(fd, block, static_cast<size_t>(count * 16), static_cast<off_t>(total + 16 * first))) {
      return "read failed";
    }
    for (int64_t i = 0; i < count; ++i) {
      const int64_t start = GetLe64(block + 16 * i);
      const int64_t end = GetLe64(block + 16 * i + 8);
      if (const char* why = Accept(ranges, missing, start, end, total)) return why;
    }
  }
  return nullptr;
}

}  // namespace

const char* CResumeTrailer::CheckRanges(const std::vector<ByteRange>& ranges, int64_t total) {
  if (ranges.empty()) return "no ranges";
  if (static_cast<int64_t>(ranges.size()) > kMaxRanges) return "too many ranges";
  std::map<int64_t, int64_t> set;
  int64_t missing = 0;
  for (const ByteRange& r : ranges) {
    if (const char* why = Accept(set, missing, r.start, r.end, total)) return why;
  }
  return nullptr;
}

std::string CResumeTrailer::Encode(const std::vector<ByteRange>& ranges) {
  std::string out;
  out.reserve(ranges.size() * 16 + 8);
  for (const ByteRange& r : ranges) {
    PutLe64(out, r.start);
    PutLe64(out, r.end);
  }
  PutLe64(out, static_cast<int64_t>(ranges.size()));
  return out;
}

bool CResumeTrailer::ReadTrailer(const std::wstring& path, int64_t total, std::map<int64_t, int64_t>& ranges) {
  ranges.clear();
  const std::string file = plat::WideToUtf8(path);
  plat::UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.Valid()) {
    Log(3, "[INFO] multi, no resume cache, file=[%s], error=[%d].", file.c_str(), errno);
    return false;
  }
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    Log(2, "[WARN] multi, resume cache refused, file=[%s], reason=[%s].", file.c_str(), "not a plain file");
    return false;
  }
  const int64_t size = static_cast<int64_t>(st.st_size);
  if (total <= 0 || size <= total) {
    Log(3, "[INFO] multi, no resume cache, file=[%s], size=[%lld], total=[%lld].", file.c_str(),
        static_cast<long long>(size), static_cast<long long>(total));
    return false;
  }
  if (const char* why = Parse(fd.Get(), size, total, ranges)) {
    ranges.clear();
    Log(2, "[WARN] multi, resume cache refused, file=[%s], size=[%lld], total=[%lld], reason=[%s].", file.c_str(),
        static_cast<long long>(size), static_cast<long long>(total), why);
    return false;
  }
  return true;
}

bool CResumeTrailer::ResumeFromTrailer(const std::wstring& path, int64_t total, ResumePlan& plan) {
  plan = ResumePlan();
  std::map<int64_t, int64_t> ranges;
  if (!ReadTrailer(path, total, ranges) || ranges.empty()) return false;
  Log(3, "[INFO] multi, resume download.");
  for (const auto& [start, end] : ranges) {
    plan.ranges.push_back({start, end});
    plan.missing += end - start + 1;
  }
  plan.cached = total - plan.missing;
  Log(3, "[INFO] multi, total=[%lld], cached=[%lld], undownloaded=[%lld].", static_cast<long long>(total),
      static_cast<long long>(plan.cached), static_cast<long long>(plan.missing));
  return true;
}

}  // namespace ns_KDL
