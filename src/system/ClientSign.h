#pragma once
// The client sign: the machine identifier every service of the maker receives,
// "{" + a version-4 UUID in lower-case hexadecimal + "G}" (39 characters). It lives in the
// registry under the brand's keys; nothing is cached in memory, each caller reads it anew.
#include <cstdint>
#include <string>

// "Software\<brand>\<brand> Kelvadex\" and "Software\<brand>\BRX\".
std::wstring BrandSignKey(const std::wstring& brand);
std::wstring BrandDataKey(const std::wstring& brand);

// The stored sign (at most 50 characters): the current user's sign key first (created when
// missing), then the local machine's sign key, then its data key. Empty when none holds one.
std::wstring ReadClientSign(const std::wstring& brand);
// The stored sign, or a new one written to both local machine keys. Write failures are
// ignored: the new sign is returned all the same.
std::wstring GetClientSign(const std::wstring& brand);

// A fresh sign: the process-wide xorshift128+ state is reseeded from the kernel's random
// source (kept as it was when that fails) and drives ClientSignFromState's formatting.
std::wstring NewClientSign();

// The deterministic part: draws two outputs from a generator in state (s0, s1) and fills
// the UUID template with their bytes, low half-byte first.
std::wstring ClientSignFromState(uint64_t s0, uint64_t s1);
// The same from 16 seed bytes: the first 8 little-endian are s0, the next 8 s1.
std::wstring ClientSignFromSeed(const uint8_t seed[16]);
