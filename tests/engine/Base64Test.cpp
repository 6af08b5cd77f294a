#include <gtest/gtest.h>

#include <string>

#include "engine/Base64.h"

namespace {

using ns_KDL::Base64Decode;
using ns_KDL::Base64Encode;

struct Vector {
  std::string bytes;
  std::string text;
};

class Base64Vectors : public ::testing::TestWithParam<Vector> {};

TEST_P(Base64Vectors, EncodeAndDecode) {
  const Vector& v = GetParam();
  EXPECT_EQ(Base64Encode(v.bytes), v.text);
  std::string bytes = "stale";
  EXPECT_TRUE(Base64Decode(v.text, bytes));
  EXPECT_EQ(bytes, v.bytes);
  EXPECT_EQ(Base64Decode(v.text), v.bytes);
}

// RFC 4648 section 10, then bytes that reach both ends of the alphabet.
const Vector kVectors[] = {
    {"", ""},
    {"f", "Zg=="},
    {"fo", "Zm8="},
    {"foo", "Zm9v"},
    {"foob", "Zm9vYg=="},
    {"fooba", "Zm9vYmE="},
    {"foobar", "Zm9vYmFy"},
    {std::string("\xfb\xff", 2), "+/8="},
    {std::string("\xff\xff\xff", 3), "////"},
    {std::string(3, '\0'), "AAAA"},
    {std::string(1, '\0'), "AA=="},
    {std::string("\x00\x10\x83\x10\x51\x87\x20\x92\x8b\x30\xd3\x8f\x41\x14\x93\x51\x55\x97\x61\x96\x9b\x71\xd7\x9f"
                 "\x82\x18\xa3\x92\x59\xa7\xa2\x9a\xab\xb2\xdb\xaf\xc3\x1c\xb3\xd3\x5d\xb7\xe3\x9e\xbb\xf3\xdf\xbf",
                 48),
     "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"},
    {"{\"client_actions\":[]}", "eyJjbGllbnRfYWN0aW9ucyI6W119"},
};

INSTANTIATE_TEST_SUITE_P(Table, Base64Vectors, ::testing::ValuesIn(kVectors));

TEST(Base64, EveryLengthAndByteRoundTrips) {
  std::string bytes;
  for (int n = 0; n < 300; ++n) {
    const std::string text = Base64Encode(bytes);
    ASSERT_EQ(text.size(), (bytes.size() + 2) / 3 * 4);
    ASSERT_EQ(text.find_first_of("\r\n"), std::string::npos);
    std::string back;
    ASSERT_TRUE(Base64Decode(text, back)) << text;
    ASSERT_EQ(back, bytes);
    bytes.push_back(static_cast<char>((n * 151 + 17) & 0xff));
  }
}

TEST(Base64, RawPointerForm) {
  const unsigned char data[] = {0x66, 0x6f, 0x6f};
  EXPECT_EQ(Base64Encode(data, sizeof data), "Zm9v");
  EXPECT_EQ(Base64Encode(nullptr, 0), "");
}

// Every 4-character text over six alphabet characters, "=", "*" and a line break: decoding
// succeeds exactly for the texts the encoder writes, so a text that decodes is always the
// encoding of its bytes.
TEST(Base64, DecodedTextsAreExactlyTheEncodedOnes) {
  const std::string chars = "AQgh/+=*\n";
  std::string text(4, ' ');
  int accepted = 0;
  for (char a : chars)
    for (char b : chars)
      for (char c : chars)
        for (char d : chars) {
          text = {a, b, c, d};
          std::string bytes;
          if (!Base64Decode(text, bytes)) continue;
          ++accepted;
          ASSERT_EQ(Base64Encode(bytes), text);
        }
  // Six alphabet characters. No padding: 6^4; "xyz=" needs z's low 2 bits clear (A, Q, g):
  // 6*6*3; "xy==" needs y's low 4 bits clear (A, Q, g): 6*3.
  EXPECT_EQ(accepted, 1296 + 108 + 18);
}

struct Refused {
  const char* name;
  std::string text;
};

class Base64Refused : public ::testing::TestWithParam<Refused> {};

TEST_P(Base64Refused, DecodeFailsWithNoBytes) {
  std::string bytes = "stale";
  EXPECT_FALSE(Base64Decode(GetParam().text, bytes));
  EXPECT_EQ(bytes, "");
  EXPECT_EQ(Base64Decode(GetParam().text), "");
}

const Refused kRefused[] = {
    {"LengthOne", "Z"},
    {"LengthThree", "Zm9"},
    {"MissingPadding", "Zg"},
    {"ShortPadding", "Zg="},
    {"PaddingOnly", "===="},
    {"ThreePads", "Z==="},
    {"PaddingInTheMiddle", "Zg==Zm9v"},
    {"PadThenData", "Zm=v"},
    {"PadBeforeLastChar", "Zm9v=A=="},
    {"UnusedBitsSetOnePad", "Zm9="},
    {"UnusedBitsSetTwoPads", "Zh=="},
    {"Space", "Zm9v Zm9v"},
    {"TrailingNewline", "Zm9v\n"},
    {"CrLfInside", "Zm9v\r\nZm9v"},
    {"UrlSafeMinus", "-_8="},
    {"Asterisk", "Zm9*"},
    {"NulByte", std::string("Zm9\0", 4)},
    {"HighByte", "Zm9\xff"},
    {"LongWithOneBadChar", std::string(4000, 'A') + "AA.A"},
};

INSTANTIATE_TEST_SUITE_P(Table, Base64Refused, ::testing::ValuesIn(kRefused),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
