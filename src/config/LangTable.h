#pragma once
// The user-interface texts by key and the languages the installer offers. The texts come
// from the language document (resource 131 "XML": root "Lang", one <item name="key">text
// </item> per text); the current language starts from the user's locale.
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

struct LangEntry {
  std::wstring name;  // display name shown in the language box
  std::wstring code;  // code handed to setup packages ("ENG", "CHS", "INDTE", ...)
};

struct LocaleEntry {
  uint32_t lcid;
  std::wstring name;  // display name of a LangTable::GetLangList() entry
};

class LangTable {
 public:
  // Current language "English", then InitLangCode() from the environment.
  LangTable();
  LangTable(const LangTable&) = delete;
  LangTable& operator=(const LangTable&) = delete;

  // Chooses the current language from the locale ids of lcid::SystemDefaultLocaleId and
  // lcid::UserDefaultLocaleId. True when the user's id is in LocaleTable().
  bool InitLangCode();
  // The same with given ids; the system id is only logged.
  bool InitLangCode(uint32_t systemLcid, uint32_t userLcid);

  // Fills the texts from the running program's resource 131 "XML". Unless the brand is
  // "corvane" in some letter case, every "Corvane" in a text becomes the brand as given
  // (an empty brand removes it). Called once at start-up, before any thread reads texts.
  // False when the resource is missing or empty, does not
  // parse, or has no "Lang" root; the texts are then left as they were.
  bool loadLangXML(const std::wstring& brand);
  // The same from a document's UTF-8 bytes.
  bool LoadLangDocument(std::string_view utf8, const std::wstring& brand);

  // The text of the key; the key itself when it has no text or an empty one.
  std::wstring GetText(std::wstring_view key) const;
  // The text of the key, "" when it has none.
  std::wstring GetTextOrEmpty(std::wstring_view key) const;
  // Code of the first language whose display name equals the name; "ENG" when none does.
  std::wstring DisplayNameToCode(std::wstring_view displayName) const;

  const std::vector<LangEntry>& GetLangList() const { return m_langList; }
  std::wstring GetCurrentLang() const;
  void SetCurrentLang(const std::wstring& name);
  size_t TextCount() const { return m_texts.size(); }

  // The 21 languages in box order, and the 75 (locale id, display name) pairs in search order.
  static const std::vector<LangEntry>& Languages();
  static const std::vector<LocaleEntry>& LocaleTable();

 private:
  mutable std::mutex m_curLock;  // the UI thread changes it while workers read it
  std::wstring m_curLang;
  std::map<std::wstring, std::wstring, std::less<>> m_texts;
  std::vector<LangEntry> m_langList;
};
