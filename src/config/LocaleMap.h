#pragma once
// The user's and the machine's locale as Windows locale ids (LCIDs), which is what the
// language choice and the track report work with. POSIX locale names are mapped through a
// fixed table; anything the table does not know, and the "C" / "POSIX" locales, count as
// English (United States), 0x0409.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace lcid {

constexpr uint32_t kEnglishUS = 0x0409;

// Maps "language[_TERRITORY][.codeset][@modifier]" ("es_AR.UTF-8", "fr_CA", "zh_TW.UTF-8@x",
// "sv") to a locale id; 0 when the name is empty, "C", "POSIX" or not known. A territory the
// table does not know falls back to the language alone (its primary id).
uint32_t FromPosixName(std::string_view name);

// The first non-empty one of LC_ALL, LC_MESSAGES and LANG ("" when all are unset or empty).
std::string UserLocaleName();

// The value of the LANG= line of a locale file in /etc/default/locale form ("export",
// quotes and comments allowed); "" when there is none. Files above 64 KiB are not read.
std::string LangFromLocaleFile(const std::string& path);

// The user's locale id: FromPosixName(UserLocaleName()), 0x0409 when that is 0.
uint32_t UserDefaultLocaleId();
// The machine's locale id from /etc/default/locale (inside the sandbox when there is one);
// without a LANG= line there, the user's. An unknown name gives 0x0409.
uint32_t SystemDefaultLocaleId();

// Tests only: replace the two answers above (nullptr restores the real lookups).
using LocaleIdSource = std::function<uint32_t()>;
void SetSourcesForTesting(LocaleIdSource system, LocaleIdSource user);

}  // namespace lcid
