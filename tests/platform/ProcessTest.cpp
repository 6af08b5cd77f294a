#include "platform/Process.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/TextConv.h"
#include "support/Sandbox.h"

namespace {

using Args = std::vector<std::string>;

// Sets or clears an environment variable for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : m_name(name) {
    if (const char* old = std::getenv(name)) m_old = old;
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (m_old) {
      setenv(m_name.c_str(), m_old->c_str(), 1);
    } else {
      unsetenv(m_name.c_str());
    }
  }

 private:
  std::string m_name;
  std::optional<std::string> m_old;
};

// Process ids (running or zombie) whose parent is this process.
std::set<pid_t> OurChildren() {
  std::set<pid_t> out;
  const pid_t self = getpid();
  for (const auto& e : std::filesystem::directory_iterator("/proc")) {
    const std::string name = e.path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream in(e.path() / "stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t paren = stat.rfind(')');
    if (paren == std::string::npos) continue;
    std::istringstream rest(stat.substr(paren + 1));
    std::string state;
    long ppid = 0;
    if (rest >> state >> ppid && ppid == self) out.insert(static_cast<pid_t>(std::stol(name)));
  }
  return out;
}

struct SplitCase {
  const char* line;
  Args want;
};

const std::vector<SplitCase>& SplitCases() {
  static const std::vector<SplitCase> cases = {
      {"", {}},
      {"   \t ", {}},
      {"a b c", {"a", "b", "c"}},
      {"  a \t  b  ", {"a", "b"}},
      {"\"a b\" c", {"a b", "c"}},
      {"a\"b c\"d", {"ab cd"}},
      {"\"\"", {""}},
      {"a \"\" b", {"a", "", "b"}},
      {"\"\" \"\"", {"", ""}},
      {"\"unterminated arg", {"unterminated arg"}},
      {"\"a\"b\"c d\"", {"abc d"}},
      {"a\"\"b", {"ab"}},
      // "" inside a quoted part is a literal quote and the part goes on.
      {"\"a\"\"b\"", {"a\"b"}},
      {"\"a\"\"b c\"", {"a\"b c"}},
      {"\"\"\"", {"\""}},
      {"\"\"\"\"", {"\""}},
      {"\"\"\"\" x", {"\"", "x"}},
      // Backslashes are literal unless a quote follows them.
      {"a\\b", {"a\\b"}},
      {"a\\\\b", {"a\\\\b"}},
      {"\\\\server\\share\\", {"\\\\server\\share\\"}},
      {"a\\", {"a\\"}},
      {"C:\\Program Files\\x", {"C:\\Program", "Files\\x"}},
      // 2n+1 backslashes and a quote: n backslashes and a literal quote.
      {"\\\"a", {"\"a"}},
      {"a\\\\\\\"b", {"a\\\"b"}},
      {"\"C:\\dir\\\" next", {"C:\\dir\" next"}},
      // 2n backslashes and a quote: n backslashes, and the quote groups.
      {"\"a\\\\\" b", {"a\\", "b"}},
      {"a\\\\\\\\\"b c\"", {"a\\\\b c"}},
      {"\"a\\\\\\\\\"", {"a\\\\"}},
      {"\"a\\\\\"\"b\"", {"a\\\"b"}},
      {"Key=Value \"HostLang=Chinese (Simplified)\" OnlyForkInstallDependent=1",
       {"Key=Value", "HostLang=Chinese (Simplified)", "OnlyForkInstallDependent=1"}},
      {"setup.exe /S /D=\"C:\\Program Files\\Demo\\\\\"", {"setup.exe", "/S", "/D=C:\\Program Files\\Demo\\"}},
      {"\"\xc3\x9cn\xc3\xaf c\xc3\xb6" "d\xc3\xa9\" \xe4\xb8\xad", {"\xc3\x9cn\xc3\xaf c\xc3\xb6" "d\xc3\xa9", "\xe4\xb8\xad"}},
  };
  return cases;
}

TEST(SplitCommandLine, NarrowTable) {
  for (const SplitCase& c : SplitCases()) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(plat::SplitCommandLine(std::string(c.line)), c.want);
  }
}

TEST(SplitCommandLine, WideTable) {
  for (const SplitCase& c : SplitCases()) {
    SCOPED_TRACE(c.line);
    std::vector<std::wstring> want;
    for (const std::string& a : c.want) want.push_back(plat::Utf8ToWide(a));
    EXPECT_EQ(plat::SplitCommandLine(plat::Utf8ToWide(c.line)), want);
  }
}

int RunToEnd(const Args& argv, const plat::SpawnOptions& options = {}) {
  const pid_t pid = plat::Spawn(argv, options);
  if (pid <= 0) return -1000;
  int code = -2;
  if (!plat::WaitForExit(pid, -1, code)) return -2000;
  return code;
}

TEST(Spawn, ExitCodesReachTheWaiter) {
  struct Case {
    const char* script;
    int code;
  };
  const Case cases[] = {
      {"exit 0", 0}, {"exit 1", 1}, {"exit 3", 3}, {"exit 255", 255}, {"kill -9 $$", -1}, {"kill -TERM $$", -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    EXPECT_EQ(RunToEnd({"sh", "-c", c.script}), c.code);
  }
}

TEST(Spawn, WaitWithTimeoutReturnsWhenTheChildEnds) {
  const pid_t pid = plat::Spawn({"sh", "-c", "exit 7"});
  ASSERT_GT(pid, 0);
  int code = 0;
  EXPECT_TRUE(plat::WaitForExit(pid, 20000, code));
  EXPECT_EQ(code, 7);
}

TEST(Spawn, MissingProgramFails) {
  EXPECT_EQ(plat::Spawn({}), -1);
  EXPECT_EQ(plat::Spawn({""}), -1);
  EXPECT_EQ(plat::Spawn({"qev-no-such-program-anywhere"}), -1);
  EXPECT_EQ(plat::Spawn({"/no/such/dir/prog"}), -1);
}

TEST(Spawn, HiddenChildReadsEndOfFileAtOnce) {
  qevtest::Sandbox box;
  plat::SpawnOptions o;
  o.stdoutPath = box.Path("out.txt");
  ASSERT_EQ(RunToEnd({"sh", "-c", "cat; echo done"}, o), 0);
  EXPECT_EQ(box.ReadFile("out.txt"), "done\n");
}

TEST(Spawn, OutputFileCollectsStdoutAndStderrAndIsAppended) {
  qevtest::Sandbox box;
  box.WriteFile("out.txt", "before\n");
  plat::SpawnOptions o;
  o.stdoutPath = box.Path("out.txt");
  ASSERT_EQ(RunToEnd({"sh", "-c", "echo out; echo err 1>&2"}, o), 0);
  ASSERT_EQ(RunToEnd({"sh", "-c", "echo again"}, o), 0);
  EXPECT_EQ(box.ReadFile("out.txt"), "before\nout\nerr\nagain\n");
}

TEST(Spawn, WorkingFolder) {
  qevtest::Sandbox box;
  box.WriteFile("work/marker", "");
  plat::SpawnOptions o;
  o.workingDir = box.Path("work");
  o.stdoutPath = box.Path("out.txt");
  ASSERT_EQ(RunToEnd({"sh", "-c", "ls"}, o), 0);
  EXPECT_EQ(box.ReadFile("out.txt"), "marker\n");

  o.workingDir = box.Path("missing");
  EXPECT_EQ(plat::Spawn({"true"}, o), -1);
}

TEST(Spawn, NeverEndingChildIsTimedOutAndTerminated) {
  const pid_t pid = plat::Spawn({"sleep", "30"});
  ASSERT_GT(pid, 0);
  int code = 0;
  EXPECT_FALSE(plat::WaitForExit(pid, 300, code));
  EXPECT_FALSE(plat::WaitForExit(pid, 0, code));
  plat::Terminate(pid);
  // Reaped: nothing is left to wait for.
  int status;
  EXPECT_EQ(waitpid(pid, &status, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
}

TEST(Spawn, TerminateIgnoresNonPositiveIds) {
  plat::Terminate(0);
  plat::Terminate(-1);
  int code = 5;
  EXPECT_TRUE(plat::WaitForExit(0, 10, code));
  EXPECT_EQ(code, -1);
}

TEST(Spawn, WaitsForAProcessThatIsNotOurChild) {
  // sh starts sleep in the background and ends: the sleep is not our child.
  qevtest::Sandbox box;
  plat::SpawnOptions o;
  o.stdoutPath = box.Path("pid");
  ASSERT_EQ(RunToEnd({"sh", "-c", "sleep 30 >/dev/null 2>&1 & echo $!"}, o), 0);
  const pid_t grandchild = static_cast<pid_t>(std::stoi(box.ReadFile("pid")));
  ASSERT_GT(grandchild, 0);
  int code = 0;
  EXPECT_FALSE(plat::WaitForExit(grandchild, 200, code));
  kill(grandchild, SIGKILL);
  EXPECT_TRUE(plat::WaitForExit(grandchild, 20000, code));
  EXPECT_EQ(code, -1);
}

TEST(RunHiddenWithTimeout, ResultFollowsTheExitCode) {
  struct Case {
    const char* line;
    bool ok;
    int code;
  };
  const Case cases[] = {
      {"sh -c \"exit 0\"", true, 0},
      {"sh -c \"exit 5\"", false, 5},
      {"sh -c \"test 'a b' = 'a b'\"", true, 0},
      {"true", true, 0},
      {"false", false, 1},
      {"qev-no-such-program-anywhere --x", false, -1},
      {"", false, -1},
      {"   ", false, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    int code = -99;
    EXPECT_EQ(plat::RunHiddenWithTimeout(c.line, 20000, &code), c.ok);
    EXPECT_EQ(code, c.code);
  }
  EXPECT_TRUE(plat::RunHiddenWithTimeout("true", 20000));
}

TEST(RunHiddenWithTimeout, EndsAProgramThatNeverExits) {
  int code = 0;
  EXPECT_FALSE(plat::RunHiddenWithTimeout("sleep 30", 300, &code));
  EXPECT_EQ(code, -1);
}

TEST(RunHiddenWithTimeout, QuotedArgumentsArriveWhole) {
  qevtest::Sandbox box;
  const std::string script = box.Path("args.sh");
  box.WriteFile("args.sh", "#!/bin/sh\nfor a in \"$@\"; do printf '[%s]' \"$a\"; done > \"$0.out\"\n");
  chmod(script.c_str(), 0755);
  ASSERT_TRUE(plat::RunHiddenWithTimeout("\"" + script + "\" \"a b\" c\\\"d \"\"", 20000));
  EXPECT_EQ(box.ReadFile("args.sh.out"), "[a b][c\"d][]");
}

TEST(SpawnAsDesktopUser, WithoutSudoVariablesRunsAsUs) {
  qevtest::Sandbox box;
  ScopedEnv uid("SUDO_UID", nullptr);
  ScopedEnv gid("SUDO_GID", nullptr);
  plat::SpawnOptions o;
  o.dropToDesktopUser = true;
  o.stdoutPath = box.Path("id.txt");
  ASSERT_EQ(RunToEnd({"id", "-u"}, o), 0);
  EXPECT_EQ(box.ReadFile("id.txt"), std::to_string(geteuid()) + "\n");
}

TEST(SpawnAsDesktopUser, DropsToSudoIds) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  qevtest::Sandbox box;
  box.WriteFile("shared/.keep", "");
  const std::string shared = box.Path("shared");
  ASSERT_EQ(chmod(shared.c_str(), 0777), 0);
  ScopedEnv uid("SUDO_UID", "65534");
  ScopedEnv gid("SUDO_GID", "65534");
  ScopedEnv user("SUDO_USER", nullptr);
  plat::SpawnOptions o;
  o.dropToDesktopUser = true;
  o.workingDir = shared;
  o.stdoutPath = shared + "/id.txt";
  ASSERT_EQ(RunToEnd({"sh", "-c", "id -u; id -g; id -G"}, o), 0);
  EXPECT_EQ(box.ReadFile("shared/id.txt"), "65534\n65534\n65534\n");
  struct stat st;
  ASSERT_EQ(stat((shared + "/id.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 65534u);

  // Without the flag the same variables change nothing.
  o.dropToDesktopUser = false;
  o.stdoutPath = box.Path("root.txt");
  ASSERT_EQ(RunToEnd({"id", "-u"}, o), 0);
  EXPECT_EQ(box.ReadFile("root.txt"), "0\n");
}

TEST(SpawnAsDesktopUser, UnusableOutputFileAfterTheDropFails) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  qevtest::Sandbox box;
  box.WriteFile("private/.keep", "");
  ASSERT_EQ(chmod(box.Path("private").c_str(), 0700), 0);
  ScopedEnv uid("SUDO_UID", "65534");
  ScopedEnv gid("SUDO_GID", "65534");
  plat::SpawnOptions o;
  o.dropToDesktopUser = true;
  o.stdoutPath = box.Path("private/out.txt");
  EXPECT_EQ(plat::Spawn({"true"}, o), -1);
  EXPECT_FALSE(std::ifstream(box.Path("private/out.txt")).good());
}

TEST(IsAdministrator, SandboxOwnedByUs) {
  qevtest::Sandbox box;
  EXPECT_TRUE(plat::IsAdministrator());
}

TEST(IsAdministrator, SandboxOwnedBySomeoneElse) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to chown the sandbox";
  qevtest::Sandbox box;
  ASSERT_EQ(chown(box.Root().c_str(), 65534, 65534), 0);
  EXPECT_FALSE(plat::IsAdministrator());
  ASSERT_EQ(chown(box.Root().c_str(), 0, 0), 0);
  EXPECT_TRUE(plat::IsAdministrator());
}

TEST(IsAdministrator, WithoutSandboxItIsTheEffectiveUser) {
  ScopedEnv root("QEV_SYSROOT", nullptr);
  EXPECT_EQ(plat::IsAdministrator(), geteuid() == 0);
}

TEST(OpenWithDesktop, StartsXdgOpenWithoutLeavingAChild) {
  qevtest::Sandbox box;
  box.WriteFile("bin/xdg-open", "#!/bin/sh\nprintf '%s' \"$1\" > \"$0.tmp\" && mv \"$0.tmp\" \"$0.opened\"\n");
  ASSERT_EQ(chmod(box.Path("bin/xdg-open").c_str(), 0755), 0);
  ScopedEnv path("PATH", (box.Path("bin") + ":/usr/bin:/bin").c_str());
  ScopedEnv uid("SUDO_UID", nullptr);
  ScopedEnv gid("SUDO_GID", nullptr);

  const std::set<pid_t> before = OurChildren();
  ASSERT_TRUE(plat::OpenWithDesktop("https://example.invalid/a b?x=1&y=2"));
  // No child of ours is left to reap, now or later.
  EXPECT_EQ(OurChildren(), before);

  const std::string opened = box.Path("bin/xdg-open.opened");
  for (int i = 0; i < 2000 && !std::ifstream(opened).good(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(box.ReadFile("bin/xdg-open.opened"), "https://example.invalid/a b?x=1&y=2");
}

TEST(OpenWithDesktop, FailsWithoutXdgOpen) {
  qevtest::Sandbox box;
  box.WriteFile("empty/.keep", "");
  ScopedEnv path("PATH", box.Path("empty").c_str());
  EXPECT_FALSE(plat::OpenWithDesktop("https://example.invalid/"));
}

}  // namespace
