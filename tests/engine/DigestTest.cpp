#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <regex>
#include <string>
#include <vector>

#include "engine/Md5.h"
#include "engine/Sha256.h"
#include "platform/TextConv.h"
#include "support/Sandbox.h"

namespace {

using ns_KDL::Md5OfBytes;
using ns_KDL::Md5OfFile;
using ns_KDL::Sha256Hex;

// A byte pattern with no period that lines up with a 64-byte block.
std::string Pattern(size_t n) {
  std::string out(n, '\0');
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<char>(((i * 31 + 7) ^ (i >> 8)) & 0xff);
  return out;
}

std::string Sha256WordsToHex(const std::array<uint32_t, 8>& h) {
  std::string out;
  for (uint32_t w : h) out += plat::Format("%08x", w);
  return out;
}

// Published vectors: RFC 1321 appendix A.5, FIPS 180-4 examples, NIST's one million 'a'.
struct Vector {
  std::string message;
  const char* md5;
  const char* sha256;
};

const std::vector<Vector>& Vectors() {
  static const std::vector<Vector> v = {
      {"", "d41d8cd98f00b204e9800998ecf8427e",
       "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"a", "0cc175b9c0f1b6a831c399e269772661",
       "ca978112ca1bbdcafac231b39a23dc4da786eff8147c4e72b9807785afee48bb"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72",
       "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0",
       "f7846f55cf23e14eebeab5b4e1550cad5b509e3348fbc4efa3a1413d393cb650"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b",
       "71c480df93d6ae2f1efad1447c66c9525e316218cf51fc8d9ed832f2daf18b73"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f",
       "db4bfcbd4da0cd85a60c3c37d3fbd8805c77f15fc6b1fdfe614ee0a7c8fdb4c0"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a",
       "f371bc4a311f2b009eef952dd83ca80e2b60026c8e935592d0f9c308453c813e"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "8215ef0796a20bcaaae116d3876c664a",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqr"
       "lmnopqrsmnopqrstnopqrstu",
       "03dd8807a93175fb062dfb55dc7d359c",
       "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
      {std::string(1000000, 'a'), "7707d6ae4e027c70eea2a935c2296f21",
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  return v;
}

std::string Label(const std::string& message) {
  return message.size() > 20 ? plat::Format("%zu bytes", message.size()) : "\"" + message + "\"";
}

TEST(Md5OfBytes, MatchesThePublishedVectors) {
  for (const Vector& v : Vectors()) {
    EXPECT_EQ(v.md5, Md5OfBytes(v.message.data(), v.message.size())) << Label(v.message);
  }
}

TEST(Md5OfBytes, AcceptsNullForAnEmptyBuffer) {
  EXPECT_EQ("d41d8cd98f00b204e9800998ecf8427e", Md5OfBytes(nullptr, 0));
}

TEST(Sha256Digest, MatchesThePublishedVectorsIncludingTheEmptyMessage) {
  const ns_KDL::Sha256 sha;
  for (const Vector& v : Vectors()) {
    const std::vector<uint8_t> bytes(v.message.begin(), v.message.end());
    EXPECT_EQ(v.sha256, Sha256WordsToHex(sha.Digest(bytes))) << Label(v.message);
  }
}

TEST(Sha256Hex, MatchesThePublishedVectors) {
  for (const Vector& v : Vectors()) {
    if (v.message.empty()) continue;
    EXPECT_EQ(v.sha256, Sha256Hex(v.message)) << Label(v.message);
  }
}

TEST(Sha256Hex, EmptyTextGivesEmptyText) {
  EXPECT_EQ("", Sha256Hex(""));
  EXPECT_EQ("", Sha256Hex(std::string()));
}

TEST(Sha256Hex, HashesEveryByteOfTheTextIncludingNul) {
  EXPECT_EQ("59b271ae1bbcb1d31d41929817f4b16fb439eb4f31520b5ad1d5ce98920a7138",
            Sha256Hex(std::string("a\0b", 3)));
}

TEST(Sha256Hex, OutputIsSixtyFourLowerCaseDigits) {
  const std::regex form("[0-9a-f]{64}");
  for (size_t n = 1; n < 200; n += 7) {
    EXPECT_TRUE(std::regex_match(Sha256Hex(Pattern(n)), form)) << n;
  }
}

// Lengths around the padding boundaries: 55 still fits the length in the last block, 56
// needs a second one; 63/64/65 straddle a whole block.
struct Boundary {
  size_t length;
  const char* md5;
  const char* sha256;
};

class DigestBoundary : public ::testing::TestWithParam<Boundary> {};

TEST_P(DigestBoundary, BytesAndFileAgreeWithReference) {
  const Boundary& b = GetParam();
  const std::string data = Pattern(b.length);
  EXPECT_EQ(b.md5, Md5OfBytes(data.data(), data.size()));
  EXPECT_EQ(b.sha256, Sha256Hex(data));

  qevtest::Sandbox sandbox;
  sandbox.WriteFile("/data/package.bin", data);
  EXPECT_EQ(b.md5, Md5OfFile(plat::Utf8ToWide(sandbox.Path("/data/package.bin"))));
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, DigestBoundary,
    ::testing::Values(
        Boundary{1, "89e74e640b8c46257a29de0616794d5d",
                 "ca358758f6d27e6cf45272937977a748fd88391db679ceda7dc7bf1f005ee879"},
        Boundary{55, "c9e512626618c9980ef21a96597af94c",
                 "8aa994584139d128848eeebc4e815639ba5ab6e6e39574195a63ac4f14f7c43b"},
        Boundary{56, "ecde7caa08e9f5657c863df107cac60a",
                 "ad574708f75c044c9b85de64cb568ee7711ff4f36448c6242f053ba8f6cc2b63"},
        Boundary{57, "b17b1a018dd6a4d1edda8aca15f17846",
                 "5b46e502092be01b1100193e089fdda95638c12e19a1d24f308eb2c3d3ae849d"},
        Boundary{63, "2f0301069e1c40af7f6c8f843b1b13f2",
                 "280ed3e8ff1df845b2e7dfe6ac6cee817bef20e783cc65abc41b818b4d2fe076"},
        Boundary{64, "b6bf87c24b1bc334e2541387a92b981b",
                 "c6ab9724ade5b6a7a1edfffb12f3aa9181351355af8fd08c919952ad211339dd"},
        Boundary{65, "f168246f08b6134d66bd2a10343fa9f1",
                 "788367c73c7ddf4c53f65e68cc0d943e6227ab55b0e78ba63ace822b1c6301c0"},
        Boundary{119, "d5dc3d8264de3aa24dee105910ee27fe",
                 "3d610547d68216dedf7435a4fb6260353911f6b3fd3f18805ddb8be285d726fe"},
        Boundary{120, "bcc139b3848923904860d1eefd6e5923",
                 "1f80156a804cb7862ad113e8200e9d74499723e7c7854d5f48776d3148e09656"},
        Boundary{127, "27670172396247fa5f68637f13f8933d",
                 "192409cd280e14b743642ad1343fbd3e82d9305de72c078117745a679210cc3d"},
        Boundary{128, "3e85b70ffc8df5c735ecf2a8f14f1bee",
                 "cc548ca2dec1f6fe4f58b2e27aa9c7521607df1130d140b55a4dad0665302356"},
        Boundary{129, "e45ecac9930fe93de302f98ba673ba36",
                 "81e89a7b2911aaa7795f9e3d4910cb47d6cd2b00d83b8399481527261a1a7519"}),
    [](const ::testing::TestParamInfo<Boundary>& info) {
      return "Len" + std::to_string(info.param.length);
    });

class Md5Chunks : public ::testing::TestWithParam<size_t> {};

TEST_P(Md5Chunks, IncrementalUpdatesEqualTheOneShotDigest) {
  const std::string data = Pattern(5000);
  const size_t step = GetParam();
  ns_KDL::Md5Context ctx;
  ns_KDL::Md5Init(ctx);
  for (size_t at = 0; at < data.size(); at += step) {
    ns_KDL::Md5Update(ctx, data.data() + at, std::min(step, data.size() - at));
  }
  EXPECT_EQ("6fda14bf7d17d972ce78af7f235ab428", ns_KDL::Md5FinalHex(ctx));
  EXPECT_EQ("6fda14bf7d17d972ce78af7f235ab428", Md5OfBytes(data.data(), data.size()));
}

INSTANTIATE_TEST_SUITE_P(Steps, Md5Chunks,
                         ::testing::Values(1, 3, 7, 13, 55, 56, 63, 64, 65, 127, 1000, 4999, 5000));

TEST(Md5Update, MixedChunkSizesAndEmptyUpdatesEqualTheOneShotDigest) {
  const std::string data = Pattern(5000);
  const size_t steps[] = {0, 1, 62, 0, 2, 64, 128, 5, 300, 0, 59};
  ns_KDL::Md5Context ctx;
  ns_KDL::Md5Init(ctx);
  size_t at = 0;
  for (size_t i = 0; at < data.size(); ++i) {
    const size_t n = std::min(steps[i % std::size(steps)], data.size() - at);
    ns_KDL::Md5Update(ctx, data.data() + at, n);
    at += n;
  }
  ns_KDL::Md5Update(ctx, nullptr, 0);
  EXPECT_EQ("6fda14bf7d17d972ce78af7f235ab428", ns_KDL::Md5FinalHex(ctx));
}

TEST(Md5Update, CountsBitsInTwoWordsWithCarry) {
  ns_KDL::Md5Context ctx;
  ns_KDL::Md5Init(ctx);
  const std::string data = Pattern(1000);
  ns_KDL::Md5Update(ctx, data.data(), data.size());
  EXPECT_EQ(8000u, ctx.count[0]);
  EXPECT_EQ(0u, ctx.count[1]);

  // A 512 MiB boundary: the low word wraps into the high one.
  ns_KDL::Md5Init(ctx);
  ctx.count[0] = 0xfffffff8u;
  ns_KDL::Md5Update(ctx, "xy", 2);
  EXPECT_EQ(8u, ctx.count[0]);
  EXPECT_EQ(1u, ctx.count[1]);
}

TEST(Md5Final, ContextCanBeReusedAfterInit) {
  ns_KDL::Md5Context ctx;
  ns_KDL::Md5Init(ctx);
  ns_KDL::Md5Update(ctx, "abc", 3);
  EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72", ns_KDL::Md5FinalHex(ctx));
  ns_KDL::Md5Init(ctx);
  ns_KDL::Md5Update(ctx, "a", 1);
  EXPECT_EQ("0cc175b9c0f1b6a831c399e269772661", ns_KDL::Md5FinalHex(ctx));
}

TEST(Md5OfFile, FileLargerThanOneReadEqualsTheBytesDigest) {
  const std::string data = Pattern(3 * 1024 * 1024 + 17);
  qevtest::Sandbox sandbox;
  sandbox.WriteFile("/data/big.bin", data);
  EXPECT_EQ("afd322978e4370045aa5468262bcb99b", Md5OfFile(plat::Utf8ToWide(sandbox.Path("/data/big.bin"))));
  EXPECT_EQ("afd322978e4370045aa5468262bcb99b", Md5OfBytes(data.data(), data.size()));
}

TEST(Md5OfFile, MissingFileGivesEmptyText) {
  qevtest::Sandbox sandbox;
  EXPECT_EQ("", Md5OfFile(plat::Utf8ToWide(sandbox.Path("/data/none.bin"))));
  EXPECT_EQ("", Md5OfFile(sandbox.Path("/data/none.bin")));
  EXPECT_EQ("", Md5OfFile(std::wstring()));
}

TEST(Md5OfFile, EmptyFileGivesTheDigestOfTheEmptyMessage) {
  qevtest::Sandbox sandbox;
  sandbox.WriteFile("/data/empty.bin", "");
  EXPECT_EQ("d41d8cd98f00b204e9800998ecf8427e", Md5OfFile(plat::Utf8ToWide(sandbox.Path("/data/empty.bin"))));
}

TEST(Md5OfFile, FolderGivesEmptyText) {
  qevtest::Sandbox sandbox;
  sandbox.WriteFile("/data/x", "x");
  EXPECT_EQ("", Md5OfFile(plat::Utf8ToWide(sandbox.Path("/data"))));
}

TEST(Md5OfFile, NonAsciiWidePathIsFound) {
  qevtest::Sandbox sandbox;
  sandbox.WriteFile("/data/p\xc3\xa4" "ckage \xe5\xae\x89\xe8\xa3\x85.exe", "abc");
  EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72",
            Md5OfFile(sandbox.Root() + "/data/p\xc3\xa4" "ckage \xe5\xae\x89\xe8\xa3\x85.exe"));
  EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72",
            Md5OfFile(plat::Utf8ToWide(sandbox.Root()) + L"/data/p\u00e4ckage \u5b89\u88c5.exe"));
}

TEST(Md5OfFile, PathWithEmbeddedNulIsRefused) {
  qevtest::Sandbox sandbox;
  sandbox.WriteFile("/data/a", "abc");
  std::wstring path = plat::Utf8ToWide(sandbox.Path("/data/a"));
  path += L'\0';
  path += L"b";
  EXPECT_EQ("", Md5OfFile(path));
}

TEST(Md5OfBytes, OutputIsThirtyTwoLowerCaseDigits) {
  const std::regex form("[0-9a-f]{32}");
  for (size_t n = 0; n < 200; n += 7) {
    const std::string data = Pattern(n);
    EXPECT_TRUE(std::regex_match(Md5OfBytes(data.data(), data.size()), form)) << n;
  }
}

}  // namespace
