#include "engine/Base64.h"

#include <array>
#include <cstdint>

namespace ns_KDL {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Both characters for 12 input bits, so three bytes take two look-ups.
constexpr std::array<char, 2 * 4096> MakePairs() {
  std::array<char, 2 * 4096> pairs{};
  for (size_t i = 0; i < 4096; ++i) {
    pairs[2 * i] = kAlphabet[i >> 6];
    pairs[2 * i + 1] = kAlphabet[i & 63];
  }
  return pairs;
}
constexpr std::array<char, 2 * 4096> kPairs = MakePairs();

// One table per position in a group, holding the 6 bits already shifted into place; a
// character outside the alphabet maps to kBad, which lies above the 24 data bits, so a group
// is checked with one test of the OR of its four look-ups.
constexpr uint32_t kBad = 0xFF000000u;
constexpr std::array<uint32_t, 256> MakeDecode(int shift) {
  std::array<uint32_t, 256> table{};
  for (uint32_t& v : table) v = kBad;
  for (uint32_t i = 0; i < 64; ++i) table[static_cast<unsigned char>(kAlphabet[i])] = i << shift;
  return table;
}
constexpr std::array<uint32_t, 256> kDecode0 = MakeDecode(18);
constexpr std::array<uint32_t, 256> kDecode1 = MakeDecode(12);
constexpr std::array<uint32_t, 256> kDecode2 = MakeDecode(6);
constexpr std::array<uint32_t, 256> kDecode3 = MakeDecode(0);

}  // namespace

std::string Base64Encode(const void* data, size_t size) {
  std::string out;
  if (size == 0) return out;
  if (size / 3 >= out.max_size() / 4 - 1) return out;
  const auto* in = static_cast<const uint8_t*>(data);
  try {
    out.resize((size + 2) / 3 * 4);
  } catch (...) {
    return {};
  }
  char* o = out.data();
  size_t i = 0;
  for (; size - i >= 3; i += 3, o += 4) {
    const uint32_t v = static_cast<uint32_t>(in[i]) << 16 | static_cast<uint32_t>(in[i + 1]) << 8 | in[i + 2];
    const char* hi = &kPairs[2 * (v >> 12)];
    const char* lo = &kPairs[2 * (v & 0xFFF)];
    o[0] = hi[0];
    o[1] = hi[1];
    o[2] = lo[0];
    o[3] = lo[1];
  }
  if (const size_t rest = size - i; rest > 0) {
    uint32_t v = static_cast<uint32_t>(in[i]) << 16;
    if (rest == 2) v |= static_cast<uint32_t>(in[i + 1]) << 8;
    o[0] = kAlphabet[v >> 18];
    o[1] = kAlphabet[(v >> 12) & 63];
    o[2] = rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
    o[3] = '=';
  }
  return out;
}

std::string Base64Encode(std::string_view bytes) { return Base64Encode(bytes.data(), bytes.size()); }

bool Base64Decode(std::string_view text, std::string& bytes) {
  bytes.clear();
  const size_t n = text.size();
  if (n == 0) return true;
  if (n % 4 != 0) return false;
  // Padding is looked for only at the end; an "=" anywhere else is not in the tables and
  // fails its group.
  size_t pad = 0;
  if (text[n - 1] == '=') pad = text[n - 2] == '=' ? 2 : 1;
  const size_t groups = n / 4 - (pad ? 1 : 0);
  try {
    bytes.resize(groups * 3 + (pad ? 3 - pad : 0));
  } catch (...) {
    bytes.clear();
    return false;
  }
  const auto* in = reinterpret_cast<const unsigned char*>(text.data());
  char* out = bytes.data();
  uint32_t seen = 0;
  for (size_t g = 0; g < groups; ++g, in += 4, out += 3) {
    const uint32_t v = kDecode0[in[0]] | kDecode1[in[1]] | kDecode2[in[2]] | kDecode3[in[3]];
    seen |= v;
    out[0] = static_cast<char>(v >> 16);
    out[1] = static_cast<char>(v >> 8);
    out[2] = static_cast<char>(v);
  }
  if (pad == 1) {
    const uint32_t v = kDecode0[in[0]] | kDecode1[in[1]] | kDecode2[in[2]];
    seen |= v | ((v & 0xFF) ? kBad : 0);
    out[0] = static_cast<char>(v >> 16);
    out[1] = static_cast<char>(v >> 8);
  } else if (pad == 2) {
    const uint32_t v = kDecode0[in[0]] | kDecode1[in[1]];
    seen |= v | ((v & 0xFFFF) ? kBad : 0);
    out[0] = static_cast<char>(v >> 16);
  }
  if (seen & kBad) {
    bytes.clear();
    return false;
  }
  return true;
}

std::string Base64Decode(std::string_view text) {
  std::string bytes;
  Base64Decode(text, bytes);
  return bytes;
}

}  // namespace ns_KDL
