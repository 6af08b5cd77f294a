// Whole packed installers run in a sandbox: the start-up sequence, one instance per product
// and mode, the fork run, and start-up failures on bad input.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

#include "platform/Process.h"
#include "platform/Window.h"
#include "platform/WindowRegistry.h"
#include "support/Sandbox.h"

namespace {

using namespace std::chrono_literals;
constexpr const char* kTitle = "Corvane Lumen";

std::string ReadSource(const std::string& relative) {
  std::ifstream in(qevtest::SourcePath(relative), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class StartupTest : public ::testing::Test {
 protected:
  qevtest::Sandbox box;
  std::vector<pid_t> running;

  void TearDown() override {
    for (pid_t pid : running) plat::Terminate(pid);
  }

  struct Resources {
    std::optional<std::string> product = ReadSource("data/product.xml");
    std::optional<std::string> lang = ReadSource("data/lang.xml");
  };

  // Packs an installer from the given documents (a missing one is left out).
  std::string Pack(const Resources& res, const std::string& name = "setup") {
    std::filesystem::create_directories(box.Path("/installers"));
    const std::string out = box.Path("/installers/" + name);
    std::vector<std::string> argv = {qevtest::BinPath("qev-pack"), "--exe", qevtest::BinPath("qev"), "--out", out,
                                     "--version", "4.6.2.118"};
    if (res.product) {
      box.WriteFile("/input/" + name + ".product.xml", *res.product);
      argv.insert(argv.end(), {"--product", box.Path("/input/" + name + ".product.xml")});
    }
    if (res.lang) {
      box.WriteFile("/input/" + name + ".lang.xml", *res.lang);
      argv.insert(argv.end(), {"--lang", box.Path("/input/" + name + ".lang.xml")});
    }
    const qevtest::RunResult r = qevtest::RunProgram(argv);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return out;
  }

  // Starts an installer in the background with its output in a file.
  pid_t Start(const std::string& installer, const std::vector<std::string>& args, const std::string& outName) {
    std::vector<std::string> argv = {installer};
    argv.insert(argv.end(), args.begin(), args.end());
    plat::SpawnOptions options;
    options.stdoutPath = box.Path("/" + outName);
    const pid_t pid = plat::Spawn(argv, options);
    EXPECT_GT(pid, 0);
    running.push_back(pid);
    return pid;
  }

  int WaitExit(pid_t pid, int timeoutMs = 20000) {
    int code = -1000;
    EXPECT_TRUE(plat::WaitForExit(pid, timeoutMs, code)) << "installer did not end";
    std::erase(running, pid);
    return code;
  }

  std::string Log(const std::string& name = "cvQEV.log") const { return box.ReadFile("/tmp/Corvane/QEV/" + name); }

  // Waits until the log holds the line; returns the log.
  std::string WaitForLogLine(const std::string& line, const std::string& name = "cvQEV.log") {
    for (int i = 0; i < 200; ++i) {
      const std::string text = Log(name);
      if (text.find(line) != std::string::npos) return text;
      std::this_thread::sleep_for(50ms);
    }
    ADD_FAILURE() << "no line " << line << " in " << name << ":\n" << Log(name);
    return Log(name);
  }

  static plat::HWND HandleFromLog(const std::string& log) {
    std::smatch m;
    if (!std::regex_search(log, m, std::regex(R"(\[INFO\] QevWnd handle=\[([0-9a-f]+)\])"))) return 0;
    return static_cast<plat::HWND>(std::stoul(m[1], nullptr, 16));
  }

  // The message lines of a log, without time stamps and thread numbers.
  static std::vector<std::string> Lines(const std::string& log) {
    std::vector<std::string> out;
    std::istringstream in(log);
    std::string line;
    while (std::getline(in, line)) {
      const size_t dash = line.find(" - ");
      out.push_back(dash == std::string::npos ? line : line.substr(dash + 3));
    }
    return out;
  }
};

TEST_F(StartupTest, NormalRunShowsItsWindowAndEndsOnTheCloseRequest) {
  const std::string installer = Pack({});
  const pid_t pid = Start(installer, {}, "out.txt");
  const std::string log = WaitForLogLine("[INFO] MessageLoop\n");
  const plat::HWND hwnd = HandleFromLog(log);
  ASSERT_NE(hwnd, 0u);
  EXPECT_EQ(plat::FindWindow("QEV", kTitle), hwnd);
  EXPECT_EQ(plat::GetWindowClassName(hwnd), "QEV");

  ASSERT_TRUE(plat::PostMessage(hwnd, plat::WM_APP_EXIT));
  EXPECT_EQ(WaitExit(pid), 0);
  EXPECT_FALSE(plat::IsWindow(hwnd));

  std::vector<std::string> lines = Lines(Log());
  std::erase_if(lines, [](const std::string& l) { return l.rfind("[INFO] InitLangCode", 0) == 0; });
  const std::string folder = box.Path("/var/cache/Corvane/");
  char handle[16];
  std::snprintf(handle, sizeof(handle), "%x", hwnd);
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "[INFO] start, fork=[0].",
                       "[INFO] LoadLocalXml",
                       "[INFO] config folder=[" + folder + "].",
                       "[INFO] LoadLocalXml, dependent.item pid=[10819].",
                       "[INFO] ReadRunConfig",
                       "[INFO] loadLangXML",
                       std::string("[INFO] QevWnd handle=[") + handle + "]",
                       "[INFO] MessageLoop",
                       "[INFO] MessageLoop end",
                       "[INFO] exit!",
                   }));
  EXPECT_EQ(box.ReadFile("/out.txt"), "");  // no message box
}

TEST_F(StartupTest, SecondNormalRunEndsAndBringsTheFirstForward) {
  const std::string installer = Pack({});
  const pid_t first = Start(installer, {}, "first.txt");
  const plat::HWND hwnd = HandleFromLog(WaitForLogLine("[INFO] MessageLoop\n"));
  ASSERT_NE(hwnd, 0u);

  const qevtest::RunResult second = qevtest::RunProgram({installer});
  EXPECT_EQ(second.exitCode, -1);
  EXPECT_EQ(second.err, "");
  // The second start moved the first one's log aside; both now write the new one.
  const std::string log = WaitForLogLine("[INFO] QevWnd restore, brought to the front.");
  EXPECT_NE(log.find("[WARN] Already exist PreInstance.\n"), std::string::npos);

  ASSERT_TRUE(plat::PostMessage(hwnd, plat::WM_APP_EXIT));
  EXPECT_EQ(WaitExit(first), 0);
}

TEST_F(StartupTest, ForkRunStartsBesideANormalRunAndKeepsTheHostValues) {
  const std::string installer = Pack({});
  const pid_t normal = Start(installer, {}, "normal.txt");
  const plat::HWND normalHwnd = HandleFromLog(WaitForLogLine("[INFO] MessageLoop\n"));

  const pid_t fork = Start(installer,
                           {"OnlyForkInstallDependent=1", "HostLang=Deutsch", "HostHwnd=1234", "HostVersion=2.0"},
                           "fork.txt");
  const std::string forkLog = WaitForLogLine("[INFO] MessageLoop\n", "cvForkQEV.log");
  const std::vector<std::string> lines = Lines(forkLog);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front(), "[INFO] start, fork=[1].");
  EXPECT_NE(std::find(lines.begin(), lines.end(), "[INFO] set select lang=[Deutsch]."), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "[INFO] set host hwnd=[4d2]."), lines.end());
  const plat::HWND forkHwnd = HandleFromLog(forkLog);
  ASSERT_NE(forkHwnd, 0u);
  EXPECT_NE(forkHwnd, normalHwnd);

  // A second fork run is refused like a second normal run, without a window brought forward.
  const qevtest::RunResult again = qevtest::RunProgram({installer, "OnlyForkInstallDependent=1"});
  EXPECT_EQ(again.exitCode, -1);

  ASSERT_TRUE(plat::PostMessage(forkHwnd, plat::WM_APP_EXIT));
  ASSERT_TRUE(plat::PostMessage(normalHwnd, plat::WM_APP_EXIT));
  EXPECT_EQ(WaitExit(fork), 0);
  EXPECT_EQ(WaitExit(normal), 0);
  EXPECT_EQ(Log().find("restore"), std::string::npos);
}

TEST_F(StartupTest, ForkSwitchNeedsExactlyOne) {
  const std::string installer = Pack({});
  for (const std::string arg : {"OnlyForkInstallDependent=true", "onlyforkinstalldependent=1", "OnlyForkInstallDependent"}) {
    const pid_t pid = Start(installer, {arg}, "out.txt");
    const plat::HWND hwnd = HandleFromLog(WaitForLogLine("[INFO] MessageLoop\n"));
    EXPECT_NE(Log().find("[INFO] start, fork=[0]."), std::string::npos) << arg;
    ASSERT_TRUE(plat::PostMessage(hwnd, plat::WM_APP_EXIT));
    EXPECT_EQ(WaitExit(pid), 0);
    std::filesystem::remove_all(box.Path("/tmp/Corvane"));
  }
}

TEST_F(StartupTest, StandardUserGetsTheEnglishAdministratorMessage) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run the installer as another user";
  Resources res;
  res.lang = "<?xml version=\"1.0\"?><Lang><item name=\"ok\">确定</item></Lang>";
  const std::string installer = Pack(res);
  std::filesystem::create_directories(box.Path("/tmp"));
  chmod(box.Path("/tmp").c_str(), 01777);
  chmod(box.Path("/installers").c_str(), 0755);

  const qevtest::RunResult normal = qevtest::RunProgram({installer}, {{"LANG", "zh_CN.UTF-8"}}, 20000, 65534);
  EXPECT_EQ(normal.exitCode, -1);
  EXPECT_EQ(normal.err, "Error: You must be logged in as administrator when installing this program.\n");
  EXPECT_NE(Log().find("[ERROR] You must be logged in as administrator when installing this program.\n"),
            std::string::npos);

  const qevtest::RunResult fork = qevtest::RunProgram({installer, "OnlyForkInstallDependent=1"}, {}, 20000, 65534);
  EXPECT_EQ(fork.exitCode, -1);
  EXPECT_EQ(fork.err, "");  // a fork run never shows a message box
}

TEST_F(StartupTest, BadResourcesEndStartUp) {
  struct Case {
    const char* what;
    std::optional<std::string> product;
    std::optional<std::string> lang;
    std::vector<std::string> lines;
    const char* box;
  } cases[] = {
      {"no product", std::nullopt, ReadSource("data/lang.xml"),
       {"[ERROR] LoadLocalXml, find failed!", "[ERROR] LoadLocalXml failed!"}, "Load product xml error."},
      {"empty product", std::string(), ReadSource("data/lang.xml"),
       {"[ERROR] LoadLocalXml, size error!", "[ERROR] LoadLocalXml failed!"}, "Load product xml error."},
      {"not UTF-8", std::string("<Product><ProductName>\xc3\x28</ProductName></Product>"), ReadSource("data/lang.xml"),
       {"[ERROR] LoadLocalXml err 3", "[ERROR] LoadLocalXml failed!"}, "Load product xml error."},
      {"not well-formed", std::string("<Product><ProductName>x</Product>"), ReadSource("data/lang.xml"),
       {"[ERROR] LoadLocalXml err 3", "[ERROR] LoadLocalXml failed!"}, "Load product xml error."},
      {"no Product root", std::string("<Config/>"), ReadSource("data/lang.xml"),
       {"[ERROR] LoadLocalXml, not find product.", "[ERROR] LoadLocalXml failed!"}, "Load product xml error."},
      {"no language table", ReadSource("data/product.xml"), std::nullopt, {"[ERROR] loadLangXML failed!"},
       "Load lang xml error."},
      {"broken language table", ReadSource("data/product.xml"), std::string("<Lang><item name=\"a\">x</Lang>"),
       {"[ERROR] loadLangXML failed!"}, "Load lang xml error."},
      {"other root", ReadSource("data/product.xml"), std::string("<Texts/>"), {"[ERROR] loadLangXML failed!"},
       "Load lang xml error."},
  };
  int n = 0;
  for (const Case& c : cases) {
    Resources res;
    res.product = c.product;
    res.lang = c.lang;
    const std::string installer = Pack(res, "bad" + std::to_string(n++));
    for (bool fork : {false, true}) {
      std::filesystem::remove_all(box.Path("/tmp/Corvane"));
      const qevtest::RunResult r =
          fork ? qevtest::RunProgram({installer, "OnlyForkInstallDependent=1"}) : qevtest::RunProgram({installer});
      EXPECT_EQ(r.exitCode, -1) << c.what;
      EXPECT_EQ(r.err, fork ? std::string() : std::string("Error: ") + c.box + "\n") << c.what;
      const std::string log = Log(fork ? "cvForkQEV.log" : "cvQEV.log");
      for (const std::string& line : c.lines) EXPECT_NE(log.find(line + "\n"), std::string::npos) << c.what << "\n" << log;
      EXPECT_EQ(log.find("[INFO] MessageLoop"), std::string::npos) << c.what;
    }
  }
}

TEST_F(StartupTest, DamagedBundleCountsAsMissing) {
  const std::string installer = Pack({});
  std::string bytes = box.ReadFile("/installers/setup");
  struct Case {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"trailer cut", bytes.substr(0, bytes.size() - 5)},
      {"index offset beyond the file", [&] {
         std::string b = bytes;
         b[b.size() - 24] = '\xff';  // the index offset's lowest byte ...
         b[b.size() - 17] = '\x7f';  // ... and its highest
         return b;
       }()},
  };
  for (const Case& c : cases) {
    box.WriteFile("/installers/damaged", c.bytes);
    chmod(box.Path("/installers/damaged").c_str(), 0755);
    std::filesystem::remove_all(box.Path("/tmp/Corvane"));
    const qevtest::RunResult r = qevtest::RunProgram({box.Path("/installers/damaged")});
    EXPECT_EQ(r.exitCode, -1) << c.what;
    EXPECT_NE(Log().find("[ERROR] LoadLocalXml, find failed!\n"), std::string::npos) << c.what;
  }
}

TEST_F(StartupTest, CorruptRegistryStoreIsLoggedAndStartUpGoesOn) {
  box.WriteFile("/var/lib/qev/registry.db", std::string(8192, 'x'));
  const std::string installer = Pack({});
  const pid_t pid = Start(installer, {}, "out.txt");
  const std::string log = WaitForLogLine("[INFO] MessageLoop\n");
  EXPECT_NE(log.find("[ERROR] registry store is corrupt"), std::string::npos) << log;
  ASSERT_TRUE(plat::PostMessage(HandleFromLog(log), plat::WM_APP_EXIT));
  EXPECT_EQ(WaitExit(pid), 0);
  EXPECT_EQ(box.ReadFile("/var/lib/qev/registry.db"), std::string(8192, 'x'));  // left for inspection
}

}  // namespace
