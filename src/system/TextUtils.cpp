#include "system/TextUtils.h"

#include "platform/Process.h"
#include "platform/TextConv.h"
#include "system/Base64.h"

namespace {

std::wstring TrimBlanks(const std::wstring& text) {
  const size_t first = text.find_first_not_of(L" \t");
  if (first == std::wstring::npos) return std::wstring();
  const size_t last = text.find_last_not_of(L" \t");
  return text.substr(first, last - first + 1);
}

bool StartsWith(const std::wstring& text, const wchar_t* prefix) {
  return text.compare(0, std::char_traits<wchar_t>::length(prefix), prefix) == 0;
}

}  // namespace

bool IsHttpUrl(const std::wstring& text) {
  const std::wstring t = TrimBlanks(text);
  if (StartsWith(t, L"http://")) return t.size() >= 8;
  if (StartsWith(t, L"https://")) return t.size() > 8;
  return false;
}

std::wstring AddCacheBuster(const std::wstring& url) { return AddCacheBuster(url, std::time(nullptr)); }

std::wstring AddCacheBuster(const std::wstring& url, std::time_t now) {
  const wchar_t* sep = url.find(L'?') == std::wstring::npos ? L"?" : L"&";
  return url + sep + L"_t=" + std::to_wstring(static_cast<long long>(now));
}

std::wstring NowStamp() { return NowStamp(std::time(nullptr)); }

std::wstring NowStamp(std::time_t now) {
  std::tm tm{};
  if (!localtime_r(&now, &tm)) return std::wstring();
  char buf[32];
  const size_t n = std::strftime(buf, sizeof(buf), "%Y%m%d%H%M%S", &tm);
  return plat::Utf8ToWide(std::string_view(buf, n));
}

std::map<std::wstring, std::wstring> ParseCommandLine(const std::wstring& commandLine) {
  std::map<std::wstring, std::wstring> out;
  for (const std::wstring& arg : plat::SplitCommandLine(commandLine)) {
    const size_t eq = arg.find(L'=');
    if (eq == std::wstring::npos) {
      out[arg] = std::wstring();
    } else {
      out[arg.substr(0, eq)] = arg.substr(eq + 1);
    }
  }
  return out;
}

std::wstring EncodeBase64Text(const std::wstring& text) {
  return plat::AnsiToWide(sysb64::Encode(plat::WideToAnsi(text)));
}
