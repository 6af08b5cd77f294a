#include "config/LangTable.h"

#include "config/LocaleMap.h"
#include "config/XmlDocument.h"
#include "platform/ResourceBundle.h"
#include "platform/TextConv.h"
#include "shell/simpleLog.h"

namespace {

constexpr uint32_t kLangResourceId = 131;

// Display names as UTF-8. The Russian name begins with the Latin capital P (U+0050), not
// the Cyrillic Er: language names stored by earlier runs and hosts are spelt that way.
constexpr const char* kEnglish = "English";
constexpr const char* kGerman = "Deutsch";
constexpr const char* kFrench = "Français";
constexpr const char* kItalian = "Italiano";
constexpr const char* kPortuguese = "Português";
constexpr const char* kSpanish = "Español";
constexpr const char* kDutch = "Dutch";
constexpr const char* kRussian = "P\u0443\u0441\u0441\u043a\u0438\u0439";
constexpr const char* kJapanese = "日本語";
constexpr const char* kChineseTraditional = "中文繁體";
constexpr const char* kChineseSimplified = "中文简体";
constexpr const char* kArabic = "العربية";
constexpr const char* kKorean = "한국어";
constexpr const char* kIndonesian = "Bahasa Indonesia";
constexpr const char* kSwedish = "Svenska";
constexpr const char* kTelugu = "తెలుగు";
constexpr const char* kTamil = "தமிழ்";
constexpr const char* kHindi = "हिन्दी";
constexpr const char* kBengali = "বাংলা";
constexpr const char* kMarathi = "मराठी";
constexpr const char* kThai = "ไทย";

struct RawLang {
  const char* code;
  const char* name;
};

constexpr RawLang kLanguages[] = {
    {"ENG", kEnglish},  {"DEU", kGerman},    {"FRA", kFrench},
    {"ITA", kItalian},  {"PTG", kPortuguese}, {"ESP", kSpanish},
    {"NLD", kDutch},    {"RUS", kRussian},   {"JPN", kJapanese},
    {"CHA", kChineseTraditional}, {"CHS", kChineseSimplified}, {"ARA", kArabic},
    {"KOR", kKorean},   {"INA", kIndonesian}, {"SWE", kSwedish},
    {"INDTE", kTelugu}, {"INDTA", kTamil},   {"INDHI", kHindi},
    {"INDBN", kBengali}, {"INDMR", kMarathi}, {"THA", kThai},
};

struct RawLocale {
  uint32_t lcid;
  const char* name;
};

// Searched in this order; the index of the first hit is logged.
constexpr RawLocale kLocales[] = {
    {0x080C, kFrench},  {0x0C0C, kFrench},  {0x040C, kFrench},  {0x140C, kFrench},
    {0x180C, kFrench},  {0x100C, kFrench},
    {0x0C07, kGerman},  {0x0407, kGerman},  {0x1407, kGerman},  {0x1007, kGerman},
    {0x0807, kGerman},
    {0x0411, kJapanese},
    {0x0416, kPortuguese}, {0x0816, kPortuguese},
    {0x2C0A, kSpanish}, {0x400A, kSpanish}, {0x340A, kSpanish}, {0x240A, kSpanish},
    {0x140A, kSpanish}, {0x1C0A, kSpanish}, {0x300A, kSpanish}, {0x440A, kSpanish},
    {0x100A, kSpanish}, {0x480A, kSpanish}, {0x080A, kSpanish}, {0x4C0A, kSpanish},
    {0x180A, kSpanish}, {0x3C0A, kSpanish}, {0x280A, kSpanish}, {0x500A, kSpanish},
    {0x040A, kSpanish}, {0x0C0A, kSpanish}, {0x380A, kSpanish}, {0x200A, kSpanish},
    {0x0410, kItalian}, {0x0810, kItalian},
    {0x0404, kChineseTraditional}, {0x0C04, kChineseTraditional},
    {0x0804, kChineseSimplified}, {0x1004, kChineseSimplified},
    {0x0419, kRussian}, {0x0819, kRussian},
    {0x0413, kDutch},   {0x0813, kDutch},
    {0x0412, kKorean},
    {0x0421, kIndonesian},
    {0x001D, kSwedish}, {0x041D, kSwedish}, {0x081D, kSwedish},
    {0x3801, kArabic},  {0x3C01, kArabic},  {0x1401, kArabic},  {0x0C01, kArabic},
    {0x0801, kArabic},  {0x2C01, kArabic},  {0x3401, kArabic},  {0x3001, kArabic},
    {0x1001, kArabic},  {0x1801, kArabic},  {0x2001, kArabic},  {0x4001, kArabic},
    {0x0401, kArabic},  {0x2801, kArabic},  {0x1C01, kArabic},  {0x2401, kArabic},
    {0x004E, kMarathi}, {0x044E, kMarathi},
    {0x004A, kTelugu},  {0x044A, kTelugu},
    {0x0049, kTamil},   {0x0449, kTamil},
    {0x0445, kBengali},
    {0x0039, kHindi},   {0x0439, kHindi},
    {0x041E, kThai},
};

// One left-to-right pass: a brand that itself contains "Corvane" is not replaced again.
std::wstring ReplaceBrand(const std::wstring& text, const std::wstring& brand) {
  static const std::wstring kMaker = L"Corvane";
  std::wstring out;
  size_t pos = 0;
  for (;;) {
    const size_t hit = text.find(kMaker, pos);
    if (hit == std::wstring::npos) break;
    out.append(text, pos, hit - pos);
    out += brand;
    pos = hit + kMaker.size();
  }
  out.append(text, pos, std::wstring::npos);
  return out;
}

}  // namespace

const std::vector<LangEntry>& LangTable::Languages() {
  static const std::vector<LangEntry> list = [] {
    std::vector<LangEntry> v;
    for (const RawLang& l : kLanguages) v.push_back({plat::Utf8ToWide(l.name), plat::Utf8ToWide(l.code)});
    return v;
  }();
  return list;
}

const std::vector<LocaleEntry>& LangTable::LocaleTable() {
  static const std::vector<LocaleEntry> table = [] {
    std::vector<LocaleEntry> v;
    for (const RawLocale& l : kLocales) v.push_back({l.lcid, plat::Utf8ToWide(l.name)});
    return v;
  }();
  return table;
}

LangTable::LangTable() : m_curLang(L"English") {
  InitLangCode();
  m_langList = Languages();
}

bool LangTable::InitLangCode() { return InitLangCode(lcid::SystemDefaultLocaleId(), lcid::UserDefaultLocaleId()); }

bool LangTable::InitLangCode(uint32_t systemLcid, uint32_t userLcid) {
  Log(3, "[INFO] InitLangCode SystemDefaultLCID: %d", static_cast<int>(systemLcid));
  Log(3, "[INFO] InitLangCode GetUserDefaultLCID: %d", static_cast<int>(userLcid));
  const std::vector<LocaleEntry>& table = LocaleTable();
  for (size_t i = 0; i < table.size(); ++i) {
    if (table[i].lcid == userLcid) {
      SetCurrentLang(table[i].name);
      Log(3, "[INFO] InitLangCode set: %d", static_cast<int>(i));
      return true;
    }
  }
  Log(3, "[INFO] InitLangCode set: %d", -1);
  return false;
}

bool LangTable::loadLangXML(const std::wstring& brand) {
  Log(3, "[INFO] loadLangXML");
  const plat::Resource* res = plat::ResourceBundle::Own().Find("XML", kLangResourceId);
  if (!res || res->bytes.empty()) return false;
  return LoadLangDocument(res->bytes, brand);
}

bool LangTable::LoadLangDocument(std::string_view utf8, const std::wstring& brand) {
  if (utf8.empty()) return false;
  // A byte-order mark is not part of the document.
  if (utf8.size() >= 3 && utf8.compare(0, 3, "\xEF\xBB\xBF") == 0) utf8.remove_prefix(3);
  const bool keepMaker = plat::ToLowerAscii(brand) == L"corvane";

  XmlDocument doc;
  if (!doc.SetDoc(plat::Utf8ToWide(utf8))) return false;
  if (!doc.FindElem(L"Lang")) return false;
  doc.IntoElem();
  std::map<std::wstring, std::wstring, std::less<>> texts;
  while (doc.FindElem(L"item")) {
    std::wstring text = doc.GetData();
    if (!keepMaker) text = ReplaceBrand(text, brand);
    texts[doc.GetAttrib(L"name")] = std::move(text);
  }
  m_texts = std::move(texts);
  return true;
}

std::wstring LangTable::GetText(std::wstring_view key) const {
  std::wstring text = GetTextOrEmpty(key);
  if (text.empty()) return std::wstring(key);
  return text;
}

std::wstring LangTable::GetTextOrEmpty(std::wstring_view key) const {
  const auto it = m_texts.find(key);
  return it == m_texts.end() ? std::wstring() : it->second;
}

std::wstring LangTable::DisplayNameToCode(std::wstring_view displayName) const {
  for (const LangEntry& e : m_langList) {
    if (e.name == displayName) return e.code;
  }
  return L"ENG";
}

std::wstring LangTable::GetCurrentLang() const {
  std::lock_guard<std::mutex> guard(m_curLock);
  return m_curLang;
}

void LangTable::SetCurrentLang(const std::wstring& name) {
  std::lock_guard<std::mutex> guard(m_curLock);
  m_curLang = name;
}
