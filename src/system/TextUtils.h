#pragma once
// Text and command-line helpers shared by the Parts.
#include <ctime>
#include <map>
#include <string>

// After trimming blanks: "http://" and at least 8 characters, or "https://" and more than 8.
bool IsHttpUrl(const std::wstring& text);

// url + ("?" or "&" when url already holds a "?") + "_t=" + seconds since 1970.
std::wstring AddCacheBuster(const std::wstring& url);
std::wstring AddCacheBuster(const std::wstring& url, std::time_t now);

// Local time as "YYYYMMDDhhmmss".
std::wstring NowStamp();
std::wstring NowStamp(std::time_t now);

// Splits the command line (program path included) with the system's quoting rules and cuts
// each argument at its first "=": name -> value. No "=" gives an empty value; a repeated
// name keeps its last value.
std::map<std::wstring, std::wstring> ParseCommandLine(const std::wstring& commandLine);

// Base64 of the text's narrow (UTF-8) bytes, as wide text.
std::wstring EncodeBase64Text(const std::wstring& text);
