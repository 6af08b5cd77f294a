#include "config/LocaleMap.h"

#include <cstdlib>
#include <filesystem>
#include <mutex>

#include "platform/Folders.h"

namespace lcid {

namespace {

struct NameId {
  const char* name;
  uint32_t id;
};

// POSIX name (language, or language_TERRITORY, or with a modifier) to Windows locale id.
// A bare language maps to the id Windows reports for its home country ("es" -> es_ES
// 0x0C0A, "sv" -> sv_SE 0x041D, "zh" -> zh_CN). The neutral ids of the language table
// (0x001D, 0x004E, 0x004A, 0x0049, 0x0039) are deliberately not produced: Windows never
// reports a neutral id as a user locale, so treating "sv" like Windows' Swedish user keeps
// both platforms choosing the same table entry.
constexpr NameId kNames[] = {
    // English stays English; listed so that these names are "known" rather than unknown.
    {"en", 0x0409}, {"en_US", 0x0409}, {"en_GB", 0x0809}, {"en_AU", 0x0C09}, {"en_CA", 0x1009},
    {"en_NZ", 0x1409}, {"en_IE", 0x1809}, {"en_ZA", 0x1C09}, {"en_IN", 0x4009}, {"en_SG", 0x4809},
    {"en_PH", 0x3409},
    // French
    {"fr", 0x040C}, {"fr_BE", 0x080C}, {"fr_CA", 0x0C0C}, {"fr_FR", 0x040C}, {"fr_LU", 0x140C},
    {"fr_MC", 0x180C}, {"fr_CH", 0x100C},
    // German
    {"de", 0x0407}, {"de_AT", 0x0C07}, {"de_DE", 0x0407}, {"de_LI", 0x1407}, {"de_LU", 0x1007},
    {"de_CH", 0x0807},
    // Japanese
    {"ja", 0x0411}, {"ja_JP", 0x0411},
    // Portuguese
    {"pt", 0x0816}, {"pt_BR", 0x0416}, {"pt_PT", 0x0816},
    // Spanish; the traditional sort of Spain has no POSIX territory of its own.
    {"es", 0x0C0A}, {"es_AR", 0x2C0A}, {"es_BO", 0x400A}, {"es_CL", 0x340A}, {"es_CO", 0x240A},
    {"es_CR", 0x140A}, {"es_DO", 0x1C0A}, {"es_EC", 0x300A}, {"es_SV", 0x440A}, {"es_GT", 0x100A},
    {"es_HN", 0x480A}, {"es_MX", 0x080A}, {"es_NI", 0x4C0A}, {"es_PA", 0x180A}, {"es_PY", 0x3C0A},
    {"es_PE", 0x280A}, {"es_PR", 0x500A}, {"es_ES@traditional", 0x040A}, {"es_ES", 0x0C0A},
    {"es_UY", 0x380A}, {"es_VE", 0x200A}, {"es_US", 0x540A}, {"es_419", 0x580A},
    // Italian
    {"it", 0x0410}, {"it_IT", 0x0410}, {"it_CH", 0x0810},
    // Chinese
    {"zh", 0x0804}, {"zh_TW", 0x0404}, {"zh_HK", 0x0C04}, {"zh_MO", 0x1404}, {"zh_CN", 0x0804},
    {"zh_SG", 0x1004},
    // Russian
    {"ru", 0x0419}, {"ru_RU", 0x0419}, {"ru_MD", 0x0819}, {"ru_UA", 0x0419},
    // Dutch
    {"nl", 0x0413}, {"nl_NL", 0x0413}, {"nl_BE", 0x0813},
    // Korean, Indonesian
    {"ko", 0x0412}, {"ko_KR", 0x0412}, {"id", 0x0421}, {"id_ID", 0x0421},
    // Swedish
    {"sv", 0x041D}, {"sv_SE", 0x041D}, {"sv_FI", 0x081D},
    // Arabic
    {"ar", 0x0401}, {"ar_AE", 0x3801}, {"ar_BH", 0x3C01}, {"ar_DZ", 0x1401}, {"ar_EG", 0x0C01},
    {"ar_IQ", 0x0801}, {"ar_JO", 0x2C01}, {"ar_KW", 0x3401}, {"ar_LB", 0x3001}, {"ar_LY", 0x1001},
    {"ar_MA", 0x1801}, {"ar_OM", 0x2001}, {"ar_QA", 0x4001}, {"ar_SA", 0x0401}, {"ar_SY", 0x2801},
    {"ar_TN", 0x1C01}, {"ar_YE", 0x2401},
    // Languages of India, Thai
    {"mr", 0x044E}, {"mr_IN", 0x044E}, {"te", 0x044A}, {"te_IN", 0x044A}, {"ta", 0x0449},
    {"ta_IN", 0x0449}, {"ta_LK", 0x0849}, {"bn", 0x0445}, {"bn_IN", 0x0445}, {"bn_BD", 0x0845},
    {"hi", 0x0439}, {"hi_IN", 0x0439}, {"th", 0x041E}, {"th_TH", 0x041E},
    // Other common locales (not in the language table; they choose English).
    {"pl", 0x0415}, {"pl_PL", 0x0415}, {"tr", 0x041F}, {"tr_TR", 0x041F}, {"cs", 0x0405},
    {"cs_CZ", 0x0405}, {"uk", 0x0422}, {"uk_UA", 0x0422}, {"vi", 0x042A}, {"vi_VN", 0x042A},
    {"he", 0x040D}, {"he_IL", 0x040D}, {"el", 0x0408}, {"el_GR", 0x0408}, {"hu", 0x040E},
    {"hu_HU", 0x040E}, {"da", 0x0406}, {"da_DK", 0x0406}, {"fi", 0x040B}, {"fi_FI", 0x040B},
    {"nb", 0x0414}, {"nb_NO", 0x0414}, {"ro", 0x0418}, {"ro_RO", 0x0418}, {"ms", 0x043E},
    {"ms_MY", 0x043E}, {"fa", 0x0429}, {"fa_IR", 0x0429},
};

uint32_t Lookup(const std::string& name) {
  for (const NameId& e : kNames) {
    if (name == e.name) return e.id;
  }
  return 0;
}

bool IsAsciiAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsAsciiAlnum(char c) { return IsAsciiAlpha(c) || (c >= '0' && c <= '9'); }
char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

std::mutex g_sourceLock;
LocaleIdSource g_systemSource;
LocaleIdSource g_userSource;

// A copy taken under the lock, so that an override may itself ask for the other id.
LocaleIdSource CurrentSource(const LocaleIdSource& source) {
  std::lock_guard<std::mutex> guard(g_sourceLock);
  return source;
}

std::string Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
  return std::string(s.substr(b, e - b));
}

}  // namespace

uint32_t FromPosixName(std::string_view name) {
  // Real locale names are short; anything long is not one.
  if (name.empty() || name.size() > 64) return 0;
  std::string_view modifier;
  const size_t at = name.find('@');
  if (at != std::string_view::npos) {
    modifier = name.substr(at + 1);
    name = name.substr(0, at);
  }
  const size_t dot = name.find('.');
  if (dot != std::string_view::npos) name = name.substr(0, dot);

  const size_t sep = name.find_first_of("_-");
  const std::string_view lang = name.substr(0, sep);
  const std::string_view territory = sep == std::string_view::npos ? std::string_view() : name.substr(sep + 1);
  if (lang.size() < 2 || lang.size() > 3) return 0;  // also "C"; "POSIX" is too long
  std::string key;
  for (char c : lang) {
    if (!IsAsciiAlpha(c)) return 0;
    key += Lower(c);
  }
  const std::string language = key;

  bool territoryValid = !territory.empty() && territory.size() <= 3;
  for (char c : territory) territoryValid = territoryValid && IsAsciiAlnum(c);
  if (territoryValid) {
    key += '_';
    for (char c : territory) key += Upper(c);
    if (!modifier.empty()) {
      std::string withModifier = key + '@';
      for (char c : modifier) withModifier += Lower(c);
      if (const uint32_t id = Lookup(withModifier)) return id;
    }
    if (const uint32_t id = Lookup(key)) return id;
  }
  return Lookup(language);
}

std::string UserLocaleName() {
  for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(var);
    if (value && *value) return value;
  }
  return "";
}

std::string LangFromLocaleFile(const std::string& path) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  if (ec || size > 64 * 1024) return "";
  std::string content;
  if (!plat::ReadWholeFile(path, content)) return "";
  std::string result;
  size_t pos = 0;
  while (pos < content.size()) {
    size_t end = content.find('\n', pos);
    if (end == std::string::npos) end = content.size();
    std::string line = Trim(std::string_view(content).substr(pos, end - pos));
    pos = end + 1;
    if (line.compare(0, 7, "export ") == 0) line = Trim(std::string_view(line).substr(7));
    if (line.compare(0, 5, "LANG=") != 0) continue;
    std::string value = line.substr(5);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    } else {
      const size_t blank = value.find_first_of(" \t#");
      if (blank != std::string::npos) value.resize(blank);
    }
    result = value;  // the last assignment wins, as when the file is sourced
  }
  return result;
}

uint32_t UserDefaultLocaleId() {
  if (const LocaleIdSource source = CurrentSource(g_userSource)) return source();
  const uint32_t id = FromPosixName(UserLocaleName());
  return id ? id : kEnglishUS;
}

uint32_t SystemDefaultLocaleId() {
  if (const LocaleIdSource source = CurrentSource(g_systemSource)) return source();
  const std::string lang = LangFromLocaleFile(plat::MachinePath("/etc/default/locale"));
  if (lang.empty()) return UserDefaultLocaleId();
  const uint32_t id = FromPosixName(lang);
  return id ? id : kEnglishUS;
}

void SetSourcesForTesting(LocaleIdSource system, LocaleIdSource user) {
  std::lock_guard<std::mutex> guard(g_sourceLock);
  g_systemSource = std::move(system);
  g_userSource = std::move(user);
}

}  // namespace lcid
