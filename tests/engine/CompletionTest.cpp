#include "engine/CCompletion.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <utility>
#include <vector>

#include "engine/CFileWriter.h"
#include "engine/CResumeTrailer.h"
#include "engine/DownloadStatus.h"
#include "engine/Md5.h"
#include "platform/Folders.h"
#include "platform/TextConv.h"
#include "shell/simpleLog.h"
#include "support/Sandbox.h"

using ns_KDL::ByteRange;
using ns_KDL::CCompletion;
using ns_KDL::CFileWriter;
using ns_KDL::CResumeTrailer;

namespace {

std::wstring W(const std::string& s) { return plat::Utf8ToWide(s); }

std::string Upper(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

int64_t SizeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

std::string ReadAll(const std::string& path) {
  std::string out;
  plat::ReadWholeFile(path, out);
  return out;
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// Another process holding the file open until Release, optionally with a read lease, so
// that opening the file for writing fails with EWOULDBLOCK as a scanner's sharing would.
class Holder {
 public:
  Holder(const std::string& path, bool lease) {
    int ready[2];
    if (::pipe(ready) != 0 || ::pipe(m_release) != 0) return;
    m_pid = ::fork();
    if (m_pid == 0) {
      ::signal(SIGIO, SIG_IGN);  // the lease-break signal
      ::close(ready[0]);
      ::close(m_release[1]);
      const int fd = ::open(path.c_str(), O_RDONLY);
      const bool ok = fd >= 0 && (!lease || ::fcntl(fd, F_SETLEASE, F_RDLCK) == 0);
      const char c = ok ? 'y' : 'n';
      if (::write(ready[1], &c, 1) != 1) ::_exit(2);
      char d;
      while (::read(m_release[0], &d, 1) > 0) {
      }
      ::_exit(0);
    }
    ::close(ready[1]);
    ::close(m_release[0]);
    char c = 0;
    m_ok = m_pid > 0 && ::read(ready[0], &c, 1) == 1 && c == 'y';
    ::close(ready[0]);
  }
  ~Holder() { Release(); }
  bool Ok() const { return m_ok; }
  pid_t Pid() const { return m_pid; }
  // Ends the process and waits for it, so the file and any lease are let go.
  void Release() {
    if (m_pid <= 0) return;
    ::close(m_release[1]);
    int status = 0;
    ::waitpid(m_pid, &status, 0);
    m_pid = -1;
  }

 private:
  pid_t m_pid = -1;
  int m_release[2] = {-1, -1};
  bool m_ok = false;
};

class CompletionTest : public ::testing::Test {
 protected:
  qevtest::Sandbox box;
  std::string finalPath = box.Path("/var/cache/pkg/setup.exe");
  std::string tempPath = finalPath + ".~P2S";
  std::string package;
  std::vector<int> delays;
  std::vector<std::string> md5Notes;
  int matchedNotes = 0;
  std::vector<std::pair<int32_t, int32_t>> failures;

  void SetUp() override {
    simpleLog::ResetForTesting();
    simpleLog::Create("engine.log");
    for (int i = 0; i < 10000; ++i) package.push_back(static_cast<char>('a' + i % 26));
    ASSERT_TRUE(plat::CreateFolderTree(box.Path("/var/cache/pkg/")));
  }
  void TearDown() override { simpleLog::ResetForTesting(); }
  std::string LogText() const { return box.ReadFile("/tmp/Corvane/QEV/engine.log"); }
  bool Logged(const std::string& line) const { return LogText().find(line) != std::string::npos; }
  std::string PackageMd5() const { return Upper(ns_KDL::Md5OfBytes(package.data(), package.size())); }

  // The temporary file as the last attempt leaves it: the package and a trailer behind it.
  void WriteTempWithTrailer() {
    const std::string trailer = CResumeTrailer::Encode({ByteRange{100, 199}, ByteRange{5000, 5999}});
    ASSERT_TRUE(plat::WriteWholeFileAtomic(tempPath, package + trailer));
  }

  CCompletion Make(const std::string& expectedMd5, int64_t total = -1) {
    CCompletion c(W(tempPath), W(finalPath), total < 0 ? static_cast<int64_t>(package.size()) : total,
                  expectedMd5);
    c.SetSleeper([this](int ms) { delays.push_back(ms); });
    CCompletion::Notify notify;
    notify.onFileMd5 = [this](const std::string& md5) { md5Notes.push_back(md5); };
    notify.onMd5Matched = [this] { ++matchedNotes; };
    notify.onFileOperationFailed = [this](int32_t kind, int32_t error) { failures.emplace_back(kind, error); };
    c.SetNotify(std::move(notify));
    return c;
  }
};

// ---- Completion ----

struct ExpectedCase {
  const char* name;
  std::string (*expected)(const std::string& md5);
};

class CompletionExpectedTest : public CompletionTest, public ::testing::WithParamInterface<ExpectedCase> {};

TEST_P(CompletionExpectedTest, Complete_StripsChecksAndRenames) {
  WriteTempWithTrailer();
  CFileWriter writer;
  ASSERT_TRUE(writer.OpenForWrite(W(tempPath), static_cast<int64_t>(package.size())));
  CCompletion c = Make(GetParam().expected(PackageMd5()));

  ASSERT_TRUE(c.Complete(writer)) << LogText();
  EXPECT_EQ(c.Status(), ns_KDL::DS_SUCCESS);
  EXPECT_FALSE(writer.IsOpen());
  EXPECT_FALSE(plat::PathExists(tempPath));
  EXPECT_EQ(ReadAll(finalPath), package);
  EXPECT_EQ(md5Notes, std::vector<std::string>{PackageMd5()});
  EXPECT_EQ(matchedNotes, 1);
  EXPECT_TRUE(failures.empty());
  EXPECT_TRUE(delays.empty());
  EXPECT_TRUE(Logged("[INFO] multi, flush file buffers ok, cost=[")) << LogText();
  EXPECT_TRUE(Logged("[INFO] multi, check md5 ok .  retry=[0], file_md5=[" + PackageMd5() + "].\n")) << LogText();
  EXPECT_FALSE(Logged("[ERROR]")) << LogText();
}

INSTANTIATE_TEST_SUITE_P(
    Expected, CompletionExpectedTest,
    ::testing::Values(
        ExpectedCase{"Exact", [](const std::string& md5) { return md5; }},
        ExpectedCase{"LowerCase", [](const std::string& md5) { return plat::ToLowerAscii(md5); }},
        ExpectedCase{"FirstOfTwo", [](const std::string& md5) { return md5 + "," + Upper(ns_KDL::Md5OfBytes("x", 1)); }},
        ExpectedCase{"SecondOfTwo", [](const std::string& md5) { return Upper(ns_KDL::Md5OfBytes("x", 1)) + "," + md5; }},
        ExpectedCase{"OtherSeparator", [](const std::string& md5) { return Upper(ns_KDL::Md5OfBytes("x", 1)) + ";" + md5; }}),
    [](const ::testing::TestParamInfo<ExpectedCase>& info) { return std::string(info.param.name); });

TEST_F(CompletionTest, Complete_ReplacesAnExistingFinalFile) {
  WriteTempWithTrailer();
  ASSERT_TRUE(plat::WriteWholeFileAtomic(finalPath, "an older package"));
  CFileWriter writer;
  CCompletion c = Make(PackageMd5());
  ASSERT_TRUE(c.Complete(writer)) << LogText();
  EXPECT_EQ(ReadAll(finalPath), package);
  EXPECT_FALSE(plat::PathExists(tempPath));
  EXPECT_FALSE(Logged("flush file buffers")) << "no open file, nothing to flush";
}

TEST_F(CompletionTest, Complete_EmptyOrShortMd5SkipsTheCheck) {
  for (const std::string expected : {"", "ABC"}) {
    WriteTempWithTrailer();
    CFileWriter writer;
    CCompletion c = Make(expected);
    ASSERT_TRUE(c.Complete(writer)) << expected << LogText();
    EXPECT_EQ(ReadAll(finalPath), package);
    EXPECT_TRUE(md5Notes.empty());
    EXPECT_EQ(matchedNotes, 0);
  }
  EXPECT_FALSE(Logged("check md5")) << LogText();
}

TEST_F(CompletionTest, Complete_TrailerThatCannotBeCutGivesStatus12) {
  WriteTempWithTrailer();
  Holder holder(tempPath, /*lease=*/true);  // never lets go
  ASSERT_TRUE(holder.Ok()) << "leases need a local file system";
  CFileWriter writer;
  CCompletion c = Make(PackageMd5());
  EXPECT_FALSE(c.Complete(writer));
  EXPECT_EQ(c.Status(), ns_KDL::DS_FILE_SIZE_ERROR);
  std::vector<int> expected;
  for (int i = 1; i <= 15; ++i) expected.push_back(i * 1000);
  EXPECT_EQ(delays, expected);
  EXPECT_EQ(failures, (std::vector<std::pair<int32_t, int32_t>>{{CCompletion::FAIL_SIZE, 0}}));
  EXPECT_TRUE(Logged("[ERROR] multi, check file size incorrect! local_size=[10040], dst_size=[10000]\n")) << LogText();
  EXPECT_EQ(Count(LogText(), "[ERROR] multi, remove cache info failed!"), 15u);
  EXPECT_TRUE(plat::PathExists(tempPath)) << "the downloader deletes it before the next attempt";
  EXPECT_FALSE(plat::PathExists(finalPath));
  EXPECT_TRUE(md5Notes.empty()) << "no MD5 check after a size mismatch";
}

TEST_F(CompletionTest, Complete_ShortFileIsExtendedAndCaughtByTheMd5) {
  ASSERT_TRUE(plat::WriteWholeFileAtomic(tempPath, package.substr(0, 4000)));
  CFileWriter writer;
  CCompletion c = Make(PackageMd5());
  EXPECT_FALSE(c.Complete(writer));
  EXPECT_EQ(c.Status(), ns_KDL::DS_MD5_FAILED);
  EXPECT_EQ(SizeOf(tempPath), static_cast<int64_t>(package.size()));
  EXPECT_FALSE(plat::PathExists(finalPath));
}

TEST_F(CompletionTest, Complete_Md5MismatchRetriesWithItsDelaysThenGivesStatus11) {
  WriteTempWithTrailer();
  const std::string wrong = Upper(ns_KDL::Md5OfBytes("other", 5));
  CFileWriter writer;
  ASSERT_TRUE(writer.OpenForWrite(W(tempPath), static_cast<int64_t>(package.size())));
  CCompletion c = Make(wrong);
  EXPECT_FALSE(c.Complete(writer));
  EXPECT_EQ(c.Status(), ns_KDL::DS_MD5_FAILED);
  EXPECT_EQ(delays, (std::vector<int>{300, 600, 900, 1200, 1000}));
  EXPECT_EQ(md5Notes, std::vector<std::string>{PackageMd5()}) << "only the first check notifies";
  EXPECT_EQ(matchedNotes, 0);
  EXPECT_TRUE(plat::PathExists(tempPath)) << "the downloader deletes it before the next attempt";
  EXPECT_FALSE(plat::PathExists(finalPath));

  const std::string log = LogText();
  for (int r = 1; r <= 4; ++r) {
    EXPECT_NE(log.find("[INFO] multi, check md5 retry=[" + std::to_string(r) + "/5], delay=[" +
                       std::to_string(r * 300) + "]ms.\n"),
              std::string::npos)
        << log;
  }
  for (int r = 0; r <= 4; ++r) {
    EXPECT_NE(log.find("[WARN] multi, check md5 failed! retry=[" + std::to_string(r) + "/5], file_md5=[" +
                       PackageMd5() + "], expected=[" + wrong + "].\n"),
              std::string::npos)
        << log;
  }
  EXPECT_NE(log.find("[WARN] multi, all retries failed, try flush file buffers again.\n"), std::string::npos);
  EXPECT_NE(log.find("[INFO] multi, re-flush file buffers ok, cost=["), std::string::npos);
  EXPECT_NE(log.find("[ERROR] multi, check md5 still failed after re-flush! file_md5=[" + PackageMd5() + "].\n"),
            std::string::npos);
  EXPECT_NE(log.find("[ERROR] multi, check md5 failed after all retries!\n"), std::string::npos);
  EXPECT_EQ(Count(log, "[ERROR] multi, check md5 failed after all retries!"), 1u);
}

// ---- CheckMd5 ----

TEST_F(CompletionTest, CheckMd5_MatchesWhenTheBytesSettleDuringTheDelays) {
  // The file reads wrong until the second wait, as a late cache flush would leave it.
  std::string damaged = package;
  damaged[7] = '#';
  ASSERT_TRUE(plat::WriteWholeFileAtomic(tempPath, damaged));
  CCompletion c = Make(PackageMd5());
  c.SetSleeper([this](int ms) {
    delays.push_back(ms);
    if (delays.size() == 2) plat::WriteWholeFileAtomic(tempPath, package);
  });
  EXPECT_TRUE(c.CheckMd5(W(tempPath), true));
  EXPECT_EQ(delays, (std::vector<int>{300, 600}));
  EXPECT_EQ(matchedNotes, 1);
  EXPECT_EQ(md5Notes.size(), 1u);
  EXPECT_NE(md5Notes[0], PackageMd5());
  EXPECT_TRUE(Logged("[INFO] multi, check md5 ok .  retry=[2], file_md5=[" + PackageMd5() + "].\n")) << LogText();
  EXPECT_EQ(c.Status(), ns_KDL::DS_SUCCESS);
}

TEST_F(CompletionTest, CheckMd5_MatchesAfterTheReflush) {
  std::string damaged = package;
  damaged[9000] = '#';
  ASSERT_TRUE(plat::WriteWholeFileAtomic(tempPath, damaged));
  CCompletion c = Make(PackageMd5());
  c.SetSleeper([this](int ms) {
    delays.push_back(ms);
    if (ms == CCompletion::kReflushDelayMs) plat::WriteWholeFileAtomic(tempPath, package);
  });
  EXPECT_TRUE(c.CheckMd5(W(tempPath), true));
  EXPECT_EQ(delays, (std::vector<int>{300, 600, 900, 1200, 1000}));
  EXPECT_TRUE(Logged("[INFO] multi, check md5 ok after re-flush, file_md5=[" + PackageMd5() + "].\n")) << LogText();
  EXPECT_FALSE(Logged("failed after all retries")) << LogText();
  EXPECT_EQ(matchedNotes, 1);
}

TEST_F(CompletionTest, CheckMd5_MissingFileFailsLikeAMismatchWithoutReflush) {
  CCompletion c = Make(PackageMd5());
  EXPECT_FALSE(c.CheckMd5(W(tempPath), true));
  EXPECT_EQ(c.Status(), ns_KDL::DS_MD5_FAILED);
  EXPECT_EQ(delays, (std::vector<int>{300, 600, 900, 1200})) << "no file to re-flush, so no last wait";
  EXPECT_EQ(md5Notes, std::vector<std::string>{""});
  EXPECT_TRUE(Logged("[WARN] multi, check md5 failed! retry=[0/5], file_md5=[], expected=[")) << LogText();
  EXPECT_FALSE(Logged("re-flush file buffers ok")) << LogText();
  EXPECT_TRUE(Logged("[ERROR] multi, check md5 failed after all retries!\n")) << LogText();
}

TEST_F(CompletionTest, CheckMd5_ShortExpectedTextIsFalseAtOnce) {
  ASSERT_TRUE(plat::WriteWholeFileAtomic(tempPath, package));
  for (const std::string expected : {"", "AB"}) {
    CCompletion c = Make(expected);
    EXPECT_FALSE(c.CheckMd5(W(tempPath), true));
    EXPECT_EQ(c.Status(), ns_KDL::DS_SUCCESS);
  }
  EXPECT_TRUE(delays.empty());
  EXPECT_TRUE(md5Notes.empty());
  EXPECT_FALSE(Logged("check md5")) << LogText();
}

TEST_F(CompletionTest, CheckMd5_ReportOffNeitherNotifiesNorSetsTheStatus) {
  ASSERT_TRUE(plat::WriteWholeFileAtomic(tempPath, package));
  CCompletion good = Make(PackageMd5());
  EXPECT_TRUE(good.CheckMd5(W(tempPath), false));
  CCompletion bad = Make(Upper(ns_KDL::Md5OfBytes("x", 1)));
  EXPECT_FALSE(bad.CheckMd5(W(tempPath), false));
  EXPECT_EQ(bad.Status(), ns_KDL::DS_SUCCESS);
  EXPECT_TRUE(md5Notes.empty());
  EXPECT_EQ(matchedNotes, 0);
  EXPECT_TRUE(Logged("[ERROR] multi, check md5 failed after all retries!\n")) << "still logged";
}

// ---- CheckFileSize and the already-present test ----

TEST_F(CompletionTest, CheckFileSize_MissingFileCountsAsEmpty) {
  CCompletion c = Make("");
  EXPECT_FALSE(c.CheckFileSize(W(tempPath), true));
  EXPECT_EQ(c.Status(), ns_KDL::DS_FILE_SIZE_ERROR);
  EXPECT_EQ(failures, (std::vector<std::pair<int32_t, int32_t>>{{CCompletion::FAIL_SIZE, ENOENT}}));
  EXPECT_TRUE(Logged("[ERROR] multi, check file size incorrect! local_size=[0], dst_size=[10000]\n")) << LogText();
}

TEST_F(CompletionTest, IsAlreadyDownloaded_NeedsSizeAndMd5AndReportsNothing) {
  ASSERT_TRUE(plat::WriteWholeFileAtomic(finalPath, package));
  EXPECT_TRUE(Make(PackageMd5()).IsAlreadyDownloaded());
  EXPECT_FALSE(Make("").IsAlreadyDownloaded()) << "without an expected MD5 it is downloaded again";

  CCompletion wrongSize = Make(PackageMd5(), 20000);
  EXPECT_FALSE(wrongSize.IsAlreadyDownloaded());
  EXPECT_EQ(wrongSize.Status(), ns_KDL::DS_SUCCESS);
  EXPECT_TRUE(Logged("[ERROR] multi, check file size incorrect! local_size=[10000], dst_size=[20000]\n")) << LogText();

  EXPECT_TRUE(md5Notes.empty());
  EXPECT_EQ(matchedNotes, 0);
  EXPECT_TRUE(failures.empty());
}

// ---- Trailer removal ----

TEST_F(CompletionTest, RemoveTrailer_RetriesWhileAnotherProcessHoldsALease) {
  WriteTempWithTrailer();
  Holder holder(tempPath, /*lease=*/true);
  ASSERT_TRUE(holder.Ok()) << "leases need a local file system";
  CCompletion c = Make("");
  c.SetSleeper([&](int ms) {
    delays.push_back(ms);
    if (delays.size() == 2) holder.Release();
  });
  const pid_t pid = holder.Pid();

  EXPECT_TRUE(c.RemoveTrailer());
  EXPECT_EQ(SizeOf(tempPath), static_cast<int64_t>(package.size()));
  EXPECT_EQ(delays, (std::vector<int>{1000, 2000}));
  const std::string log = LogText();
  EXPECT_EQ(Count(log, "[ERROR] multi, remove cache info failed! err=[" + std::to_string(EWOULDBLOCK) + "].\n"), 2u)
      << log;
  EXPECT_EQ(Count(log, "[WARN] process=[" + std::to_string(pid) + "][" + plat::OwnExeFileName() +
                           "] locked the file=[" + tempPath + "] \n"),
            2u)
      << log;
}

TEST_F(CompletionTest, RemoveTrailer_OtherErrorsStopAtOnce) {
  CCompletion c = Make("");
  EXPECT_FALSE(c.RemoveTrailer());
  EXPECT_TRUE(delays.empty());
  EXPECT_EQ(Count(LogText(), "[ERROR] multi, remove cache info failed! err=[" + std::to_string(ENOENT) + "].\n"), 1u)
      << LogText();
}

TEST_F(CompletionTest, RemoveTrailer_OnlyWhenTheStatusIsZero) {
  WriteTempWithTrailer();
  CCompletion c = Make("");
  c.SetStatus(ns_KDL::DS_USER_CANCELED);
  EXPECT_FALSE(c.RemoveTrailer());
  EXPECT_GT(SizeOf(tempPath), static_cast<int64_t>(package.size()));
}

// ---- RenameToFinal ----

TEST_F(CompletionTest, RenameToFinal_RetriesUntilTheWayIsClear) {
  ASSERT_TRUE(plat::WriteWholeFileAtomic(tempPath, package));
  // A folder in the final file's place cannot be deleted as a file nor renamed over.
  ASSERT_EQ(::mkdir(finalPath.c_str(), 0755), 0);
  ASSERT_TRUE(plat::WriteWholeFileAtomic(finalPath + "/inside", "x"));
  CCompletion c = Make("");
  c.SetSleeper([this](int ms) {
    delays.push_back(ms);
    if (delays.size() == 2) {
      ::unlink((finalPath + "/inside").c_str());
      ::rmdir(finalPath.c_str());
    }
  });
  EXPECT_TRUE(c.RenameToFinal());
  EXPECT_EQ(ReadAll(finalPath), package);
  EXPECT_EQ(delays, (std::vector<int>{1000, 2000}));
  EXPECT_TRUE(Logged("[ERROR] rename failed, try=1, err=" + std::to_string(EISDIR) + "\n")) << LogText();
  EXPECT_TRUE(Logged("[ERROR] rename failed, try=2, err=" + std::to_string(EISDIR) + "\n")) << LogText();
  EXPECT_FALSE(Logged("try=3")) << LogText();
  EXPECT_FALSE(Logged("locked the file")) << "not a lock error";
}

TEST_F(CompletionTest, RenameToFinal_NamesTheProcessHoldingTheFile) {
  ASSERT_TRUE(plat::WriteWholeFileAtomic(tempPath, package));
  Holder holder(tempPath, /*lease=*/false);
  ASSERT_TRUE(holder.Ok());
  const pid_t pid = holder.Pid();
  CCompletion c = Make("");
  // Renames fail with a busy file while the holder lives, as a scanner's lock does elsewhere.
  c.SetRenameForTesting([&](const char* from, const char* to) {
    if (holder.Pid() > 0) {
      errno = ETXTBSY;
      return -1;
    }
    return ::rename(from, to);
  });
  c.SetSleeper([&](int ms) {
    delays.push_back(ms);
    if (delays.size() == 3) holder.Release();
  });
  EXPECT_TRUE(c.RenameToFinal());
  EXPECT_EQ(ReadAll(finalPath), package);
  EXPECT_EQ(delays, (std::vector<int>{1000, 2000, 3000}));
  const std::string log = LogText();
  EXPECT_EQ(Count(log, "[ERROR] rename failed, try="), 3u) << log;
  EXPECT_EQ(Count(log, "[WARN] process=[" + std::to_string(pid) + "][" + plat::OwnExeFileName() +
                           "] locked the file=[" + tempPath + "] \n"),
            3u)
      << log;
}

TEST_F(CompletionTest, RenameToFinal_GivesUpAfterFifteenTriesWithStatus9) {
  CCompletion c = Make("");  // no temporary file at all
  EXPECT_FALSE(c.RenameToFinal());
  std::vector<int> expected;
  for (int i = 1; i <= 15; ++i) expected.push_back(i * 1000);
  EXPECT_EQ(delays, expected);
  EXPECT_EQ(c.Status(), ns_KDL::DS_FILE_OPERATION_FAILED);
  EXPECT_EQ(failures, (std::vector<std::pair<int32_t, int32_t>>{{CCompletion::FAIL_RENAME, ENOENT}}));
  const std::string log = LogText();
  EXPECT_EQ(Count(log, "[ERROR] rename failed, try="), 15u) << log;
  EXPECT_NE(log.find("[ERROR] rename failed, try=15, err=" + std::to_string(ENOENT) + "\n"), std::string::npos);
  EXPECT_NE(log.find("[ERROR] multi, revert file name failed! error=[" + std::to_string(ENOENT) + "].\n"),
            std::string::npos)
      << log;
}

TEST_F(CompletionTest, Complete_RenameFailureGivesStatus9) {
  WriteTempWithTrailer();
  ASSERT_EQ(::mkdir(finalPath.c_str(), 0755), 0);
  ASSERT_TRUE(plat::WriteWholeFileAtomic(finalPath + "/inside", "x"));
  CFileWriter writer;
  CCompletion c = Make(PackageMd5());
  EXPECT_FALSE(c.Complete(writer));
  EXPECT_EQ(c.Status(), ns_KDL::DS_FILE_OPERATION_FAILED);
  EXPECT_EQ(matchedNotes, 1);
  EXPECT_EQ(SizeOf(tempPath), static_cast<int64_t>(package.size())) << "trailer cut, file kept";
}

}  // namespace
