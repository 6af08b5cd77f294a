#pragma once
// Text conversion between the program's wide strings and UTF-8, the narrow form used for
// files, logs and every "ANSI" text on this platform.
#include <cstddef>
#include <string>
#include <string_view>

namespace plat {

// UTF-8 to wide. 1- to 4-byte sequences are decoded; an undecodable sequence (a lead byte
// 11111xxx, a stray continuation byte or a missing continuation byte) becomes one '?'.
std::wstring Utf8ToWide(std::string_view utf8);

// True when the bytes are well-formed UTF-8 (no overlong forms, no surrogates, at most
// U+10FFFF). Documents that must be UTF-8 are refused when this fails.
bool IsValidUtf8(std::string_view bytes);

// Appends one code point (at most U+10FFFF, not a surrogate) as UTF-8.
void AppendUtf8(std::string& out, char32_t codePoint);

// Wide to UTF-8. A UTF-16 surrogate pair held in two wide characters is combined into one
// 4-byte sequence; a lone surrogate, or a value above U+10FFFF, becomes '?'.
std::string WideToUtf8(std::wstring_view wide);

// The "ANSI code page" is UTF-8 here.
inline std::string WideToAnsi(std::wstring_view wide) { return WideToUtf8(wide); }
inline std::wstring AnsiToWide(std::string_view ansi) { return Utf8ToWide(ansi); }

// ASCII-only case mapping, as the configuration comparisons need.
std::wstring ToLowerAscii(std::wstring_view text);
std::string ToLowerAscii(std::string_view text);
bool EqualsNoCase(std::wstring_view a, std::wstring_view b);

// printf into a std::string.
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

}  // namespace plat
