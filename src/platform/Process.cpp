#include "platform/Process.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/Diagnostics.h"
#include "platform/Folders.h"

extern char** environ;

namespace plat {

namespace {

template <typename Char>
std::vector<std::basic_string<Char>> SplitImpl(const std::basic_string<Char>& s) {
  std::vector<std::basic_string<Char>> args;
  std::basic_string<Char> cur;
  bool inArg = false;
  bool inQuotes = false;
  size_t i = 0;
  const size_t n = s.size();
  while (i < n) {
    const Char c = s[i];
    if (!inQuotes && (c == Char(' ') || c == Char('\t'))) {
      if (inArg) {
        args.push_back(std::move(cur));
        cur.clear();
        inArg = false;
      }
      ++i;
      continue;
    }
    inArg = true;
    if (c == Char('\\')) {
      size_t j = i;
      while (j < n && s[j] == Char('\\')) ++j;
      const size_t count = j - i;
      if (j < n && s[j] == Char('"')) {
        cur.append(count / 2, Char('\\'));
        if (count % 2 == 1) {
          cur.push_back(Char('"'));
          ++j;
        }
        // An even run leaves the quote to be read as a quote below.
      } else {
        cur.append(count, Char('\\'));
      }
      i = j;
    } else if (c == Char('"')) {
      if (inQuotes && i + 1 < n && s[i + 1] == Char('"')) {
        cur.push_back(Char('"'));
        i += 2;
      } else {
        inQuotes = !inQuotes;
        ++i;
      }
    } else {
      cur.push_back(c);
      ++i;
    }
  }
  if (inArg) args.push_back(std::move(cur));
  return args;
}

bool ParseId(const char* text, unsigned long& out) {
  if (!text || !*text) return false;
  errno = 0;
  char* end = nullptr;
  const unsigned long v = std::strtoul(text, &end, 10);
  if (errno != 0 || *end != '\0' || text[0] == '-' || v > 0xFFFFFFFEul) return false;
  out = v;
  return true;
}

// The user the desktop belongs to when we run through sudo.
struct DesktopUser {
  uid_t uid = 0;
  gid_t gid = 0;
  std::vector<gid_t> groups;
  std::string name;
  std::string home;
};

bool FindDesktopUser(DesktopUser& u) {
  if (geteuid() != 0) return false;
  unsigned long uid = 0, gid = 0;
  if (!ParseId(std::getenv("SUDO_UID"), uid) || !ParseId(std::getenv("SUDO_GID"), gid)) return false;
  u.uid = static_cast<uid_t>(uid);
  u.gid = static_cast<gid_t>(gid);
  u.groups = {u.gid};
  passwd pw;
  passwd* found = nullptr;
  std::vector<char> buf(16384);
  if (getpwuid_r(u.uid, &pw, buf.data(), buf.size(), &found) == 0 && found) {
    u.name = found->pw_name ? found->pw_name : "";
    u.home = found->pw_dir ? found->pw_dir : "";
    int count = 64;
    std::vector<gid_t> groups(static_cast<size_t>(count));
    if (!u.name.empty()) {
      if (getgrouplist(u.name.c_str(), u.gid, groups.data(), &count) < 0 && count > 0 && count < 65536) {
        groups.resize(static_cast<size_t>(count));
        if (getgrouplist(u.name.c_str(), u.gid, groups.data(), &count) < 0) count = 0;
      }
      if (count > 0) {
        groups.resize(static_cast<size_t>(count));
        u.groups = groups;
      }
    }
  }
  return true;
}

// Where execv would find argv[0]: a name with '/' as is, otherwise the first executable
// regular file of that name on PATH.
std::string ResolveProgram(const std::string& name) {
  if (name.empty()) return std::string();
  if (name.find('/') != std::string::npos) return name;
  const char* envPath = std::getenv("PATH");
  const std::string path = envPath && *envPath ? envPath : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(':', start);
    if (end == std::string::npos) end = path.size();
    // An empty PATH entry means the current folder. (Built without assigning a literal to
    // a string, which g++ 12 falsely flags with -Wrestrict at -O3.)
    const std::string dir = end > start ? path.substr(start, end - start) : std::string(".");
    const std::string candidate = WithTrailingSlash(dir) + name;
    if (IsRegularFile(candidate) && access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return std::string();
}

class CStrings {
 public:
  explicit CStrings(std::vector<std::string> strings) : m_strings(std::move(strings)) {
    for (std::string& s : m_strings) m_ptrs.push_back(s.data());
    m_ptrs.push_back(nullptr);
  }
  char* const* get() { return m_ptrs.data(); }

 private:
  std::vector<std::string> m_strings;
  std::vector<char*> m_ptrs;
};

std::vector<std::string> EnvironmentFor(const DesktopUser& u) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    const std::string key = entry.substr(0, entry.find('='));
    if (!u.home.empty() && key == "HOME") continue;
    if (!u.name.empty() && (key == "USER" || key == "LOGNAME")) continue;
    env.push_back(entry);
  }
  if (!u.home.empty()) env.push_back("HOME=" + u.home);
  if (!u.name.empty()) {
    env.push_back("USER=" + u.name);
    env.push_back("LOGNAME=" + u.name);
  }
  return env;
}

// What the child does between fork and exec; only async-signal-safe calls from here on.
struct ChildSetup {
  const char* path = nullptr;
  char* const* argv = nullptr;
  char* const* envp = nullptr;
  bool stdinNull = false;
  bool stdoutNull = false;
  const char* stdoutPath = nullptr;
  const char* workingDir = nullptr;
  const DesktopUser* user = nullptr;
  int errorPipe = -1;  // the child writes its errno here when it cannot exec
};

[[noreturn]] void ChildFail(int errorPipe) {
  const int err = errno;
  if (errorPipe >= 0) {
    ssize_t ignored = write(errorPipe, &err, sizeof(err));
    (void)ignored;
  }
  _exit(127);
}

[[noreturn]] void RunChild(const ChildSetup& c) {
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  signal(SIGPIPE, SIG_DFL);
  if (c.stdinNull || c.stdoutNull) {
    const int fd = open("/dev/null", O_RDWR);
    if (fd < 0) ChildFail(c.errorPipe);
    if (c.stdinNull && dup2(fd, 0) < 0) ChildFail(c.errorPipe);
    if (c.stdoutNull && (dup2(fd, 1) < 0 || dup2(fd, 2) < 0)) ChildFail(c.errorPipe);
    if (fd > 2) close(fd);
  }
  if (c.user) {
    // Drop the groups first: once the user id is gone we may no longer change them.
    if (setgroups(c.user->groups.size(), c.user->groups.data()) != 0) ChildFail(c.errorPipe);
    if (setgid(c.user->gid) != 0) ChildFail(c.errorPipe);
    if (setuid(c.user->uid) != 0) ChildFail(c.errorPipe);
  }
  // Opened after the drop so the output file is the user's, as is the folder checked.
  if (c.stdoutPath) {
    const int fd = open(c.stdoutPath, O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd < 0) ChildFail(c.errorPipe);
    if (dup2(fd, 1) < 0 || dup2(fd, 2) < 0) ChildFail(c.errorPipe);
    if (fd > 2) close(fd);
  }
  if (c.workingDir && chdir(c.workingDir) != 0) ChildFail(c.errorPipe);
  execve(c.path, c.argv, c.envp);
  ChildFail(c.errorPipe);
}

// fork + exec, with the exec error carried back through a close-on-exec pipe.
pid_t ForkExec(ChildSetup setup) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return -1;
  setup.errorPipe = fds[1];
  const pid_t pid = fork();
  if (pid == 0) RunChild(setup);
  close(fds[1]);
  if (pid < 0) {
    close(fds[0]);
    return -1;
  }
  int childErr = 0;
  ssize_t n;
  do {
    n = read(fds[0], &childErr, sizeof(childErr));
  } while (n < 0 && errno == EINTR);
  close(fds[0]);
  if (n > 0) {
    int status;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    errno = childErr;
    return -1;
  }
  return pid;
}

pid_t SpawnDirect(const std::vector<std::string>& argv, const SpawnOptions& options) {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  if (posix_spawn_file_actions_init(&actions) != 0) return -1;
  if (posix_spawnattr_init(&attr) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return -1;
  }
  bool ok = true;
  if (options.hidden) {
    ok = ok && posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0) == 0;
  }
  if (!options.stdoutPath.empty()) {
    ok = ok && posix_spawn_file_actions_addopen(&actions, 1, options.stdoutPath.c_str(),
                                                O_WRONLY | O_CREAT | O_APPEND, 0644) == 0;
    ok = ok && posix_spawn_file_actions_adddup2(&actions, 1, 2) == 0;
  }
  if (!options.workingDir.empty()) {
    ok = ok && posix_spawn_file_actions_addchdir_np(&actions, options.workingDir.c_str()) == 0;
  }
  sigset_t none, def;
  sigemptyset(&none);
  sigemptyset(&def);
  sigaddset(&def, SIGPIPE);
  ok = ok && posix_spawnattr_setsigmask(&attr, &none) == 0;
  ok = ok && posix_spawnattr_setsigdefault(&attr, &def) == 0;
  ok = ok && posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF) == 0;

  pid_t pid = -1;
  if (ok) {
    CStrings args(argv);
    const int rc = posix_spawnp(&pid, argv[0].c_str(), &actions, &attr, args.get(), environ);
    if (rc != 0) {
      pid = -1;
      errno = rc;
    }
  }
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

void Reap(pid_t pid) {
  int status;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

int DecodeStatus(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return -1;
}

// A process that is not our child (or no longer is): gone, or only a zombie left.
bool ProcessGone(pid_t pid) {
  if (kill(pid, 0) != 0 && errno == ESRCH) return true;
  std::string stat;
  if (!ReadWholeFile("/proc/" + std::to_string(pid) + "/stat", stat)) return true;
  const size_t paren = stat.rfind(')');
  return paren != std::string::npos && paren + 2 < stat.size() && stat[paren + 2] == 'Z';
}

}  // namespace

std::vector<std::string> SplitCommandLine(const std::string& commandLine) { return SplitImpl(commandLine); }
std::vector<std::wstring> SplitCommandLine(const std::wstring& commandLine) { return SplitImpl(commandLine); }

pid_t Spawn(const std::vector<std::string>& argv, const SpawnOptions& options) {
  if (argv.empty() || argv[0].empty()) return -1;
  DesktopUser user;
  if (!options.dropToDesktopUser || !FindDesktopUser(user)) {
    const pid_t pid = SpawnDirect(argv, options);
    if (pid < 0) ReportDiagnostic(1, "[ERROR] cannot start " + argv[0] + ": " + std::strerror(errno));
    return pid;
  }
  // posix_spawn cannot change the user; fork does it in the child.
  const std::string path = ResolveProgram(argv[0]);
  if (path.empty()) {
    ReportDiagnostic(1, "[ERROR] cannot find " + argv[0]);
    return -1;
  }
  CStrings args(argv);
  CStrings env(EnvironmentFor(user));
  ChildSetup setup;
  setup.path = path.c_str();
  setup.argv = args.get();
  setup.envp = env.get();
  setup.stdinNull = options.hidden;
  setup.stdoutPath = options.stdoutPath.empty() ? nullptr : options.stdoutPath.c_str();
  setup.workingDir = options.workingDir.empty() ? nullptr : options.workingDir.c_str();
  setup.user = &user;
  const pid_t pid = ForkExec(setup);
  if (pid < 0) ReportDiagnostic(1, "[ERROR] cannot start " + argv[0] + ": " + std::strerror(errno));
  return pid;
}

bool WaitForExit(pid_t pid, int timeoutMs, int& exitCode) {
  exitCode = -1;
  if (pid <= 0) return true;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  auto pause = std::chrono::milliseconds(1);
  bool ourChild = true;
  for (;;) {
    if (ourChild) {
      int status = 0;
      const pid_t r = waitpid(pid, &status, timeoutMs < 0 ? 0 : WNOHANG);
      if (r == pid) {
        exitCode = DecodeStatus(status);
        return true;
      }
      if (r < 0 && errno == EINTR) continue;
      if (r < 0) {
        // Not our child: all we can learn is when it is gone.
        if (errno != ECHILD) return true;
        ourChild = false;
        continue;
      }
    } else if (ProcessGone(pid)) {
      return true;
    }
    if (timeoutMs >= 0) {
      const auto now = std::chrono::steady_clock::now();
      if (now >= deadline) return false;
      pause = std::min(pause, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now) +
                                  std::chrono::milliseconds(1));
    }
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::milliseconds(20));
  }
}

void Terminate(pid_t pid) {
  // 0 and negative values would address process groups.
  if (pid <= 0) return;
  if (kill(pid, SIGKILL) != 0 && errno == ESRCH) return;
  Reap(pid);
}

bool RunHiddenWithTimeout(const std::string& commandLine, int timeoutMs, int* exitCode) {
  int code = -1;
  bool ok = false;
  const std::vector<std::string> argv = SplitCommandLine(commandLine);
  if (!argv.empty()) {
    const pid_t pid = Spawn(argv);
    if (pid > 0) {
      if (WaitForExit(pid, timeoutMs, code)) {
        ok = code == 0;
      } else {
        Terminate(pid);
        code = -1;
      }
    }
  }
  if (exitCode) *exitCode = code;
  return ok;
}

bool IsAdministrator() {
  const std::string root = SysRoot();
  if (root.empty()) return geteuid() == 0;
  struct stat st;
  if (stat(root.c_str(), &st) != 0) return false;
  return st.st_uid == geteuid();
}

bool OpenWithDesktop(const std::string& target) {
  const std::string path = ResolveProgram("xdg-open");
  if (path.empty()) {
    ReportDiagnostic(2, "[WARN] xdg-open not found, cannot open " + target);
    return false;
  }
  DesktopUser user;
  const bool drop = FindDesktopUser(user);
  CStrings args({"xdg-open", target});
  CStrings env(drop ? EnvironmentFor(user) : std::vector<std::string>{});
  ChildSetup setup;
  setup.path = path.c_str();
  setup.argv = args.get();
  setup.envp = drop ? env.get() : environ;
  setup.stdinNull = true;
  setup.stdoutNull = true;
  setup.user = drop ? &user : nullptr;

  // The middle process exits at once and is reaped here; xdg-open is left to init, so no
  // zombie stays behind without anybody having to wait for the browser.
  const pid_t middle = fork();
  if (middle < 0) return false;
  if (middle == 0) {
    setsid();
    const pid_t grandchild = fork();
    if (grandchild == 0) RunChild(setup);
    _exit(grandchild < 0 ? 1 : 0);
  }
  int status = 0;
  while (waitpid(middle, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace plat
