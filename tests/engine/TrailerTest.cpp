#include "engine/CResumeTrailer.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

#include "engine/CFileWriter.h"
#include "platform/Folders.h"
#include "platform/TextConv.h"
#include "shell/simpleLog.h"
#include "support/Sandbox.h"

using ns_KDL::ByteRange;
using ns_KDL::CFileWriter;
using ns_KDL::CResumeTrailer;
using ns_KDL::ResumePlan;

namespace {

// Little-endian 64-bit words, as the trailer stores them.
std::string Words(std::initializer_list<int64_t> values) {
  std::string out;
  for (int64_t v : values) {
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>((static_cast<uint64_t>(v) >> (8 * i)) & 0xff));
  }
  return out;
}

class TrailerTest : public ::testing::Test {
 protected:
  qevtest::Sandbox box;
  std::string path = box.Path("/var/cache/pkg/setup.exe.~P2S");
  std::wstring wpath = plat::Utf8ToWide(path);

  void SetUp() override {
    simpleLog::ResetForTesting();
    simpleLog::Create("engine.log");
    ASSERT_TRUE(plat::CreateFolderTree(box.Path("/var/cache/pkg/")));
  }
  void TearDown() override { simpleLog::ResetForTesting(); }
  std::string LogText() const { return box.ReadFile("/tmp/Corvane/QEV/engine.log"); }

  // A sparse package of total bytes (a hole where no size matters), then the given tail at
  // offset total + gap (gap: bytes of hole before the tail).
  void MakeFile(int64_t total, const std::string& tail, int64_t gap = 0) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(std::max<int64_t>(total, 0) + gap)), 0);
    if (!tail.empty()) {
      ASSERT_EQ(::pwrite(fd, tail.data(), tail.size(), static_cast<off_t>(std::max<int64_t>(total, 0) + gap)),
                static_cast<ssize_t>(tail.size()));
    }
    ::close(fd);
  }
};

TEST_F(TrailerTest, Encode_IsLittleEndianPairsThenCount) {
  EXPECT_EQ(CResumeTrailer::Encode({{1, 0x0102030405060708}}),
            std::string("\x01\0\0\0\0\0\0\0"
                        "\x08\x07\x06\x05\x04\x03\x02\x01"
                        "\x01\0\0\0\0\0\0\0",
                        24));
  EXPECT_EQ(CResumeTrailer::Encode({{-1, 0}}), Words({-1, 0, 1}));
  EXPECT_EQ(CResumeTrailer::Encode({}), Words({0}));
}

// A 100 MiB package cancelled with three running segments: three pairs behind the package,
// and a new task resumes exactly those ranges.
TEST_F(TrailerTest, RoundTrip_HundredMiBPackageCancelledWithThreeSegments) {
  const int64_t total = 104857600;
  MakeFile(total, "");
  CFileWriter writer;
  ASSERT_TRUE(writer.OpenForWrite(wpath, total));
  // In segment-list order, not sorted: (start + saved, end) of each running segment.
  const std::vector<ByteRange> segments = {
      {69905067 + 1000000, 104857599},
      {12345678, 34952532},
      {34952533 + 777, 69905066},
  };
  ASSERT_TRUE(writer.WriteTrailer(segments));
  writer.Close();
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 104857600 + 56);

  ResumePlan plan;
  ASSERT_TRUE(CResumeTrailer::ResumeFromTrailer(wpath, total, plan));
  const std::vector<ByteRange> ascending = {segments[1], segments[2], segments[0]};
  EXPECT_EQ(plan.ranges, ascending);
  int64_t missing = 0;
  for (const ByteRange& r : segments) missing += r.end - r.start + 1;
  EXPECT_EQ(plan.missing, missing);
  EXPECT_EQ(plan.cached, total - missing);

  const std::string log = LogText();
  const size_t resume = log.find("[INFO] multi, resume download.\n");
  const size_t counts = log.find("[INFO] multi, total=[104857600], cached=[" + std::to_string(total - missing) +
                                 "], undownloaded=[" + std::to_string(missing) + "].\n");
  ASSERT_NE(resume, std::string::npos) << log;
  ASSERT_NE(counts, std::string::npos) << log;
  EXPECT_LT(resume, counts);
}

TEST_F(TrailerTest, ResumeFromTrailer_FileOfExactlyTotalBytesHasNothingToResume) {
  MakeFile(5000, "");
  ResumePlan plan;
  plan.cached = 77;
  EXPECT_FALSE(CResumeTrailer::ResumeFromTrailer(wpath, 5000, plan));
  EXPECT_TRUE(plan.ranges.empty());
  EXPECT_EQ(plan.cached, 0);
  EXPECT_EQ(LogText().find("resume download"), std::string::npos);
}

TEST_F(TrailerTest, ResumeFromTrailer_MissingFileHasNothingToResume) {
  ResumePlan plan;
  EXPECT_FALSE(CResumeTrailer::ResumeFromTrailer(wpath, 5000, plan));
}

TEST_F(TrailerTest, ResumeFromTrailer_RefusedTrailerResumesNothing) {
  MakeFile(100, Words({10, 19, 5, 3, 2}));  // second pair reversed
  ResumePlan plan;
  EXPECT_FALSE(CResumeTrailer::ResumeFromTrailer(wpath, 100, plan));
  EXPECT_TRUE(plan.ranges.empty());
}

struct Refused {
  const char* name;
  int64_t total;
  std::string tail;
  const char* reason;
  int64_t gap = 0;  // hole between the package and the tail
};

TEST_F(TrailerTest, ReadTrailer_RefusesBadTrailersAsAWhole) {
  constexpr int64_t kMax = CResumeTrailer::kMaxRanges;
  const Refused cases[] = {
      {"one byte", 100, std::string(1, '\x01'), "short trailer"},
      {"count only", 100, Words({1}), "short trailer"},
      {"half a pair", 100, Words({0, 1}), "short trailer"},
      {"23 bytes", 100, Words({0, 9, 1}).substr(1), "short trailer"},
      {"not a whole number of pairs", 100, Words({0, 9}) + "x" + Words({1}), "trailer size inconsistent"},
      {"count zero", 100, Words({0, 9, 0}), "count not positive"},
      {"count negative", 100, Words({0, 9, -1}), "count not positive"},
      {"count lowest", 100, Words({0, 9, INT64_MIN}), "count not positive"},
      {"count above pairs present", 100, Words({0, 9, 2}), "count beyond file"},
      {"count enormous", 100, Words({0, 9, INT64_MAX}), "count beyond file"},
      {"count below pairs present", 100, Words({0, 9, 20, 29, 1}), "trailer size inconsistent"},
      {"start after end", 100, Words({10, 19, 5, 3, 2}), "start after end"},
      {"negative start", 100, Words({-1, 9, 1}), "negative value"},
      {"negative both", 100, Words({-9, -1, 1}), "negative value"},
      {"end is the package size", 100, Words({90, 100, 1}), "value beyond package"},
      {"start beyond package", 100, Words({200, 300, 1}), "value beyond package"},
      {"end enormous", 100, Words({0, INT64_MAX, 1}), "value beyond package"},
      {"overlapping", 100, Words({0, 10, 10, 20, 2}), "overlapping ranges"},
      {"contained", 100, Words({0, 50, 5, 6, 2}), "overlapping ranges"},
      {"contained, later first", 100, Words({5, 6, 0, 50, 2}), "overlapping ranges"},
      {"the same twice", 100, Words({3, 4, 3, 4, 2}), "overlapping ranges"},
      {"package size zero", 0, Words({0, 0, 1}), nullptr},
      {"package size negative", -1, Words({0, 0, 1}), nullptr},
      // More ranges than any download runs, with a file size that matches the count.
      {"too many ranges", 100, Words({kMax + 1}), "too many ranges", 16 * (kMax + 1)},
      // A count of 2^32 with a matching (sparse, 64 GiB) file: refused before anything is read
      // or kept for it.
      {"count of four billion", 100, Words({int64_t{1} << 32}), "too many ranges", 16 * (int64_t{1} << 32)},
  };
  for (const Refused& c : cases) {
    SCOPED_TRACE(c.name);
    MakeFile(c.total, c.tail, c.gap);
    std::map<int64_t, int64_t> ranges = {{1, 2}};
    EXPECT_FALSE(CResumeTrailer::ReadTrailer(wpath, c.total, ranges));
    EXPECT_TRUE(ranges.empty());
    if (c.reason) {
      EXPECT_NE(LogText().find("[WARN] multi, resume cache refused, file=[" + path + "], size=[" +
                               std::to_string(std::max<int64_t>(c.total, 0) + c.gap +
                                              static_cast<int64_t>(c.tail.size())) +
                               "], total=[" + std::to_string(c.total) + "], reason=[" + c.reason + "].\n"),
                std::string::npos)
          << LogText();
    }
    ::unlink(path.c_str());
  }
}

TEST_F(TrailerTest, ReadTrailer_AcceptsValidTrailersInAnyOrder) {
  struct Accepted {
    const char* name;
    int64_t total;
    std::string tail;
    std::map<int64_t, int64_t> ranges;
  };
  const Accepted cases[] = {
      {"one byte missing", 1, Words({0, 0, 1}), {{0, 0}}},
      {"everything missing", 100, Words({0, 99, 1}), {{0, 99}}},
      {"adjacent ranges", 100, Words({5, 9, 0, 4, 2}), {{0, 4}, {5, 9}}},
      {"descending order", 100, Words({90, 99, 50, 59, 10, 19, 3}), {{10, 19}, {50, 59}, {90, 99}}},
      {"last byte", 100, Words({99, 99, 1}), {{99, 99}}},
  };
  for (const Accepted& c : cases) {
    SCOPED_TRACE(c.name);
    MakeFile(c.total, c.tail);
    std::map<int64_t, int64_t> ranges;
    EXPECT_TRUE(CResumeTrailer::ReadTrailer(wpath, c.total, ranges));
    EXPECT_EQ(ranges, c.ranges);
  }
}

// Many ranges take several reads; every one of them must come back.
TEST_F(TrailerTest, ReadTrailer_ReadsTrailersLongerThanOneBlock) {
  const int64_t total = 100000;
  std::vector<ByteRange> written;
  for (int64_t i = 0; i < 1000; ++i) written.push_back({i * 100 + 1, i * 100 + 50});
  MakeFile(total, CResumeTrailer::Encode(written));
  std::map<int64_t, int64_t> ranges;
  ASSERT_TRUE(CResumeTrailer::ReadTrailer(wpath, total, ranges));
  ASSERT_EQ(ranges.size(), written.size());
  for (const ByteRange& r : written) EXPECT_EQ(ranges[r.start], r.end);
}

TEST_F(TrailerTest, ReadTrailer_RefusesAFolder) {
  std::map<int64_t, int64_t> ranges;
  EXPECT_FALSE(CResumeTrailer::ReadTrailer(plat::Utf8ToWide(box.Path("/var/cache/pkg")), 1, ranges));
}

TEST_F(TrailerTest, CheckRanges_AcceptsOnlyWhatAReaderAccepts) {
  struct Case {
    std::vector<ByteRange> ranges;
    const char* reason;  // nullptr: accepted
  };
  const Case cases[] = {
      {{{0, 99}}, nullptr},
      {{{50, 59}, {0, 49}}, nullptr},
      {{}, "no ranges"},
      {{{0, 100}}, "value beyond package"},
      {{{-1, 5}}, "negative value"},
      {{{6, 5}}, "start after end"},
      {{{0, 50}, {50, 60}}, "overlapping ranges"},
  };
  for (const Case& c : cases) {
    const char* why = CResumeTrailer::CheckRanges(c.ranges, 100);
    if (c.reason) {
      ASSERT_NE(why, nullptr);
      EXPECT_STREQ(why, c.reason);
    } else {
      EXPECT_EQ(why, nullptr) << why;
    }
  }
  const std::vector<ByteRange> many(static_cast<size_t>(CResumeTrailer::kMaxRanges + 1), ByteRange{0, 0});
  EXPECT_STREQ(CResumeTrailer::CheckRanges(many, 1 << 30), "too many ranges");
}

}  // namespace
