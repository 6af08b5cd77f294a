#include "system/ClientSign.h"

#include <gtest/gtest.h>

#include <cwctype>
#include <set>

#include "platform/Registry.h"
#include "support/Sandbox.h"

namespace {

using plat::Hive;
using plat::Registry;
using plat::RegView;

const std::wstring kBrand = L"Tessaro";

std::wstring Stored(Hive hive, const std::wstring& key) {
  return Registry::ReadString(hive, RegView::Default, key, L"ClientSign").value_or(L"<missing>");
}

void ExpectWellFormed(const std::wstring& sign) {
  ASSERT_EQ(39u, sign.size()) << sign.c_str();
  EXPECT_EQ(L'{', sign.front());
  EXPECT_EQ(L"G}", sign.substr(37));
  EXPECT_EQ(L'4', sign[15]);  // the 15th character after the brace
  EXPECT_NE(std::wstring::npos, std::wstring(L"89ab").find(sign[20]));
  for (size_t i = 1; i < 37; ++i) {
    if (i == 9 || i == 14 || i == 19 || i == 24) {
      EXPECT_EQ(L'-', sign[i]) << i;
    } else {
      EXPECT_TRUE(std::iswxdigit(sign[i]) && !std::iswupper(sign[i])) << i;
    }
  }
}

TEST(ClientSignKeys, AreBuiltFromTheBrand) {
  EXPECT_EQ(L"Software\\Tessaro\\Tessaro Kelvadex\\", BrandSignKey(kBrand));
  EXPECT_EQ(L"Software\\Tessaro\\BRX\\", BrandDataKey(kBrand));
}

// Expected texts worked out apart from this code. For state (1, 2), by hand:
//   x = 1, y = 2; x ^= x << 23 -> 0x800001; s1 = 0x800001 ^ 2 ^ (0x800001 >> 18 = 0x20)
//   ^ (2 >> 5 = 0) = 0x800023; output s1 + y = 0x800025, bytes 25 00 80 00 00 .. 00,
//   half-bytes low first 5 2 0 0 0 8 0 0 -> "52000800".
// The other literals came from a separate Python model of the generator and template.
TEST(ClientSignFromState, MatchesIndependentlyComputedValues) {
  EXPECT_EQ(L"{00000000-0000-4000-8000-000000000000G}", ClientSignFromState(0, 0));
  EXPECT_EQ(L"{52000800-0000-4000-8380-040200000000G}", ClientSignFromState(1, 2));
  EXPECT_EQ(L"{5f33146a-c0e9-4aaa-8456-03d44bc31247G}",
            ClientSignFromState(0x0123456789ABCDEFull, 0xFEDCBA9876543210ull));
}

TEST(ClientSignFromSeed, ReadsBothWordsLittleEndian) {
  uint8_t seed[16];
  for (int i = 0; i < 16; ++i) seed[i] = static_cast<uint8_t>(i + 1);
  // s0 = 0x0807060504030201, s1 = 0x100f0e0d0c0b0a09
  EXPECT_EQ(L"{18b541d2-5618-491a-a055-617bc042ad56G}", ClientSignFromSeed(seed));
  EXPECT_EQ(ClientSignFromState(0x0807060504030201ull, 0x100f0e0d0c0b0a09ull), ClientSignFromSeed(seed));
}

TEST(NewClientSign, IsWellFormedAndFreshEachTime) {
  std::set<std::wstring> seen;
  for (int i = 0; i < 20; ++i) {
    const std::wstring sign = NewClientSign();
    ExpectWellFormed(sign);
    seen.insert(sign);
  }
  EXPECT_EQ(20u, seen.size());
}

TEST(GetClientSign, CreatesAndStoresUnderBothMachineKeys) {
  qevtest::Sandbox box;
  EXPECT_EQ(L"", ReadClientSign(kBrand));
  const std::wstring sign = GetClientSign(kBrand);
  ExpectWellFormed(sign);
  EXPECT_EQ(sign, Stored(Hive::LocalMachine, BrandSignKey(kBrand)));
  EXPECT_EQ(sign, Stored(Hive::LocalMachine, BrandDataKey(kBrand)));
  EXPECT_EQ(L"<missing>", Stored(Hive::CurrentUser, BrandSignKey(kBrand)));
  EXPECT_EQ(sign, GetClientSign(kBrand));
  EXPECT_EQ(sign, ReadClientSign(kBrand));
}

TEST(GetClientSign, ReturnsAStoredSignWithoutWriting) {
  qevtest::Sandbox box;
  Registry::WriteString(Hive::CurrentUser, RegView::Default, BrandSignKey(kBrand), L"ClientSign", L"{user}");
  EXPECT_EQ(L"{user}", GetClientSign(kBrand));
  EXPECT_EQ(L"<missing>", Stored(Hive::LocalMachine, BrandSignKey(kBrand)));
  EXPECT_EQ(L"<missing>", Stored(Hive::LocalMachine, BrandDataKey(kBrand)));
}

TEST(GetClientSign, BrandsKeepTheirOwnSigns) {
  qevtest::Sandbox box;
  const std::wstring a = GetClientSign(L"BrandA");
  const std::wstring b = GetClientSign(L"BrandB");
  EXPECT_NE(a, b);
  EXPECT_EQ(a, GetClientSign(L"BrandA"));
}

struct ReadOrderCase {
  const wchar_t* user;     // HKCU sign key, nullptr: not written
  const wchar_t* machine;  // HKLM sign key
  const wchar_t* data;     // HKLM data key
  const wchar_t* expected;
};

class ReadClientSignOrder : public ::testing::TestWithParam<ReadOrderCase> {};

TEST_P(ReadClientSignOrder, UserSignKeyThenMachineSignKeyThenDataKey) {
  qevtest::Sandbox box;
  const ReadOrderCase& c = GetParam();
  if (c.user) Registry::WriteString(Hive::CurrentUser, RegView::Default, BrandSignKey(kBrand), L"ClientSign", c.user);
  if (c.machine) {
    Registry::WriteString(Hive::LocalMachine, RegView::Default, BrandSignKey(kBrand), L"ClientSign", c.machine);
  }
  if (c.data) Registry::WriteString(Hive::LocalMachine, RegView::Default, BrandDataKey(kBrand), L"ClientSign", c.data);
  EXPECT_EQ(std::wstring(c.expected), ReadClientSign(kBrand));
}

INSTANTIATE_TEST_SUITE_P(Table, ReadClientSignOrder,
                         ::testing::Values(ReadOrderCase{L"U", L"M", L"D", L"U"},
                                           ReadOrderCase{nullptr, L"M", L"D", L"M"},
                                           ReadOrderCase{nullptr, nullptr, L"D", L"D"},
                                           ReadOrderCase{L"U", nullptr, L"D", L"U"},
                                           ReadOrderCase{L"", L"M", L"D", L"M"},  // empty counts as none
                                           ReadOrderCase{nullptr, L"", L"", L""},
                                           ReadOrderCase{nullptr, nullptr, nullptr, L""}));

TEST(ReadClientSign, CreatesTheUserKeyAndCutsAtFiftyCharacters) {
  qevtest::Sandbox box;
  EXPECT_FALSE(Registry::KeyExists(Hive::CurrentUser, RegView::Default, BrandSignKey(kBrand)));
  ReadClientSign(kBrand);
  EXPECT_TRUE(Registry::KeyExists(Hive::CurrentUser, RegView::Default, BrandSignKey(kBrand)));

  const std::wstring longSign(70, L'a');
  Registry::WriteString(Hive::LocalMachine, RegView::Default, BrandDataKey(kBrand), L"ClientSign", longSign);
  EXPECT_EQ(std::wstring(50, L'a'), ReadClientSign(kBrand));
}

TEST(ReadClientSign, IgnoresTheThirtyTwoBitView) {
  qevtest::Sandbox box;
  Registry::WriteString(Hive::LocalMachine, RegView::View32, BrandSignKey(kBrand), L"ClientSign", L"{32}");
  EXPECT_EQ(L"", ReadClientSign(kBrand));
}

}  // namespace
