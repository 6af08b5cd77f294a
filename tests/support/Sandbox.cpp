#include "support/Sandbox.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace qevtest {

Sandbox::Sandbox() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "qev-sandbox-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  m_root = tmpl;
  chmod(m_root.c_str(), 0755);
  if (const char* prev = std::getenv("QEV_SYSROOT")) {
    m_hadPrevious = true;
    m_previous = prev;
  }
  setenv("QEV_SYSROOT", m_root.c_str(), 1);
}

Sandbox::~Sandbox() {
  if (m_hadPrevious) {
    setenv("QEV_SYSROOT", m_previous.c_str(), 1);
  } else {
    unsetenv("QEV_SYSROOT");
  }
  std::error_code ec;
  std::filesystem::remove_all(m_root, ec);
}

std::string Sandbox::Path(const std::string& relative) const {
  if (!relative.empty() && relative[0] == '/') return m_root + relative;
  return m_root + "/" + relative;
}

void Sandbox::WriteFile(const std::string& relative, const std::string& bytes) const {
  const std::filesystem::path p = Path(relative);
  std::filesystem::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::string Sandbox::ReadFile(const std::string& relative) const {
  std::ifstream in(Path(relative), std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

RunResult RunProgram(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                     int timeoutMs, int asUid) {
  RunResult result;
  int outPipe[2], errPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) != 0) return result;
  if (pipe2(errPipe, O_CLOEXEC) != 0) {
    close(outPipe[0]);
    close(outPipe[1]);
    return result;
  }
  std::vector<std::string> envStrings;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    const std::string key = entry.substr(0, entry.find('='));
    if (env.count(key) == 0) envStrings.push_back(entry);
  }
  for (const auto& [k, v] : env) envStrings.push_back(k + "=" + v);
  std::vector<char*> envp;
  for (auto& s : envStrings) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> args = argv;
  std::vector<char*> argp;
  for (auto& a : args) argp.push_back(a.data());
  argp.push_back(nullptr);

  const pid_t pid = fork();
  if (pid < 0) return result;
  if (pid == 0) {
    dup2(outPipe[1], 1);
    dup2(errPipe[1], 2);
    const int devnull = open("/dev/null", O_RDONLY);
    if (devnull >= 0) dup2(devnull, 0);
    setpgid(0, 0);
    if (asUid >= 0) {
      if (setgid(static_cast<gid_t>(asUid)) != 0 || setuid(static_cast<uid_t>(asUid)) != 0) _exit(126);
    }
    execve(argp[0], argp.data(), envp.data());
    _exit(127);
  }
  close(outPipe[1]);
  close(errPipe[1]);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  bool outOpen = true, errOpen = true;
  char buf[4096];
  while (outOpen || errOpen) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) {
      result.timedOut = true;
      kill(-pid, SIGKILL);
      kill(pid, SIGKILL);
      break;
    }
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    const int n = poll(fds, 2, static_cast<int>(left));
    if (n < 0) continue;
    for (int i = 0; i < 2; ++i) {
      bool& open = i == 0 ? outOpen : errOpen;
      if (!open || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      const ssize_t r = read(fds[i].fd, buf, sizeof(buf));
      if (r <= 0) {
        open = false;
      } else {
        (i == 0 ? result.out : result.err).append(buf, static_cast<size_t>(r));
      }
    }
  }
  close(outPipe[0]);
  close(errPipe[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) {
    result.exitCode = static_cast<signed char>(WEXITSTATUS(status));
  } else if (WIFSIGNALED(status)) {
    result.exitCode = 128 + WTERMSIG(status);
  }
  return result;
}

std::string BinPath(const std::string& name) { return std::string(QEV_BIN_DIR) + "/" + name; }
std::string SourcePath(const std::string& relative) { return std::string(QEV_SOURCE_DIR) + "/" + relative; }

}  // namespace qevtest
