#include "engine/CFileLockers.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>

#include "platform/Folders.h"
#include "platform/TextConv.h"
#include "shell/simpleLog.h"

namespace ns_KDL {
namespace {

struct DirCloser {
  void operator()(DIR* d) const { ::closedir(d); }
};
using DirPtr = std::unique_ptr<DIR, DirCloser>;

// A /proc entry name that is a process id, or 0.
pid_t PidOf(const char* name) {
  if (!name[0]) return 0;
  long value = 0;
  for (const char* p = name; *p; ++p) {
    if (*p < '0' || *p > '9') return 0;
    value = value * 10 + (*p - '0');
    if (value > 0x7fffffff) return 0;
  }
  return static_cast<pid_t>(value);
}

bool HoldsFile(pid_t pid, dev_t dev, ino_t ino) {
  const std::string fdFolder = "/proc/" + std::to_string(pid) + "/fd";
  DirPtr dir(::opendir(fdFolder.c_str()));
  if (!dir) return false;
  while (dirent* entry = ::readdir(dir.get())) {
    if (entry->d_name[0] == '.') continue;
    struct stat st {};
    // stat follows the descriptor's link to the open file itself, even a renamed one.
    if (::stat((fdFolder + "/" + entry->d_name).c_str(), &st) == 0 && st.st_dev == dev && st.st_ino == ino) {
      return true;
    }
  }
  return false;
}

std::string ProgramName(pid_t pid) {
  const std::string base = "/proc/" + std::to_string(pid);
  char buf[4096];
  const ssize_t n = ::readlink((base + "/exe").c_str(), buf, sizeof buf - 1);
  if (n > 0) {
    std::string exe(buf, static_cast<size_t>(n));
    const size_t slash = exe.rfind('/');
    return slash == std::string::npos ? exe : exe.substr(slash + 1);
  }
  std::string comm;
  if (plat::ReadWholeFile(base + "/comm", comm)) {
    while (!comm.empty() && (comm.back() == '\n' || comm.back() == '\r')) comm.pop_back();
  }
  return comm;
}

}  // namespace

std::vector<FileLocker> CFileLockers::Find(const std::wstring& path) {
  std::vector<FileLocker> out;
  struct stat target {};
  if (::stat(plat::WideToUtf8(path).c_str(), &target) != 0) return out;
  DirPtr proc(::opendir("/proc"));
  if (!proc) return out;
  const pid_t self = ::getpid();
  while (dirent* entry = ::readdir(proc.get())) {
    const pid_t pid = PidOf(entry->d_name);
    if (pid <= 0 || pid == self) continue;
    if (!HoldsFile(pid, target.st_dev, target.st_ino)) continue;
    out.push_back({pid, ProgramName(pid)});
    if (out.size() >= kMaxListed) break;
  }
  return out;
}

void CFileLockers::ReportFileLockers(const std::wstring& path) {
  const std::string file = plat::WideToUtf8(path);
  for (const FileLocker& locker : Find(path)) {
    Log(2, "[WARN] process=[%d][%s] locked the file=[%s] ", static_cast<int>(locker.pid), locker.name.c_str(),
        file.c_str());
  }
}

}  // namespace ns_KDL
