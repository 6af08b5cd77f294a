#include "engine/Md5.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/TextConv.h"

namespace ns_KDL {

namespace {

// Large enough that a file costs few read calls, small enough to stay in the L2 cache
// between the kernel's copy and the hash reading it.
constexpr size_t kFileChunk = 256 * 1024;

inline uint32_t Rotl(uint32_t x, int s) { return (x << s) | (x >> (32 - s)); }

inline uint32_t LoadLe32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  v = __builtin_bswap32(v);
#endif
  return v;
}

inline void StoreLe32(uint8_t* p, uint32_t v) {
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  v = __builtin_bswap32(v);
#endif
  std::memcpy(p, &v, 4);
}

// Round functions in forms with a short dependency chain on b: F as a select, G split into
// two disjoint terms that can be added separately, I with the complement on d only.
#define MD5_F(a, b, c, d, x, t, s)      \
  a += (x) + (t);                       \
  a += (d) ^ ((b) & ((c) ^ (d)));       \
  a = Rotl(a, s) + (b);

#define MD5_G(a, b, c, d, x, t, s)      \
  a += (x) + (t);                       \
  a += (c) & ~(d);                      \
  a += (b) & (d);                       \
  a = Rotl(a, s) + (b);

#define MD5_H(a, b, c, d, x, t, s)      \
  a += (x) + (t);                       \
  a += (b) ^ (c) ^ (d);                 \
  a = Rotl(a, s) + (b);

#define MD5_I(a, b, c, d, x, t, s)      \
  a += (x) + (t);                       \
  a += (c) ^ ((b) | ~(d));              \
  a = Rotl(a, s) + (b);

// Compresses `blocks` consecutive 64-byte blocks, keeping the state in registers between them.
void Md5Blocks(uint32_t state[4], const uint8_t* p, size_t blocks) {
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  for (; blocks > 0; --blocks, p += 64) {
    const uint32_t x0 = LoadLe32(p), x1 = LoadLe32(p + 4), x2 = LoadLe32(p + 8),
                   x3 = LoadLe32(p + 12), x4 = LoadLe32(p + 16), x5 = LoadLe32(p + 20),
                   x6 = LoadLe32(p + 24), x7 = LoadLe32(p + 28), x8 = LoadLe32(p + 32),
                   x9 = LoadLe32(p + 36), x10 = LoadLe32(p + 40), x11 = LoadLe32(p + 44),
                   x12 = LoadLe32(p + 48), x13 = LoadLe32(p + 52), x14 = LoadLe32(p + 56),
                   x15 = LoadLe32(p + 60);
    const uint32_t a0 = a, b0 = b, c0 = c, d0 = d;

    MD5_F(a, b, c, d, x0, 0xd76aa478u, 7)
    MD5_F(d, a, b, c, x1, 0xe8c7b756u, 12)
    MD5_F(c, d, a, b, x2, 0x242070dbu, 17)
    MD5_F(b, c, d, a, x3, 0xc1bdceeeu, 22)
    MD5_F(a, b, c, d, x4, 0xf57c0fafu, 7)
    MD5_F(d, a, b, c, x5, 0x4787c62au, 12)
    MD5_F(c, d, a, b, x6, 0xa8304613u, 17)
    MD5_F(b, c, d, a, x7, 0xfd469501u, 22)
    MD5_F(a, b, c, d, x8, 0x698098d8u, 7)
    MD5_F(d, a, b, c, x9, 0x8b44f7afu, 12)
    MD5_F(c, d, a, b, x10, 0xffff5bb1u, 17)
    MD5_F(b, c, d, a, x11, 0x895cd7beu, 22)
    MD5_F(a, b, c, d, x12, 0x6b901122u, 7)
    MD5_F(d, a, b, c, x13, 0xfd987193u, 12)
    MD5_F(c, d, a, b, x14, 0xa679438eu, 17)
    MD5_F(b, c, d, a, x15, 0x49b40821u, 22)

    MD5_G(a, b, c, d, x1, 0xf61e2562u, 5)
    MD5_G(d, a, b, c, x6, 0xc040b340u, 9)
    MD5_G(c, d, a, b, x11, 0x265e5a51u, 14)
    MD5_G(b, c, d, a, x0, 0xe9b6c7aau, 20)
    MD5_G(a, b, c, d, x5, 0xd62f105du, 5)
    MD5_G(d, a, b, c, x10, 0x02441453u, 9)
    MD5_G(c, d, a, b, x15, 0xd8a1e681u, 14)
    MD5_G(b, c, d, a, x4, 0xe7d3fbc8u, 20)
    MD5_G(a, b, c, d, x9, 0x21e1cde6u, 5)
    MD5_G(d, a, b, c, x14, 0xc33707d6u, 9)
    MD5_G(c, d, a, b, x3, 0xf4d50d87u, 14)
    MD5_G(b, c, d, a, x8, 0x455a14edu, 20)
    MD5_G(a, b, c, d, x13, 0xa9e3e905u, 5)
    MD5_G(d, a, b, c, x2, 0xfcefa3f8u, 9)
    MD5_G(c, d, a, b, x7, 0x676f02d9u, 14)
    MD5_G(b, c, d, a, x12, 0x8d2a4c8au, 20)

    MD5_H(a, b, c, d, x5, 0xfffa3942u, 4)
    MD5_H(d, a, b, c, x8, 0x8771f681u, 11)
    MD5_H(c, d, a, b, x11, 0x6d9d6122u, 16)
    MD5_H(b, c, d, a, x14, 0xfde5380cu, 23)
    MD5_H(a, b, c, d, x1, 0xa4beea44u, 4)
    MD5_H(d, a, b, c, x4, 0x4bdecfa9u, 11)
    MD5_H(c, d, a, b, x7, 0xf6bb4b60u, 16)
    MD5_H(b, c, d, a, x10, 0xbebfbc70u, 23)
    MD5_H(a, b, c, d, x13, 0x289b7ec6u, 4)
    MD5_H(d, a, b, c, x0, 0xeaa127fau, 11)
    MD5_H(c, d, a, b, x3, 0xd4ef3085u, 16)
    MD5_H(b, c, d, a, x6, 0x04881d05u, 23)
    MD5_H(a, b, c, d, x9, 0xd9d4d039u, 4)
    MD5_H(d, a, b, c, x12, 0xe6db99e5u, 11)
    MD5_H(c, d, a, b, x15, 0x1fa27cf8u, 16)
    MD5_H(b, c, d, a, x2, 0xc4ac5665u, 23)

    MD5_I(a, b, c, d, x0, 0xf4292244u, 6)
    MD5_I(d, a, b, c, x7, 0x432aff97u, 10)
    MD5_I(c, d, a, b, x14, 0xab9423a7u, 15)
    MD5_I(b, c, d, a, x5, 0xfc93a039u, 21)
    MD5_I(a, b, c, d, x12, 0x655b59c3u, 6)
    MD5_I(d, a, b, c, x3, 0x8f0ccc92u, 10)
    MD5_I(c, d, a, b, x10, 0xffeff47du, 15)
    MD5_I(b, c, d, a, x1, 0x85845dd1u, 21)
    MD5_I(a, b, c, d, x8, 0x6fa87e4fu, 6)
    MD5_I(d, a, b, c, x15, 0xfe2ce6e0u, 10)
    MD5_I(c, d, a, b, x6, 0xa3014314u, 15)
    MD5_I(b, c, d, a, x13, 0x4e0811a1u, 21)
    MD5_I(a, b, c, d, x4, 0xf7537e82u, 6)
    MD5_I(d, a, b, c, x11, 0xbd3af235u, 10)
    MD5_I(c, d, a, b, x2, 0x2ad7d2bbu, 15)
    MD5_I(b, c, d, a, x9, 0xeb86d391u, 21)

    a += a0;
    b += b0;
    c += c0;
    d += d0;
  }
  state[0] = a;
  state[1] = b;
  state[2] = c;
  state[3] = d;
}

#undef MD5_F
#undef MD5_G
#undef MD5_H
#undef MD5_I

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

void Md5Init(Md5Context& ctx) {
  ctx.count[0] = 0;
  ctx.count[1] = 0;
  ctx.state[0] = 0x67452301u;
  ctx.state[1] = 0xefcdab89u;
  ctx.state[2] = 0x98badcfeu;
  ctx.state[3] = 0x10325476u;
  std::memset(ctx.buffer, 0, sizeof ctx.buffer);
}

void Md5Update(Md5Context& ctx, const void* data, size_t size) {
  if (size == 0) return;
  const auto* in = static_cast<const uint8_t*>(data);
  const size_t used = (ctx.count[0] >> 3) & 63;
  // The length is kept modulo 2^64 bits, as the padding records it.
  uint64_t bits = (static_cast<uint64_t>(ctx.count[1]) << 32) | ctx.count[0];
  bits += static_cast<uint64_t>(size) << 3;
  ctx.count[0] = static_cast<uint32_t>(bits);
  ctx.count[1] = static_cast<uint32_t>(bits >> 32);

  if (used != 0) {
    const size_t room = 64 - used;
    if (size < room) {
      std::memcpy(ctx.buffer + used, in, size);
      return;
    }
    std::memcpy(ctx.buffer + used, in, room);
    Md5Blocks(ctx.state, ctx.buffer, 1);
    in += room;
    size -= room;
  }
  // Whole blocks straight from the caller's memory, without a copy.
  if (size >= 64) {
    Md5Blocks(ctx.state, in, size / 64);
    in += size & ~static_cast<size_t>(63);
    size &= 63;
  }
  if (size != 0) std::memcpy(ctx.buffer, in, size);
}

void Md5Final(Md5Context& ctx, uint8_t digest[16]) {
  uint8_t lengthLe[8];
  StoreLe32(lengthLe, ctx.count[0]);
  StoreLe32(lengthLe + 4, ctx.count[1]);
  // 0x80, then zeros up to 56 bytes mod 64, then the 64-bit bit length.
  static const uint8_t kPadding[64] = {0x80};
  const size_t used = (ctx.count[0] >> 3) & 63;
  const size_t padLength = used < 56 ? 56 - used : 120 - used;
  Md5Update(ctx, kPadding, padLength);
  Md5Update(ctx, lengthLe, 8);
  for (int i = 0; i < 4; ++i) StoreLe32(digest + 4 * i, ctx.state[i]);
  std::memset(&ctx, 0, sizeof ctx);
}

std::string Md5FinalHex(Md5Context& ctx) {
  uint8_t digest[16];
  Md5Final(ctx, digest);
  return Md5DigestToHex(digest);
}

std::string Md5DigestToHex(const uint8_t digest[16]) {
  static const char kHex[] = "0123456789abcdef";
  std::string out(32, '0');
  for (int i = 0; i < 16; ++i) {
    out[2 * i] = kHex[digest[i] >> 4];
    out[2 * i + 1] = kHex[digest[i] & 15];
  }
  return out;
}

std::string Md5OfBytes(const void* data, size_t size) {
  Md5Context ctx;
  Md5Init(ctx);
  Md5Update(ctx, data, size);
  return Md5FinalHex(ctx);
}

std::string Md5OfFile(const std::string& path) {
  // A path with an embedded NUL would silently name another file.
  if (path.empty() || path.find('\0') != std::string::npos) return {};
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) return {};
  // Unbuffered: each fread of a whole chunk becomes one read straight into our buffer.
  std::setvbuf(file.get(), nullptr, _IONBF, 0);
  auto chunk = std::make_unique_for_overwrite<uint8_t[]>(kFileChunk);

  Md5Context ctx;
  Md5Init(ctx);
  for (;;) {
    const size_t got = std::fread(chunk.get(), 1, kFileChunk, file.get());
    if (got > 0) Md5Update(ctx, chunk.get(), got);
    if (got < kFileChunk) {
      if (std::ferror(file.get())) return {};
      if (std::feof(file.get())) break;
    }
  }
  return Md5FinalHex(ctx);
}

std::string Md5OfFile(const std::wstring& path) {
  if (path.find(L'\0') != std::wstring::npos) return {};
  return Md5OfFile(plat::WideToUtf8(path));
}

}  // namespace ns_KDL
