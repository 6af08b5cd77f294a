#pragma once
// MD5 (RFC 1321): package verification and short text hashes. Results are 32 lower-case
// hexadecimal characters; callers that compare with server values upper-case both sides.
#include <cstddef>
#include <cstdint>
#include <string>

namespace ns_KDL {

// Incremental context, for hashing data as it arrives. Init, any number of Updates, Final.
struct Md5Context {
  uint32_t count[2];    // message length in bits, low word first
  uint32_t state[4];    // A, B, C, D
  uint8_t buffer[64];   // the partial block not yet compressed
};

void Md5Init(Md5Context& ctx);
// data may be null when size is 0.
void Md5Update(Md5Context& ctx, const void* data, size_t size);
// Pads, writes the 16 digest bytes and leaves the context to be re-initialised.
void Md5Final(Md5Context& ctx, uint8_t digest[16]);
// Final, as 32 lower-case hexadecimal characters.
std::string Md5FinalHex(Md5Context& ctx);

// 16 bytes as 32 lower-case hexadecimal characters.
std::string Md5DigestToHex(const uint8_t digest[16]);

// Digest of a buffer. data may be null when size is 0 (the digest of the empty message).
std::string Md5OfBytes(const void* data, size_t size);

// Digest of a file's bytes. "" when the file cannot be opened or a read fails; an empty
// file gives the digest of the empty message.
std::string Md5OfFile(const std::wstring& path);
// The same for a UTF-8 (or any byte-string) path.
std::string Md5OfFile(const std::string& path);

}  // namespace ns_KDL
