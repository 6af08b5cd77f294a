#pragma once
// SHA-256 (FIPS 180-4), used to sign host-resolution queries. Speed does not matter here:
// inputs are a few hundred bytes.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ns_KDL {

class Sha256 {
 public:
  virtual ~Sha256() = default;

  // The eight hash words of the message (any length, including empty), most significant
  // word first. Works on its own copy, which it pads in place.
  std::array<uint32_t, 8> Digest(std::vector<uint8_t> message) const;
};

// The bytes of the text as 64 lower-case hexadecimal characters (each byte two digits,
// zero-filled). An empty text gives "", not the digest of the empty message.
std::string Sha256Hex(std::string_view text);

}  // namespace ns_KDL
