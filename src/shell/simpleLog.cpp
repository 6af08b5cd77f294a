#include "shell/simpleLog.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <map>
#include <vector>

#include "platform/Folders.h"
#include "platform/TextConv.h"

namespace {

std::atomic<simpleLog*> g_log{nullptr};
std::mutex g_createLock;

bool CanOpenForReading(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "r");
  if (!f) return false;
  std::fclose(f);
  return true;
}

}  // namespace

simpleLog::simpleLog(const std::string& path, Clock clock)
    : m_configuredPath(path), m_clock(clock ? std::move(clock) : [] { return std::time(nullptr); }) {
  Backup();
}

std::string simpleLog::LogFolder() {
  const std::string temp = plat::UserTempFolder();
  const std::string folder = temp + "Corvane/QEV/";
  return plat::CreateFolderTree(folder) ? folder : temp;
}

void simpleLog::Backup() {
  if (m_configuredPath.empty()) {
    std::fputs("[simpleLog::Log] log filename is empty\n", stdout);
    std::fflush(stdout);
  }
  if (m_rotationDone) return;
  m_activePath = m_configuredPath;
  if (!m_backupEnabled) return;

  const size_t slash = m_activePath.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : m_activePath.substr(0, slash + 1);
  const std::string fileName = slash == std::string::npos ? m_activePath : m_activePath.substr(slash + 1);
  const size_t dot = fileName.rfind('.');
  const std::string base = dot == std::string::npos ? fileName : fileName.substr(0, dot);
  const std::string ext = dot == std::string::npos ? std::string() : fileName.substr(dot);

  // Keep the newest five logs of this name, the current one included.
  std::map<int64_t, std::string> byTime;
  for (const std::string& name : plat::ListPlainFiles(folder.empty() ? "." : folder)) {
    const std::string full = folder + name;
    if (full.find(base) == std::string::npos || full.find(ext) == std::string::npos) continue;
    byTime[plat::FileModTime(full)] = full;
  }
  while (byTime.size() > 5) {
    std::remove(byTime.begin()->second.c_str());
    byTime.erase(byTime.begin());
  }

  const std::time_t now = m_clock();
  std::tm tm{};
  localtime_r(&now, &tm);
  std::string backup = plat::Format("%s%s_%4d-%02d-%02d%s", folder.c_str(), base.c_str(), tm.tm_year + 1900,
                                    tm.tm_mon + 1, tm.tm_mday, ext.c_str());
  for (int counter = 1; CanOpenForReading(backup); ++counter) {
    backup = plat::Format("%s%s_%4d-%02d-%02d_%d%s", folder.c_str(), base.c_str(), tm.tm_year + 1900,
                          tm.tm_mon + 1, tm.tm_mday, counter, ext.c_str());
  }
  // No previous log, or one in use: writing simply goes on in the existing file.
  std::rename(m_activePath.c_str(), backup.c_str());
}

void simpleLog::Write(const char* message) {
  const std::time_t now = m_clock();
  std::tm tm{};
  localtime_r(&now, &tm);
  const std::string prefix = plat::Format("[%4d-%02d-%02d %d:%02d:%02d] %ld - ", tm.tm_year + 1900, tm.tm_mon + 1,
                                          tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                                          static_cast<long>(syscall(SYS_gettid)));
  std::lock_guard<std::mutex> guard(m_lock);
  FILE* f = std::fopen(m_activePath.c_str(), "a");
  if (!f) return;
  if (std::fputs(prefix.c_str(), f) >= 0 && std::fputs(message, f) >= 0) std::fputc('\n', f);
  std::fclose(f);
}

void simpleLog::Create(const std::string& fileName) {
  std::lock_guard<std::mutex> guard(g_createLock);
  if (g_log.load()) return;
  g_log.store(new simpleLog(LogFolder() + fileName));
}

simpleLog* simpleLog::Instance() { return g_log.load(); }

void simpleLog::ResetForTesting() {
  std::lock_guard<std::mutex> guard(g_createLock);
  delete g_log.exchange(nullptr);
}

void Log(int /*level*/, const char* format, ...) {
  simpleLog* log = g_log.load();
  if (!log) return;
  va_list ap;
  va_start(ap, format);
  va_list ap2;
  va_copy(ap2, ap);
  const int len = std::vsnprintf(nullptr, 0, format, ap);
  va_end(ap);
  std::vector<char> buf(len > 0 ? static_cast<size_t>(len) + 1 : 1, '\0');
  if (len > 0) std::vsnprintf(buf.data(), buf.size(), format, ap2);
  va_end(ap2);
  log->Write(buf.data());
}
