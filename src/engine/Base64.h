#pragma once
// Base64 with the standard alphabet of RFC 4648 (A-Z a-z 0-9 + /) and "=" padding, without
// line breaks: credentials, launch parameters and analytics batches.
#include <cstddef>
#include <string>
#include <string_view>

namespace ns_KDL {

// 4 characters for every 3 bytes, the last group padded to 4 with "=" or "==". data may be
// null when size is 0. "" only for no bytes (or when memory runs out).
std::string Base64Encode(std::string_view bytes);
std::string Base64Encode(const void* data, size_t size);

// Decoding stops at the first "=", which may only begin the padding of the last group ("xx=="
// or "xxx="). Refused, with bytes empty and false: a length that is not a multiple of 4, a
// character outside the alphabet (white space and line breaks included), an "=" anywhere
// else, and padding whose group has non-zero unused bits (a text no encoder writes). "" is
// accepted and gives no bytes.
bool Base64Decode(std::string_view text, std::string& bytes);
// The same, "" when refused.
std::string Base64Decode(std::string_view text);

}  // namespace ns_KDL
