#include "system/TextUtils.h"

#include <gtest/gtest.h>

#include <regex>

#include "platform/TextConv.h"
#include "system/Base64.h"

namespace {

struct UrlCase {
  const wchar_t* text;
  bool expected;
};

class IsHttpUrlTable : public ::testing::TestWithParam<UrlCase> {};

TEST_P(IsHttpUrlTable, Classifies) {
  EXPECT_EQ(GetParam().expected, IsHttpUrl(GetParam().text)) << plat::WideToUtf8(GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Table, IsHttpUrlTable,
                         ::testing::Values(UrlCase{L"http://a", true}, UrlCase{L"http://", false},
                                           UrlCase{L"https://", false}, UrlCase{L"https://a", true},
                                           UrlCase{L"  http://cdn.example/p.exe  ", true},
                                           UrlCase{L"   http://   ", false}, UrlCase{L"\thttps://x\t", true},
                                           UrlCase{L"ftp://host/file", false}, UrlCase{L"HTTP://host", false},
                                           UrlCase{L"http:/host", false}, UrlCase{L"", false},
                                           UrlCase{L"www.example.com", false}));

TEST(AddCacheBuster, StartsTheQueryWhenThereIsNone) {
  EXPECT_EQ(L"http://h/cfg.json?_t=1700000000", AddCacheBuster(L"http://h/cfg.json", 1700000000));
}

TEST(AddCacheBuster, ExtendsAnExistingQuery) {
  EXPECT_EQ(L"http://h/cfg?pid=7&_t=1700000000", AddCacheBuster(L"http://h/cfg?pid=7", 1700000000));
  EXPECT_EQ(L"http://h/cfg?&_t=5", AddCacheBuster(L"http://h/cfg?", 5));
}

TEST(AddCacheBuster, UsesTheCurrentSeconds) {
  const std::time_t before = std::time(nullptr);
  const std::string out = plat::WideToUtf8(AddCacheBuster(L"http://h/x"));
  const std::time_t after = std::time(nullptr);
  std::smatch m;
  ASSERT_TRUE(std::regex_match(out, m, std::regex(R"(http://h/x\?_t=(\d+))"))) << out;
  const long long t = std::stoll(m[1].str());
  EXPECT_GE(t, before);
  EXPECT_LE(t, after);
}

TEST(NowStamp, FormatsLocalTime) {
  std::tm tm{};
  tm.tm_year = 2024 - 1900;
  tm.tm_mon = 2;
  tm.tm_mday = 5;
  tm.tm_hour = 9;
  tm.tm_min = 7;
  tm.tm_sec = 41;
  tm.tm_isdst = -1;
  EXPECT_EQ(L"20240305090741", NowStamp(std::mktime(&tm)));
  EXPECT_TRUE(std::regex_match(plat::WideToUtf8(NowStamp()), std::regex(R"(20\d{12})")));
}

TEST(ParseCommandLine, CutsEachArgumentAtItsFirstEquals) {
  const auto m = ParseCommandLine(
      L"\"/opt/My App/qev\" OnlyForkInstallDependent=1 \"path=/tmp/a b/\" url=http://h/?a=b flag -x= dup=1 dup=2");
  const std::map<std::wstring, std::wstring> expected = {
      {L"/opt/My App/qev", L""},  {L"OnlyForkInstallDependent", L"1"}, {L"path", L"/tmp/a b/"},
      {L"url", L"http://h/?a=b"}, {L"flag", L""},                      {L"-x", L""},
      {L"dup", L"2"}};
  EXPECT_EQ(expected, m);
}

TEST(ParseCommandLine, EmptyLineGivesEmptyMap) {
  EXPECT_TRUE(ParseCommandLine(L"").empty());
  EXPECT_TRUE(ParseCommandLine(L"   ").empty());
}

TEST(EncodeBase64Text, EncodesTheNarrowBytes) {
  // RFC 4648 test vectors.
  EXPECT_EQ(L"", EncodeBase64Text(L""));
  EXPECT_EQ(L"Zg==", EncodeBase64Text(L"f"));
  EXPECT_EQ(L"Zm8=", EncodeBase64Text(L"fo"));
  EXPECT_EQ(L"Zm9v", EncodeBase64Text(L"foo"));
  EXPECT_EQ(L"Zm9vYg==", EncodeBase64Text(L"foob"));
  EXPECT_EQ(L"Zm9vYmE=", EncodeBase64Text(L"fooba"));
  EXPECT_EQ(L"Zm9vYmFy", EncodeBase64Text(L"foobar"));
  // Non-ASCII goes through UTF-8 (value from Python's base64 of the UTF-8 bytes).
  EXPECT_EQ(L"R3LDvMOfZSwg5LiW55WMIQ==", EncodeBase64Text(L"Grüße, 世界!"));
}

TEST(Base64Encode, UsesTheLastTwoAlphabetCharacters) {
  EXPECT_EQ("+/8=", sysb64::Encode(std::string("\xfb\xff", 2)));
  EXPECT_EQ("AAAA", sysb64::Encode(std::string(3, '\0')));
}

}  // namespace
