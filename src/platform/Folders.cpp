#include "platform/Folders.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace plat {

namespace {

std::string EnvOrEmpty(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

std::string HomeOfUser(const std::string& user) {
  if (!user.empty()) {
    if (passwd* pw = getpwnam(user.c_str()); pw && pw->pw_dir) return pw->pw_dir;
  }
  if (passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return EnvOrEmpty("HOME");
}

}  // namespace

std::string SysRoot() {
  std::string root = EnvOrEmpty("QEV_SYSROOT");
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  return root == "/" ? std::string() : root;
}

std::string MachinePath(std::string_view absolute) {
  return SysRoot() + std::string(absolute);
}

std::string ProgramFilesFolder() { return MachinePath("/opt/"); }
std::string CommonAppDataFolder() { return MachinePath("/var/lib/"); }
std::string CommonDocumentsFolder() { return MachinePath("/var/cache/"); }

std::string UserTempFolder() {
  if (!SysRoot().empty()) return MachinePath("/tmp/");
  std::string tmp = EnvOrEmpty("TMPDIR");
  if (tmp.empty()) tmp = "/tmp";
  return WithTrailingSlash(tmp);
}

std::string UserLocalAppDataFolder() {
  const std::string sudoUser = EnvOrEmpty("SUDO_USER");
  if (!SysRoot().empty()) {
    std::string user = sudoUser;
    if (user.empty()) {
      passwd* pw = getpwuid(getuid());
      user = pw && pw->pw_name ? pw->pw_name : "user";
    }
    return MachinePath(user == "root" ? "/root/.local/share/" : "/home/" + user + "/.local/share/");
  }
  const std::string home = HomeOfUser(sudoUser);
  if (home.empty()) return std::string();
  return WithTrailingSlash(home) + ".local/share/";
}

std::string RuntimeFolder() {
  std::string folder;
  if (!SysRoot().empty()) {
    folder = MachinePath("/run/qev/");
  } else if (geteuid() == 0) {
    folder = "/run/qev/";
  } else {
    const std::string xdg = EnvOrEmpty("XDG_RUNTIME_DIR");
    folder = xdg.empty() ? "/tmp/qev-" + std::to_string(getuid()) + "/" : WithTrailingSlash(xdg) + "qev/";
  }
  CreateFolderTree(folder);
  return folder;
}

std::vector<std::string> SystemFolders() {
  std::vector<std::string> out;
  for (const char* f : {"/usr/", "/etc/", "/bin/", "/sbin/", "/lib/", "/boot/"}) out.push_back(MachinePath(f));
  return out;
}

std::string OwnExePath() {
  char buf[4096];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
  if (n <= 0) return std::string();
  return std::string(buf, static_cast<size_t>(n));
}

std::string OwnExeFolder() {
  const std::string path = OwnExePath();
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string OwnExeFileName() {
  const std::string path = OwnExePath();
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string WithTrailingSlash(std::string path) {
  if (path.empty() || path.back() != '/') path.push_back('/');
  return path;
}

bool PathExists(const std::string& path) {
  struct stat st;
  return !path.empty() && stat(path.c_str(), &st) == 0;
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsRegularFile(const std::string& path) {
  struct stat st;
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool CreateFolderTree(const std::string& folder) {
  if (folder.empty()) return false;
  size_t pos = 0;
  while (pos != std::string::npos) {
    pos = folder.find('/', pos + 1);
    const std::string level = folder.substr(0, pos);
    if (level.empty() || IsDirectory(level)) continue;
    if (mkdir(level.c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  return IsDirectory(folder);
}

std::vector<std::string> ListPlainFiles(const std::string& folder) {
  std::vector<std::string> out;
  DIR* dir = opendir(folder.c_str());
  if (!dir) return out;
  const std::string base = WithTrailingSlash(folder);
  while (dirent* e = readdir(dir)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    if (IsRegularFile(base + name)) out.push_back(name);
  }
  closedir(dir);
  return out;
}

int64_t FileModTime(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return 0;
  return static_cast<int64_t>(st.st_mtime);
}

bool ReadWholeFile(const std::string& path, std::string& out) {
  out.clear();
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof(buf), f)) > 0) out.append(buf, n);
  const bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

bool WriteWholeFileAtomic(const std::string& path, std::string_view data) {
  const std::string tmp = path + ".tmp" + std::to_string(getpid());
  const int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t w = write(fd, data.data() + done, data.size() - done);
    if (w < 0) {
      if (errno == EINTR) continue;
      break;
    }
    done += static_cast<size_t>(w);
  }
  const bool ok = done == data.size() && fsync(fd) == 0;
  close(fd);
  if (!ok || rename(tmp.c_str(), path.c_str()) != 0) {
    unlink(tmp.c_str());
    return false;
  }
  return true;
}

}  // namespace plat
