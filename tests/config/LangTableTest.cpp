#include "config/LangTable.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "config/LocaleMap.h"
#include "platform/Folders.h"
#include "platform/ResourceBundle.h"
#include "platform/TextConv.h"
#include "shell/simpleLog.h"
#include "support/Sandbox.h"

namespace {

const char* const kEnvVars[] = {"LC_ALL", "LC_MESSAGES", "LANG"};

// Restores the three locale variables when the test ends.
class LocaleEnvGuard {
 public:
  LocaleEnvGuard() {
    for (const char* v : kEnvVars) {
      const char* value = std::getenv(v);
      m_saved.push_back(value ? std::optional<std::string>(value) : std::nullopt);
    }
  }
  ~LocaleEnvGuard() {
    for (size_t i = 0; i < m_saved.size(); ++i) {
      if (m_saved[i]) {
        setenv(kEnvVars[i], m_saved[i]->c_str(), 1);
      } else {
        unsetenv(kEnvVars[i]);
      }
    }
  }
  // nullptr unsets the variable.
  static void Set(const char* var, const char* value) {
    if (value) {
      setenv(var, value, 1);
    } else {
      unsetenv(var);
    }
  }

 private:
  std::vector<std::optional<std::string>> m_saved;
};

class LangTableTest : public ::testing::Test {
 protected:
  qevtest::Sandbox box;
  LocaleEnvGuard env;

  void SetUp() override {
    simpleLog::ResetForTesting();
    simpleLog::Create("langtest.log");
    // Tables built by the tests start from a fixed locale unless a test says otherwise.
    lcid::SetSourcesForTesting([] { return 0x0409u; }, [] { return 0x0409u; });
  }
  void TearDown() override {
    lcid::SetSourcesForTesting(nullptr, nullptr);
    plat::ResourceBundle::SetOwnForTesting(nullptr);
    simpleLog::ResetForTesting();
  }
  std::string LogText() const { return box.ReadFile("/tmp/Corvane/QEV/langtest.log"); }
};

std::wstring W(const char* utf8) { return plat::Utf8ToWide(utf8); }

std::string Doc(const std::string& items) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Lang>\n" + items + "</Lang>\n";
}

// ---- locale table and InitLangCode ----

TEST_F(LangTableTest, LocaleTable_Has75EntriesInSearchOrder) {
  const auto& table = LangTable::LocaleTable();
  ASSERT_EQ(75u, table.size());
  EXPECT_EQ(0x080Cu, table.front().lcid);
  EXPECT_EQ(W("Français"), table.front().name);
  EXPECT_EQ(0x041Eu, table.back().lcid);
  EXPECT_EQ(W("ไทย"), table.back().name);
  EXPECT_EQ(0x0C0Au, table[31].lcid);
  EXPECT_EQ(W("Español"), table[31].name);

  std::set<std::wstring> names;
  for (const auto& l : LangTable::Languages()) names.insert(l.name);
  std::set<uint32_t> ids;
  for (const auto& e : table) {
    EXPECT_TRUE(names.count(e.name)) << std::hex << e.lcid;
    EXPECT_NE(W("English"), e.name);
    EXPECT_TRUE(ids.insert(e.lcid).second) << "duplicate id " << std::hex << e.lcid;
  }
}

struct InitCase {
  uint32_t user;
  bool found;
  const char* lang;
  int index;
};

TEST_F(LangTableTest, InitLangCode_PicksFirstMatchAndLogsIndex) {
  const InitCase cases[] = {
      {0x0C0A, true, "Español", 31},  {0x080C, true, "Français", 0},
      {0x041E, true, "ไทย", 74},      {0x2C0A, true, "Español", 14},
      {0x001D, true, "Svenska", 46},  {0x081D, true, "Svenska", 48},
      {0x0419, true, "P\u0443\u0441\u0441\u043a\u0438\u0439", 40},
      {0x0404, true, "中文繁體", 36}, {0x1004, true, "中文简体", 39},
      {0x2401, true, "العربية", 64}, {0x0409, false, "English", -1},
      {0x0809, false, "English", -1}, {0, false, "English", -1},
  };
  for (const InitCase& c : cases) {
    simpleLog::ResetForTesting();
    std::remove(box.Path("/tmp/Corvane/QEV/langtest.log").c_str());
    simpleLog::Create("langtest.log");
    LangTable table;  // environment answers 0x0409
    EXPECT_EQ(L"English", table.GetCurrentLang());
    EXPECT_EQ(c.found, table.InitLangCode(0x0804, c.user)) << std::hex << c.user;
    EXPECT_EQ(W(c.lang), table.GetCurrentLang()) << std::hex << c.user;
    const std::string log = LogText();
    EXPECT_NE(std::string::npos, log.find("[INFO] InitLangCode SystemDefaultLCID: 2052\n"));
    EXPECT_NE(std::string::npos,
              log.find("[INFO] InitLangCode GetUserDefaultLCID: " + std::to_string(c.user) + "\n"));
    EXPECT_NE(std::string::npos, log.find("[INFO] InitLangCode set: " + std::to_string(c.index) + "\n"))
        << std::hex << c.user << "\n" << log;
  }
}

TEST_F(LangTableTest, InitLangCode_UnknownLocaleKeepsCurrentLanguage) {
  LangTable table;
  ASSERT_TRUE(table.InitLangCode(0x0409, 0x0407));
  EXPECT_EQ(L"Deutsch", table.GetCurrentLang());
  EXPECT_FALSE(table.InitLangCode(0x0409, 0x0409));
  EXPECT_EQ(L"Deutsch", table.GetCurrentLang());
}

TEST_F(LangTableTest, Construction_UsesTheInjectedLocaleIds) {
  lcid::SetSourcesForTesting([] { return 0x0411u; }, [] { return 0x0C0Au; });
  LangTable table;
  EXPECT_EQ(W("Español"), table.GetCurrentLang());
  const std::string log = LogText();
  EXPECT_NE(std::string::npos, log.find("[INFO] InitLangCode SystemDefaultLCID: 1041\n"));
  EXPECT_NE(std::string::npos, log.find("[INFO] InitLangCode GetUserDefaultLCID: 3082\n"));
  EXPECT_NE(std::string::npos, log.find("[INFO] InitLangCode set: 31\n"));
}

// ---- language list and DisplayNameToCode ----

TEST_F(LangTableTest, LanguageList_Has21PairsInBoxOrder) {
  LangTable table;
  const char* const codes[] = {"ENG", "DEU", "FRA", "ITA", "PTG", "ESP", "NLD",
                               "RUS", "JPN", "CHA", "CHS", "ARA", "KOR", "INA",
                               "SWE", "INDTE", "INDTA", "INDHI", "INDBN", "INDMR", "THA"};
  const auto& list = table.GetLangList();
  ASSERT_EQ(21u, list.size());
  for (size_t i = 0; i < list.size(); ++i) EXPECT_EQ(W(codes[i]), list[i].code) << i;
  const std::wstring& russian = list[7].name;
  ASSERT_EQ(7u, russian.size());
  EXPECT_EQ(0x0050u, static_cast<uint32_t>(russian[0]));  // Latin P
  EXPECT_EQ(std::wstring(L"\u0443\u0441\u0441\u043a\u0438\u0439"), russian.substr(1));
}

TEST_F(LangTableTest, DisplayNameToCode_MatchesExactNamesOnly) {
  LangTable table;
  const std::pair<const char*, const char*> cases[] = {
      {"中文简体", "CHS"},
      {"中文繁體", "CHA"},
      {"中文繁体", "ENG"},  // simplified spelling of the traditional name
      {"English", "ENG"},
      {"Deutsch", "DEU"},
      {"deutsch", "ENG"},
      {"Français", "FRA"},
      {"Francais", "ENG"},
      {"P\u0443\u0441\u0441\u043a\u0438\u0439", "RUS"},
      {"\u0420\u0443\u0441\u0441\u043a\u0438\u0439", "ENG"},  // Cyrillic first letter
      {"Bahasa Indonesia", "INA"},
      {"Bahasa", "ENG"},
      {"తెలుగు", "INDTE"},
      {"தமிழ்", "INDTA"},
      {"हिन्दी", "INDHI"},
      {"বাংলা", "INDBN"},
      {"मराठी", "INDMR"},
      {"ไทย", "THA"},
      {"العربية", "ARA"},
      {"한국어", "KOR"},
      {"日本語", "JPN"},
      {"", "ENG"},
      {"Klingon", "ENG"},
  };
  for (const auto& [name, code] : cases) EXPECT_EQ(W(code), table.DisplayNameToCode(W(name))) << name;
}

// ---- POSIX locale names ----

TEST(LocaleMapTest, FromPosixName_MapsNamesToLocaleIds) {
  const std::pair<const char*, uint32_t> cases[] = {
      {"es_AR.UTF-8", 0x2C0A}, {"fr_CA", 0x0C0C},      {"zh_TW.UTF-8@x", 0x0404},
      {"fr_FR", 0x040C},       {"de_AT", 0x0C07},      {"zh_HK", 0x0C04},
      {"zh_CN.GB18030", 0x0804}, {"zh_SG", 0x1004},    {"sv_FI", 0x081D},
      {"ar_EG.UTF-8", 0x0C01}, {"en_US.UTF-8", 0x0409}, {"en_GB", 0x0809},
      {"es", 0x0C0A},          {"sv", 0x041D},         {"zh", 0x0804},
      {"pt", 0x0816},          {"pt_BR.utf8", 0x0416}, {"ar", 0x0401},
      {"es_ES@traditional", 0x040A}, {"es_ES@euro", 0x0C0A}, {"ES_ar", 0x2C0A},
      {"zh-TW", 0x0404},       {"fr_SN", 0x040C},      // unknown territory: the language
      {"de_XX.UTF-8", 0x0407}, {"C", 0},               {"POSIX", 0},
      {"C.UTF-8", 0},          {"", 0},                {"xx_YY", 0},
      {"e", 0},                {"1s_ES", 0},           {"_ES", 0},
      {".UTF-8", 0},           {"@x", 0},
  };
  for (const auto& [name, id] : cases) EXPECT_EQ(id, lcid::FromPosixName(name)) << name;
  EXPECT_EQ(0u, lcid::FromPosixName(std::string(65, 'a')));
  EXPECT_EQ(0u, lcid::FromPosixName(std::string("es_AR") + std::string(70, 'x')));
}

TEST(LocaleMapTest, EverySpecificIdOfTheLocaleTableIsReachable) {
  const char* const names[] = {
      "fr_BE", "fr_CA", "fr_FR", "fr_LU", "fr_MC", "fr_CH", "de_AT", "de_DE", "de_LI", "de_LU",
      "de_CH", "ja_JP", "pt_BR", "pt_PT", "es_AR", "es_BO", "es_CL", "es_CO", "es_CR", "es_DO",
      "es_EC", "es_SV", "es_GT", "es_HN", "es_MX", "es_NI", "es_PA", "es_PY", "es_PE", "es_PR",
      "es_ES@traditional", "es_ES", "es_UY", "es_VE", "it_IT", "it_CH", "zh_TW", "zh_HK",
      "zh_CN", "zh_SG", "ru_RU", "ru_MD", "nl_NL", "nl_BE", "ko_KR", "id_ID", "sv_SE", "sv_FI",
      "ar_AE", "ar_BH", "ar_DZ", "ar_EG", "ar_IQ", "ar_JO", "ar_KW", "ar_LB", "ar_LY", "ar_MA",
      "ar_OM", "ar_QA", "ar_SA", "ar_SY", "ar_TN", "ar_YE", "mr_IN", "te_IN", "ta_IN", "bn_IN",
      "hi_IN", "th_TH"};
  std::set<uint32_t> reached;
  for (const char* n : names) reached.insert(lcid::FromPosixName(n));
  const std::set<uint32_t> neutral = {0x001D, 0x004E, 0x004A, 0x0049, 0x0039};
  for (const auto& e : LangTable::LocaleTable()) {
    if (neutral.count(e.lcid)) {
      EXPECT_FALSE(reached.count(e.lcid)) << std::hex << e.lcid;
    } else {
      EXPECT_TRUE(reached.count(e.lcid)) << std::hex << e.lcid;
    }
  }
}

struct EnvCase {
  const char* lcAll;
  const char* lcMessages;
  const char* lang;
  uint32_t id;
  const char* display;
};

TEST_F(LangTableTest, UserLocale_LcAllBeatsLcMessagesBeatsLang) {
  const EnvCase cases[] = {
      {"fr_FR.UTF-8", "de_DE.UTF-8", "es_ES.UTF-8", 0x040C, "Français"},
      {"", "de_DE.UTF-8", "es_ES.UTF-8", 0x0407, "Deutsch"},
      {nullptr, "de_DE.UTF-8", "es_ES.UTF-8", 0x0407, "Deutsch"},
      {nullptr, nullptr, "es_AR.UTF-8", 0x2C0A, "Español"},
      {"", "", "ja_JP.UTF-8", 0x0411, "日本語"},
      {"C", "de_DE.UTF-8", "es_ES.UTF-8", 0x0409, "English"},  // LC_ALL=C is set, so it wins
      {nullptr, "POSIX", "es_ES.UTF-8", 0x0409, "English"},
      {nullptr, nullptr, "C.UTF-8", 0x0409, "English"},
      {nullptr, nullptr, nullptr, 0x0409, "English"},
      {"", "", "", 0x0409, "English"},
      {nullptr, nullptr, "xx_YY.UTF-8", 0x0409, "English"},
      {nullptr, nullptr, "zh_TW.UTF-8@x", 0x0404, "中文繁體"},
  };
  lcid::SetSourcesForTesting([] { return 0x0409u; }, nullptr);
  for (const EnvCase& c : cases) {
    LocaleEnvGuard::Set("LC_ALL", c.lcAll);
    LocaleEnvGuard::Set("LC_MESSAGES", c.lcMessages);
    LocaleEnvGuard::Set("LANG", c.lang);
    EXPECT_EQ(c.id, lcid::UserDefaultLocaleId()) << (c.lang ? c.lang : "(unset)");
    LangTable table;
    EXPECT_EQ(W(c.display), table.GetCurrentLang()) << (c.lang ? c.lang : "(unset)");
  }
}

TEST_F(LangTableTest, SystemLocale_ReadsDefaultLocaleFileElseTheUsers) {
  lcid::SetSourcesForTesting(nullptr, nullptr);
  LocaleEnvGuard::Set("LC_ALL", nullptr);
  LocaleEnvGuard::Set("LC_MESSAGES", nullptr);
  LocaleEnvGuard::Set("LANG", "de_AT.UTF-8");
  const std::string file = "/etc/default/locale";

  EXPECT_EQ(0x0C07u, lcid::SystemDefaultLocaleId());  // no file: the user's

  const std::pair<std::string, uint32_t> cases[] = {
      {"LANG=sv_FI.UTF-8\n", 0x081D},
      {"#  File generated by update-locale\nLANG=\"es_AR.UTF-8\"\nLANGUAGE=\"fr_FR\"\n", 0x2C0A},
      {"export LANG='zh_HK.UTF-8'\r\n", 0x0C04},
      {"LANG=fr_CA.UTF-8 # local\n", 0x0C0C},
      {"LANG=de_DE.UTF-8\nLANG=it_IT.UTF-8\n", 0x0410},  // the last one counts
      {"LANG=C.UTF-8\n", 0x0409},
      {"LANG=xx\n", 0x0409},
      {"LC_MESSAGES=fr_FR.UTF-8\n", 0x0C07},  // no LANG line: the user's
      {"LANG=\n", 0x0C07},
      {"", 0x0C07},
      {"LANG=sv_SE.UTF-8\n" + std::string(70 * 1024, '#'), 0x0C07},  // too large to be one
  };
  for (const auto& [content, id] : cases) {
    box.WriteFile(file, content);
    EXPECT_EQ(id, lcid::SystemDefaultLocaleId()) << content.substr(0, 60);
  }
  EXPECT_EQ(0x0C07u, lcid::UserDefaultLocaleId());
}

// ---- texts ----

TEST_F(LangTableTest, GetText_FallsBackToTheKeyAndGetTextOrEmptyToNothing) {
  LangTable table;
  ASSERT_TRUE(table.LoadLangDocument(
      Doc("<item name=\"ok\">OK</item>\n<item name=\"blank\"></item>\n"
          "<item name=\"ru\">Русский текст</item>\n"),
      L"Corvane"));
  EXPECT_EQ(L"OK", table.GetText(L"ok"));
  EXPECT_EQ(L"OK", table.GetTextOrEmpty(L"ok"));
  EXPECT_EQ(L"missing_key", table.GetText(L"missing_key"));
  EXPECT_EQ(L"", table.GetTextOrEmpty(L"missing_key"));
  EXPECT_EQ(L"blank", table.GetText(L"blank"));
  EXPECT_EQ(L"", table.GetTextOrEmpty(L"blank"));
  EXPECT_EQ(L"", table.GetText(L""));
  EXPECT_EQ(L"OK", table.GetText(L"OK"));  // keys are case-sensitive: the key comes back
  EXPECT_EQ(L"", table.GetTextOrEmpty(L"OK"));
  EXPECT_EQ(W("Русский текст"), table.GetText(L"ru"));
}

TEST_F(LangTableTest, LoadLangDocument_LaterDuplicateWins) {
  LangTable table;
  ASSERT_TRUE(table.LoadLangDocument(
      Doc("<item name=\"k\">first</item><item name=\"other\">x</item><item name=\"k\">second</item>"),
      L"Corvane"));
  EXPECT_EQ(L"second", table.GetText(L"k"));
  EXPECT_EQ(2u, table.TextCount());
}

struct BrandCase {
  const wchar_t* brand;
  const wchar_t* expected;
};

TEST_F(LangTableTest, LoadLangDocument_ReplacesTheMakerNameUnlessTheBrandIsCorvane) {
  const std::string doc = Doc("<item name=\"t\">Corvane app by Corvane; corvane CORVANE</item>"
                              "<item name=\"plain\">No name here</item>");
  const BrandCase cases[] = {
      {L"Corvane", L"Corvane app by Corvane; corvane CORVANE"},
      {L"corvane", L"Corvane app by Corvane; corvane CORVANE"},
      {L"CORVANE", L"Corvane app by Corvane; corvane CORVANE"},
      {L"cOrVaNe", L"Corvane app by Corvane; corvane CORVANE"},
      {L"Brenox", L"Brenox app by Brenox; corvane CORVANE"},
      {L"CorvanePro", L"CorvanePro app by CorvanePro; corvane CORVANE"},  // one pass only
      {L"Corvane Labs", L"Corvane Labs app by Corvane Labs; corvane CORVANE"},
      {L"", L" app by ; corvane CORVANE"},
  };
  for (const BrandCase& c : cases) {
    LangTable table;
    ASSERT_TRUE(table.LoadLangDocument(doc, c.brand));
    EXPECT_EQ(c.expected, table.GetText(L"t")) << plat::WideToUtf8(c.brand);
    EXPECT_EQ(L"No name here", table.GetText(L"plain"));
  }
}

TEST_F(LangTableTest, LoadLangDocument_RefusesBadDocumentsAndKeepsTheTexts) {
  LangTable table;
  ASSERT_TRUE(table.LoadLangDocument(Doc("<item name=\"ok\">OK</item>"), L"Corvane"));
  const std::string bad[] = {
      "",
      "   ",
      "<Lang><item name=\"ok\">Broken</item>",
      "<Lang><item name=\"ok\">Broken</Lang></item>",
      "not xml at all",
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Texts><item name=\"ok\">Other</item></Texts>",
      "<Root><Lang><item name=\"ok\">Nested</item></Lang></Root>",
      "<lang><item name=\"ok\">lower</item></lang>",
      "<Lang></Lang><Lang><item name=\"ok\">Second root</item></Lang>",
  };
  for (const std::string& doc : bad) {
    EXPECT_FALSE(table.LoadLangDocument(doc, L"Corvane")) << doc;
    EXPECT_EQ(L"OK", table.GetText(L"ok")) << doc;
  }
}

TEST_F(LangTableTest, LoadLangDocument_EmptyLangRootIsValid) {
  LangTable table;
  EXPECT_TRUE(table.LoadLangDocument("<Lang/>", L"Corvane"));
  EXPECT_EQ(0u, table.TextCount());
  EXPECT_TRUE(table.LoadLangDocument("\xEF\xBB\xBF<Lang><item name=\"a\">b</item></Lang>", L"Corvane"));
  EXPECT_EQ(L"b", table.GetText(L"a"));
}

TEST_F(LangTableTest, loadLangXML_ReadsResource131OfTypeXml) {
  plat::ResourceBundle bundle;
  bundle.Add({"XML", 106, "<Lang><item name=\"k\">product configuration</item></Lang>"});
  bundle.Add({"ZIPRES", 131, "<Lang><item name=\"k\">wrong type</item></Lang>"});
  bundle.Add({"XML", 131, "<Lang><item name=\"k\">Hello from Corvane</item></Lang>"});
  plat::ResourceBundle::SetOwnForTesting(&bundle);
  LangTable table;
  ASSERT_TRUE(table.loadLangXML(L"Brenox"));
  EXPECT_EQ(L"Hello from Brenox", table.GetText(L"k"));
  EXPECT_NE(std::string::npos, LogText().find("[INFO] loadLangXML\n"));
}

TEST_F(LangTableTest, loadLangXML_FailsWithoutAUsableResource) {
  std::vector<plat::ResourceBundle> bundles(4);
  bundles[1].Add({"XML", 106, "<Lang><item name=\"k\">v</item></Lang>"});
  bundles[2].Add({"XML", 131, ""});
  bundles[3].Add({"XML", 131, "<Lang><item name=\"k\">v</item>"});
  for (size_t i = 0; i < bundles.size(); ++i) {
    plat::ResourceBundle::SetOwnForTesting(&bundles[i]);
    LangTable table;
    EXPECT_FALSE(table.loadLangXML(L"Corvane")) << i;
    EXPECT_EQ(0u, table.TextCount()) << i;
  }
}

// ---- the shipped document ----

TEST_F(LangTableTest, ShippedDocument_ParsesAndHoldsEveryNamedKey) {
  std::string bytes;
  ASSERT_TRUE(plat::ReadWholeFile(qevtest::SourcePath("data/lang.xml"), bytes));
  LangTable table;
  ASSERT_TRUE(table.LoadLangDocument(bytes, L"Corvane"));

  const char* const keys[] = {
      // the ones the language table itself names
      "errmsg_md5", "errmsg_disk", "errmsg_connect", "errmsg_downfailed", "errmsg_install",
      "TrayMenuTxt", "Btn_Install", "Lbl_InstallFolder", "Lbl_selectlang", "install_failed",
      "retry", "ok", "cancel", "privacy_wnd_title", "cancel_download_in_progress", "Lbl_DiskFull",
      // the main window and its prompts
      "Btn_Run", "Btn_Modify", "if_install_failed_tip", "check_network", "check_disk",
      "download_pkg", "report_contact_tip", "contact_tip", "remark_tip", "get_help",
      "send_error_report", "TrayIconTip1", "TrayIconTip2", "TrayIconTip3", "TrayMenuOpenTxt",
      "main_privacy_tip", "main_privacy_tip_tail", "privacy_wnd_privacy", "privacy_wnd_and",
      "privacy_wnd_eula", "Lbl_Install_Obx", "new_install_time_tip", "new_download_time_tip",
      "install_error", "not_support_x86", "not_enough_disk_space", "clean_disk", "tipmsg_webdown",
      "cancel_title", "cancel_download_not_started", "continue_to_install", "tipmsg_close",
      "give_up", "privacy_spaceinfo", "product_is_running_tip", "privacy_running_close",
      "privacy_running_continue", "errmsg_pathnoexist", "tipmsg_installed", "tipmsg_adminpath",
      "change_dir_or_clean_disk", "instal_adminpath", "unavailable_dir_tip", "SelectFolderTip",
      "information", "warning", "error", "change_install_location", "reported_tip",
      "redeem_tip_not_again", "redeem_tip_fail", "privacy_wnd_tip", "privacy_wnd_agree_install",
      "privacy_wnd_not_agree", "privacy_wnd_tip_tail", "please_input_email",
      "please_input_correct_email", "email_long_than_50", "email_address", "redeem_tip"};
  for (const char* key : keys) EXPECT_NE(L"", table.GetTextOrEmpty(W(key))) << key;
  EXPECT_GE(table.TextCount(), sizeof(keys) / sizeof(keys[0]));

  // Texts that are formatted must carry the placeholders their callers fill.
  const std::pair<const char*, const char*> formats[] = {
      {"TrayIconTip1", "%s"},
      {"TrayIconTip2", "%s%d%s"},
      {"TrayIconTip3", "%s"},
      {"product_is_running_tip", "%s"},
      {"cancel_download_in_progress", "%s"},
      {"privacy_spaceinfo", "%s%s"},
      {"new_download_time_tip", "%d%d%d"},
      {"new_install_time_tip", "%d%d%d"},
  };
  for (const auto& [key, expected] : formats) {
    const std::string text = plat::WideToUtf8(table.GetText(W(key)));
    std::string conversions;
    for (size_t i = 0; i + 1 < text.size(); ++i) {
      if (text[i] != '%') continue;
      size_t j = i + 1;
      while (j < text.size() && (text[j] == '0' || (text[j] >= '1' && text[j] <= '9'))) ++j;
      if (j < text.size()) conversions += std::string("%") + text[j];
      i = j;
    }
    EXPECT_EQ(expected, conversions) << key;
  }

  // Other brands see their own name wherever the maker is named.
  LangTable branded;
  ASSERT_TRUE(branded.LoadLangDocument(bytes, L"Brenox"));
  EXPECT_EQ(table.TextCount(), branded.TextCount());
  bool anyBrand = false;
  for (const char* key : keys) {
    const std::wstring text = branded.GetText(W(key));
    EXPECT_EQ(std::wstring::npos, text.find(L"Corvane")) << key;
    anyBrand = anyBrand || text.find(L"Brenox") != std::wstring::npos;
  }
  EXPECT_TRUE(anyBrand);
}

}  // namespace
