#include "shell/simpleLog.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <regex>
#include <set>
#include <thread>

#include "support/Sandbox.h"

namespace fs = std::filesystem;

namespace {

std::time_t LocalTime(int y, int mo, int d, int h, int mi, int s) {
  std::tm tm{};
  tm.tm_year = y - 1900;
  tm.tm_mon = mo - 1;
  tm.tm_mday = d;
  tm.tm_hour = h;
  tm.tm_min = mi;
  tm.tm_sec = s;
  tm.tm_isdst = -1;
  return std::mktime(&tm);
}

void SetModTime(const std::string& path, std::time_t t) {
  const timespec times[2] = {{t, 0}, {t, 0}};
  ASSERT_EQ(0, utimensat(AT_FDCWD, path.c_str(), times, 0));
}

std::set<std::string> FilesIn(const std::string& folder) {
  std::set<std::string> out;
  for (const auto& e : fs::directory_iterator(folder)) out.insert(e.path().filename().string());
  return out;
}

class SimpleLogTest : public ::testing::Test {
 protected:
  qevtest::Sandbox box;
  std::string folder = box.Path("/logs/");
  std::time_t day = LocalTime(2024, 3, 5, 9, 7, 41);
  simpleLog::Clock clock = [this] { return day; };

  void SetUp() override { fs::create_directories(folder); }
  void Touch(const std::string& name, std::time_t mtime) {
    box.WriteFile("/logs/" + name, "old " + name);
    SetModTime(folder + name, mtime);
  }
};

TEST_F(SimpleLogTest, Backup_MovesPreviousLogToDatedNamesWithCounter) {
  for (int run = 0; run < 3; ++run) {
    box.WriteFile("/logs/cvQEV.log", "run " + std::to_string(run));
    simpleLog log(folder + "cvQEV.log", clock);
    EXPECT_FALSE(fs::exists(folder + "cvQEV.log"));
  }
  EXPECT_EQ(box.ReadFile("/logs/cvQEV_2024-03-05.log"), "run 0");
  EXPECT_EQ(box.ReadFile("/logs/cvQEV_2024-03-05_1.log"), "run 1");
  EXPECT_EQ(box.ReadFile("/logs/cvQEV_2024-03-05_2.log"), "run 2");
}

TEST_F(SimpleLogTest, Backup_PrunesToFiveAndLeavesOtherNamesAlone) {
  const std::time_t base = day - 10 * 86400;
  Touch("cvQEV_2024-02-01.log", base + 1);  // oldest: goes
  Touch("cvQEV_2024-02-02.log", base + 2);
  Touch("cvQEV_2024-02-03.log", base + 3);
  Touch("cvQEV_2024-02-04.log", base + 4);
  Touch("cvQEV_2024-02-05.log", base + 5);
  Touch("cvQEV.log", base + 6);
  Touch("cvForkQEV.log", base);  // older than all, but another name
  Touch("notes.txt", base);

  simpleLog log(folder + "cvQEV.log", clock);

  EXPECT_EQ(FilesIn(folder), (std::set<std::string>{"cvQEV_2024-02-02.log", "cvQEV_2024-02-03.log",
                                                     "cvQEV_2024-02-04.log", "cvQEV_2024-02-05.log",
                                                     "cvQEV_2024-03-05.log", "cvForkQEV.log", "notes.txt"}));
}

TEST_F(SimpleLogTest, Backup_NoPreviousLogIsFine) {
  simpleLog log(folder + "cvQEV.log", clock);
  log.Write("[INFO] first");
  EXPECT_EQ(FilesIn(folder), (std::set<std::string>{"cvQEV.log"}));
}

TEST_F(SimpleLogTest, Write_LineFormat) {
  struct Case {
    std::time_t when;
    const char* message;
    const char* expected;  // with THREAD for the thread number
  } cases[] = {
      {LocalTime(2024, 3, 5, 9, 7, 41), "[INFO] start, fork=[0].", "[2024-03-05 9:07:41] THREAD - [INFO] start, fork=[0]."},
      {LocalTime(2025, 12, 31, 23, 59, 5), "[WARN] x", "[2025-12-31 23:59:05] THREAD - [WARN] x"},
      {LocalTime(2024, 1, 2, 0, 0, 0), "two\nlines", "[2024-01-02 0:00:00] THREAD - two\nlines"},
      {LocalTime(2024, 1, 2, 0, 0, 0), "", "[2024-01-02 0:00:00] THREAD - "},
  };
  for (const Case& c : cases) {
    fs::remove(folder + "cvQEV.log");
    day = c.when;
    simpleLog log(folder + "cvQEV.log", clock);
    log.Write(c.message);
    std::string text = box.ReadFile("/logs/cvQEV.log");
    const std::regex thread(R"(\] (\d+) - )");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(text, m, thread)) << text;
    text.replace(static_cast<size_t>(m.position(1)), static_cast<size_t>(m.length(1)), "THREAD");
    EXPECT_EQ(text, std::string(c.expected) + "\n");
  }
}

TEST_F(SimpleLogTest, Log_BeforeCreateWritesNothing) {
  simpleLog::ResetForTesting();
  Log(3, "[INFO] lost %d", 1);  // must not crash
  simpleLog::Create("cvQEV.log");
  Log(3, "[INFO] kept %d", 2);
  const std::string text = box.ReadFile("/tmp/Corvane/QEV/cvQEV.log");
  EXPECT_EQ(text.find("lost"), std::string::npos);
  EXPECT_NE(text.find("[INFO] kept 2\n"), std::string::npos);
  simpleLog::ResetForTesting();
}

TEST_F(SimpleLogTest, Log_FolderFallsBackToTempWhenItCannotBeMade) {
  box.WriteFile("/tmp/Corvane", "a file where the folder should be");
  EXPECT_EQ(simpleLog::LogFolder(), box.Path("/tmp/"));
}

TEST_F(SimpleLogTest, Write_ConcurrentEntriesNeverInterleave) {
  simpleLog log(folder + "cvQEV.log", clock);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&log, t] {
      const std::string line = "[INFO] " + std::string(200, static_cast<char>('a' + t));
      for (int i = 0; i < 200; ++i) log.Write(line.c_str());
    });
  }
  for (auto& th : threads) th.join();
  const std::string text = box.ReadFile("/logs/cvQEV.log");
  const std::regex good(R"(\[2024-03-05 9:07:41\] \d+ - \[INFO\] (a{200}|b{200}|c{200}|d{200}))");
  size_t lines = 0, start = 0;
  while (start < text.size()) {
    const size_t end = text.find('\n', start);
    ASSERT_NE(end, std::string::npos);
    EXPECT_TRUE(std::regex_match(text.substr(start, end - start), good));
    ++lines;
    start = end + 1;
  }
  EXPECT_EQ(lines, 800u);
}

TEST_F(SimpleLogTest, EmptyPathReportsAndLosesEntries) {
  testing::internal::CaptureStdout();
  simpleLog log("", clock);
  log.Write("[INFO] nowhere");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "[simpleLog::Log] log filename is empty\n");
}

}  // namespace
