#include "Content.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <algorithm>
#include <bit>
#include <cstring>

#include "platform/UniqueFd.h"

namespace makersim {
namespace {

constexpr uint64_t kGolden = 0x9E3779B97F4A7C15ull;

uint64_t Mix(uint64_t z) {
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

class FileContent : public Content {
 public:
  FileContent(plat::UniqueFd fd, uint64_t size) : m_fd(std::move(fd)), m_size(size) {}
  uint64_t Size() const override { return m_size; }
  bool Read(uint64_t offset, char* buf, size_t n) const override {
    while (n > 0) {
      const ssize_t r = pread(m_fd.Get(), buf, n, static_cast<off_t>(offset));
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) return false;
      buf += r;
      n -= static_cast<size_t>(r);
      offset += static_cast<uint64_t>(r);
    }
    return true;
  }

 private:
  plat::UniqueFd m_fd;
  uint64_t m_size;
};

class GeneratedContent : public Content {
 public:
  GeneratedContent(uint64_t size, uint64_t seed) : m_size(size), m_seed(seed) {}
  uint64_t Size() const override { return m_size; }
  bool Read(uint64_t offset, char* buf, size_t n) const override {
    if (offset > m_size || n > m_size - offset) return false;
    GenerateBytes(m_seed, offset, buf, n);
    return true;
  }

 private:
  uint64_t m_size;
  uint64_t m_seed;
};

class TextContent : public Content {
 public:
  explicit TextContent(std::string text) : m_text(std::move(text)) {}
  uint64_t Size() const override { return m_text.size(); }
  bool Read(uint64_t offset, char* buf, size_t n) const override {
    if (offset > m_text.size() || n > m_text.size() - offset) return false;
    std::memcpy(buf, m_text.data() + offset, n);
    return true;
  }

 private:
  std::string m_text;
};

}  // namespace

void GenerateBytes(uint64_t seed, uint64_t offset, char* buf, size_t n) {
  const uint64_t key = Mix(seed + kGolden);
  uint64_t word = offset / 8;
  // The stream is little-endian whatever the host.
  const auto wordAt = [key](uint64_t i) {
    const uint64_t v = Mix(key + (i + 1) * kGolden);
    if constexpr (std::endian::native == std::endian::big) return __builtin_bswap64(v);
    return v;
  };
  const size_t skip = static_cast<size_t>(offset % 8);
  if (skip != 0 && n > 0) {
    const uint64_t v = wordAt(word++);
    const size_t take = std::min(n, 8 - skip);
    std::memcpy(buf, reinterpret_cast<const char*>(&v) + skip, take);
    buf += take;
    n -= take;
  }
  for (; n >= 8; n -= 8, buf += 8) {
    const uint64_t v = wordAt(word++);
    std::memcpy(buf, &v, 8);
  }
  if (n > 0) {
    const uint64_t v = wordAt(word);
    std::memcpy(buf, &v, n);
  }
}

std::unique_ptr<Content> MakeContent(const BodySource& body, const std::string& text, std::string& error) {
  switch (body.kind) {
    case BodySource::Kind::None: return std::make_unique<TextContent>(std::string());
    case BodySource::Kind::Text: return std::make_unique<TextContent>(text);
    case BodySource::Kind::Generated: return std::make_unique<GeneratedContent>(body.size, body.seed);
    case BodySource::Kind::File: {
      plat::UniqueFd fd(open(body.path.c_str(), O_RDONLY | O_CLOEXEC));
      struct stat st {};
      if (!fd.Valid() || fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        error = "cannot open source file " + body.path + ": " + std::strerror(errno ? errno : ENOENT);
        return nullptr;
      }
      return std::make_unique<FileContent>(std::move(fd), static_cast<uint64_t>(st.st_size));
    }
  }
  error = "unknown body kind";
  return nullptr;
}

}  // namespace makersim
