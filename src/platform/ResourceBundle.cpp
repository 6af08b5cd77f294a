#include "platform/ResourceBundle.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/Folders.h"

namespace plat {

namespace {

constexpr uint64_t kTrailerSize = 32;
constexpr uint32_t kFormatVersion = 1;
constexpr char kMagic[8] = {'Q', 'E', 'V', 'R', 'S', 'R', 'C', '\0'};
// u16 type length + u32 id + u64 offset + u64 size, with an empty type.
constexpr uint64_t kMinIndexEntry = 2 + 4 + 8 + 8;

class Fd {
 public:
  explicit Fd(int fd = -1) : m_fd(fd) {}
  ~Fd() {
    if (m_fd >= 0) close(m_fd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return m_fd; }
  int release() {
    const int fd = m_fd;
    m_fd = -1;
    return fd;
  }

 private:
  int m_fd;
};

uint16_t GetU16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t GetU32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint64_t GetU64(const unsigned char* p) {
  return static_cast<uint64_t>(GetU32(p)) | (static_cast<uint64_t>(GetU32(p + 4)) << 32);
}

void PutU16(std::string& out, uint16_t v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>(v >> 8));
}
void PutU32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
void PutU64(std::string& out, uint64_t v) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

// Reads exactly size bytes at offset; false on a short file or an I/O error.
bool ReadAt(int fd, uint64_t offset, void* buf, size_t size) {
  char* p = static_cast<char*>(buf);
  while (size > 0) {
    const ssize_t n = pread(fd, p, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    offset += static_cast<uint64_t>(n);
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool WriteAll(int fd, const char* p, size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

struct Trailer {
  uint64_t bundleStart = 0;
  uint64_t indexOffset = 0;
  uint32_t count = 0;
};

// The trailer at the end of a file of fileSize bytes, when its magic, version and bundle
// start are sound. Nothing else about the bundle is checked here.
bool ReadTrailer(int fd, uint64_t fileSize, Trailer& t) {
  if (fileSize < kTrailerSize) return false;
  unsigned char raw[kTrailerSize];
  if (!ReadAt(fd, fileSize - kTrailerSize, raw, sizeof(raw))) return false;
  if (std::memcmp(raw + 24, kMagic, sizeof(kMagic)) != 0) return false;
  if (GetU32(raw + 20) != kFormatVersion) return false;
  t.bundleStart = GetU64(raw);
  t.indexOffset = GetU64(raw + 8);
  t.count = GetU32(raw + 16);
  return t.bundleStart <= fileSize - kTrailerSize;
}

struct IndexEntry {
  std::string type;
  uint32_t id = 0;
  uint64_t offset = 0;
  uint64_t size = 0;
};

bool LoadEntries(int fd, std::vector<Resource>& out) {
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) return false;
  const uint64_t fileSize = static_cast<uint64_t>(st.st_size);
  Trailer t;
  if (!ReadTrailer(fd, fileSize, t)) return false;

  const uint64_t trailerPos = fileSize - kTrailerSize;
  const uint64_t areaSize = trailerPos - t.bundleStart;  // entries + index
  if (t.indexOffset > areaSize) return false;
  const uint64_t indexSize = areaSize - t.indexOffset;
  if (t.count > indexSize / kMinIndexEntry) return false;

  // The index is bounded by the file, and usually a few hundred bytes.
  std::string index(static_cast<size_t>(indexSize), '\0');
  if (indexSize > 0 && !ReadAt(fd, t.bundleStart + t.indexOffset, index.data(), index.size())) return false;

  const auto* p = reinterpret_cast<const unsigned char*>(index.data());
  uint64_t pos = 0;
  uint64_t total = 0;
  std::vector<IndexEntry> entries;
  entries.reserve(t.count);
  for (uint32_t i = 0; i < t.count; ++i) {
    if (indexSize - pos < 2) return false;
    const uint16_t typeLen = GetU16(p + pos);
    pos += 2;
    if (indexSize - pos < static_cast<uint64_t>(typeLen) + 4 + 8 + 8) return false;
    IndexEntry e;
    e.type.assign(index.data() + pos, typeLen);
    pos += typeLen;
    e.id = GetU32(p + pos);
    e.offset = GetU64(p + pos + 4);
    e.size = GetU64(p + pos + 12);
    pos += 20;
    // Entries lie between the bundle start and the index.
    if (e.offset > t.indexOffset || e.size > t.indexOffset - e.offset) return false;
    // Overlapping entries could otherwise make us allocate many times the file size.
    total += e.size;
    if (total > t.indexOffset) return false;
    entries.push_back(std::move(e));
  }
  if (pos != indexSize) return false;

  std::vector<Resource> loaded;
  loaded.reserve(entries.size());
  for (IndexEntry& e : entries) {
    Resource r;
    r.type = std::move(e.type);
    r.id = e.id;
    r.bytes.resize(static_cast<size_t>(e.size));
    if (e.size > 0 && !ReadAt(fd, t.bundleStart + e.offset, r.bytes.data(), r.bytes.size())) return false;
    loaded.push_back(std::move(r));
  }
  out = std::move(loaded);
  return true;
}

std::atomic<const ResourceBundle*> g_ownOverride{nullptr};

}  // namespace

bool ResourceBundle::Load(const std::string& path) {
  m_entries.clear();
  Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return false;
  return LoadEntries(fd.get(), m_entries);
}

const Resource* ResourceBundle::Find(const std::string& type, uint32_t id) const {
  for (const Resource& r : m_entries) {
    if (r.id == id && r.type == type) return &r;
  }
  return nullptr;
}

bool ResourceBundle::Write(const std::string& executable, const std::vector<Resource>& entries,
                           const std::string& out, std::string& error) {
  error.clear();
  Fd in(open(executable.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.get() < 0) {
    error = "cannot open " + executable + ": " + std::strerror(errno);
    return false;
  }
  struct stat st;
  if (fstat(in.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    error = executable + " is not a regular file";
    return false;
  }
  uint64_t keep = static_cast<uint64_t>(st.st_size);
  Trailer old;
  if (ReadTrailer(in.get(), keep, old)) keep = old.bundleStart;

  if (entries.size() > 0xFFFFFFFFu) {
    error = "too many resources";
    return false;
  }
  std::string bundle;
  std::string index;
  for (const Resource& r : entries) {
    if (r.type.size() > 0xFFFF) {
      error = "resource type too long";
      return false;
    }
    PutU16(index, static_cast<uint16_t>(r.type.size()));
    index += r.type;
    PutU32(index, r.id);
    PutU64(index, bundle.size());
    PutU64(index, r.bytes.size());
    bundle += r.bytes;
  }
  const uint64_t indexOffset = bundle.size();
  bundle += index;
  PutU64(bundle, keep);
  PutU64(bundle, indexOffset);
  PutU32(bundle, static_cast<uint32_t>(entries.size()));
  PutU32(bundle, kFormatVersion);
  bundle.append(kMagic, sizeof(kMagic));

  std::string tmpPath = out + ".tmp-XXXXXX";
  Fd tmp(mkostemp(tmpPath.data(), O_CLOEXEC));
  if (tmp.get() < 0) {
    error = "cannot create " + tmpPath + ": " + std::strerror(errno);
    return false;
  }
  auto fail = [&](const std::string& what) {
    error = what;
    unlink(tmpPath.c_str());
    return false;
  };

  std::string buf(1 << 20, '\0');
  uint64_t copied = 0;
  while (copied < keep) {
    const size_t chunk = static_cast<size_t>(std::min<uint64_t>(buf.size(), keep - copied));
    if (!ReadAt(in.get(), copied, buf.data(), chunk)) return fail("cannot read " + executable);
    if (!WriteAll(tmp.get(), buf.data(), chunk)) return fail("cannot write " + tmpPath);
    copied += chunk;
  }
  if (!WriteAll(tmp.get(), bundle.data(), bundle.size())) return fail("cannot write " + tmpPath);
  if (fchmod(tmp.get(), 0755) != 0) return fail("cannot set the mode of " + tmpPath);
  if (fsync(tmp.get()) != 0) return fail("cannot flush " + tmpPath);
  if (close(tmp.release()) != 0) return fail("cannot write " + tmpPath);
  if (rename(tmpPath.c_str(), out.c_str()) != 0) {
    return fail("cannot rename " + tmpPath + " to " + out + ": " + std::strerror(errno));
  }
  return true;
}

const ResourceBundle& ResourceBundle::Own() {
  if (const ResourceBundle* b = g_ownOverride.load()) return *b;
  static const ResourceBundle own = [] {
    ResourceBundle b;
    b.Load(OwnExePath());
    return b;
  }();
  return own;
}

void ResourceBundle::SetOwnForTesting(const ResourceBundle* bundle) { g_ownOverride.store(bundle); }

bool ParseVersionResource(const std::string& bytes, int out[4]) {
  int parts[4] = {0, 0, 0, 0};
  size_t pos = 0;
  for (int i = 0; i < 4; ++i) {
    if (i > 0) {
      if (pos >= bytes.size() || bytes[pos] != '.') return false;
      ++pos;
    }
    const size_t start = pos;
    long value = 0;
    while (pos < bytes.size() && bytes[pos] >= '0' && bytes[pos] <= '9') {
      value = value * 10 + (bytes[pos] - '0');
      if (value > 65535) return false;
      ++pos;
    }
    if (pos == start) return false;
    parts[i] = static_cast<int>(value);
  }
  if (pos != bytes.size()) return false;
  for (int i = 0; i < 4; ++i) out[i] = parts[i];
  return true;
}

bool ReadFileVersion(const std::string& path, int out[4]) {
  ResourceBundle bundle;
  if (!bundle.Load(path)) return false;
  const Resource* r = bundle.Find("VERSION", 1);
  return r && ParseVersionResource(r->bytes, out);
}

}  // namespace plat
