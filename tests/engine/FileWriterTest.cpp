#include "engine/CFileWriter.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "engine/CFileLockers.h"
#include "engine/CResumeTrailer.h"
#include "platform/Folders.h"
#include "platform/TextConv.h"
#include "shell/simpleLog.h"
#include "support/Sandbox.h"

using ns_KDL::ByteRange;
using ns_KDL::CFileLockers;
using ns_KDL::CFileWriter;
using ns_KDL::CResumeTrailer;

namespace {

std::wstring W(const std::string& s) { return plat::Utf8ToWide(s); }

struct stat StatOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) st.st_size = -1;
  return st;
}

std::string ReadAll(const std::string& path) {
  std::string out;
  plat::ReadWholeFile(path, out);
  return out;
}

class FileWriterTest : public ::testing::Test {
 protected:
  qevtest::Sandbox box;
  std::string path = box.Path("/var/cache/pkg/setup.exe.~P2S");

  void SetUp() override {
    simpleLog::ResetForTesting();
    simpleLog::Create("engine.log");
  }
  void TearDown() override { simpleLog::ResetForTesting(); }
  std::string LogText() const { return box.ReadFile("/tmp/Corvane/QEV/engine.log"); }
  bool Logged(const std::string& line) const { return LogText().find(line) != std::string::npos; }

  // A file of total bytes 'a', 'b', ... ('a' + offset % 26).
  void MakePackage(int64_t total) {
    std::string bytes;
    for (int64_t i = 0; i < total; ++i) bytes.push_back(static_cast<char>('a' + i % 26));
    ASSERT_TRUE(plat::CreateFolderTree(path.substr(0, path.rfind('/') + 1)));
    ASSERT_TRUE(plat::WriteWholeFileAtomic(path, bytes));
  }
};

// ---- CreateTempFile ----

TEST_F(FileWriterTest, CreateTempFile_EmptyPathReturns3) {
  int error = -1;
  EXPECT_EQ(CFileWriter::CreateTempFile(L"", 100, error), CFileWriter::CREATE_EMPTY_PATH);
  EXPECT_EQ(error, 0);
}

TEST_F(FileWriterTest, CreateTempFile_CreatesFolderLevelsAndReservesEveryBlock) {
  const int64_t total = 3 * 1024 * 1024 + 123;
  int error = -1;
  ASSERT_EQ(CFileWriter::CreateTempFile(W(path), total, error), CFileWriter::CREATE_OK);
  EXPECT_EQ(error, 0);
  const struct stat st = StatOf(path);
  EXPECT_EQ(st.st_size, total);
  // Reserved, not sparse: the blocks are there before any byte arrives.
  EXPECT_GE(static_cast<int64_t>(st.st_blocks) * 512, total);
  const std::string log = LogText();
  EXPECT_NE(log.find("[INFO] create file=[" + path + "], hFile=["), std::string::npos) << log;
  EXPECT_NE(log.find("], error=[0].\n"), std::string::npos) << log;
}

TEST_F(FileWriterTest, CreateTempFile_ReplacesAnOldLargerFileWithZeros) {
  MakePackage(5000);
  int error = -1;
  ASSERT_EQ(CFileWriter::CreateTempFile(W(path), 10, error), CFileWriter::CREATE_OK);
  EXPECT_EQ(ReadAll(path), std::string(10, '\0'));
}

TEST_F(FileWriterTest, CreateTempFile_ZeroTotalGivesAnEmptyFile) {
  int error = -1;
  ASSERT_EQ(CFileWriter::CreateTempFile(W(path), 0, error), CFileWriter::CREATE_OK);
  EXPECT_EQ(StatOf(path).st_size, 0);
}

TEST_F(FileWriterTest, CreateTempFile_NegativeTotalCannotReachItsSize) {
  int error = -1;
  EXPECT_EQ(CFileWriter::CreateTempFile(W(path), -1, error), CFileWriter::CREATE_NO_SPACE);
  EXPECT_EQ(error, EINVAL);
  EXPECT_FALSE(plat::PathExists(path));
}

TEST_F(FileWriterTest, CreateTempFile_FolderThatCannotBeMadeFailsToCreate) {
  box.WriteFile("/var/cache/pkg", "a file where the folder should be");
  int error = -1;
  EXPECT_EQ(CFileWriter::CreateTempFile(W(path), 10, error), CFileWriter::CREATE_OPEN_FAILED);
  EXPECT_EQ(error, ENOTDIR);
  EXPECT_TRUE(Logged("[INFO] create file=[" + path + "], hFile=[-1], error=[20].\n")) << LogText();
}

int g_allocateError = 0;
int FakeAllocate(int /*fd*/, int64_t /*length*/) { return g_allocateError; }

TEST_F(FileWriterTest, CreateTempFile_MapsReservationFailures) {
  struct Case {
    int allocateError;
    int result;
  };
  const Case cases[] = {
      {ENOSPC, CFileWriter::CREATE_NO_SPACE},
      {EDQUOT, CFileWriter::CREATE_NO_SPACE},
      {EFBIG, CFileWriter::CREATE_NO_SPACE},
      {EIO, CFileWriter::CREATE_OPEN_FAILED},
      {EBADF, CFileWriter::CREATE_OPEN_FAILED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::strerror(c.allocateError));
    g_allocateError = c.allocateError;
    int error = -1;
    EXPECT_EQ(CFileWriter::CreateTempFile(W(path), 1 << 20, error, FakeAllocate), c.result);
    EXPECT_EQ(error, c.allocateError);
    EXPECT_FALSE(plat::PathExists(path)) << "a failed creation leaves no file";
  }
}

TEST_F(FileWriterTest, CreateTempFile_WritesZerosWhereReservationIsUnsupported) {
  g_allocateError = EOPNOTSUPP;
  const int64_t total = 200 * 1024 + 7;
  int error = -1;
  ASSERT_EQ(CFileWriter::CreateTempFile(W(path), total, error, FakeAllocate), CFileWriter::CREATE_OK);
  const struct stat st = StatOf(path);
  EXPECT_EQ(st.st_size, total);
  EXPECT_GE(static_cast<int64_t>(st.st_blocks) * 512, total);
  EXPECT_EQ(ReadAll(path), std::string(static_cast<size_t>(total), '\0'));
}

// A real refusal from the kernel: a file-size limit makes extending fail like a full disk.
TEST_F(FileWriterTest, CreateTempFile_SizeTheSystemRefusesIsNoSpace) {
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{1 << 20, 1 << 20};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(90);
    int error = 0;
    const int result = CFileWriter::CreateTempFile(W(path), 4 << 20, error);
    const bool gone = ::access(path.c_str(), F_OK) != 0;
    ::_exit(result == CFileWriter::CREATE_NO_SPACE && error == EFBIG && gone ? 0 : 10 + result);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

// ---- OpenForWrite and Write ----

TEST_F(FileWriterTest, OpenForWrite_MissingFileFails) {
  CFileWriter writer;
  EXPECT_FALSE(writer.OpenForWrite(W(path), 10));
  EXPECT_FALSE(writer.IsOpen());
  EXPECT_TRUE(Logged("[ERROR] multi, open file=[" + path + "] for write failed! error=[2].\n")) << LogText();
}

TEST_F(FileWriterTest, Write_WithoutAnOpenFileWritesNothing) {
  CFileWriter writer;
  EXPECT_EQ(writer.Write(0, 4, "abcd"), 0);
}

TEST_F(FileWriterTest, Write_LandsAtItsOffset) {
  int error = 0;
  ASSERT_EQ(CFileWriter::CreateTempFile(W(path), 16, error), 0);
  CFileWriter writer;
  ASSERT_TRUE(writer.OpenForWrite(W(path), 16));
  EXPECT_EQ(writer.Write(12, 4, "WXYZ"), 4);
  EXPECT_EQ(writer.Write(0, 3, "abc"), 3);
  EXPECT_EQ(writer.Write(5, 0, "ignored"), 0);
  writer.Close();
  EXPECT_EQ(ReadAll(path), std::string("abc", 3) + std::string(9, '\0') + "WXYZ");
}

TEST_F(FileWriterTest, Write_RefusesNegativeOffset) {
  MakePackage(16);
  CFileWriter writer;
  ASSERT_TRUE(writer.OpenForWrite(W(path), 16));
  EXPECT_EQ(writer.Write(-1, 4, "abcd"), 0);
  EXPECT_TRUE(Logged("[ERROR] multi, write file data failed! seek failed, err=[22].\n")) << LogText();
}

TEST_F(FileWriterTest, Write_NeverReachesPastThePackage) {
  MakePackage(16);
  CFileWriter writer;
  ASSERT_TRUE(writer.OpenForWrite(W(path), 16));
  ASSERT_TRUE(writer.WriteTrailer({{0, 15}}));
  const std::string before = ReadAll(path);
  EXPECT_EQ(writer.Write(14, 4, "abcd"), 0);
  EXPECT_EQ(writer.Write(16, 1, "x"), 0);
  EXPECT_EQ(writer.Write(INT64_MAX, 1, "x"), 0);
  EXPECT_EQ(writer.Write(12, 4, "abcd"), 4) << "the last bytes of the package are writable";
  writer.Close();
  const std::string after = ReadAll(path);
  EXPECT_EQ(after.substr(16), before.substr(16)) << "the trailer is untouched";
  EXPECT_TRUE(Logged("[ERROR] multi, write file data failed! write size=[4], err=[27].\n")) << LogText();
}

TEST_F(FileWriterTest, Write_FailureReturnsZeroAndLogsTheError) {
  CFileWriter writer;
  ASSERT_TRUE(writer.OpenForWrite(L"/dev/full", 0));  // every write: no space left
  EXPECT_EQ(writer.Write(0, 16, "0123456789abcdef"), 0);
  EXPECT_TRUE(Logged("[ERROR] multi, write file data failed! write size=[16], err=[28].\n")) << LogText();
}

TEST_F(FileWriterTest, Write_FromManyThreadsLandsAtEachOffset) {
  constexpr int kThreads = 8;
  constexpr int kBlocksPerThread = 40;
  constexpr int64_t kBlock = 4093;  // not a multiple of any page or sector
  constexpr int64_t kTotal = kBlock * kThreads * kBlocksPerThread;
  auto byteAt = [](int64_t block, int64_t i) { return static_cast<char>((block * 31 + i * 7) & 0xff); };

  int error = 0;
  ASSERT_EQ(CFileWriter::CreateTempFile(W(path), kTotal, error), 0);
  CFileWriter writer;
  ASSERT_TRUE(writer.OpenForWrite(W(path), kTotal));
  std::vector<std::thread> threads;
  std::vector<int> failures(kThreads, 0);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      // Thread t owns the interleaved blocks t, t + kThreads, ... and writes them backwards.
      for (int k = kBlocksPerThread - 1; k >= 0; --k) {
        const int64_t block = static_cast<int64_t>(k) * kThreads + t;
        std::string data(kBlock, '\0');
        for (int64_t i = 0; i < kBlock; ++i) data[static_cast<size_t>(i)] = byteAt(block, i);
        if (writer.Write(block * kBlock, kBlock, data.data()) != kBlock) ++failures[t];
      }
    });
  }
  for (std::thread& th : threads) th.join();
  writer.Close();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], 0);

  const std::string content = ReadAll(path);
  ASSERT_EQ(static_cast<int64_t>(content.size()), kTotal);
  int64_t wrong = 0;
  for (int64_t off = 0; off < kTotal; ++off) {
    if (content[static_cast<size_t>(off)] != byteAt(off / kBlock, off % kBlock)) ++wrong;
  }
  EXPECT_EQ(wrong, 0);
}

// ---- WriteTrailer ----

TEST_F(FileWriterTest, WriteTrailer_PutsTheExactLayoutBehindThePackage) {
  MakePackage(40);
  CFileWriter writer;
  ASSERT_TRUE(writer.OpenForWrite(W(path), 40));
  ASSERT_TRUE(writer.WriteTrailer({{20, 39}, {5, 9}}));
  writer.Close();
  const std::string content = ReadAll(path);
  ASSERT_EQ(content.size(), 40u + 16 * 2 + 8);
  EXPECT_EQ(content.substr(0, 26), "abcdefghijklmnopqrstuvwxyz") << "the package bytes stay";
  const unsigned char expected[] = {
      20, 0, 0, 0, 0, 0, 0, 0, 39, 0, 0, 0, 0, 0, 0, 0,  // first pair, in the order given
      5,  0, 0, 0, 0, 0, 0, 0, 9,  0, 0, 0, 0, 0, 0, 0,  // second pair
      2,  0, 0, 0, 0, 0, 0, 0,                           // the count
  };
  EXPECT_EQ(content.substr(40), std::string(reinterpret_cast<const char*>(expected), sizeof expected));
}

TEST_F(FileWriterTest, WriteTrailer_ReplacesTheOldTrailerWhateverItsLength) {
  const int64_t total = 1000;
  MakePackage(total);
  CFileWriter writer;
  ASSERT_TRUE(writer.OpenForWrite(W(path), total));
  const std::vector<std::vector<ByteRange>> rounds = {
      {{100, 199}, {300, 399}, {500, 999}},
      {{150, 199}},
      {{160, 199}, {320, 399}},
      {{170, 199}, {330, 399}},
  };
  for (const auto& ranges : rounds) {
    ASSERT_TRUE(writer.WriteTrailer(ranges));
    EXPECT_EQ(StatOf(path).st_size, total + CResumeTrailer::SizeFor(static_cast<int64_t>(ranges.size())));
    std::map<int64_t, int64_t> read;
    ASSERT_TRUE(CResumeTrailer::ReadTrailer(W(path), total, read));
    std::map<int64_t, int64_t> expected;
    for (const ByteRange& r : ranges) expected[r.start] = r.end;
    EXPECT_EQ(read, expected);
  }
}

TEST_F(FileWriterTest, WriteTrailer_LeavesOutCompletedSegments) {
  MakePackage(100);
  CFileWriter writer;
  ASSERT_TRUE(writer.OpenForWrite(W(path), 100));
  // A segment that saved its whole range reports start = end + 1: nothing of it is missing.
  ASSERT_TRUE(writer.WriteTrailer({{50, 49}, {10, 19}, {100, 99}}));
  std::map<int64_t, int64_t> read;
  ASSERT_TRUE(CResumeTrailer::ReadTrailer(W(path), 100, read));
  EXPECT_EQ(read, (std::map<int64_t, int64_t>{{10, 19}}));
}

TEST_F(FileWriterTest, WriteTrailer_NothingMissingWritesNothing) {
  MakePackage(100);
  CFileWriter writer;
  ASSERT_TRUE(writer.OpenForWrite(W(path), 100));
  EXPECT_FALSE(writer.WriteTrailer({}));
  EXPECT_FALSE(writer.WriteTrailer({{60, 59}}));
  EXPECT_EQ(StatOf(path).st_size, 100);
}

TEST_F(FileWriterTest, WriteTrailer_RefusesRangesNoReaderWouldAccept) {
  MakePackage(100);
  CFileWriter writer;
  ASSERT_TRUE(writer.OpenForWrite(W(path), 100));
  ASSERT_TRUE(writer.WriteTrailer({{0, 9}}));
  const std::string before = ReadAll(path);
  const std::vector<std::vector<ByteRange>> bad = {
      {{0, 50}, {40, 60}},  // overlapping
      {{90, 100}},          // past the package's last byte
      {{-5, 3}},            // negative
      {{10, 19}, {10, 19}},  // the same range twice
  };
  for (const auto& ranges : bad) EXPECT_FALSE(writer.WriteTrailer(ranges));
  EXPECT_EQ(ReadAll(path), before) << "a refused trailer leaves the file as it was";
  EXPECT_TRUE(Logged("[ERROR] multi, write cache info failed! bad ranges, reason=[overlapping ranges].\n"))
      << LogText();
}

TEST_F(FileWriterTest, WriteTrailer_WithoutAnOpenFileFails) {
  CFileWriter writer;
  EXPECT_FALSE(writer.WriteTrailer({{0, 9}}));
}

TEST_F(FileWriterTest, WriteTrailer_FailedWriteIsLogged) {
  CFileWriter writer;
  ASSERT_TRUE(writer.OpenForWrite(L"/dev/full", 100));
  EXPECT_FALSE(writer.WriteTrailer({{0, 9}}));
  EXPECT_TRUE(Logged("[ERROR] multi, write cache info failed! write count.\n")) << LogText();
}

// Stopping a trailer write at any step (the process dies there) must leave a file that no
// reader takes for a trailer, whatever the old trailer was.
TEST_F(FileWriterTest, WriteTrailer_StoppedAtAnyStepIsNeverReadAsValid) {
  const int64_t total = 4096;
  struct Case {
    const char* name;
    std::vector<ByteRange> before;
    std::vector<ByteRange> after;
  };
  const Case cases[] = {
      {"same length", {{100, 199}, {300, 399}}, {{150, 199}, {350, 399}}},
      {"shorter", {{100, 199}, {300, 399}, {500, 4095}}, {{150, 199}}},
      {"longer", {{100, 199}}, {{150, 170}, {171, 199}, {4000, 4095}}},
  };
  for (const Case& c : cases) {
    for (int stopAt = 1; stopAt <= 4; ++stopAt) {
      SCOPED_TRACE(std::string(c.name) + ", stopped after step " + std::to_string(stopAt));
      MakePackage(total);
      CFileWriter writer;
      ASSERT_TRUE(writer.OpenForWrite(W(path), total));
      ASSERT_TRUE(writer.WriteTrailer(c.before));
      writer.SetTrailerStepHookForTesting([stopAt](int step) { return step < stopAt; });
      EXPECT_FALSE(writer.WriteTrailer(c.after));
      std::map<int64_t, int64_t> read;
      EXPECT_FALSE(CResumeTrailer::ReadTrailer(W(path), total, read));
      EXPECT_TRUE(read.empty());

      writer.SetTrailerStepHookForTesting(nullptr);
      ASSERT_TRUE(writer.WriteTrailer(c.after));
      std::map<int64_t, int64_t> expected;
      for (const ByteRange& r : c.after) expected[r.start] = r.end;
      ASSERT_TRUE(CResumeTrailer::ReadTrailer(W(path), total, read));
      EXPECT_EQ(read, expected);
    }
  }
}

// ---- Flush and Close ----

TEST_F(FileWriterTest, Flush_NeedsAnOpenFile) {
  CFileWriter writer;
  int error = 0;
  EXPECT_FALSE(writer.Flush(error));
  EXPECT_EQ(error, EBADF);
  MakePackage(10);
  ASSERT_TRUE(writer.OpenForWrite(W(path), 10));
  EXPECT_TRUE(writer.Flush(error));
  EXPECT_EQ(error, 0);
  writer.Close();
  EXPECT_FALSE(writer.IsOpen());
  EXPECT_EQ(writer.Write(0, 1, "x"), 0);
}

// ---- ReportFileLockers ----

TEST_F(FileWriterTest, ReportFileLockers_NamesAChildThatHoldsTheFile) {
  MakePackage(10);
  int ready[2];
  int release[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(release), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(ready[0]);
    ::close(release[1]);
    const int fd = ::open(path.c_str(), O_RDONLY);
    const char ok = fd >= 0 ? 'y' : 'n';
    if (::write(ready[1], &ok, 1) != 1) ::_exit(2);
    char c;
    while (::read(release[0], &c, 1) > 0) {
    }
    ::_exit(0);
  }
  ::close(ready[1]);
  ::close(release[0]);
  char ok = 0;
  ASSERT_EQ(::read(ready[0], &ok, 1), 1);
  ASSERT_EQ(ok, 'y');

  // This process holds it too; it is never listed.
  const int own = ::open(path.c_str(), O_RDONLY);
  const std::vector<ns_KDL::FileLocker> lockers = CFileLockers::Find(W(path));
  CFileLockers::ReportFileLockers(W(path));
  ::close(own);

  ASSERT_EQ(lockers.size(), 1u);
  EXPECT_EQ(lockers[0].pid, child);
  EXPECT_EQ(lockers[0].name, plat::OwnExeFileName());
  EXPECT_TRUE(Logged("[WARN] process=[" + std::to_string(child) + "][" + plat::OwnExeFileName() +
                     "] locked the file=[" + path + "] \n"))
      << LogText();

  ::close(release[1]);
  ::close(ready[0]);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(CFileLockers::Find(W(path)).empty()) << "the lock ends with the process";
}

TEST_F(FileWriterTest, ReportFileLockers_MissingFileLogsNothing) {
  CFileLockers::ReportFileLockers(W(path));
  EXPECT_TRUE(CFileLockers::Find(W(path)).empty());
  EXPECT_FALSE(Logged("locked the file")) << LogText();
}

}  // namespace
