#pragma once
// One instance per name on the machine: an exclusive flock on
// <runtime folder>locks/<name>.lock. The kernel drops the lock when the process ends, however
// it ends, and programs we start never inherit it.
#include <string>

namespace plat {

class SingleInstance {
 public:
  SingleInstance() = default;
  ~SingleInstance() { Release(); }
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  // True when this object now holds the name. False when another holder has it (another
  // process, or another object of this process) or the lock file cannot be made; the two
  // are told apart by HeldElsewhere(). A name already held by this object is released first.
  bool Acquire(const std::string& name);
  void Release();
  bool Held() const { return m_fd >= 0; }
  bool HeldElsewhere() const { return m_heldElsewhere; }

  // The lock file for a name: bytes outside [A-Za-z0-9._-] are percent-encoded, so any
  // UTF-8 text (with '/', spaces, an empty name) gives one safe file name.
  static std::string LockPath(const std::string& name);

 private:
  int m_fd = -1;
  bool m_heldElsewhere = false;
};

}  // namespace plat
