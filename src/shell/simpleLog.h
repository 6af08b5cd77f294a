#pragma once
// The process-wide log. One entry per call, opened, written and closed each time, so every
// finished entry is on disk even when the process dies and another process may move the
// file at any time.
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

class simpleLog {
 public:
  using Clock = std::function<std::time_t()>;

  // Stores the path and runs the start-up backup of the previous file once.
  explicit simpleLog(const std::string& path, Clock clock = nullptr);

  void Write(const char* message);
  const std::string& ActivePath() const { return m_activePath; }

  // The log folder: the user's temporary folder + "Corvane/QEV/", created level by level;
  // the temporary folder itself when that fails.
  static std::string LogFolder();

  // Creates the process-wide instance once; later calls change nothing.
  static void Create(const std::string& fileName);
  static simpleLog* Instance();
  // Tests only: drops the process-wide instance.
  static void ResetForTesting();

 private:
  void Backup();

  std::string m_activePath;
  std::mutex m_lock;
  std::string m_configuredPath;
  bool m_rotationDone = false;
  bool m_backupEnabled = true;
  Clock m_clock;
};

// level: 1 error, 2 warning, 3 information (not written; the text carries "[INFO] " etc.).
void Log(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));
